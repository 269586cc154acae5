#include "ui/settings/AboutDialog.h"

#include "core/BuildInfo.h"
#include "ui/widgets/FormStyle.h"
#include "ui/widgets/PlainLabel.h"
#include "ui/widgets/SymbolImage.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QString orQuestionMark(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("?") : value;
}
} // namespace

QString AboutDialog::versionLineFor(const QString &version, const QString &build)
{
    return QStringLiteral("Version ") + orQuestionMark(version) + QStringLiteral(" (") + orQuestionMark(build)
        + QStringLiteral(")");
}

AboutDialog *AboutDialog::present(QWidget *parent, const std::optional<QString> &credits)
{
    QWidget *owner = parent ? parent->window() : nullptr;
    AboutDialog *dialog
        = owner ? owner->findChild<AboutDialog *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
    if (!dialog) {
        dialog = new AboutDialog(credits, owner);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    return dialog;
}

AboutDialog::AboutDialog(const std::optional<QString> &credits, QWidget *parent)
    : QDialog(parent)
    , m_version(new QLabel(this))
{
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(title);
    setWindowIcon(SymbolImage::appIcon());

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 16);
    layout->setSpacing(6);

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(SymbolImage::appPixmap(72, devicePixelRatioF()));
    icon->setAlignment(Qt::AlignHCenter);
    layout->addWidget(icon);
    layout->addSpacing(4);

    auto *nameLabel = new PlainLabel(QStringLiteral("aboutName"), name, this);
    nameLabel->setAlignment(Qt::AlignHCenter);
    nameLabel->setFont(FormStyle::scaled(font(), 1.3, QFont::Bold));
    layout->addWidget(nameLabel);

    m_version->setObjectName(QStringLiteral("aboutVersion"));
    m_version->setTextFormat(Qt::PlainText);
    m_version->setAlignment(Qt::AlignHCenter);
    m_version->setFont(FormStyle::caption(font()));
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_version->setText(
        versionLineFor(QString::fromUtf8(BuildInfo::version), QString::fromUtf8(BuildInfo::buildNumber)));
    layout->addWidget(m_version);

    if (credits) {
        layout->addSpacing(10);
        m_credits = new QPlainTextEdit(this);
        m_credits->setObjectName(QStringLiteral("aboutCredits"));
        m_credits->setReadOnly(true);
        m_credits->setFrameShape(QFrame::NoFrame);
        m_credits->setFont(FormStyle::caption(font()));
        m_credits->setPlainText(*credits);
        m_credits->setMinimumSize(420, 220);
        layout->addWidget(m_credits, 1);
    }

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addSpacing(6);
    layout->addWidget(buttons);

    applyColors();
}

QString AboutDialog::versionLine() const
{
    return m_version->text();
}

std::optional<QString> AboutDialog::credits() const
{
    if (!m_credits)
        return std::nullopt;
    return m_credits->toPlainText();
}

void AboutDialog::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColors();
}

void AboutDialog::applyColors()
{
    const QColor secondary = FormStyle::secondary(palette());
    FormStyle::setTextColor(m_version, secondary);
    if (m_credits) {
        QPalette credits = m_credits->palette();
        credits.setColor(QPalette::Text, secondary);
        credits.setColor(QPalette::Base, palette().color(QPalette::Window));
        m_credits->setPalette(credits);
    }
}
