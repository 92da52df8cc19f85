#pragma once
// TCollectForm: the package dialog. Lists the memorized disks by title or by volume
// serial, shows one disk's information, memorizes the main window's drive, changes a
// disk's information and removes a disk. The mode is carried by ActionButton's caption
// ("Close", "Add", "Change", "Remove"); the dialog keeps no other mode value.
//
// Pairing: after every refresh, entry i of CollectionLB and name i of CollectionFileList
// stand for the same record file; the search (RunPackageSearch) relies on it.
#include <QDialog>
#include <QPoint>
#include <QRect>
#include <string>

#include "app/AppContext.h"
#include "records/PackageTitles.h"
#include "browse/FileListBox.h"
#include "ui/app/UiServices.h"

class QAction;
class QButtonGroup;
class QGroupBox;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QRadioButton;
class QStatusBar;

namespace quindle {

class TBrowseForm;
class TMainForm;
class TOvalButton;

class TCollectForm : public QDialog {
    Q_OBJECT
public:
    TCollectForm(AppContext& ctx, UiServices& ui, TMainForm& main, QWidget* parent = nullptr);
    ~TCollectForm() override;

    enum class Mode { View, Add, Update, Remove };
    // Sets the controls for one of the four Package commands.
    void PrepareMode(Mode mode);
    // Index of the Display choice: 0 "Titles", 1 "Volume Serials", -1 none.
    int DisplayIndex() const;
    // Clamped to -1..1, as the radio group does; does not refresh.
    void SetDisplayIndex(int index);

    // ---- controls -------------------------------------------------------------------
    QGroupBox* DisplayMode = nullptr;
    QRadioButton* DisplayTitles = nullptr;  // choice 0
    QRadioButton* DisplaySerials = nullptr; // choice 1
    QListWidget* CollectionLB = nullptr;
    QMenu* CollectionPopMenu = nullptr;
    QAction* Select1 = nullptr;
    QAction* Invertselection1 = nullptr;
    TFileListBox CollectionFileList; // never shown: the record file names, paired with CollectionLB
    QGroupBox* GroupBox1 = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr, *Label5 = nullptr;
    QLineEdit *Edit1 = nullptr, *Edit2 = nullptr, *Edit3 = nullptr, *Edit4 = nullptr, *Edit5 = nullptr;
    TOvalButton* AbortButton = nullptr;
    TOvalButton* ActionButton = nullptr;
    TOvalButton* BrowseButton = nullptr; // View mode: browse the highlighted disk offline
    TBrowseForm* BrowseForm = nullptr;
    QLabel* FiguresLabel = nullptr; // View mode, left of Browse: the volume's figures
    // Add mode, where the list stands in the other modes: which archives the walk lists.
    QLabel* ArchivesLabel = nullptr;
    QComboBox* ArchivesBox = nullptr;
    // Add only: store the checksum of every file's content (remembered for the next disk).
    QCheckBox* ChecksumsBox = nullptr;
    QStatusBar* ProgressStatusBar = nullptr;

    // ---- the disk list ----------------------------------------------------------------
    void RefreshDiskList();
    void ListDisksBySerial();
    void ListDisksByTitle();
    void CheckAllDisks();
    // Fills the five edits from the information section of PackageFolder + fileName.
    void ShowDiskInfo(const std::string& fileName);
    void ClearInfoEdits();
    // View: the disk's figures in the status bar (every one in its tooltip), or that it has none.
    void ShowDiskFigures(const std::string& fileName);
    // Marks the entries of disks that are in a ready drive now (bold, with the drive in
    // their tooltip); RefreshDiskList ends with it.
    void MarkConnectedDisks();
    bool DiskConnected(int i) const;

    // Entry i's text, check mark and paired record file name (no folder).
    int DiskCount() const;
    QString DiskText(int i) const;
    // The same text as the record holds it (DiskText shows bytes that are not UTF-8 as U+FFFD).
    std::string DiskTextBytes(int i) const;
    bool DiskChecked(int i) const;
    std::string DiskFileName(int i);
    // The highlighted entry (the list's single selection), -1 when none.
    int HighlightedIndex() const;

    // Where entry `row`'s check box lies in the list's viewport, and the entry whose check
    // box is at a viewport point (-1: none).
    QRect CheckBoxRect(int row) const;
    int CheckBoxRowAt(QPoint viewportPos) const;

    QString StatusText() const;
    bool Memorizing() const { return memorizing_; }

    // ---- handlers ---------------------------------------------------------------------
    void DisplayModeClick();
    void CollectionLBClick();
    void ActionButtonClick();
    void AbortButtonClick();
    void BrowseButtonClick();
    void Select1Click();
    void Invertselection1Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void SetStatus(const QString& text);
    void CloseDialog();
    // Refuses a title, description or additional text the record could not keep.
    bool InfoEditsStorable();
    void AddDisk();
    void ChangeDisk();
    void RemoveDisk();
    void NoHighlightedDisk();

    AppContext& ctx_;
    UiServices& ui_;
    TMainForm& main_;
    QButtonGroup* displayGroup_ = nullptr;
    bool memorizing_ = false;
    int checkPressRow_ = -1; // the entry whose check box the left button went down on
    bool closeWhenDone_ = false; // Esc or the close box arrived during a memorization
    TRecordTitleReader titleReader_; // remembers titles of unchanged records between listings
};

} // namespace quindle
