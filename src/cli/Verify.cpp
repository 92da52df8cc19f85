// quindle-cli verify: the disk in its drive read again and compared with its catalogue.
#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "catalogue/EntryText.h"
#include "changes/DiskChanges.h"
#include "cli/Cli.h"
#include "verify/Verify.h"

namespace quindle::cli {

namespace {

volatile sig_atomic_t gCancel = 0;
extern "C" void OnCancelSignal(int) { gCancel = 1; }

void AppendItem(std::string& line, const VerifyItem& it, const std::string& root, bool json) {
    const bool changed = it.status == VerifyStatus::Changed;
    if (json) {
        line += "{\"status\":\"";
        line += VerifyStatusName(it.status);
        line += "\",\"path\":";
        AppendJsonString(line, it.path);
        line += ",\"kind\":\"";
        line += EntryKindName(it.kind);
        line += "\",\"size\":" + std::to_string(it.size) + ",\"mtime\":" + std::to_string(it.mtime);
        if (it.silent) line += ",\"silent\":true";
        if (changed) line += ",\"old_size\":" + std::to_string(it.oldSize) + ",\"old_mtime\":" + std::to_string(it.oldMtime);
        if (!it.error.empty()) {
            line += ",\"error\":";
            AppendJsonString(line, it.error);
        }
        line += "}\n";
        return;
    }
    line += VerifyStatusName(it.status);
    line += '\t';
    line += EntryKindName(it.kind);
    line += '\t' + std::to_string(it.size) + '\t' + IsoUtc(it.mtime) + '\t';
    AppendOneLine(line, root);
    std::string shown = it.path; // names hold no "/": the separator alone becomes "\"
    for (char& ch : shown)
        if (ch == '/') ch = '\\';
    AppendOneLine(line, shown);
    if (it.silent) line += "\tsilent";
    if (!it.error.empty()) {
        line += '\t';
        AppendOneLine(line, it.error);
    }
    line += '\n';
}

} // namespace

int Verify(AppContext& ctx, const DiskOptions& o) {
    const std::string serial = std::to_string(o.serial);
    const std::string path = RecordOfDisk(ctx, o.serial);
    const auto d = ConnectedDriveOf(ctx.platform, o.serial);
    if (!d) throw std::runtime_error("disk " + serial + " is not in any drive (see quindle-cli drives)");
    const auto root = ctx.platform.DriveRootHost(*d);
    if (!root) throw std::runtime_error("drive " + std::string(1, *d) + ": is not ready");
    const PreviousCatalogue before = ReadPreviousCatalogue(path, ctx.InfoSection);
    if (!before.catalogue)
        throw std::runtime_error("disk " + serial + ": " + before.cause +
                                 "; memorize it again before verifying (quindle-cli add " + std::string(1, *d) +
                                 ": --replace)");
    const Catalogue& c = *before.catalogue;
    if (!c.HasChecksums())
        Message("disk " + serial + " has no checksums: sizes and dates are compared, not contents");

    struct sigaction sa {};
    sa.sa_handler = OnCancelSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    // Progress on stderr: one line redrawn on a terminal, a line a minute otherwise.
    const bool tty = isatty(2) == 1;
    const std::string drive(1, *d);
    auto shownAt = std::chrono::steady_clock::now();
    bool shown = false;
    VerifyControl control;
    control.idle = [&](const VerifyProgress& p) {
        const auto now = std::chrono::steady_clock::now();
        if (now - shownAt >= (tty ? std::chrono::milliseconds(250) : std::chrono::milliseconds(60000))) {
            shownAt = now;
            shown = true;
            WriteAll(2, (tty ? "\r\x1b[K" : "") + drive + ": " + p.Text() + (tty ? "" : "\n"));
        }
        return gCancel != 0;
    };
    const VerifyResult r = VerifyDisk(c, *root, control);
    if (shown && tty) WriteAll(2, "\r\x1b[K");

    std::string out;
    for (const VerifyItem& it : r.items) {
        AppendItem(out, it, c.header.figures.root, o.json);
        if (out.size() >= (1u << 16)) {
            Out(out);
            out.clear();
        }
    }
    Out(out);
    Message("disk " + serial + " in " + drive + ": " + VerifyCountsText(r.counts));
    if (r.cancelled) {
        Message("verifying was cancelled: the disk was not read to its end");
        return kError;
    }
    return r.counts.Differing() == 0 ? kOk : kNotFound;
}

} // namespace quindle::cli
