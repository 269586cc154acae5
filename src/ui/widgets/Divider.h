#pragma once

#include <QWidget>

// A full-width hairline between two sections, in the palette's divider colour.
class Divider : public QWidget
{
    Q_OBJECT

public:
    explicit Divider(QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};
