#pragma once

// What the settings tabs are given in tests: the UiHarness objects, browsers that the test
// drives by hand and a connection tester that records the host instead of contacting it.
#include "UiHarness.h"
#include "discovery/FakeServiceBrowser.h"

#include "ui/settings/ConnectionTabModel.h"
#include "ui/settings/GeneralTabModel.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPointer>

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
    ConnectionTabModel::ConnectionTester function()
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
    ConnectionTabModel::ConnectionTester testerFor(bool withRecordingTester)
    {
        return withRecordingTester ? tester.function() : ConnectionTabModel::ConnectionTester {};
    }
    std::unique_ptr<ConnectionTabModel> connectionModel(bool withRecordingTester = false)
    {
        return std::make_unique<ConnectionTabModel>(settings, browsers.factory(),
                                                    testerFor(withRecordingTester));
    }
    std::unique_ptr<GeneralTabModel> generalModel()
    {
        return std::make_unique<GeneralTabModel>(state, settings, *launchAtLogin, *updates, logger, desktop);
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
};
