#include "ui/lists/EntryListWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <map>
#include <memory>
#include <thread>

#include "catalogue/EntryText.h"
#include "checksums/Checksum.h"
#include "changes/CatalogueDiff.h"
#include "copies/Copies.h"
#include "index/CaseFold.h"
#include "package/Package.h"
#include "platform/Errors.h"
#include "ui/app/DiskWatch.h"
#include "ui/shared/Formats.h"
#include "ui/widgets/OvalButton.h"
#include "ui/search/ReportCsv.h"
#include "ui/shared/Text.h"

namespace quindle {

TEntryRowsModel::TEntryRowsModel(std::vector<EntryColumn> columns, QObject* parent)
    : QAbstractTableModel(parent), columns_(std::move(columns)) {}

void TEntryRowsModel::SetRows(std::vector<QVariant> cells, std::vector<std::string> filterKeys) {
    beginResetModel();
    cells_ = std::move(cells);
    keys_ = std::move(filterKeys);
    keys_.resize(static_cast<size_t>(rowCount()));
    endResetModel();
}

int TEntryRowsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || columns_.empty() ? 0 : static_cast<int>(cells_.size() / columns_.size());
}

int TEntryRowsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

const QVariant& TEntryRowsModel::Cell(int row, int column) const {
    return cells_[static_cast<size_t>(row) * columns_.size() + static_cast<size_t>(column)];
}

QVariant TEntryRowsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const QVariant& v = Cell(index.row(), index.column());
    const bool number = v.typeId() == QMetaType::LongLong;
    const ColumnKind kind = Kind(index.column());
    switch (role) {
    case Qt::TextAlignmentRole:
        return number && kind != ColumnKind::Date ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
    case Qt::EditRole: return v; // sorting compares the numbers themselves
    case Qt::ToolTipRole:
        return number && kind == ColumnKind::Bytes ? Counted(static_cast<uint64_t>(v.toLongLong()), "byte", "bytes")
                                                   : QVariant();
    case Qt::DisplayRole:
        if (!number) return v;
        if (kind == ColumnKind::Date) return DateText(v.toLongLong());
        if (kind == ColumnKind::Bytes) return SizeText(static_cast<uint64_t>(v.toLongLong()));
        return GroupedNumber(static_cast<uint64_t>(v.toLongLong()));
    default: return {};
    }
}

QVariant TEntryRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::DisplayRole && orientation == Qt::Horizontal && section >= 0 && section < columnCount())
        return columns_[static_cast<size_t>(section)].header;
    return QAbstractTableModel::headerData(section, orientation, role);
}

std::string FilterKey(std::string_view text) { return Folded(text); }

QVariant NumberCell(uint64_t v) { return QVariant(static_cast<qlonglong>(v)); }
QVariant DateCell(int64_t seconds) { return QVariant(static_cast<qlonglong>(seconds)); }
QVariant TextCell(const char* s) { return QVariant(QString::fromLatin1(s)); }

void EntryRows::Add(std::initializer_list<QVariant> row, std::string_view filterText) {
    cells.insert(cells.end(), row.begin(), row.end());
    filterKeys.push_back(FilterKey(filterText));
}

namespace {

// Rows whose filter key holds the folded text typed.
class FoldedFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void SetText(const QString& text) {
        needle_ = FilterKey(FromQ(text));
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex&) const override {
        return needle_.empty() ||
               static_cast<const TEntryRowsModel*>(sourceModel())->FilterKeyOf(row).find(needle_) != std::string::npos;
    }

private:
    std::string needle_;
};

} // namespace

