#include "app/CommandLine.h"

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine result;
    const auto invalid = [](const QString &why) {
        CommandLine line;
        line.mode = Mode::Invalid;
        line.error = why;
        return line;
    };
    bool modeChosen = false;
    const auto choose = [&](Mode mode) {
        if (modeChosen)
            return false;
        modeChosen = true;
        result.mode = mode;
        return true;
    };

    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &arg = arguments[i];
        bool ok = true;
        if (arg == QLatin1String("--headless")) {
            ok = choose(Mode::Headless);
        } else if (arg == QLatin1String("--test-connection")) {
            if (i + 1 >= arguments.size())
                return invalid(
                    QStringLiteral("--test-connection needs a host, e.g. --test-connection 192.168.1.42"));
            ok = choose(Mode::TestConnection);
            result.host = arguments[++i];
        } else if (arg.startsWith(QLatin1String("--test-connection="))) {
            ok = choose(Mode::TestConnection);
            result.host = arg.mid(int(sizeof "--test-connection=") - 1);
        } else if (arg == QLatin1String("status")) {
            ok = choose(Mode::Status);
        } else if (arg == QLatin1String("--json") && result.mode == Mode::Status) {
            result.json = true;
        } else if (arg == QLatin1String("watch")) {
            ok = choose(Mode::Watch);
        } else if (arg == QLatin1String("pause")) {
            ok = choose(Mode::Pause);
        } else if (arg == QLatin1String("resume")) {
            ok = choose(Mode::Resume);
        } else if (arg == QLatin1String("--version") || arg == QLatin1String("-v")) {
            ok = choose(Mode::Version);
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            ok = choose(Mode::Help);
        } else {
            return invalid(QStringLiteral("unknown option “%1”").arg(arg));
        }
        if (!ok)
            return invalid(
                QStringLiteral("choose one of --headless, --test-connection, status, watch, pause, "
                               "resume, --version, --help"));
    }
    return result;
}

QString CommandLine::helpText()
{
    return QStringLiteral(
        "Usage: quorvel [--headless | --test-connection HOST | status [--json] | watch | pause | resume\n"
        "               | --version | --help]\n"
        "\n"
        "Keeps the sample rate of an M-1620 in step with the rate at its MADI input.\n"
        "\n"
        "  (no option)             run in the desktop's tray\n"
        "  --headless              run without a user interface; ends on SIGINT or SIGTERM\n"
        "  --test-connection HOST  read the device's status once from HOST, print the outcome;\n"
        "                          exit 0 when the device answered, 1 otherwise\n"
        "                          (touches neither the log nor the settings)\n"
        "  status                  print what the running Quorvel knows: connection, host, rates,\n"
        "                          MADI lock, paused, warnings, the last changes\n"
        "  status --json           the same as one JSON object, for scripts\n"
        "  watch                   one JSON line now and one per change, until interrupted\n"
        "                          (for status bars); {\"running\":false} while none runs\n"
        "  pause, resume           stop or start following the MADI input (each does nothing\n"
        "                          when it already is so)\n"
        "  --version               print the version\n"
        "  --help                  print this help\n"
        "\n"
        "status, watch, pause and resume ask the running Quorvel on the session bus\n"
        "(app.quorvel.Quorvel); they exit 4 when none runs, 1 when it did not answer.\n"
        "\n"
        "Settings: $XDG_CONFIG_HOME/Quorvel/settings.json (default ~/.config/Quorvel)\n"
        "Log:      $XDG_STATE_HOME/Quorvel/sync.log (default ~/.local/state/Quorvel)\n");
}
