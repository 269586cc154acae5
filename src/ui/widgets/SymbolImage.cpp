#include "ui/widgets/SymbolImage.h"

#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>

#include <memory>

// The resources live in this static library; a program that links it must register them once.
static void initQuorvelResources()
{
    Q_INIT_RESOURCE(quorvel);
}

namespace {

const QString appIconName = QStringLiteral("app.quorvel.Quorvel");

QString resourcePath(const QString &name)
{
    static const bool registered = (initQuorvelResources(), true);
    Q_UNUSED(registered);
    return QStringLiteral(":/icons/") + name + QStringLiteral(".svg");
}

// Parsed once per name; views redraw often and the files never change.
QSvgRenderer *renderer(const QString &name)
{
    static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
    auto it = cache.find(name);
    if (it == cache.end()) {
        auto svg = std::make_shared<QSvgRenderer>(resourcePath(name));
        it = cache.insert(name, svg->isValid() ? svg : nullptr);
    }
    return it.value().get();
}

// color invalid: keep the drawing's own colours (the application icon).
QPixmap render(const QString &name, QSize size, const QColor &color, qreal devicePixelRatio)
{
    QSvgRenderer *svg = renderer(name);
    if (!svg || size.isEmpty())
        return {};
    const QSize pixels = (QSizeF(size) * devicePixelRatio).toSize();
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        // Square symbols stay square inside a wider or taller box.
        const int side = std::min(pixels.width(), pixels.height());
        const QRect target((pixels.width() - side) / 2, (pixels.height() - side) / 2, side, side);
        svg->render(&painter, target);
        if (color.isValid()) {
            painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
            painter.fillRect(image.rect(), color);
        }
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

// Draws the symbol at exactly the size asked for, so menus, tabs and HiDPI screens get crisp
// strokes instead of a scaled bitmap.
class SymbolIconEngine : public QIconEngine
{
public:
    SymbolIconEngine(QString name, QColor color)
        : m_name(std::move(name))
        , m_color(std::move(color))
    { }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const QPixmap image = render(m_name, rect.size(), colorFor(mode, state), ratio);
        painter->drawPixmap(rect, image);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return render(m_name, size, colorFor(mode, state), 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        return render(m_name, size / scale, colorFor(mode, state), scale);
    }

    QIconEngine *clone() const override { return new SymbolIconEngine(m_name, m_color); }
    QString key() const override { return QStringLiteral("quorvel-symbol"); }

    // Exporters (the tray over D-Bus, exported menus) send pixmaps at the sizes listed here.
    // No icon name is given on purpose: a theme icon of the same name would replace ours.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}};
    }

private:
    QColor colorFor(QIcon::Mode mode, QIcon::State) const
    {
        if (mode != QIcon::Disabled || !m_color.isValid())
            return m_color;
        QColor faded = m_color;
        faded.setAlphaF(faded.alphaF() * 0.4f);
        return faded;
    }

    QString m_name;
    QColor m_color;
};

} // namespace

const QStringList &SymbolImage::names()
{
    static const QStringList all {
        QStringLiteral("metronome"),
        QStringLiteral("metronome.fill"),
        QStringLiteral("exclamationmark.triangle.fill"),
        QStringLiteral("pause.circle"),
        QStringLiteral("arrow.triangle.2.circlepath"),
        QStringLiteral("power.circle"),
        QStringLiteral("arrow.down.circle"),
        QStringLiteral("gearshape"),
        QStringLiteral("power"),
        QStringLiteral("network"),
        QStringLiteral("dot.radiowaves.left.and.right"),
    };
    return all;
}

bool SymbolImage::exists(const QString &name)
{
    return names().contains(name) && renderer(name) != nullptr;
}

QPixmap SymbolImage::pixmap(const QString &name, int size, const QColor &color, qreal devicePixelRatio)
{
    if (!names().contains(name))
        return {};
    return render(name, QSize(size, size), color.isValid() ? color : QColor(Qt::black), devicePixelRatio);
}

QIcon SymbolImage::icon(const QString &name, const QColor &color)
{
    if (!names().contains(name))
        return {};
    QIcon icon(new SymbolIconEngine(name, color.isValid() ? color : QColor(Qt::black)));
    icon.setIsMask(true);
    return icon;
}

QIcon SymbolImage::appIcon()
{
    return QIcon(new SymbolIconEngine(appIconName, QColor()));
}

QPixmap SymbolImage::appPixmap(int size, qreal devicePixelRatio)
{
    return render(appIconName, QSize(size, size), QColor(), devicePixelRatio);
}
