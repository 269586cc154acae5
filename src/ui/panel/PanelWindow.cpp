#include "ui/panel/PanelWindow.h"

#include "ui/UiLogging.h"
#include "ui/panel/MenuBarView.h"
#include "ui/widgets/SymbolImage.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace {
// A click on the tray icon while the popup is open first closes the popup (it was a click
// outside it) and then reaches the icon; within this time it is the same click.
constexpr qint64 sameClickMs = 300;
constexpr int anchorGap = 4;

const char *nameOf(PanelWindow::Style style)
{
    switch (style) {
    case PanelWindow::Style::Popup:
        return "popup";
    case PanelWindow::Style::Floating:
        return "floating window";
    case PanelWindow::Style::Window:
        break;
    }
    return "window";
}
} // namespace

PanelWindow::Style PanelWindow::dropDownStyle(const QString &platformName)
{
    return platformName.startsWith(QLatin1String("wayland")) ? Style::Floating : Style::Popup;
}

QPoint PanelWindow::placement(const QSize &size, const QRect &anchor, const QRect &available)
{
    const bool topHalf = anchor.center().y() < available.center().y();
    int x = anchor.center().x() - size.width() / 2;
    int y = topHalf ? anchor.bottom() + 1 + anchorGap : anchor.top() - anchorGap - size.height();
    x = std::clamp(x, available.left(), std::max(available.left(), available.right() + 1 - size.width()));
    y = std::clamp(y, available.top(), std::max(available.top(), available.bottom() + 1 - size.height()));
    return {x, y};
}

PanelWindow::PanelWindow(MenuBarView *view, QWidget *parent)
    : QWidget(parent)
    , m_view(view)
{
    setObjectName(QStringLiteral("panelWindow"));
    setWindowTitle(QStringLiteral("Quorvel"));
    setWindowIcon(SymbolImage::appIcon());
    auto *layout = new QVBoxLayout(this);
    // Room for a hairline edge, so a drop-down stays distinct from a window of the same colour
    // behind it on desktops that draw no shadow.
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(view);
    setStyle(Style::Popup);

    connect(view, &MenuBarView::dismissRequested, this, [this] {
        if (m_style != Style::Window)
            hide();
    });
    m_sinceHidden.invalidate();
}

void PanelWindow::setStyle(Style style)
{
    if (style == m_style && m_styleApplied)
        return;
    m_styleApplied = true;
    const bool wasVisible = isVisible();
    m_style = style;
    switch (style) {
    case Style::Popup:
        setWindowFlags(Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint);
        break;
    case Style::Floating:
        // A fixed size makes tiling compositors (sway, Hyprland) float it rather than tile it.
        setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        break;
    case Style::Window:
        setWindowFlags(Qt::Window);
        break;
    }
    if (wasVisible)
        show();
}

void PanelWindow::toggle(const QRect &anchor)
{
    if (isVisible()) {
        hide();
        return;
    }
    if (m_style == Style::Popup && m_sinceHidden.isValid() && m_sinceHidden.elapsed() < sameClickMs)
        return;
    present(anchor);
}

void PanelWindow::present(const QRect &anchor)
{
    if (m_style == Style::Popup)
        place(anchor);
    qCDebug(lcUi) << "panel shown as" << nameOf(m_style) << "at" << pos();
    show();
    raise();
    activateWindow();
}

void PanelWindow::reveal()
{
    qCDebug(lcUi) << "panel shown as" << nameOf(m_style) << "without focus";
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    show();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void PanelWindow::place(const QRect &anchor)
{
    // Desktops that draw the tray themselves (StatusNotifierItem) do not say where the icon is;
    // the pointer that just clicked it is the best guess.
    const QRect target = anchor.isValid() && !anchor.isEmpty() ? anchor : QRect(QCursor::pos(), QSize(1, 1));
    QScreen *screen = QGuiApplication::screenAt(target.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    adjustSize();
    move(placement(sizeHint(), target, screen->availableGeometry()));
}

void PanelWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    if (m_style != Style::Popup)
        return;
    QColor edge = palette().color(QPalette::WindowText);
    edge.setAlphaF(0.25f);
    painter.setPen(edge);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void PanelWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && m_style != Style::Window) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::hideEvent(QHideEvent *event)
{
    m_sinceHidden.start();
    qCDebug(lcUi) << "panel hidden";
    QWidget::hideEvent(event);
}
