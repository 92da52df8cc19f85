#include "browse/FileListBox.h"

#include <algorithm>
#include <cctype>

#include "platform/CodePage.h"

namespace quindle {

namespace {

constexpr size_t kHourGlassRow = 100;

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

bool IsSep(char c) { return c == '\\' || c == '/'; }

// A path that does not depend on the current directory: "E:\Docs" or a host path.
bool IsAbsolute(const std::string& p) {
    if (!p.empty() && p[0] == '/') return true;
    return p.size() >= 3 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0])) && IsSep(p[2]);
}

// "E:" for "E:\Docs", "\\server\share" for a network path, "" otherwise (also host paths).
std::string ExtractFileDrive(const std::string& p) {
    if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]))) return p.substr(0, 2);
    if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
        // Server and share: up to the fourth backslash.
        size_t n = 0, i = 2;
        for (; i < p.size(); ++i)
            if (p[i] == '\\' && ++n == 2) break;
        return p.substr(0, i);
    }
    return {};
}

// Joins a directory and a name; host directories (beginning with "/") take "/".
std::string JoinDir(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (IsSep(dir.back())) return dir + name;
    return dir + (dir[0] == '/' ? "/" : "\\") + name;
}

std::vector<std::string> SplitMask(const std::string& mask) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (true) {
        const size_t j = mask.find(';', i);
        parts.push_back(mask.substr(i, j == std::string::npos ? std::string::npos : j - i));
        if (j == std::string::npos) break;
        i = j + 1;
    }
    return parts;
}

} // namespace

TFileListBox::TFileListBox(AppContext& ctx) : ctx_(ctx), directory_(ctx.platform.GetCurrentDir()) {}

bool TFileListBox::RowLess(const std::string& a, const std::string& b) {
    const int c = CompareText(a, b);
    if (c != 0) return c < 0;
    return a < b;
}

// ---- properties -------------------------------------------------------------------------

void TFileListBox::SetDirectory(const std::string& path) {
    if (host_.empty() && SameText(path, directory_)) return;
    host_.clear();
    Platform& pf = ctx_.platform;
    // A relative path is taken relative to the directory shown so far, which is also
    // where a path that cannot be entered leaves the lister. An absolute path that can be
    // entered needs neither.
    if (!IsAbsolute(path) || !pf.SetCurrentDir(path)) {
        if (pf.DirectoryExists(directory_)) pf.SetCurrentDir(directory_);
        pf.SetCurrentDir(path);
    }
    directory_ = pf.GetCurrentDir();
    ReadList();
}

void TFileListBox::SetMask(const std::string& mask) {
    if (mask == mask_) return;
    mask_ = mask;
    RefreshList();
}

void TFileListBox::SetFileType(TFileType types) {
    if (types == fileType_) return;
    fileType_ = types;
    RefreshList();
}

void TFileListBox::SetShowGlyphs(bool on) {
    if (on == showGlyphs_) return;
    showGlyphs_ = on;
    RefreshList(); // directory rows carry a picture only with glyphs on
}

// ---- the list -----------------------------------------------------------------------------

void TFileListBox::HandleNeeded() {
    if (created_) return;
    created_ = true;
    RefreshList();
}

void TFileListBox::Clear() {
    items_.clear();
    glyphs_.clear();
    pending_.clear();
    lowest_.clear();
    itemIndex_ = -1;
    hourglassShown_ = false;
}

const std::vector<std::string>& TFileListBox::Items() {
    HandleNeeded();
    return items_;
}

int TFileListBox::Count() { return static_cast<int>(Items().size()); }

const std::string& TFileListBox::Item(int index) { return Items().at(static_cast<size_t>(index)); }

std::vector<std::string> TFileListBox::CopyItems() { return Items(); }

FileGlyph TFileListBox::Glyph(int index) {
    HandleNeeded();
    return glyphs_.at(static_cast<size_t>(index));
}

int TFileListBox::ItemIndex() {
    HandleNeeded();
    return itemIndex_;
}

void TFileListBox::SetItemIndex(int index) {
    HandleNeeded();
    if (index < 0 || index >= static_cast<int>(items_.size())) index = -1;
    if (index == itemIndex_) return;
    itemIndex_ = index;
    Change();
}

void TFileListBox::Change() {
    lastSelection_ = itemIndex_;
    if (OnChange) OnChange(*this);
}

FileGlyph TFileListBox::GlyphFor(const SearchRec& rec) const {
    if (rec.Attr & faDirectory) return showGlyphs_ ? FileGlyph::ClosedFolder : FileGlyph::None;
    const auto dot = rec.Name.rfind('.');
    if (dot != std::string::npos) {
        const std::string_view ext = std::string_view(rec.Name).substr(dot);
        for (const char* exe : {".exe", ".com", ".bat", ".pif"})
            if (SameText(ext, exe)) return FileGlyph::Executable;
    }
    return FileGlyph::UnknownFile;
}

