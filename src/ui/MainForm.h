#pragma once
// TMainForm: the main window. Holds the drive selector, the directory tree, the search
// box and the message log, and runs the commands of its menus.
#include <QMainWindow>

#include "app/AppContext.h"
#include "ui/UiServices.h"

class QListWidget;

namespace quindle {

class TCollectForm;
class TInfoForm;
class TSearchForm;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // `programFile` is the program's own path; its folder is ProgramFolder.
    TMainForm(AppContext& ctx, UiServices& ui, const QString& programFile, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The other windows, created after this one.
    TCollectForm* CollectForm = nullptr;
    TInfoForm* InfoForm = nullptr;
    TSearchForm* SearchForm = nullptr;

    QListWidget* ListBox1 = nullptr; // the message log

    void AddToLog(const QString& text);

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void FormCreate(const QString& programFile);
    void SaveSettings();

    AppContext& ctx_;
    UiServices& ui_;
};

} // namespace quindle
