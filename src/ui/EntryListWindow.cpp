#include "ui/EntryListWindow.h"

#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <memory>

#include "browse/FileListBox.h"
#include "catalogue/EntryText.h"
#include "changes/CatalogueDiff.h"
#include "changes/Copies.h"
#include "platform/Errors.h"
#include "records/PackageTitles.h"
#include "ui/OvalButton.h"
#include "ui/ReportCsv.h"
#include "ui/Text.h"

namespace quindle {

TEntryRowsModel::TEntryRowsModel(QStringList headers, QObject* parent)
    : QAbstractTableModel(parent), headers_(std::move(headers)) {}

void TEntryRowsModel::SetRows(std::vector<QVariant> cells) {
    beginResetModel();
    cells_ = std::move(cells);
    endResetModel();
}

int TEntryRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || headers_.isEmpty() ? 0 : static_cast<int>(cells_.size() / headers_.size());
}

int TEntryRowsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : headers_.size(); }

QVariant TEntryRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::TextAlignmentRole))
        return {};
    const QVariant& v = cells_[static_cast<size_t>(index.row()) * headers_.size() + index.column()];
    if (role == Qt::TextAlignmentRole)
        return v.typeId() == QMetaType::LongLong ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
    return v;
}

QVariant TEntryRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal && section >= 0 && section < headers_.size())
        return headers_[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

TEntryListWindow::TEntryListWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const QString& caption,
                                   QStringList headers, int filterColumn)
    : QDialog(parent), ctx_(ctx), ui_(ui) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption);
    resize(760, 480);
    auto* layout = new QVBoxLayout(this);
    DiskBox = new QComboBox(this);
    DiskBox->hide();
    layout->addWidget(DiskBox);
    FilterEdit = new QLineEdit(this);
    FilterEdit->setPlaceholderText(QStringLiteral("Filter: names holding..."));
    layout->addWidget(FilterEdit);
    model_ = new TEntryRowsModel(std::move(headers), this);
    proxy_ = new QSortFilterProxyModel(this);
    proxy_->setSourceModel(model_);
    proxy_->setFilterKeyColumn(filterColumn);
    proxy_->setFilterCaseSensitivity(Qt::CaseInsensitive);
    proxy_->setSortRole(Qt::EditRole);
    List = new QTableView(this);
    List->setModel(proxy_);
    List->setSortingEnabled(true);
    List->sortByColumn(-1, Qt::AscendingOrder); // the order given until a header is clicked
    List->setSelectionBehavior(QAbstractItemView::SelectRows);
    List->verticalHeader()->hide();
    List->verticalHeader()->setDefaultSectionSize(18);
    List->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(List, 1);
    auto* bottom = new QHBoxLayout;
    SummaryLabel = new QLabel(this);
    bottom->addWidget(SummaryLabel, 1);
    SaveButton = new TOvalButton(this);
    SaveButton->SetCaption(QStringLiteral("Save as CSV..."));
    SaveButton->setFixedSize(100, 26);
    SaveButton->OnClick = [this](QObject*) { SaveButtonClick(); };
    bottom->addWidget(SaveButton);
    layout->addLayout(bottom);
    connect(FilterEdit, &QLineEdit::textChanged, proxy_, &QSortFilterProxyModel::setFilterFixedString);
}

void TEntryListWindow::SetRows(std::vector<QVariant> cells, const QString& summary) {
    model_->SetRows(std::move(cells));
    SummaryLabel->setText(summary);
    List->resizeColumnsToContents();
}

int TEntryListWindow::ShownRows() const { return proxy_->rowCount(); }

QStringList TEntryListWindow::ShownRow(int row) const {
    QStringList out;
    for (int c = 0; c < proxy_->columnCount(); ++c) out << proxy_->index(row, c).data().toString();
    return out;
}

QString TEntryListWindow::Summary() const { return SummaryLabel->text(); }

std::string TEntryListWindow::CsvText() const {
    std::string text;
    const auto line = [&](const QStringList& fields) {
        for (int c = 0; c < fields.size(); ++c) {
            if (c) text += ',';
            text += CsvField(FromQ(fields[c]));
        }
        text += "\r\n";
    };
    QStringList headers;
    for (int c = 0; c < model_->columnCount(); ++c) headers << model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    line(headers);
    for (int r = 0; r < ShownRows(); ++r) line(ShownRow(r));
    return text;
}

void TEntryListWindow::SaveButtonClick() {
    const QString path = ui_.GetSaveFileName(this, QStringLiteral("Save the list as CSV"),
                                             QDir::home().filePath(windowTitle() + QStringLiteral(".csv")),
                                             QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty()) return;
    const std::string text = CsvText();
    // QSaveFile writes beside the target and renames the whole file over it at commit.
    QSaveFile file(path);
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ui_.ShowError(this, ToQ(Format("Cannot create file %s", FromQ(path))));
        return;
    }
    ctx_.Log("List saved to " + FromQ(path));
}

namespace {

QString EntryPath(const Catalogue& c, uint32_t i) { return NameToQ(c.header.figures.root + c.Path(i, '\\')); }
QString Date(int64_t t) { return ToQ(IsoUtc(t)); }
QVariant Number(uint64_t v) { return QVariant(static_cast<qlonglong>(v)); }

std::vector<std::string> RecordFiles(AppContext& ctx) {
    TFileListBox files(ctx);
    files.SetMask("*.dat");
    files.SetFileType(ftReadOnly | ftHidden | ftArchive | ftNormal);
    files.SetDirectory(ctx.PackageFolder);
    files.RefreshList();
    return files.CopyItems();
}

QString Skipped(const PackageCatalogues& p) {
    if (p.skipped.empty()) return {};
    return QStringLiteral("; %1 disk(s) without a catalogue left out").arg(p.skipped.size());
}

} // namespace

