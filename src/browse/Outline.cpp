#include "browse/Outline.h"

#include <memory>

#include <algorithm>

namespace quindle {

namespace {
constexpr const char* kIndexNotFound = "Outline index not found";
constexpr const char* kInvalidIndex = "Invalid outline index";
constexpr const char* kInvalidSelection = "Invalid selection";
constexpr const char* kParentCollapsed = "Parent must be expanded";
constexpr const char* kTooDeep = "Maximum outline depth exceeded";
constexpr const char* kInvalidCurrent = "Invalid value for current item";
constexpr int kMaxLevel = 256; // a node on this level gets no children

int MulDivRound(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    return static_cast<int>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}
} // namespace

// ---- TOutlineNode ------------------------------------------------------------------------

TOutlineNode::~TOutlineNode() {
    for (TOutlineNode* c : children_) delete c;
}

void TOutlineNode::SetText(const std::string& text) {
    if (text == text_) return;
    text_ = text;
    TextWidth = -1;
    if (outline_ && outline_->observer_) outline_->observer_->RowsChanged();
}

void TOutlineNode::SetExpanded(bool value) {
    if (value)
        Expand();
    else
        Collapse();
}

int TOutlineNode::Index() const {
    if (!parent_) return outline_ && outline_->root_ == this ? 0 : -1;
    return outline_->Number(this);
}

int TOutlineNode::FirstChildIndex() const { return children_.empty() ? -1 : outline_->Number(children_.front()); }
int TOutlineNode::LastChildIndex() const { return children_.empty() ? -1 : outline_->Number(children_.back()); }

int TOutlineNode::NextChildIndex(int n) const {
    for (size_t i = 0; i + 1 < children_.size(); ++i)
        if (outline_->Number(children_[i]) == n) return outline_->Number(children_[i + 1]);
    return -1;
}

int TOutlineNode::LastIndex() const { return Index() + size_; }

bool TOutlineNode::IsVisible() const {
    if (!parent_) return false;
    for (const TOutlineNode* a = parent_; a; a = a->parent_)
        if (!a->expanded_) return false;
    return true;
}

std::string TOutlineNode::FullPath() const {
    if (!parent_) return {};
    std::vector<const TOutlineNode*> chain;
    for (const TOutlineNode* n = this; n->parent_; n = n->parent_) chain.push_back(n);
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        if (it != chain.rbegin()) path += outline_->Separator;
        path += (*it)->text_;
    }
    return path;
}

void TOutlineNode::Expand() { outline_->DoExpand(this); }
void TOutlineNode::Collapse() { outline_->DoCollapse(this); }
void TOutlineNode::ExpandAll() { outline_->ExpandAllOf(this); }

// ---- TCustomOutline: numbering and rows ---------------------------------------------------

TCustomOutline::TCustomOutline() : root_(new TOutlineNode(this, "")), lines_(new TOutlineStrings(*this)) {
    root_->expanded_ = true;
    selected_ = current_ = root_;
}

TCustomOutline::~TCustomOutline() {
    delete root_;
    delete lines_;
}

int TCustomOutline::PosOf(const TOutlineNode* node) {
    TOutlineNode* p = node->parent_;
    if (node->pos_ < p->posValid_ && p->children_[node->pos_] == node) return node->pos_;
    const int count = static_cast<int>(p->children_.size());
    for (int i = p->posValid_; i < count; ++i) {
        p->children_[i]->pos_ = i;
        if (p->children_[i] == node) {
            p->posValid_ = i + 1;
            return i;
        }
    }
    p->posValid_ = count;
    throw std::logic_error("outline node lost its parent");
}

int TCustomOutline::SizePrefix(TOutlineNode* p, int j) {
    auto& pre = p->sizePre_;
    if (pre.size() != p->children_.size() + 1) pre.resize(p->children_.size() + 1);
    pre[0] = 0;
    while (p->sizeValid_ < j) {
        const int v = p->sizeValid_;
        pre[v + 1] = pre[v] + p->children_[v]->size_ + 1;
        ++p->sizeValid_;
    }
    return pre[j];
}

