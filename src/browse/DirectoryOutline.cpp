#include "browse/DirectoryOutline.h"

#include <algorithm>

#include "platform/CodePage.h"

namespace quindle {

namespace {
bool EndsWithRoot(const std::string& s) { return s.size() >= 2 && s.compare(s.size() - 2, 2, ":\\") == 0; }

// A top-level text "C:\" followed by the separator gives "C:\\A"; the path has one.
std::string SingleRootSlash(std::string path) {
    const auto p = path.find(":\\\\");
    if (p != std::string::npos) path.erase(p + 2, 1);
    return path;
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

} // namespace

TDirectoryOutline::TDirectoryOutline(AppContext& ctx, bool loading) : ctx_(ctx), loading_(loading) {
    // an unlisted or childless directory looks like a closed folder
    SetPicture(opLeaf, Picture(opClosed));
    PictureMask = 0;
    Options = ooDrawFocusRect;
}

std::string TDirectoryOutline::ApplyCase(const std::string& s) const {
    switch (textCase_) {
    case tcLowerCase:
        return AnsiLowerCase(s);
    case tcUpperCase:
        return AnsiUpperCase(s);
    case tcAsIs:
        break;
    }
    return s;
}

void TDirectoryOutline::SetDrive(char d) {
    if (!IsAsciiLetter(d)) return;
    if (drive_ != 0 && LowerByte(static_cast<unsigned char>(d)) == LowerByte(static_cast<unsigned char>(drive_)))
        return;
    drive_ = d;
    ctx_.platform.SetCurrentDir(std::string(1, d) + ":\\"); // a drive that is not ready keeps the old one
    directory_ = ApplyCase(ctx_.platform.GetCurrentDir());
    if (!loading_) BuildTree();
}

void TDirectoryOutline::SetDirectory(const std::string& value) {
    if (value.empty()) return;
    std::string t = ApplyCase(EndsWithRoot(value) ? value : ctx_.platform.ExpandFileName(value));
    if (t.size() > 3 && t.back() == '\\') t.pop_back();
    if (SameText(t, directory_)) return;
    directory_ = t;
    ctx_.platform.SetCurrentDir(t);
    // Another letter means another drive; the same letter in the other case is the same
    // drive, and the change is reported like any other on it.
    if (LowerByte(static_cast<unsigned char>(t[0])) != LowerByte(static_cast<unsigned char>(drive_))) {
        SetDrive(t[0]);
        return;
    }
    if (EndsWithRoot(t)) SelectPath(t);
    Change();
}

void TDirectoryOutline::SetTextCase(TTextCase value) {
    if (value == textCase_) return;
    textCase_ = value;
    if (value == tcAsIs) {
        const std::string cur = ctx_.platform.GetCurrentDir();
        drive_ = cur.empty() ? 0 : cur[0];
        directory_ = cur;
    }
    if (!loading_) BuildTree();
}

std::string TDirectoryOutline::RootText() const { return ApplyCase(std::string(1, drive_) + ":\\"); }

std::string TDirectoryOutline::HostPathOf(const TOutlineNode* node) const {
    auto root = ctx_.platform.DriveRootHost(drive_);
    if (!root) return {};
    std::vector<const TOutlineNode*> chain;
    for (const TOutlineNode* n = node; n->Parent() && n->Parent()->Parent(); n = n->Parent()) chain.push_back(n);
    std::string host = std::move(*root);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) host = HostJoin(host, (*it)->Key);
    return host;
}

// The folder's path with the names as they are on disk, which the program's current
// directory shows whatever the tree's text case.
std::string TDirectoryOutline::DiskText(const TOutlineNode* node) const {
    std::vector<const TOutlineNode*> chain;
    for (const TOutlineNode* n = node; n->Parent() && n->Parent()->Parent(); n = n->Parent()) chain.push_back(n);
    std::string text(1, static_cast<char>(UpperByte(static_cast<unsigned char>(drive_))));
    text += ":\\";
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it != chain.rbegin()) text += '\\';
        text += (*it)->Key;
    }
    return text;
}

std::string TDirectoryOutline::HostPath(int n) const {
    return HostPathOf(const_cast<TDirectoryOutline*>(this)->Items(n));
}

void TDirectoryOutline::Rebuild() {
    if (drive_ == 0) return;
    const std::string root = RootText();
    const auto host = ctx_.platform.DriveRootHost(drive_);
    if (host) ctx_.platform.EnterDirectory(std::string(1, static_cast<char>(UpperByte(static_cast<unsigned char>(drive_)))) + ":\\", *host);
    directory_ = root;
    BuildTree();
}

void TDirectoryOutline::BuildTree() {
    Clear();
    const int root = AddChild(0, RootText());
    if (root > 0) Items(root)->Key = std::string(1, drive_) + ":\\";
    SelectPath(directory_);
    Change();
}

void TDirectoryOutline::SelectPath(const std::string& path) {
    std::string rest = ApplyCase(path);
    const auto colon = rest.find(':');
    if (colon != std::string::npos) rest.erase(0, colon + 1);
    if (!rest.empty() && rest[0] == '\\') rest.erase(0, 1);
    int current = 1;
    while (!rest.empty()) {
        const auto slash = rest.find('\\');
        const std::string component = rest.substr(0, slash);
        rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
        TOutlineNode* node = Items(current);
        node->Expand();
        current = -1;
        for (size_t i = 0; i < node->ChildCount(); ++i) {
            if (node->Child(i)->Text() == component) {
                current = node->Child(i)->Index();
                break;
            }
        }
    }
    SetSelectedItem(current);
}

