#pragma once

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

// A real PipeWire daemon in this test's private runtime folder (tests/isolated.sh), which the
// program under test and pw-metadata find through PIPEWIRE_RUNTIME_DIR.
class PipeWireDaemon
{
public:
    static bool installed()
    {
        return !QStandardPaths::findExecutable(QStringLiteral("pipewire")).isEmpty()
            && !QStandardPaths::findExecutable(QStringLiteral("pw-metadata")).isEmpty();
    }

    PipeWireDaemon() { qputenv("PIPEWIRE_RUNTIME_DIR", runtimeDir().toLocal8Bit()); }
    ~PipeWireDaemon() { stop(); }

    bool start()
    {
        m_daemon.setProgram(QStringLiteral("pipewire"));
        m_daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_daemon.setStandardOutputFile(QProcess::nullDevice());
        m_daemon.start();
        return m_daemon.waitForStarted(5000)
            && QTest::qWaitFor([] { return metadata({}).contains(QStringLiteral("Found \"settings\"")); },
                               10000);
    }

    void stop()
    {
        if (m_daemon.state() == QProcess::NotRunning)
            return;
        m_daemon.terminate(); // by its own id
        if (!m_daemon.waitForFinished(5000))
            m_daemon.kill();
        m_daemon.waitForFinished(5000);
        QFile::remove(runtimeDir() + QStringLiteral("/pipewire-0"));
    }

    // clock.force-rate as the daemon holds it; -1 when it cannot be read.
    static qint64 forcedRate()
    {
        static const QRegularExpression value(QStringLiteral(R"(key:'clock\.force-rate' value:'(\d+)')"));
        const QString out = metadata({QStringLiteral("clock.force-rate")});
        if (!out.contains(QStringLiteral("Found \"settings\"")))
            return -1;
        const QRegularExpressionMatch match = value.match(out);
        return match.hasMatch() ? match.captured(1).toLongLong() : 0;
    }

    // What a user typing pw-metadata by hand would do.
    static void forceRate(qint64 hertz)
    {
        metadata({QStringLiteral("clock.force-rate"), QString::number(hertz)});
    }

private:
    static QString runtimeDir() { return qEnvironmentVariable("XDG_RUNTIME_DIR", QDir::tempPath()); }

    static QString metadata(const QStringList &keyAndValue)
    {
        QProcess tool;
        tool.start(QStringLiteral("pw-metadata"),
                   QStringList {QStringLiteral("-n"), QStringLiteral("settings"), QStringLiteral("0")}
                       + keyAndValue);
        if (!tool.waitForFinished(5000)) {
            tool.kill();
            tool.waitForFinished();
            return {};
        }
        return QString::fromUtf8(tool.readAllStandardOutput());
    }

    QProcess m_daemon;
};
