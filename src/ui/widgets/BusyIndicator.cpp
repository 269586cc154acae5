#include "ui/widgets/BusyIndicator.h"

#include <QPainter>

namespace {
constexpr int frameInterval = 50; // ms
constexpr int stepDegrees = 30;
} // namespace

BusyIndicator::BusyIndicator(int diameter, QWidget *parent)
    : QWidget(parent)
    , m_diameter(diameter)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("Searching"));
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(frameInterval);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + stepDegrees) % 360;
        update();
    });
}

QSize BusyIndicator::sizeHint() const
{
    return {m_diameter, m_diameter};
}

void BusyIndicator::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer.start();
}

void BusyIndicator::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer.stop();
}

void BusyIndicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = std::max(1.5, m_diameter / 8.0);
    const QRectF box = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.15f);
    painter.setPen(QPen(track, pen));
    painter.drawEllipse(box);
    QColor arc = palette().color(QPalette::WindowText);
    arc.setAlphaF(0.6f);
    painter.setPen(QPen(arc, pen, Qt::SolidLine, Qt::RoundCap));
    // Qt counts angles anticlockwise in sixteenths of a degree; the arc turns clockwise.
    painter.drawArc(box, (90 - m_angle) * 16, -100 * 16);
}
