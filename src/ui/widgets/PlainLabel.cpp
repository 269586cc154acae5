#include "ui/widgets/PlainLabel.h"

PlainLabel::PlainLabel(const QString &name, const QString &text, QWidget *parent)
    : QLabel(text, parent)
{
    setObjectName(name);
    setTextFormat(Qt::PlainText);
}
