#pragma once
// Colour arithmetic between the RGB model and the HLS double hexcone, and the pair of
// rim shades the oval button derives from its face colour. No window system here: a
// system colour reference is resolved through a callback the caller supplies.
#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>

namespace quindle {

// Components are reals in 0..1. RGB order: Red, Green, Blue. HLS order: Hue,
// Luminance, Saturation (luminance second).
using ColorTriple = std::array<double, 3>;

// Out-of-range or NaN input to RGB2HLS / HLS2RGB.
class EColorConv : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A toolkit colour value: direct RGB with red in the low byte, then green, then blue;
// with the high bit set it refers to a system colour by index in the low byte.
using TColor = uint32_t;

constexpr TColor RGBColor(unsigned r, unsigned g, unsigned b) {
    return (r & 0xFFu) | ((g & 0xFFu) << 8) | ((b & 0xFFu) << 16);
}
constexpr unsigned RedOf(TColor c) { return c & 0xFFu; }
constexpr unsigned GreenOf(TColor c) { return (c >> 8) & 0xFFu; }
constexpr unsigned BlueOf(TColor c) { return (c >> 16) & 0xFFu; }
constexpr bool IsSystemColor(TColor c) { return (c & 0x80000000u) != 0; }

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clWindowText = 0x80000008;
constexpr TColor clBtnFace = 0x8000000F;
constexpr TColor clBtnShadow = 0x80000010;
constexpr TColor clGrayText = 0x80000011;
constexpr TColor clBtnText = 0x80000012;
constexpr TColor clBtnHighlight = 0x80000014;
constexpr TColor clWindow = 0x80000005;

// Maps a colour value to direct RGB. The ui passes one built on its palette.
using SysColorResolver = std::function<TColor(TColor)>;

// The classic desktop defaults for the few system colours this program uses; the
// resolver ShadeColors falls back to when none is given. Direct RGB passes through.
TColor DefaultSysColor(TColor c);

// Throws EColorConv ("RGB2HLS: 0 <= Red value <= 1 required", ...) for the first
// component out of 0..1 or NaN; HLS is left untouched then.
void RGB2HLS(const ColorTriple& RGB, ColorTriple& HLS);
// Throws EColorConv ("HLS2RGB: 0 <= Luminance value <= 1 required", ...) likewise.
void HLS2RGB(const ColorTriple& HLS, ColorTriple& RGB);

// Highlight: every channel moved toward 255 by HighlightFactor of its distance to 256.
// Shadow: the HLS luminance scaled by ShadowFactor. Both come out as direct RGB.
void ShadeColors(TColor Color, TColor& Highlight, TColor& Shadow, float HighlightFactor, float ShadowFactor,
                 const SysColorResolver& resolve = {});

} // namespace quindle
