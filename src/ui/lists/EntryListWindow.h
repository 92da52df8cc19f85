#pragma once
// TEntryListWindow: a list of catalogue entries in a window of its own (what changed on a
// disk, the copies across the package, the files of a disk with no copy): sortable by any
// column, a filter box over the paths and names, a line of counts and bytes at stake, and
// "Save as CSV...". Shown without blocking the main window. A list that needs the package's
// catalogues is worked out on a thread of its own, with progress and Cancel in the window.
#include <QAbstractTableModel>
#include <QDialog>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "ui/app/UiServices.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTableView;

namespace quindle {

struct Catalogue;
struct CatalogueDiff;
struct LoadProgress;
class TOvalButton;

// How a column's numbers show: counts grouped, dates (seconds since 1970) in local time,
// bytes as a size ("1.23 GB", the exact count in the tooltip). All sort as numbers.
enum class ColumnKind { Text, Count, Date, Bytes };
struct EntryColumn {
    QString header;
    ColumnKind kind = ColumnKind::Text;
};

// Rows of cells; a number is a qint64, a missing one an empty string.
class TEntryRowsModel : public QAbstractTableModel {
public:
    TEntryRowsModel(std::vector<EntryColumn> columns, QObject* parent = nullptr);
    ColumnKind Kind(int column) const { return columns_[static_cast<size_t>(column)].kind; }
    // Rows one after the other, Headers().size() cells each; `filterKeys`: per row, the
    // folded text the filter looks in (FilterKey).
    void SetRows(std::vector<QVariant> cells, std::vector<std::string> filterKeys);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    const QVariant& Cell(int row, int column) const;
    const std::string& FilterKeyOf(int row) const { return keys_[static_cast<size_t>(row)]; }

private:
    std::vector<EntryColumn> columns_;
    std::vector<QVariant> cells_;
    std::vector<std::string> keys_;
};

// The rows of a list and its line of counts, as a worker makes them.
struct EntryRows {
    std::vector<QVariant> cells;
    std::vector<std::string> filterKeys; // per row (FilterKey)
    QString summary;
    std::string log; // a line for the program's log once the rows are shown; none when empty
    // Adds a row; `filterText` is what the filter box looks in (the path, or the name).
    void Add(std::initializer_list<QVariant> row, std::string_view filterText);
};

// What the filter box compares: case folded by the one rule for names (Unicode simple
// folding), so "ÉTÉ" finds "été" as it does in Find files.
std::string FilterKey(std::string_view text);

// Cells as the model takes them: a count or size, a date (seconds since 1970), a fixed text.
QVariant NumberCell(uint64_t v);
QVariant DateCell(int64_t seconds);
QVariant TextCell(const char* s);

class TEntryListWindow : public QDialog {
    Q_OBJECT
public:
    TEntryListWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const QString& caption,
                     std::vector<EntryColumn> columns);
    ~TEntryListWindow() override;

    void SetRows(EntryRows rows);
    // Works out the rows on a thread of its own: `work` reads what it needs (never this
    // window), counts in the LoadProgress it is given and returns early once its cancel is
    // set. Meanwhile the window shows a progress bar and Cancel. A newer Load cancels the
    // one before; closing the window cancels it too. `status`, when given, says how far the
    // work has got (called on this window's thread, ten times a second; it reads only what
    // it shares with `work` under a lock); otherwise the line counts disks read.
    void Load(std::function<EntryRows(LoadProgress&)> work, std::function<QString()> status = {});
    bool Loading() const { return job_ != nullptr; }

    // The rows shown (filtered and sorted), each as its cells' texts as shown.
    int ShownRows() const;
    QStringList ShownRow(int row) const;
    QString Summary() const;
    // The rows shown as CSV text (RFC 4180, a header line, CR LF line ends): numbers as
    // plain digits, dates as ISO 8601 in UTC.
    std::string CsvText() const;

    QLineEdit* FilterEdit = nullptr;
    QTableView* List = nullptr;
    QLabel* SummaryLabel = nullptr;
    QProgressBar* Progress = nullptr;
    TOvalButton* CancelButton = nullptr;
    TOvalButton* SaveButton = nullptr;
    QComboBox* DiskBox = nullptr; // the unique view's disk; hidden elsewhere
    // Copies and unique views: copies by size and checksum, whatever their names; hidden
    // elsewhere.
    QCheckBox* ContentBox = nullptr;

    void SaveButtonClick();
    void CancelButtonClick();

private:
    void ShowProgress();
    AppContext& ctx_;
    UiServices& ui_;
    TEntryRowsModel* model_;
    QSortFilterProxyModel* proxy_;
    std::shared_ptr<LoadProgress> job_; // the running Load; null when none
    std::function<QString()> status_;   // its progress line, when it has its own
    QTimer progressTimer_;
};

// What changed between two catalogues of a disk, in a window.
TEntryListWindow* ShowChangesWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const std::string& diskName,
                                    const Catalogue& before, const Catalogue& after, const CatalogueDiff& diff);
// The copies across the package (Package > Copies...).
TEntryListWindow* ShowCopiesWindow(AppContext& ctx, UiServices& ui, QWidget* parent);
// The files of one disk with no copy on another (Package > Files without a copy...); the
// window's disk box picks the disk, the first of the package to begin with.
TEntryListWindow* ShowUniqueWindow(AppContext& ctx, UiServices& ui, QWidget* parent);
// Every disk of the package with its figures (Package > Disks...): which has room, which is
// oldest, which is in a drive now. `watch` tells the drives; the list follows it.
TEntryListWindow* ShowDisksWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const class DiskWatch* watch);

} // namespace quindle
