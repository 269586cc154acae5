#pragma once

#include <QElapsedTimer>
#include <QPoint>
#include <QRect>
#include <QWidget>

class MenuBarView;

// The window that holds the panel. Where the desktop lets a program place a window (X11) it
// drops down beside the tray icon as a popup. On Wayland a program can neither place a window
// nor keep one that hides on focus loss (under focus-follows-mouse the windows the pointer
// crosses on its way take the focus), so there it is a small titled window that the compositor
// places and that stays until closed. With no tray at all it is an ordinary window, so the
// user is never locked out. It appears only when the user asks for it and never takes focus
// on its own.
class PanelWindow : public QWidget
{
    Q_OBJECT

public:
    enum class Style {
        Popup, // beside the tray icon; closes on a click elsewhere
        Floating, // a small window placed by the compositor; closes on the icon, Escape or its close button
        Window, // an ordinary window, for desktops without a tray
    };

    // The drop-down style the platform allows: Floating on Wayland, Popup elsewhere.
    static Style dropDownStyle(const QString &platformName);
    // Where a drop-down of size goes: beside the anchor (the tray icon, or the pointer when the
    // desktop does not tell where the icon is), below it on a top panel and above it on a bottom
    // one, kept inside the screen's available area.
    static QPoint placement(const QSize &size, const QRect &anchor, const QRect &available);

    explicit PanelWindow(MenuBarView *view, QWidget *parent = nullptr);

    MenuBarView *view() const { return m_view; }
    Style style() const { return m_style; }
    void setStyle(Style style);

    // For a click on the tray icon: shows the panel (anchor: the icon's geometry, empty when
    // unknown), or hides it when it is open or the same click has just closed the popup.
    void toggle(const QRect &anchor);
    // Shows it and brings it forward, e.g. when a second start of the program asks.
    void present(const QRect &anchor = {});
    // Shows it without taking the focus: for when the program, not the user, decides to.
    void reveal();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void place(const QRect &anchor);

    MenuBarView *m_view;
    Style m_style = Style::Popup;
    bool m_styleApplied = false;
    QElapsedTimer m_sinceHidden;
};
