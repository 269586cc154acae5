#pragma once

#include "ui/panel/MenuBarViewModel.h"

#include <QList>
#include <QWidget>

class CommandButton;
class Desktop;
class Dot;
class QLabel;
class QPushButton;
class QVBoxLayout;
class SwitchButton;

// The panel that drops down from the status item: status, the legacy warning, rates, recent
// changes, two switches and three commands, in that order, 300 wide and as tall as what it
// shows. It draws its model and forwards the user's clicks to it; it decides nothing itself.
class MenuBarView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 300;

    MenuBarView(AppState &state, SyncEngine &sync, LaunchAtLogin &launchAtLogin, UpdateController &updates,
                Desktop &desktop, MenuBarViewModel::Actions actions, QWidget *parent = nullptr);
    ~MenuBarView() override;

    MenuBarViewModel &model() const { return *m_model; }

    // The widget that draws a section (for hosts and tests); its divider is dividerOf().
    QWidget *section(MenuBarViewModel::Section section) const;
    QWidget *dividerOf(MenuBarViewModel::Section section) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // The user chose a command that leads elsewhere (settings, an update check); a drop-down
    // host closes so that the window it opened is in front.
    void dismissRequested();

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    struct SectionParts
    {
        MenuBarViewModel::Section section;
        QWidget *widget = nullptr;
        QWidget *divider = nullptr; // none before the first
    };
    struct HistoryLine
    {
        QWidget *row = nullptr;
        QLabel *time = nullptr;
        QLabel *change = nullptr;
    };
    struct SwitchLine
    {
        QLabel *symbol = nullptr;
        QLabel *text = nullptr;
        SwitchButton *toggle = nullptr;
    };

    void addSection(MenuBarViewModel::Section section, QWidget *widget);
    QWidget *buildStatusHeader();
    QWidget *buildLegacyWarning();
    QWidget *buildRates();
    QWidget *buildRecentChanges();
    QWidget *buildSwitches();
    QWidget *buildCommands();
    SwitchLine buildSwitchLine(QWidget *parent, const QString &name);

    void showStatusHeader();
    void showLegacyWarning();
    void showRates();
    void showRecentChanges();
    void showSwitches();
    void showCommands();
    void showSectionVisibility();
    void applyColors();

    MenuBarViewModel *m_model;
    QVBoxLayout *m_layout;
    QList<SectionParts> m_sections;

    Dot *m_statusDot = nullptr;
    QLabel *m_statusTitle = nullptr;
    QLabel *m_statusSubtitle = nullptr;
    QLabel *m_warningSymbol = nullptr;
    QLabel *m_warningTitle = nullptr;
    QLabel *m_warningText = nullptr;
    QPushButton *m_copyButton = nullptr;
    QLabel *m_deviceRateLabel = nullptr;
    QLabel *m_deviceRate = nullptr;
    QLabel *m_madiInputLabel = nullptr;
    QLabel *m_madiInput = nullptr;
    QLabel *m_madiSyncLabel = nullptr;
    Dot *m_madiSyncDot = nullptr;
    QLabel *m_madiSync = nullptr;
    QLabel *m_historyHeading = nullptr;
    QList<HistoryLine> m_historyLines;
    SwitchLine m_syncLine;
    SwitchLine m_loginLine;
    QList<CommandButton *> m_commandButtons;
};
