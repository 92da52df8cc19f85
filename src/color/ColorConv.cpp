#include "color/ColorConv.h"

#include <cmath>
#include <string>

namespace quindle {

namespace {

const char* const RGBNames[3] = {"Red", "Green", "Blue"};
const char* const HLSNames[3] = {"Hue", "Luminance", "Saturation"};

// Corners of the hue hexagon in the cube -1..1 (mid grey at the origin), in hue order.
const double HueCorners[6][3] = {
    {+1, -1, -1}, // red
    {+1, +1, -1}, // yellow
    {-1, +1, -1}, // green
    {-1, +1, +1}, // cyan
    {-1, -1, +1}, // blue
    {+1, -1, +1}, // magenta
};

constexpr double Eps = 1e-8;
enum { R = 0, G = 1, B = 2 };

// The first component not in 0..1 (NaN included) raises the error naming it.
void CheckRange(const ColorTriple& v, const char* fmt, const char* const names[3]) {
    for (int i = 0; i < 3; ++i) {
        if (!(v[i] >= 0.0) || v[i] > 1.0) {
            std::string msg(fmt);
            msg.replace(msg.find("%s"), 2, names[i]);
            throw EColorConv(msg);
        }
    }
}

double Clamp01(double v) {
    if (!(v >= 0.0)) return 0.0;
    if (v > 1.0) return 1.0;
    return v;
}

// The pairs the saturation and luminance are solved from, in the order they are tried.
const int Pairs[3][2] = {{R, G}, {G, B}, {R, B}};

int NearestByte(double v) { return static_cast<int>(std::nearbyint(v)); }

} // namespace

TColor DefaultSysColor(TColor c) {
    if (!IsSystemColor(c)) return c & 0xFFFFFFu;
    switch (c) {
    case clWindowText: return RGBColor(0, 0, 0);
    case clWindow: return RGBColor(255, 255, 255);
    case clBtnFace: return RGBColor(192, 192, 192);
    case clBtnShadow: return RGBColor(128, 128, 128);
    case clGrayText: return RGBColor(128, 128, 128);
    case clBtnText: return RGBColor(0, 0, 0);
    case clBtnHighlight: return RGBColor(255, 255, 255);
    default: return RGBColor(0, 0, 0);
    }
}

void RGB2HLS(const ColorTriple& RGB, ColorTriple& HLS) {
    CheckRange(RGB, "RGB2HLS: 0 <= %s value <= 1 required", RGBNames);

    double c[3], p[3];
    for (int i = 0; i < 3; ++i) c[i] = 2.0 * RGB[i] - 1.0;

    // Largest distance from mid grey and the first component that reaches it.
    double m = 0.0;
    int k = R;
    for (int i = 0; i < 3; ++i) {
        if (std::fabs(c[i]) > m) {
            m = std::fabs(c[i]);
            k = i;
        }
    }
    if (m < Eps) {
        HLS = {0.0, 0.5, 0.0};
        return;
    }
    for (int i = 0; i < 3; ++i) p[i] = c[i] / m;

    const bool light = c[k] > 0.0;

    // From the apex (white or black corner) out onto the hexagon of full saturation.
    double m2 = 0.0;
    for (int i = 0; i < 3; ++i) {
        const double d = light ? 1.0 - p[i] : p[i] + 1.0;
        if (d > m2) m2 = d;
    }
    if (m2 < Eps) {
        HLS = {0.0, RGB[R], 0.0};
        return;
    }
    for (int i = 0; i < 3; ++i) p[i] = light ? (p[i] - 1.0) * 2.0 / m2 + 1.0 : (p[i] + 1.0) * 2.0 / m2 - 1.0;

    // The smallest component; on the dark side it is still the k found above.
    if (light) {
        double mn = 1.0;
        for (int i = 0; i < 3; ++i) {
            if (p[i] < mn) {
                mn = p[i];
                k = i;
            }
        }
    }

    double h;
    switch (k) {
    case R: h = p[G] > p[B] ? 2.0 + (p[B] + 1.0) / 2.0 : 4.0 - (p[G] + 1.0) / 2.0; break;
    case G: h = p[B] > p[R] ? 4.0 + (p[R] + 1.0) / 2.0 : 6.0 - (p[B] + 1.0) / 2.0; break;
    default: h = p[R] > p[G] ? (p[G] + 1.0) / 2.0 : 2.0 - (p[R] + 1.0) / 2.0; break;
    }
    const double hue = h / 6.0;

    // c lies on the segment from the apex through s * p; solve s and the apex distance.
    double s = 0.0;
    for (const auto& pr : Pairs) {
        const int i = pr[0], j = pr[1];
        if (std::fabs(c[j] - c[i]) > Eps) {
            s = light ? (c[j] - c[i]) / ((c[j] - 1.0) * p[i] - (c[i] - 1.0) * p[j])
                      : (c[j] - c[i]) / ((c[i] + 1.0) * p[j] - (c[j] + 1.0) * p[i]);
            break;
        }
    }

    double lum = 0.0;
    bool solved = false;
    for (const auto& pr : Pairs) {
        const int i = pr[0], j = pr[1];
        if (std::fabs(p[j] - p[i]) > Eps) {
            if (light) {
                const double e = ((c[i] - 1.0) * p[j] - (c[j] - 1.0) * p[i]) / (p[j] - p[i]);
                lum = e * 0.5 + 1.0;
            } else {
                const double d = ((c[i] + 1.0) * p[j] - (c[j] + 1.0) * p[i]) / (p[j] - p[i]);
                lum = d * 0.5;
            }
            solved = true;
            break;
        }
    }
    if (!solved) lum = light ? (c[R] - 1.0) * 0.5 + 1.0 : (c[R] + 1.0) * 0.5;

    HLS = {Clamp01(hue), Clamp01(lum), Clamp01(s)};
}

void HLS2RGB(const ColorTriple& HLS, ColorTriple& RGB) {
    CheckRange(HLS, "HLS2RGB: 0 <= %s value <= 1 required", HLSNames);

    const double x = HLS[0] * 6.0;
    const double whole = std::trunc(x);
    const int b = static_cast<int>(whole) % 6; // hue 1 wraps to the red corner
    const int n = (b + 1) % 6;
    const double f = x - whole;
    const double lum = HLS[1], sat = HLS[2];

    ColorTriple v;
    for (int i = 0; i < 3; ++i) {
        double p = HueCorners[b][i] + f * (HueCorners[n][i] - HueCorners[b][i]);
        p *= sat;
        v[i] = Clamp01(lum > 0.5 ? lum + (1.0 - lum) * p : lum * (p + 1.0));
    }
    RGB = v;
}

void ShadeColors(TColor Color, TColor& Highlight, TColor& Shadow, float HighlightFactor, float ShadowFactor,
                 const SysColorResolver& resolve) {
    const TColor rgb = (resolve ? resolve(Color) : DefaultSysColor(Color)) & 0xFFFFFFu;
    const unsigned ch[3] = {RedOf(rgb), GreenOf(rgb), BlueOf(rgb)};

    unsigned hi[3];
    for (int i = 0; i < 3; ++i) {
        const int v = 255 - NearestByte((256.0 - ch[i]) * static_cast<double>(HighlightFactor));
        hi[i] = static_cast<unsigned>(((v % 256) + 256) % 256);
    }

    ColorTriple in = {ch[0] / 255.0, ch[1] / 255.0, ch[2] / 255.0}, hls, out;
    RGB2HLS(in, hls);
    hls[1] *= static_cast<double>(ShadowFactor);
    HLS2RGB(hls, out);

    Highlight = RGBColor(hi[0], hi[1], hi[2]);
    Shadow = RGBColor(static_cast<unsigned>(NearestByte(out[0] * 255.0)),
                      static_cast<unsigned>(NearestByte(out[1] * 255.0)),
                      static_cast<unsigned>(NearestByte(out[2] * 255.0)));
}

} // namespace quindle
