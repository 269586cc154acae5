// How well the tray icon stands out from the panel, in numbers: every state at 22 px, drawn in
// the ink chosen for each colour-scheme preference, on a light (#f2f2f2) and a dark (#202020)
// panel. The figure is the WCAG contrast ratio between the panel and the glyph's colour, the
// median by luminance of the pixels the glyph covers fully (alpha ≥ 90 %): the colour the eye
// reads as the glyph's, unaffected by its anti-aliased edges. Required: 3:1 on the panel the
// preference implies, and on both where there is no preference. Exits 1 if any falls short.
//
// Run: cmake --build build --target icon_contrast && QT_QPA_PLATFORM=offscreen build/bin/icon_contrast
#include "ui/panel/MenuBarLabel.h"
#include "ui/panel/TrayIconImage.h"
#include "ui/panel/TrayInk.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

double channel(int value)
{
    const double c = value / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(QRgb rgb)
{
    return 0.2126 * channel(qRed(rgb)) + 0.7152 * channel(qGreen(rgb)) + 0.0722 * channel(qBlue(rgb));
}

double contrast(double a, double b)
{
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

struct Measure
{
    double ratio = 0;
    int corePixels = 0;
};

Measure measure(const QImage &icon, const QColor &background)
{
    QImage composed(icon.size(), QImage::Format_ARGB32);
    composed.fill(background);
    {
        QPainter painter(&composed);
        painter.drawImage(0, 0, icon);
    }
    const QImage alpha = icon.convertToFormat(QImage::Format_ARGB32);
    std::vector<double> core;
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x) {
            if (qAlpha(alpha.pixel(x, y)) >= 230)
                core.push_back(luminance(composed.pixel(x, y)));
        }
    }
    if (core.empty())
        return {};
    std::nth_element(core.begin(), core.begin() + core.size() / 2, core.end());
    return {contrast(core[core.size() / 2], luminance(background.rgb())), int(core.size())};
}

int differingPixels(const QImage &a, const QImage &b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += qAbs(qAlpha(a.pixel(x, y)) - qAlpha(b.pixel(x, y))) > 64 ? 1 : 0;
    return count;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    constexpr int size = 22;
    constexpr double required = 3.0;
    const QColor light(0xf2, 0xf2, 0xf2);
    const QColor dark(0x20, 0x20, 0x20);

    struct State
    {
        const char *name;
        QString symbol;
        bool stale;
    };
    const State states[] {
        {"connected", MenuBarLabel::connectedSymbol, false},
        {"not connected", MenuBarLabel::idleSymbol, true},
        {"warning", MenuBarLabel::warningSymbol, false},
    };
    struct Preference
    {
        const char *name;
        ColorSchemeWatcher::Scheme scheme;
    };
    const Preference preferences[] {
        {"dark", ColorSchemeWatcher::Scheme::Dark},
        {"light", ColorSchemeWatcher::Scheme::Light},
        {"unknown", ColorSchemeWatcher::Scheme::Unknown},
    };
    const std::optional<QString> rates[] {std::nullopt, QStringLiteral("48k"), QStringLiteral("176.4k")};

    // A desktop that hands over no panel palette, so that the preference alone decides.
    const QString desktop = QStringLiteral("XFCE");
    bool allMet = true;
    std::printf("| Preference | Ink | State | Rate | on #f2f2f2 | on #202020 |\n");
    std::printf("| --- | --- | --- | --- | ---: | ---: |\n");
    for (const Preference &preference : preferences) {
        const QColor ink = TrayIconImage::inkColor(TrayInk::forIcon(desktop, preference.scheme), {});
        const bool needLight = preference.scheme != ColorSchemeWatcher::Scheme::Dark;
        const bool needDark = preference.scheme != ColorSchemeWatcher::Scheme::Light;
        for (const State &state : states) {
            for (const std::optional<QString> &rate : rates) {
                const QImage icon = TrayIconImage::render(state.symbol, rate, state.stale && rate, ink, size);
                const Measure onLight = measure(icon, light);
                const Measure onDark = measure(icon, dark);
                const auto cell = [&](const Measure &m, bool needed) {
                    const bool met = m.ratio >= required;
                    allMet &= met || !needed;
                    return QStringLiteral("%1:1%2")
                        .arg(m.ratio, 0, 'f', 2)
                        .arg(needed ? (met ? QString() : QStringLiteral(" FAIL")) : QStringLiteral(" (n/a)"));
                };
                std::printf("| %s | %s | %s | %s | %s | %s |\n", preference.name, qPrintable(ink.name()),
                            state.name, rate ? qPrintable(*rate) : "—", qPrintable(cell(onLight, needLight)),
                            qPrintable(cell(onDark, needDark)));
            }
        }
    }

    // At a glance: how much of the 22 px picture changes when the device goes.
    const QColor ink = TrayIconImage::inkColor(TrayInk::Kind::MidTone, {});
    for (const std::optional<QString> &rate : rates) {
        const QImage connected = TrayIconImage::render(MenuBarLabel::connectedSymbol, rate, false, ink, size)
                                     .convertToFormat(QImage::Format_ARGB32);
        const QImage lost = TrayIconImage::render(MenuBarLabel::idleSymbol, rate, rate.has_value(), ink, size)
                                .convertToFormat(QImage::Format_ARGB32);
        std::printf("\nconnected → not connected, rate %s: %d of %d pixels change",
                    rate ? qPrintable(*rate) : "—", differingPixels(connected, lost), size * size);
    }
    std::printf("\n\n%s\n",
                allMet ? "every required figure is at least 3:1" : "SOME REQUIRED FIGURES ARE BELOW 3:1");
    return allMet ? 0 : 1;
}
