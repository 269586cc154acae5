#include "ui/widgets/SwitchButton.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QStyleOptionFocusRect>
#include <QVariantAnimation>

namespace {
constexpr int trackWidth = 32;
constexpr int trackHeight = 18;
constexpr int knobMargin = 2;
} // namespace

SwitchButton::SwitchButton(QWidget *parent)
    : QAbstractButton(parent)
    , m_animation(new QVariantAnimation(this))
{
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_animation->setDuration(120);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_knob = value.toReal();
        update();
    });
    connect(this, &QAbstractButton::toggled, this, [this](bool checked) {
        moveKnob(checked);
        if (!m_showing)
            Q_EMIT switched(checked);
    });
}

SwitchButton::~SwitchButton() = default;

QSize SwitchButton::sizeHint() const
{
    return {trackWidth + 2, trackHeight + 2};
}

void SwitchButton::showOn(bool on)
{
    const QScopedValueRollback showing(m_showing, true);
    setChecked(on);
}

bool SwitchButton::hitButton(const QPoint &pos) const
{
    return rect().contains(pos);
}

void SwitchButton::moveKnob(bool checked)
{
    const qreal target = checked ? 1.0 : 0.0;
    m_animation->stop();
    if (!isVisible()) {
        m_knob = target;
        update();
        return;
    }
    m_animation->setStartValue(m_knob);
    m_animation->setEndValue(target);
    m_animation->start();
}

void SwitchButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(1, (height() - trackHeight) / 2.0, trackWidth, trackHeight);

    const QPalette &pal = palette();
    QColor off = pal.color(QPalette::WindowText);
    off.setAlphaF(0.22f);
    const QColor on = pal.color(QPalette::Highlight);
    QColor fill = QColor::fromRgbF(off.redF() + (on.redF() - off.redF()) * float(m_knob),
                                   off.greenF() + (on.greenF() - off.greenF()) * float(m_knob),
                                   off.blueF() + (on.blueF() - off.blueF()) * float(m_knob),
                                   off.alphaF() + (on.alphaF() - off.alphaF()) * float(m_knob));
    if (!isEnabled())
        fill.setAlphaF(fill.alphaF() * 0.45f);

    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, trackHeight / 2.0, trackHeight / 2.0);

    const qreal diameter = trackHeight - 2 * knobMargin;
    const qreal x = track.left() + knobMargin + (track.width() - 2 * knobMargin - diameter) * m_knob;
    const QRectF knob(x, track.top() + knobMargin, diameter, diameter);
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(knob.translated(0, 0.6));
    painter.setBrush(isEnabled() ? QColor(Qt::white) : QColor(245, 245, 245));
    painter.drawEllipse(knob);

    // The ring is for keyboard users; a panel that just opened has focus on its first switch
    // without anyone having pressed Tab.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        QColor ring = pal.color(QPalette::Highlight);
        ring.setAlphaF(0.55f);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(ring, 2));
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), trackHeight / 2.0 + 1, trackHeight / 2.0 + 1);
    }
}

void SwitchButton::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (!event->isAutoRepeat())
            click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}
