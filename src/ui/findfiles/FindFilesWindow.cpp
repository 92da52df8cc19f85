#include "ui/findfiles/FindFilesWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>
#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "catalogue/EntryText.h"
#include "changes/DiskChanges.h"
#include "package/Package.h"
#include "ui/app/DiskWatch.h"
#include "ui/shared/Formats.h"
#include "platform/Errors.h"
#include "ui/widgets/OvalButton.h"
#include "ui/search/ReportCsv.h"
#include "ui/shared/Text.h"

namespace quindle {

// One query on its way: the window cancels it when the next keystroke comes, before or
// after the worker has made its FileQuery.
struct FindJob {
    std::atomic<bool> cancelled{false};
    std::mutex m;
    std::shared_ptr<FileQuery> query;
    void Cancel() {
        cancelled = true;
        std::lock_guard lock(m);
        if (query) query->Cancel();
    }
};

// ---- model -----------------------------------------------------------------------------

void TFileHitsModel::SetHits(std::shared_ptr<const IndexSnapshot> snapshot, std::vector<FileHit> hits) {
    beginResetModel();
    snapshot_ = std::move(snapshot);
    hits_ = std::move(hits);
    endResetModel();
}

int TFileHitsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(std::min<size_t>(hits_.size(), INT32_MAX));
}

int TFileHitsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

const IndexedDisk* TFileHitsModel::Disk(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= hits_.size()) return nullptr;
    return snapshot_->disks[hits_[static_cast<size_t>(row)].disk].get();
}

std::string TFileHitsModel::WindowsPath(int row) const {
    const IndexedDisk* d = Disk(row);
    return d ? d->WindowsPath(Entry(row)) : std::string();
}

QVariant TFileHitsModel::data(const QModelIndex& index, int role) const {
    const IndexedDisk* d = Disk(index.row());
    if (!d) return {};
    const uint32_t e = Entry(index.row());
    if (role == Qt::TextAlignmentRole && index.column() == ColSize)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::FontRole || role == Qt::ToolTipRole) {
        const auto drive = connected_.find(d->serial);
        if (role == Qt::ToolTipRole) {
            QString tip = QStringLiteral("Serial %1").arg(ToQ(d->serial));
            if (drive != connected_.end()) tip += QStringLiteral(", in drive %1:").arg(QChar(drive->second));
            // Why an archive was not listed, or a file's content not read.
            if (d->details)
                if (const std::string note = EntryNoteText(d->cat, e); !note.empty()) tip += QStringLiteral("\n") + NameToQ(note);
            return tip;
        }
        if (drive == connected_.end()) return {};
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
    case ColDisk: return NameToQ(d->title.empty() ? d->serial : d->title);
    case ColPath: return NameToQ(d->WindowsPath(e));
    case ColSize:
        return d->details ? GroupedNumber(d->cat.size[e]) : QString();
    case ColDate: return d->details ? DateText(d->cat.mtime[e]) : QString();
    case ColKind: return QString::fromLatin1(EntryKindName(d->cat.Kind(e)));
    default: return {};
    }
}

void TFileHitsModel::SetConnected(std::map<std::string, char> connected) {
    if (connected == connected_) return;
    connected_ = std::move(connected);
    if (!hits_.empty()) emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), {Qt::FontRole, Qt::ToolTipRole});
}

bool TFileHitsModel::Connected(int row) const {
    const IndexedDisk* d = Disk(row);
    return d && connected_.count(d->serial) > 0;
}

QVariant TFileHitsModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, o, role);
    static const char* const names[] = {"Disk", "Path", "Size", "Date", "Kind"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(names[section]) : QVariant();
}

void TFileHitsModel::sort(int column, Qt::SortOrder order) {
    const FileOrder by = column == ColSize ? FileOrder::Size : column == ColDate ? FileOrder::Date : FileOrder::TitlePath;
    if (OnSort) OnSort(by, order == Qt::DescendingOrder);
}

// ---- window ----------------------------------------------------------------------------

