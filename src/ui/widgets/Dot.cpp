#include "ui/widgets/Dot.h"

#include <QPainter>

Dot::Dot(int diameter, QWidget *parent)
    : QWidget(parent)
    , m_diameter(diameter)
{
    setFixedSize(diameter, diameter);
}

void Dot::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void Dot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawEllipse(QRectF(0, 0, m_diameter, m_diameter));
}