int TCustomOutline::VisPrefix(TOutlineNode* p, int j) {
    auto& pre = p->visPre_;
    if (pre.size() != p->children_.size() + 1) pre.resize(p->children_.size() + 1);
    pre[0] = 0;
    while (p->visValid_ < j) {
        const int v = p->visValid_;
        pre[v + 1] = pre[v] + p->children_[v]->visibleCount_ + 1;
        ++p->visValid_;
    }
    return pre[j];
}

// The last child j of p whose prefix (size or visible) does not exceed t; -1 when t lies
// past the last child's subtree. Binary search over the trusted part, lazy extension
// beyond it (the walks ask just past the mark, so extending is amortised O(1)).
int TCustomOutline::FindChild(TOutlineNode* p, int t, bool visible) {
    const int count = static_cast<int>(p->children_.size());
    if (count == 0) return -1;
    auto prefix = [&](int j) { return visible ? VisPrefix(p, j) : SizePrefix(p, j); };
    int& valid = visible ? p->visValid_ : p->sizeValid_;
    prefix(0);
    const auto& pre = visible ? p->visPre_ : p->sizePre_;
    if (valid > 0 && t < pre[valid]) {
        // largest j in [0, valid) with pre[j] <= t
        int lo = 0, hi = valid - 1;
        while (lo < hi) {
            const int mid = (lo + hi + 1) / 2;
            if (pre[mid] <= t)
                lo = mid;
            else
                hi = mid - 1;
        }
        return lo;
    }
    for (int j = valid; j < count; ++j)
        if (prefix(j + 1) > t) return j;
    return -1;
}

int TCustomOutline::Number(const TOutlineNode* node) {
    int num = 0;
    for (const TOutlineNode* n = node; n->parent_; n = n->parent_) num += 1 + SizePrefix(n->parent_, PosOf(n));
    return num;
}

int TCustomOutline::RowOf(TOutlineNode* node) {
    if (!node || !node->IsVisible()) return -1;
    int row = -1;
    for (const TOutlineNode* n = node; n->parent_; n = n->parent_) row += 1 + VisPrefix(n->parent_, PosOf(n));
    return row;
}

TOutlineNode* TCustomOutline::Lookup(int n) {
    if (current_ != root_ && current_->parent_ && Number(current_) == n) return current_;
    if (n < 1 || n > ItemCount()) throw EOutlineError(kIndexNotFound);
    TOutlineNode* node = root_;
    int base = 0;
    while (base != n) {
        const int j = FindChild(node, n - base - 1, false);
        if (j < 0) throw EOutlineError(kIndexNotFound);
        base += 1 + node->sizePre_[j];
        node = node->children_[j];
    }
    current_ = node;
    return node;
}

TOutlineNode* TCustomOutline::VisibleNode(int row) {
    if (row < 0 || row >= root_->visibleCount_) return nullptr;
    TOutlineNode* node = root_;
    int base = -1;
    while (base != row) {
        const int j = FindChild(node, row - base - 1, true);
        if (j < 0) return nullptr;
        base += 1 + node->visPre_[j];
        node = node->children_[j];
    }
    return node;
}

TOutlineNode* TCustomOutline::NextVisible(TOutlineNode* node) const {
    if (node->expanded_ && !node->children_.empty()) return node->children_.front();
    for (TOutlineNode* n = node; n->parent_; n = n->parent_) {
        TOutlineNode* p = n->parent_;
        // position without touching the lazy caches (const): search near the cached one
        size_t i = static_cast<size_t>(n->pos_) < p->children_.size() && p->children_[n->pos_] == n
                       ? static_cast<size_t>(n->pos_)
                       : static_cast<size_t>(std::find(p->children_.begin(), p->children_.end(), n) - p->children_.begin());
        if (i + 1 < p->children_.size()) return p->children_[i + 1];
    }
    return nullptr;
}

// ---- structure changes ---------------------------------------------------------------------

void TCustomOutline::Invalidate(TOutlineNode* p, int pos, bool structural) {
    p->sizeValid_ = std::min(p->sizeValid_, pos);
    p->visValid_ = std::min(p->visValid_, pos);
    if (structural) p->posValid_ = std::min(p->posValid_, pos);
}

void TCustomOutline::AddSize(TOutlineNode* from, int delta) {
    for (TOutlineNode* n = from; n; n = n->parent_) {
        n->size_ += delta;
        if (n->parent_) Invalidate(n->parent_, PosOf(n), false);
    }
}

