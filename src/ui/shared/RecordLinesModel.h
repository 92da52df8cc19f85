#pragma once
// TRecordLinesModel: a table of folder and name over one disk's record (TRecordListing),
// for the list of a search word's matches and for browsing a disk offline. The view asks
// only for the rows it paints, so a million rows cost the listing and nothing per row.
#include <QAbstractTableModel>
#include <QString>
#include <functional>
#include <string_view>
#include <vector>

#include "search/RecordListing.h"

namespace quindle {

class TRecordLinesModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { FolderColumn = 0, NameColumn = 1 };
    // What the folder column shows for the lines of the information section.
    static QString InfoFolderText();

    explicit TRecordLinesModel(QObject* parent = nullptr);

    // Shows every row of the listing, unfiltered.
    void SetListing(TRecordListing listing);
    void Clear();
    const TRecordListing& Listing() const { return listing_; }

    // Shows the rows of one folder of the listing only (-1: all of them).
    void SetFolder(int folder);
    int Folder() const { return folder_; }
    // Narrows the rows to those whose name holds the text, ASCII case ignored; with all
    // folders shown, a row whose folder's name holds it stays too.
    void SetFilter(const QString& text);
    QString Filter() const { return filter_; }

    // Rows of the shown folder(s) before the filter.
    int UnfilteredCount() const { return static_cast<int>(end_ - begin_); }
    // Row `row` of the table as the listing numbers it.
    size_t ListingRow(int row) const { return filtered_ ? shown_[static_cast<size_t>(row)] : begin_ + static_cast<size_t>(row); }
    // The bytes of a row's folder column (InfoFolderText for the information) and name.
    std::string FolderBytes(int row) const;
    std::string_view NameBytes(int row) const { return listing_.Name(ListingRow(row)); }
    // A folder's text as the folder column shows it.
    QString FolderText(size_t folder) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    void Reselect();
    // Runs `change` with the rows gone, then brings the new ones in.
    void Change(const std::function<void()>& change);

    TRecordListing listing_;
    std::vector<QString> folderTexts_; // one per folder of the listing, made once
    int folder_ = -1;
    QString filter_;
    size_t begin_ = 0, end_ = 0; // the shown folder(s)' rows
    bool filtered_ = false;      // shown_ holds the rows; otherwise every row of [begin_, end_)
    std::vector<uint32_t> shown_;
    bool empty_ = false; // between the rows' going and the new ones' coming
};

} // namespace quindle
