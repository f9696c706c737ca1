// Regions: y-x banded rectangle lists and their handles.
#include "platform/win32/region.h"

#include "platform/win32/wingdi.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace ferolt::win32
{
// Provided by the user layer when it is linked in; regions do not depend on it.
bool DeleteUserGdiObject(HGDIOBJ object) __attribute__((weak));

namespace
{
struct Span
{
    LONG left, right;
    bool operator==(const Span&) const = default;
};

// The spans of a banded region that cover the whole of [top, bottom).
std::vector<Span> SpansAt(const std::vector<RECT>& rects, LONG top, LONG bottom)
{
    std::vector<Span> spans;
    for (const RECT& r : rects)
    {
        if (r.top > top) break;
        if (r.top <= top && r.bottom >= bottom) spans.push_back({r.left, r.right});
    }
    return spans;
}

bool Inside(const std::vector<Span>& spans, LONG x)
{
    for (const Span& s : spans)
        if (x >= s.left && x < s.right) return true;
    return false;
}

bool Apply(Region::Op op, bool a, bool b)
{
    switch (op)
    {
    case Region::Op::And:
        return a && b;
    case Region::Op::Or:
        return a || b;
    case Region::Op::Xor:
        return a != b;
    case Region::Op::Diff:
        return a && !b;
    }
    return false;
}

std::vector<Span> CombineSpans(const std::vector<Span>& a, const std::vector<Span>& b, Region::Op op)
{
    std::vector<LONG> edges;
    for (const Span& s : a)
        edges.insert(edges.end(), {s.left, s.right});
    for (const Span& s : b)
        edges.insert(edges.end(), {s.left, s.right});
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    std::vector<Span> result;
    for (size_t i = 0; i + 1 < edges.size(); ++i)
    {
        if (!Apply(op, Inside(a, edges[i]), Inside(b, edges[i]))) continue;
        if (!result.empty() && result.back().right == edges[i])
            result.back().right = edges[i + 1];
        else
            result.push_back({edges[i], edges[i + 1]});
    }
    return result;
}
} // namespace

Region::Region(const RECT& rect)
{
    RECT r{std::min(rect.left, rect.right), std::min(rect.top, rect.bottom), std::max(rect.left, rect.right),
           std::max(rect.top, rect.bottom)};
    if (r.left < r.right && r.top < r.bottom) rects_.push_back(r);
}

Region Region::Combine(const Region& a, const Region& b, Op op)
{
    std::vector<LONG> ys;
    for (const RECT& r : a.rects_)
        ys.insert(ys.end(), {r.top, r.bottom});
    for (const RECT& r : b.rects_)
        ys.insert(ys.end(), {r.top, r.bottom});
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

    Region result;
    std::vector<Span> previous;
    size_t previousStart = 0;
    LONG previousBottom = 0;
    for (size_t i = 0; i + 1 < ys.size(); ++i)
    {
        LONG top = ys[i], bottom = ys[i + 1];
        std::vector<Span> spans =
            CombineSpans(SpansAt(a.rects_, top, bottom), SpansAt(b.rects_, top, bottom), op);
        if (spans.empty())
        {
            previous.clear();
            continue;
        }
        if (!previous.empty() && previousBottom == top && spans == previous)
        {
            for (size_t k = previousStart; k < result.rects_.size(); ++k)
                result.rects_[k].bottom = bottom;
        }
        else
        {
            previousStart = result.rects_.size();
            for (const Span& s : spans)
                result.rects_.push_back({s.left, top, s.right, bottom});
            previous = std::move(spans);
        }
        previousBottom = bottom;
    }
    return result;
}

RECT Region::Bounds() const
{
    if (rects_.empty()) return RECT{0, 0, 0, 0};
    RECT box = rects_.front();
    for (const RECT& r : rects_)
    {
        box.left = std::min(box.left, r.left);
        box.right = std::max(box.right, r.right);
        box.bottom = std::max(box.bottom, r.bottom);
    }
    return box;
}

int Region::Complexity() const
{
    return rects_.empty() ? NULLREGION : rects_.size() == 1 ? SIMPLEREGION : COMPLEXREGION;
}

bool Region::Contains(LONG x, LONG y) const
{
    for (const RECT& r : rects_)
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
    return false;
}

bool Region::Intersects(const RECT& rect) const
{
    return !Combine(*this, Region(rect), Op::And).IsEmpty();
}

void Region::Offset(LONG dx, LONG dy)
{
    for (RECT& r : rects_)
    {
        r.left += dx;
        r.right += dx;
        r.top += dy;
        r.bottom += dy;
    }
}

bool Region::operator==(const Region& other) const
{
    if (rects_.size() != other.rects_.size()) return false;
    for (size_t i = 0; i < rects_.size(); ++i)
        if (memcmp(&rects_[i], &other.rects_[i], sizeof(RECT)) != 0) return false;
    return true;
}

namespace
{
struct RegionTable
{
    std::mutex mutex;
    std::unordered_map<HRGN, std::unique_ptr<Region>> regions;
};

RegionTable& Regions()
{
    static RegionTable* table = new RegionTable;
    return *table;
}

HRGN AddRegion(Region region)
{
    auto owned = std::make_unique<Region>(std::move(region));
    HRGN handle = reinterpret_cast<HRGN>(owned.get()); // heap addresses never collide with other GDI handles
    RegionTable& table = Regions();
    std::lock_guard lock(table.mutex);
    table.regions.emplace(handle, std::move(owned));
    return handle;
}
} // namespace

Region* RegionFromHandle(HRGN handle)
{
    RegionTable& table = Regions();
    std::lock_guard lock(table.mutex);
    auto it = table.regions.find(handle);
    return it == table.regions.end() ? nullptr : it->second.get();
}

bool IsRegionHandle(HGDIOBJ object)
{
    return RegionFromHandle(static_cast<HRGN>(object)) != nullptr;
}
} // namespace ferolt::win32

