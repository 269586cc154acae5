#include "ui/settings/SettingsWindow.h"

#include "ui/settings/ConnectionTab.h"
#include "ui/settings/GeneralTab.h"
#include "ui/settings/GeneralTabModel.h"
#include "ui/widgets/SymbolImage.h"

#include <QEvent>
#include <QScrollArea>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

// A tab page of the fixed content size; a form taller than that scrolls rather than grow the
// window.
QWidget *pageFor(QWidget *form, const QString &name, QWidget *parent)
{
    auto *page = new QScrollArea(parent);
    page->setObjectName(name);
    page->setFixedSize(SettingsWindow::contentSize);
    page->setFrameShape(QFrame::NoFrame);
    page->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    page->setWidgetResizable(true);
    page->viewport()->setAutoFillBackground(false);
    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(14, 8, 14, 6);
    layout->addWidget(form);
    page->setWidget(content);
    return page;
}

} // namespace

SettingsWindow::SettingsWindow(const AppState &state, Services services, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_connectionModel(new ConnectionTabModel(*services.settings, std::move(services.browserFactory),
                                               std::move(services.tester), this))
    , m_generalModel(new GeneralTabModel(state, *services.settings, *services.launchAtLogin,
                                         *services.updates, *services.logger, *services.desktop, this))
    , m_tabs(new QTabWidget(this))
    , m_connection(new ConnectionTab(*m_connectionModel))
    , m_general(new GeneralTab(*m_generalModel))
{
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(title);
    setWindowIcon(SymbolImage::appIcon());

    const QColor ink = palette().color(QPalette::WindowText);
    m_tabs->addTab(pageFor(m_connection, QStringLiteral("connectionTab"), m_tabs),
                   SymbolImage::icon(QStringLiteral("network"), ink), QStringLiteral("Connection"));
    m_tabs->addTab(pageFor(m_general, QStringLiteral("generalTab"), m_tabs),
                   SymbolImage::icon(QStringLiteral("gearshape"), ink), QStringLiteral("General"));
    m_tabs->setDocumentMode(false);
    connect(m_tabs, &QTabWidget::currentChanged, this, &SettingsWindow::updateConnectionTabShown);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

SettingsWindow::~SettingsWindow()
{
    m_connectionModel->setShown(false);
    // The forms hold on to the models, which as the first children would otherwise go first.
    m_tabs->disconnect(this);
    delete m_tabs;
}

void SettingsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateConnectionTabShown();
    m_generalModel->refreshLaunchAtLogin();
}

void SettingsWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Closed, hidden or minimized: the form has left the screen.
    m_connectionModel->setShown(false);
}

void SettingsWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::WindowStateChange:
        updateConnectionTabShown();
        break;
    case QEvent::ActivationChange:
        // The login entry may have been changed by hand or by the panel's switch meanwhile.
        if (isActiveWindow())
            m_generalModel->refreshLaunchAtLogin();
        break;
    default:
        break;
    }
}

void SettingsWindow::updateConnectionTabShown()
{
    m_connectionModel->setShown(isVisible() && !isMinimized()
                                && m_tabs->currentIndex() == ConnectionTabIndex);
}
