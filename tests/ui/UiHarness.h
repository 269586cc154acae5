#pragma once

// The objects the views are given (the stage the screenshots are drawn on), with DNS-SD
// browsers that are fakes the test drives. The views only call the engine's togglePause().
#include "Stage.h"
#include "TestFiles.h"
#include "discovery/FakeServiceBrowser.h"

#include "discovery/DeviceDiscovery.h"

#include <QPointer>

struct UiHarness : Stage
{
    using Stage::Stage;

    // The newest fake browser is the one in use; made.count(nullptr) are the deleted ones.
    DeviceDiscovery::BrowserFactory browsers()
    {
        return [this] {
            auto browser = std::make_unique<FakeServiceBrowser>();
            made.append(browser.get());
            return browser;
        };
    }
    FakeServiceBrowser *browser() const { return made.isEmpty() ? nullptr : made.last().data(); }

    QList<QPointer<FakeServiceBrowser>> made;
};
