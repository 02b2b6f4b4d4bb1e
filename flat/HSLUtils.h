// Colour-space conversions between RGB colours and hue, saturation and
// lightness, in [0, 1] or scaled to HslScale.
#pragma once

#include <cstdint>

// An RGB colour 0x00BBGGRR (red in the low byte), or a system colour
// 0xFF0000nn (nn = the platform's colour index, resolved at the moment of use).
using TColor = std::uint32_t;

// Scaled HSL: hue 0..HslScale-1, saturation and lightness 0..HslScale.
inline constexpr int HslScale = 240;

// H in [0, 1), S and L in [0, 1]. `rgb` must be an RGB colour.
void ColorToHsl(TColor rgb, double& H, double& S, double& L);
// Channels are Round(255 * v) with round-half-to-even, keeping the low 8 bits
// (a lightness above 1 wraps around).
TColor HslToColor(double H, double S, double L);
void ColorToHslScaled(TColor rgb, int& H, int& S, int& L);
TColor HslScaledToColor(int H, int S, int L);

// Round-half-to-even, the floating-point unit's default rounding.
int RoundHalfEven(double v);
