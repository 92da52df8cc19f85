#include "ui/verify/VerifyWindow.h"

#include <QLabel>

#include <memory>
#include <mutex>
#include <stdexcept>

#include "package/Package.h"
#include "ui/lists/EntryListWindow.h"
#include "ui/shared/Formats.h"
#include "ui/shared/Text.h"
#include "verify/Verify.h"

namespace quindle {

namespace {

// What the reading thread tells the window's progress line.
struct VerifyShared {
    std::mutex lock;
    VerifyProgress progress;
};

// The counts with the locale's grouping, as the windows show numbers.
std::string CountsText(const VerifyCounts& c) {
    return VerifyCountsText(c, [](uint64_t n) { return FromQ(GroupedNumber(n)); });
}

// The log's line: "Verified E: Backup (123): 1,200 same, 0 changed (0 silent), ...".
std::string LogLine(char letter, const DiskInfo& info, const VerifyResult& r) {
    std::string line = "Verified " + std::string(1, letter) + ": " + info.NameWithSerial() + ": " + CountsText(r.counts);
    if (!r.withChecksums) line += "; sizes and dates only: the disk was memorized without checksums";
    return line;
}

EntryRows VerifyRows(const std::string& record, const std::string& infoSection, const std::string& rootHost,
                     char letter, LoadProgress& job, VerifyShared& shared) {
    const DiskInfo info = ReadDiskInfo(record, infoSection);
    const PreviousCatalogue before = ReadPreviousCatalogue(record, infoSection);
    if (!before.catalogue)
        throw std::runtime_error(info.NameWithSerial() + ": " + before.cause + "; memorize " + std::string(1, letter) +
                                 ": again before verifying it");
    const Catalogue& c = *before.catalogue;
    VerifyControl control;
    control.idle = [&](const VerifyProgress& p) {
        job.total = p.bytesTotal;
        job.done = p.bytesDone;
        const std::lock_guard<std::mutex> hold(shared.lock);
        shared.progress = p;
        return job.cancel.load();
    };
    const VerifyResult r = VerifyDisk(c, rootHost, control);
    EntryRows rows;
    if (r.cancelled) return rows;
    const std::string& root = c.header.figures.root;
    rows.cells.reserve(r.items.size() * 8);
    for (const VerifyItem& it : r.items) {
        std::string path = root + it.path; // names hold no "/": the separator alone becomes "\"
        for (size_t i = root.size(); i < path.size(); ++i)
            if (path[i] == '/') path[i] = '\\';
        const bool changed = it.status == VerifyStatus::Changed;
        const QString note = it.silent ? QStringLiteral("silent: the same size and date") : ToQ(it.error);
        rows.Add({TextCell(VerifyStatusName(it.status)), TextCell(EntryKindName(it.kind)), NumberCell(it.size),
                  DateCell(it.mtime), NameToQ(path), changed ? NumberCell(it.oldSize) : QVariant(QString()),
                  changed ? DateCell(it.oldMtime) : QVariant(QString()), note},
                 path);
    }
    rows.summary = ToQ(CountsText(r.counts));
    if (!r.withChecksums) rows.summary += QStringLiteral("; contents not compared: memorized without checksums");
    rows.log = LogLine(letter, info, r);
    return rows;
}

} // namespace

QString VerifyCommandText(char letter) { return QStringLiteral("Verify %1:...").arg(QChar(letter)); }

TEntryListWindow* ShowVerifyWindow(AppContext& ctx, UiServices& ui, QWidget* parent, const ConnectedDisk& disk) {
    const std::string record = ctx.PackageFolder + disk.recordFile;
    const char letter = disk.letter;
    auto* w = new TEntryListWindow(ctx, ui, parent,
                                   QStringLiteral("Verify %1: %2")
                                       .arg(QChar(letter))
                                       .arg(NameToQ(ReadDiskInfo(record, ctx.InfoSection).NameWithSerial())),
                                   {{"Status"},
                                    {"Kind"},
                                    {"Size", ColumnKind::Count},
                                    {"Date", ColumnKind::Date},
                                    {"Path"},
                                    {"Old size", ColumnKind::Count},
                                    {"Old date", ColumnKind::Date},
                                    {"Note"}});
    w->setObjectName(QStringLiteral("Verify%1").arg(QChar(letter)));
    w->show();
    const std::optional<std::string> root = ctx.platform.DriveRootHost(letter);
    if (!root) {
        w->SummaryLabel->setText(QStringLiteral("Drive %1: is not ready").arg(QChar(letter)));
        return w;
    }
    auto shared = std::make_shared<VerifyShared>();
    w->Load(
        [record, info = ctx.InfoSection, host = *root, letter, shared](LoadProgress& job) {
            return VerifyRows(record, info, host, letter, job, *shared);
        },
        [shared, letter] {
            const std::lock_guard<std::mutex> hold(shared->lock);
            return QStringLiteral("Verifying %1: %2").arg(QChar(letter)).arg(ToQ(shared->progress.Text()));
        });
    return w;
}

} // namespace quindle
