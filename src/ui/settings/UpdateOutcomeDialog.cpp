#include "ui/settings/UpdateOutcomeDialog.h"

#include "core/BuildInfo.h"
#include "platform/Desktop.h"
#include "ui/widgets/SymbolImage.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

UpdateOutcomeDialog::Texts UpdateOutcomeDialog::textsFor(const UpdateController::Outcome &outcome,
                                                         const QString &currentVersion)
{
    using Kind = UpdateController::Outcome::Kind;
    const QString current = currentVersion.isEmpty() ? QStringLiteral("?") : currentVersion;
    Texts texts;
    switch (outcome.kind) {
    case Kind::UpToDate:
        texts.heading = QStringLiteral("Quorvel is up to date");
        texts.message = QStringLiteral("Version %1 is the newest version available.").arg(current);
        texts.closeButton = QStringLiteral("OK");
        break;
    case Kind::NewerVersion:
        texts.heading = QStringLiteral("Quorvel %1 is available").arg(outcome.version);
        texts.message = QStringLiteral("You have version %1.").arg(current);
        if (outcome.releaseNotes.isValid() && !outcome.releaseNotes.isEmpty())
            texts.notesLink = QStringLiteral("<a href=\"%1\">What’s new in %2</a>")
                                  .arg(outcome.releaseNotes.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                       outcome.version.toHtmlEscaped());
        if (outcome.downloadPage.isValid() && !outcome.downloadPage.isEmpty())
            texts.downloadButton = QStringLiteral("Open Download Page");
        texts.closeButton = QStringLiteral("Not Now");
        break;
    case Kind::Failed:
        texts.heading = QStringLiteral("Update check failed");
        texts.message = outcome.errorMessage.isEmpty() ? QStringLiteral("The update feed could not be read.")
                                                       : outcome.errorMessage;
        texts.closeButton = QStringLiteral("OK");
        break;
    }
    return texts;
}

UpdateOutcomeDialog::UpdateOutcomeDialog(Desktop &desktop, QWidget *parent)
    : QDialog(parent)
    , m_desktop(desktop)
    , m_symbol(new QLabel(this))
    , m_heading(new QLabel(this))
    , m_message(new QLabel(this))
    , m_notes(new QLabel(this))
    , m_download(new QPushButton(this))
    , m_close(new QPushButton(this))
{
    setObjectName(QStringLiteral("updateOutcomeDialog"));
    setWindowTitle(QStringLiteral("Software Update"));
    setWindowIcon(SymbolImage::appIcon());
    setModal(false);

    m_symbol->setPixmap(SymbolImage::appPixmap(48, devicePixelRatioF()));
    m_symbol->setAlignment(Qt::AlignTop);
    QFont bold = font();
    bold.setWeight(QFont::Bold);
    m_heading->setFont(bold);
    m_heading->setObjectName(QStringLiteral("heading"));
    m_heading->setTextFormat(Qt::PlainText);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_notes->setObjectName(QStringLiteral("notes"));
    m_notes->setTextFormat(Qt::RichText);
    m_notes->setOpenExternalLinks(true);
    m_download->setObjectName(QStringLiteral("download"));
    m_close->setObjectName(QStringLiteral("close"));

    auto *texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(m_heading);
    texts->addWidget(m_message);
    texts->addWidget(m_notes);
    auto *top = new QHBoxLayout;
    top->setSpacing(14);
    top->addWidget(m_symbol, 0, Qt::AlignTop);
    top->addLayout(texts, 1);

    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(m_download, QDialogButtonBox::AcceptRole);
    buttons->addButton(m_close, QDialogButtonBox::RejectRole);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    setMinimumWidth(380);

    connect(m_download, &QPushButton::clicked, this, [this] {
        m_desktop.openUrl(m_outcome.downloadPage);
        close();
    });
    connect(m_close, &QPushButton::clicked, this, &QDialog::close);
}

void UpdateOutcomeDialog::setOutcome(const UpdateController::Outcome &outcome)
{
    m_outcome = outcome;
    const Texts texts = textsFor(outcome, QString::fromUtf8(BuildInfo::version));
    m_heading->setText(texts.heading);
    m_message->setText(texts.message);
    m_notes->setText(texts.notesLink);
    m_notes->setVisible(!texts.notesLink.isEmpty());
    m_download->setText(texts.downloadButton);
    m_download->setVisible(!texts.downloadButton.isEmpty());
    m_close->setText(texts.closeButton);
    m_download->setDefault(!texts.downloadButton.isEmpty());
    m_close->setDefault(texts.downloadButton.isEmpty());
    adjustSize();
}

void UpdateOutcomeDialog::present()
{
    show();
    raise();
    activateWindow();
}
