// Draws the panel in its main states, the settings window's two tabs and the tray icon to PNG,
// on the offscreen platform, for people who want to see Quorvel before they run it. Everything is built on
// temporary files; the engine is never started and nothing is sent anywhere.
#include "Stage.h"

#include "discovery/ServiceBrowser.h"
#include "ui/panel/MenuBarView.h"
#include "ui/panel/TrayIconImage.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/SymbolImage.h"

#include <QApplication>
#include <QDir>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTabWidget>

#include <cstdio>

namespace {

// Reports a fixed set of services as soon as it starts, as a network with two devices would.
class StillBrowser final : public ServiceBrowser
{
public:
    explicit StillBrowser(QStringList names)
        : m_names(std::move(names))
    { }
    void start() override
    {
        QMetaObject::invokeMethod(
            this,
            [this] {
                Q_EMIT ready();
                Q_EMIT servicesChanged(m_names);
            },
            Qt::QueuedConnection);
    }
    void stop() override { }
    // Every device answers where a typical one would.
    void resolve(const QString &name) override
    {
        QMetaObject::invokeMethod(
            this,
            [this, name] {
                Q_EMIT resolved(name,
                                {QStringLiteral("m1620-a1b2.local"), QStringLiteral("169.254.20.7"), 8080});
            },
            Qt::QueuedConnection);
    }

private:
    QStringList m_names;
};

// A connection test that answers at once, without a network.
QCoro::Task<M1620Result<DeviceStatus>> answerAtOnce(QString)
{
    co_return DeviceStatus {48000, 48000, true};
}

RateHistory historyOf(const QList<std::tuple<int, int, std::optional<qint64>, qint64>> &entries)
{
    RateHistory history;
    const QDate today = QDate::currentDate();
    for (const auto &[hour, minute, from, to] : entries)
        history.append(RateChange(QUuid::createUuid(), QDateTime(today, QTime(hour, minute)), from, to));
    return history;
}

// The panel as it drops down: rounded corners and a soft shadow around it.
QImage framed(const QPixmap &panel, const QColor &border)
{
    const qreal ratio = panel.devicePixelRatio();
    const int margin = int(28 * ratio);
    const QSize size = panel.size() + QSize(2 * margin, 2 * margin);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF body(margin, margin, panel.width(), panel.height());
    const qreal radius = 10 * ratio;
    for (int i = 24; i > 0; --i) {
        const qreal spread = i * ratio;
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, int(7 - i * 0.25)));
        painter.drawRoundedRect(body.adjusted(-spread, -spread + 6 * ratio, spread, spread + 6 * ratio),
                                radius + spread, radius + spread);
    }
    QPainterPath clip;
    clip.addRoundedRect(body, radius, radius);
    painter.setClipPath(clip);
    painter.drawPixmap(body, panel, QRectF(panel.rect()));
    painter.setClipping(false);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(border, ratio));
    painter.drawRoundedRect(body.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    return image;
}

bool save(const QImage &image, const QString &path)
{
    if (!image.save(path)) {
        std::fprintf(stderr, "render-screenshots: could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x2a, 0x2b, 0x30));
    p.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xf0));
    p.setColor(QPalette::Base, QColor(0x1e, 0x1f, 0x23));
    p.setColor(QPalette::Text, QColor(0xee, 0xee, 0xf0));
    p.setColor(QPalette::Button, QColor(0x3a, 0x3b, 0x41));
    p.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xf0));
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xfd));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(0xee, 0xee, 0xf0, 128));
    return p;
}

QPalette lightPalette()
{
    QPalette p = QApplication::style()->standardPalette();
    p.setColor(QPalette::Window, QColor(0xf6, 0xf6, 0xf7));
    p.setColor(QPalette::Highlight, QColor(0x2f, 0x7c, 0xf6));
    return p;
}

QImage renderPanel(Stage &world, const QPalette &palette)
{
    MenuBarView view(world.state, *world.engine, *world.launchAtLogin, *world.updates, world.desktop, {});
    view.setPalette(palette);
    view.setAutoFillBackground(true);
    view.resize(view.sizeHint());
    view.show();
    QCoreApplication::processEvents();
    view.resize(view.sizeHint());
    QCoreApplication::processEvents();
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    return framed(view.grab(), dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 40));
}

