#include "ui/panel/MenuBarView.h"

#include "ui/widgets/CommandButton.h"
#include "ui/widgets/Divider.h"
#include "ui/widgets/Dot.h"
#include "ui/widgets/FormStyle.h"
#include "ui/widgets/PlainLabel.h"
#include "ui/widgets/SwitchButton.h"
#include "ui/widgets/SymbolImage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using Section = MenuBarViewModel::Section;
using Tint = MenuBarViewModel::Tint;

namespace {

QColor tintColor(Tint tint, const QPalette &palette)
{
    switch (tint) {
    case Tint::Green:
        return FormStyle::green(palette);
    case Tint::Yellow:
        return FormStyle::yellow(palette);
    case Tint::Orange:
        return FormStyle::orange(palette);
    case Tint::Secondary:
        break;
    }
    return FormStyle::secondary(palette);
}

QVBoxLayout *sectionLayout(QWidget *section, int horizontal, int top, int bottom, int spacing)
{
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(horizontal, top, horizontal, bottom);
    layout->setSpacing(spacing);
    return layout;
}

constexpr int symbolBox = 18;

} // namespace

MenuBarView::MenuBarView(AppState &state, SyncEngine &sync, LaunchAtLogin &launchAtLogin,
                         UpdateController &updates, Desktop &desktop, MenuBarViewModel::Actions actions,
                         QWidget *parent)
    : QWidget(parent)
    , m_model(new MenuBarViewModel(state, sync, launchAtLogin, updates, desktop, std::move(actions), this))
    , m_layout(new QVBoxLayout(this))
{
    setObjectName(QStringLiteral("menuBarView"));
    setFixedWidth(panelWidth);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);

    addSection(Section::StatusHeader, buildStatusHeader());
    addSection(Section::LegacyWarning, buildLegacyWarning());
    addSection(Section::Rates, buildRates());
    addSection(Section::RecentChanges, buildRecentChanges());
    addSection(Section::Switches, buildSwitches());
    addSection(Section::Commands, buildCommands());

    connect(m_model, &MenuBarViewModel::statusHeaderChanged, this, &MenuBarView::showStatusHeader);
    connect(m_model, &MenuBarViewModel::legacyWarningChanged, this, &MenuBarView::showLegacyWarning);
    connect(m_model, &MenuBarViewModel::ratesChanged, this, &MenuBarView::showRates);
    connect(m_model, &MenuBarViewModel::historyRowsChanged, this, &MenuBarView::showRecentChanges);
    connect(m_model, &MenuBarViewModel::switchesChanged, this, &MenuBarView::showSwitches);
    connect(m_model, &MenuBarViewModel::commandsChanged, this, &MenuBarView::showCommands);

    applyColors();
    showStatusHeader();
    showLegacyWarning();
    showRates();
    showRecentChanges();
    showSwitches();
    showCommands();
}

MenuBarView::~MenuBarView() = default;

QWidget *MenuBarView::section(Section section) const
{
    for (const SectionParts &parts : m_sections) {
        if (parts.section == section)
            return parts.widget;
    }
    return nullptr;
}

QWidget *MenuBarView::dividerOf(Section section) const
{
    for (const SectionParts &parts : m_sections) {
        if (parts.section == section)
            return parts.divider;
    }
    return nullptr;
}

QSize MenuBarView::sizeHint() const
{
    // Wrapped texts make the height depend on the fixed width.
    const int height = m_layout->hasHeightForWidth() ? m_layout->totalHeightForWidth(panelWidth)
                                                     : m_layout->totalSizeHint().height();
    return {panelWidth, height};
}

void MenuBarView::addSection(Section section, QWidget *widget)
{
    SectionParts parts {section, widget, nullptr};
    if (!m_sections.isEmpty()) {
        parts.divider = new Divider(this);
        parts.divider->setObjectName(widget->objectName() + QStringLiteral("Divider"));
        m_layout->addWidget(parts.divider);
    }
    m_layout->addWidget(widget);
    m_sections.append(parts);
}

