#include "ui/settings/ConnectionTab.h"

#include "ui/settings/SettingsViewModel.h"
#include "ui/widgets/BusyIndicator.h"
#include "ui/widgets/FormSection.h"
#include "ui/widgets/FormStyle.h"
#include "ui/widgets/SwitchButton.h"
#include "ui/widgets/SymbolImage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using Toggle = SettingsViewModel::Toggle;

namespace {

constexpr int symbolSize = 16;

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &text = {})
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

ConnectionTab::ConnectionTab(SettingsViewModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("connectionForm"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    buildDeviceSection();
    buildDiscoveredSection();
    layout->addWidget(m_deviceSection);
    layout->addWidget(m_discoveredSection);
    layout->addStretch(1);

    connect(&m_model, &SettingsViewModel::toggleChanged, this, [this](Toggle toggle) {
        if (toggle == Toggle::UseCustomHost)
            showHostSwitch();
    });
    connect(&m_model, &SettingsViewModel::customHostChanged, this, &ConnectionTab::showCustomHost);
    connect(&m_model, &SettingsViewModel::testChanged, this, &ConnectionTab::showTest);
    connect(&m_model, &SettingsViewModel::discoveryChanged, this, &ConnectionTab::showDiscovery);

    applyColors();
    showHostSwitch();
    showCustomHost();
    showTest();
    showDiscovery();
}

QStringList ConnectionTab::shownHosts() const
{
    QStringList hosts;
    for (const HostRow &row : m_hostRows)
        hosts.append(row.host);
    return hosts;
}

void ConnectionTab::buildDeviceSection()
{
    m_deviceSection = new FormSection(SettingsViewModel::deviceSection, this);
    m_deviceSection->setObjectName(QStringLiteral("deviceSection"));

    m_hostSwitch = m_deviceSection->addSwitchRow(QStringLiteral("useCustomHost"),
                                                 SettingsViewModel::textOf(Toggle::UseCustomHost));
    connect(m_hostSwitch, &QAbstractButton::clicked, this, [this](bool checked) {
        m_model.setOn(Toggle::UseCustomHost, checked);
        showHostSwitch();
    });

    QWidget *hostRow = m_deviceSection->addRow(QStringLiteral("customHostRow"));
    QHBoxLayout *hostLayout = FormSection::rowLayout(hostRow);
    auto *fieldLabel
        = makeLabel(hostRow, QStringLiteral("customHostLabel"), SettingsViewModel::hostFieldLabel);
    m_hostField = new QLineEdit(hostRow);
    m_hostField->setObjectName(QStringLiteral("customHostField"));
    m_hostField->setPlaceholderText(SettingsViewModel::hostFieldPlaceholder);
    m_hostField->setAccessibleName(SettingsViewModel::hostFieldLabel);
    m_hostField->setClearButtonEnabled(false);
    fieldLabel->setBuddy(m_hostField);
    // Every keystroke is stored, so what the field shows is what the engine polls next.
    connect(m_hostField, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_model.editCustomHost(text); });
    m_testButton = new QPushButton(SettingsViewModel::testTitle, hostRow);
    m_testButton->setObjectName(QStringLiteral("testButton"));
    m_testButton->setAutoDefault(false);
    connect(m_testButton, &QPushButton::clicked, this, [this] { m_model.runConnectionTest(); });
    hostLayout->addWidget(fieldLabel, 0, Qt::AlignVCenter);
    hostLayout->addWidget(m_hostField, 1, Qt::AlignVCenter);
    hostLayout->addWidget(m_testButton, 0, Qt::AlignVCenter);

    m_testResultRow = m_deviceSection->addRow(QStringLiteral("testResultRow"));
    m_testResult = makeLabel(m_testResultRow, QStringLiteral("testResult"));
    m_testResult->setFont(FormStyle::caption(font()));
    m_testResult->setWordWrap(true);
    m_testResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FormSection::rowLayout(m_testResultRow)->addWidget(m_testResult, 1);

    QWidget *noteRow = m_deviceSection->addRow(QStringLiteral("defaultHostNoteRow"));
    m_defaultNote = makeLabel(noteRow, QStringLiteral("defaultHostNote"), SettingsViewModel::defaultHostNote);
    m_defaultNote->setFont(FormStyle::caption(font()));
    m_defaultNote->setWordWrap(true);
    FormSection::rowLayout(noteRow)->addWidget(m_defaultNote, 1);
}

