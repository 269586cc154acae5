#include "ui/SettingsWindow.h"

#include "ui/SymbolImage.h"

#include <QTabWidget>
#include <QVBoxLayout>

SettingsWindow::SettingsWindow(AppState &state, SyncEngine &sync, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_state(state)
    , m_sync(sync)
    , m_tabs(new QTabWidget(this))
{
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(title);
    setWindowIcon(SymbolImage::appIcon());

    const QColor ink = palette().color(QPalette::WindowText);
    for (auto [name, symbol] : {std::pair {QStringLiteral("Connection"), QStringLiteral("network")},
                                std::pair {QStringLiteral("General"), QStringLiteral("gearshape")}}) {
        auto *page = new QWidget(m_tabs);
        page->setObjectName(name.toLower() + QStringLiteral("Tab"));
        page->setFixedSize(contentSize);
        m_tabs->addTab(page, SymbolImage::icon(symbol, ink), name);
    }

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
