#pragma once
// A set of pixels as rectangles in y-x banded order, the form the original uses: rectangles sorted by
// top, then left; rectangles of one band share top and bottom; bands do not overlap, rectangles in a
// band neither overlap nor touch, and touching bands with the same spans are merged.
#include "platform/win32/windef.h"

#include <vector>

namespace ferolt::win32
{
class Region
{
public:
    Region() = default;
    explicit Region(const RECT& rect); // an empty or inverted rectangle gives the empty region

    enum class Op
    {
        And,
        Or,
        Xor,
        Diff,
    };
    static Region Combine(const Region& a, const Region& b, Op op);

    const std::vector<RECT>& Rects() const { return rects_; }
    bool IsEmpty() const { return rects_.empty(); }
    RECT Bounds() const; // all zero for the empty region
    // NULLREGION (1), SIMPLEREGION (2) or COMPLEXREGION (3).
    int Complexity() const;
    bool Contains(LONG x, LONG y) const;
    bool Intersects(const RECT& rect) const;
    void Offset(LONG dx, LONG dy);
    bool operator==(const Region& other) const;

private:
    std::vector<RECT> rects_;
};
} // namespace ferolt::win32