void ConnectionTab::buildDiscoveredSection()
{
    m_discoveredSection = new FormSection(QString(), this);
    m_discoveredSection->setObjectName(QStringLiteral("discoveredSection"));

    QWidget *heading = m_discoveredSection->addRow(QStringLiteral("discoveredHeadingRow"));
    QHBoxLayout *headingLayout = FormSection::rowLayout(heading);
    headingLayout->addWidget(
        makeLabel(heading, QStringLiteral("discoveredHeading"), SettingsViewModel::discoveredHeading));
    headingLayout->addStretch(1);
    m_browsingIndicator = new BusyIndicator(14, heading);
    m_browsingIndicator->setObjectName(QStringLiteral("browsingIndicator"));
    headingLayout->addWidget(m_browsingIndicator, 0, Qt::AlignVCenter);

    m_emptyRow = m_discoveredSection->addRow(QStringLiteral("discoveredEmptyRow"));
    m_emptyText
        = makeLabel(m_emptyRow, QStringLiteral("discoveredEmpty"), SettingsViewModel::nothingDiscovered);
    m_emptyText->setFont(FormStyle::caption(font()));
    m_emptyText->setWordWrap(true);
    FormSection::rowLayout(m_emptyRow)->addWidget(m_emptyText, 1);
}

void ConnectionTab::showHostSwitch()
{
    m_hostSwitch->setChecked(m_model.isOn(Toggle::UseCustomHost));
    m_hostField->setEnabled(m_model.isHostFieldEnabled());
}

void ConnectionTab::showCustomHost()
{
    // Only a change from elsewhere ("Use") rewrites the field; the user's own typing already
    // matches, and rewriting it would move the cursor.
    const QString host = m_model.customHost();
    if (m_hostField->text() != host)
        m_hostField->setText(host);
}

void ConnectionTab::showTest()
{
    m_testButton->setEnabled(m_model.canTest());
    const std::optional<QString> result = m_model.testResult();
    m_testResult->setText(result.value_or(QString()));
    m_testResultRow->setVisible(result.has_value());
    applyColors();
}

void ConnectionTab::showDiscovery()
{
    m_browsingIndicator->setVisible(m_model.isBrowsing());

    // Rows are identified by their host: a host reported twice is offered once.
    QStringList hosts = m_model.discoveredHosts();
    hosts.removeDuplicates();
    if (hosts != shownHosts()) {
        for (const HostRow &row : std::as_const(m_hostRows))
            delete row.row;
        m_hostRows.clear();
        m_hostSymbols.clear();
        for (qsizetype i = 0; i < hosts.size(); ++i) {
            const QString host = hosts[i];
            auto *row = new QWidget(m_discoveredSection->surface());
            row->setObjectName(QStringLiteral("discoveredHost%1").arg(i));
            row->setMinimumHeight(FormSection::rowMinimumHeight);
            auto *layout = new QHBoxLayout(row);
            layout->setContentsMargins(FormSection::rowHorizontalInset, 3,
                                       FormSection::rowHorizontalInset - 4, 3);
            layout->setSpacing(8);
            auto *symbol = makeLabel(row, QStringLiteral("discoveredSymbol"));
            symbol->setFixedSize(symbolSize + 2, symbolSize + 2);
            symbol->setAlignment(Qt::AlignCenter);
            m_hostSymbols.append(symbol);
            auto *name = makeLabel(row, QStringLiteral("discoveredHostName"), host);
            name->setFont(FormStyle::monospace(font()));
            name->setTextInteractionFlags(Qt::TextSelectableByMouse);
            auto *use = new QPushButton(SettingsViewModel::useTitle, row);
            use->setObjectName(QStringLiteral("useButton"));
            use->setFlat(true);
            use->setAutoDefault(false);
            use->setCursor(Qt::PointingHandCursor);
            use->setAccessibleDescription(host);
            connect(use, &QPushButton::clicked, this, [this, host] { m_model.useDiscoveredHost(host); });
            layout->addWidget(symbol, 0, Qt::AlignVCenter);
            layout->addWidget(name, 1, Qt::AlignVCenter);
            layout->addWidget(use, 0, Qt::AlignVCenter);
            // After the heading, in the list's order.
            m_discoveredSection->insertRow(int(1 + i), row);
            m_hostRows.append({host, row});
        }
        applyColors();
    }
    m_emptyRow->setVisible(hosts.isEmpty());
}

void ConnectionTab::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void ConnectionTab::applyColors()
{
    const QPalette &colors = palette();
    const QColor secondary = FormStyle::secondary(colors);
    FormStyle::setTextColor(m_defaultNote, secondary);
    FormStyle::setTextColor(m_emptyText, secondary);
    if (const std::optional<QString> result = m_model.testResult()) {
        FormStyle::setTextColor(m_testResult,
                                SettingsViewModel::tintFor(*result) == SettingsViewModel::Tint::Green
                                    ? FormStyle::green(colors)
                                    : FormStyle::red(colors));
    }
    for (QLabel *symbol : std::as_const(m_hostSymbols))
        symbol->setPixmap(SymbolImage::pixmap(SettingsViewModel::discoveredSymbol, symbolSize, secondary,
                                              devicePixelRatioF()));
}