TEntryListWindow::TEntryListWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const QString& caption,
                                   std::vector<EntryColumn> columns)
    : QDialog(parent), ctx_(ctx), ui_(ui) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(caption);
    resize(760, 480);
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    DiskBox = new QComboBox(this);
    DiskBox->hide();
    top->addWidget(DiskBox, 1);
    ContentBox = new QCheckBox(QStringLiteral("By content"), this);
    ContentBox->setToolTip(QStringLiteral(
        "Copies are files of the same size and checksum, whatever their names. Only disks memorized with "
        "checksums take part."));
    ContentBox->hide();
    top->addWidget(ContentBox);
    top->addStretch(0);
    layout->addLayout(top);
    FilterEdit = new QLineEdit(this);
    FilterEdit->setPlaceholderText(QStringLiteral("Filter: names holding..."));
    layout->addWidget(FilterEdit);
    model_ = new TEntryRowsModel(std::move(columns), this);
    auto* filter = new FoldedFilter(this);
    proxy_ = filter;
    proxy_->setSourceModel(model_);
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
    Progress = new QProgressBar(this);
    Progress->setFixedWidth(160);
    Progress->hide();
    bottom->addWidget(Progress);
    CancelButton = new TOvalButton(this);
    CancelButton->SetCaption(QStringLiteral("Cancel"));
    CancelButton->setFixedSize(70, 26);
    CancelButton->OnClick = [this](QObject*) { CancelButtonClick(); };
    CancelButton->hide();
    bottom->addWidget(CancelButton);
    SaveButton = new TOvalButton(this);
    SaveButton->SetCaption(QStringLiteral("Save as CSV..."));
    SaveButton->setFixedSize(100, 26);
    SaveButton->OnClick = [this](QObject*) { SaveButtonClick(); };
    bottom->addWidget(SaveButton);
    layout->addLayout(bottom);
    connect(FilterEdit, &QLineEdit::textChanged, this, [filter](const QString& t) { filter->SetText(t); });
    progressTimer_.setInterval(100);
    connect(&progressTimer_, &QTimer::timeout, this, [this] { ShowProgress(); });
}

TEntryListWindow::~TEntryListWindow() {
    if (job_) job_->cancel = true;
}

void TEntryListWindow::SetRows(EntryRows rows) {
    model_->SetRows(std::move(rows.cells), std::move(rows.filterKeys));
    SummaryLabel->setText(rows.summary);
    List->resizeColumnsToContents();
}

void TEntryListWindow::ShowProgress() {
    if (!job_) return;
    const uint64_t total = job_->total, done = job_->done;
    if (total == 0 && status_) {
        Progress->setRange(0, 0); // nothing to count yet: busy
    } else {
        // Per mille: a count of bytes does not fit the bar's int.
        Progress->setRange(0, 1000);
        Progress->setValue(total == 0 ? 0 : static_cast<int>(std::min<uint64_t>(done, total) * 1000 / total));
    }
    if (job_->cancel) return;
    SummaryLabel->setText(status_ ? status_()
                                  : QStringLiteral("Reading the catalogues: %1 of %2")
                                        .arg(GroupedNumber(done), Counted(total, "disk", "disks")));
}

void TEntryListWindow::Load(std::function<EntryRows(LoadProgress&)> work, std::function<QString()> status) {
    if (job_) job_->cancel = true;
    auto job = std::make_shared<LoadProgress>();
    job_ = job;
    status_ = std::move(status);
    model_->SetRows({}, {});
    Progress->setValue(0);
    Progress->show();
    CancelButton->show();
    SaveButton->setEnabled(false);
    ShowProgress();
    progressTimer_.start();
    QPointer<TEntryListWindow> self(this);
    std::thread([self, job, work = std::move(work)]() mutable {
        // Nothing leaves this thread: a failure becomes the list's summary.
        auto rows = std::make_shared<EntryRows>();
        try {
            *rows = work(*job);
        } catch (const std::exception& e) {
            *rows = EntryRows{};
            rows->summary = QStringLiteral("The list could not be made: ") + QString::fromUtf8(e.what());
        } catch (...) {
            *rows = EntryRows{};
            rows->summary = QStringLiteral("The list could not be made.");
        }
        QMetaObject::invokeMethod(
            qApp,
            [self, job, rows] {
                if (!self || self->job_ != job) return;
                self->job_.reset();
                self->status_ = nullptr;
                self->progressTimer_.stop();
                self->Progress->hide();
                self->CancelButton->hide();
                self->SaveButton->setEnabled(true);
                if (job->cancel) {
                    self->SummaryLabel->setText(QStringLiteral("Cancelled"));
                    return;
                }
                if (!rows->log.empty()) self->ctx_.Log(rows->log);
                self->SetRows(std::move(*rows));
            },
            Qt::QueuedConnection);
    }).detach();
}