void TCustomOutline::AddVisible(TOutlineNode* from, int delta) {
    for (TOutlineNode* n = from; n; n = n->parent_) {
        n->visibleCount_ += delta;
        if (n->parent_) n->parent_->visValid_ = std::min(n->parent_->visValid_, PosOf(n));
    }
}

void TCustomOutline::Attach(TOutlineNode* parent, size_t pos, TOutlineNode* node) {
    parent->children_.insert(parent->children_.begin() + static_cast<long>(pos), node);
    node->parent_ = parent;
    node->level_ = parent->level_ + 1;
    node->pos_ = static_cast<int>(pos);
    Invalidate(parent, static_cast<int>(pos), true);
    AddSize(parent, 1 + node->size_);
    if (parent->expanded_) AddVisible(parent, 1 + node->visibleCount_);
}

void TCustomOutline::Detach(TOutlineNode* node) {
    TOutlineNode* parent = node->parent_;
    const int pos = PosOf(node);
    AddSize(parent, -(1 + node->size_));
    if (parent->expanded_) AddVisible(parent, -(1 + node->visibleCount_));
    parent->children_.erase(parent->children_.begin() + pos);
    Invalidate(parent, pos, true);
    node->parent_ = nullptr;
}

TOutlineNode* TCustomOutline::InsertChildAt(TOutlineNode* parent, size_t pos, const std::string& text) {
    if (parent->level_ >= kMaxLevel) {
        ReportError(kTooDeep);
        return nullptr;
    }
    auto* node = new TOutlineNode(this, text);
    Attach(parent, pos, node);
    return node;
}

bool TCustomOutline::AppendChildren(TOutlineNode* parent, size_t count,
                                    const std::function<void(size_t, std::string&, std::string&)>& fill) {
    if (parent->level_ >= kMaxLevel) {
        ReportError(kTooDeep);
        return false;
    }
    auto& children = parent->children_;
    const size_t first = children.size();
    children.reserve(first + count);
    // The counts go up once for the whole batch, also for the part added before a failure.
    struct Account {
        TCustomOutline& outline;
        TOutlineNode* parent;
        size_t first;
        ~Account() {
            const int added = static_cast<int>(parent->children_.size() - first);
            if (added == 0) return;
            outline.Invalidate(parent, static_cast<int>(first), true);
            outline.AddSize(parent, added);
            if (parent->expanded_) outline.AddVisible(parent, added);
        }
    } account{*this, parent, first};
    std::string text, key;
    for (size_t i = 0; i < count; ++i) {
        text.clear();
        key.clear();
        fill(i, text, key);
        auto node = std::unique_ptr<TOutlineNode>(new TOutlineNode(this, text));
        node->Key = key;
        node->parent_ = parent;
        node->level_ = parent->level_ + 1;
        node->pos_ = static_cast<int>(children.size());
        children.push_back(node.release());
    }
    return true;
}

void TCustomOutline::FinishInsertion(int n) {
    RefreshRows();
    ReapplySelection();
    SetCurrentItem(n);
}

void TCustomOutline::ReportError(const std::string& message) {
    if (OnApplicationError) OnApplicationError(message);
}

int TCustomOutline::AddItem(AddKind kind, int n, const std::string& text) {
    if (n < 0) throw EOutlineError(kInvalidIndex);
    auto* node = new TOutlineNode(this, text);
    int result = 0;
    try {
        TOutlineNode* item = n == 0 ? root_ : Lookup(n);
        TOutlineNode* parent = root_;
        size_t pos = 0;
        switch (kind) {
        case AddKind::Child:
            parent = item;
            pos = parent->children_.size();
            break;
        case AddKind::Sibling:
            parent = n == 0 ? root_ : item->parent_;
            pos = parent->children_.size();
            break;
        case AddKind::Before:
            parent = n == 0 ? root_ : item->parent_;
            pos = n == 0 ? parent->children_.size() : static_cast<size_t>(PosOf(item));
            break;
        }
        if (kind != AddKind::Before && parent->level_ >= kMaxLevel) throw EOutlineError(kTooDeep);
        Attach(parent, pos, node);
        try {
            result = Number(node);
            RefreshRows();
            ReapplySelection();
        } catch (...) {
            if (selected_ == node) selected_ = root_;
            if (current_ == node) current_ = root_;
            Detach(node);
            RefreshRows();
            throw;
        }
    } catch (const std::exception& e) {
        delete node;
        ReportError(e.what());
        result = 0;
    }
    SetCurrentItem(n);
    return result;
}

