#pragma once
// TFileListBox: the names of the files of one directory that match a name pattern and a
// set of file types, kept sorted. The program never shows one; it uses its hidden
// instances as directory readers and reads their item lists.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "platform/Errors.h"
#include "platform/Platform.h"

namespace quindle {

// A path operation that cannot be carried out ("Invalid file name - %s").
class EInvalidOperation : public EFileError {
public:
    using EFileError::EFileError;
};

// File types. Every value but ftNormal is also the search attribute bit it requests;
// ftNormal requests nothing and means "list entries whatever their attributes".
enum TFileAttr : uint32_t {
    ftReadOnly = 0x01,
    ftHidden = 0x02,
    ftSystem = 0x04,
    ftVolumeID = 0x08,
    ftDirectory = 0x10,
    ftArchive = 0x20,
    ftNormal = 0x80,
};
// A set of TFileAttr values, or-ed together.
using TFileType = uint32_t;

// Picture drawn before a row (resources EXECUTABLE, UNKNOWNFILE, CLOSEDFOLDER).
enum class FileGlyph { None, Executable, UnknownFile, ClosedFolder };

class TFileListBox {
public:
    explicit TFileListBox(AppContext& ctx);
    virtual ~TFileListBox() = default;
    TFileListBox(const TFileListBox&) = delete;
    TFileListBox& operator=(const TFileListBox&) = delete;

    // ---- properties -----------------------------------------------------------------
    const std::string& Directory() const { return directory_; }
    // Re-reads only when the path differs ignoring case; the stored value is the
    // current directory as the platform reports it after changing into the path.
    void SetDirectory(const std::string& path);
    const std::string& Mask() const { return mask_; }
    void SetMask(const std::string& mask);
    TFileType FileType() const { return fileType_; }
    void SetFileType(TFileType types);
    bool MultiSelect() const { return multiSelect_; }
    void SetMultiSelect(bool on) { multiSelect_ = on; }
    bool ShowGlyphs() const { return showGlyphs_; }
    void SetShowGlyphs(bool on);

    // ---- operations -----------------------------------------------------------------
    void RefreshList();
    // Points the lister at a directory, a directory plus pattern or a directory plus file;
    // throws EInvalidOperation when the last part names neither a file nor a directory.
    void OpenPath(const std::string& p);
    // Points the lister at a folder the caller already has in hand: `host` is the folder
    // itself, `shown` the Directory text the user sees (never parsed). Re-reads unless
    // `host` is, byte for byte, the folder already shown this way. The mask stays.
    // Returns false, listing nothing, when the folder cannot be read.
    bool ShowDirectory(const std::string& shown, const std::string& host);
    // Forgets the folder shown and the mask ("*.*" again), so that the next ShowDirectory
    // reads afresh and nothing of an earlier walk carries over. Reads nothing itself.
    void Reset();
    // Directory joined with the selected row, "" when no row is selected.
    std::string SelectedPath();
    void SelectFile(const std::string& name);

    // ---- the item list (reading it fills the list on first use) -------------------------
    const std::vector<std::string>& Items();
    int Count();
    const std::string& Item(int index);
    std::vector<std::string> CopyItems();
    FileGlyph Glyph(int index);
    // The selected row, -1 when none.
    int ItemIndex();
    void SetItemIndex(int index);
    int LastSelection() const { return lastSelection_; }

    // Adds directory entries in the order given, as one refresh does: applies the
    // file-type acceptance rule, shows the hourglass when a name is inserted at row 100,
    // and leaves the list sorted.
    void AddEntries(const std::vector<SearchRec>& entries);

    std::function<void(TFileListBox&)> OnChange;

    // Collation of the rows: alphabetical ignoring case, names equal ignoring case in
    // byte order (so "README" comes before "readme" whatever the arrival order).
    static bool RowLess(const std::string& a, const std::string& b);

protected:
    void Change();

private:
    struct Row {
        std::string text;
        FileGlyph glyph;
    };

    void HandleNeeded();
    // RefreshList for a directory_ that is already the current directory.
    void ReadList();
    void Clear();
    void AddEntry(const SearchRec& rec);
    // Fills lowest_ from the rows listed so far.
    void GatherLowest();
    void FinishAdding();
    FileGlyph GlyphFor(const SearchRec& rec) const;
    uint32_t SearchAttributes() const { return fileType_ & 0x3F; }

    AppContext& ctx_;
    std::string directory_;
    // The host folder given with Directory by ShowDirectory; "" when Directory came as a
    // path to be resolved (then that path is read).
    std::string host_;
    bool readFailed_ = false;
    std::string mask_ = "*.*";
    TFileType fileType_ = ftNormal;
    bool multiSelect_ = false;
    bool showGlyphs_ = false;
    bool created_ = false;
    int itemIndex_ = -1;
    int lastSelection_ = -1;

    std::vector<std::string> items_;
    std::vector<FileGlyph> glyphs_;

    // Rows added but not yet merged into the sorted list (during one refresh).
    std::vector<Row> pending_;
    std::vector<uint32_t> order_; // FinishAdding's sort of pending_, kept for its capacity
    // The up to 101 smallest rows of the list, sorted: enough to tell whether the next
    // insertion lands exactly at row 100 without keeping the whole list sorted meanwhile.
    // Empty until the list holds 100 rows.
    std::vector<std::string> lowest_;
    bool hourglassShown_ = false;
};

} // namespace quindle