namespace {

// What the status line adds for the disks searched by their record's names only and for
// those left out, the first three of each named with the reason.
QString DiskProblemsText(const std::vector<DiskProblem>& problems) {
    QString out;
    for (const bool skipped : {false, true}) {
        std::vector<const DiskProblem*> these;
        for (const DiskProblem& p : problems)
            if (p.skipped == skipped) these.push_back(&p);
        if (these.empty()) continue;
        out += QStringLiteral("; ") + Counted(these.size(), "disk", "disks") +
               (skipped ? QStringLiteral(" left out (") : QStringLiteral(" by their record's names only ("));
        for (size_t i = 0; i < these.size() && i < 3; ++i)
            out += (i ? QStringLiteral(", ") : QString()) +
                   NameToQ(DiskInfo::DiskNameWithSerial(these[i]->title, these[i]->serial)) + QStringLiteral(": ") +
                   ToQ(these[i]->reason);
        out += these.size() > 3 ? QStringLiteral(", ...)") : QStringLiteral(")");
    }
    return out;
}

} // namespace

TFindFilesWindow::TFindFilesWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const DiskWatch* watch)
    : QDialog(parent), ctx_(ctx), ui_(ui), watch_(watch),
      index_(std::make_shared<PackageIndex>(ctx.PackageFolder, ctx.InfoSection)) {
    setObjectName(QStringLiteral("FindFilesWindow"));
    setWindowTitle(QStringLiteral("Find files"));
    resize(760, 480);
    auto* layout = new QVBoxLayout(this);

    QueryEdit = new QLineEdit(this);
    QueryEdit->setObjectName(QStringLiteral("QueryEdit"));
    QueryEdit->setPlaceholderText(
        QStringLiteral("Names to find: words, *.jpg, docs\\2019, \"[1080p]\" (in quotes: plain text) ..."));
    QueryEdit->setToolTip(QStringLiteral(
        "Every term must match. A term with \\ or / matches the whole path, any other the name.\n"
        "*, ? and [...] make a pattern for the whole name; any other term matches anywhere in it.\n"
        "Text in double quotes is plain text, blanks included: \"[1080p]\" finds Movie [1080p].mkv,\n"
        "\"holiday 2019\" is one term."));
    QueryEdit->setClearButtonEnabled(true);
    layout->addWidget(QueryEdit);

    auto* filters = new QHBoxLayout;
    const auto edit = [&](const char* name, const QString& hint, int width) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setPlaceholderText(hint);
        e->setFixedWidth(width);
        filters->addWidget(e);
        connect(e, &QLineEdit::textChanged, this, &TFindFilesWindow::StartQuery);
        return e;
    };
    KindBox = new QComboBox(this);
    KindBox->setObjectName(QStringLiteral("KindBox"));
    KindBox->addItems({QStringLiteral("Any kind"), QStringLiteral("Files"), QStringLiteral("Folders"),
                       QStringLiteral("Links"), QStringLiteral("Other")});
    filters->addWidget(KindBox);
    MinSizeEdit = edit("MinSizeEdit", QStringLiteral("Min size (10K, 5M)"), 120);
    MaxSizeEdit = edit("MaxSizeEdit", QStringLiteral("Max size"), 90);
    AfterEdit = edit("AfterEdit", QStringLiteral("From YYYY-MM-DD"), 120);
    BeforeEdit = edit("BeforeEdit", QStringLiteral("Before YYYY-MM-DD"), 130);
    DiskBox = new QComboBox(this);
    DiskBox->setObjectName(QStringLiteral("DiskBox"));
    DiskBox->addItem(QStringLiteral("All disks"));
    DiskBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    filters->addWidget(DiskBox, 1);
    HiddenBox = new QCheckBox(QStringLiteral("Hidden files"), this);
    HiddenBox->setObjectName(QStringLiteral("HiddenBox"));
    HiddenBox->setChecked(true);
    HiddenBox->setToolTip(QStringLiteral("Also find hidden files and everything in hidden folders"));
    filters->addWidget(HiddenBox);
    layout->addLayout(filters);

    Model = new TFileHitsModel(this);
    ResultsView = new QTableView(this);
    ResultsView->setObjectName(QStringLiteral("ResultsView"));
    ResultsView->setModel(Model);
    ResultsView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ResultsView->setSelectionMode(QAbstractItemView::SingleSelection);
    ResultsView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ResultsView->setWordWrap(false);
    ResultsView->setShowGrid(false);
    ResultsView->setSortingEnabled(true);
    ResultsView->horizontalHeader()->setSortIndicator(TFileHitsModel::ColDisk, Qt::AscendingOrder);
    ResultsView->horizontalHeader()->setSectionResizeMode(TFileHitsModel::ColPath, QHeaderView::Stretch);
    // Fixed row heights: the view never measures a million rows.
    ResultsView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ResultsView->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 4);
    ResultsView->verticalHeader()->hide();
    ResultsView->setColumnWidth(TFileHitsModel::ColDisk, 130);
    ResultsView->setColumnWidth(TFileHitsModel::ColSize, 90);
    ResultsView->setColumnWidth(TFileHitsModel::ColDate, 120);
    ResultsView->setColumnWidth(TFileHitsModel::ColKind, 50);
    layout->addWidget(ResultsView, 1);
    connect(ResultsView, &QTableView::doubleClicked, this, [this] { OpenCurrent(); });

    auto* bottom = new QHBoxLayout;
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    bottom->addWidget(StatusLabel, 1);
    const auto button = [&](const char* name, const QString& caption) {
        auto* b = new TOvalButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->SetCaption(caption);
        b->setCursor(Qt::PointingHandCursor);
        b->setFixedSize(QFontMetrics(font()).horizontalAdvance(caption) > 50 ? 100 : 79, 30);
        bottom->addWidget(b);
        return b;
    };
    CopyButton = button("CopyButton", QStringLiteral("Copy path"));
    CopyButton->OnClick = [this](QObject*) { CopyPathClick(); };
    SaveButton = button("SaveButton", QStringLiteral("Save as CSV..."));
    SaveButton->OnClick = [this](QObject*) { SaveButtonClick(); };
    CloseButton = button("CloseButton", QStringLiteral("Close"));
    CloseButton->OnClick = [this](QObject*) { close(); };
    layout->addLayout(bottom);

    // Set last: turning sorting on asks for an order at once.
    Model->OnSort = [this](FileOrder o, bool desc) {
        order_ = o;
        descending_ = desc;
        StartQuery();
    };
    connect(QueryEdit, &QLineEdit::textChanged, this, &TFindFilesWindow::StartQuery);
    // A disk that comes or goes shows (or loses) its mark at once.
    if (watch_) connect(watch_, &DiskWatch::ConnectedChanged, this, &TFindFilesWindow::ShowConnected);
    connect(KindBox, &QComboBox::currentIndexChanged, this, &TFindFilesWindow::StartQuery);
    connect(DiskBox, &QComboBox::currentIndexChanged, this, &TFindFilesWindow::StartQuery);
    connect(HiddenBox, &QCheckBox::toggled, this, &TFindFilesWindow::StartQuery);
}

