// quindle-cli add: memorizes a drive as Package > Add does.
#include <signal.h>
#include <unistd.h>

#include <chrono>

#include "browse/DirectoryOutline.h"
#include "browse/FileListBox.h"
#include "changes/DiskChanges.h"
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

// Folders and files memorized so far, on stderr: one line redrawn in place on a
// terminal, a line every kLinesEvery folders otherwise (logs of cron jobs stay short).
class Progress {
public:
    Progress(char drive, const TFileListBox& lister, const WalkProgress& walk)
        : drive_(drive), lister_(lister), walk_(walk), tty_(isatty(2) == 1) {}

    // Called once before each directory: the previous one is done. The pumps below hidden
    // folders count no folder of the record.
    void Pump() {
        // The checksum phase: the bytes read, the pace and the time left, at most a few
        // times a second (a line a minute in a log).
        if (!walk_.reading.empty()) {
            const auto now = std::chrono::steady_clock::now();
            if (now - shownAt_ < (tty_ ? std::chrono::milliseconds(250) : std::chrono::milliseconds(60000))) return;
            shownAt_ = now;
            reading_ = walk_.reading;
            WriteAll(2, (tty_ ? "\r\x1b[K" : "") + std::string(1, drive_) + ": " + reading_ + (tty_ ? "" : "\n"));
            return;
        }
        if (walk_.hiddenFolders != hiddenSeen_) {
            hiddenSeen_ = walk_.hiddenFolders;
            return;
        }
        ++pumps_;
        CountLister();
        const long folders = pumps_ - 1;
        if (tty_)
            WriteAll(2, "\r\x1b[K" + Text(folders));
        else if (folders > 0 && folders % kLinesEvery == 0)
            WriteAll(2, Text(folders) + "\n");
    }
    void Log(const std::string& line) {
        WriteAll(2, (tty_ && pumps_ > 0 ? "\r\x1b[K" : "") + line + "\n");
    }
    // The walk has ended; `stopped`: on the stop request, before the last pumped directory.
    void Finish(bool stopped) {
        CountLister();
        const long folders = stopped ? pumps_ - 1 : pumps_;
        WriteAll(2, (tty_ ? "\r\x1b[K" : "") + Text(folders > 0 ? folders : 0) + "\n");
        if (!walk_.reading.empty()) WriteAll(2, std::string(1, drive_) + ": checksums: " + walk_.reading + "\n");
    }

private:
    static constexpr long kLinesEvery = 1000;

    // The lister holds the files of the last directory it entered; a directory it could
    // not enter leaves it on the previous one, which must not count twice.
    void CountLister() {
        if (pumps_ <= 1 || lister_.Directory() == counted_) return;
        counted_ = lister_.Directory();
        files_ += static_cast<long>(const_cast<TFileListBox&>(lister_).Count());
    }
    std::string Text(long folders) const {
        return std::string(1, drive_) + ": " + std::to_string(folders) + " folders, " + std::to_string(files_) +
               " files";
    }

    char drive_;
    const TFileListBox& lister_;
    const WalkProgress& walk_;
    bool tty_;
    long pumps_ = 0, files_ = 0, hiddenSeen_ = 0;
    std::string counted_;
    std::string reading_; // the checksum phase's last figures
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

    Progress progress(d, lister, ctx.Progress);
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
        progress.Finish(!complete);
    } catch (const std::exception& e) {
        progress.Finish(false);
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
        Message(std::to_string(result.figures->checksummed) + " checksums, " +
                std::to_string(result.figures->contentUnread) + " files could not be read");
    return result.Detailed() ? kOk : kNotFound;
}

} // namespace quindle::cli