TEntryListWindow* ShowChangesWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const std::string& diskName,
                                    const Catalogue& before, const Catalogue& after, const CatalogueDiff& diff) {
    auto* w = new TEntryListWindow(ctx, ui, parent, QStringLiteral("Changes on %1").arg(NameToQ(diskName)),
                                   {"Change", "Kind", "Size", "Date", "Path", "Old size", "Old date"}, 4);
    std::vector<QVariant> cells;
    cells.reserve(diff.changes.size() * 7);
    for (const EntryChange& c : diff.changes) {
        const bool old = c.change == ChangeKind::Removed;
        const Catalogue& cat = old ? before : after;
        const uint32_t i = old ? c.oldEntry : c.newEntry;
        const bool changed = c.change == ChangeKind::Changed;
        for (QVariant v : {QVariant(QString::fromLatin1(ChangeKindName(c.change))),
                           QVariant(QString::fromLatin1(EntryKindName(cat.Kind(i)))), Number(cat.size[i]),
                           QVariant(Date(cat.mtime[i])), QVariant(EntryPath(cat, i)),
                           changed ? Number(before.size[c.oldEntry]) : QVariant(QString()),
                           changed ? QVariant(Date(before.mtime[c.oldEntry])) : QVariant(QString())})
            cells.push_back(std::move(v));
    }
    w->SetRows(std::move(cells), ToQ(ChangeCountsText(diff.counts)));
    w->show();
    return w;
}

TEntryListWindow* ShowCopiesWindow(AppContext& ctx, UiServices& ui, QWidget* parent) {
    auto* w = new TEntryListWindow(ctx, ui, parent, QStringLiteral("Copies across the package"),
                                   {"Name", "Size", "Copies", "Serial", "Path"}, 0);
    const PackageCatalogues p = LoadPackageCatalogues(ctx.PackageFolder, RecordFiles(ctx), ctx.InfoSection);
    const Copies copies = FindCopies(p.disks, 1);
    std::vector<QVariant> cells;
    cells.reserve(copies.refs.size() * 5);
    for (const CopyGroup& g : copies.groups)
        for (uint32_t k = 0; k < g.count; ++k) {
            const FileRef& r = copies.refs[g.first + k];
            const PackageDisk& d = p.disks[r.disk];
            for (QVariant v : {QVariant(NameToQ(d.catalogue.Name(r.entry))), Number(g.size), Number(g.count),
                               QVariant(ToQ(d.serial)), QVariant(EntryPath(d.catalogue, r.entry))})
                cells.push_back(std::move(v));
        }
    w->SetRows(std::move(cells), QStringLiteral("%1 group(s) of copies, %2 file(s); %3 bytes in copies beyond the "
                                                "first of each%4")
                                     .arg(copies.groups.size())
                                     .arg(copies.copyFiles)
                                     .arg(copies.spareBytes)
                                     .arg(Skipped(p)));
    w->show();
    return w;
}

TEntryListWindow* ShowUniqueWindow(AppContext& ctx, UiServices& ui, QWidget* parent) {
    auto* w = new TEntryListWindow(ctx, ui, parent, QStringLiteral("Files without a copy"),
                                   {"Kind", "Size", "Date", "Path"}, 3);
    auto p = std::make_shared<PackageCatalogues>(
        LoadPackageCatalogues(ctx.PackageFolder, RecordFiles(ctx), ctx.InfoSection));
    for (const PackageDisk& d : p->disks) {
        const std::string title = ReadRecordTitle(ctx.PackageFolder + d.serial + ".dat", ctx.InfoSection);
        w->DiskBox->addItem(title.empty() ? ToQ(d.serial) : NameToQ(title) + QStringLiteral(" (") + ToQ(d.serial) + ")");
    }
    const auto show = [w, p](int index) {
        if (index < 0 || index >= static_cast<int>(p->disks.size())) return;
        const Catalogue& disk = p->disks[static_cast<size_t>(index)].catalogue;
        UniqueFiles unique(disk);
        for (size_t o = 0; o < p->disks.size(); ++o)
            if (o != static_cast<size_t>(index)) unique.Compare(p->disks[o].catalogue);
        std::vector<QVariant> cells;
        uint64_t bytes = 0;
        const std::vector<uint32_t> entries = unique.Entries();
        for (const uint32_t i : entries) {
            bytes += disk.size[i];
            for (QVariant v : {QVariant(QString::fromLatin1(EntryKindName(disk.Kind(i)))), Number(disk.size[i]),
                               QVariant(Date(disk.mtime[i])), QVariant(EntryPath(disk, i))})
                cells.push_back(std::move(v));
        }
        w->SetRows(std::move(cells), QStringLiteral("%1 file(s), %2 bytes with no copy on the %3 other disk(s)%4")
                                         .arg(entries.size())
                                         .arg(bytes)
                                         .arg(p->disks.size() - 1)
                                         .arg(Skipped(*p)));
    };
    QObject::connect(w->DiskBox, &QComboBox::currentIndexChanged, w, show);
    w->DiskBox->show();
    show(w->DiskBox->currentIndex());
    w->show();
    return w;
}

} // namespace quindle
