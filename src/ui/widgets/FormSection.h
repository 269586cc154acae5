#pragma once

#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QSpinBox;
class SwitchButton;
class QVBoxLayout;

// A section of a grouped form: an optional title above a rounded surface that holds the rows,
// with a hairline between neighbouring rows. Hidden rows take no room and get no line.
class FormSection : public QWidget
{
    Q_OBJECT

public:
    // Inner margins of a row, so that rows of different kinds line up.
    static constexpr int rowHorizontalInset = 12;
    static constexpr int rowVerticalInset = 3;
    static constexpr int rowMinimumHeight = 29;

    // An empty title makes an untitled section.
    explicit FormSection(const QString &title, QWidget *parent = nullptr);

    QString title() const { return m_title; }
    QLabel *titleLabel() const { return m_titleLabel; }

    // A new empty row with a horizontal layout at the standard insets, for the caller to fill
    // (rowLayout()).
    QWidget *addRow(const QString &objectName);
    static QHBoxLayout *rowLayout(QWidget *row);
    // A row with the text at the leading edge and a switch at the trailing one; a click
    // anywhere on the row flips the switch, as a click on the switch does. The row is named
    // objectName, the switch objectName + "Switch".
    SwitchButton *addSwitchRow(const QString &objectName, const QString &text);
    // A row with the text at the leading edge and a box for a number of milliseconds, stepped by
    // 100, at the trailing one; the text is the box's label and accessible name. The row is named
    // objectName, the box objectName + "Box".
    QSpinBox *addMillisecondsRow(const QString &objectName, const QString &text, int minimum, int maximum);
    // A row with the text at the leading edge and a line to type in filling the rest; the text
    // is the line's label and accessible name. The row is named objectName, the line
    // objectName + "Line".
    QLineEdit *addTextRow(const QString &objectName, const QString &text, const QString &placeholder);
    // Inserts a row the caller built at index among the rows.
    void insertRow(int index, QWidget *row);
    int rowCount() const;
    // The surface the rows sit on, the parent for new rows.
    QWidget *surface() const { return m_surface; }

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyColors();

    QString m_title;
    QLabel *m_titleLabel = nullptr;
    QWidget *m_surface;
    QVBoxLayout *m_rows;
};