QWidget *MenuBarView::buildStatusHeader()
{
    auto *section = new QWidget(this);
    section->setObjectName(QStringLiteral("statusSection"));
    auto *outer = new QHBoxLayout(section);
    outer->setContentsMargins(14, 12, 14, 10);
    outer->setSpacing(10);

    m_statusDot = new Dot(10, section);
    m_statusDot->setObjectName(QStringLiteral("statusDot"));
    outer->addWidget(m_statusDot, 0, Qt::AlignVCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_statusTitle = new PlainLabel(QStringLiteral("statusTitle"), {}, section);
    m_statusSubtitle = new PlainLabel(QStringLiteral("statusSubtitle"), {}, section);
    m_statusSubtitle->setWordWrap(true);
    texts->addWidget(m_statusTitle);
    texts->addWidget(m_statusSubtitle);
    outer->addLayout(texts, 1);
    return section;
}

QWidget *MenuBarView::buildLegacyWarning()
{
    auto *section = new QWidget(this);
    section->setObjectName(QStringLiteral("legacySection"));
    auto *outer = new QHBoxLayout(section);
    outer->setContentsMargins(14, 10, 14, 10);
    outer->setSpacing(10);

    m_warningSymbol = new PlainLabel(QStringLiteral("legacySymbol"), {}, section);
    m_warningSymbol->setFixedSize(symbolBox, symbolBox);
    m_warningSymbol->setAlignment(Qt::AlignCenter);
    outer->addWidget(m_warningSymbol, 0, Qt::AlignTop);

    auto *column = new QVBoxLayout;
    column->setSpacing(6);
    m_warningTitle
        = new PlainLabel(QStringLiteral("legacyTitle"), MenuBarViewModel::legacyWarningTitle, section);
    m_warningTitle->setWordWrap(true);
    m_warningText = new PlainLabel(QStringLiteral("legacyText"), m_model->legacyWarningText(), section);
    m_warningText->setWordWrap(true);
    m_copyButton = new QPushButton(section);
    m_copyButton->setObjectName(QStringLiteral("copyRemovalCommand"));
    m_copyButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_copyButton->setAutoDefault(false);
    column->addWidget(m_warningTitle);
    column->addWidget(m_warningText);
    column->addWidget(m_copyButton, 0, Qt::AlignLeft);
    outer->addLayout(column, 1);

    connect(m_copyButton, &QPushButton::clicked, m_model, &MenuBarViewModel::copyRemovalCommand);
    return section;
}

QWidget *MenuBarView::buildRates()
{
    auto *section = new QWidget(this);
    section->setObjectName(QStringLiteral("ratesSection"));
    auto *column = sectionLayout(section, 14, 10, 10, 8);

    const auto row = [&](QLabel *&label, const QString &text, const QString &name) {
        auto *line = new QHBoxLayout;
        line->setSpacing(8);
        label = new PlainLabel(name + QStringLiteral("Label"), text, section);
        line->addWidget(label);
        line->addStretch(1);
        column->addLayout(line);
        return line;
    };

    row(m_deviceRateLabel, QStringLiteral("Device rate"), QStringLiteral("deviceRate"))
        ->addWidget(m_deviceRate = new PlainLabel(QStringLiteral("deviceRate"), {}, section));
    row(m_madiInputLabel, QStringLiteral("MADI input"), QStringLiteral("madiInput"))
        ->addWidget(m_madiInput = new PlainLabel(QStringLiteral("madiInput"), {}, section));

    QHBoxLayout *syncLine = row(m_madiSyncLabel, QStringLiteral("MADI sync"), QStringLiteral("madiSync"));
    auto *value = new QHBoxLayout;
    value->setSpacing(4);
    m_madiSyncDot = new Dot(8, section);
    m_madiSyncDot->setObjectName(QStringLiteral("madiSyncDot"));
    m_madiSync = new PlainLabel(QStringLiteral("madiSync"), {}, section);
    value->addWidget(m_madiSyncDot, 0, Qt::AlignVCenter);
    value->addWidget(m_madiSync);
    syncLine->addLayout(value);
    return section;
}

QWidget *MenuBarView::buildRecentChanges()
{
    auto *section = new QWidget(this);
    section->setObjectName(QStringLiteral("historySection"));
    auto *column = sectionLayout(section, 14, 10, 10, 4);

    m_historyHeading
        = new PlainLabel(QStringLiteral("historyHeading"), MenuBarViewModel::recentChangesHeading, section);
    column->addWidget(m_historyHeading);
    for (int i = 0; i < MenuBarViewModel::maxHistoryRows; ++i) {
        HistoryLine line;
        line.row = new QWidget(section);
        line.row->setObjectName(QStringLiteral("historyRow%1").arg(i));
        auto *layout = new QHBoxLayout(line.row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(8);
        line.time = new PlainLabel(QStringLiteral("historyTime"), {}, line.row);
        line.time->setFixedWidth(64);
        line.change = new PlainLabel(QStringLiteral("historyChange"), {}, line.row);
        layout->addWidget(line.time);
        layout->addWidget(line.change, 1);
        column->addWidget(line.row);
        m_historyLines.append(line);
    }
    return section;
}

MenuBarView::SwitchLine MenuBarView::buildSwitchLine(QWidget *parent, const QString &name)
{
    SwitchLine line;
    auto *row = new QWidget(parent);
    row->setObjectName(name + QStringLiteral("Row"));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(8);
    line.symbol = new PlainLabel(name + QStringLiteral("Symbol"), {}, row);
    line.symbol->setFixedSize(symbolBox, symbolBox);
    line.symbol->setAlignment(Qt::AlignCenter);
    line.text = new PlainLabel(name + QStringLiteral("Text"), {}, row);
    line.toggle = new SwitchButton(row);
    line.toggle->setObjectName(name + QStringLiteral("Switch"));
    layout->addWidget(line.symbol);
    layout->addWidget(line.text, 1);
    layout->addWidget(line.toggle);
    parent->layout()->addWidget(row);
    return line;
}

QWidget *MenuBarView::buildSwitches()
{
    auto *section = new QWidget(this);
    section->setObjectName(QStringLiteral("switchesSection"));
    sectionLayout(section, 10, 6, 6, 4);
    m_syncLine = buildSwitchLine(section, QStringLiteral("sync"));
    m_loginLine = buildSwitchLine(section, QStringLiteral("login"));

    // The switches show what the engine and the system hold, not where the click left them.
    connect(m_syncLine.toggle, &SwitchButton::switched, this, [this](bool requested) {
        m_model->turnSyncSwitch(requested);
        showSwitches();
    });
    connect(m_loginLine.toggle, &SwitchButton::switched, this, [this](bool requested) {
        m_model->turnLoginSwitch(requested);
        showSwitches();
    });
    return section;
}

QWidget *MenuBarView::buildCommands()
{
    auto *section = new QWidget(this);
    section->setObjectName(QStringLiteral("commandsSection"));
    auto *column = sectionLayout(section, 10, 6, 6, 0);
    for (const MenuBarViewModel::CommandRow &row : m_model->commands()) {
        auto *button = new CommandButton(row.symbol, row.title, section);
        button->setObjectName(QStringLiteral("command%1").arg(int(row.command)));
        column->addWidget(button);
        m_commandButtons.append(button);
        const MenuBarViewModel::Command command = row.command;
        connect(button, &QAbstractButton::clicked, this, [this, command] {
            m_model->run(command);
            if (command != MenuBarViewModel::Command::Quit)
                Q_EMIT dismissRequested();
        });
    }
    return section;
}

void MenuBarView::showStatusHeader()
{
    const MenuBarViewModel::StatusHeader header = m_model->statusHeader();
    m_statusDot->setColor(tintColor(header.circle, palette()));
    m_statusTitle->setText(header.title);
    m_statusSubtitle->setText(header.subtitle);
    m_statusSubtitle->setVisible(!header.subtitle.isEmpty());
    // At most two lines; a longer host name is cut rather than pushing the panel down.
    m_statusSubtitle->setMaximumHeight(2 * m_statusSubtitle->fontMetrics().lineSpacing() + 1);
    m_statusSubtitle->setToolTip(header.subtitle);
    updateGeometry();
}

void MenuBarView::showLegacyWarning()
{
    m_copyButton->setText(m_model->copyButtonTitle());
    m_warningText->setText(m_model->legacyWarningText());
    showSectionVisibility();
}

void MenuBarView::showRates()
{
    const MenuBarViewModel::Rates rates = m_model->rates();
    m_deviceRate->setText(rates.deviceRate);
    m_madiInput->setText(rates.madiInput);
    m_madiSyncDot->setColor(tintColor(rates.madiSyncCircle, palette()));
    m_madiSync->setText(rates.madiSync);
    const QColor value
        = rates.lastSeen ? FormStyle::secondary(palette()) : palette().color(QPalette::WindowText);
    for (QLabel *label : {m_deviceRate, m_madiInput, m_madiSync})
        FormStyle::setTextColor(label, value);
}

void MenuBarView::showRecentChanges()
{
    const QList<MenuBarViewModel::HistoryRow> rows = m_model->historyRows();
    for (qsizetype i = 0; i < m_historyLines.size(); ++i) {
        const HistoryLine &line = m_historyLines[i];
        const bool shown = i < rows.size();
        if (shown) {
            line.time->setText(rows[i].time);
            line.change->setText(rows[i].change);
        }
        line.row->setVisible(shown);
    }
    showSectionVisibility();
}

void MenuBarView::showSwitches()
{
    const auto show = [this](const SwitchLine &line, const MenuBarViewModel::SwitchRow &row) {
        line.symbol->setPixmap(SymbolImage::pixmap(row.symbol, FormStyle::symbolSize,
                                                   FormStyle::secondary(palette()), devicePixelRatioF()));
        line.symbol->setProperty("symbol", row.symbol);
        line.text->setText(row.text);
        line.toggle->showOn(row.isOn);
        line.toggle->setAccessibleName(row.text);
    };
    show(m_syncLine, m_model->syncSwitch());
    show(m_loginLine, m_model->loginSwitch());
}

void MenuBarView::showCommands()
{
    const QList<MenuBarViewModel::CommandRow> rows = m_model->commands();
    for (qsizetype i = 0; i < rows.size() && i < m_commandButtons.size(); ++i) {
        m_commandButtons[i]->setText(rows[i].title);
        m_commandButtons[i]->setEnabled(rows[i].enabled);
    }
}

void MenuBarView::showSectionVisibility()
{
    bool changed = false;
    for (const SectionParts &parts : m_sections) {
        const bool shown = m_model->isShown(parts.section);
        if (parts.widget->isHidden() != shown)
            continue;
        changed = true;
        parts.widget->setVisible(shown);
        if (parts.divider)
            parts.divider->setVisible(shown);
    }
    if (changed)
        updateGeometry();
}

void MenuBarView::applyColors()
{
    const QPalette &pal = palette();
    const QColor secondary = FormStyle::secondary(pal);
    const QFont base = font();

    m_statusTitle->setFont(FormStyle::headline(base));
    m_statusSubtitle->setFont(FormStyle::caption(base));
    FormStyle::setTextColor(m_statusSubtitle, secondary);

    m_warningSymbol->setPixmap(SymbolImage::pixmap(QStringLiteral("exclamationmark.triangle.fill"),
                                                   FormStyle::symbolSize, tintColor(Tint::Orange, pal),
                                                   devicePixelRatioF()));
    m_warningTitle->setFont(FormStyle::subheadline(base));
    m_warningText->setFont(FormStyle::caption(base));
    FormStyle::setTextColor(m_warningText, secondary);
    m_copyButton->setFont(FormStyle::scaled(base, 0.9));

    QFont value = base;
    value.setWeight(QFont::Medium);
    for (QLabel *label : {m_deviceRateLabel, m_madiInputLabel, m_madiSyncLabel})
        FormStyle::setTextColor(label, secondary);
    for (QLabel *label : {m_deviceRate, m_madiInput, m_madiSync})
        label->setFont(value);

    QFont heading = FormStyle::caption(base);
    heading.setCapitalization(QFont::AllUppercase);
    m_historyHeading->setFont(heading);
    FormStyle::setTextColor(m_historyHeading, secondary);
    for (const HistoryLine &line : m_historyLines) {
        line.time->setFont(FormStyle::caption(base));
        FormStyle::setTextColor(line.time, secondary);
        line.change->setFont(FormStyle::caption(base));
    }

    // Colours that depend on the palette are drawn again.
    showStatusHeader();
    showRates();
    showSwitches();
}

void MenuBarView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // Only once built: a parent may pass its palette on while the sections are being made.
    if ((event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        && !m_commandButtons.isEmpty())
        applyColors();
}

void MenuBarView::showEvent(QShowEvent *event)
{
    // The login item lives outside the program and may have changed since the last look.
    m_model->refreshLaunchAtLogin();
    QWidget::showEvent(event);
}
