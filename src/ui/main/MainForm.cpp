#include "ui/main/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QLayout>
#include <QMenuBar>
#include <QMoveEvent>
#include <QScreen>
#include <QTabWidget>

#include "platform/Errors.h"
#include "records/Memorizer.h"
#include "records/StaleTempFiles.h"
#include "ui/frames/BlockedCloseFilter.h"
#include "ui/package/CollectForm.h"
#include "ui/app/Contact.h"
#include "ui/widgets/DriveComboView.h"
#include "ui/main/InfoForm.h"
#include "ui/widgets/OutlineView.h"
#include "ui/widgets/OvalButton.h"
#include "ui/findfiles/FindFilesWindow.h"
#include "ui/search/PackageSearch.h"
#include "ui/app/Resources.h"
#include "ui/search/SearchForm.h"
#include "ui/app/Settings.h"
#include "ui/shared/Text.h"
#include "ui/widgets/WalkTicker.h"
#include "ui/frames/WindowFrame.h"

namespace quindle {

namespace {
constexpr TColor kOlive = 0x008080; // transparent colour of the Stop glyph
constexpr TColor kPurple = 0x800080; // transparent colour of the Search glyph

void SetGlyph(TOvalButton* b, const char* resource, TColor transparent) {
    b->SetGlyph(QImage(QString::fromLatin1(resource)));
    b->SetNumGlyphs(2);
    b->SetTransparentColor(transparent);
}
} // namespace

TMainForm::TMainForm(AppContext& ctx, UiServices& ui, const QString& programFile, QWidget* parent)
    : QMainWindow(parent), DriveComboBox1(ctx), DirectoryOutline1(ctx, /*loading=*/true), FileListBox1(ctx),
      ctx_(ctx), ui_(ui) {
    InitResources();
    setWindowTitle(QStringLiteral("Quindle"));
    setWindowIcon(QIcon(QStringLiteral(":/PROGRAM")));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    CreateControls();
    CreateMenus();
    // A fixed size: the window manager gets equal minimum and maximum sizes, which X11
    // window managers honour by offering no resizing.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    layout()->activate();
    FormCreate(programFile);
    // Qt drops a close of a window that a modal dialog blocks. While the package dialog
    // memorizes, the walk runs inside it: a close then ends the walk and the program, as
    // it does during Drive > Open. Otherwise a blocked window stays open, as it should.
    blockedClose_ = std::make_unique<BlockedCloseFilter>(*this, [this] {
        if (!CollectForm || !CollectForm->Memorizing()) return false;
        // Queued: not from inside the platform's event reading. A close from the program
        // itself passes the modal block.
        QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
        return true;
    });
}

TMainForm::~TMainForm() {
    blockedClose_.reset();
    QApplication::instance()->removeEventFilter(this);
    // The views observe models that are members of this window: they go first.
    delete DriveComboView1;
    delete DirectoryOutlineView1;
}

void TMainForm::CreateControls() {
    auto* client = new QWidget(this);
    client->setFixedSize(351, 400);
    setCentralWidget(client);

    Panel1 = new QFrame(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(3, 8, 345, 241);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(2);

    // The selector's stored text case is applied before its change handler is attached.
    DriveComboBox1.SetTextCase(tcUpperCase);
    DriveComboView1 = new DriveComboView(DriveComboBox1, Panel1);
    DriveComboView1->setObjectName(QStringLiteral("DriveComboBox1"));
    DriveComboView1->setGeometry(6, 6, 155, 19);
    DriveComboView1->setToolTip(QStringLiteral("Drive selection"));

    StopButton = new TOvalButton(Panel1);
    StopButton->setObjectName(QStringLiteral("StopButton"));
    StopButton->setGeometry(215, 5, 73, 25);
    StopButton->SetCaption(QStringLiteral("Stop"));
    StopButton->setToolTip(QStringLiteral("Stop now?"));
    StopButton->setCursor(Qt::PointingHandCursor);
    StopButton->SetBevelWidth(2);
    SetGlyph(StopButton, ":/STOPGLYPH", kOlive);
    StopButton->SetLayout(blGlyphLeft);
    StopButton->OnClick = [this](QObject*) { StopButtonClick(); };

    DirectoryOutline1.SetTextCase(tcAsIs);
    DirectoryOutline1.Options = ooDrawFocusRect;
    DirectoryOutline1.SetPicture(opLeaf, "MAINLEAF");
    DirectoryOutlineView1 = new OutlineView(DirectoryOutline1, Panel1);
    DirectoryOutlineView1->setObjectName(QStringLiteral("DirectoryOutline1"));
    DirectoryOutlineView1->setGeometry(6, 30, 332, 203);

    FileListBox1.SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);

    GroupBox1 = new QGroupBox(QStringLiteral(" Find this item... "), client);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(3, 252, 345, 49);

    SearchEdit = new QComboBox(GroupBox1);
    SearchEdit->setObjectName(QStringLiteral("SearchEdit"));
    SearchEdit->setEditable(true);
    SearchEdit->setInsertPolicy(QComboBox::NoInsert); // the search keeps the history itself
    SearchEdit->setGeometry(8, 17, 249, 21);
    SearchEdit->setToolTip(QStringLiteral("Type the item to find in the package"));

    SearchButton = new TOvalButton(GroupBox1);
    SearchButton->setObjectName(QStringLiteral("SearchButton"));
    SearchButton->setGeometry(265, 12, 72, 32);
    SearchButton->SetCaption(QStringLiteral("Search"));
    SearchButton->setToolTip(QStringLiteral("Start searching"));
    SearchButton->setCursor(Qt::PointingHandCursor);
    SearchButton->SetBevelWidth(2);
    SetGlyph(SearchButton, ":/SEARCHGLYPH", kPurple);
    SearchButton->SetLayout(blGlyphLeft);
    SearchButton->OnClick = [this](QObject*) { SearchButtonClick(); };

    ListBox1 = new QListWidget(client);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(3, 307, 345, 88);

    // The window sees the key releases of all its controls first.
    QApplication::instance()->installEventFilter(this);
}

void TMainForm::CreateMenus() {
    QMenuBar* MainMenu1 = menuBar();
    auto item = [this](QMenu* menu, const char* name, const QString& caption, const QKeySequence& shortcut,
                       void (TMainForm::*handler)()) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        if (!shortcut.isEmpty()) a->setShortcut(shortcut);
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return a;
    };
    File1 = MainMenu1->addMenu(QStringLiteral("&File"));
    Quitter1 = item(File1, "Quitter1", QStringLiteral("E&xit"), {}, &TMainForm::Quitter1Click);
    Collection1 = MainMenu1->addMenu(QStringLiteral("&Package"));
    View1 = item(Collection1, "View1", QStringLiteral("Vie&w..."), QKeySequence(Qt::CTRL | Qt::Key_W),
                 &TMainForm::View1Click);
    Collection1->addSeparator();
    Add1 = item(Collection1, "Add1", QStringLiteral("&Add..."), QKeySequence(Qt::CTRL | Qt::Key_A),
                &TMainForm::Add1Click);
    Update1 = item(Collection1, "Update1", QStringLiteral("&Update..."), QKeySequence(Qt::CTRL | Qt::Key_U),
                   &TMainForm::Update1Click);
    Remove1 = item(Collection1, "Remove1", QStringLiteral("&Remove..."), QKeySequence(Qt::CTRL | Qt::Key_R),
                   &TMainForm::Remove1Click);
    Collection1->addSeparator();
    FindFiles1 = item(Collection1, "FindFiles1", QStringLiteral("&Find files..."), QKeySequence(Qt::CTRL | Qt::Key_F),
                      &TMainForm::FindFiles1Click);
    FindFiles1->setShortcutContext(Qt::ApplicationShortcut); // also from the find window itself
    CD1 = MainMenu1->addMenu(QStringLiteral("&Drive"));
    Open1 = item(CD1, "Open1", QStringLiteral("&Open"), QKeySequence(Qt::CTRL | Qt::Key_O), &TMainForm::Open1Click);
    CD1->addSeparator();
    Getvolumeserial1 = item(CD1, "Getvolumeserial1", QStringLiteral("Get volume &serial"),
                            QKeySequence(Qt::CTRL | Qt::Key_S), &TMainForm::Getvolumeserial1Click);
    Help = MainMenu1->addMenu(QStringLiteral("&Help"));
    Contents1 = item(Help, "Contents1", QStringLiteral("&Contents"), QKeySequence(Qt::Key_F1),
                     &TMainForm::Contents1Click);
    QuindleHomepage1 = item(Help, "QuindleHomepage1", QStringLiteral("Quindle &Homepage..."), {},
                            &TMainForm::QuindleHomepage1Click);
    Help->addSeparator();
    About1 = item(Help, "About1", QStringLiteral("&About..."), {}, &TMainForm::About1Click);

