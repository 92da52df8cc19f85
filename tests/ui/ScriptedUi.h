#pragma once
// A UiServices for tests: answers message boxes from a script, in order, records every
// box, modal showing and shell open, and never blocks.
#include <QDialog>
#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "ui/app/UiServices.h"

namespace quindle::test {

struct ShownBox {
    QString text, caption;
    MsgIcon icon;
    MsgButtons buttons;
};

class ScriptedUi : public UiServices {
public:
    std::deque<int> answers;           // answers to Yes/No boxes (mrYes, mrNo); Yes when empty
    std::vector<ShownBox> boxes;       // every box shown, in order
    std::vector<QDialog*> modals;      // every dialog shown modally
    std::vector<QString> opened;       // every shell open
    std::vector<QString> errors;       // every standard error message
    std::deque<QString> saveNames;     // answers to save dialogs, in order; cancelled when empty
    std::vector<QString> saveAsked;    // the path each save dialog offered
    bool chmViewer = false;            // the answer of HasProgramFor
    int quits = 0;                     // calls of Quit
    // Runs while a dialog is "shown modally"; its return value is the modal result.
    std::function<int(QDialog*)> onModal;

    int MessageDlg(QWidget*, const QString& text, const QString& caption, MsgIcon icon,
                   MsgButtons buttons) override {
        boxes.push_back({text, caption, icon, buttons});
        if (buttons == MsgButtons::Ok) return mrOk;
        if (answers.empty()) return mrYes;
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
    int ShowModal(QDialog* d) override {
        modals.push_back(d);
        return onModal ? onModal(d) : mrNone;
    }
    void ShellOpen(const QString& target) override { opened.push_back(target); }
    void ShowError(QWidget*, const QString& message) override { errors.push_back(message); }
    QString GetSaveFileName(QWidget*, const QString&, const QString& suggested, const QString&) override {
        saveAsked.push_back(suggested);
        if (saveNames.empty()) return QString();
        const QString name = saveNames.front();
        saveNames.pop_front();
        return name;
    }
    bool HasProgramFor(const QString&) override { return chmViewer; }
    void Quit() override { ++quits; }
};

} // namespace quindle::test
