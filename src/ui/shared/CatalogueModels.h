#pragma once
// The disk's catalogue in the windows: TCatalogueRowsModel, a sortable table of entries
// (folder path, name, size, date) for the matches of a search word and for Browse's list,
// and TCatalogueTreeModel, the disk's folders as a tree for Browse. Both stand on one
// TDiskBrowseView and keep nothing per row but an entry index; the views ask only for the
// rows they paint.
#include <QAbstractItemModel>
#include <QAbstractTableModel>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/CatalogueFile.h"
#include "catalogue/DiskBrowseView.h"
#include "ui/shared/Formats.h"

namespace quindle {

// Every figure of the disk, in two lines.
QString FiguresText(const DiskFigures& f);
// One short line for a status bar: "62,554 files, 4,321 folders, 1.2 GB".
QString FiguresSummary(const DiskFigures& f);
// Two short lines of the volume: "ext4, 75.4 GB free" and "of 252 GB; 1.4 s".
QString VolumeText(const DiskFigures& f);
// "The disk has no details until it is memorized again (<cause>)."
QString NoDetailsText(CatalogueProblem why);

class TCatalogueRowsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { FolderColumn = 0, NameColumn = 1, SizeColumn = 2, DateColumn = 3 };
    explicit TCatalogueRowsModel(QObject* parent = nullptr);

    // Shows `rows` (entries of `index`) and `infoLines` (whole lines of the record's
    // information section, listed first under "(disk information)"), sorted as set last.
    void SetRows(std::shared_ptr<TDiskBrowseView> index, std::vector<uint32_t> rows,
                 std::vector<std::string> infoLines = {});
    void Clear();
    const std::shared_ptr<TDiskBrowseView>& Index() const { return index_; }
    bool Empty() const { return !index_; }
    // Folders before the other entries in every order (Browse's list).
    void SetFoldersFirst(bool on) { foldersFirst_ = on; }

    void SetFilter(const QString& text);
    QString Filter() const { return filter_; }
    int UnfilteredCount() const { return static_cast<int>(all_.size() + info_.size()); }

    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int SortColumn() const { return sortColumn_; }
    Qt::SortOrder SortOrder() const { return sortOrder_; }

    // A shown row: its entry, or -1 for a line of the disk's information.
    int64_t Entry(int row) const;
    // The row's fields as bytes: the folder (the full path, as shown), the record's section
    // of it (the information: "(disk information)"), the name, the entry's full path.
    std::string FolderBytes(int row) const;
    std::string SectionBytes(int row) const;
    std::string NameBytes(int row) const;
    std::string PathBytes(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void Reselect();

    std::shared_ptr<TDiskBrowseView> index_;
    std::vector<uint32_t> all_;   // the entries given, unfiltered
    std::vector<std::string> info_;
    std::vector<uint32_t> shown_; // the entries shown, sorted
    std::vector<uint32_t> shownInfo_;
    QString filter_;
    int sortColumn_ = FolderColumn;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    bool foldersFirst_ = false;
};

// The folders of a disk as a tree: one top item, the drive root ("E:\"); a folder's
// children are its folders by name. Column 0 the name, column 1 the folder's total size.
class TCatalogueTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit TCatalogueTreeModel(QObject* parent = nullptr);
    void SetIndex(std::shared_ptr<TDiskBrowseView> index);
    const std::shared_ptr<TDiskBrowseView>& Index() const { return index_; }
    // The folder an item stands for; its item.
    uint32_t Folder(const QModelIndex& i) const { return i.isValid() ? static_cast<uint32_t>(i.internalId()) : 0; }
    QModelIndex IndexOf(uint32_t folder) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::shared_ptr<TDiskBrowseView> index_;
};

} // namespace quindle
