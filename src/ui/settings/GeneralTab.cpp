#include "ui/settings/GeneralTab.h"

#include "ui/PlatformUi.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/FormSection.h"
#include "ui/widgets/FormStyle.h"
#include "ui/widgets/SwitchButton.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using Toggle = SettingsViewModel::Toggle;

namespace {

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &text = {})
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton *makeButton(QWidget *parent, const QString &name, const QString &title)
{
    auto *button = new QPushButton(title, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

} // namespace

GeneralTab::GeneralTab(SettingsViewModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("generalForm"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto *notifications = new FormSection(SettingsViewModel::notificationsSection, this);
    notifications->setObjectName(QStringLiteral("notificationsSection"));
    addSwitch(notifications, QStringLiteral("notifyOnRateChange"), Toggle::NotifyOnRateChange);
    addSwitch(notifications, QStringLiteral("notifyOnDisconnect"), Toggle::NotifyOnDisconnect);
    layout->addWidget(notifications);

    auto *menuBar = new FormSection(SettingsViewModel::menuBarSection, this);
    menuBar->setObjectName(QStringLiteral("menuBarSection"));
    addSwitch(menuBar, QStringLiteral("showRateInMenuBar"), Toggle::ShowRateInMenuBar);
    QWidget *noteRow = menuBar->addRow(QStringLiteral("menuBarNoteRow"));
    m_menuBarNote = makeLabel(noteRow, QStringLiteral("menuBarNote"), SettingsViewModel::menuBarNote);
    m_menuBarNote->setFont(FormStyle::caption(font()));
    m_menuBarNote->setWordWrap(true);
    FormSection::rowLayout(noteRow)->addWidget(m_menuBarNote, 1);
    layout->addWidget(menuBar);

    auto *updates = new FormSection(SettingsViewModel::updatesSection, this);
    updates->setObjectName(QStringLiteral("updatesSection"));
    addSwitch(updates, QStringLiteral("automaticallyCheckForUpdates"), Toggle::AutomaticallyCheckForUpdates);
    QWidget *versionRow = updates->addRow(QStringLiteral("versionRow"));
    QHBoxLayout *versionLayout = FormSection::rowLayout(versionRow);
    m_version = makeLabel(versionRow, QStringLiteral("versionText"), m_model.versionText());
    auto *about = makeButton(versionRow, QStringLiteral("aboutButton"), SettingsViewModel::aboutTitle);
    connect(about, &QPushButton::clicked, this, [this] {
        m_model.platform().showAbout(
            this, SettingsViewModel::creditsFrom(SettingsViewModel::acknowledgementsResource));
    });
    m_checkNow = makeButton(versionRow, QStringLiteral("checkNowButton"), SettingsViewModel::checkNowTitle);
    connect(m_checkNow, &QPushButton::clicked, this, [this] { m_model.checkForUpdates(); });
    versionLayout->addWidget(m_version, 0, Qt::AlignVCenter);
    versionLayout->addStretch(1);
    versionLayout->addWidget(about, 0, Qt::AlignVCenter);
    versionLayout->addWidget(m_checkNow, 0, Qt::AlignVCenter);
    layout->addWidget(updates);

    auto *startup = new FormSection(SettingsViewModel::startupSection, this);
    startup->setObjectName(QStringLiteral("startupSection"));
    addSwitch(startup, QStringLiteral("launchAtLogin"), Toggle::LaunchAtLogin);
    layout->addWidget(startup);

    auto *logs = new FormSection(SettingsViewModel::logsSection, this);
    logs->setObjectName(QStringLiteral("logsSection"));
    QWidget *pathRow = logs->addRow(QStringLiteral("logPathRow"));
    QHBoxLayout *pathLayout = FormSection::rowLayout(pathRow);
    m_logPath = new ElidedLabel(pathRow);
    m_logPath->setObjectName(QStringLiteral("logPath"));
    m_logPath->setFont(FormStyle::monospace(font(), 0.85));
    m_logPath->setText(m_model.logFile());
    auto *reveal = makeButton(pathRow, QStringLiteral("revealButton"), SettingsViewModel::revealTitle);
    connect(reveal, &QPushButton::clicked, this, [this] { m_model.revealLogFile(); });
    pathLayout->addWidget(m_logPath, 1, Qt::AlignVCenter);
    pathLayout->addWidget(reveal, 0, Qt::AlignVCenter);
    QWidget *diagnosticsRow = logs->addRow(QStringLiteral("diagnosticsRow"));
    QHBoxLayout *diagnosticsLayout = FormSection::rowLayout(diagnosticsRow);
    m_diagnosticsCaption = makeLabel(diagnosticsRow, QStringLiteral("diagnosticsCaption"));
    m_diagnosticsCaption->setFont(FormStyle::caption(font()));
    auto *copy = makeButton(diagnosticsRow, QStringLiteral("copyDiagnosticsButton"),
                            SettingsViewModel::copyDiagnosticsTitle);
    connect(copy, &QPushButton::clicked, this, [this] { m_model.copyDiagnostics(); });
    diagnosticsLayout->addWidget(m_diagnosticsCaption, 1, Qt::AlignVCenter);
    diagnosticsLayout->addWidget(copy, 0, Qt::AlignVCenter);
    layout->addWidget(logs);
    layout->addStretch(1);

    connect(&m_model, &SettingsViewModel::toggleChanged, this, &GeneralTab::showSwitch);
    connect(&m_model, &SettingsViewModel::canCheckForUpdatesChanged, this, &GeneralTab::showCheckNow);
    connect(&m_model, &SettingsViewModel::diagnosticsCopiedChanged, this,
            &GeneralTab::showDiagnosticsCaption);

    applyColors();
    showCheckNow();
    showDiagnosticsCaption();
}

void GeneralTab::addSwitch(FormSection *section, const QString &name, Toggle toggle)
{
    SwitchButton *button = section->addSwitchRow(name, SettingsViewModel::textOf(toggle));
    m_switches.insert(toggle, button);
    connect(button, &QAbstractButton::clicked, this, [this, toggle](bool checked) {
        m_model.setOn(toggle, checked);
        // What the owner really holds now, e.g. a login entry that could not be written.
        showSwitch(toggle);
    });
    showSwitch(toggle);
}

void GeneralTab::showSwitch(Toggle toggle)
{
    if (SwitchButton *button = m_switches.value(toggle))
        button->setChecked(m_model.isOn(toggle));
}

void GeneralTab::showCheckNow()
{
    m_checkNow->setEnabled(m_model.canCheckForUpdates());
}

void GeneralTab::showDiagnosticsCaption()
{
    m_diagnosticsCaption->setText(m_model.diagnosticsCaption());
}

void GeneralTab::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void GeneralTab::applyColors()
{
    const QColor secondary = FormStyle::secondary(palette());
    FormStyle::setTextColor(m_menuBarNote, secondary);
    FormStyle::setTextColor(m_version, secondary);
    FormStyle::setTextColor(m_diagnosticsCaption, secondary);
}
