// Point mip selection without a bias picks the level nearest to 0.5 log2(rho^2); at the thresholds
// rho^2 = 2^(2k+1) the choice must not depend on how a logarithm rounds, since the four-wide, eight-wide
// and pixel-by-pixel loops all have to pick the same level.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/d3d9/raster.h"

namespace
{
using ferolt::d3d9::PointMipSteps;

TEST(PointMipTest, LevelChangesExactlyAtOddPowersOfTwo)
{
    const float below = std::nextafter(1.0f, 0.0f); // one step under the next value up
    const struct
    {
        float rho2;
        int steps;
    } cases[] = {
        {1.0f, 0},
        {2.0f * below, 0},
        {2.0f, 1},
        {7.0f, 1},
        // log2 of the float just under 8 rounds to 3, which would pick two steps.
        {8.0f * below, 1},
        {8.0f, 2},
        {32.0f * below, 2},
        {32.0f, 3},
        {std::ldexp(1.0f, 25), 13},
        {std::numeric_limits<float>::max(), 64},
        {std::numeric_limits<float>::infinity(), 64},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PointMipSteps(c.rho2), c.steps) << c.rho2;
}
} // namespace
