#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "browse/Outline.h"

using namespace quindle;

namespace {

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EOutlineError& e) {
        return e.what();
    }
    return "";
}

// Texts of the items in number order, each with its level's tabs.
std::vector<std::string> Listing(TCustomOutline& o) {
    std::vector<std::string> r;
    for (int k = 0; k < o.Lines().Count(); ++k) r.push_back(o.Lines().Strings(k));
    return r;
}

// P (P1, P2), Q, all collapsed.
void BuildPQ(TCustomOutline& o) {
    const int p = o.AddChild(0, "P");
    o.AddChild(p, "P1");
    o.AddChild(p, "P2");
    o.AddChild(0, "Q");
}

// Pre-order reference numbering and visible rows, computed the plain way.
void Reference(TOutlineNode* n, bool visible, std::vector<TOutlineNode*>& all, std::vector<TOutlineNode*>& rows) {
    for (size_t i = 0; i < n->ChildCount(); ++i) {
        TOutlineNode* c = n->Child(i);
        all.push_back(c);
        if (visible) rows.push_back(c);
        Reference(c, visible && c->Expanded(), all, rows);
    }
}

} // namespace

TEST(Outline, NumbersRunInPreOrderOverCollapsedBranches) {
    TCustomOutline o;
    BuildPQ(o);
    EXPECT_EQ(o.ItemCount(), 4);
    EXPECT_EQ(o.RowCount(), 2);
    EXPECT_EQ(Listing(o), (std::vector<std::string>{"P", "\tP1", "\tP2", "Q"}));
    EXPECT_EQ(o.Items(3)->Text(), "P2");
    EXPECT_EQ(o.Items(1)->LastIndex(), 3);
    EXPECT_EQ(o.Items(1)->FirstChildIndex(), 2);
    EXPECT_EQ(o.Items(1)->NextChildIndex(2), 3);
    EXPECT_EQ(o.Items(1)->NextChildIndex(3), -1);
    EXPECT_EQ(o.VisibleNode(1)->Text(), "Q");

    // two children added to item 1 of three childless top-level items
    TCustomOutline t;
    t.AddChild(0, "a");
    t.AddChild(0, "b");
    t.AddChild(0, "c");
    EXPECT_EQ(t.AddChild(1, "a1"), 2);
    EXPECT_EQ(t.AddChild(1, "a2"), 3);
    EXPECT_EQ(t.Items(4)->Text(), "b");
    EXPECT_EQ(t.Items(5)->Text(), "c");
    EXPECT_EQ(t.Items(1)->Text(), "a");
    // Insert goes before the item, Add after the item's last sibling
    EXPECT_EQ(t.Insert(3, "a1b"), 3);
    EXPECT_EQ(t.Add(2, "a3"), 5);
    EXPECT_EQ(Listing(t), (std::vector<std::string>{"a", "\ta1", "\ta1b", "\ta2", "\ta3", "b", "c"}));
    t.Items(2)->Data = 42;
    EXPECT_EQ(t.Lines().Objects(1), 42);
}

TEST(Outline, ErrorsCarryTheirMessagesAndLeaveTheTreeAlone) {
    TCustomOutline o;
    EXPECT_EQ(ErrorOf([&] { o.SetSelectedItem(0); }), "Invalid selection");
    BuildPQ(o);
    EXPECT_EQ(ErrorOf([&] { o.Items(0); }), "Invalid outline index");
    EXPECT_EQ(ErrorOf([&] { o.Items(5); }), "Outline index not found");
    EXPECT_EQ(ErrorOf([&] { o.Items(-1); }), "Outline index not found");
    EXPECT_EQ(ErrorOf([&] { o.AddChild(-1, "x"); }), "Invalid outline index");
    EXPECT_EQ(ErrorOf([&] { o.Delete(0); }), "Invalid outline index");
    EXPECT_EQ(ErrorOf([&] { o.Delete(9); }), "Outline index not found");
    EXPECT_EQ(ErrorOf([&] { o.SetSelectedItem(-2); }), "Invalid selection");
    EXPECT_EQ(ErrorOf([&] { o.SetCurrentItem(-1); }), "Invalid value for current item");
    EXPECT_EQ(ErrorOf([&] { o.Items(2)->Expand(); }), "Parent must be expanded");
    EXPECT_FALSE(o.Items(2)->Expanded());

    // an unknown parent goes to the error sink, the add returns 0, and the final
    // CurrentItem still reaches the caller
    std::vector<std::string> shown;
    o.OnApplicationError = [&](const std::string& m) { shown.push_back(m); };
    EXPECT_EQ(ErrorOf([&] { o.AddChild(7, "x"); }), "Outline index not found");
    EXPECT_EQ(shown, std::vector<std::string>{"Outline index not found"});
    EXPECT_EQ(o.ItemCount(), 4);
    EXPECT_EQ(o.Lines().Count(), 4);
}

