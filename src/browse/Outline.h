#pragma once
// TCustomOutline: a one-column grid showing a tree of text items, one item per row, kept
// as TOutlineNode objects under one hidden root. No Qt: the whole state, including the
// grid's row count and current row, lives here; a view paints it and forwards mouse and
// keys, and is told what changed through OutlineObserver.
//
// Every item has a 1-based number in depth-first pre-order over the whole tree, collapsed
// branches included. Numbers and rows are derived from per-node subtree sizes and visible
// counts with prefix sums over each parent's children that are trusted up to a per-parent
// numbering mark and extended lazily, so walking the items in increasing order stays
// amortised O(depth) per item while the tree grows under the walk.
#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quindle {

class EOutlineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TOutlineOption : unsigned { ooDrawTreeRoot = 1, ooDrawFocusRect = 2, ooStretchBitmaps = 4 };
using TOutlineOptions = unsigned;
enum TOutlineType { otStandard, otOwnerDraw };
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TShiftFlag : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4 };
using TShiftState = unsigned;
// Keys the outline reacts to; everything else is Other.
enum class OutlineKey { Up, Down, PageUp, PageDown, Home, End, Left, Right, Enter, Multiply, Other };
// Picture slots; the view maps each slot's resource name to an image.
enum OutlinePicture { opPlus = 0, opMinus = 1, opOpen = 2, opClosed = 3, opLeaf = 4 };

class TCustomOutline;

class TOutlineNode {
public:
    ~TOutlineNode();
    TOutlineNode(const TOutlineNode&) = delete;
    TOutlineNode& operator=(const TOutlineNode&) = delete;

    const std::string& Text() const { return text_; }
    void SetText(const std::string& text);
    int32_t Data = 0; // free value for the owner
    std::string Key;  // the owner's own name for the item (the directory tree: the name on disk)
    // The view's measure of Text() in pixels, kept so that a row is measured once, not at
    // every change of the tree; -1 until measured, and again whenever the text changes.
    int TextWidth = -1;

    TOutlineNode* Parent() const { return parent_; }
    TCustomOutline* Outline() const { return outline_; }
    bool Expanded() const { return expanded_; }
    void SetExpanded(bool value);
    int VisibleCount() const { return visibleCount_; }
    int Index() const; // item number; 0 for the root, -1 while not in a tree
    int Level() const { return level_; }
    bool HasItems() const { return !children_.empty(); }
    size_t ChildCount() const { return children_.size(); }
    TOutlineNode* Child(size_t i) const { return children_[i]; }
    int FirstChildIndex() const;
    int LastChildIndex() const;
    int NextChildIndex(int n) const;
    int LastIndex() const;
    bool IsVisible() const; // every ancestor expanded
    std::string FullPath() const;

    void Expand();
    void Collapse();
    void ExpandAll();

private:
    friend class TCustomOutline;
    TOutlineNode(TCustomOutline* owner, std::string text) : outline_(owner), text_(std::move(text)) {}

    TCustomOutline* outline_;
    TOutlineNode* parent_ = nullptr;
    std::vector<TOutlineNode*> children_; // owned
    std::string text_;
    bool expanded_ = false;
    int visibleCount_ = 0;
    int size_ = 0;  // number of descendants
    int level_ = 0;
    int pos_ = 0;   // position among the parent's children, trusted below the parent's posValid_
    // Prefix sums over the children: sizePre_[j] = sum over i < j of (size + 1),
    // visPre_[j] = sum over i < j of (VisibleCount + 1); entries 0..*Valid_ are right.
    std::vector<int> sizePre_, visPre_;
    int sizeValid_ = 0, visValid_ = 0, posValid_ = 0;
};

// What a view needs to hear.
struct OutlineObserver {
    virtual ~OutlineObserver() = default;
    virtual void RowsChanged() {}       // row count or the rows' content changed
    virtual void CurrentRowChanged() {} // the grid's current row moved
    virtual void Invalidate() {}        // repaint, nothing else changed
};

// How one row is drawn: the view only paints this.
struct OutlineRowLayout {
    TOutlineNode* node = nullptr;
    int level = 0;             // 1 for top-level items
    int indentColumns = 0;     // columns of one row height before the picture
    std::vector<bool> isLast;  // isLast[l-1]: the ancestor-or-self on level l is its parent's last child
    int picture = opLeaf;      // opOpen, opClosed or opLeaf
    bool current = false;      // on the grid's current row
};

class TOutlineStrings;

class TCustomOutline {
public:
    using EOutlineChange = std::function<void(TCustomOutline&, int)>;

    TCustomOutline();
    virtual ~TCustomOutline();
    TCustomOutline(const TCustomOutline&) = delete;
    TCustomOutline& operator=(const TCustomOutline&) = delete;

    // ---- items ----------------------------------------------------------------------
    TOutlineNode* Items(int n);
    int ItemCount() const { return root_->size_; }
    int AddChild(int n, const std::string& text);
    int Add(int n, const std::string& text);
    int Insert(int n, const std::string& text);
    void Delete(int n);
    void Clear();
    TOutlineNode* Root() const { return root_; }
    int SelectedItem();
    void SetSelectedItem(int n);
    TOutlineNode* CurrentItem() const { return current_; }
    void SetCurrentItem(int n);
    void FullExpand();
    void FullCollapse();
    TOutlineStrings& Lines() { return *lines_; }