    // A walk owns the tree and the lister until it ends: no other walk, no change of drive;
    // and no write into the package while a record is written. Searching, viewing and the
    // volume serial only read, and stay.
    for (QAction* a : {Open1, Add1}) Walks.AddTreeCommand(a);
    Walks.AddTreeCommand(DriveComboView1);
    for (QAction* a : {Update1, Remove1}) Walks.AddPackageCommand(a);
}

void TMainForm::FormCreate(const QString& programFile) {
    ctx_.AddToLog = [this](const std::string& line) { AddToLog(ToQ(line)); };
    // The walks pump once per folder, tens of thousands of times a second, and a run of the
    // event loop costs more than a folder: events run at most every millisecond. The frames,
    // the ticker and a click on Stop or Abort wait no longer than that; the walk still tests
    // the abort flag at every folder.
    ctx_.ProcessMessages = [ran = QElapsedTimer()]() mutable {
        if (ran.isValid() && ran.nsecsElapsed() < 1'000'000) return;
        QCoreApplication::processEvents();
        ran.start();
    };
    ctx_.GetScreenCursor = [] {
        return QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor
                   ? Cursor::HourGlass
                   : Cursor::Default;
    };
    ctx_.SetScreenCursor = [](Cursor c) {
        if (c == Cursor::HourGlass) {
            if (!QApplication::overrideCursor()) QApplication::setOverrideCursor(Qt::WaitCursor);
        } else {
            while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
        }
    };

    SetUpFolders(ctx_, FromQ(programFile), UserDataFolder());
    // What a crash left behind goes before any listing can meet it.
    RemoveStaleTempFiles(ctx_);
    ctx_.InfoSection = "Special Information about this disk by Quindle";
    StopButtonClick();

    AddToLog(QStringLiteral("Welcome to Quindle!"));
    // "top" and "left" are the frame's position, as closing stores it.
    const int top = ReadSetupInt("top").value_or(15);
    const int left = ReadSetupInt("left").value_or(15);
    const QPoint wanted = ClampedFramePos(QPoint(left, top));
    move(wanted);
    pendingFramePos_ = wanted;

    // The browse controls come alive: the tree from the current directory, the selector's
    // list of drives; then both move to drive C.
    DirectoryOutline1.Loaded();
    DriveComboBox1.CreateWnd();
    DriveComboBox1.OnChange = [this](TDriveComboBox&) { DriveComboBox1Change(); };
    DriveSetUp();
    QCoreApplication::processEvents();
}