int TCustomOutline::AddChild(int n, const std::string& text) { return AddItem(AddKind::Child, n, text); }
int TCustomOutline::Add(int n, const std::string& text) { return AddItem(AddKind::Sibling, n, text); }
int TCustomOutline::Insert(int n, const std::string& text) { return AddItem(AddKind::Before, n, text); }

void TCustomOutline::Delete(int n) {
    if (n <= 0) throw EOutlineError(kInvalidIndex);
    TOutlineNode* node = Lookup(n);
    const int currentNumber = current_ == root_ ? 0 : Number(current_);
    TOutlineNode* parent = node->parent_;
    const bool wasLast = parent->children_.back() == node;
    const bool visible = node->IsVisible();
    bool selectionGone = false;
    for (TOutlineNode* s = selected_; s; s = s->parent_)
        if (s == node) selectionGone = true;
    if (selectionGone) selected_ = root_;
    current_ = root_;
    Detach(node);
    delete node;

    bool collapsedParent = false;
    if (parent != root_ && parent->children_.empty() && parent->expanded_) {
        parent->expanded_ = false;
        AddVisible(parent, -parent->visibleCount_);
        collapsedParent = true;
    }
    RefreshRows();
    if (collapsedParent) CollapseHook(Number(parent));

    if (selectionGone) {
        int target = std::min(row_, RowCount() - 1);
        if (visible) {
            if (parent->children_.empty())
                target = parent == root_ ? 0 : RowOf(parent);
            else if (wasLast)
                target = RowOf(parent->children_.back());
        }
        MoveRow(std::max(target, 0));
        if (selected_ == root_ && ItemCount() > 0) selected_ = VisibleNode(row_) ? VisibleNode(row_) : root_;
    } else {
        ReapplySelection();
    }
    current_ = currentNumber > 0 && currentNumber <= ItemCount() ? Lookup(currentNumber) : root_;
    NotifyRows();
}

void TCustomOutline::Clear() {
    delete root_;
    root_ = new TOutlineNode(this, "");
    root_->expanded_ = true;
    selected_ = current_ = root_;
    const bool moved = row_ != 0;
    row_ = 0;
    NotifyRows();
    if (moved && observer_) observer_->CurrentRowChanged();
}

TOutlineNode* TCustomOutline::Items(int n) {
    if (n == 0) throw EOutlineError(kInvalidIndex);
    return Lookup(n);
}

void TCustomOutline::SetCurrentItem(int n) {
    if (n < 0) throw EOutlineError(kInvalidCurrent);
    current_ = n == 0 ? root_ : Lookup(n);
}

// ---- expanding and collapsing ----------------------------------------------------------------

void TCustomOutline::DoExpand(TOutlineNode* node) {
    if (node->expanded_) return;
    for (TOutlineNode* a = node->parent_; a; a = a->parent_)
        if (!a->expanded_) throw EOutlineError(kParentCollapsed);
    ExpandHook(Number(node));
    node->expanded_ = true;
    int delta = 0;
    for (const TOutlineNode* c : node->children_) delta += 1 + c->visibleCount_;
    if (delta) AddVisible(node, delta);
    RefreshRows();
    ReapplySelection();
}

void TCustomOutline::CollapseQuietly(TOutlineNode* node) {
    for (TOutlineNode* c : node->children_)
        if (c->expanded_) CollapseQuietly(c);
    node->expanded_ = false;
    if (node->visibleCount_) AddVisible(node, -node->visibleCount_);
}

void TCustomOutline::DoCollapse(TOutlineNode* node) {
    if (!node->expanded_ || node == root_) return;
    CollapseQuietly(node);
    RefreshRows();
    ReapplySelection();
    CollapseHook(Number(node));
}

void TCustomOutline::Toggle(TOutlineNode* node) {
    if (node->expanded_)
        DoCollapse(node);
    else
        DoExpand(node);
}

void TCustomOutline::ExpandAllOf(TOutlineNode* node) {
    if (node->children_.empty()) return;
    DoExpand(node);
    for (size_t i = 0; i < node->children_.size(); ++i) ExpandAllOf(node->children_[i]);
}