void TEntryListWindow::CancelButtonClick() {
    if (!job_) return;
    job_->cancel = true;
    SummaryLabel->setText(QStringLiteral("Cancelling..."));
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
    // The cells themselves, not as shown: numbers without grouping, dates in UTC.
    for (int r = 0; r < ShownRows(); ++r) {
        const int row = proxy_->mapToSource(proxy_->index(r, 0)).row();
        QStringList fields;
        for (int c = 0; c < model_->columnCount(); ++c) {
            const QVariant& v = model_->Cell(row, c);
            if (v.typeId() == QMetaType::LongLong && model_->Kind(c) == ColumnKind::Date)
                fields << ToQ(IsoUtc(v.toLongLong()));
            else
                fields << v.toString();
        }
        line(fields);
    }
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
std::string EntryPathBytes(const Catalogue& c, uint32_t i) { return c.header.figures.root + c.Path(i, '\\'); }

// "; 2 disks left out: Attic (88): no catalogue, ..." naming the first few.
QString LeftOut(const std::vector<PackageCatalogues::Skipped>& skipped) {
    if (skipped.empty()) return {};
    QString text = QStringLiteral("; ") + Counted(skipped.size(), "disk", "disks") + QStringLiteral(" left out: ");
    for (size_t i = 0; i < skipped.size() && i < 3; ++i)
        text += (i ? QStringLiteral(", ") : QString()) + NameToQ(skipped[i].info.NameWithSerial()) +
                QStringLiteral(": ") + ToQ(skipped[i].reason);
    return text + (skipped.size() > 3 ? QStringLiteral(", ...") : QString());
}

} // namespace

TEntryListWindow* ShowChangesWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const std::string& diskName,
                                    const Catalogue& before, const Catalogue& after, const CatalogueDiff& diff) {
    auto* w = new TEntryListWindow(ctx, ui, parent, QStringLiteral("Changes on %1").arg(NameToQ(diskName)),
                                   {{"Change"},
                                    {"Kind"},
                                    {"Size", ColumnKind::Count},
                                    {"Date", ColumnKind::Date},
                                    {"Path"},
                                    {"Old size", ColumnKind::Count},
                                    {"Old date", ColumnKind::Date}});
    EntryRows rows;
    rows.cells.reserve(diff.changes.size() * 7);
    for (const EntryChange& c : diff.changes) {
        const bool old = c.change == ChangeKind::Removed;
        const Catalogue& cat = old ? before : after;
        const uint32_t i = old ? c.oldEntry : c.newEntry;
        const bool changed = c.change == ChangeKind::Changed;
        rows.Add({TextCell(ChangeKindName(c.change)), TextCell(EntryKindName(cat.Kind(i))), NumberCell(cat.size[i]),
                  DateCell(cat.mtime[i]), EntryPath(cat, i),
                  changed ? NumberCell(before.size[c.oldEntry]) : QVariant(QString()),
                  changed ? DateCell(before.mtime[c.oldEntry]) : QVariant(QString())},
                 EntryPathBytes(cat, i));
    }
    rows.summary = ToQ(ChangeCountsText(diff.counts));
    w->SetRows(std::move(rows));
    w->show();
    return w;
}

