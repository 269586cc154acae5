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
        } else if (arg == QLatin1String("--version") || arg == QLatin1String("-v")) {
            ok = choose(Mode::Version);
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            ok = choose(Mode::Help);
        } else {
            return invalid(QStringLiteral("unknown option “%1”").arg(arg));
        }
        if (!ok)
            return invalid(QStringLiteral("choose one of --headless, --test-connection, --version, --help"));
    }
    return result;
}

QString CommandLine::helpText()
{
    return QStringLiteral(
        "Usage: quorvel [--headless | --test-connection HOST | --version | --help]\n"
        "\n"
        "Keeps the sample rate of an M-1620 in step with the rate at its MADI input.\n"
        "\n"
        "  (no option)             run in the desktop's tray\n"
        "  --headless              run without a user interface; ends on SIGINT or SIGTERM\n"
        "  --test-connection HOST  read the device's status once from HOST, print the outcome;\n"
        "                          exit 0 when the device answered, 1 otherwise\n"
        "                          (touches neither the log nor the settings)\n"
        "  --version               print the version\n"
        "  --help                  print this help\n"
        "\n"
        "Settings: $XDG_CONFIG_HOME/Quorvel/settings.json (default ~/.config/Quorvel)\n"
        "Log:      $XDG_STATE_HOME/Quorvel/sync.log (default ~/.local/state/Quorvel)\n");
}
