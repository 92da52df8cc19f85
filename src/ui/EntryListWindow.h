#pragma once
// TEntryListWindow: a list of catalogue entries in a window of its own (what changed on a
// disk, the copies across the package, the files of a disk with no copy): sortable by any
// column, a filter box over the paths and names, a line of counts and bytes at stake, and
// "Save as CSV...". Shown without blocking the main window.
#include <QAbstractTableModel>
#include <QDialog>
#include <QStringList>
#include <QVariant>
#include <vector>

#include "app/AppContext.h"
#include "ui/UiServices.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QTableView;

namespace quindle {

struct Catalogue;
struct CatalogueDiff;
class TOvalButton;

// Rows of cells; numbers stay numbers (qint64) so that they sort as numbers.
class TEntryRowsModel : public QAbstractTableModel {
public:
    explicit TEntryRowsModel(QStringList headers, QObject* parent = nullptr);
    void SetRows(std::vector<QVariant> cells); // rows one after the other, Headers().size() cells each
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QStringList headers_;
    std::vector<QVariant> cells_;
};

class TEntryListWindow : public QDialog {
    Q_OBJECT
public:
    // `filterColumn`: the column the filter box narrows (the path).
    TEntryListWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const QString& caption, QStringList headers,
                     int filterColumn);

    void SetRows(std::vector<QVariant> cells, const QString& summary);
    // The rows shown (filtered and sorted), each as its cells' texts.
    int ShownRows() const;
    QStringList ShownRow(int row) const;
    QString Summary() const;
    // The rows shown as CSV text (RFC 4180, a header line, CR LF line ends).
    std::string CsvText() const;

    QLineEdit* FilterEdit = nullptr;
    QTableView* List = nullptr;
    QLabel* SummaryLabel = nullptr;
    TOvalButton* SaveButton = nullptr;
    QComboBox* DiskBox = nullptr; // the unique view's disk; hidden elsewhere

    void SaveButtonClick();

private:
    AppContext& ctx_;
    UiServices& ui_;
    TEntryRowsModel* model_;
    QSortFilterProxyModel* proxy_;
};

// What changed between two catalogues of a disk, in a window.
TEntryListWindow* ShowChangesWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const std::string& diskName,
                                    const Catalogue& before, const Catalogue& after, const CatalogueDiff& diff);
// The copies across the package (Package > Copies...).
TEntryListWindow* ShowCopiesWindow(AppContext& ctx, UiServices& ui, QWidget* parent);
// The files of one disk with no copy on another (Package > Files without a copy...); the
// window's disk box picks the disk, the first of the package to begin with.
TEntryListWindow* ShowUniqueWindow(AppContext& ctx, UiServices& ui, QWidget* parent);

} // namespace quindle
