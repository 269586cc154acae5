#pragma once

#include "ui/settings/SettingsViewModel.h"

#include <QWidget>

class AppState;
class ConnectionTab;
class GeneralTab;
class QTabWidget;
class SyncEngine;

// The settings window: the "Connection" and "General" tabs around a 460 × 420 content area.
// Created when the user opens it and gone when it closes, so what it owns (its model and with
// it the device discovery) lives only while it shows. Browsing runs exactly while the
// Connection tab is on screen in the open window.
class SettingsWindow : public QWidget
{
    Q_OBJECT

public:
    using Services = SettingsViewModel::Services;

    static inline const QString title = QStringLiteral("Quorvel Settings");
    // The tabs' content size; the window adds the style's margins around it.
    static constexpr QSize contentSize {460, 420};
    enum Tab { ConnectionTabIndex = 0, GeneralTabIndex = 1 };

    SettingsWindow(AppState &state, SyncEngine &sync, Services services, QWidget *parent = nullptr);
    ~SettingsWindow() override;

    QTabWidget *tabs() const { return m_tabs; }
    SettingsViewModel &model() const { return *m_model; }
    ConnectionTab *connectionTab() const { return m_connection; }
    GeneralTab *generalTab() const { return m_general; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateConnectionFormShown();

    SettingsViewModel *m_model;
    QTabWidget *m_tabs;
    ConnectionTab *m_connection;
    GeneralTab *m_general;
};