TEST(Outline, DepthStopsAtLevel256) {
    TCustomOutline o;
    std::vector<std::string> shown;
    o.OnApplicationError = [&](const std::string& m) { shown.push_back(m); };
    int n = 0;
    for (int level = 1; level <= 256; ++level) n = o.AddChild(n, "d");
    EXPECT_EQ(n, 256);
    EXPECT_EQ(o.Items(256)->Level(), 256);
    EXPECT_EQ(o.AddChild(256, "too deep"), 0);
    EXPECT_EQ(shown, std::vector<std::string>{"Maximum outline depth exceeded"});
    EXPECT_EQ(o.ItemCount(), 256);
    // a sibling on level 256 is fine
    EXPECT_EQ(o.Add(256, "d2"), 257);
    EXPECT_EQ(o.Items(257)->Level(), 256);
}

TEST(Outline, ExpandCollapseHooksAndVisibleCounts) {
    TCustomOutline o;
    BuildPQ(o);
    o.AddChild(2, "P1a");
    std::vector<std::string> events;
    o.OnExpand = [&](TCustomOutline& s, int n) {
        // the hook runs before the item is marked expanded
        events.push_back("+" + std::to_string(n) + (s.Items(n)->Expanded() ? "!" : ""));
    };
    o.OnCollapse = [&](TCustomOutline& s, int n) {
        events.push_back("-" + std::to_string(n) + (s.Items(n)->Expanded() ? "!" : ""));
    };
    o.Items(1)->Expand();
    o.Items(1)->Expand(); // already expanded: nothing
    o.Items(2)->Expand();
    EXPECT_EQ(events, (std::vector<std::string>{"+1", "+2"}));
    EXPECT_EQ(o.Items(1)->VisibleCount(), 3);
    EXPECT_EQ(o.RowCount(), 5);

    o.Items(1)->Collapse();
    EXPECT_EQ(events.back(), "-1");
    EXPECT_EQ(events.size(), 3u); // descendants collapse without hooks
    EXPECT_FALSE(o.Items(2)->Expanded());
    EXPECT_EQ(o.RowCount(), 2);
    o.Items(1)->Expand();
    EXPECT_EQ(o.RowCount(), 4); // P, P1 (collapsed again), P2, Q
    EXPECT_EQ(o.VisibleNode(2)->Text(), "P2");

    // ExpandAll skips childless nodes, "*" of the keyboard does the same
    TCustomOutline t;
    BuildPQ(t);
    t.AddChild(2, "P1a");
    t.Items(1)->ExpandAll();
    EXPECT_TRUE(t.Items(2)->Expanded());
    EXPECT_FALSE(t.Items(3)->Expanded());
    EXPECT_EQ(t.RowCount(), 5);
}

