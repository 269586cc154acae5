#pragma once

#include <QAbstractButton>
#include <QString>

// A command row in the plain style: a symbol and a title at the leading edge, no bezel, the
// whole row clickable. It shows a soft highlight under the pointer, so the row reads as a
// button on desktops where nothing else would tell.
class CommandButton : public QAbstractButton
{
    Q_OBJECT

public:
    CommandButton(const QString &symbol, const QString &title, QWidget *parent = nullptr);

    QString symbol() const { return m_symbol; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // The row's insets: 6 across, 5 above and below.
    static constexpr int horizontalInset = 6;
    static constexpr int verticalInset = 5;
    static constexpr int symbolBox = 18;
    static constexpr int symbolGap = 8;

protected:
    void paintEvent(QPaintEvent *event) override;
    // Space, as every button, and Enter too: both are what keyboard users try on a row.
    void keyPressEvent(QKeyEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QString m_symbol;
    bool m_hovered = false;
};