// A window as the desktop frames it: a title bar above the content, rounded corners, a shadow.
QImage windowFramed(const QPixmap &content, const QString &title, const QPalette &palette)
{
    const qreal ratio = content.devicePixelRatio();
    const int titleHeight = 34;
    QPixmap window((content.deviceIndependentSize() + QSizeF(0, titleHeight)).toSize() * ratio);
    window.setDevicePixelRatio(ratio);
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    window.fill(palette.color(QPalette::Window));
    {
        QPainter painter(&window);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor bar = dark ? palette.color(QPalette::Window).darker(115) : QColor(0xe8, 0xe8, 0xea);
        painter.fillRect(QRectF(0, 0, content.deviceIndependentSize().width(), titleHeight), bar);
        QFont font = QApplication::font();
        font.setWeight(QFont::DemiBold);
        painter.setFont(font);
        painter.setPen(palette.color(QPalette::WindowText));
        painter.drawText(QRectF(0, 0, content.deviceIndependentSize().width(), titleHeight), Qt::AlignCenter,
                         title);
        // The close button where most desktops put it.
        const QPointF centre(content.deviceIndependentSize().width() - 20, titleHeight / 2.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(dark ? QColor(255, 255, 255, 30) : QColor(0, 0, 0, 22));
        painter.drawEllipse(centre, 9, 9);
        painter.setPen(QPen(palette.color(QPalette::WindowText), 1.4));
        painter.drawLine(centre + QPointF(-3.2, -3.2), centre + QPointF(3.2, 3.2));
        painter.drawLine(centre + QPointF(-3.2, 3.2), centre + QPointF(3.2, -3.2));
        painter.setPen(QPen(dark ? QColor(255, 255, 255, 24) : QColor(0, 0, 0, 28), 1));
        painter.drawLine(QPointF(0, titleHeight - 0.5),
                         QPointF(content.deviceIndependentSize().width(), titleHeight - 0.5));
        painter.drawPixmap(QPointF(0, titleHeight), content);
    }
    return framed(window, dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 40));
}

// The settings window on one of its tabs.
QImage renderSettings(Stage &world, int tab, const QPalette &palette, bool scrolledToEnd = false)
{
    SettingsWindow::Services services {&world.settings,
                                       world.launchAtLogin.get(),
                                       world.updates.get(),
                                       &world.logger,
                                       [] {
                                           return std::make_unique<StillBrowser>(
                                               QStringList {QStringLiteral("M-1620 Pro (Studio A)"),
                                                            QStringLiteral("Office printer"),
                                                            QStringLiteral("m1620-stage")});
                                       },
                                       [](const QString &host) { return answerAtOnce(host); },
                                       &world.desktop};
    SettingsWindow window(world.state, services);
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.tabs()->setCurrentIndex(tab);
    // Where the log lives for a user called alex, rather than this run's temporary folder.
    if (auto *path = window.findChild<ElidedLabel *>(QStringLiteral("logPath")))
        path->setText(QStringLiteral("/home/alex/.local/state/Quorvel/sync.log"));
    window.show();
    if (tab == SettingsWindow::ConnectionTabIndex)
        window.connectionModel().runConnectionTest();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    window.adjustSize();
    QCoreApplication::processEvents();
    if (scrolledToEnd)
        for (QScrollArea *area : window.findChildren<QScrollArea *>())
            area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
    QCoreApplication::processEvents();
    return windowFramed(window.grab(), window.windowTitle(), palette);
}

