#include "ui/app/UiServices.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QRegularExpression>
#include <QFileInfo>
#include <QCoreApplication>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QUrl>

namespace quindle {

int QtUiServices::MessageDlg(QWidget* parent, const QString& text, const QString& caption, MsgIcon icon,
                             MsgButtons buttons) {
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (icon) {
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    }
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? mrYes : mrNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return mrOk;
}

int QtUiServices::ShowModal(QDialog* dialog) { return dialog->exec(); }

void QtUiServices::ShellOpen(const QString& target) {
    // A local file opens by its path; anything with a scheme opens as an address.
    if (target.startsWith('/') || QFileInfo::exists(target))
        QDesktopServices::openUrl(QUrl::fromLocalFile(target));
    else
        QDesktopServices::openUrl(QUrl(target, QUrl::TolerantMode));
}

bool QtUiServices::HasProgramFor(const QString& file) {
    // The desktop's default application for the file's type, as xdg-open would choose it.
    const QString type = QMimeDatabase().mimeTypeForFile(file, QMimeDatabase::MatchExtension).name();
    QProcess query;
    query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), type});
    if (!query.waitForFinished(3000) || query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0)
        return false;
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

QString QtUiServices::GetSaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                                      const QString& filter) {
    QFileDialog dialog(parent, caption, suggested, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // "CSV files (*.csv)": a name typed without a suffix gets ".csv".
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(filter);
    if (m.hasMatch()) dialog.setDefaultSuffix(m.captured(1));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
    return dialog.selectedFiles().first();
}

void QtUiServices::Quit() { QCoreApplication::quit(); }

void QtUiServices::ShowError(QWidget* parent, const QString& message) {
    QMessageBox::critical(parent, QStringLiteral("Quindle"), message);
}

} // namespace quindle
