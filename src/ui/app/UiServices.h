#pragma once
// The one door through which forms show message boxes, run dialogs modally and ask the
// desktop to open a file or an address. The program uses QtUiServices; tests use a
// scripted implementation that answers in order and records what was shown.
#include <QString>

class QWidget;
class QDialog;

namespace quindle {

enum class MsgIcon { Information, Exclamation, Question, Error };
enum class MsgButtons { Ok, YesNo };

// Modal results, numbered as the dialogs' callers know them.
enum ModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7 };

class UiServices {
public:
    virtual ~UiServices() = default;
    // Shows a modal message box; returns mrOk, mrYes or mrNo.
    virtual int MessageDlg(QWidget* parent, const QString& text, const QString& caption, MsgIcon icon,
                           MsgButtons buttons) = 0;
    // Shows a dialog modally; returns its modal result.
    virtual int ShowModal(QDialog* dialog) = 0;
    // The desktop's "open" for a file, a web address or a mail address; the outcome is ignored.
    virtual void ShellOpen(const QString& target) = 0;
    // The application's standard error message, for errors no command catches.
    virtual void ShowError(QWidget* parent, const QString& message) = 0;
    // Asks where to save a file: `suggested` is the path offered, `filter` the file types
    // ("CSV files (*.csv)"), whose first suffix is added to a name typed without one. An
    // existing file is only chosen once the user agreed to replace it. Empty: cancelled.
    virtual QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                                    const QString& filter) = 0;
    // Whether the desktop has a program that opens this file (by its type).
    virtual bool HasProgramFor(const QString& file) { return (void)file, false; }
    // Ends the program once control returns to its message loop.
    virtual void Quit() {}
};

class QtUiServices : public UiServices {
public:
    int MessageDlg(QWidget* parent, const QString& text, const QString& caption, MsgIcon icon,
                   MsgButtons buttons) override;
    int ShowModal(QDialog* dialog) override;
    void ShellOpen(const QString& target) override;
    void ShowError(QWidget* parent, const QString& message) override;
    QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& suggested,
                            const QString& filter) override;
    bool HasProgramFor(const QString& file) override;
    void Quit() override;
};

} // namespace quindle