void TCustomOutline::FullExpand() {
    for (size_t i = 0; i < root_->children_.size(); ++i) ExpandAllOf(root_->children_[i]);
}

void TCustomOutline::FullCollapse() {
    for (size_t i = 0; i < root_->children_.size(); ++i) DoCollapse(root_->children_[i]);
}

void TCustomOutline::ExpandHook(int index) {
    if (OnExpand) OnExpand(*this, index);
}

void TCustomOutline::CollapseHook(int index) {
    if (OnCollapse) OnCollapse(*this, index);
}

// ---- selection and the grid's row ---------------------------------------------------------

TOutlineNode* TCustomOutline::VisibleAncestorOrSelf(TOutlineNode* node) const {
    TOutlineNode* result = node;
    for (TOutlineNode* a = node->parent_; a && a->parent_; a = a->parent_)
        if (!a->expanded_) result = a;
    return result;
}

void TCustomOutline::NotifyRows() {
    if (observer_) observer_->RowsChanged();
}

void TCustomOutline::RefreshRows() { NotifyRows(); }

void TCustomOutline::MoveRow(int row) {
    if (row == row_) return;
    row_ = row;
    if (observer_) observer_->CurrentRowChanged();
    Click();
}

void TCustomOutline::SelectNode(TOutlineNode* node) {
    node = VisibleAncestorOrSelf(node);
    selected_ = node;
    const int row = RowOf(node);
    if (row >= 0) MoveRow(row);
}

void TCustomOutline::ReapplySelection() {
    if (selected_ != root_)
        SelectNode(selected_);
    else if (row_ >= RowCount()) // the grid keeps its current row inside the row count
        MoveRow(RowCount() - 1);
}

void TCustomOutline::SetSelectedItem(int n) {
    if (n == 0 && ItemCount() > 0) n = 1;
    if (n <= 0) throw EOutlineError(kInvalidSelection);
    TOutlineNode* node = selected_ != root_ && Number(selected_) == n ? selected_ : Lookup(n);
    SelectNode(node);
}

int TCustomOutline::SelectedItem() {
    if (ItemCount() == 0) return 0;
    if (selected_ == root_) {
        TOutlineNode* n = VisibleNode(row_);
        if (!n) return 0;
        selected_ = n;
    }
    selected_ = VisibleAncestorOrSelf(selected_);
    return Number(selected_);
}

void TCustomOutline::Click() {
    if (ItemCount() > 0) {
        if (TOutlineNode* n = VisibleNode(row_)) selected_ = n;
    }
    if (OnClick) OnClick(*this);
}

void TCustomOutline::MouseDown(int row) {
    if (row < 0 || row >= RowCount()) return;
    MoveRow(row);
    selected_ = root_;
    if (ItemCount() > 0)
        if (TOutlineNode* n = VisibleNode(row_)) selected_ = n;
}

void TCustomOutline::DblClick() {
    if (ItemCount() > 0) {
        const int n = SelectedItem();
        if (n > 0) Toggle(Items(n));
    }
    if (OnDblClick) OnDblClick(*this);
}

void TCustomOutline::KeyDown(OutlineKey key, TShiftState shift) {
    const bool ctrl = (shift & ssCtrl) != 0;
    const int last = RowCount() - 1;
    // the grid's own movement first
    switch (key) {
    case OutlineKey::Up:
        if (!ctrl) MoveRow(std::max(0, row_ - 1));
        break;
    case OutlineKey::Down:
        if (!ctrl) MoveRow(std::min(last, row_ + 1));
        break;
    case OutlineKey::PageUp:
        MoveRow(std::max(0, row_ - pageRows_));
        break;
    case OutlineKey::PageDown:
        MoveRow(std::min(last, row_ + pageRows_));
        break;
    case OutlineKey::Home:
        if (ctrl) MoveRow(0);
        break;
    case OutlineKey::End:
        if (ctrl) MoveRow(last);
        break;
    default:
        break;
    }
    if (ItemCount() == 0) return;
    TOutlineNode* node = VisibleNode(row_);
    if (!node) return;
    auto beep = [this] {
        if (Beep) Beep();
    };
    switch (key) {
    case OutlineKey::Enter:
        Toggle(node);
        break;
    case OutlineKey::End:
        SelectNode(VisibleNode(root_->visibleCount_ - 1));
        break;
    case OutlineKey::Home:
        SelectNode(root_->children_.front());
        break;
    case OutlineKey::Left:
        if (node->parent_ == root_)
            beep();
        else
            SelectNode(node->parent_);
        break;
    case OutlineKey::Right:
        if (node->HasItems() && node->expanded_)
            SelectNode(node->children_.front());
        else
            beep();
        break;
    case OutlineKey::Up:
    case OutlineKey::Down:
        if (ctrl) {
            TOutlineNode* p = node->parent_;
            const int pos = PosOf(node);
            const int next = pos + (key == OutlineKey::Up ? -1 : 1);
            if (next < 0 || next >= static_cast<int>(p->children_.size()))
                beep();
            else
                SelectNode(p->children_[next]);
        } else {
            SelectNode(node);
        }
        break;
    case OutlineKey::Multiply:
        if (ctrl)
            FullExpand();
        else
            SelectNode(node);
        break;
    default:
        SelectNode(node);
        break;
    }
}