TEST(Outline, SelectionAndClick) {
    TCustomOutline o;
    int clicks = 0;
    o.OnClick = [&](TCustomOutline&) { ++clicks; };
    BuildPQ(o);
    // selecting an item under a collapsed parent selects the parent
    o.SetSelectedItem(3);
    EXPECT_EQ(o.SelectedItem(), 1);
    EXPECT_EQ(clicks, 0); // row 0 did not move
    o.SetSelectedItem(4);
    EXPECT_EQ(o.Row(), 1);
    EXPECT_EQ(clicks, 1);
    o.SetSelectedItem(4);
    EXPECT_EQ(clicks, 1);

    // expanding above the selection moves its row (and so runs Click) once
    o.Items(1)->Expand();
    EXPECT_EQ(o.Row(), 3);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(o.SelectedItem(), 4);

    // collapsing the selected item's parent moves the selection to it
    o.SetSelectedItem(3);
    o.Items(1)->Collapse();
    EXPECT_EQ(o.SelectedItem(), 1);
    EXPECT_EQ(o.Row(), 0);

    // a mouse press re-derives the selection from the row
    o.MouseDown(1);
    EXPECT_EQ(o.SelectedItem(), 4);
    // double click toggles the selected node
    o.MouseDown(0);
    o.DblClick();
    EXPECT_TRUE(o.Items(1)->Expanded());
    o.DblClick();
    EXPECT_FALSE(o.Items(1)->Expanded());
}

TEST(Outline, KeysMoveAndToggle) {
    TCustomOutline o;
    int beeps = 0;
    o.Beep = [&] { ++beeps; };
    BuildPQ(o);
    o.AddChild(0, "R");
    o.SetSelectedItem(1);
    o.KeyDown(OutlineKey::Down);
    EXPECT_EQ(o.SelectedItem(), 4);
    o.KeyPress('+'); // Q has no children: marked expanded, nothing shows
    o.KeyDown(OutlineKey::Up);
    EXPECT_EQ(o.SelectedItem(), 1);
    o.KeyPress('+');
    EXPECT_EQ(o.RowCount(), 5);
    o.KeyDown(OutlineKey::Right);
    EXPECT_EQ(o.SelectedItem(), 2);
    o.KeyDown(OutlineKey::Down, ssCtrl);
    EXPECT_EQ(o.SelectedItem(), 3);
    o.KeyDown(OutlineKey::Down, ssCtrl);
    EXPECT_EQ(beeps, 1);
    o.KeyDown(OutlineKey::Left);
    EXPECT_EQ(o.SelectedItem(), 1);
    o.KeyDown(OutlineKey::Left);
    EXPECT_EQ(beeps, 2);
    o.KeyDown(OutlineKey::End);
    EXPECT_EQ(o.SelectedItem(), 5);
    EXPECT_EQ(o.Row(), 4);
    o.KeyDown(OutlineKey::Home);
    EXPECT_EQ(o.SelectedItem(), 1);
    o.KeyDown(OutlineKey::Enter);
    EXPECT_FALSE(o.Items(1)->Expanded());
    o.KeyPress('-');
    EXPECT_EQ(o.RowCount(), 3);
}

TEST(Outline, DeleteRenumbersAndCollapsesAnEmptiedParent) {
    TCustomOutline o;
    BuildPQ(o);
    o.Items(1)->Expand();
    int collapsed = 0;
    o.OnCollapse = [&](TCustomOutline&, int n) { collapsed = n; };
    o.SetSelectedItem(3);
    o.Delete(3);
    EXPECT_EQ(Listing(o), (std::vector<std::string>{"P", "\tP1", "Q"}));
    EXPECT_EQ(o.SelectedItem(), 2); // the row moved to the new last child
    o.Delete(2);
    EXPECT_EQ(collapsed, 1);
    EXPECT_FALSE(o.Items(1)->Expanded());
    EXPECT_EQ(o.RowCount(), 2);
    o.Delete(1);
    EXPECT_EQ(Listing(o), std::vector<std::string>{"Q"});
    EXPECT_EQ(o.SelectedItem(), 1);
    o.Lines().Clear();
    EXPECT_EQ(o.ItemCount(), 0);
    EXPECT_EQ(o.SelectedItem(), 0);
}

