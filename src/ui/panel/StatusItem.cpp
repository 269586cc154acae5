#include "ui/panel/StatusItem.h"

#include "platform/ColorSchemeWatcher.h"
#include "ui/panel/MenuBarLabel.h"
#include "ui/panel/TrayIconImage.h"
#include "ui/widgets/SymbolImage.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>

StatusItem::StatusItem(MenuBarLabel &label, MenuBarViewModel &model, QObject *parent)
    : QObject(parent)
    , m_label(label)
    , m_model(model)
    , m_menu(new QMenu)
    , m_colorScheme(new ColorSchemeWatcher(QDBusConnection::sessionBus(), this))
{
    m_menu->setObjectName(QStringLiteral("statusItemMenu"));
    updateInk();
    buildMenu();
    updateMenu();

    connect(&m_label, &MenuBarLabel::iconNameChanged, this, &StatusItem::updateIcon);
    connect(&m_label, &MenuBarLabel::rateTextChanged, this, &StatusItem::updateIcon);
    connect(&m_label, &MenuBarLabel::rateStaleChanged, this, &StatusItem::updateIcon);
    connect(&m_label, &MenuBarLabel::toolTipChanged, this, &StatusItem::updateIcon);
    connect(m_colorScheme, &ColorSchemeWatcher::schemeChanged, this, [this] {
        updateInk();
        updateIcon();
        updateMenu();
    });
    connect(&m_model, &MenuBarViewModel::switchesChanged, this, &StatusItem::updateMenu);
    connect(&m_model, &MenuBarViewModel::commandsChanged, this, &StatusItem::updateMenu);
    // A light or dark theme switch reaches every widget as a palette change; the menu, which
    // lives as long as we do, tells us, and the icon is drawn again in the new colour.
    m_menu->installEventFilter(this);
}

StatusItem::~StatusItem()
{
    // The menu has no parent (a tray menu must not be owned by a window); it goes with us.
    delete m_menu;
}

QString StatusItem::toolTip() const
{
    return m_tray ? m_tray->toolTip() : m_label.toolTip();
}

void StatusItem::show()
{
    if (!m_tray) {
        m_tray = new QSystemTrayIcon(this);
        m_tray->setContextMenu(m_menu);
        updateIcon();
        connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                Q_EMIT iconActivated(m_tray->geometry());
        });
    }
    m_tray->show();
}

QRect StatusItem::iconGeometry() const
{
    return m_tray ? m_tray->geometry() : QRect();
}

void StatusItem::buildMenu()
{
    m_openPanel = m_menu->addAction(openPanelTitle);
    m_openPanel->setObjectName(QStringLiteral("openPanel"));
    connect(m_openPanel, &QAction::triggered, this, [this] { Q_EMIT openPanelRequested(iconGeometry()); });
    m_menu->addSeparator();

    m_syncSwitch = m_menu->addAction(QString());
    m_syncSwitch->setObjectName(QStringLiteral("syncSwitch"));
    m_syncSwitch->setCheckable(true);
    connect(m_syncSwitch, &QAction::triggered, this, [this](bool requested) {
        m_model.turnSyncSwitch(requested);
        updateMenu();
    });
    m_loginSwitch = m_menu->addAction(QString());
    m_loginSwitch->setObjectName(QStringLiteral("loginSwitch"));
    m_loginSwitch->setCheckable(true);
    connect(m_loginSwitch, &QAction::triggered, this, [this](bool requested) {
        m_model.turnLoginSwitch(requested);
        updateMenu();
    });
    m_menu->addSeparator();

    for (const MenuBarViewModel::CommandRow &row : m_model.commands()) {
        if (row.command == MenuBarViewModel::Command::Quit)
            m_menu->addSeparator();
        QAction *action = m_menu->addAction(row.title);
        action->setObjectName(QStringLiteral("command%1").arg(int(row.command)));
        const MenuBarViewModel::Command command = row.command;
        connect(action, &QAction::triggered, this, [this, command] { m_model.run(command); });
        m_commands.append(action);
    }
    // The login item lives outside the program; read it afresh whenever the menu opens.
    connect(m_menu, &QMenu::aboutToShow, &m_model, &MenuBarViewModel::refreshLaunchAtLogin);
}

void StatusItem::updateIcon()
{
    if (!m_tray)
        return;
    m_tray->setIcon(
        TrayIconImage::icon(m_label.iconName(), m_label.rateText(), m_label.rateStale(), m_iconColor));
    m_tray->setToolTip(m_label.toolTip());
}

void StatusItem::updateMenu()
{
    const QColor &ink = m_menuInk;
    for (auto [action, row] :
         {std::pair {m_syncSwitch, m_model.syncSwitch()}, std::pair {m_loginSwitch, m_model.loginSwitch()}}) {
        action->setText(action == m_syncSwitch ? syncTitle : row.text);
        action->setIcon(SymbolImage::icon(row.symbol, ink));
        action->setChecked(row.isOn);
    }
    const QList<MenuBarViewModel::CommandRow> rows = m_model.commands();
    for (qsizetype i = 0; i < rows.size() && i < m_commands.size(); ++i) {
        m_commands[i]->setText(rows[i].title);
        m_commands[i]->setIcon(SymbolImage::icon(rows[i].symbol, ink));
        m_commands[i]->setEnabled(rows[i].enabled);
    }
}

void StatusItem::updateInk()
{
    // The menu's icons go to the tray host as pictures, so their colour is chosen here, not by
    // the style at drawing time: dark on a dark menu is what a fixed black gave.
    const QString desktop = ColorSchemeWatcher::currentDesktop();
    const ColorSchemeWatcher::Scheme scheme = m_colorScheme->scheme();
    m_iconColor = TrayIconImage::inkColor(TrayInk::forIcon(desktop, scheme), QApplication::palette());
    m_menuInk = TrayIconImage::inkColor(TrayInk::forMenu(desktop, scheme), m_menu->palette());
}

bool StatusItem::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_menu && event->type() == QEvent::PaletteChange) {
        const QColor before = m_iconColor;
        updateInk();
        if (m_iconColor != before)
            updateIcon();
        updateMenu();
    }
    return QObject::eventFilter(watched, event);
}
