#include "ui/app/Application.h"

#include "ui/lists/EntryListWindow.h"
#include "settings/UserSettings.h"

#include <QAction>
#include <QMenu>

#include <QApplication>
#include <QFont>

namespace quindle {

void SetProgramFont() {
    QFont f = QApplication::font();
    f.setPointSize(8);
    QApplication::setFont(f);
}

Application::Application(UiServices& ui, const QString& programFile) {
    LoadDriveTable(ctx);
    MainForm = std::make_unique<TMainForm>(ctx, ui, programFile);
    CollectForm = std::make_unique<TCollectForm>(ctx, ui, *MainForm, MainForm.get());
    InfoForm = std::make_unique<TInfoForm>(ui, MainForm.get());
    SearchForm = std::make_unique<TSearchForm>(ctx, ui, MainForm.get());
    MainForm->CollectForm = CollectForm.get();
    MainForm->InfoForm = InfoForm.get();
    MainForm->SearchForm = SearchForm.get();
    Watch = std::make_unique<DiskWatch>(ctx, ui, *MainForm, *CollectForm);
    MainForm->Watch = Watch.get();
    Disks1 = MainForm->Collection1->addAction(QStringLiteral("Disks..."));
    Disks1->setObjectName(QStringLiteral("Disks1"));
    QObject::connect(Disks1, &QAction::triggered, MainForm.get(),
                     [this, &ui] { ShowDisksWindow(ctx, ui, MainForm.get(), Watch.get()); });
    Copies1 = MainForm->Collection1->addAction(QStringLiteral("Copies across the package..."));
    Copies1->setObjectName(QStringLiteral("Copies1"));
    QObject::connect(Copies1, &QAction::triggered, MainForm.get(),
                     [this, &ui] { ShowCopiesWindow(ctx, ui, MainForm.get()); });
    Unique1 = MainForm->Collection1->addAction(QStringLiteral("Files without a copy..."));
    Unique1->setObjectName(QStringLiteral("Unique1"));
    QObject::connect(Unique1, &QAction::triggered, MainForm.get(),
                     [this, &ui] { ShowUniqueWindow(ctx, ui, MainForm.get()); });
}

Application::~Application() {
    // Children of the main window: let the unique_ptrs release them before it goes.
    Watch.reset();
    SearchForm.reset();
    InfoForm.reset();
    CollectForm.reset();
    MainForm.reset();
}

} // namespace quindle
