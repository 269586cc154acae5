#include "ui/widgets/CommandButton.h"

#include "ui/widgets/FormStyle.h"
#include "ui/widgets/SymbolImage.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QPainter>

CommandButton::CommandButton(const QString &symbol, const QString &title, QWidget *parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
{
    setText(title);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize CommandButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int height = std::max(metrics.height(), 16) + 2 * verticalInset;
    const int width = 2 * horizontalInset + symbolBox + symbolGap + metrics.horizontalAdvance(text());
    return {width, height};
}

void CommandButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CommandButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void CommandButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette &pal = palette();

    const bool keyboardFocus = hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange);
    if (isEnabled() && (m_hovered || isDown() || keyboardFocus)) {
        QColor wash = pal.color(QPalette::WindowText);
        wash.setAlphaF(isDown() ? 0.16f : 0.08f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(wash);
        painter.drawRoundedRect(QRectF(rect()), 5, 5);
    }

    QColor ink = pal.color(QPalette::WindowText);
    if (!isEnabled())
        ink.setAlphaF(0.38f);

    const int symbolSize = FormStyle::symbolSize;
    const QRect box(horizontalInset, 0, symbolBox, height());
    const QPixmap image = SymbolImage::pixmap(m_symbol, symbolSize, ink, devicePixelRatioF());
    painter.drawPixmap(box.center().x() - symbolSize / 2 + 1, (height() - symbolSize) / 2, image);

    painter.setPen(ink);
    const QRect textRect(box.right() + 1 + symbolGap, 0, width() - box.right() - symbolGap - horizontalInset,
                         height());
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
}

void CommandButton::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (!event->isAutoRepeat())
            click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}
