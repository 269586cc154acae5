#pragma once

#include <QColor>
#include <QWidget>

// A filled circle of one colour, the size of its box: a state at a glance.
class Dot : public QWidget
{
    Q_OBJECT

public:
    Dot(int diameter, QWidget *parent);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_diameter;
    QColor m_color;
};