void TDirectoryOutline::ExpandHook(int index) {
    if (Items(index)->Data == 0) BuildOneLevel(index);
    TCustomOutline::ExpandHook(index);
}

void TDirectoryOutline::BuildOneLevel(int n) {
    TOutlineNode* node = Items(n);
    const std::string dir = HostPathOf(node);

    // Names are gathered first so that the enumeration is always closed before any
    // insertion can fail. All texts go into one buffer: the cased text of each entry, then
    // its name on disk; an entry holds their offsets. (A folder may hold many thousands.)
    struct Entry {
        uint32_t text, textLen, disk, diskLen;
    };
    std::string buffer;
    std::vector<Entry> names;
    if (!dir.empty()) ctx_.platform.FindFilesIn(
        dir, node->Level() == 1, "*.*", faDirectory,
        [&](const SearchRec& r) {
            if (!(r.Attr & faDirectory) || r.Name.empty() || r.Name[0] == '.') return;
            Entry e;
            e.text = static_cast<uint32_t>(buffer.size());
            e.textLen = static_cast<uint32_t>(r.Name.size());
            buffer += r.Name;
            switch (textCase_) {
            case tcLowerCase:
                for (size_t i = e.text; i < buffer.size(); ++i)
                    buffer[i] = static_cast<char>(LowerByte(static_cast<unsigned char>(buffer[i])));
                break;
            case tcUpperCase:
                for (size_t i = e.text; i < buffer.size(); ++i)
                    buffer[i] = static_cast<char>(UpperByte(static_cast<unsigned char>(buffer[i])));
                break;
            case tcAsIs:
                break;
            }
            e.disk = static_cast<uint32_t>(buffer.size());
            e.diskLen = e.textLen;
            buffer += r.Name;
            names.push_back(e);
        },
        kDirectoriesOnly);
    const auto text = [&](const Entry& e) { return std::string_view(buffer.data() + e.text, e.textLen); };
    const auto disk = [&](const Entry& e) { return std::string(buffer, e.disk, e.diskLen); };

    // Siblings stand in ascending byte order (string_view compares bytes unsigned, a
    // prefix first), then by the name on disk. A first listing sorts once and appends;
    // names merged into existing children go before the first child not less than them,
    // after the last when not less than it.
    if (node->ChildCount() == 0) {
        std::sort(names.begin(), names.end(), [&](const Entry& a, const Entry& b) {
            const int c = text(a).compare(text(b));
            if (c != 0) return c < 0;
            return std::string_view(buffer.data() + a.disk, a.diskLen) <
                   std::string_view(buffer.data() + b.disk, b.diskLen);
        });
        AppendChildren(node, names.size(), [&](size_t i, std::string& t, std::string& key) {
            t = text(names[i]);
            key.assign(buffer, names[i].disk, names[i].diskLen);
        });
    } else {
        for (const Entry& e : names) {
            const std::string name(text(e));
            const size_t count = node->ChildCount();
            size_t pos;
            if (count == 0 || name <= node->Child(0)->Text()) {
                pos = 0;
            } else if (name >= node->Child(count - 1)->Text()) {
                pos = count;
            } else {
                size_t lo = 0, hi = count - 1; // Child(lo) < name <= Child(hi)
                while (hi - lo > 1) {
                    const size_t mid = lo + (hi - lo) / 2;
                    if (name > node->Child(mid)->Text())
                        lo = mid;
                    else
                        hi = mid;
                }
                pos = hi;
            }
            if (TOutlineNode* c = InsertChildAt(node, pos, name)) c->Key = disk(e);
        }
    }
    node->Data = 1;
    if (!names.empty()) FinishInsertion(n);
}

void TDirectoryOutline::BuildSubTree(int n) {
    BuildOneLevel(n);
    TOutlineNode* node = Items(n);
    for (size_t i = 0; i < node->ChildCount(); ++i) BuildSubTree(node->Child(i)->Index());
}

void TDirectoryOutline::Change() {
    if (OnChange) OnChange(*this);
}

void TDirectoryOutline::Click() {
    TCustomOutline::Click();
    if (ItemCount() == 0) return;
    const int n = SelectedItem();
    if (n <= 0) return;
    // The clicked folder is the node itself: its path text is what the user sees, its host
    // folder comes from the names on disk. Neither is parsed back from the other.
    TOutlineNode* node = Items(n);
    const std::string path = SingleRootSlash(node->FullPath());
    if (path == directory_) return;
    directory_ = path;
    const std::string host = HostPathOf(node);
    if (!host.empty()) ctx_.platform.EnterDirectory(DiskText(node), host);
    Change();
}

void TDirectoryOutline::CreateWnd() {
    if (drive_ != 0) return;
    const std::string cur = ApplyCase(ctx_.platform.GetCurrentDir());
    if (cur.empty()) return;
    drive_ = cur[0];
    directory_ = cur;
}

void TDirectoryOutline::Loaded() {
    TCustomOutline::Loaded();
    loading_ = false;
    CreateWnd();
    BuildTree();
}

} // namespace quindle