TEntryListWindow* ShowCopiesWindow(AppContext& ctx, UiServices& ui, QWidget* parent) {
    auto* w = new TEntryListWindow(ctx, ui, parent, QStringLiteral("Copies across the package"),
                                   {{"Name"},
                                    {"Size", ColumnKind::Count},
                                    {"Copies", ColumnKind::Count},
                                    {"Disk"},
                                    {"Serial"},
                                    {"Path"},
                                    {"Checksum"}});
    const auto show = [w, folder = ctx.PackageFolder, info = ctx.InfoSection, files = PackageRecordFiles(ctx)] {
        const CopyMatch match = w->ContentBox->isChecked() ? CopyMatch::Content : CopyMatch::NameSize;
        w->Load([folder, info, files, match](LoadProgress& progress) {
            PackageCatalogues p = LoadPackageCatalogues(folder, files, info, 2, &progress);
            EntryRows rows;
            if (p.cancelled) return rows;
            if (match == CopyMatch::Content)
                for (const PackageDisk& d : p.disks)
                    if (!d.catalogue.HasChecksums()) p.skipped.push_back({d.info, "no checksums"});
            const Copies copies = FindCopies(p.disks, 1, true, match);
            rows.cells.reserve(copies.refs.size() * 7);
            for (const CopyGroup& g : copies.groups)
                for (uint32_t k = 0; k < g.count; ++k) {
                    const FileRef& r = copies.refs[g.first + k];
                    const PackageDisk& d = p.disks[r.disk];
                    const std::string_view name = d.catalogue.Name(r.entry);
                    const auto sum = d.catalogue.ChecksumOf(r.entry);
                    rows.Add({NameToQ(name), NumberCell(g.size), NumberCell(g.count), NameToQ(d.info.Name()), ToQ(d.Serial()),
                              EntryPath(d.catalogue, r.entry), sum ? ToQ(Checksum{*sum}.Hex()) : QString()},
                             name);
                }
            rows.summary = Counted(copies.groups.size(), "group of copies", "groups of copies") +
                           QStringLiteral(", ") + Counted(copies.copyFiles, "file", "files") + QStringLiteral("; ") +
                           Counted(copies.spareBytes, "byte", "bytes") +
                           QStringLiteral(" in copies beyond the first of each") +
                           (match == CopyMatch::Content ? QStringLiteral(", by content") : QString()) +
                           LeftOut(p.skipped);
            return rows;
        });
    };
    QObject::connect(w->ContentBox, &QCheckBox::toggled, w, show);
    w->ContentBox->show();
    w->show();
    show();
    return w;
}

TEntryListWindow* ShowUniqueWindow(AppContext& ctx, UiServices& ui, QWidget* parent) {
    auto* w = new TEntryListWindow(ctx, ui, parent, QStringLiteral("Files without a copy"),
                                   {{"Kind"}, {"Size", ColumnKind::Count}, {"Date", ColumnKind::Date}, {"Path"}});
    const std::vector<std::string> files = PackageRecordFiles(ctx);
    for (const std::string& file : files)
        w->DiskBox->addItem(NameToQ(ReadDiskInfo(ctx.PackageFolder + file, ctx.InfoSection).NameWithSerial()));
    const auto show = [w, files, folder = ctx.PackageFolder, info = ctx.InfoSection] {
        const int index = w->DiskBox->currentIndex();
        if (index < 0 || index >= static_cast<int>(files.size())) return;
        const CopyMatch match = w->ContentBox->isChecked() ? CopyMatch::Content : CopyMatch::NameSize;
        w->Load([files, folder, info, index, match](LoadProgress& progress) {
            EntryRows rows;
            // The disk's own catalogue is held throughout; the others are read one at a time.
            const LoadedDisk own = LoadPackageDisk(folder, files[static_cast<size_t>(index)], info);
            if (!own.catalogue) {
                rows.summary = NameToQ(own.info.NameWithSerial()) +
                               QStringLiteral(" has no details until it is memorized again (%1)").arg(ToQ(own.reason));
                return rows;
            }
            const Catalogue& disk = *own.catalogue;
            if (match == CopyMatch::Content && !disk.HasChecksums()) {
                rows.summary = NameToQ(own.info.NameWithSerial()) +
                               QStringLiteral(" has no checksums: memorize it again with Checksums ticked");
                return rows;
            }
            std::vector<std::string> others = files;
            others.erase(others.begin() + index);
            UniqueFiles unique(disk, true, match);
            uint64_t compared = 0;
            std::vector<PackageCatalogues::Skipped> skipped;
            ForEachPackageDisk(
                folder, others, info,
                [&](LoadedDisk& other) {
                    if (!other.catalogue) {
                        skipped.push_back({std::move(other.info), std::move(other.reason)});
                        return;
                    }
                    if (match == CopyMatch::Content && !other.catalogue->HasChecksums()) {
                        skipped.push_back({std::move(other.info), "no checksums"});
                        return;
                    }
                    unique.Compare(*other.catalogue);
                    ++compared;
                },
                &progress);
            if (progress.cancel) return rows;
            uint64_t bytes = 0;
            const std::vector<uint32_t> entries = unique.Entries();
            rows.cells.reserve(entries.size() * 4);
            for (const uint32_t i : entries) {
                bytes += disk.size[i];
                rows.Add({TextCell(EntryKindName(disk.Kind(i))), NumberCell(disk.size[i]),
                          DateCell(disk.mtime[i]), EntryPath(disk, i)},
                         EntryPathBytes(disk, i));
            }
            rows.summary = Counted(entries.size(), "file", "files") + QStringLiteral(", ") +
                           Counted(bytes, "byte", "bytes") + QStringLiteral(" with no copy") +
                           (match == CopyMatch::Content ? QStringLiteral(" by content") : QString()) +
                           QStringLiteral(" on the ") +
                           Counted(compared, "other disk", "other disks") + LeftOut(skipped);
            return rows;
        });
    };
    QObject::connect(w->DiskBox, &QComboBox::currentIndexChanged, w, show);
    QObject::connect(w->ContentBox, &QCheckBox::toggled, w, show);
    w->DiskBox->show();
    w->ContentBox->show();
    w->show();
    show();
    return w;
}

