// quindle-cli add: memorizes a drive as Package > Add does.
#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "changes/DiskChanges.h"
#include "checksums/ProgressText.h"
#include "cli/Cli.h"
#include "records/DiskRecord.h"
#include "records/Memorizer.h"

namespace quindle::cli {

namespace {

volatile sig_atomic_t gStopRequested = 0;

extern "C" void OnStopSignal(int) { gStopRequested = 1; }

// SIGINT and SIGTERM ask the walk to stop, as the Abort button does; a second one ends
// the program at once.
void CatchStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

// Folders and files memorized so far (the walk's own counts), on stderr: one line redrawn
// in place on a terminal, a line every kLinesEvery folders otherwise (logs of cron jobs stay
// short).
class Progress {
public:
    Progress(char drive, const WalkProgress& walk) : drive_(drive), walk_(walk), tty_(isatty(2) == 1) {}

    // Called at every pump of the walk.
    void Pump() {
        // Once contents are read: the bytes read, the pace and the time left, at most a few
        // times a second (a line a minute in a log).
        if (!walk_.reading.empty()) {
            const auto now = std::chrono::steady_clock::now();
            if (now - shownAt_ < (tty_ ? std::chrono::milliseconds(250) : std::chrono::milliseconds(60000))) return;
            shownAt_ = now;
            WriteAll(2, (tty_ ? "\r\x1b[K" : "") + std::string(1, drive_) + ": " + walk_.reading + (tty_ ? "" : "\n"));
            return;
        }
        if (shown_ && walk_.folders == shownFolders_) return;
        shown_ = true;
        shownFolders_ = walk_.folders;
        if (tty_)
            WriteAll(2, "\r\x1b[K" + Text());
        else if (walk_.folders > 0 && walk_.folders % kLinesEvery == 0)
            WriteAll(2, Text() + "\n");
    }
    void Log(const std::string& line) { WriteAll(2, (tty_ && shown_ ? "\r\x1b[K" : "") + line + "\n"); }
    // The walk has ended, to its end or not.
    void Finish() {
        WriteAll(2, (tty_ ? "\r\x1b[K" : "") + Text() + "\n");
        if (!walk_.reading.empty()) WriteAll(2, std::string(1, drive_) + ": checksums: " + walk_.reading + "\n");
    }

private:
    static constexpr long kLinesEvery = 1000;

    std::string Text() const {
        return std::string(1, drive_) + ": " + CountedText(static_cast<uint64_t>(walk_.folders), "folder", "folders") +
               ", " + CountedText(static_cast<uint64_t>(walk_.files), "file", "files");
    }

    char drive_;
    const WalkProgress& walk_;
    bool tty_;
    bool shown_ = false;
    long shownFolders_ = 0;
    std::chrono::steady_clock::time_point shownAt_{};
};

} // namespace

int Add(AppContext& ctx, const AddOptions& o) {
    const char d = o.drive;
    const DiskInfoFields info{o.title, o.description, o.additional};
    if (info.title.empty()) throw UsageError("a title is needed (--title T)");
    for (const std::string* v : {&info.title, &info.description, &info.additional}) {
        if (UnstorableInfoChar(*v) != 0)
            throw UsageError("the title, description and additional information cannot hold the character \"[\"");
        // A line break would write lines of its own into the record.
        if (v->find_first_of("\r\n") != std::string::npos)
            throw UsageError("the title, description and additional information must be single lines");
    }
    const DriveInfo* drive = ctx.platform.FindDrive(d);
    if (!drive) throw UsageError(std::string("unknown drive ") + d + ": (see quindle-cli drives)");
    if (!ctx.platform.DirectoryExists(std::string(1, d) + ":\\"))
        throw UsageError(std::string("drive ") + d + ": is not ready (" + drive->root + ")");

    const std::string serial = GetVolumeSerial(ctx, d);
    const std::string path = RecordPath(ctx, serial);
    if (ctx.platform.FileExists(path) && !o.replace)
        throw UsageError("disk " + (serial.empty() ? std::string("with no serial") : serial) +
                         " is already in the package (" + path + "); --replace memorizes it anyway");

    // The program's own directory readers: the main window's tree and hidden file lister.
    TDirectoryOutline tree(ctx);
    tree.SetTextCase(tcAsIs);
    TFileListBox lister(ctx);
    lister.SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);

    Progress progress(d, ctx.Progress);
    ctx.AddToLog = [&](const std::string& line) { progress.Log(line); };
    ctx.ProcessMessages = [&] {
        progress.Pump();
        if (gStopRequested) ctx.AbortFlag = true;
    };
    CatchStopSignals();

    MemorizeResult result;
    bool complete = false;
    WalkOptions walk;
    try {
        // A choice not given stays the disk's (the defaults for a new disk).
        walk = KeptWalkOptions(path, ctx.InfoSection);
        if (o.archives) walk.archives = *o.archives;
        if (o.checksums) walk.checksums = *o.checksums;
        result = MemorizeAndCompare(ctx, tree, lister, d, serial, path, info, {}, walk);
        complete = result.complete;
        progress.Finish();
    } catch (const std::exception& e) {
        progress.Finish();
        progress.Log(MessageLine(e.what()));
        // A drive that went away during the walk leaves it incomplete, as an interrupt does;
        // anything else (the record or its catalogue cannot be written: a full disk, no
        // permission) is an error. Either way the package keeps what it had.
        if (ctx.platform.DirectoryExists(std::string(1, d) + ":\\")) return kError;
    }
    if (!complete) {
        Message("Memorizing that disk was not complete.");
        return kNotFound;
    }
    Message("Ok, the disk has been memorized!");
    // The record holds every name; entries that could not be looked at leave the
    // catalogue without their sizes and dates, which is no complete memorization.
    if (const std::string line = result.IncompleteLine(); !line.empty()) Message(line);
    if (const std::string line = result.ChangesLine(); !line.empty()) Message(line);
    if (walk.checksums && result.figures)
        Message(CountedText(result.figures->checksummed, "checksum", "checksums") + ", " +
                CountedText(result.figures->contentUnread, "file", "files") + " could not be read");
    return result.Detailed() ? kOk : kNotFound;
}

} // namespace quindle::cli
