#include "AvahiPublisher.h"
#include "DeviceSimulator.h"
#include "platform/UnixSignalWatcher.h"

#include <csignal>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cstdio>
#include <memory>

namespace {
constexpr const char *helpText = R"(Usage: m1620-sim [options]

An M-1620 audio interface on loopback, for trying and testing Quorvel without the device.
It answers the device's JSON API (POST /api/v2/self) on 127.0.0.1 (or --address), and can
change its state and misbehave on request.

Options:
  --port N            port to listen on; 0 or absent: any free port
  --address A         address to listen on (default 127.0.0.1): a loopback address, or a
                      link-local IPv4 address (169.254.x.x) of a network namespace that a
                      test made, for a device advertised and resolved through avahi there
  --port-file FILE    also write the port number to FILE (replaced atomically)
  --log FILE          write the log to FILE (truncated) instead of stderr
  --device HZ         device rate at start (default 48000)
  --madi HZ           MADI input rate at start (default 48000)
  --sync BOOL         MADI input locked at start (default true)
  --follow-delay MS   a set-rate takes effect MS ms after its answer (default 0)
  --advertise NAME    also announce NAME as a "_http._tcp" service on the simulator's port
                      through the system's avahi-daemon, so that Quorvel's list of
                      discovered devices can be tried without a device (see Advertising)
  --help              this text
  --version           the version

The first line on stdout, flushed at once, is exactly
  listening on 127.0.0.1:PORT
with the address of --address in place of 127.0.0.1 when it is given.

Device API (what Quorvel speaks):
  POST /api/v2/self with a JSON object. Members sent as null are filled in:
    clock.sampling_rate, clock.sources.madi_coaxial.rate, clock.sources.madi_coaxial.sync
  Members switched off with report-* are left out of the answer. Other members come back
  unchanged. {"clock":{"sampling_rate":N}} sets the device rate; only 44100, 48000, 88200,
  96000, 176400 and 192000 are accepted (200 with the new value), any other integer gets
  400 and {"error":"unsupported sampling rate N"}. The MADI members are read-only (400).
  Another path: 404. Another method: 405. A body that is not a JSON object: 400.

Control API (same port, never delayed, never counted against a fault):
  GET  /sim/state     the state as JSON: device_rate, madi_rate, madi_sync, report{...},
                      follow_delay_ms, pending_rate, fault{mode,...}, requests,
                      status_queries, set_rates (every set-rate received, rejected too)
  POST /sim/state?KEY=VALUE&...   change the state; keys:
                      device=HZ madi=HZ sync=BOOL follow-delay=MS
                      report-device=BOOL report-madi=BOOL report-sync=BOOL
  POST /sim/fault?mode=MODE[&count=N][&ms=N|&code=N|&bytes=N]
                      misbehave on the next N device requests (no count: until cleared)
  POST /sim/reset     back to the start state, fault cleared, counters zeroed
  BOOL is true/false (also 1/0, yes/no, on/off). Parameters may also come as a form body
  (curl -d). Bad parameters: 400 and nothing changes. Answers are the state as JSON.

Faults (MODE):
  none            clear the fault
  delay ms=N      answer normally after N ms
  hang            read the request, never answer
  hang-headers    send the status line and part of the headers, then nothing
  trickle         send the normal answer one byte per second
  status code=N   the normal JSON body with status N (200-599; 204/304 without body)
  empty           200 with an empty body
  not-json        200 with an HTML body
  array           200 with the normal answer wrapped in a JSON array
  huge bytes=N    200 with a valid JSON object of N bytes (at most 268435456)
  close-mid-body  full headers, half the body, then close
  garbage         bytes that are not HTTP, then close
  reset           drop the connection with a TCP reset
  reboot ms=N     on the next set-rate only (other requests are answered as usual): the
                  rate is not applied; the device restarts instead, drops every
                  connection with a reset and answers no device request for N ms
  Except for reboot, the request itself is still carried out (a set-rate still changes
  the rate): a fault only changes what goes back on the wire.

Log (stderr or --log FILE), one line per event, flushed at once:
  SECONDS EVENT [DETAILS]
  SECONDS is CLOCK_MONOTONIC (clock_gettime), seconds with six decimals, the same clock any
  other process can read. Events:
    listening ADDRESS:PORT
    request status                  a status query
    request set-rate HZ [rejected]  a set-rate (rejected: unsupported rate, 400)
    request other                   a JSON object asking nothing known
    request bad-json | bad-value MEMBER | not-found METHOD TARGET | bad-method METHOD TARGET
    request bad-http STATUS         bytes that are not an HTTP request (answered, then closed)
    request set-rate HZ lost        a set-rate that set off a reboot fault
    request dropped rebooting       a device request while rebooting (connection reset)
    reboot ms=N                     the device restarts; "state up" when it answers again
    fault MODE [ms=N|code=N|bytes=N]   the fault applied to the request just logged
    state device=HZ | madi=HZ | sync=BOOL | report-device=BOOL | report-madi=BOOL
          | report-sync=BOOL | follow-delay=MS | fault=MODE [ms=N...] [count=N] | counters=0
          | up
    control METHOD TARGET
    stopped SIGNAL
  A state line appears only on a real change; an accepted set-rate logs state device=HZ
  when the rate changes (after the follow delay, if any).

Advertising (--advertise NAME):
  The service is announced on every network interface that avahi-daemon serves, until
  the simulator ends. Quorvel offers it as NAME.local when NAME contains "rme", "m-1620",
  "m1620" or "madi" in any letter case, e.g. --advertise "M-1620 Sim". The simulator still
  answers on 127.0.0.1 only: to talk to it, use 127.0.0.1:PORT as the custom host.
  On stderr:
    m1620-sim: advertising "NAME" (_http._tcp, port PORT) through avahi
  once the daemon has announced it (NAME becomes "NAME #2" and so on when another
  service holds the name), or
    m1620-sim: cannot advertise "NAME" through avahi: REASON; running without it
  when avahi-daemon cannot be reached or refuses it. Either way the simulator keeps running.

Examples:
  m1620-sim --port 8080 &
  curl -s -d '{"clock":{"sampling_rate":null}}' 127.0.0.1:8080/api/v2/self
  curl -s 127.0.0.1:8080/sim/state
  curl -s -X POST '127.0.0.1:8080/sim/state?madi=96000&sync=true'
  curl -s -X POST '127.0.0.1:8080/sim/fault?mode=trickle&count=3'
  curl -s -X POST '127.0.0.1:8080/sim/fault?mode=status&code=500'
  curl -s -X POST '127.0.0.1:8080/sim/fault?mode=none'

Ends cleanly on SIGINT or SIGTERM (exit status 0).
)";

