#pragma once
// The windows that list one disk's record offline: TMatchesForm, the lines of a disk that
// hold the search word (opened from the search report), and TBrowseForm, a disk's folders
// and the names in each (opened from Package > View). Both show a TRecordLinesModel in a
// table with a filter box above it; Esc (on its release, as in the other windows) and
// Close end them. A disk whose catalogue is valid shows its entries instead
// (TCatalogueRowsModel: full folder path, size and date, sortable); one without says why.
#include <QDialog>
#include <string>

#include "app/AppContext.h"
#include "ui/ReportCsv.h"
#include "ui/UiServices.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QTableView;
class QTreeView;
class QHBoxLayout;
class QVBoxLayout;

namespace quindle {

class TOvalButton;
class TRecordLinesModel;
class TCatalogueRowsModel;
class TCatalogueTreeModel;

class TRecordLinesWindow : public QDialog {
    Q_OBJECT
public:
    TRecordLinesWindow(AppContext& ctx, UiServices& ui, QWidget* parent);
    ~TRecordLinesWindow() override;

    QLineEdit* FilterEdit = nullptr;
    QTableView* LinesView = nullptr;
    QLabel* CountLabel = nullptr;
    TOvalButton* CloseButton = nullptr;
    TRecordLinesModel* Model = nullptr;
    // The disk's catalogue entries; the view shows them instead of Model when Detailed().
    TCatalogueRowsModel* Entries = nullptr;
    // Above the filter: why a disk has no details, or (Browse) the disk's figures.
    QLabel* NoticeLabel = nullptr;

    // The text the count label shows for the model as it stands.
    virtual QString CountText() const;
    // The view shows the catalogue's entries.
    bool Detailed() const;

protected:
    // Row of buttons at the bottom; subclasses put theirs before Close.
    QHBoxLayout* ButtonRow() const { return buttons_; }
    // The middle of the window: the table alone, or a subclass's splitter holding it.
    void SetCentre(QWidget* centre);
    TOvalButton* NewButton(const QString& caption);
    void UpdateCount();
    // The view shows the record's lines (Model) or the catalogue's entries (Entries), with
    // the columns and sorting each has.
    void ShowLines();
    void ShowEntries();
    void SetNotice(const QString& text);
    virtual void FilterChanged(const QString& text);
    // Shows the window modally through UiServices, then forgets the record.
    int RunModal();

    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    AppContext& ctx_;
    UiServices& ui_;

private:
    QVBoxLayout* layout_ = nullptr;
    QHBoxLayout* buttons_ = nullptr;
    bool escPressedElsewhere_ = false; // the last Esc press went to another window
};

// The lines of one disk's record that hold the search word.
class TMatchesForm : public TRecordLinesWindow {
    Q_OBJECT
public:
    TMatchesForm(AppContext& ctx, UiServices& ui, QWidget* parent = nullptr);

    TOvalButton* SaveButton = nullptr;

    // Lists the disk's matches of `word` and shows the window modally. A record that
    // cannot be read is reported instead.
    void ShowMatches(const TReportDisk& disk, const std::string& word);
    // Loads the list without showing it (the first half of ShowMatches).
    bool Load(const TReportDisk& disk, const std::string& word);
    QString CountText() const override;
    void SaveButtonClick();

private:
    TReportDisk disk_;
    std::string word_;
};

// A disk offline. With a valid catalogue: its folders as a tree on the left (with their
// totals), the chosen folder's entries on the right (size, date), and the filter finds
// entries of the whole disk; the disk's figures head the window. Without one: the record's
// folders (its sections) on the left, the names of the chosen one on the right, "(all
// folders)" listing every name, and the reason there are no details.
class TBrowseForm : public TRecordLinesWindow {
    Q_OBJECT
public:
    TBrowseForm(AppContext& ctx, UiServices& ui, QWidget* parent = nullptr);

    QListWidget* FolderList = nullptr;  // the record's sections
    QTreeView* FolderTree = nullptr;    // the catalogue's folders
    TCatalogueTreeModel* Tree = nullptr;

    // Lists the disk and shows the window modally.
    void ShowDisk(const std::string& title, const std::string& recordPath);
    bool Load(const std::string& title, const std::string& recordPath);
    QString CountText() const override;
    // Entry 0 is every folder; entry i > 0 is folder i - 1 of the listing.
    void SelectFolder(int entry);
    // Lists the entries of a catalogue folder (0: the root) and makes it the tree's current item.
    void OpenFolder(uint32_t folder);
    uint32_t OpenedFolder() const { return folder_; }

protected:
    void FilterChanged(const QString& text) override;

private:
    void ShowFolderEntries(uint32_t folder);
    uint32_t folder_ = 0;
};

} // namespace quindle
