#pragma once
// TIniFile32: the INI-style text store through which every disk record is read and
// written. The file is held whole in memory as a list of lines (compactly, see
// TLineStore: any file takes at most a few times its size); a write puts one value in
// place and saves.
//
// Matching rules (narrower than common INI readers, and the record format relies on them):
// - a header of section S is a line whose whole text is "[" + S + "]", compared ignoring
//   case (CompareText); only the first of several equal headers is ever used;
// - an entry's key is the text before its first "=", compared exactly; a line without
//   "=" has the empty key, and its whole text as value;
// - any line holding a "[" ends a section, for reads and writes alike.
// Nothing is trimmed; lines are saved with CR LF after every line, the last one included.
// A line ends at CR LF, a lone CR or a lone LF; NUL bytes are kept as ordinary characters.
//
// Lookups do not scan: the store keeps an index of the first header of every section,
// of the lines holding "[" and, per section, of the first line of every key. Appending
// to the last section and replacing a line in place cost O(1) amortised. The index
// entries are line numbers (8 bytes each, with a hash); no text is stored twice.
//
// Saving. In plain mode (the default) every WriteString has reached the file when it
// returns, also one that changed no line: a file loaded with other line ends is then
// saved in the form above. A file that already holds exactly the lines is not written
// again. A save that only adds lines at the end of the file appends them in place;
// any other save writes the whole text to a temporary file in the same folder, syncs it
// and renames it over the old file, which keeps its permission bits and its DOS
// attributes (the user.DOSATTRIB extended attribute, or the FAT attributes): a crash or
// a full disk never leaves a truncated file.
//
// Deferred mode (SetDeferred(true)) is for a caller writing many keys in a row, such as
// the memorizer: WriteString only changes memory, and Checkpoint() leaves the file as
// plain mode would have left it after the same writes.
// When the store created the file itself (it did not exist when the store was opened),
// a checkpoint rewrites only the part of the file from the first changed line on, in
// place. That tail rewrite is not atomic: deferred mode is meant for a record being built
// from scratch, so a crash during a checkpoint can only tear the record under
// construction. A file that existed before the store was opened is always saved by
// appending in place or by the temporary-file rename. The destructor checkpoints unsaved
// deferred changes and swallows errors; call Checkpoint() to get them.
//
// Failures raise EFileError: "Cannot open file %s" when an existing file cannot be read
// at construction or is not a regular file (a directory, a device, a FIFO), "Cannot create file %s" when a save
// fails; after a failed save the in-memory change stays and the file keeps its previous
// content (except after a failed tail rewrite, see above).
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

#include "records/LineStore.h"

namespace quindle {

class TIniFile32 {
public:
    // fileName is a host path. Loads the file when it exists; a missing file is not
    // created before the first write.
    explicit TIniFile32(std::string fileName);
    ~TIniFile32();
    TIniFile32(const TIniFile32&) = delete;
    TIniFile32& operator=(const TIniFile32&) = delete;

    const std::string& FileName() const { return fileName_; }
    // The file's lines in file order, without line breaks; a view stays valid until the
    // next write.
    size_t LineCount() const { return lines_.size(); }
    std::string_view Line(size_t i) const { return lines_[i]; }
    // A copy of all the lines, for checks and tools.
    std::vector<std::string> LineList() const;

    // 0-based index of the first header line of `section`, or -1.
    int FindSection(std::string_view section) const;
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Writes the whole list to the file now (appending in place when only lines were
    // added since the last save and the file is still the one this store wrote).
    void Save();

    void SetDeferred(bool on); // leaving deferred mode checkpoints pending changes
    bool Deferred() const { return deferred_; }
    // Saves when there were writes since the last save (even writes that changed no line).
    void Checkpoint();
    bool HasUnsavedChanges() const { return modified_; }

    // Bytes this store has written to disk (file data only), for measurements.
    uint64_t BytesWritten() const { return bytesWritten_; }

private:
    // Text -> first line holding it, for the section headers (folded) and for the keys of
    // one section. Open addressing over (hash, line) slots, at most 3/4 full; the text is
    // read from the line, so none is stored twice.
    class LineTable {
    public:
        template <class Same> int Find(uint32_t hash, Same same) const;
        // Adds `line`; of lines with the same text the table keeps the first.
        template <class Same> void Add(uint32_t hash, uint32_t line, Same same);
        // Every line from `at` on moved down one.
        void ShiftFrom(uint32_t at);
        void Clear();

    private:
        static constexpr uint32_t kEmpty = UINT32_MAX;
        struct Slot {
            uint32_t hash = 0;
            uint32_t line = kEmpty;
        };
        void Grow();
        std::vector<Slot> slots_;
        size_t count_ = 0;
    };

    void Load();
    // Index maintenance.
    void EnsureIndex() const;
    int SectionEnd(int header) const; // first line holding "[" after header, or the line count
    LineTable& KeysOf(int header) const;
    int FindKey(int header, std::string_view key) const;
    void AddHeader(std::string_view line, int at) const;
    void AppendLine(std::string line);
    void InsertLine(int at, const std::string& line);
    void ReplaceLine(int at, int header, const std::string& line);
    void MarkChanged(size_t fromLine);

    // Saving.
    enum class Mode { Plain, AllowTailRewrite };
    void Flush(Mode mode);
    bool DiskIsOurs() const; // the file on disk is still what this store last wrote
    void AppendInPlace();
    void RewriteTail();
    void RewriteWhole();
    void RecordDiskState(int fd);
    // Writes the lines from fromLine on, each with CR LF, at byte `at` of fd, in blocks
    // of bounded size.
    bool WriteLinesAt(int fd, size_t fromLine, off_t at);
    bool WriteAllAt(int fd, std::string_view bytes, off_t at);
    bool OpenSavedFile();
    [[noreturn]] void ThrowCreate() const;
    void CloseFd();

    std::string fileName_;
    TLineStore lines_;

    // Index, built on first use and kept up to date by the edits.
    mutable bool indexBuilt_ = false;
    mutable LineTable headers_;                           // folded header text -> first line
    mutable std::unordered_map<int, LineTable> sections_; // by first-header line, built lazily
    // The last section found, as asked for: writers ask for the same one many times in a row.
    mutable std::string lastSection_;
    mutable int lastHeader_ = -1;
    std::string serialized_; // reused by WriteLinesAt

    // What is on disk. When diskKnown_, the file holds exactly the first savedCount_
    // lines as WriteLinesAt writes them, savedBytes_ bytes in all.
    bool deferred_ = false;
    bool createdHere_ = false; // the file did not exist when the store was opened
    bool modified_ = false;    // changes since the last save
    size_t dirtyFrom_ = SIZE_MAX; // lowest line index changed or inserted since the last save
    size_t shiftFrom_ = SIZE_MAX; // lowest saved line whose bytes or offset changed since then
    std::vector<size_t> patched_; // saved lines replaced by a line of the same length
    bool diskKnown_ = false;
    size_t savedCount_ = 0;
    uint64_t savedBytes_ = 0;
    dev_t diskDev_ = 0;
    ino_t diskIno_ = 0;
    off_t diskSize_ = 0;
    int64_t diskMtimeNs_ = 0;
    int fd_ = -1; // write handle on the saved file, kept between saves
    uint64_t bytesWritten_ = 0;
};

} // namespace quindle
