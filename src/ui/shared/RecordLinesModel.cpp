#include "ui/shared/RecordLinesModel.h"

#include "ui/shared/Text.h"

#include <functional>

namespace quindle {

QString TRecordLinesModel::InfoFolderText() { return QStringLiteral("(disk information)"); }

TRecordLinesModel::TRecordLinesModel(QObject* parent) : QAbstractTableModel(parent) {}

void TRecordLinesModel::Change(const std::function<void()>& change) {
    // All rows go and the new ones come, rather than a reset: the views keep their
    // columns' widths and hidden columns.
    if (const int old = rowCount(); old > 0) {
        beginRemoveRows(QModelIndex(), 0, old - 1);
        empty_ = true;
        endRemoveRows();
    }
    empty_ = true;
    change();
    Reselect();
    empty_ = false;
    if (const int now = rowCount(); now > 0) {
        empty_ = true;
        beginInsertRows(QModelIndex(), 0, now - 1);
        empty_ = false;
        endInsertRows();
    }
}

void TRecordLinesModel::SetListing(TRecordListing listing) {
    Change([&] {
        listing_ = std::move(listing);
        folderTexts_.clear();
        for (const auto& f : listing_.Folders()) folderTexts_.push_back(f.info ? InfoFolderText() : NameToQ(f.name));
        folder_ = -1;
        filter_.clear();
    });
}

void TRecordLinesModel::Clear() { SetListing(TRecordListing()); }

void TRecordLinesModel::SetFolder(int folder) {
    if (folder < -1 || folder >= static_cast<int>(listing_.Folders().size())) folder = -1;
    Change([&] { folder_ = folder; });
}

void TRecordLinesModel::SetFilter(const QString& text) {
    if (text == filter_) return;
    Change([&] { filter_ = text; });
}

void TRecordLinesModel::Reselect() {
    if (folder_ >= 0) {
        const auto& f = listing_.Folders()[static_cast<size_t>(folder_)];
        begin_ = f.begin;
        end_ = f.end;
    } else {
        begin_ = 0;
        end_ = listing_.RowCount();
    }
    filtered_ = !filter_.isEmpty();
    shown_.clear();
    if (filtered_)
        shown_ = listing_.Select(begin_, end_, FromQ(filter_), FromQ(InfoFolderText()), /*namesOnly=*/folder_ >= 0);
    shown_.shrink_to_fit();
}

std::string TRecordLinesModel::FolderBytes(int row) const {
    const auto& f = listing_.FolderOf(ListingRow(row));
    return f.info ? FromQ(InfoFolderText()) : std::string(f.name);
}

QString TRecordLinesModel::FolderText(size_t folder) const {
    return folder < folderTexts_.size() ? folderTexts_[folder] : QString();
}

int TRecordLinesModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || empty_) return 0;
    return static_cast<int>(filtered_ ? shown_.size() : end_ - begin_);
}

int TRecordLinesModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 2; }

QVariant TRecordLinesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const size_t row = ListingRow(index.row());
    if (index.column() == FolderColumn) return folderTexts_[listing_.FolderIndex(row)];
    return NameToQ(listing_.Name(row));
}

QVariant TRecordLinesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == FolderColumn ? QStringLiteral("Folder") : QStringLiteral("Name");
}

} // namespace quindle
