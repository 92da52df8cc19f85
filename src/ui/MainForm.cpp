#include "ui/MainForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QListWidget>
#include <QStandardPaths>

#include "ui/CollectForm.h"
#include "ui/Settings.h"
#include "ui/Text.h"

namespace quindle {

TMainForm::TMainForm(AppContext& ctx, UiServices& ui, const QString& programFile, QWidget* parent)
    : QMainWindow(parent), ctx_(ctx), ui_(ui) {
    setWindowTitle(QStringLiteral("Quindle"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    auto* client = new QWidget(this);
    client->setFixedSize(351, 400);
    setCentralWidget(client);

    ListBox1 = new QListWidget(client);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(3, 307, 345, 88);

    FormCreate(programFile);
}

TMainForm::~TMainForm() = default;

void TMainForm::FormCreate(const QString& programFile) {
    ctx_.AddToLog = [this](const std::string& line) { AddToLog(ToQ(line)); };
    ctx_.ProcessMessages = [] { QCoreApplication::processEvents(); };

    const QString userData =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Quindle");
    SetUpFolders(ctx_, FromQ(programFile), FromQ(userData));
    ctx_.InfoSection = "Special Information about this disk by Quindle";
    ctx_.AbortFlag = true;

    AddToLog(QStringLiteral("Welcome to Quindle!"));
    const int top = ReadSetupInt("top").value_or(15);
    const int left = ReadSetupInt("left").value_or(15);
    move(left, top);
    QCoreApplication::processEvents();
}

void TMainForm::AddToLog(const QString& text) {
    ListBox1->addItem(text);
    ListBox1->setCurrentRow(ListBox1->count() - 1);
    ListBox1->scrollToItem(ListBox1->currentItem());
}

void TMainForm::SaveSettings() {
    const int display = CollectForm ? CollectForm->DisplayIndex() : 0;
    WriteSetup(y(), x(), display);
}

void TMainForm::closeEvent(QCloseEvent* e) {
    SaveSettings();
    e->accept();
}

} // namespace quindle
