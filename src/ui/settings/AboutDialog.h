#pragma once

#include <QDialog>

#include <optional>

class QLabel;
class QPlainTextEdit;

// The About box: the application icon, "Quorvel", its version and build, and the credits in a
// small dimmed text below when there are any.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    static inline const QString title = QStringLiteral("About Quorvel");
    static inline const QString name = QStringLiteral("Quorvel");

    // "Version 0.1.0 (1)"; an unknown part reads "?".
    static QString versionLineFor(const QString &version, const QString &build);

    // The dialog in front of parent's window; a second call brings the open one forward.
    static AboutDialog *present(QWidget *parent, const std::optional<QString> &credits);

    explicit AboutDialog(const std::optional<QString> &credits, QWidget *parent = nullptr);

    QString versionLine() const;
    // The credits shown, or nothing.
    std::optional<QString> credits() const;

protected:
    void changeEvent(QEvent *event) override;

private:
    void applyColors();

    QLabel *m_version;
    QPlainTextEdit *m_credits = nullptr;
};
