#pragma once
// The memorizer: walks a drive's whole directory tree through the main window's
// directory tree and file lister and writes every file name into the disk's record.
#include <functional>
#include <optional>
#include <string>

#include "app/AppContext.h"
#include "records/DiskWalk.h"

namespace quindle {

class TDirectoryOutline;
class TFileListBox;
class TIniFile32;
struct Catalogue;

// The section name rule: the text between the first and the second backslash
// ("E:\Docs\Old" gives "Docs", "E:\" gives "", a text without backslash itself).
std::string FirstFolderName(const std::string& s);

// Adds the hidden attribute to a file; failures are ignored.
void HideFile(const AppContext& ctx, const std::string& path);

// The drive's volume serial as unsigned decimal, "" when it cannot be read.
std::string GetVolumeSerial(const AppContext& ctx, char d);

// Memorizes drive d into the record at path (a host path): visits every directory of the
// tree by item number and writes each directory's file names with their 1-based positions
// into the section of its top-level folder. Pumps messages once per directory and stops
// when ctx.AbortFlag is set (the record then holds the directories done).
// The walk writes into a file of its own beside the record; at the end, by completion or
// Abort, the walk's store is handed to `finish` (to add more to it), saved once, made
// durable, hidden and renamed over the record. The same walk writes the disk's catalogue
// (every folder and listed entry with kind, size and date, and the disk's figures; marked
// partial after Abort, and when entries could not be looked at, which the log names and the
// figures count) to "<serial>.cat" beside it, bound to the new record: complete and
// durable before either file replaces its old one, renamed into place first, and removed
// on every failure like the walk's file. Until then the old record is whole. When
// the walk stopped because the program ends (ctx.Quitting), the walk's file is removed
// instead and the old record stays untouched. A drive that is not ready and
// any error (the file cannot be written) propagate, leaving the old record as it was and
// no file of the walk behind.
// `walked`, when given, receives the new catalogue once both files are in place.
// `options`: what the walk collects besides (the checksums).
void MemorizeDisk(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d, const std::string& path,
                  const std::function<void(TIniFile32& walked)>& finish = {},
                  const std::function<void(const Catalogue&)>& walked = {}, const WalkOptions& options = {});

// What the user types for a disk: the information section's three free texts.
struct DiskInfoFields {
    std::string title, description, additional;
};

// The add action's memorization, shared by the package dialog and the command line:
// memorizes drive d into the record at path and writes its information section (serial,
// the date of now, the three texts), also when the walk stopped on the AbortFlag.
// Returns true when the walk completed (the record holds every name; the catalogue may still
// lack the sizes and dates of entries that could not be looked at: its figures say so);
// errors propagate.
// `walked` as for MemorizeDisk.
bool MemorizeDiskWithInfo(AppContext& ctx, TDirectoryOutline& tree, TFileListBox& lister, char d,
                          const std::string& serial, const std::string& path, const DiskInfoFields& info,
                          const std::function<void(const Catalogue&)>& walked = {},
                          const WalkOptions& options = {});

} // namespace quindle