void TFileListBox::AddEntry(const SearchRec& rec) {
    if (!(fileType_ & ftNormal) && !(rec.Attr & SearchAttributes())) return;
    Row row{(rec.Attr & faDirectory) ? "[" + rec.Name + "]" : rec.Name, GlyphFor(rec)};

    // The row a sorted insert would give is the number of rows not after the new one
    // (an equal text goes after its equals). It is 100 exactly when the 100th smallest
    // row is not after it and the 101st smallest, if any, is.
    // A list of fewer than 100 rows cannot put the new one at row 100, so the smallest
    // rows are only gathered once the list is that long (most directories never are).
    if (items_.size() + pending_.size() >= kHourGlassRow) {
        if (lowest_.empty()) GatherLowest();
        const std::string& t = row.text;
        if (!RowLess(t, lowest_[kHourGlassRow - 1]) &&
            (lowest_.size() == kHourGlassRow || RowLess(t, lowest_[kHourGlassRow])) && !hourglassShown_) {
            hourglassShown_ = true;
            ctx_.SetCursor(Cursor::HourGlass);
        }
        if (lowest_.size() <= kHourGlassRow || RowLess(t, lowest_.back())) {
            lowest_.insert(std::upper_bound(lowest_.begin(), lowest_.end(), t, RowLess), t);
            if (lowest_.size() > kHourGlassRow + 1) lowest_.pop_back();
        }
    }
    pending_.push_back(std::move(row));
}

void TFileListBox::GatherLowest() {
    std::vector<const std::string*> rows;
    rows.reserve(items_.size() + pending_.size());
    for (const auto& t : items_) rows.push_back(&t);
    for (const auto& r : pending_) rows.push_back(&r.text);
    const size_t k = std::min(rows.size(), kHourGlassRow + 1);
    std::partial_sort(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(k), rows.end(),
                      [](const std::string* a, const std::string* b) { return RowLess(*a, *b); });
    lowest_.clear();
    for (size_t i = 0; i < k; ++i) lowest_.push_back(*rows[i]);
}

// Sorts the rows added since the last merge once and merges them into the list; a row
// equal to one already listed goes after it, as a sorted insert would put it.
void TFileListBox::FinishAdding() {
    if (pending_.empty()) return;
    // The order is found on row numbers, which move cheaply; each text moves once, below.
    std::vector<uint32_t>& order = order_;
    order.resize(pending_.size());
    for (uint32_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(),
                     [this](uint32_t a, uint32_t b) { return RowLess(pending_[a].text, pending_[b].text); });
    if (items_.empty()) {
        // A fresh listing (every read of a directory): the sorted rows are the list.
        items_.reserve(order.size());
        glyphs_.reserve(order.size());
        for (const uint32_t k : order) {
            items_.push_back(std::move(pending_[k].text));
            glyphs_.push_back(pending_[k].glyph);
        }
        pending_.clear();
        return;
    }
    std::vector<std::string> items;
    std::vector<FileGlyph> glyphs;
    items.reserve(items_.size() + pending_.size());
    glyphs.reserve(items.capacity());
    int newIndex = itemIndex_;
    size_t i = 0, j = 0;
    while (i < items_.size() || j < pending_.size()) {
        const bool takeOld =
            j == pending_.size() || (i < items_.size() && !RowLess(pending_[order[j]].text, items_[i]));
        if (takeOld) {
            if (static_cast<int>(i) == itemIndex_) newIndex = static_cast<int>(items.size());
            items.push_back(std::move(items_[i]));
            glyphs.push_back(glyphs_[i]);
            ++i;
        } else {
            items.push_back(std::move(pending_[order[j]].text));
            glyphs.push_back(pending_[order[j]].glyph);
            ++j;
        }
    }
    items_ = std::move(items);
    glyphs_ = std::move(glyphs);
    itemIndex_ = newIndex;
    pending_.clear();
}

void TFileListBox::AddEntries(const std::vector<SearchRec>& entries) {
    HandleNeeded();
    const Cursor saved = ctx_.ScreenCursor();
    hourglassShown_ = false;
    for (const auto& e : entries) AddEntry(e);
    FinishAdding();
    ctx_.SetCursor(saved);
}

bool TFileListBox::ShowDirectory(const std::string& shown, const std::string& host) {
    if (host.empty()) return false;
    if (host == host_ && created_) {
        directory_ = shown;
        return !readFailed_;
    }
    directory_ = shown;
    host_ = host;
    ctx_.platform.EnterDirectory(shown, host);
    created_ = true;
    ReadList();
    return !readFailed_;
}

void TFileListBox::Reset() {
    host_.clear();
    directory_.clear();
    mask_ = "*.*";
    Clear();
}

void TFileListBox::RefreshList() {
    if (!created_) return;
    if (host_.empty()) ctx_.platform.SetCurrentDir(directory_);
    else ctx_.platform.EnterDirectory(directory_, host_);
    ReadList();
}

