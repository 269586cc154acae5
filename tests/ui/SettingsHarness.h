#pragma once

// What a settings window is given in tests: the UiHarness objects, browsers that the test
// drives by hand, a connection tester that records the host instead of contacting it, and a
// desktop that records what would have happened.
#include "UiHarness.h"
#include "discovery/FakeServiceBrowser.h"

#include "ui/PlatformUi.h"
#include "ui/settings/SettingsViewModel.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QUrl>

class RecordingPlatformUi final : public PlatformUi
{
public:
    void copyText(const QString &text) override { copied.append(text); }
    void revealFile(const QString &path) override { revealed.append(path); }
    void openUrl(const QUrl &url) override { opened.append(url); }
    void showAbout(QWidget *, const std::optional<QString> &) override { } // no dialog in tests

    QStringList copied;
    QStringList revealed;
    QList<QUrl> opened;
};

// Makes FakeServiceBrowsers and keeps track of them; the newest is the one in use.
struct FakeBrowsers
{
    DeviceDiscovery::BrowserFactory factory()
    {
        return [this] {
            auto browser = std::make_unique<FakeServiceBrowser>();
            made.append(browser.get());
            return browser;
        };
    }
    FakeServiceBrowser *current() const { return made.isEmpty() ? nullptr : made.last().data(); }
    // Browsers made and not yet deleted.
    int alive() const
    {
        return int(std::count_if(made.begin(), made.end(), [](const auto &b) { return !b.isNull(); }));
    }

    QList<QPointer<FakeServiceBrowser>> made;
};

// Answers every test at once with the given outcome and records the host it was asked for.
struct RecordingTester
{
    SettingsViewModel::ConnectionTester function()
    {
        return [this](const QString &host) { return answer(this, host); };
    }

    static QCoro::Task<M1620Result<DeviceStatus>> answer(RecordingTester *tester, QString host)
    {
        tester->hosts.append(host);
        co_return tester->outcome;
    }

    QStringList hosts;
    M1620Result<DeviceStatus> outcome {DeviceStatus {48000, 48000, true}};
};

struct SettingsHarness : UiHarness
{
    using UiHarness::UiHarness;

    // Real connection tests (loopback hosts only) unless withRecordingTester.
    SettingsViewModel::Services services(bool withRecordingTester = false)
    {
        return {&settings,
                launchAtLogin.get(),
                updates.get(),
                &logger,
                browsers.factory(),
                withRecordingTester ? tester.function() : SettingsViewModel::ConnectionTester {},
                &platform};
    }

    // The settings file as written to disk.
    QJsonObject storedSettings() const
    {
        QFile file(store.filePath());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    FakeBrowsers browsers;
    RecordingTester tester;
    RecordingPlatformUi platform;
};