// Tray icons as a panel shows them: each state on a dark and on a light bar, in the ink chosen
// where the desktop states its light or dark preference and in the one for where it does not.
QImage renderTray(qreal ratio)
{
    struct Sample
    {
        QString symbol;
        std::optional<QString> rate;
        bool stale;
        QString caption;
    };
    const QList<Sample> samples {
        {QStringLiteral("metronome.fill"), std::nullopt, false, QStringLiteral("connected")},
        {QStringLiteral("metronome.fill"), QStringLiteral("48k"), false, QStringLiteral("with rate")},
        {QStringLiteral("metronome.fill"), QStringLiteral("44.1k"), false, QStringLiteral("with rate")},
        {QStringLiteral("metronome"), std::nullopt, false, QStringLiteral("not connected")},
        {QStringLiteral("metronome"), QStringLiteral("48k"), true, QStringLiteral("lost, last 48k")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("96k"), false,
         QStringLiteral("attention")},
    };
    struct Bar
    {
        QColor background;
        TrayInk::Kind ink;
        QString caption;
    };
    const QList<Bar> bars {
        {QColor(0x20, 0x20, 0x20), TrayInk::Kind::Light, QStringLiteral("dark panel, dark preference")},
        {QColor(0xf2, 0xf2, 0xf2), TrayInk::Kind::Dark, QStringLiteral("light panel, light preference")},
        {QColor(0x20, 0x20, 0x20), TrayInk::Kind::MidTone, QStringLiteral("dark panel, no preference")},
        {QColor(0xf2, 0xf2, 0xf2), TrayInk::Kind::MidTone, QStringLiteral("light panel, no preference")},
    };
    const int icon = 22; // a common panel size
    const int cell = 84;
    const int labelWidth = 190;
    const int barHeight = 30;
    const int rowGap = 6;
    const int captionHeight = 22;
    const QSize logical(labelWidth + cell * int(samples.size()) + 16,
                        captionHeight + int(bars.size()) * (barHeight + rowGap) + 12);
    QImage image((QSizeF(logical) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(QColor(0xfb, 0xfb, 0xfc));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont caption = QApplication::font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    painter.setFont(caption);
    const QColor captionInk(0x5a, 0x5c, 0x62);

    painter.setPen(captionInk);
    for (int i = 0; i < samples.size(); ++i)
        painter.drawText(QRectF(labelWidth + i * cell, 4, cell, captionHeight), Qt::AlignCenter,
                         samples[i].caption);
    qreal top = captionHeight + 6;
    for (const Bar &bar : bars) {
        painter.setPen(captionInk);
        painter.drawText(QRectF(8, top, labelWidth - 12, barHeight), Qt::AlignVCenter | Qt::AlignLeft,
                         bar.caption);
        painter.setPen(Qt::NoPen);
        painter.setBrush(bar.background);
        painter.drawRoundedRect(QRectF(labelWidth, top, cell * samples.size(), barHeight), 6, 6);
        const QColor ink = TrayIconImage::inkColor(bar.ink, QPalette());
        for (int i = 0; i < samples.size(); ++i) {
            const Sample &sample = samples[i];
            QImage picture
                = TrayIconImage::render(sample.symbol, sample.rate, sample.stale, ink, int(icon * ratio));
            picture.setDevicePixelRatio(ratio);
            const qreal x = labelWidth + i * cell + (cell - icon) / 2.0;
            painter.drawImage(QPointF(x, top + (barHeight - icon) / 2.0), picture);
        }
        top += barHeight + rowGap;
    }
    return image;
}

// Every symbol, large and at the sizes a menu uses.
QImage renderSymbols(qreal ratio)
{
    const QStringList names = SymbolImage::names();
    const int columns = 4;
    const int rows = int(names.size() + columns - 1) / columns;
    const int cell = 190;
    const QSize logical(cell * columns + 16, rows * 110 + 16);
    QImage image((QSizeF(logical) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(QColor(0xfb, 0xfb, 0xfc));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont caption = QApplication::font();
    caption.setPointSizeF(caption.pointSizeF() * 0.8);
    painter.setFont(caption);
    const QColor ink(0x22, 0x23, 0x27);
    for (int i = 0; i < names.size(); ++i) {
        const int column = i % columns;
        const int row = i / columns;
        const qreal x = 8 + column * cell;
        const qreal y = 8 + row * 110;
        painter.drawPixmap(QPointF(x + (cell - 48) / 2.0, y + 6),
                           SymbolImage::pixmap(names[i], 48, ink, ratio));
        painter.drawPixmap(QPointF(x + cell / 2.0 - 24, y + 62),
                           SymbolImage::pixmap(names[i], 16, ink, ratio));
        painter.drawPixmap(QPointF(x + cell / 2.0 + 2, y + 58),
                           SymbolImage::pixmap(names[i], 24, ink, ratio));
        painter.setPen(QColor(0x70, 0x72, 0x78));
        painter.drawText(QRectF(x, y + 86, cell, 18), Qt::AlignCenter, names[i]);
    }
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: render-screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir out(arguments[1]);
    if (!QDir().mkpath(out.path()))
        return 1;

    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    // A neutral interface face where installed; otherwise the system's default sans.
    if (QFontDatabase::families().contains(QStringLiteral("Inter"))) {
        QFont font(QStringLiteral("Inter"));
        font.setPointSizeF(10);
        QApplication::setFont(font);
    }
    const qreal ratio = qApp->devicePixelRatio();
    bool ok = true;

    {
        Stage world(true); // with a feed, so the update command is drawn
        world.state.setConnectionState(ConnectionState::connected(AppSettings::defaultHost));
        world.state.setDeviceRate(48000);
        world.state.setMadiRate(48000);
        world.state.setMadiSync(true);
        world.state.setHistory(historyOf({{14, 32, 44100, 48000}, {11, 5, 48000, 44100}}));
        world.launchAtLogin->setEnabled(true);
        ok &= save(renderPanel(world, lightPalette()), out.filePath(QStringLiteral("panel-connected.png")));
        ok &= save(renderPanel(world, darkPalette()),
                   out.filePath(QStringLiteral("panel-connected-dark.png")));
    }
    {
        // The device lost at its USB address, its last reading still shown. The engine is never
        // started here, so the default host is only a text.
        Stage world(true); // with a feed, so the update command is drawn
        world.settings.setUseCustomHost(false);
        world.state.setDeviceRate(48000);
        world.state.setMadiRate(48000);
        world.state.setMadiSync(true);
        world.state.setHistory(historyOf({{14, 32, 44100, 48000}}));
        world.state.setConnectionState(ConnectionState::error(QStringLiteral("The request timed out")));
        ok &= save(renderPanel(world, lightPalette()), out.filePath(QStringLiteral("panel-not-found.png")));
    }
    {
        Stage world(true); // with a feed, so the update command is drawn
        world.state.setConnectionState(ConnectionState::connected(AppSettings::defaultHost));
        world.state.setDeviceRate(96000);
        world.state.setMadiRate(96000);
        world.state.setMadiSync(true);
        world.state.setLegacyScriptDetected(true);
        world.state.setHistory(historyOf({{16, 48, 44100, 96000},
                                          {16, 47, 96000, 44100},
                                          {15, 20, 48000, 96000},
                                          {13, 2, 44100, 48000},
                                          {9, 41, std::nullopt, 44100},
                                          {9, 40, std::nullopt, 48000}}));
        ok &= save(renderPanel(world, lightPalette()),
                   out.filePath(QStringLiteral("panel-legacy-warning.png")));
    }
    {
        Stage world(true); // with a feed, so the update command is drawn
        // What "Use" stores on a desktop whose resolver knows mDNS: the host and port it resolved to.
        world.settings.setCustomHost(QStringLiteral("m1620-a1b2.local:8080"));
        world.launchAtLogin->setEnabled(true);
        ok &= save(renderSettings(world, SettingsWindow::ConnectionTabIndex, lightPalette()),
                   out.filePath(QStringLiteral("settings-connection.png")));
        ok &= save(renderSettings(world, SettingsWindow::GeneralTabIndex, lightPalette()),
                   out.filePath(QStringLiteral("settings-general.png")));
        world.settings.setSettleMilliseconds(500);
        world.settings.setMatchPipeWireRate(true);
        world.settings.setRateChangeCommand(QStringLiteral("/home/alex/bin/rate-changed"));
        ok &= save(renderSettings(world, SettingsWindow::GeneralTabIndex, lightPalette(), true),
                   out.filePath(QStringLiteral("settings-following.png")));
    }
    ok &= save(renderTray(ratio), out.filePath(QStringLiteral("tray-icons.png")));
    ok &= save(renderSymbols(ratio), out.filePath(QStringLiteral("symbols.png")));
    return ok ? 0 : 1;
}
