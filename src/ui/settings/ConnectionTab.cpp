#include "ui/settings/ConnectionTab.h"

#include "ui/settings/ConnectionTabModel.h"
#include "ui/widgets/BusyIndicator.h"
#include "ui/widgets/FormSection.h"
#include "ui/widgets/FormStyle.h"
#include "ui/widgets/PlainLabel.h"
#include "ui/widgets/SwitchButton.h"
#include "ui/widgets/SymbolImage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

ConnectionTab::ConnectionTab(ConnectionTabModel &model, QWidget *parent)
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

    connect(&m_model, &ConnectionTabModel::settingChanged, this, &ConnectionTab::showHostSwitch);
    connect(&m_model, &ConnectionTabModel::customHostChanged, this, &ConnectionTab::showCustomHost);
    connect(&m_model, &ConnectionTabModel::testChanged, this, &ConnectionTab::showTest);
    connect(&m_model, &ConnectionTabModel::discoveryChanged, this, &ConnectionTab::showDiscovery);

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
    m_deviceSection = new FormSection(ConnectionTabModel::deviceSection, this);
    m_deviceSection->setObjectName(QStringLiteral("deviceSection"));

    const Setting *hostSwitch = m_model.setting(ConnectionTabModel::useCustomHost);
    m_hostSwitch = m_deviceSection->addSwitchRow(hostSwitch->name, hostSwitch->title);
    connect(m_hostSwitch, &SwitchButton::switched, this, [this](bool checked) {
        m_model.setValue(ConnectionTabModel::useCustomHost, checked);
        showHostSwitch();
    });

    QWidget *hostRow = m_deviceSection->addRow(QStringLiteral("customHostRow"));
    QHBoxLayout *hostLayout = FormSection::rowLayout(hostRow);
    auto *fieldLabel
        = new PlainLabel(QStringLiteral("customHostLabel"), ConnectionTabModel::hostFieldLabel(), hostRow);
    m_hostField = new QLineEdit(hostRow);
    m_hostField->setObjectName(QStringLiteral("customHostField"));
    m_hostField->setPlaceholderText(ConnectionTabModel::hostFieldPlaceholder);
    m_hostField->setAccessibleName(ConnectionTabModel::hostFieldLabel());
    m_hostField->setClearButtonEnabled(false);
    fieldLabel->setBuddy(m_hostField);
    // Every keystroke is stored, so what the field shows is what the engine polls next.
    connect(m_hostField, &QLineEdit::textEdited, this,
            [this](const QString &text) { m_model.editCustomHost(text); });
    m_testButton = new QPushButton(ConnectionTabModel::testTitle, hostRow);
    m_testButton->setObjectName(QStringLiteral("testButton"));
    m_testButton->setAutoDefault(false);
    connect(m_testButton, &QPushButton::clicked, this, [this] { m_model.runConnectionTest(); });
    hostLayout->addWidget(fieldLabel, 0, Qt::AlignVCenter);
    hostLayout->addWidget(m_hostField, 1, Qt::AlignVCenter);
    hostLayout->addWidget(m_testButton, 0, Qt::AlignVCenter);

    m_testResultRow = m_deviceSection->addRow(QStringLiteral("testResultRow"));
    m_testResult = new PlainLabel(QStringLiteral("testResult"), {}, m_testResultRow);
    m_testResult->setFont(FormStyle::caption(font()));
    m_testResult->setWordWrap(true);
    m_testResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FormSection::rowLayout(m_testResultRow)->addWidget(m_testResult, 1);

    QWidget *noteRow = m_deviceSection->addRow(QStringLiteral("defaultHostNoteRow"));
    m_defaultNote
        = new PlainLabel(QStringLiteral("defaultHostNote"), ConnectionTabModel::defaultHostNote(), noteRow);
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
        new PlainLabel(QStringLiteral("discoveredHeading"), ConnectionTabModel::discoveredHeading, heading));
    headingLayout->addStretch(1);
    m_browsingIndicator = new BusyIndicator(14, heading);
    m_browsingIndicator->setObjectName(QStringLiteral("browsingIndicator"));
    headingLayout->addWidget(m_browsingIndicator, 0, Qt::AlignVCenter);

    m_emptyRow = m_discoveredSection->addRow(QStringLiteral("discoveredEmptyRow"));
    m_emptyText = new PlainLabel(QStringLiteral("discoveredEmpty"), ConnectionTabModel::nothingDiscovered,
                                 m_emptyRow);
    m_emptyText->setFont(FormStyle::caption(font()));
    m_emptyText->setWordWrap(true);
    FormSection::rowLayout(m_emptyRow)->addWidget(m_emptyText, 1);
}

void ConnectionTab::showHostSwitch()
{
    m_hostSwitch->showOn(m_model.value(ConnectionTabModel::useCustomHost).toBool());
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
    m_testButton->setEnabled(!m_model.testing());
    const std::optional<TestOutcome> outcome = m_model.testOutcome();
    m_testResult->setText(outcome ? outcome->text : QString());
    m_testResultRow->setVisible(outcome.has_value());
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
            auto *symbol = new PlainLabel(QStringLiteral("discoveredSymbol"), {}, row);
            symbol->setFixedSize(FormStyle::symbolSize + 2, FormStyle::symbolSize + 2);
            symbol->setAlignment(Qt::AlignCenter);
            m_hostSymbols.append(symbol);
            auto *name = new PlainLabel(QStringLiteral("discoveredHostName"), host, row);
            name->setFont(FormStyle::monospace(font()));
            name->setTextInteractionFlags(Qt::TextSelectableByMouse);
            auto *error = new PlainLabel(QStringLiteral("useError"), {}, row);
            error->setFont(FormStyle::caption(font()));
            error->setWordWrap(true);
            auto *texts = new QVBoxLayout;
            texts->setSpacing(2);
            texts->addWidget(name);
            texts->addWidget(error);
            auto *use = new QPushButton(ConnectionTabModel::useTitle, row);
            use->setObjectName(QStringLiteral("useButton"));
            use->setFlat(true);
            use->setAutoDefault(false);
            use->setCursor(Qt::PointingHandCursor);
            use->setAccessibleDescription(host);
            connect(use, &QPushButton::clicked, this, [this, host] { m_model.useDiscoveredHost(host); });
            layout->addWidget(symbol, 0, Qt::AlignVCenter);
            layout->addLayout(texts, 1);
            layout->addWidget(use, 0, Qt::AlignVCenter);
            // After the heading, in the list's order.
            m_discoveredSection->insertRow(int(1 + i), row);
            m_hostRows.append({host, row, use, error});
        }
        applyColors();
    }
    for (const HostRow &row : std::as_const(m_hostRows)) {
        const QString error = m_model.useError(row.host);
        row.error->setText(error);
        row.error->setVisible(!error.isEmpty());
        row.use->setEnabled(m_model.resolvingHost() != row.host);
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
    if (const std::optional<TestOutcome> outcome = m_model.testOutcome())
        FormStyle::setTextColor(m_testResult,
                                outcome->ok ? FormStyle::green(colors) : FormStyle::red(colors));
    for (const HostRow &row : std::as_const(m_hostRows))
        FormStyle::setTextColor(row.error, FormStyle::red(colors));
    for (QLabel *symbol : std::as_const(m_hostSymbols))
        symbol->setPixmap(SymbolImage::pixmap(ConnectionTabModel::discoveredSymbol, FormStyle::symbolSize,
                                              secondary, devicePixelRatioF()));
}
