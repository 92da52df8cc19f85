#pragma once
// The windows that list one disk's record offline: TMatchesForm, the lines of a disk that
// hold the search word (opened from the search report), and TBrowseForm, a disk's folders
// and the names in each (opened from Package > View). Both show a TRecordLinesModel in a
// table with a filter box above it; Esc (on its release, as in the other windows) and
// Close end them.
#include <QDialog>
#include <string>

#include "app/AppContext.h"
#include "ui/ReportCsv.h"
#include "ui/UiServices.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QTableView;
class QHBoxLayout;
class QVBoxLayout;

namespace quindle {

class TOvalButton;
class TRecordLinesModel;

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

    // The text the count label shows for the model as it stands.
    virtual QString CountText() const;

protected:
    // Row of buttons at the bottom; subclasses put theirs before Close.
    QHBoxLayout* ButtonRow() const { return buttons_; }
    // The middle of the window: the table alone, or a subclass's splitter holding it.
    void SetCentre(QWidget* centre);
    TOvalButton* NewButton(const QString& caption);
    void UpdateCount();
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

// A disk's folders (its record's sections) on the left, the names of the chosen one on
// the right; "(all folders)" lists every name.
class TBrowseForm : public TRecordLinesWindow {
    Q_OBJECT
public:
    TBrowseForm(AppContext& ctx, UiServices& ui, QWidget* parent = nullptr);

    QListWidget* FolderList = nullptr;

    // Lists the record's folders and names and shows the window modally.
    void ShowDisk(const std::string& title, const std::string& recordPath);
    bool Load(const std::string& title, const std::string& recordPath);
    QString CountText() const override;
    // Entry 0 is every folder; entry i > 0 is folder i - 1 of the listing.
    void SelectFolder(int entry);
};

} // namespace quindle
