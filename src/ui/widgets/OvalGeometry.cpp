#include "ui/widgets/OvalGeometry.h"

#include <cmath>
#include <numbers>

#include "platform/CodePage.h"

namespace quindle {

OvalRect OutlineEllipse(int W, int H) { return {0, 0, W - 1, H - 1}; }

OvalRect RimEllipse(int W, int H, int i) { return {i, i, W - i - 1, H - i - 1}; }

OvalPoint UpperRightRadial(int W, int H) { return {4 * (W / 5), H / 5}; }

OvalPoint LowerLeftRadial(int W, int H) { return {W / 5, 4 * (H / 5)}; }

namespace {

// Parameter angle, in degrees 0..360, of the point where the radial from the centre
// of e through p meets the ellipse. A point on the centre gives 0.
double RadialAngle(const OvalRect& e, OvalPoint p) {
    const double cx = (e.Left + e.Right) / 2.0, cy = (e.Top + e.Bottom) / 2.0;
    const double a = std::max(e.Width() / 2.0, 0.5), b = std::max(e.Height() / 2.0, 0.5);
    const double dx = p.X - cx, dy = cy - p.Y; // screen y runs down, angles run up
    if (dx == 0 && dy == 0) return 0;
    double deg = std::atan2(dy / b, dx / a) * 180.0 / std::numbers::pi;
    if (deg < 0) deg += 360.0;
    return deg;
}

} // namespace

ArcSweep RadialArc(const OvalRect& e, OvalPoint from, OvalPoint to) {
    const double start = RadialAngle(e, from), end = RadialAngle(e, to);
    double span = end - start;
    if (span <= 0) span += 360.0;
    return {start, span};
}

FaceLayout ComputeFaceLayout(const FaceInput& in) {
    FaceLayout out;
    const int gw = in.GlyphW, gh = in.GlyphH, tw = in.TextW, th = in.TextH;
    OvalRect dst;
    if (in.HasGlyph) {
        if (!in.HasCaption || in.Layout == blGlyphTop || in.Layout == blGlyphBottom)
            dst.Left = Half(in.W - gw);
        else if (in.Layout == blGlyphLeft)
            dst.Left = Half(in.W - (tw + in.Spacing + gw)) - in.Margin;
        else
            dst.Left = Half(tw + in.Spacing + gw + in.W) - gw + in.Margin;
        dst.Right = dst.Left + gw;

        if (!in.HasCaption || in.Layout == blGlyphLeft || in.Layout == blGlyphRight)
            dst.Top = Half(in.H - gh);
        else if (in.Layout == blGlyphTop)
            dst.Top = Half(in.H - (th + gh + in.Spacing)) - in.Margin;
        else
            dst.Top = Half(th + gh + in.Spacing + in.H) - gh + in.Margin;
        dst.Bottom = dst.Top + gh;

        if (in.Sunken) dst = {dst.Left + 1, dst.Top + 1, dst.Right + 1, dst.Bottom + 1};
        out.Glyph = dst;
    }
    if (in.HasCaption) {
        int x = Half(in.W - tw), y = Half(in.H - th);
        if (in.HasGlyph) {
            if (in.Layout == blGlyphRight) x = dst.Left - tw - in.Spacing;
            else if (in.Layout == blGlyphLeft) x = dst.Left + gw + in.Spacing;
            if (in.Layout == blGlyphTop) y = dst.Top + gh + in.Spacing;
            else if (in.Layout == blGlyphBottom) y = dst.Top - th - in.Spacing;
        }
        if (in.Sunken) {
            ++x;
            ++y;
        }
        out.Caption = {x, y};
    }
    return out;
}

char AccelCharOf(std::string_view caption) {
    const size_t amp = caption.find('&');
    if (amp == std::string_view::npos || amp + 1 >= caption.size()) return 0;
    return caption[amp + 1];
}

bool IsAccelChar(char Char, std::string_view Caption) {
    const char accel = AccelCharOf(Caption);
    if (accel == 0) return false;
    return UpperByte(static_cast<unsigned char>(accel)) == UpperByte(static_cast<unsigned char>(Char));
}

} // namespace quindle
