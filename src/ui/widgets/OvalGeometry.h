#pragma once
// The oval button's geometry as plain arithmetic, apart from any painting: the rim
// ellipses and the radials that split them, the arc sweep those radials give, and where
// glyph and caption go. Rectangles use right/bottom as exclusive edges, as the button's
// own figures do: the ellipse (0, 0, 72, 24) covers pixel columns 0..71.
#include <string_view>

namespace quindle {

enum TButtonLayout { blGlyphBottom, blGlyphLeft, blGlyphRight, blGlyphTop };

struct OvalRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const OvalRect&) const = default;
};

struct OvalPoint {
    int X = 0, Y = 0;
    bool operator==(const OvalPoint&) const = default;
};

// The button's outline: the ellipse bounded by (0, 0, W - 1, H - 1).
OvalRect OutlineEllipse(int W, int H);
// Rim arc i (1-based, one pixel further in for each): (i, i, W - i - 1, H - i - 1).
OvalRect RimEllipse(int W, int H, int i);
// The radial from the ellipse's centre through (4 * (W div 5), H div 5): where the
// upper-left half of the rim begins and the lower-right half ends.
OvalPoint UpperRightRadial(int W, int H);
// The radial through (W div 5, 4 * (H div 5)): where the upper-left half ends.
OvalPoint LowerLeftRadial(int W, int H);

// An arc of the ellipse in e, drawn counter-clockwise from the point where the radial
// through `from` meets the ellipse to where the radial through `to` meets it. Angles are
// in degrees, counter-clockwise from 3 o'clock (y grows downwards on screen), measured
// as the ellipse's parameter angle, so that a painter scaling a circle into e lands on
// the radials. Span is in (0, 360].
struct ArcSweep {
    double StartDeg = 0, SpanDeg = 0;
};
ArcSweep RadialArc(const OvalRect& e, OvalPoint from, OvalPoint to);

// Integer halving toward zero; negative when the content is larger than the button,
// so that the content stays centred and both ends are cut off.
constexpr int Half(int x) { return x / 2; }

// Where DrawFace puts glyph and caption.
struct FaceInput {
    int W = 0, H = 0;          // button size
    bool HasGlyph = false;     // glyph bitmap present and NumGlyphs > 0
    int GlyphW = 0, GlyphH = 0; // one image of the glyph
    bool HasCaption = false;
    int TextW = 0, TextH = 0;  // caption extent, "&" marks included
    TButtonLayout Layout = blGlyphBottom;
    int Margin = 0, Spacing = 4;
    bool Sunken = false;
};
struct FaceLayout {
    OvalRect Glyph;       // destination of the glyph image (valid when HasGlyph)
    OvalPoint Caption;    // top-left of the caption (valid when HasCaption)
};
FaceLayout ComputeFaceLayout(const FaceInput& in);

// The first "&" of the caption, when it is not the last character, marks the next one
// as the accelerator; 0 when there is none. Only the first "&" counts.
char AccelCharOf(std::string_view caption);
// True when Char is the caption's accelerator, letters compared in upper case.
bool IsAccelChar(char Char, std::string_view Caption);

} // namespace quindle