void TFileListBox::ReadList() {
    if (!created_) return;
    Platform& pf = ctx_.platform;
    const uint32_t searchAttr = SearchAttributes();
    Clear();
    readFailed_ = false;
    const Cursor saved = ctx_.ScreenCursor();

    // Ask the search only for the attributes the acceptance rule looks at.
    constexpr uint32_t kFileBits = faReadOnly | faHidden | faSysFile | faArchive;
    uint32_t needAttrs = 0;
    bool search = true;
    if (!(fileType_ & ftNormal)) {
        needAttrs = searchAttr & kFileBits;
        if (!(searchAttr & (kFileBits | faVolumeID))) needAttrs |= kDirectoriesOnly;
        search = searchAttr != 0;
    }
    if (search) {
        // The directory itself is searched, never whatever happens to be current: a
        // directory that cannot be entered lists nothing.
        const auto add = [this](const SearchRec& r) { AddEntry(r); };
        for (const auto& pattern : SplitMask(mask_)) {
            if (pattern.empty()) continue;
            const bool read = host_.empty()
                                  ? pf.FindFiles(directory_, pattern, searchAttr, add, needAttrs)
                                  : pf.FindFilesIn(host_, directory_.size() == 3, pattern, searchAttr, add, needAttrs);
            readFailed_ |= !read;
        }
    }
    FinishAdding();
    ctx_.SetCursor(saved);
    Change();
}

// ---- paths ----------------------------------------------------------------------------------

std::string TFileListBox::SelectedPath() {
    const int i = ItemIndex();
    if (i < 0) return {};
    return JoinDir(directory_, items_[static_cast<size_t>(i)]);
}

void TFileListBox::SelectFile(const std::string& name) {
    const int cur = ItemIndex();
    const std::string selected = cur >= 0 ? items_[static_cast<size_t>(cur)] : std::string();
    if (SameText(name, selected)) return;
    int found = -1;
    for (size_t k = 0; k < items_.size(); ++k) {
        if (SameText(items_[k], name)) {
            found = static_cast<int>(k);
            break;
        }
    }
    itemIndex_ = found;
    Change();
}

void TFileListBox::OpenPath(const std::string& p) {
    if (p.empty()) return;
    if (SameText(p, SelectedPath())) return;

    Platform& pf = ctx_.platform;
    // The walks' case: a full path of a directory that can be entered. Taken apart below
    // it would give that same directory, and the mask and selection stay as they are.
    if (IsPlainDrivePath(p) && (p.size() == 3 || p.back() != '\\') && !HasWildcard(p) &&
        (!host_.empty() || !SameText(p, directory_)) && pf.SetCurrentDir(p)) {
        directory_ = pf.GetCurrentDir();
        host_.clear();
        ReadList();
        return;
    }

    const std::string saved = pf.GetCurrentDir();
    const std::string savedDrive = ExtractFileDrive(saved);
    char drive = savedDrive.size() == 2 ? saved[0] : 0;
    std::string root, dir;
    // Whether the folder that should hold the last part could be entered; only then
    // does a name that is neither a file nor a directory make the path invalid.
    bool entered = true;

    if (p.size() >= 2 && p.front() == '[' && p.back() == ']') {
        dir = p.substr(1, p.size() - 2); // a directory row, relative to the current directory
    } else if (p[0] == '/') {
        dir = p; // a host path: no drive
        drive = 0;
    } else {
        root = ExtractFileDrive(p);
        if (!root.empty()) {
            dir = p.substr(root.size());
        } else {
            dir = p;
            root = savedDrive;
        }
        drive = (root.size() == 2 && root[1] == ':') ? root[0] : 0;
        if (!root.empty()) entered = pf.DirectoryExists(root) && pf.SetCurrentDir(root);
    }

    const size_t k = dir.find_last_of("\\/");
    std::string file = k == std::string::npos ? dir : dir.substr(k + 1);
    if (k == std::string::npos) {
        const std::string cur = pf.GetCurrentDir();
        dir = cur.substr(ExtractFileDrive(cur).size());
        if (dir.empty()) dir.push_back('\\');
    } else if (k == 0) {
        dir = dir.substr(0, 1);
    } else {
        dir = dir.substr(0, k);
    }

    if (!dir.empty() && !pf.SetCurrentDir(dir)) entered = false;

    if (!file.empty() && !HasWildcard(file) && !pf.FileExists(file)) {
        if (entered && !pf.DirectoryExists(file)) {
            if (pf.DirectoryExists(saved)) pf.SetCurrentDir(saved);
            throw EInvalidOperation(Format("Invalid file name - %s", p));
        }
        pf.SetCurrentDir(file);
        dir = (dir == "\\" || dir == "/") ? dir + file : JoinDir(dir, file);
        file.clear();
    }
    if (!drive) dir = root + dir;
    if (pf.DirectoryExists(saved)) pf.SetCurrentDir(saved);

    SetDirectory(drive ? std::string(1, drive) + ":" + dir : dir);

    if (HasWildcard(file)) {
        SetMask(file);
    } else if (!file.empty()) {
        SelectFile(file);
        // Checked in the lister's directory: the process's current directory need not be
        // that one when the directory was already shown.
        if (!pf.FileExists(JoinDir(directory_, file))) throw EInvalidOperation(Format("Invalid file name - %s", p));
        if (ItemIndex() < 0) {
            SetMask(file);
            SelectFile(file);
        }
    }
}

} // namespace quindle
