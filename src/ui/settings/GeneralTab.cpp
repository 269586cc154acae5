#include "ui/settings/GeneralTab.h"

#include "ui/settings/AboutDialog.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/FormSection.h"
#include "ui/widgets/FormStyle.h"
#include "ui/widgets/PlainLabel.h"
#include "ui/widgets/SwitchButton.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QPushButton *makeButton(QWidget *parent, const QString &name, const QString &title)
{
    auto *button = new QPushButton(title, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

} // namespace

GeneralTab::GeneralTab(GeneralTabModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("generalForm"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto *notifications = new FormSection(GeneralTabModel::notificationsSection, this);
    notifications->setObjectName(QStringLiteral("notificationsSection"));
    addSwitch(notifications, GeneralTabModel::notifyOnRateChange);
    addSwitch(notifications, GeneralTabModel::notifyOnDisconnect);
    layout->addWidget(notifications);

    auto *menuBar = new FormSection(GeneralTabModel::menuBarSection, this);
    menuBar->setObjectName(QStringLiteral("menuBarSection"));
    addSwitch(menuBar, GeneralTabModel::showRateInMenuBar);
    QWidget *noteRow = menuBar->addRow(QStringLiteral("menuBarNoteRow"));
    m_menuBarNote = new PlainLabel(QStringLiteral("menuBarNote"), GeneralTabModel::menuBarNote, noteRow);
    m_menuBarNote->setFont(FormStyle::caption(font()));
    m_menuBarNote->setWordWrap(true);
    FormSection::rowLayout(noteRow)->addWidget(m_menuBarNote, 1);
    layout->addWidget(menuBar);

    auto *updates = new FormSection(GeneralTabModel::updatesSection, this);
    updates->setObjectName(QStringLiteral("updatesSection"));
    if (m_model.offersUpdateChecks()) {
        addSwitch(updates, GeneralTabModel::automaticallyCheckForUpdates);
    } else {
        QWidget *packageRow = updates->addRow(QStringLiteral("packageManagerRow"));
        m_packageManagerNote = new PlainLabel(QStringLiteral("packageManagerNote"),
                                              GeneralTabModel::packageManagerNote, packageRow);
        m_packageManagerNote->setWordWrap(true);
        FormSection::rowLayout(packageRow)->addWidget(m_packageManagerNote, 1);
    }
    QWidget *versionRow = updates->addRow(QStringLiteral("versionRow"));
    QHBoxLayout *versionLayout = FormSection::rowLayout(versionRow);
    m_version = new PlainLabel(QStringLiteral("versionText"), m_model.versionText(), versionRow);
    auto *about = makeButton(versionRow, QStringLiteral("aboutButton"), GeneralTabModel::aboutTitle);
    connect(about, &QPushButton::clicked, this, [this] {
        AboutDialog::present(this, GeneralTabModel::creditsFrom(GeneralTabModel::acknowledgementsResource));
    });
    versionLayout->addWidget(m_version, 0, Qt::AlignVCenter);
    versionLayout->addStretch(1);
    versionLayout->addWidget(about, 0, Qt::AlignVCenter);
    if (m_model.offersUpdateChecks()) {
        m_checkNow = makeButton(versionRow, QStringLiteral("checkNowButton"), GeneralTabModel::checkNowTitle);
        connect(m_checkNow, &QPushButton::clicked, this, [this] { m_model.checkForUpdates(); });
        versionLayout->addWidget(m_checkNow, 0, Qt::AlignVCenter);
    }
    layout->addWidget(updates);

    auto *startup = new FormSection(GeneralTabModel::startupSection, this);
    startup->setObjectName(QStringLiteral("startupSection"));
    addSwitch(startup, GeneralTabModel::launchAtLogin);
    layout->addWidget(startup);

    auto *logs = new FormSection(GeneralTabModel::logsSection, this);
    logs->setObjectName(QStringLiteral("logsSection"));
    QWidget *pathRow = logs->addRow(QStringLiteral("logPathRow"));
    QHBoxLayout *pathLayout = FormSection::rowLayout(pathRow);
    m_logPath = new ElidedLabel(pathRow);
    m_logPath->setObjectName(QStringLiteral("logPath"));
    m_logPath->setFont(FormStyle::monospace(font(), 0.85));
    m_logPath->setText(m_model.logFile());
    auto *reveal = makeButton(pathRow, QStringLiteral("revealButton"), GeneralTabModel::revealTitle);
    connect(reveal, &QPushButton::clicked, this, [this] { m_model.revealLogFile(); });
    pathLayout->addWidget(m_logPath, 1, Qt::AlignVCenter);
    pathLayout->addWidget(reveal, 0, Qt::AlignVCenter);
    QWidget *diagnosticsRow = logs->addRow(QStringLiteral("diagnosticsRow"));
    QHBoxLayout *diagnosticsLayout = FormSection::rowLayout(diagnosticsRow);
    m_diagnosticsCaption = new PlainLabel(QStringLiteral("diagnosticsCaption"), {}, diagnosticsRow);
    m_diagnosticsCaption->setFont(FormStyle::caption(font()));
    auto *copy = makeButton(diagnosticsRow, QStringLiteral("copyDiagnosticsButton"),
                            GeneralTabModel::copyDiagnosticsTitle);
    connect(copy, &QPushButton::clicked, this, [this] { m_model.copyDiagnostics(); });
    diagnosticsLayout->addWidget(m_diagnosticsCaption, 1, Qt::AlignVCenter);
    diagnosticsLayout->addWidget(copy, 0, Qt::AlignVCenter);
    layout->addWidget(logs);

    // Last, so that the sections above keep their places in the fixed-size page and this one
    // is scrolled to.
    auto *following = new FormSection(GeneralTabModel::followingSection, this);
    following->setObjectName(QStringLiteral("followingSection"));
    addMilliseconds(following, GeneralTabModel::settleMilliseconds);
    addSwitch(following, GeneralTabModel::followOnlyWhenLocked);
    addSwitch(following, GeneralTabModel::matchPipeWireRate);
    addText(following, GeneralTabModel::rateChangeCommand, GeneralTabModel::rateChangeCommandPlaceholder);
    QWidget *commandNoteRow = following->addRow(QStringLiteral("rateChangeCommandNoteRow"));
    m_commandNote = new PlainLabel(QStringLiteral("rateChangeCommandNote"),
                                   GeneralTabModel::rateChangeCommandNote, commandNoteRow);
    m_commandNote->setFont(FormStyle::caption(font()));
    m_commandNote->setWordWrap(true);
    FormSection::rowLayout(commandNoteRow)->addWidget(m_commandNote, 1);
    layout->addWidget(following);
    layout->addStretch(1);

    connect(&m_model, &GeneralTabModel::settingChanged, this, &GeneralTab::showSetting);
    connect(&m_model, &GeneralTabModel::canCheckForUpdatesChanged, this, &GeneralTab::showCheckNow);
    connect(&m_model, &GeneralTabModel::diagnosticsCopiedChanged, this, &GeneralTab::showDiagnosticsCaption);

    applyColors();
    showCheckNow();
    showDiagnosticsCaption();
}

void GeneralTab::addSwitch(FormSection *section, const QString &name)
{
    const Setting *setting = m_model.setting(name);
    Q_ASSERT(setting && setting->kind == Setting::Kind::Switch);
    SwitchButton *button = section->addSwitchRow(name, setting->title);
    m_switches.insert(name, button);
    connect(button, &SwitchButton::switched, this, [this, name](bool checked) {
        m_model.setValue(name, checked);
        // What the owner really holds now, e.g. a login entry that could not be written.
        showSetting(name);
    });
    showSetting(name);
}

void GeneralTab::addMilliseconds(FormSection *section, const QString &name)
{
    const Setting *setting = m_model.setting(name);
    Q_ASSERT(setting && setting->kind == Setting::Kind::Milliseconds);
    QSpinBox *box = section->addMillisecondsRow(name, setting->title, static_cast<int>(setting->minimum),
                                                static_cast<int>(setting->maximum));
    m_millisecondBoxes.insert(name, box);
    connect(box, &QSpinBox::valueChanged, this, [this, name](int value) {
        m_model.setValue(name, qint64 {value});
        showSetting(name);
    });
    showSetting(name);
}

void GeneralTab::addText(FormSection *section, const QString &name, const QString &placeholder)
{
    const Setting *setting = m_model.setting(name);
    Q_ASSERT(setting && setting->kind == Setting::Kind::Text);
    QLineEdit *line = section->addTextRow(name, setting->title, placeholder);
    m_lines.insert(name, line);
    // Stored when the user is done with it, not at every key.
    connect(line, &QLineEdit::editingFinished, this, [this, name, line] {
        m_model.setValue(name, line->text());
        showSetting(name);
    });
    showSetting(name);
}

void GeneralTab::showSetting(const QString &name)
{
    if (SwitchButton *button = m_switches.value(name))
        button->showOn(m_model.value(name).toBool());
    if (QSpinBox *box = m_millisecondBoxes.value(name)) {
        const QSignalBlocker quiet(box); // showing is not a change of the user's
        box->setValue(static_cast<int>(m_model.value(name).toLongLong()));
    }
    if (QLineEdit *line = m_lines.value(name); line && line->text() != m_model.value(name).toString())
        line->setText(m_model.value(name).toString());
}

void GeneralTab::showCheckNow()
{
    if (m_checkNow)
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
    FormStyle::setTextColor(m_commandNote, secondary);
}
