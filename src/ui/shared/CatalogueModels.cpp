#include "ui/shared/CatalogueModels.h"

#include <QIcon>
#include <QPixmap>

#include "catalogue/EntryText.h"
#include "platform/CodePage.h"
#include "ui/shared/Formats.h"
#include "ui/shared/RecordLinesModel.h"
#include "ui/app/Resources.h"
#include "ui/shared/Text.h"

namespace quindle {

QString FiguresText(const DiskFigures& f) {
    const QString fs = f.fileSystem.empty() ? QStringLiteral("unknown file system") : ToQ(f.fileSystem);
    const QString walk = QString::number(static_cast<double>(f.walkMillis) / 1000.0, 'f', 1);
    return QStringLiteral("%1 files in %2 folders, %3 (%4 bytes)\n%5, capacity %6, %7 free; %8 in %9 s")
        .arg(GroupedNumber(f.files), GroupedNumber(f.folders), SizeText(f.bytes), GroupedNumber(f.bytes), fs,
             SizeText(f.capacity), SizeText(f.freeBytes),
             f.complete ? QStringLiteral("complete") : QStringLiteral("partial (%1)").arg(ToQ(IncompleteCatalogueText(f))),
             walk);
}

QString FiguresSummary(const DiskFigures& f) {
    return QStringLiteral("%1%2 files, %3 folders, %4")
        .arg(f.complete ? QString() : QStringLiteral("Partial: "), GroupedNumber(f.files), GroupedNumber(f.folders),
             SizeText(f.bytes));
}

QString VolumeText(const DiskFigures& f) {
    const QString fs = f.fileSystem.empty() ? QStringLiteral("?") : ToQ(f.fileSystem);
    return QStringLiteral("%1, %2 free\nof %3; %4 s")
        .arg(fs, SizeText(f.freeBytes), SizeText(f.capacity),
             QString::number(static_cast<double>(f.walkMillis) / 1000.0, 'f', 1));
}

QString NoDetailsText(CatalogueProblem why) {
    return QStringLiteral("The disk has no details until it is memorized again (%1).")
        .arg(QString::fromUtf8(CatalogueProblemText(why)));
}

namespace {
const QIcon& FolderIcon() {
    static const QIcon icon = [] {
        InitResources();
        return QIcon(QPixmap(QStringLiteral(":/CLOSEDFOLDER")));
    }();
    return icon;
}
constexpr uint32_t kInfoRow = 0x80000000u;
} // namespace

// ---- rows ------------------------------------------------------------------------------

TCatalogueRowsModel::TCatalogueRowsModel(QObject* parent) : QAbstractTableModel(parent) {}

void TCatalogueRowsModel::SetRows(std::shared_ptr<TDiskBrowseView> index, std::vector<uint32_t> rows,
                                  std::vector<std::string> infoLines) {
    beginResetModel();
    index_ = std::move(index);
    all_ = std::move(rows);
    info_ = std::move(infoLines);
    filter_.clear();
    Reselect();
    endResetModel();
}

void TCatalogueRowsModel::Clear() { SetRows(nullptr, {}, {}); }

void TCatalogueRowsModel::SetFilter(const QString& text) {
    if (text == filter_) return;
    beginResetModel();
    filter_ = text;
    Reselect();
    endResetModel();
}

void TCatalogueRowsModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column > DateColumn) return;
    // The view asks again for the order the rows have when sorting is switched on.
    if (column == sortColumn_ && order == sortOrder_) return;
    sortColumn_ = column;
    sortOrder_ = order;
    if (!index_) return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const TDiskBrowseView::Key keys[] = {TDiskBrowseView::Key::Folder, TDiskBrowseView::Key::Name,
                                         TDiskBrowseView::Key::Size, TDiskBrowseView::Key::Date};
    index_->Sort(shown_, keys[column], order == Qt::DescendingOrder, foldersFirst_);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TCatalogueRowsModel::Reselect() {
    shown_.clear();
    shownInfo_.clear();
    if (!index_) {
        all_.clear();
        info_.clear();
        shown_.shrink_to_fit();
        return;
    }
    const std::string filter = FromQ(filter_);
    shown_ = filter.empty() ? all_ : index_->Filter(all_, filter, /*withFolders=*/true);
    const std::string infoFolder = AnsiLowerCase(FromQ(TRecordLinesModel::InfoFolderText()));
    const std::string folded = AnsiLowerCase(filter);
    for (size_t i = 0; i < info_.size(); ++i)
        if (folded.empty() || AnsiLowerCase(ShowableUtf8(info_[i])).find(folded) != std::string::npos ||
            infoFolder.find(folded) != std::string::npos)
            shownInfo_.push_back(static_cast<uint32_t>(i));
    const TDiskBrowseView::Key keys[] = {TDiskBrowseView::Key::Folder, TDiskBrowseView::Key::Name,
                                         TDiskBrowseView::Key::Size, TDiskBrowseView::Key::Date};
    index_->Sort(shown_, keys[sortColumn_], sortOrder_ == Qt::DescendingOrder, foldersFirst_);
}

int64_t TCatalogueRowsModel::Entry(int row) const {
    if (row < 0) return -1;
    const auto r = static_cast<size_t>(row);
    if (r < shownInfo_.size()) return -1;
    return r - shownInfo_.size() < shown_.size() ? shown_[r - shownInfo_.size()] : -1;
}

std::string TCatalogueRowsModel::FolderBytes(int row) const {
    const int64_t e = Entry(row);
    return e < 0 ? FromQ(TRecordLinesModel::InfoFolderText()) : index_->FolderPath(static_cast<uint32_t>(e));
}