TEST(Outline, FullPathDoublesTheSeparatorAfterARootText) {
    TCustomOutline o;
    const int root = o.AddChild(0, "C:\\");
    const int a = o.AddChild(root, "A");
    const int b = o.AddChild(a, "B");
    EXPECT_EQ(o.Items(root)->FullPath(), "C:\\");
    EXPECT_EQ(o.Items(b)->FullPath(), "C:\\\\A\\B");
}

// Random edits against a plain pre-order reference: the lazily kept numbers, rows and
// counts must agree with it after every step.
TEST(Outline, LazyNumbersAndRowsMatchAPlainWalkUnderRandomEdits) {
    TCustomOutline o;
    o.OnApplicationError = [](const std::string&) {};
    std::mt19937 rng(7);
    for (int step = 0; step < 3000; ++step) {
        const int count = o.ItemCount();
        auto pick = [&] { return count ? static_cast<int>(rng() % count) + 1 : 0; };
        switch (rng() % 8) {
        case 0:
        case 1:
        case 2:
            o.AddChild(pick(), "n" + std::to_string(step));
            break;
        case 3:
            o.Insert(pick(), "i" + std::to_string(step));
            break;
        case 4:
            if (count > 10) o.Delete(pick());
            break;
        case 5:
            if (count) {
                TOutlineNode* n = o.Items(pick());
                if (n->IsVisible()) n->Expand();
            }
            break;
        case 6:
            if (count && rng() % 3 == 0) o.Items(pick())->Collapse();
            break;
        default:
            if (count) o.SetSelectedItem(pick());
            break;
        }
        std::vector<TOutlineNode*> all, rows;
        Reference(o.Root(), true, all, rows);
        ASSERT_EQ(o.ItemCount(), static_cast<int>(all.size()));
        ASSERT_EQ(o.Root()->VisibleCount(), static_cast<int>(rows.size()));
        if (step % 50 == 0 || step > 2900) {
            for (size_t i = 0; i < all.size(); ++i) {
                ASSERT_EQ(all[i]->Index(), static_cast<int>(i) + 1) << "step " << step;
                ASSERT_EQ(o.Items(static_cast<int>(i) + 1), all[i]);
            }
            for (size_t r = 0; r < rows.size(); ++r) {
                ASSERT_EQ(o.VisibleNode(static_cast<int>(r)), rows[r]) << "step " << step;
                ASSERT_EQ(o.RowOf(rows[r]), static_cast<int>(r));
            }
        } else if (!all.empty()) {
            const size_t i = rng() % all.size();
            ASSERT_EQ(o.Items(static_cast<int>(i) + 1), all[i]) << "step " << step;
        }
        if (!rows.empty()) {
            ASSERT_LT(o.Row(), static_cast<int>(rows.size()));
            const int sel = o.SelectedItem();
            ASSERT_TRUE(o.Items(sel)->IsVisible());
        }
    }
}

TEST(Outline, RowLayoutAndPictures) {
    TCustomOutline o;
    BuildPQ(o);
    o.Items(1)->Expand();
    OutlineRowLayout p = o.LayoutOfRow(0);
    EXPECT_EQ(p.picture, opOpen);
    EXPECT_EQ(p.indentColumns, 1); // ooDrawTreeRoot is on by default
    OutlineRowLayout p2 = o.LayoutOfRow(2);
    EXPECT_EQ(p2.level, 2);
    EXPECT_EQ(p2.isLast, (std::vector<bool>{false, true}));
    EXPECT_EQ(p2.picture, opLeaf);
    o.Items(1)->Collapse();
    EXPECT_EQ(o.LayoutOfRow(0).picture, opClosed);
    EXPECT_EQ(o.LayoutOfRow(1).isLast, std::vector<bool>{true});
    EXPECT_EQ(o.LayoutOfRow(5).node, nullptr);

    EXPECT_EQ(TCustomOutline::RowHeightForFont(8, 96), 13);
    EXPECT_EQ(TCustomOutline::RowHeightForFont(10, 96), 16);
}