    // ---- grid -------------------------------------------------------------------------
    int RowCount() const { return root_->visibleCount_ > 0 ? root_->visibleCount_ : 1; }
    int Row() const { return row_; }
    TOutlineNode* VisibleNode(int row);
    int RowOf(TOutlineNode* node); // -1 when the node is hidden or the root
    TOutlineNode* NextVisible(TOutlineNode* node) const; // nullptr after the last row
    OutlineRowLayout LayoutOfRow(int row);
    int PictureIndexFor(const TOutlineNode* node) const;
    // Rows the view shows at once (PageUp / PageDown move by this).
    void SetPageRows(int rows) { pageRows_ = rows > 1 ? rows : 1; }

    // Mouse and keys, as the view forwards them.
    void MouseDown(int row);
    void DblClick();
    void KeyDown(OutlineKey key, TShiftState shift = 0);
    void KeyPress(char c);
    virtual void Click();
    // Completion after the owner's stored properties are set.
    virtual void Loaded();

    // ---- appearance -------------------------------------------------------------------
    std::string Separator = "\\";
    TOutlineOptions Options = ooDrawTreeRoot | ooDrawFocusRect;
    TOutlineType Style = otStandard;
    TScrollStyle ScrollBars = ssBoth;
    int ItemHeight = 16; // pixels per row
    int FontHeight = 13; // pixels
    // Recomputes ItemHeight and FontHeight for a font of pointSize at dpiY.
    void FontChanged(int pointSize, int dpiY);
    static int RowHeightForFont(int pointSize, int dpiY);
    // Pictures by slot, as resource names ("" = none); setting one sets its bit in PictureMask.
    const std::string& Picture(int slot) const { return pictures_[slot]; }
    void SetPicture(int slot, const std::string& resource);
    uint8_t PictureMask = 0;

    // ---- events -----------------------------------------------------------------------
    EOutlineChange OnExpand, OnCollapse;
    std::function<void(TCustomOutline&)> OnClick, OnDblClick;
    // Errors inside AddChild/Add/Insert go here instead of to the caller.
    std::function<void(const std::string&)> OnApplicationError;
    std::function<void()> Beep;

    void SetObserver(OutlineObserver* o) { observer_ = o; }

protected:
    // Called with the item's number before it is marked expanded / after it is collapsed.
    virtual void ExpandHook(int index);
    virtual void CollapseHook(int index);
    // Adds a child at a position of `parent` without numbering it; for bulk listings.
    // Returns nullptr (the error reported) when the parent is too deep.
    TOutlineNode* InsertChildAt(TOutlineNode* parent, size_t pos, const std::string& text);
    // Appends `count` children after the last one of `parent`, the i-th with the text and
    // key that fill(i, text, key) gives; for bulk listings, without numbering them. Returns
    // false (the error reported) when the parent is too deep.
    bool AppendChildren(TOutlineNode* parent, size_t count,
                        const std::function<void(size_t, std::string&, std::string&)>& fill);
    // After a bulk insertion: row count, selection, CurrentItem := n.
    void FinishInsertion(int n);
    void ReportError(const std::string& message);

private:
    friend class TOutlineNode;

    int Number(const TOutlineNode* node);
    int PosOf(const TOutlineNode* node);
    int SizePrefix(TOutlineNode* p, int j);
    int VisPrefix(TOutlineNode* p, int j);
    int FindChild(TOutlineNode* p, int t, bool visible);
    TOutlineNode* Lookup(int n);
    void Invalidate(TOutlineNode* p, int pos, bool structural);
    void AddSize(TOutlineNode* from, int delta);
    void AddVisible(TOutlineNode* from, int delta);
    void Attach(TOutlineNode* parent, size_t pos, TOutlineNode* node);
    void Detach(TOutlineNode* node);
    void DoExpand(TOutlineNode* node);
    void DoCollapse(TOutlineNode* node);
    void CollapseQuietly(TOutlineNode* node);
    void Toggle(TOutlineNode* node);
    void ExpandAllOf(TOutlineNode* node);
    TOutlineNode* VisibleAncestorOrSelf(TOutlineNode* node) const;
    void MoveRow(int row);
    void RefreshRows();
    void ReapplySelection();
    void SelectNode(TOutlineNode* node);
    enum class AddKind { Child, Sibling, Before };
    int AddItem(AddKind kind, int n, const std::string& text);
    void NotifyRows();

    TOutlineNode* root_;
    TOutlineNode* selected_;
    TOutlineNode* current_;
    int row_ = 0;
    int pageRows_ = 1;
    std::array<std::string, 5> pictures_{"PLUS", "MINUS", "OPEN", "CLOSED", "LEAF"};
    OutlineObserver* observer_ = nullptr;
    TOutlineStrings* lines_;
};

// The items as a list of strings: line k is item k+1's text after Level - 1 tabs, its
// object item k+1's Data.
class TOutlineStrings {
public:
    explicit TOutlineStrings(TCustomOutline& o) : outline_(o) {}
    int Count() const { return outline_.ItemCount(); }
    std::string Strings(int k) const;
    int32_t Objects(int k) const;
    void Delete(int k) { outline_.Delete(k + 1); }
    void Insert(int k, const std::string& text);
    void Clear() { outline_.Clear(); }

private:
    TCustomOutline& outline_;
};

} // namespace quindle