TEntryListWindow* ShowDisksWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const DiskWatch* watch) {
    auto* w = new TEntryListWindow(ctx, ui, parent, QStringLiteral("Disks of the package"),
                                   {{"Title"},
                                    {"Serial"},
                                    {"Memorized", ColumnKind::Date},
                                    {"Files", ColumnKind::Count},
                                    {"Folders", ColumnKind::Count},
                                    {"Size", ColumnKind::Bytes},
                                    {"Capacity", ColumnKind::Bytes},
                                    {"Free", ColumnKind::Bytes},
                                    {"Complete"},
                                    {"Drive"},
                                    {"Catalogue"},
                                    {"Description"}});
    const auto load = [w, &ctx, watch] {
        std::map<std::string, char> drives; // record file -> the drive it is in now
        if (watch)
            for (const ConnectedDisk& c : watch->Connected()) drives.emplace(c.recordFile, c.letter);
        w->Load([folder = ctx.PackageFolder, info = ctx.InfoSection, files = PackageRecordFiles(ctx),
                 drives](LoadProgress& progress) {
            EntryRows rows;
            progress.total = files.size();
            uint64_t bytes = 0, free = 0;
            for (const std::string& file : files) {
                if (progress.cancel) return rows;
                const DiskSummary s = SummarizeDisk(folder, file, info);
                const DiskFigures* f = s.figures ? &*s.figures : nullptr;
                const auto number = [&](uint64_t DiskFigures::*field) {
                    return f ? NumberCell(f->*field) : QVariant(QString());
                };
                const auto drive = drives.find(file);
                rows.Add({NameToQ(s.info.title), ToQ(s.info.serial),
                          s.memorized ? DateCell(*s.memorized) : QVariant(NameToQ(s.info.date)),
                          number(&DiskFigures::files), number(&DiskFigures::folders), number(&DiskFigures::bytes),
                          number(&DiskFigures::capacity), number(&DiskFigures::freeBytes),
                          QVariant(f ? QString::fromLatin1(f->complete ? "yes" : "no") : QString()),
                          QVariant(drive == drives.end() ? QString() : QString(QChar(drive->second)) + QLatin1Char(':')),
                          ToQ(s.catalogue), NameToQ(s.info.description)},
                         s.info.title + '\n' + s.info.serial + '\n' + s.info.description);
                if (f) {
                    bytes += f->bytes;
                    free += f->freeBytes;
                }
                ++progress.done;
            }
            rows.summary = Counted(files.size(), "disk", "disks") + QStringLiteral(", ") + SizeText(bytes) +
                           QStringLiteral(" in files, ") + SizeText(free) + QStringLiteral(" free; ") +
                           Counted(drives.size(), "disk", "disks") + QStringLiteral(" in a drive now");
            return rows;
        });
    };
    if (watch) QObject::connect(watch, &DiskWatch::ConnectedChanged, w, load);
    w->FilterEdit->setPlaceholderText(QStringLiteral("Filter: titles, serials or descriptions holding..."));
    w->resize(980, 420); // every figure in view
    w->show();
    load();
    return w;
}

} // namespace quindle
