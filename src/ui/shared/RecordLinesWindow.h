#pragma once
// TRecordLinesWindow: what the windows that list one disk's record offline share. Its two
// kinds are TMatchesForm (search/MatchesForm.h), the lines of a disk that hold the search
// word, opened from the search report, and TBrowseForm (browse/BrowseForm.h), a disk's
// folders and the names in each, opened from Package > View. Both show a TRecordLinesModel in a
// table with a filter box above it; Esc (on its release, as in the other windows) and
// Close end them. A disk whose catalogue is valid shows its entries instead
// (TCatalogueRowsModel: full folder path, size and date, sortable); one without says why.
#include <QDialog>
#include <string>

#include "app/AppContext.h"
#include "ui/app/UiServices.h"

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
    // The tooltip colours of the report's grid, for the lists that continue it.
    static void ReportColours(QWidget* w);
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

} // namespace quindle
