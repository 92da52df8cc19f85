#pragma once
// TIniFile32: the INI-style text store through which every disk record is read and
// written. The file is held whole in memory as a list of lines; a write puts one value
// in place and saves.
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
// to the last section and replacing a line in place cost O(1) amortised.
//
// Saving. In plain mode (the default) every WriteString has reached the file when it
// returns. A save that only adds lines at the end of the file appends them in place;
// any other save writes the whole text to a temporary file in the same folder, syncs it
// and renames it over the old file, which keeps its permission bits and its DOS
// attributes (the user.DOSATTRIB extended attribute, or the FAT attributes): a crash or
// a full disk never leaves a truncated file.
//
// Deferred mode (SetDeferred(true)) is for a caller writing many keys in a row, such as
// the memorizer: WriteString only changes memory, and Checkpoint() saves what changed.
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
    // The file's lines in file order, without line breaks.
    const std::vector<std::string>& LineList() const { return lines_; }

    // 0-based index of the first header line of `section`, or -1.
    int FindSection(std::string_view section) const;
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Writes the whole list to the file now (appending in place when only lines were
    // added since the last save and the file is still the one this store wrote).
    void Save();

    void SetDeferred(bool on); // leaving deferred mode checkpoints pending changes
    bool Deferred() const { return deferred_; }
    // Saves the changes made since the last save; nothing when there are none.
    void Checkpoint();
    bool HasUnsavedChanges() const { return modified_; }

    // Bytes this store has written to disk (file data only), for measurements.
    uint64_t BytesWritten() const { return bytesWritten_; }

private:
    // Key -> first line of a section holding that key. Open addressing over (hash, line)
    // pairs; the key itself is read from the line, so no key is stored twice.
    class SectionKeys {
    public:
        int Find(std::string_view key, const std::vector<std::string>& lines) const;
        void AddIfAbsent(std::string_view key, int line, const std::vector<std::string>& lines);

    private:
        struct Slot {
            uint64_t hash = 0;
            int line = -1; // -1: empty
        };
        void Grow();
        std::vector<Slot> slots_;
        size_t count_ = 0;
    };

    void Load();
    // Index maintenance.
    void EnsureIndex() const;
    int SectionEnd(int header) const; // first line holding "[" after header, or the line count
    SectionKeys& KeysOf(int header) const;
    void AppendLine(std::string line);
    void InsertLine(int at, std::string line);
    void ReplaceLine(int at, int header, std::string line);
    void MarkChanged(size_t fromLine);

    // Saving.
    enum class Mode { Plain, AllowTailRewrite };
    void Flush(Mode mode);
    bool DiskIsOurs() const; // the file on disk is still what this store last wrote
    void AppendInPlace();
    void RewriteTail();
    void RewriteWhole();
    void RecordDiskState(int fd);
    void ExtendOffsets(size_t fromLine);
    const std::string& Serialize(size_t fromLine) const; // into serialized_
    bool WriteAllAt(int fd, const std::string& bytes, off_t at);
    bool OpenSavedFile();
    [[noreturn]] void ThrowCreate() const;
    void CloseFd();

    std::string fileName_;
    std::vector<std::string> lines_;

    // Index, built on first use and kept up to date by the edits.
    mutable bool indexBuilt_ = false;
    mutable std::unordered_map<std::string, int> headers_; // folded header line -> first index
    mutable std::vector<int> brackets_;                    // sorted indices of lines holding "["
    mutable std::unordered_map<int, SectionKeys> sections_; // by first-header index, built lazily
    mutable std::string serialized_; // reused by Serialize

    // What is on disk. When diskKnown_, the file holds exactly the first savedCount_
    // lines as Serialize() would write them, and offsets_[0..savedCount_] are their
    // byte offsets (offsets_[savedCount_] is the file size).
    bool deferred_ = false;
    bool createdHere_ = false; // the file did not exist when the store was opened
    bool modified_ = false;    // changes since the last save
    size_t dirtyFrom_ = SIZE_MAX; // lowest line index changed or inserted since the last save
    size_t shiftFrom_ = SIZE_MAX; // lowest saved line whose bytes or offset changed since then
    std::vector<size_t> patched_; // saved lines replaced by a line of the same length
    bool diskKnown_ = false;
    size_t savedCount_ = 0;
    std::vector<uint64_t> offsets_;
    dev_t diskDev_ = 0;
    ino_t diskIno_ = 0;
    off_t diskSize_ = 0;
    int64_t diskMtimeNs_ = 0;
    int fd_ = -1; // write handle on the saved file, kept between saves
    uint64_t bytesWritten_ = 0;
};

} // namespace quindle