TFindFilesWindow::~TFindFilesWindow() {
    if (current_) current_->Cancel();
}

void TFindFilesWindow::Open() {
    show();
    raise();
    activateWindow();
    QueryEdit->setFocus();
    QueryEdit->selectAll();
    StartQuery(); // also reads what changed in the package since
}

void TFindFilesWindow::StartQuery() {
    if (current_) current_->Cancel();
    current_.reset();
    const uint64_t generation = ++generation_;
    FileQuerySpec spec;
    spec.terms = ParseQuery(FromQ(QueryEdit->text()));
    spec.order = order_;
    spec.descending = descending_;
    QueryFilters& f = spec.filters;
    static const EntryKind kinds[] = {EntryKind::File, EntryKind::Folder, EntryKind::Link, EntryKind::Other};
    if (KindBox->currentIndex() > 0) f.kinds = {kinds[KindBox->currentIndex() - 1]};
    f.includeHidden = HiddenBox->isChecked();
    QString bad;
    const auto size = [&](QLineEdit* e, uint64_t& into) {
        const std::string t = FromQ(e->text().trimmed());
        if (t.empty()) return;
        if (const auto v = ParseSizeText(t)) into = *v;
        else bad = QStringLiteral("\"%1\" is no size (bytes, or with K, M or G)").arg(e->text().trimmed());
    };
    const auto date = [&](QLineEdit* e, int64_t& into) {
        const std::string t = FromQ(e->text().trimmed());
        if (t.empty()) return;
        if (const auto v = ParseLocalDate(t)) into = *v;
        else bad = QStringLiteral("\"%1\" is no date (YYYY-MM-DD)").arg(e->text().trimmed());
    };
    size(MinSizeEdit, f.minSize);
    size(MaxSizeEdit, f.maxSize);
    date(AfterEdit, f.after);
    date(BeforeEdit, f.before);
    if (DiskBox->currentIndex() > 0 && static_cast<size_t>(DiskBox->currentIndex()) <= diskSerials_.size())
        f.disks = {diskSerials_[static_cast<size_t>(DiskBox->currentIndex() - 1)]};
    if (!bad.isEmpty()) {
        StatusLabel->setText(bad);
        return;
    }
    if (spec.terms.empty() && !f.SizeOrDate() && f.kinds.empty()) {
        // Nothing typed: nothing listed (every file of every disk helps no one).
        Model->SetHits(nullptr, {});
        StatusLabel->setText(QStringLiteral("Type a name to find"));
    }
    auto job = std::make_shared<FindJob>();
    current_ = job;
    ++running_;
    const bool list = !(spec.terms.empty() && !f.SizeOrDate() && f.kinds.empty());
    QPointer<TFindFilesWindow> self(this);
    std::thread([self, job, index = index_, spec = std::move(spec), generation, list]() mutable {
        QElapsedTimer clock;
        clock.start();
        std::shared_ptr<const IndexSnapshot> snapshot;
        std::vector<FileHit> hits;
        QString problems, failure;
        // Nothing leaves this thread: a failure (no memory left) is said in the status line.
        try {
            std::vector<DiskProblem> p;
            if (!job->cancelled) {
                index->Refresh(2);
                snapshot = index->Snapshot();
                p = index->Problems();
            }
            if (list && !job->cancelled) {
                auto query = std::make_shared<FileQuery>(snapshot, std::move(spec));
                {
                    std::lock_guard lock(job->m);
                    job->query = query;
                }
                if (!job->cancelled)
                    if (auto found = query->Run()) hits = std::move(*found);
                for (DiskProblem& f : query->Failures()) p.push_back(std::move(f));
            }
            problems = DiskProblemsText(p);
        } catch (const std::exception& e) {
            failure = QStringLiteral("Finding files failed: ") +
                      (dynamic_cast<const std::bad_alloc*>(&e) ? QStringLiteral("not enough memory") : ToQ(e.what()));
        } catch (...) {
            failure = QStringLiteral("Finding files failed");
        }
        if (!failure.isEmpty()) {
            snapshot.reset();
            hits = {};
        }
        const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const bool cancelled = job->cancelled;
        QMetaObject::invokeMethod(
            qApp,
            [self, generation, snapshot, hits = std::move(hits), ms, problems, failure, cancelled, list]() mutable {
                if (!self) return;
                --self->running_;
                if (cancelled || generation != self->generation_) return;
                if (!failure.isEmpty()) {
                    self->Model->SetHits(nullptr, {});
                    self->StatusLabel->setText(failure);
                    return;
                }
                if (!list) {
                    self->Deliver(generation, snapshot, {}, -1, problems);
                    return;
                }
                self->Deliver(generation, std::move(snapshot), std::move(hits), ms, problems);
            },
            Qt::QueuedConnection);
    }).detach();
}