void TMainForm::DriveSetUp() {
    // A drive C that is missing or not ready leaves the controls as they are, silently.
    settingUp_ = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{settingUp_};
    try {
        DriveComboBox1.SetDrive('C');
        DirectoryOutline1.SetDrive('C');
        if (DirectoryOutline1.ItemCount() > 0) DirectoryOutline1.Items(1)->Expand();
    } catch (const std::exception&) {
    }
}

QListWidgetItem* TMainForm::LastLogLine() const { return ListBox1->item(ListBox1->count() - 1); }

void TMainForm::AddToLog(const QString& text) {
    ListBox1->addItem(text);
    ListBox1->setCurrentRow(ListBox1->count() - 1);
    ListBox1->scrollToItem(ListBox1->currentItem());
}

// ---- package commands -------------------------------------------------------------------

void TMainForm::View1Click() {
    CollectForm->PrepareMode(TCollectForm::Mode::View);
    ui_.ShowModal(CollectForm);
}

void TMainForm::Add1Click() {
    CollectForm->PrepareMode(TCollectForm::Mode::Add);
    ui_.ShowModal(CollectForm);
}

void TMainForm::Update1Click() {
    CollectForm->PrepareMode(TCollectForm::Mode::Update);
    ui_.ShowModal(CollectForm);
}