int fail(const QString &message)
{
    std::fprintf(stderr, "m1620-sim: %s\n", qPrintable(message));
    return 2;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("m1620-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));

    QCommandLineParser parser;
    const QCommandLineOption help(QStringLiteral("help"));
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption portFile(QStringLiteral("port-file"), {}, QStringLiteral("FILE"));
    const QCommandLineOption logFile(QStringLiteral("log"), {}, QStringLiteral("FILE"));
    const QCommandLineOption device(QStringLiteral("device"), {}, QStringLiteral("HZ"));
    const QCommandLineOption madi(QStringLiteral("madi"), {}, QStringLiteral("HZ"));
    const QCommandLineOption sync(QStringLiteral("sync"), {}, QStringLiteral("BOOL"));
    const QCommandLineOption followDelay(QStringLiteral("follow-delay"), {}, QStringLiteral("MS"));
    const QCommandLineOption advertise(QStringLiteral("advertise"), {}, QStringLiteral("NAME"));
    const QCommandLineOption address(QStringLiteral("address"), {}, QStringLiteral("A"),
                                     QStringLiteral("127.0.0.1"));
    parser.addOptions(
        {help, version, port, portFile, logFile, device, madi, sync, followDelay, advertise, address});
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(parser.errorText() + QStringLiteral(" (see --help)"));
    if (parser.isSet(help)) {
        std::fputs(helpText, stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("m1620-sim %s\n", QUORVEL_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument ") + parser.positionalArguments().first());

    const auto number = [&parser](const QCommandLineOption &option, qint64 high) -> std::optional<qint64> {
        bool ok = false;
        const qint64 value = parser.value(option).toLongLong(&ok);
        return ok && value >= 0 && value <= high ? std::optional(value) : std::nullopt;
    };
    const auto listenPort = number(port, 65535);
    if (!listenPort)
        return fail(QStringLiteral("--port needs a number from 0 to 65535"));
    // Never an address that a real network could carry.
    const QHostAddress listenAddress(parser.value(address));
    if (!listenAddress.isLoopback()
        && !listenAddress.isInSubnet(QHostAddress(QStringLiteral("169.254.0.0")), 16))
        return fail(QStringLiteral("--address needs a loopback or link-local IPv4 address"));
    const QString where = listenAddress.toString();

    QFile log;
    if (parser.isSet(logFile)) {
        log.setFileName(parser.value(logFile));
        if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            return fail(QStringLiteral("cannot write ") + log.fileName() + QStringLiteral(": ")
                        + log.errorString());
    } else if (!log.open(stderr, QIODevice::WriteOnly)) {
        return fail(QStringLiteral("cannot write the log to stderr"));
    }

    DeviceSimulator simulator;
    QObject::connect(&simulator, &DeviceSimulator::logLine, &simulator, [&log](const QString &line) {
        log.write(line.toUtf8() + '\n');
        log.flush();
    });
    if (parser.isSet(device)) {
        const auto rate = number(device, 10'000'000);
        if (!rate)
            return fail(QStringLiteral("--device needs a rate in Hz"));
        simulator.setDeviceRate(*rate);
    }
    if (parser.isSet(madi)) {
        const auto rate = number(madi, 10'000'000);
        if (!rate)
            return fail(QStringLiteral("--madi needs a rate in Hz"));
        simulator.setMadiRate(*rate);
    }
    if (parser.isSet(sync)) {
        const QString text = parser.value(sync);
        if (text != u"true" && text != u"false")
            return fail(QStringLiteral("--sync needs true or false"));
        simulator.setMadiSync(text == u"true");
    }
    if (parser.isSet(followDelay)) {
        const auto ms = number(followDelay, 3'600'000);
        if (!ms)
            return fail(QStringLiteral("--follow-delay needs milliseconds"));
        simulator.setFollowDelay(int(*ms));
    }

    if (parser.isSet(advertise) && !AvahiPublisher::isValidServiceName(parser.value(advertise)))
        return fail(QStringLiteral("--advertise needs a name of 1 to 63 bytes"));

    UnixSignalWatcher watcher;
    QObject::connect(
        &watcher, &UnixSignalWatcher::terminationRequested, &app, [&simulator](int signalNumber) {
            const QString name
                = signalNumber == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM");
            Q_EMIT simulator.logLine(DeviceSimulator::timestamp() + QStringLiteral(" stopped ") + name);
            QCoreApplication::quit();
        });

    if (!simulator.listen(quint16(*listenPort), listenAddress))
        return fail(QStringLiteral("cannot listen on ") + where + u':' + QString::number(*listenPort)
                    + QStringLiteral(": ") + simulator.errorString());
    // The port file is in place before the port line, so whoever reads the line finds it.
    if (parser.isSet(portFile)) {
        QSaveFile file(parser.value(portFile));
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(simulator.port()) + '\n') < 0
            || !file.commit())
            return fail(QStringLiteral("cannot write ") + file.fileName() + QStringLiteral(": ")
                        + file.errorString());
    }
    std::printf("listening on %s:%u\n", qPrintable(where), unsigned(simulator.port()));
    std::fflush(stdout);

    // Announced after the port line, so that a missing daemon never delays it.
    std::unique_ptr<AvahiPublisher> publisher;
    if (parser.isSet(advertise)) {
        const QString name = parser.value(advertise);
        const quint16 advertisedPort = simulator.port();
        publisher = std::make_unique<AvahiPublisher>(name, QStringLiteral("_http._tcp"), advertisedPort);
        QObject::connect(
            publisher.get(), &AvahiPublisher::established, &app, [advertisedPort](const QString &announced) {
                std::fprintf(stderr, "m1620-sim: advertising \"%s\" (_http._tcp, port %u) through avahi\n",
                             qPrintable(announced), unsigned(advertisedPort));
                std::fflush(stderr);
            });
        QObject::connect(publisher.get(), &AvahiPublisher::failed, &app, [name](const QString &reason) {
            std::fprintf(stderr, "m1620-sim: cannot advertise \"%s\" through avahi: %s; running without it\n",
                         qPrintable(name), qPrintable(reason));
            std::fflush(stderr);
        });
        publisher->start();
    }
    return QCoreApplication::exec();
}
