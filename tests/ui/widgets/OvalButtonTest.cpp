#include "ui/widgets/OvalButton.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

using namespace quindle;

namespace {

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
void Press(QWidget* w, QPoint p) { SendMouse(w, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton); }
void Release(QWidget* w, QPoint p) { SendMouse(w, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton); }
void Move(QWidget* w, QPoint p, bool held) {
    SendMouse(w, QEvent::MouseMove, p, Qt::NoButton, held ? Qt::LeftButton : Qt::NoButton);
}
void Leave(QWidget* w) {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(w, &e);
}

QImage Render(QWidget& w) {
    QImage img(w.size(), QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    w.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

QRgb Rgb(TColor c) { return qRgb(int(RedOf(c)), int(GreenOf(c)), int(BlueOf(c))); }

// Records OnClick, OnMouseDown and OnMouseUp in the order they fire.
struct Recorder {
    std::vector<std::string> log;
    void Attach(TOvalButton& b) {
        b.OnClick = [this](QObject*) { log.push_back("click"); };
        b.OnMouseDown = [this](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { log.push_back("down"); };
        b.OnMouseUp = [this](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { log.push_back("up"); };
    }
    int Count(const std::string& what) const { return int(std::count(log.begin(), log.end(), what)); }
};

// The point where the arc drawn from an angle meets the ellipse lies on the radial.
void ExpectOnRadial(const OvalRect& e, double deg, OvalPoint through) {
    const double cx = (e.Left + e.Right) / 2.0, cy = (e.Top + e.Bottom) / 2.0;
    const double a = e.Width() / 2.0, b = e.Height() / 2.0, t = deg * std::numbers::pi / 180;
    const double px = a * std::cos(t), py = -b * std::sin(t); // screen offsets from the centre
    const double rx = through.X - cx, ry = through.Y - cy;
    EXPECT_NEAR(px * ry - py * rx, 0.0, 1e-9) << "not on the radial through " << through.X << "," << through.Y;
    EXPECT_GT(px * rx + py * ry, 0.0) << "on the opposite side";
}

} // namespace

TEST(OvalGeometry, RimEllipsesAndRadialsOfA73By25Button) {
    EXPECT_EQ(OutlineEllipse(73, 25), (OvalRect{0, 0, 72, 24}));
    EXPECT_EQ(RimEllipse(73, 25, 1), (OvalRect{1, 1, 71, 23}));
    EXPECT_EQ(RimEllipse(73, 25, 2), (OvalRect{2, 2, 70, 22}));
    EXPECT_EQ(UpperRightRadial(73, 25), (OvalPoint{56, 5}));
    EXPECT_EQ(LowerLeftRadial(73, 25), (OvalPoint{14, 20}));

    for (int i = 1; i <= 2; ++i) {
        const OvalRect e = RimEllipse(73, 25, i);
        const ArcSweep upper = RadialArc(e, {56, 5}, {14, 20});
        const ArcSweep lower = RadialArc(e, {14, 20}, {56, 5});
        ExpectOnRadial(e, upper.StartDeg, {56, 5});
        ExpectOnRadial(e, upper.StartDeg + upper.SpanDeg, {14, 20});
        ExpectOnRadial(e, lower.StartDeg, {14, 20});
        ExpectOnRadial(e, lower.StartDeg + lower.SpanDeg, {56, 5});
        // The upper-left half runs through the top (90) and the left (180) ...
        EXPECT_LT(upper.StartDeg, 90.0);
        EXPECT_GT(upper.StartDeg + upper.SpanDeg, 180.0);
        EXPECT_LT(upper.StartDeg + upper.SpanDeg, 270.0);
        // ... and the two halves make the whole ellipse.
        EXPECT_NEAR(upper.SpanDeg + lower.SpanDeg, 360.0, 1e-9);
    }
}

TEST(OvalGeometry, GlyphAndCaptionPlaces) {
    FaceInput in;
    in.W = 73;
    in.H = 25;
    in.HasGlyph = true;
    in.GlyphW = 16; // one image of a 32 x 16 glyph holding two
    in.GlyphH = 16;
    in.HasCaption = true;
    in.TextW = 20;
    in.TextH = 13;
    in.Layout = blGlyphLeft;
    in.Spacing = 4;
    in.Margin = 0;
    FaceLayout at = ComputeFaceLayout(in);
    EXPECT_EQ(at.Glyph, (OvalRect{16, 4, 32, 20}));
    EXPECT_EQ(at.Caption, (OvalPoint{36, 6}));
    in.Sunken = true;
    at = ComputeFaceLayout(in);
    EXPECT_EQ(at.Glyph, (OvalRect{17, 5, 33, 21}));
    EXPECT_EQ(at.Caption, (OvalPoint{38, 7}));

    // Glyph on the right, pushed outward by the margin; caption before it.
    in.Sunken = false;
    in.Layout = blGlyphRight;
    in.Margin = 3;
    at = ComputeFaceLayout(in);
    EXPECT_EQ(at.Glyph.Left, (20 + 4 + 16 + 73) / 2 - 16 + 3);
    EXPECT_EQ(at.Caption.X, at.Glyph.Left - 20 - 4);
    EXPECT_EQ(at.Caption.Y, 6);

    // Glyph below the caption, the two centred as a group.
    in.W = 60;
    in.H = 50;
    in.Layout = blGlyphBottom;
    in.Margin = 0;
    at = ComputeFaceLayout(in);
    EXPECT_EQ(at.Glyph, (OvalRect{22, 25, 38, 41}));
    EXPECT_EQ(at.Caption.Y, 25 - 13 - 4);
    EXPECT_EQ(at.Caption.X, 20);
    in.Layout = blGlyphTop;
    at = ComputeFaceLayout(in);
    EXPECT_EQ(at.Glyph.Top, (50 - (13 + 16 + 4)) / 2);
    EXPECT_EQ(at.Caption.Y, at.Glyph.Top + 16 + 4);

    // No caption: the glyph alone is centred whatever the layout.
    in.HasCaption = false;
    at = ComputeFaceLayout(in);
    EXPECT_EQ(at.Glyph, (OvalRect{22, 17, 38, 33}));

    // A caption wider than the button is centred and cut off at both ends.
    FaceInput wide;
    wide.W = 73;
    wide.H = 25;
    wide.HasCaption = true;
    wide.TextW = 100;
    wide.TextH = 13;
    at = ComputeFaceLayout(wide);
    EXPECT_EQ(at.Caption.X, -13);
    EXPECT_EQ(at.Caption.X + wide.TextW - wide.W, 14);
}

TEST(OvalGeometry, AcceleratorCharacter) {
    EXPECT_TRUE(IsAccelChar('s', "&Search"));
    EXPECT_TRUE(IsAccelChar('S', "&search"));
    EXPECT_FALSE(IsAccelChar('e', "&Search"));
    EXPECT_TRUE(IsAccelChar('a', "Se&arch"));
    EXPECT_FALSE(IsAccelChar('b', "&a&b")); // only the first "&" counts
    EXPECT_TRUE(IsAccelChar('&', "A&&B"));
    EXPECT_FALSE(IsAccelChar('p', "Stop&"));
    EXPECT_FALSE(IsAccelChar('s', "Stop"));
    EXPECT_FALSE(IsAccelChar('\0', ""));
    // Only ASCII letters fold.
    EXPECT_FALSE(IsAccelChar('\xc9', "&\xe9t\xe9"));
    EXPECT_TRUE(IsAccelChar('\xe9', "&\xe9t\xe9"));
}

TEST(OvalButton, DefaultsAndRimShades) {
    TOvalButton b;
    EXPECT_EQ(b.width(), 100);
    EXPECT_EQ(b.height(), 50);
    EXPECT_EQ(b.focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(b.hasMouseTracking());
    EXPECT_EQ(b.BevelState(), 1);
    EXPECT_EQ(b.Color(), clBtnFace);
    EXPECT_EQ(b.Layout(), blGlyphBottom);
    EXPECT_EQ(b.Spacing(), 4);
    b.SetColor(RGBColor(192, 192, 192));
    EXPECT_EQ(b.HighlightColor(), RGBColor(223, 223, 223));
    EXPECT_EQ(b.ShadowColor(), RGBColor(115, 115, 115));
}

TEST(OvalButton, PaintsRimFaceAndNothingOutsideTheEllipse) {
    TOvalButton b;
    b.resize(73, 25);
    b.SetBevelWidth(2);
    b.SetColor(RGBColor(192, 192, 192));
    const QRgb hi = Rgb(b.HighlightColor()), sh = Rgb(b.ShadowColor()), face = qRgb(192, 192, 192);

    QImage img = Render(b);
    // Corners of the rectangle stay untouched.
    for (QPoint c : {QPoint(0, 0), QPoint(72, 0), QPoint(0, 24), QPoint(72, 24), QPoint(3, 2)})
        EXPECT_EQ(qAlpha(img.pixel(c)), 0) << c.x() << "," << c.y();
    // Outline, then two rim pixels: light at the top and left, dark at bottom and right.
    EXPECT_EQ(img.pixel(36, 0), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(36, 1), hi);
    EXPECT_EQ(img.pixel(36, 2), hi);
    EXPECT_EQ(img.pixel(0, 12), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(1, 12), hi);
    EXPECT_EQ(img.pixel(36, 23), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(36, 22), sh);
    EXPECT_EQ(img.pixel(30, 21), sh);
    EXPECT_EQ(img.pixel(71, 12), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(70, 12), sh);
    EXPECT_EQ(img.pixel(36, 12), face);
    EXPECT_EQ(img.pixel(36, 3), face);

    b.SetDown(true); // sunken: the shades swap
    img = Render(b);
    EXPECT_EQ(img.pixel(36, 1), sh);
    EXPECT_EQ(img.pixel(1, 12), sh);
    EXPECT_EQ(img.pixel(36, 22), hi);
    EXPECT_EQ(img.pixel(70, 12), hi);

    // Transparent: rim and outline, but the face lets the parent through.
    b.SetDown(false);
    b.SetTransparent(true);
    img = Render(b);
    EXPECT_EQ(qAlpha(img.pixel(36, 12)), 0);
    EXPECT_EQ(img.pixel(36, 1), hi);

    // Flat at rest: no outline and no rim, only the face.
    b.SetTransparent(false);
    b.SetFlat(true);
    img = Render(b);
    EXPECT_EQ(img.pixel(36, 1), face);
    EXPECT_EQ(img.pixel(36, 22), face);
    EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);
}

TEST(OvalButton, HitTestIgnoresTheCornersOfTheRectangle) {
    TOvalButton b;
    b.resize(73, 25);
    Recorder r;
    r.Attach(b);
    EXPECT_TRUE(b.PtInOval(36, 12));
    EXPECT_TRUE(b.PtInOval(36, 1));
    EXPECT_TRUE(b.PtInOval(2, 12));
    for (QPoint c : {QPoint(0, 0), QPoint(72, 0), QPoint(0, 24), QPoint(72, 24), QPoint(5, 2), QPoint(68, 22)}) {
        EXPECT_FALSE(b.PtInOval(c.x(), c.y())) << c.x() << "," << c.y();
        Move(&b, c, false);
        Press(&b, c);
        EXPECT_EQ(b.BevelState(), 1);
        EXPECT_FALSE(b.Down());
        Release(&b, c);
    }
    EXPECT_TRUE(r.log.empty());
}

TEST(OvalButton, DragOutRaisesDragBackSinksReleaseOutsideDoesNothing) {
    TOvalButton b;
    b.resize(73, 25);
    Recorder r;
    r.Attach(b);
    const QPoint in(36, 12), outside(2, 1), far(200, 100);

    Move(&b, in, false);
    Press(&b, in);
    EXPECT_EQ(b.BevelState(), -1);
    EXPECT_TRUE(b.Down());
    Move(&b, outside, true);
    EXPECT_EQ(b.BevelState(), 1);
    EXPECT_FALSE(b.Down());
    Release(&b, outside); // inside the rectangle, outside the ellipse
    EXPECT_EQ(b.BevelState(), 1);
    EXPECT_EQ(r.log, (std::vector<std::string>{"down"}));

    r.log.clear();
    Press(&b, in);
    Move(&b, far, true);
    Release(&b, far);
    EXPECT_EQ(r.log, (std::vector<std::string>{"down"}));
    EXPECT_FALSE(b.Down());

    r.log.clear();
    Press(&b, in);
    Move(&b, outside, true);
    Move(&b, QPoint(30, 10), true);
    EXPECT_EQ(b.BevelState(), -1);
    EXPECT_TRUE(b.Down());
    Release(&b, QPoint(30, 10));
    // The click comes first, while the button is still sunken, then the release.
    EXPECT_EQ(r.log, (std::vector<std::string>{"down", "click", "up"}));
    EXPECT_EQ(b.BevelState(), 1);
    EXPECT_FALSE(b.Down());
}

TEST(OvalButton, PressWithoutPriorMoveStillClicks) {
    TOvalButton b;
    b.resize(73, 25);
    Recorder r;
    r.Attach(b);
    int signalled = 0;
    QObject::connect(&b, &TOvalButton::clicked, [&] { ++signalled; });
    Press(&b, QPoint(36, 12)); // no move before: the window appeared under the pointer
    Release(&b, QPoint(36, 12));
    EXPECT_EQ(r.log, (std::vector<std::string>{"down", "click", "up"}));
    EXPECT_EQ(signalled, 1);

    // Such a press dragged out rises like any other.
    Leave(&b);
    Press(&b, QPoint(36, 12));
    Move(&b, QPoint(1, 1), true);
    EXPECT_EQ(b.BevelState(), 1);
    EXPECT_FALSE(b.Down());

    // A right-button press and release does not click.
    r.log.clear();
    SendMouse(&b, QEvent::MouseButtonPress, QPoint(36, 12), Qt::RightButton, Qt::RightButton);
    SendMouse(&b, QEvent::MouseButtonRelease, QPoint(36, 12), Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(r.Count("click"), 0);
    EXPECT_EQ(r.Count("up"), 1);
}

TEST(OvalButton, ToggleButtonCycles) {
    TOvalButton b;
    b.resize(73, 25);
    b.SetGroupIndex(1);
    Recorder r;
    r.Attach(b);
    const QPoint in(36, 12);

    Press(&b, in);
    Release(&b, in);
    EXPECT_TRUE(b.Down());
    EXPECT_EQ(b.BevelState(), -1);
    Press(&b, in);
    EXPECT_TRUE(b.Down());
    Release(&b, in);
    EXPECT_FALSE(b.Down());
    EXPECT_EQ(b.BevelState(), 1);
    EXPECT_EQ(r.Count("click"), 2);

    // Released outside: it stays down, no click.
    r.log.clear();
    Press(&b, in);
    Move(&b, QPoint(300, 5), true);
    EXPECT_TRUE(b.Down()); // dragging does not change a toggle button
    Release(&b, QPoint(300, 5));
    EXPECT_TRUE(b.Down());
    EXPECT_EQ(r.Count("click"), 0);

    // Dragged out and back in: Down still flips on the release, but no click.
    Press(&b, in);
    Move(&b, QPoint(1, 1), true);
    Move(&b, in, true);
    Release(&b, in);
    EXPECT_FALSE(b.Down());
    EXPECT_EQ(r.Count("click"), 0);
    EXPECT_EQ(r.Count("up"), 1);
}

TEST(OvalButton, DisabledLooksGreyShowsImageOneAndIgnoresPresses) {
    // Three 8 x 8 images: red (normal), green (disabled), blue (pressed); the bottom-left
    // pixel in magenta marks the transparent colour.
    QImage glyph(24, 8, QImage::Format_RGB32);
    for (int x = 0; x < 24; ++x)
        for (int y = 0; y < 8; ++y) glyph.setPixel(x, y, x < 8 ? qRgb(255, 0, 0) : x < 16 ? qRgb(0, 255, 0) : qRgb(0, 0, 255));
    glyph.setPixel(0, 7, qRgb(255, 0, 255));

    TOvalButton b;
    b.SetColor(RGBColor(200, 200, 200));
    b.SetGlyph(glyph);
    EXPECT_EQ(b.TransparentColor(), RGBColor(255, 0, 255));
    b.SetNumGlyphs(3);
    // No caption: the 8 x 8 image is centred in 100 x 50 at (46, 21).
    QImage img = Render(b);
    EXPECT_EQ(img.pixel(50, 25), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(46, 28), qRgb(200, 200, 200)); // transparent pixel painted with the face
    b.setEnabled(false);
    img = Render(b);
    EXPECT_EQ(img.pixel(50, 25), qRgb(0, 255, 0));
    b.SetDown(true); // the pressed image wins over the disabled one
    img = Render(b);
    EXPECT_EQ(img.pixel(51, 26), qRgb(0, 0, 255));
    EXPECT_EQ(img.pixel(46, 21), qRgb(200, 200, 200)); // the column and row it left
    b.SetDown(false);

    Recorder r;
    r.Attach(b);
    Press(&b, QPoint(50, 25));
    EXPECT_EQ(b.BevelState(), 1);
    EXPECT_FALSE(b.Down());
    Release(&b, QPoint(50, 25));
    EXPECT_TRUE(r.log.empty());

    // The caption turns from window text to grey text.
    TOvalButton t;
    t.SetCaption(QStringLiteral("WWWW"));
    const QRgb face = Rgb(ResolveSysColor(clBtnFace));
    auto darkest = [&](const QImage& im) {
        int best = 255;
        for (int y = 12; y < 38; ++y)
            for (int x = 15; x < 85; ++x)
                if (im.pixel(x, y) != face) best = std::min(best, qGray(im.pixel(x, y)));
        return best;
    };
    EXPECT_LT(darkest(Render(t)), 60);
    t.setEnabled(false);
    const int grey = qGray(Rgb(ResolveSysColor(clGrayText)));
    const int disabledDarkest = darkest(Render(t));
    EXPECT_GE(disabledDarkest, grey - 10);
    EXPECT_LT(disabledDarkest, qGray(face)); // something was drawn
}

TEST(OvalButton, FlatButtonFollowsThePointer) {
    TOvalButton b;
    b.resize(73, 25);
    b.SetFlat(true);
    EXPECT_EQ(b.BevelState(), 0);
    Move(&b, QPoint(36, 12), false);
    EXPECT_EQ(b.BevelState(), 1);
    Move(&b, QPoint(1, 1), false); // out of the ellipse, still in the rectangle
    EXPECT_EQ(b.BevelState(), 0);
    Move(&b, QPoint(36, 12), false);
    Leave(&b);
    EXPECT_EQ(b.BevelState(), 0);
    EXPECT_FALSE(b.MouseInside());

    // Flat and Down are separate: Flat sets the rim state, Down keeps its value.
    b.SetDown(true);
    EXPECT_EQ(b.BevelState(), -1);
    b.SetFlat(false);
    EXPECT_TRUE(b.Down());
    EXPECT_EQ(b.BevelState(), 1);
    b.SetFlat(true);
    EXPECT_TRUE(b.Down());
    EXPECT_EQ(b.BevelState(), 0);
    // A flat button that is down does not follow the pointer.
    Move(&b, QPoint(36, 12), false);
    EXPECT_EQ(b.BevelState(), 0);
    b.SetDown(false);
    EXPECT_EQ(b.BevelState(), 0);
}

TEST(OvalButton, SettersRepaintOnlyOnChange) {
    QWidget window;
    window.resize(200, 100);
    auto* b = new TOvalButton(&window);
    b->SetCaption(QStringLiteral("Go"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    b->installEventFilter(&counter);
    auto paintsAfter = [&](auto&& change) {
        QApplication::processEvents();
        counter.paints = 0;
        change();
        QApplication::processEvents();
        return counter.paints;
    };
    EXPECT_GT(paintsAfter([&] { b->SetColor(RGBColor(10, 20, 30)); }), 0);
    EXPECT_EQ(paintsAfter([&] { b->SetColor(RGBColor(10, 20, 30)); }), 0);
    EXPECT_GT(paintsAfter([&] { b->SetBevelWidth(3); }), 0);
    EXPECT_EQ(paintsAfter([&] { b->SetBevelWidth(3); }), 0);
    EXPECT_GT(paintsAfter([&] { b->SetCaption(QStringLiteral("Stop")); }), 0);
    EXPECT_EQ(paintsAfter([&] { b->SetCaption(QStringLiteral("Stop")); }), 0);
    EXPECT_GT(paintsAfter([&] { b->SetFlat(true); }), 0);
    EXPECT_EQ(paintsAfter([&] { b->SetFlat(true); }), 0);
    EXPECT_EQ(paintsAfter([&] { b->SetDown(false); }), 0);
    EXPECT_EQ(paintsAfter([&] { b->SetLayout(blGlyphBottom); }), 0);
    EXPECT_EQ(paintsAfter([&] { b->SetSpacing(4); }), 0);
    EXPECT_EQ(paintsAfter([&] { b->SetGroupIndex(5); }), 0);
    EXPECT_GT(paintsAfter([&] { b->SetMargin(2); }), 0);
    EXPECT_GT(paintsAfter([&] { b->setEnabled(false); }), 0);
}

TEST(OvalButton, AcceleratorClicksFromTheKeyboardWithThePointerElsewhere) {
    QWidget window;
    window.resize(300, 100);
    auto* go = new TOvalButton(&window);
    go->SetCaption(QStringLiteral("&Go"));
    auto* other = new TOvalButton(&window);
    other->move(150, 0);
    other->SetCaption(QStringLiteral("Sto&p"));
    int goClicks = 0, otherClicks = 0;
    go->OnClick = [&](QObject* sender) {
        EXPECT_EQ(sender, go);
        ++goClicks;
    };
    other->OnClick = [&](QObject*) { ++otherClicks; };
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    EXPECT_FALSE(go->MouseInside());
    QTest::keyClick(&window, Qt::Key_G, Qt::AltModifier);
    EXPECT_EQ(goClicks, 1);
    EXPECT_EQ(otherClicks, 0);
    QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
    EXPECT_EQ(otherClicks, 1);

    // The caption's new letter replaces the old one.
    go->SetCaption(QStringLiteral("&Run"));
    QTest::keyClick(&window, Qt::Key_G, Qt::AltModifier);
    QTest::keyClick(&window, Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(goClicks, 2);

    // A disabled button answers its character without clicking.
    go->setEnabled(false);
    QTest::keyClick(&window, Qt::Key_R, Qt::AltModifier);
    EXPECT_TRUE(go->AccelChar('r'));
    EXPECT_EQ(goClicks, 2);
    EXPECT_FALSE(go->AccelChar('x'));
    go->setEnabled(true);
    EXPECT_TRUE(go->AccelChar('R'));
    EXPECT_EQ(goClicks, 3);
}
