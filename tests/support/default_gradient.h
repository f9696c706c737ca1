#pragma once
// Whether a pixel shows the default background of a view: the gradient sphere of the default
// background description, colour 0 to 1 above the horizon and 2 to 3 below.
#include <cmath>
#include <cstdint>

namespace ferolt::test
{
inline bool OnDefaultGradient(uint32_t rgb, float tolerance = 0.02f)
{
    // Red, green and blue of the default description's four colours.
    static constexpr float kColours[4][3] = {{26.0f / 255, 0.4f, 1.0f},
                                             {202.0f / 255, 218.0f / 255, 251.0f / 255},
                                             {21.0f / 255, 74.0f / 255, 0.0f},
                                             {60.0f / 255, 214.0f / 255, 0.0f}};
    const float c[3] = {((rgb >> 16) & 0xFF) / 255.0f, ((rgb >> 8) & 0xFF) / 255.0f, (rgb & 0xFF) / 255.0f};
    for (int half = 0; half < 2; ++half)
    {
        const float* from = kColours[2 * half];
        const float* to = kColours[2 * half + 1];
        // Green changes most in both halves: it tells how far along the pixel lies.
        const float t = (c[1] - from[1]) / (to[1] - from[1]);
        if (t < -tolerance || t > 1 + tolerance) continue;
        if (std::fabs(from[0] + t * (to[0] - from[0]) - c[0]) < tolerance &&
            std::fabs(from[2] + t * (to[2] - from[2]) - c[2]) < tolerance)
            return true;
    }
    return false;
}
} // namespace ferolt::test
