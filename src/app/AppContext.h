#pragma once
// The program's process-wide values, in one object created by the program entry and
// handed to everything that needs it. No Qt: the few needs of the user interface are
// callbacks, which tests replace by recorders.
#include <chrono>
#include <functional>
#include <string>

#include "platform/Platform.h"

namespace quindle {

// Lets the process keep up to 64 MB of freed memory for its next allocations instead of
// giving it back to the system at once; the first call sets it for the whole process.
// Walks build and drop trees and lists of tens of thousands of items, and memory given
// back is faulted in again page by page, which costs more than the listing itself.
bool KeepFreedMemory();

// What the running walk has done so far; the walks update it once per folder, windows
// show it while the walk pumps.
struct WalkProgress {
    long folders = 0; // folders read
    long files = 0;   // files listed (a walk that lists no files leaves it 0)
    // Hidden folders walked for the catalogue (the record leaves them out, and the counts
    // above with them); the walk pumps once for each, as for the folders above.
    long hiddenFolders = 0;
    // Once a walk reads the files' content (checksums): "1.23 GB of 2.00 GB, 850 MB/s,
    // 1 s left"; "" before.
    std::string reading;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

// Screen pointers the core asks for.
enum class Cursor { Default, HourGlass };

struct AppContext {
    // Host folders, each with a trailing '/'.
    std::string ProgramFolder;
    std::string PackageFolder;
    std::string InfoSection = "Special Information about this disk by Quindle";
    // Stop request for the long walks; set by Stop and Abort, cleared when a walk starts.
    bool AbortFlag = false;
    // Set with AbortFlag when the program ends during a walk: the walk stops as on Abort,
    // but a memorization then keeps the disk's old record instead of storing the part
    // walked (closing the program is no choice to keep half a disk).
    bool Quitting = false;
    // The running walk's figures (the last walk's once it has ended).
    WalkProgress Progress;

    // Drives, volumes and the program's current directory.
    Platform platform;

    // The message log: appends a line and selects it.
    std::function<void(const std::string&)> AddToLog;
    // Runs pending window messages once (the walks call it once per directory).
    std::function<void()> ProcessMessages;
    // The screen's mouse pointer: read, and set.
    std::function<Cursor()> GetScreenCursor;
    std::function<void(Cursor)> SetScreenCursor;

    void Log(const std::string& line) const {
        if (AddToLog) AddToLog(line);
    }
    void Pump() const {
        if (ProcessMessages) ProcessMessages();
    }
    bool freedMemoryKept = KeepFreedMemory();

    Cursor ScreenCursor() const { return GetScreenCursor ? GetScreenCursor() : Cursor::Default; }
    void SetCursor(Cursor c) const {
        if (SetScreenCursor) SetScreenCursor(c);
    }
};

// Sets ProgramFolder from the program file's folder and PackageFolder to its "data/"
// subfolder, or to the per-user data folder when the program folder is not writable or
// holds the marker file "quindle.installed" (an installed program); creates the package
// folder when missing (a failure is not reported).
void SetUpFolders(AppContext& ctx, const std::string& programFile, const std::string& userDataFolder);

} // namespace quindle
