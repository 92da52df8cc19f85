#include "color/ColorConv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using namespace quindle;

namespace {

ColorTriple ToHLS(double r, double g, double b) {
    ColorTriple hls{-7, -7, -7};
    RGB2HLS({r, g, b}, hls);
    return hls;
}

ColorTriple ToRGB(double h, double l, double s) {
    ColorTriple rgb{-7, -7, -7};
    HLS2RGB({h, l, s}, rgb);
    return rgb;
}

void ExpectTriple(const ColorTriple& got, double a, double b, double c, double tol = 1e-12) {
    EXPECT_NEAR(got[0], a, tol);
    EXPECT_NEAR(got[1], b, tol);
    EXPECT_NEAR(got[2], c, tol);
}

std::string ErrorOf(auto&& fn) {
    try {
        fn();
    } catch (const EColorConv& e) {
        return e.what();
    }
    return "(no error)";
}

} // namespace

TEST(ColorConv, RGB2HLSKnownColours) {
    ExpectTriple(ToHLS(1, 0, 0), 1, 0.5, 1); // pure red has hue 1, not 0
    ExpectTriple(ToHLS(0, 1, 1), 0.5, 0.5, 1);
    ExpectTriple(ToHLS(0.2, 0.4, 0.6), 7.0 / 12.0, 0.4, 0.5);
    ExpectTriple(ToHLS(0, 1, 0), 1.0 / 3.0, 0.5, 1);
    ExpectTriple(ToHLS(1, 0, 1), 5.0 / 6.0, 0.5, 1);
}

TEST(ColorConv, RGB2HLSGreysAndNearBlack) {
    ExpectTriple(ToHLS(0.5, 0.5, 0.5), 0, 0.5, 0);
    ExpectTriple(ToHLS(0.25, 0.25, 0.25), 0, 0.25, 0);
    ExpectTriple(ToHLS(0.75, 0.75, 0.75), 0, 0.75, 0);
    ExpectTriple(ToHLS(0, 0, 0), 0, 0, 0);
    ExpectTriple(ToHLS(1, 1, 1), 0, 1, 0);
    // So close to black that it counts as grey: luminance is the red input.
    ExpectTriple(ToHLS(1e-9, 0, 0), 0, 1e-9, 0, 1e-20);
    // A little further it is a fully saturated, very dark red.
    ExpectTriple(ToHLS(1e-7, 0, 0), 1, 5e-8, 1, 1e-12);
}

TEST(ColorConv, HLS2RGBKnownColours) {
    ExpectTriple(ToRGB(0.5, 0.25, 0.5), 0.125, 0.375, 0.375);
    ExpectTriple(ToRGB(1, 0.5, 1), 1, 0, 0);
    ExpectTriple(ToRGB(0, 0.5, 1), 1, 0, 0);
    ExpectTriple(ToRGB(0.25, 0.75, 1), 0.75, 1, 0.5);
    ExpectTriple(ToRGB(0.7, 0.3, 0), 0.3, 0.3, 0.3);
    ExpectTriple(ToRGB(0, 1, 1), 1, 1, 1);
}

TEST(ColorConv, RangeErrorsNameTheFirstBadComponentAndWriteNothing) {
    EXPECT_EQ(ErrorOf([] { ToHLS(1.5, 0, 0); }), "RGB2HLS: 0 <= Red value <= 1 required");
    EXPECT_EQ(ErrorOf([] { ToHLS(0, -0.01, 2); }), "RGB2HLS: 0 <= Green value <= 1 required");
    EXPECT_EQ(ErrorOf([] { ToHLS(0, 0, 1.0000001); }), "RGB2HLS: 0 <= Blue value <= 1 required");
    EXPECT_EQ(ErrorOf([] { ToRGB(0, -0.1, 0); }), "HLS2RGB: 0 <= Luminance value <= 1 required");
    EXPECT_EQ(ErrorOf([] { ToRGB(1.1, -0.1, 5); }), "HLS2RGB: 0 <= Hue value <= 1 required");
    EXPECT_EQ(ErrorOf([] { ToRGB(0.5, 0.5, -1); }), "HLS2RGB: 0 <= Saturation value <= 1 required");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(ErrorOf([&] { ToHLS(0.5, nan, 0.5); }), "RGB2HLS: 0 <= Green value <= 1 required");
    EXPECT_EQ(ErrorOf([&] { ToRGB(nan, 0.5, 0.5); }), "HLS2RGB: 0 <= Hue value <= 1 required");
    // The bounds themselves are valid.
    EXPECT_EQ(ErrorOf([] { ToHLS(0, 1, 0); }), "(no error)");

    ColorTriple out{0.1, 0.2, 0.3};
    EXPECT_THROW(RGB2HLS({0.5, 0.5, 1.5}, out), EColorConv);
    EXPECT_THROW(HLS2RGB({0.5, 1.5, 0.5}, out), EColorConv);
    ExpectTriple(out, 0.1, 0.2, 0.3);
}