std::string TCatalogueRowsModel::SectionBytes(int row) const {
    const int64_t e = Entry(row);
    return e < 0 ? FromQ(TRecordLinesModel::InfoFolderText()) : std::string(index_->Section(static_cast<uint32_t>(e)));
}

std::string TCatalogueRowsModel::NameBytes(int row) const {
    const int64_t e = Entry(row);
    if (e >= 0) return std::string(index_->Cat().Name(static_cast<size_t>(e)));
    return row >= 0 && static_cast<size_t>(row) < shownInfo_.size() ? info_[shownInfo_[static_cast<size_t>(row)]]
                                                                      : std::string();
}

std::string TCatalogueRowsModel::PathBytes(int row) const {
    const int64_t e = Entry(row);
    return e < 0 ? std::string() : index_->EntryPath(static_cast<uint32_t>(e));
}

int TCatalogueRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shownInfo_.size() + shown_.size());
}

int TCatalogueRowsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QVariant TCatalogueRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const int64_t e = Entry(index.row());
    const int col = index.column();
    if (role == Qt::TextAlignmentRole)
        return col == SizeColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    if (role == Qt::DecorationRole)
        return col == NameColumn && e >= 0 && index_->IsFolder(static_cast<uint32_t>(e)) ? QVariant(FolderIcon())
                                                                                         : QVariant();
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    if (e < 0) {
        if (col == FolderColumn) return TRecordLinesModel::InfoFolderText();
        if (col == NameColumn) return NameToQ(NameBytes(index.row()));
        return {};
    }
    const auto entry = static_cast<uint32_t>(e);
    const Catalogue& c = index_->Cat();
    // A name tells in its tooltip why its archive was not listed (or not all of it), or why
    // its content could not be read.
    if (role == Qt::ToolTipRole && col == NameColumn && !c.Note(entry).empty())
        return NameToQ(c.Name(entry)) + QStringLiteral("\n") + NameToQ(EntryNoteText(c, entry));
    switch (col) {
    case FolderColumn: return NameToQ(index_->FolderPath(entry));
    case NameColumn: return NameToQ(c.Name(entry));
    case SizeColumn:
        return role == Qt::ToolTipRole ? GroupedNumber(c.size[entry]) + QStringLiteral(" bytes") : SizeText(c.size[entry]);
    case DateColumn: return DateText(c.mtime[entry]);
    default: return {};
    }
}

QVariant TCatalogueRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case FolderColumn: return QStringLiteral("Folder");
    case NameColumn: return QStringLiteral("Name");
    case SizeColumn: return QStringLiteral("Size");
    case DateColumn: return QStringLiteral("Date");
    default: return {};
    }
}

// ---- tree ----------------------------------------------------------------------------------

TCatalogueTreeModel::TCatalogueTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

void TCatalogueTreeModel::SetIndex(std::shared_ptr<TDiskBrowseView> index) {
    beginResetModel();
    index_ = std::move(index);
    endResetModel();
}

QModelIndex TCatalogueTreeModel::IndexOf(uint32_t folder) const {
    if (!index_ || folder >= index_->Count()) return {};
    return createIndex(folder == 0 ? 0 : static_cast<int>(index_->RowInParent(folder)), 0, quintptr(folder));
}

QModelIndex TCatalogueTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (!index_ || row < 0 || column < 0 || column > 1) return {};
    if (!parent.isValid()) return row == 0 ? createIndex(0, column, quintptr(0)) : QModelIndex();
    const uint32_t f = Folder(parent);
    if (static_cast<uint32_t>(row) >= index_->SubfolderCount(f)) return {};
    return createIndex(row, column, quintptr(index_->Children(f)[static_cast<size_t>(row)]));
}

QModelIndex TCatalogueTreeModel::parent(const QModelIndex& child) const {
    if (!index_ || !child.isValid()) return {};
    const uint32_t e = Folder(child);
    if (e == 0) return {};
    const uint32_t p = index_->Cat().parent[e];
    return createIndex(p == 0 ? 0 : static_cast<int>(index_->RowInParent(p)), 0, quintptr(p));
}

int TCatalogueTreeModel::rowCount(const QModelIndex& parent) const {
    if (!index_) return 0;
    if (!parent.isValid()) return 1;
    if (parent.column() > 0) return 0;
    return static_cast<int>(index_->SubfolderCount(Folder(parent)));
}

bool TCatalogueTreeModel::hasChildren(const QModelIndex& parent) const { return rowCount(parent) > 0; }

int TCatalogueTreeModel::columnCount(const QModelIndex&) const { return 2; }

QVariant TCatalogueTreeModel::data(const QModelIndex& index, int role) const {
    if (!index_ || !index.isValid()) return {};
    const uint32_t f = Folder(index);
    if (role == Qt::DecorationRole) return index.column() == 0 ? QVariant(FolderIcon()) : QVariant();
    if (role == Qt::TextAlignmentRole)
        return index.column() == 1 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    if (index.column() == 1)
        return role == Qt::ToolTipRole ? GroupedNumber(index_->Cat().size[f]) + QStringLiteral(" bytes")
                                       : SizeText(index_->Cat().size[f]);
    if (role == Qt::ToolTipRole) return NameToQ(index_->EntryPath(f));
    return f == 0 ? NameToQ(index_->Figures().root) : NameToQ(index_->Cat().Name(f));
}

QVariant TCatalogueTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? QStringLiteral("Folder") : QStringLiteral("Size");
}

} // namespace quindle
