#pragma once

#include <QAbstractButton>

class QVariantAnimation;

// A small on/off switch with no label of its own, for rows that carry their text beside it.
// clicked(bool) comes only from the user; setChecked() from code moves the knob silently.
class SwitchButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit SwitchButton(QWidget *parent = nullptr);
    ~SwitchButton() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &pos) const override;

private:
    void moveKnob(bool checked);

    qreal m_knob = 0.0; // 0 = off, 1 = on
    QVariantAnimation *m_animation;
};