void TMainForm::Remove1Click() {
    CollectForm->PrepareMode(TCollectForm::Mode::Remove);
    ui_.ShowModal(CollectForm);
}

// ---- drive commands ---------------------------------------------------------------------

void TMainForm::DiskNotFound() {
    ui_.MessageDlg(this, QStringLiteral("Please, make sure that disk is ready!"), QStringLiteral("Disk not found"),
                   MsgIcon::Exclamation, MsgButtons::Ok);
}

void TMainForm::Open1Click() {
    const WalkGuard::Hold walk(Walks, WalkGuard::Walk::Browse);
    if (!walk) return;
    try {
        const char d = DriveComboBox1.Drive();
        ResetBrowsers(DirectoryOutline1, FileListBox1, d);
        // A drive without its medium (or a mapped folder that is gone) says so, instead of
        // showing a lone, empty root.
        if (!DriveReady(d)) throw EFileError("drive not ready");
        StopButton->show();
        ctx_.AbortFlag = false;
        // The folders opened (ctx_.Progress holds the last memorization's figures).
        WalkProgress opened;
        // One line of the log counts the folders opened so far, and keeps the last count.
        AddToLog(QString(QChar(d).toUpper()) + QStringLiteral(": "));
        QListWidgetItem* line = LastLogLine();
        WalkTicker ticker(opened, false, [this, line, d](const QString& figures) {
            if (!Closing()) line->setText(QString(QChar(d).toUpper()) + QStringLiteral(": ") + figures);
        });
        ticker.Start();
        // Expanding item i lists its subfolders right after it, so counting up to the
        // (growing) item count visits every folder once, depth first.
        try {
            for (int i = 1; i <= DirectoryOutline1.Lines().Count(); ++i) {
                if (ctx_.AbortFlag) {
                    if (!Closing()) AddToLog(QStringLiteral("Operation aborted by user"));
                    break;
                }
                DirectoryOutline1.SetSelectedItem(i);
                DirectoryOutline1.Items(i)->Expand();
                ++opened.folders;
                ctx_.Pump(); // repaint, and let a click on Stop set the abort flag
            }
        } catch (...) {
            ticker.Stop();
            throw;
        }
        ticker.Stop();
    } catch (const std::exception&) {
        if (!Closing()) DiskNotFound();
    }
    try {
        FileListBox1.OpenPath("c:\\");
    } catch (const std::exception&) {
    }
    StopButton->hide();
}

void TMainForm::Getvolumeserial1Click() {
    const char d = DriveComboBox1.Drive();
    const std::string serial = d ? GetVolumeSerial(ctx_, d) : std::string();
    if (!serial.empty())
        AddToLog(QString(QChar(d).toUpper()) + QStringLiteral(": Volume serial n\u00B0 is ") + ToQ(serial));
    else
        AddToLog(QStringLiteral("Unable to get that volume serial n\u00B0..."));
}

void TMainForm::DriveComboBox1Change() {
    try {
        const char d = DriveComboBox1.Drive();
        DirectoryOutline1.SetDrive(d);
        if (!DriveReady(d)) throw EFileError("drive not ready");
    } catch (const std::exception&) {
        if (!settingUp_) DiskNotFound();
    }
}

bool TMainForm::DriveReady(char d) const {
    return d != 0 && ctx_.platform.DirectoryExists(std::string(1, d) + ":\\");
}

void TMainForm::StopButtonClick() {
    ctx_.AbortFlag = true;
    StopButton->hide();
}

void TMainForm::Quitter1Click() { close(); }

void TMainForm::Contents1Click() {
    // help.chm when the desktop has a program for it; a stock desktop has none, so the
    // same pages as HTML in help/ beside the program open in the browser instead.
    const QString chm = ToQ(ctx_.ProgramFolder) + QStringLiteral("help.chm");
    if (ui_.HasProgramFor(chm))
        ui_.ShellOpen(chm);
    else
        ui_.ShellOpen(ToQ(ctx_.ProgramFolder) + QStringLiteral("help/index.html"));
}

void TMainForm::QuindleHomepage1Click() { ui_.ShellOpen(QString::fromLatin1(kHomePage)); }

void TMainForm::About1Click() {
    InfoForm->ShowFirstPage();
    ui_.ShowModal(InfoForm);
}

