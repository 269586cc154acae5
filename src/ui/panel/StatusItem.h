#pragma once

#include "ui/panel/MenuBarViewModel.h"

#include <QColor>
#include <QObject>
#include <QRect>
#include <QString>

#include <optional>

class ColorSchemeWatcher;
class MenuBarLabel;
class QAction;
class QMenu;
class QSystemTrayIcon;

// The status item in the desktop's tray: MenuBarLabel's symbol and rate drawn into the icon,
// the rate in the tooltip too, the panel on a left click, and a context menu that is always
// set (some trays hide icons without one, some only ever show the menu) and offers the panel
// and everything the panel can do. The icon itself is made only at the first show(): Qt asks
// the desktop about its tray once, when the first icon is made, and keeps that answer.
class StatusItem : public QObject
{
    Q_OBJECT

public:
    static inline const QString openPanelTitle = QStringLiteral("Open Quorvel");
    // The menu's syncing entry keeps this text and shows the pause by its check mark alone.
    static inline const QString syncTitle = QStringLiteral("Auto-sync enabled");

    StatusItem(MenuBarLabel &label, MenuBarViewModel &model, QObject *parent = nullptr);
    ~StatusItem() override;

    // The icon once shown, or null.
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    QMenu &menu() const { return *m_menu; }
    // The tray icon's colour and the menu symbols', by TrayInk's rules for this desktop and its
    // light or dark preference, followed as either changes.
    QColor iconColor() const { return m_iconColor; }
    QColor menuInk() const { return m_menuInk; }
    QString toolTip() const;

    // Puts the icon into the tray; call it only once a tray is there.
    void show();
    // Where the tray says the icon is; empty when it does not say.
    QRect iconGeometry() const;

Q_SIGNALS:
    // The user clicked the icon, which opens the panel or closes the open one.
    void iconActivated(const QRect &iconGeometry);
    // The user chose "Open Quorvel", which opens the panel or brings it forward.
    void openPanelRequested(const QRect &iconGeometry);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenu();
    void updateIcon();
    void updateMenu();
    void updateInk();

    MenuBarLabel &m_label;
    MenuBarViewModel &m_model;
    QSystemTrayIcon *m_tray = nullptr;
    QMenu *m_menu;
    QAction *m_openPanel = nullptr;
    QAction *m_syncSwitch = nullptr;
    QAction *m_loginSwitch = nullptr;
    QList<QAction *> m_commands;
    ColorSchemeWatcher *m_colorScheme;
    QColor m_iconColor;
    QColor m_menuInk;
};