void TCustomOutline::KeyPress(char c) {
    if (c != '+' && c != '-' && c != '*') return;
    const int n = SelectedItem();
    if (n <= 0) return;
    TOutlineNode* node = Items(n);
    if (c == '+')
        DoExpand(node);
    else if (c == '-')
        DoCollapse(node);
    else
        ExpandAllOf(node);
}

void TCustomOutline::Loaded() {
    root_->visibleCount_ = 0;
    for (const TOutlineNode* c : root_->children_) root_->visibleCount_ += 1 + c->visibleCount_;
    root_->visValid_ = 0;
    row_ = 0;
    if (!root_->children_.empty()) selected_ = root_->children_.front();
    NotifyRows();
    if (observer_) observer_->CurrentRowChanged();
}

// ---- painting data ------------------------------------------------------------------------

int TCustomOutline::PictureIndexFor(const TOutlineNode* node) const {
    if (!node->HasItems()) return opLeaf;
    return node->expanded_ ? opOpen : opClosed;
}

OutlineRowLayout TCustomOutline::LayoutOfRow(int row) {
    OutlineRowLayout l;
    l.node = VisibleNode(row);
    if (!l.node) return l;
    l.level = l.node->level_;
    l.indentColumns = l.level - 1 + ((Options & ooDrawTreeRoot) ? 1 : 0);
    l.isLast.assign(static_cast<size_t>(l.level), false);
    for (TOutlineNode* n = l.node; n->parent_; n = n->parent_)
        l.isLast[static_cast<size_t>(n->level_ - 1)] = n->parent_->children_.back() == n;
    l.picture = PictureIndexFor(l.node);
    l.current = row == row_;
    return l;
}

void TCustomOutline::SetPicture(int slot, const std::string& resource) {
    if (slot < 0 || slot >= static_cast<int>(pictures_.size())) return;
    PictureMask = static_cast<uint8_t>(PictureMask | (1u << slot));
    if (pictures_[slot] == resource) return;
    pictures_[slot] = resource;
    if (observer_) observer_->Invalidate();
}

int TCustomOutline::RowHeightForFont(int pointSize, int dpiY) {
    return MulDivRound(MulDivRound(pointSize, dpiY, 72), 120, 100);
}

void TCustomOutline::FontChanged(int pointSize, int dpiY) {
    if (Style == otStandard) {
        FontHeight = MulDivRound(pointSize, dpiY, 72);
        ItemHeight = MulDivRound(FontHeight, 120, 100);
    } else {
        FontHeight = MulDivRound(ItemHeight, 100, 120);
    }
    NotifyRows();
}

// ---- TOutlineStrings ------------------------------------------------------------------------

std::string TOutlineStrings::Strings(int k) const {
    TOutlineNode* n = outline_.Items(k + 1);
    return std::string(static_cast<size_t>(n->Level() - 1), '\t') + n->Text();
}

int32_t TOutlineStrings::Objects(int k) const { return outline_.Items(k + 1)->Data; }

void TOutlineStrings::Insert(int k, const std::string& text) {
    outline_.Insert(k < outline_.ItemCount() ? k + 1 : 0, text);
}

} // namespace quindle
