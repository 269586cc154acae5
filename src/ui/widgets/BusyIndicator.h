#pragma once

#include <QTimer>
#include <QWidget>

// A small indeterminate progress indicator: an arc that turns while it is on screen.
class BusyIndicator : public QWidget
{
    Q_OBJECT

public:
    explicit BusyIndicator(int diameter, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    bool isSpinning() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    int m_diameter;
    int m_angle = 0;
    QTimer m_timer;
};
