#include "ui/widgets/FormSection.h"

#include "ui/widgets/FormStyle.h"
#include "ui/widgets/PlainLabel.h"
#include "ui/widgets/SwitchButton.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr qreal cornerRadius = 8;

// The rounded panel under the rows, with a hairline above every shown row but the first.
class Surface : public QWidget
{
public:
    explicit Surface(QWidget *parent)
        : QWidget(parent)
    { }

protected:
    bool event(QEvent *event) override
    {
        // Rows shown, hidden or resized move the lines.
        if (event->type() == QEvent::LayoutRequest)
            update();
        return QWidget::event(event);
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(FormStyle::sectionOutline(palette()), 1));
        painter.setBrush(FormStyle::sectionSurface(palette()));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);

        painter.setRenderHint(QPainter::Antialiasing, false);
        const QColor line = FormStyle::rowSeparator(palette());
        bool first = true;
        for (QObject *child : children()) {
            auto *row = qobject_cast<QWidget *>(child);
            if (!row || row->isHidden() || !layout() || layout()->indexOf(row) < 0)
                continue;
            if (!first) {
                painter.fillRect(QRect(FormSection::rowHorizontalInset, row->y(),
                                       width() - 2 * FormSection::rowHorizontalInset, 1),
                                 line);
            }
            first = false;
        }
    }
};

// A row whose whole width is the switch's click target.
class SwitchRow : public QWidget
{
public:
    explicit SwitchRow(QWidget *parent)
        : QWidget(parent)
    { }

    SwitchButton *toggle = nullptr;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (toggle && toggle->isEnabled() && event->button() == Qt::LeftButton
            && rect().contains(event->pos()))
            toggle->click();
        QWidget::mouseReleaseEvent(event);
    }
};

} // namespace

FormSection::FormSection(const QString &title, QWidget *parent)
    : QWidget(parent)
    , m_title(title)
    , m_surface(new Surface(this))
    , m_rows(new QVBoxLayout(m_surface))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    if (!title.isEmpty()) {
        m_titleLabel = new PlainLabel(QStringLiteral("sectionTitle"), title, this);
        m_titleLabel->setFont(FormStyle::sectionTitle(font()));
        m_titleLabel->setContentsMargins(rowHorizontalInset - 2, 0, 0, 0);
        layout->addWidget(m_titleLabel);
    }
    m_surface->setObjectName(QStringLiteral("sectionSurface"));
    m_rows->setContentsMargins(0, 1, 0, 1);
    m_rows->setSpacing(0);
    layout->addWidget(m_surface);
    applyColors();
}

QWidget *FormSection::addRow(const QString &objectName)
{
    auto *row = new QWidget(m_surface);
    row->setObjectName(objectName);
    row->setMinimumHeight(rowMinimumHeight);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(rowHorizontalInset, rowVerticalInset, rowHorizontalInset, rowVerticalInset);
    layout->setSpacing(8);
    insertRow(rowCount(), row);
    return row;
}

SwitchButton *FormSection::addSwitchRow(const QString &objectName, const QString &text)
{
    auto *row = new SwitchRow(m_surface);
    row->setObjectName(objectName);
    row->setMinimumHeight(rowMinimumHeight);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(rowHorizontalInset, rowVerticalInset, rowHorizontalInset, rowVerticalInset);
    layout->setSpacing(8);
    auto *label = new PlainLabel(objectName + QStringLiteral("Text"), text, row);
    auto *toggle = new SwitchButton(row);
    toggle->setObjectName(objectName + QStringLiteral("Switch"));
    toggle->setAccessibleName(text);
    row->toggle = toggle;
    layout->addWidget(label, 1);
    layout->addWidget(toggle, 0, Qt::AlignVCenter);
    insertRow(rowCount(), row);
    return toggle;
}

QSpinBox *FormSection::addMillisecondsRow(const QString &objectName, const QString &text, int minimum,
                                          int maximum)
{
    QWidget *row = addRow(objectName);
    auto *label = new PlainLabel(objectName + QStringLiteral("Text"), text, row);
    auto *box = new QSpinBox(row);
    box->setObjectName(objectName + QStringLiteral("Box"));
    box->setRange(minimum, maximum);
    box->setSingleStep(100);
    box->setSuffix(QStringLiteral(" ms"));
    // A typed number counts once it is complete, not at every digit on the way.
    box->setKeyboardTracking(false);
    box->setAccessibleName(text);
    label->setBuddy(box);
    rowLayout(row)->addWidget(label, 1);
    rowLayout(row)->addWidget(box, 0, Qt::AlignVCenter);
    return box;
}

QLineEdit *FormSection::addTextRow(const QString &objectName, const QString &text, const QString &placeholder)
{
    QWidget *row = addRow(objectName);
    auto *label = new PlainLabel(objectName + QStringLiteral("Text"), text, row);
    auto *line = new QLineEdit(row);
    line->setObjectName(objectName + QStringLiteral("Line"));
    line->setPlaceholderText(placeholder);
    line->setAccessibleName(text);
    line->setClearButtonEnabled(true);
    label->setBuddy(line);
    rowLayout(row)->addWidget(label, 0);
    rowLayout(row)->addWidget(line, 1, Qt::AlignVCenter);
    return line;
}

QHBoxLayout *FormSection::rowLayout(QWidget *row)
{
    return qobject_cast<QHBoxLayout *>(row->layout());
}

void FormSection::insertRow(int index, QWidget *row)
{
    row->setParent(m_surface);
    m_rows->insertWidget(index, row);
}

int FormSection::rowCount() const
{
    return m_rows->count();
}

void FormSection::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void FormSection::applyColors()
{
    if (m_titleLabel)
        FormStyle::setTextColor(m_titleLabel, FormStyle::secondary(palette()));
}
