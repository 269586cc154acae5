#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

// Checks for a newer Quorvel in an appcast (RSS 2.0 with the sparkle namespace) at a feed
// URL fixed at build time. It tells the user about a newer version and opens its download
// page; it never installs anything. With no feed URL a check is never possible, which is
// right where updates come from the package manager.
class UpdateController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)

public:
    // What a check found, for the user.
    struct Outcome
    {
        enum class Kind { UpToDate, NewerVersion, Failed };
        Kind kind = Kind::Failed;
        QString version; // the newer version's display version
        QUrl releaseNotes; // may be empty
        QUrl downloadPage; // where the user gets it
        QString errorMessage; // for Failed: readable, one line
    };

    static UpdateController &shared();

    bool canCheckForUpdates() const;
    // A check the user asked for; its outcome comes as userCheckFinished().
    void checkForUpdates();

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool enabled);

Q_SIGNALS:
    void canCheckForUpdatesChanged();
    void automaticallyChecksForUpdatesChanged();
    void userCheckFinished(const UpdateController::Outcome &outcome);
};
