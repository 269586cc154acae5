#pragma once

#include <QLabel>

// A named label that shows its text as it is, never as rich text: host names and device errors
// come from outside and may hold anything.
class PlainLabel : public QLabel
{
    Q_OBJECT

public:
    PlainLabel(const QString &name, const QString &text, QWidget *parent);
};
