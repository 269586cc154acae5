#pragma once

#include <QWidget>

// One line of text that, when it does not fit, is shortened in its middle with an ellipsis so
// that both ends stay readable: a path keeps its folder's start and its file name. The whole
// text is the tooltip and the accessible name.
class ElidedLabel : public QWidget
{
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    // What is drawn at the current width.
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_text;
};