void TMainForm::FindFiles1Click() {
    if (!FindFilesWindow) FindFilesWindow = new TFindFilesWindow(ctx_, ui_, this, Watch);
    FindFilesWindow->Open();
}

void TMainForm::SearchButtonClick() {
    RunPackageSearch(ctx_, ui_, *this, *CollectForm, *SearchForm);
}

// ---- window -----------------------------------------------------------------------------

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    // A menu shortcut wins over an edit box's own use of the key (Ctrl+A selects all,
    // Ctrl+U erases the line in a line edit): refusing the override lets the menu have it.
    // The key of a command disabled during a walk does nothing at all (Ctrl+U would erase
    // the search box's line instead).
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        auto* w = qobject_cast<QWidget*>(watched);
        auto* k = static_cast<QKeyEvent*>(event);
        if (w && w->window() == this) {
            const QKeySequence pressed(k->keyCombination());
            for (const QAction* a : {View1, Add1, Update1, Remove1, Open1, Getvolumeserial1, Contents1, FindFiles1})
                if (a->shortcut() == pressed) {
                    if (event->type() == QEvent::KeyPress) return !a->isEnabled();
                    event->ignore();
                    return true;
                }
        }
    }
    // Enter released anywhere in this window runs the search, as the Search button does.
    if (event->type() == QEvent::KeyRelease) {
        auto* w = qobject_cast<QWidget*>(watched);
        auto* k = static_cast<QKeyEvent*>(event);
        if (w && w->window() == this && !k->isAutoRepeat() &&
            (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) && QApplication::activeModalWidget() == nullptr) {
            SearchButtonClick();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QPoint TMainForm::ClampedFramePos(QPoint p) const {
    const QScreen* s = screen();
    if (!s) return p;
    const QRect avail = s->availableGeometry();
    // Before the window is framed its frame is its client area plus the menu bar.
    const QSize size = FrameGeometry(*this).size();
    p.setX(std::max(avail.left(), std::min(p.x(), avail.right() + 1 - size.width())));
    p.setY(std::max(avail.top(), std::min(p.y(), avail.bottom() + 1 - size.height())));
    return p;
}

void TMainForm::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    PlaceFrame();
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The window manager may frame the window without moving it, so no move event tells
    // that the frame is known: look again for a short while as well.
    if (pendingFramePos_ && !placeTimer_.isActive()) {
        placeTimer_.setInterval(25);
        placeTimer_.callOnTimeout(this, [this] {
            PlaceFrame();
            if (!pendingFramePos_ || ++placeChecks_ > 200) placeTimer_.stop();
        });
        placeTimer_.start();
    }
}

void TMainForm::PlaceFrame() {
    // Until the window manager frames the window, a move places its client area; once
    // the frame is known (it differs from the client geometry), move the frame itself.
    // (Queued: a move from inside the window manager's configure is not applied.) Kept
    // until the frame stands where it should, for a window manager that places the
    // window again after framing it; a few tries at most.
    if (!pendingFramePos_ || movePending_) return;
    const QRect frame = FrameGeometry(*this);
    if (frame == geometry()) return;
    const QPoint p = ClampedFramePos(*pendingFramePos_);
    if (frame.topLeft() == p || ++placeTries_ > 4) {
        pendingFramePos_.reset();
        return;
    }
    movePending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this, p] {
            movePending_ = false;
            MoveFrame(*this, p);
        },
        Qt::QueuedConnection);
}

void TMainForm::SaveSettings() {
    const int display = CollectForm ? CollectForm->DisplayIndex() : 0;
    const QPoint frame = FrameGeometry(*this).topLeft();
    WriteSetup(frame.y(), frame.x(), display);
}

void TMainForm::closeEvent(QCloseEvent* e) {
    SaveSettings();
    // A walk that runs (Drive > Open, or a memorization in the package dialog) pumps
    // messages, so this close arrives inside it: it stops at its next directory, and
    // the program ends as soon as it has unwound, instead of walking on unseen. A
    // memorization cut short this way leaves the disk's old record as it was.
    ctx_.Quitting = true;
    ctx_.AbortFlag = true;
    e->accept();
    ui_.Quit();
}

} // namespace quindle