using ferolt::win32::Region;
using ferolt::win32::RegionFromHandle;

HRGN CreateRectRgn(int left, int top, int right, int bottom)
{
    return ferolt::win32::AddRegion(Region(RECT{left, top, right, bottom}));
}

HRGN CreateRectRgnIndirect(const RECT* rect)
{
    return rect ? CreateRectRgn(rect->left, rect->top, rect->right, rect->bottom) : nullptr;
}

BOOL SetRectRgn(HRGN handle, int left, int top, int right, int bottom)
{
    Region* region = RegionFromHandle(handle);
    if (!region) return FALSE;
    *region = Region(RECT{left, top, right, bottom});
    return TRUE;
}

int CombineRgn(HRGN dst, HRGN src1, HRGN src2, int mode)
{
    Region* target = RegionFromHandle(dst);
    Region* a = RegionFromHandle(src1);
    if (!target || !a || mode < RGN_MIN || mode > RGN_MAX) return ERROR;
    if (mode == RGN_COPY)
    {
        *target = *a;
        return target->Complexity();
    }
    Region* b = RegionFromHandle(src2);
    if (!b) return ERROR;
    Region::Op op = mode == RGN_AND   ? Region::Op::And
                    : mode == RGN_OR  ? Region::Op::Or
                    : mode == RGN_XOR ? Region::Op::Xor
                                      : Region::Op::Diff;
    *target = Region::Combine(*a, *b, op);
    return target->Complexity();
}

int OffsetRgn(HRGN handle, int dx, int dy)
{
    Region* region = RegionFromHandle(handle);
    if (!region) return ERROR;
    region->Offset(dx, dy);
    return region->Complexity();
}

int GetRgnBox(HRGN handle, LPRECT box)
{
    Region* region = RegionFromHandle(handle);
    if (!region || !box) return ERROR;
    *box = region->Bounds();
    return region->Complexity();
}

BOOL PtInRegion(HRGN handle, int x, int y)
{
    Region* region = RegionFromHandle(handle);
    return region && region->Contains(x, y);
}

BOOL RectInRegion(HRGN handle, const RECT* rect)
{
    Region* region = RegionFromHandle(handle);
    return region && rect && region->Intersects(*rect);
}

BOOL EqualRgn(HRGN a, HRGN b)
{
    Region* first = RegionFromHandle(a);
    Region* second = RegionFromHandle(b);
    return first && second && *first == *second;
}

DWORD GetRegionData(HRGN handle, DWORD count, LPRGNDATA data)
{
    Region* region = RegionFromHandle(handle);
    if (!region) return 0;
    const auto& rects = region->Rects();
    DWORD needed = static_cast<DWORD>(sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT));
    if (!data) return needed;
    if (count < needed) return 0;
    data->rdh.dwSize = sizeof(RGNDATAHEADER);
    data->rdh.iType = RDH_RECTANGLES;
    data->rdh.nCount = static_cast<DWORD>(rects.size());
    data->rdh.nRgnSize = static_cast<DWORD>(rects.size() * sizeof(RECT));
    data->rdh.rcBound = region->Bounds();
    if (!rects.empty()) memcpy(data->Buffer, rects.data(), rects.size() * sizeof(RECT));
    return count;
}

HRGN ExtCreateRegion(const void*, DWORD count, const RGNDATA* data)
{
    if (!data || count < sizeof(RGNDATAHEADER) || data->rdh.dwSize != sizeof(RGNDATAHEADER) ||
        data->rdh.iType != RDH_RECTANGLES ||
        data->rdh.nCount > (count - sizeof(RGNDATAHEADER)) / sizeof(RECT))
        return nullptr;
    Region region;
    for (DWORD i = 0; i < data->rdh.nCount; ++i)
    {
        RECT rect;
        memcpy(&rect, data->Buffer + i * sizeof(RECT), sizeof(RECT));
        region = Region::Combine(region, Region(rect), Region::Op::Or);
    }
    return ferolt::win32::AddRegion(std::move(region));
}

BOOL DeleteObject(HGDIOBJ object)
{
    if (!object) return FALSE;
    {
        ferolt::win32::RegionTable& table = ferolt::win32::Regions();
        std::unique_ptr<Region> removed;
        std::lock_guard lock(table.mutex);
        auto it = table.regions.find(static_cast<HRGN>(object));
        if (it != table.regions.end())
        {
            removed = std::move(it->second);
            table.regions.erase(it);
            return TRUE;
        }
    }
    if (ferolt::win32::DeleteUserGdiObject) return ferolt::win32::DeleteUserGdiObject(object) ? TRUE : FALSE;
    return FALSE;
}