TEST(ColorConv, RoundTripAndClosedFormOnAGrid) {
    const int steps = 20;
    int checked = 0;
    for (int ri = 0; ri <= steps; ++ri)
        for (int gi = 0; gi <= steps; ++gi)
            for (int bi = 0; bi <= steps; ++bi) {
                const double r = ri / double(steps), g = gi / double(steps), b = bi / double(steps);
                const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
                if (mx - mn < 1e-3) continue; // greys take the early exits
                const ColorTriple hls = ToHLS(r, g, b);

                const double l = (mx + mn) / 2;
                const double s = l <= 0.5 ? (mx - mn) / (mx + mn) : (mx - mn) / (2 - mx - mn);
                double h;
                if (mx == r) h = std::fmod((g - b) / (mx - mn) + 6.0, 6.0);
                else if (mx == g) h = (b - r) / (mx - mn) + 2;
                else h = (r - g) / (mx - mn) + 4;
                h /= 6;
                double dh = std::fabs(hls[0] - h);
                dh = std::min(dh, 1 - dh); // hue 1 and hue 0 are the same red
                ASSERT_LT(dh, 1e-6) << r << "," << g << "," << b;
                ASSERT_NEAR(hls[1], l, 1e-6) << r << "," << g << "," << b;
                ASSERT_NEAR(hls[2], s, 1e-6) << r << "," << g << "," << b;

                const ColorTriple back = ToRGB(hls[0], hls[1], hls[2]);
                ASSERT_NEAR(back[0], r, 1e-9) << r << "," << g << "," << b;
                ASSERT_NEAR(back[1], g, 1e-9) << r << "," << g << "," << b;
                ASSERT_NEAR(back[2], b, 1e-9) << r << "," << g << "," << b;
                ++checked;
            }
    EXPECT_GT(checked, 9000);
}

TEST(ColorConv, ShadeColorsWithTheButtonFactors) {
    struct Case {
        TColor in, hi, sh;
    } cases[] = {
        {RGBColor(192, 192, 192), RGBColor(223, 223, 223), RGBColor(115, 115, 115)},
        {RGBColor(212, 208, 200), RGBColor(233, 231, 227), RGBColor(139, 129, 108)},
        {RGBColor(0, 0, 0), RGBColor(127, 127, 127), RGBColor(0, 0, 0)},
        {RGBColor(255, 255, 255), RGBColor(255, 255, 255), RGBColor(153, 153, 153)},
    };
    for (const Case& c : cases) {
        TColor hi = 1, sh = 1;
        ShadeColors(c.in, hi, sh, 0.5f, 0.6f);
        EXPECT_EQ(hi, c.hi) << std::hex << c.in;
        EXPECT_EQ(sh, c.sh) << std::hex << c.in;
    }
}

TEST(ColorConv, ShadeColorsResolvesSystemColoursThroughTheCaller) {
    TColor asked = 0;
    auto resolver = [&](TColor c) -> TColor {
        asked = c;
        return RGBColor(192, 192, 192);
    };
    TColor hi = 0, sh = 0;
    ShadeColors(clBtnFace, hi, sh, 0.5f, 0.6f, resolver);
    EXPECT_EQ(asked, clBtnFace);
    EXPECT_EQ(hi, RGBColor(223, 223, 223));
    EXPECT_EQ(sh, RGBColor(115, 115, 115));

    // A saturated colour keeps its hue in the shadow; only the luminance drops.
    ShadeColors(RGBColor(0, 0, 255), hi, sh, 0.5f, 0.6f);
    EXPECT_EQ(hi, RGBColor(127, 127, 255));
    EXPECT_EQ(sh, RGBColor(0, 0, 153));

    // A factor above 1 pushes the luminance out of range: the conversion names it.
    EXPECT_EQ(ErrorOf([&] { ShadeColors(RGBColor(255, 255, 255), hi, sh, 0.5f, 1.5f); }),
              "HLS2RGB: 0 <= Luminance value <= 1 required");
}
