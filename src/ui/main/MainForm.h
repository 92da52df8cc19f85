#pragma once
// TMainForm: the main window. Holds the drive selector, the directory tree, the search
// box and the message log, and runs the commands of its menus.
#include <QMainWindow>
#include <memory>
#include <optional>
#include <QPoint>
#include <QTimer>

#include "app/AppContext.h"
#include "browse/DirectoryOutline.h"
#include "browse/DriveComboBox.h"
#include "browse/FileListBox.h"
#include "ui/app/UiServices.h"
#include "ui/app/WalkGuard.h"

class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QListWidget;
class QListWidgetItem;
class QMenu;

namespace quindle {

class BlockedCloseFilter;
class DriveComboView;
class OutlineView;
class TOvalButton;
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

    // Controls. The browse controls' state lives in their Qt-free models; the views paint them.
    QFrame* Panel1 = nullptr;
    TDriveComboBox DriveComboBox1;
    DriveComboView* DriveComboView1 = nullptr;
    TOvalButton* StopButton = nullptr;
    TDirectoryOutline DirectoryOutline1;
    OutlineView* DirectoryOutlineView1 = nullptr;
    TFileListBox FileListBox1; // never shown: the memorizer's directory reader
    QGroupBox* GroupBox1 = nullptr;
    QComboBox* SearchEdit = nullptr;
    TOvalButton* SearchButton = nullptr;
    QListWidget* ListBox1 = nullptr; // the message log

    // Menu items.
    QMenu *File1 = nullptr, *Collection1 = nullptr, *CD1 = nullptr, *Help = nullptr;
    QAction *Quitter1 = nullptr, *View1 = nullptr, *Add1 = nullptr, *Update1 = nullptr, *Remove1 = nullptr;
    QAction *Open1 = nullptr, *Getvolumeserial1 = nullptr, *Contents1 = nullptr, *QuindleHomepage1 = nullptr,
            *About1 = nullptr;
    QAction* FindFiles1 = nullptr;               // Package > Find files... (Ctrl+F)
    // Held by every walk over DirectoryOutline1 and FileListBox1 until it ends; disables the
    // commands that would disturb it (Drive > Open, the drive selector, Add, Update, Remove).
    WalkGuard Walks;
    class TFindFilesWindow* FindFilesWindow = nullptr; // made at its first use
    class DiskWatch* Watch = nullptr;                  // which disks are in a drive; set by the application
    void FindFiles1Click();

    void AddToLog(const QString& text);
    // The newest line of the log (a walk's figures are updated in place there).
    QListWidgetItem* LastLogLine() const;
    // True once the window has closed: a walk still running stops at its next directory
    // and nothing more is shown.
    bool Closing() const { return ctx_.Quitting; }

    // Commands.
    void View1Click();
    void Add1Click();
    void Update1Click();
    void Remove1Click();
    void Open1Click();
    void Getvolumeserial1Click();
    void DriveComboBox1Change();
    void StopButtonClick();
    void Quitter1Click();
    void Contents1Click();
    void QuindleHomepage1Click();
    void About1Click();
    void SearchButtonClick();

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void CreateMenus();
    void FormCreate(const QString& programFile);
    void DriveSetUp();
    void SaveSettings();
    void DiskNotFound();
    bool DriveReady(char d) const;

    AppContext& ctx_;
    UiServices& ui_;
    // The frame's top-left from the settings, clamped so the whole frame is on screen.
    QPoint ClampedFramePos(QPoint framePos) const;
    bool settingUp_ = false; // the start-up drive set-up runs silently
    // The window manager's close while a modal dialog blocks this window.
    std::unique_ptr<BlockedCloseFilter> blockedClose_;
    // Where the frame goes once the window manager has framed the window (its size is
    // unknown before); cleared when done.
    std::optional<QPoint> pendingFramePos_;
    int placeTries_ = 0;   // frame moves asked
    int placeChecks_ = 0;  // looks by placeTimer_
    bool movePending_ = false;
    QTimer placeTimer_;
    void PlaceFrame();
};

} // namespace quindle
