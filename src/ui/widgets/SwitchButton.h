#pragma once

#include <QAbstractButton>

class QVariantAnimation;

// A small on/off switch with no label of its own, for rows that carry their text beside it.
// switched(bool) carries the user's wish however it was given: a click, Space, or the
// accessible toggle or press action that a screen reader calls (which toggles the button
// without a click). showOn() from code moves the knob without it, so what is shown and what
// is stored cannot part.
class SwitchButton : public QAbstractButton
{
    Q_OBJECT

public:
    explicit SwitchButton(QWidget *parent = nullptr);
    ~SwitchButton() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // Shows what the setting holds; emits no switched().
    void showOn(bool on);

Q_SIGNALS:
    void switched(bool on);

protected:
    void paintEvent(QPaintEvent *event) override;
    // Space, as every button, and Enter too: both are what keyboard users try on a row.
    void keyPressEvent(QKeyEvent *event) override;
    bool hitButton(const QPoint &pos) const override;

private:
    void moveKnob(bool checked);

    qreal m_knob = 0.0; // 0 = off, 1 = on
    bool m_showing = false;
    QVariantAnimation *m_animation;
};