void TFindFilesWindow::Deliver(uint64_t, std::shared_ptr<const IndexSnapshot> snapshot, std::vector<FileHit> hits,
                               double ms, QString problems) {
    // The disk box follows the package (a disk added or removed meanwhile).
    if (snapshot) {
        std::vector<std::string> serials;
        for (const auto& d : snapshot->disks) serials.push_back(d->serial);
        if (serials != diskSerials_) {
            const std::string chosen = DiskBox->currentIndex() > 0 && static_cast<size_t>(DiskBox->currentIndex()) <= diskSerials_.size()
                                           ? diskSerials_[static_cast<size_t>(DiskBox->currentIndex() - 1)]
                                           : std::string();
            QSignalBlocker quiet(DiskBox);
            DiskBox->clear();
            DiskBox->addItem(QStringLiteral("All disks"));
            int keep = 0;
            for (const auto& d : snapshot->disks) {
                DiskBox->addItem(NameToQ(DiskInfo::DiskNameWithSerial(d->title, d->serial)));
                if (d->serial == chosen) keep = DiskBox->count() - 1;
            }
            DiskBox->setCurrentIndex(keep);
            diskSerials_ = std::move(serials);
        }
    }
    if (ms < 0) {
        StatusLabel->setText(QStringLiteral("Type a name to find") + problems);
        return;
    }
    const size_t n = hits.size();
    ShowConnected();
    Model->SetHits(std::move(snapshot), std::move(hits));
    if (n > 0) ResultsView->setCurrentIndex(Model->index(0, 0));
    StatusLabel->setText(QStringLiteral("%1 found in %2 ms").arg(GroupedNumber(n)).arg(ms, 0, 'f', 0) +
                         problems);
}

