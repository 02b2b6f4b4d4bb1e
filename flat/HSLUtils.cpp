#include "HSLUtils.h"

#include <algorithm>
#include <cmath>

namespace {

double Channel(double m1, double m2, double h)
{
    if (h < 0)
        h += 1;
    else if (h > 1)
        h -= 1;
    if (6 * h < 1)
        return m1 + (m2 - m1) * h * 6;
    if (2 * h < 1)
        return m2;
    if (3 * h < 2)
        return m1 + (m2 - m1) * (2.0 / 3.0 - h) * 6;
    return m1;
}

TColor Byte(double v) { return static_cast<TColor>(RoundHalfEven(255 * v) & 0xFF); }

}  // namespace

int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }

void ColorToHsl(TColor rgb, double& H, double& S, double& L)
{
    const double r = (rgb & 0xFF) / 255.0;
    const double g = (rgb >> 8 & 0xFF) / 255.0;
    const double b = (rgb >> 16 & 0xFF) / 255.0;
    const double cmax = std::max(r, std::max(g, b));
    const double cmin = std::min(r, std::min(g, b));
    L = (cmax + cmin) / 2;
    if (cmax == cmin) {
        H = 0;
        S = 0;
        return;
    }
    const double d = cmax - cmin;
    S = L < 0.5 ? d / (cmax + cmin) : d / (2 - cmax - cmin);
    if (r == cmax)
        H = (g - b) / d;
    else if (g == cmax)
        H = 2 + (b - r) / d;
    else
        H = 4 + (r - g) / d;
    H /= 6;
    if (H < 0)
        H += 1;
}

TColor HslToColor(double H, double S, double L)
{
    if (S == 0) {
        const TColor v = Byte(L);
        return v | v << 8 | v << 16;
    }
    const double m2 = L <= 0.5 ? L * (1 + S) : L + S - L * S;
    const double m1 = 2 * L - m2;
    return Byte(Channel(m1, m2, H + 1.0 / 3.0)) | Byte(Channel(m1, m2, H)) << 8 |
           Byte(Channel(m1, m2, H - 1.0 / 3.0)) << 16;
}

void ColorToHslScaled(TColor rgb, int& H, int& S, int& L)
{
    double h = 0, s = 0, l = 0;
    ColorToHsl(rgb, h, s, l);
    H = RoundHalfEven(h * (HslScale - 1));
    S = RoundHalfEven(s * HslScale);
    L = RoundHalfEven(l * HslScale);
}

TColor HslScaledToColor(int H, int S, int L)
{
    return HslToColor(double(H) / (HslScale - 1), double(S) / HslScale, double(L) / HslScale);
}