void TFindFilesWindow::ShowConnected() {
    std::map<std::string, char> connected;
    if (watch_)
        for (const ConnectedDisk& c : watch_->Connected()) connected.emplace(c.serial, c.letter);
    Model->SetConnected(std::move(connected));
}

void TFindFilesWindow::OpenCurrent() {
    const int row = ResultsView->currentIndex().isValid() ? ResultsView->currentIndex().row() : -1;
    const IndexedDisk* d = Model->Disk(row);
    if (!d) return;
    uint32_t folder = Model->Entry(row);
    if (d->cat.Kind(folder) != EntryKind::Folder) folder = d->cat.parent[folder];
    // The disk is connected when the mount watch has it in a drive; its folder is then
    // built from the names' own bytes.
    for (const ConnectedDisk& drive : watch_ ? watch_->Connected() : std::vector<ConnectedDisk>()) {
        if (drive.serial != d->serial) continue;
        const auto root = ctx_.platform.DriveRootHost(drive.letter);
        if (!root) continue;
        std::string host = *root;
        const std::string rel = d->Path(folder, '/');
        if (!rel.empty()) host += (host.empty() || host.back() != '/' ? "/" : "") + rel;
        ui_.ShellOpen(QString::fromLocal8Bit(host.data(), static_cast<qsizetype>(host.size())));
        return;
    }
    ui_.MessageDlg(this,
                   QStringLiteral("Insert the disk \"%1\" (serial %2) to open %3")
                       .arg(NameToQ(d->title), ToQ(d->serial), NameToQ(d->WindowsPath(folder))),
                   QStringLiteral("Disk not connected"), MsgIcon::Information, MsgButtons::Ok);
}

void TFindFilesWindow::CopyPathClick() {
    const int row = ResultsView->currentIndex().isValid() ? ResultsView->currentIndex().row() : -1;
    if (Model->Disk(row)) QApplication::clipboard()->setText(NameToQ(Model->WindowsPath(row)));
}

void TFindFilesWindow::SaveButtonClick() {
    const QString path = ui_.GetSaveFileName(
        this, QStringLiteral("Save as CSV"),
        QStandardPaths::writableLocation(QStandardPaths::HomeLocation) + QStringLiteral("/Found files.csv"),
        QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty()) return;
    std::string text = "Disk,Serial,Path,Size,Date,Kind\r\n";
    for (int r = 0; r < Model->rowCount(); ++r) {
        const IndexedDisk* d = Model->Disk(r);
        const uint32_t e = Model->Entry(r);
        const auto field = [&](const QString& s) { return CsvField(FromQ(s)); };
        text += field(NameToQ(d->title)) + ',' + d->serial + ',' + field(NameToQ(d->WindowsPath(e))) + ',' +
                (d->details ? std::to_string(d->cat.size[e]) : std::string()) + ',' +
                (d->details ? IsoUtc(d->cat.mtime[e]) : std::string()) +
                ',' + EntryKindName(d->cat.Kind(e)) + "\r\n";
    }
    // QSaveFile writes beside the target and renames the whole file over it at commit.
    QSaveFile file(path);
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ui_.ShowError(this, ToQ(Format("Cannot create file %s", FromQ(path))));
        return;
    }
    ctx_.Log("Found files saved to " + FromQ(path));
}

void TFindFilesWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OpenCurrent();
        return;
    }
    if (event->matches(QKeySequence::Copy) && !QueryEdit->hasFocus()) {
        CopyPathClick();
        return;
    }
    if ((event->key() == Qt::Key_Down || event->key() == Qt::Key_PageDown) && QueryEdit->hasFocus()) {
        ResultsView->setFocus();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace quindle
