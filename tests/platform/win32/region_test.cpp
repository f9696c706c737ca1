// Regions: combinations in band order, boxes, queries and handles.
#include "platform/win32/wingdi.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
using Rects = std::vector<RECT>;

Rects RectsOf(HRGN region)
{
    DWORD size = GetRegionData(region, 0, nullptr);
    std::vector<unsigned char> buffer(size);
    auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
    EXPECT_EQ(GetRegionData(region, size, data), size);
    EXPECT_EQ(data->rdh.dwSize, sizeof(RGNDATAHEADER));
    EXPECT_EQ(data->rdh.iType, static_cast<DWORD>(RDH_RECTANGLES));
    EXPECT_EQ(data->rdh.nRgnSize, data->rdh.nCount * sizeof(RECT));
    const RECT* first = reinterpret_cast<const RECT*>(data->Buffer);
    return Rects(first, first + data->rdh.nCount);
}

bool Same(const Rects& a, const Rects& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].left != b[i].left || a[i].top != b[i].top || a[i].right != b[i].right ||
            a[i].bottom != b[i].bottom)
            return false;
    return true;
}

std::string Describe(const Rects& rects)
{
    std::string text;
    for (const RECT& r : rects)
        text += "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
                "," + std::to_string(r.bottom) + ")";
    return text;
}

TEST(Region, CombineGivesBandedRectanglesTypeAndBox)
{
    struct Case
    {
        const char* what;
        RECT a, b;
        int mode;
        int type;
        RECT box;
        Rects rects;
    } cases[] = {
        {"overlapping union",
         {0, 0, 10, 10},
         {5, 5, 15, 15},
         RGN_OR,
         COMPLEXREGION,
         {0, 0, 15, 15},
         {{0, 0, 10, 5}, {0, 5, 15, 10}, {5, 10, 15, 15}}},
        {"overlapping intersection",
         {0, 0, 10, 10},
         {5, 5, 15, 15},
         RGN_AND,
         SIMPLEREGION,
         {5, 5, 10, 10},
         {{5, 5, 10, 10}}},
        {"two in one band",
         {10, 0, 15, 5},
         {0, 0, 5, 5},
         RGN_OR,
         COMPLEXREGION,
         {0, 0, 15, 5},
         {{0, 0, 5, 5}, {10, 0, 15, 5}}},
        {"touching sides merge",
         {0, 0, 5, 5},
         {5, 0, 10, 5},
         RGN_OR,
         SIMPLEREGION,
         {0, 0, 10, 5},
         {{0, 0, 10, 5}}},
        {"stacked bands coalesce",
         {0, 0, 5, 5},
         {0, 5, 5, 10},
         RGN_OR,
         SIMPLEREGION,
         {0, 0, 5, 10},
         {{0, 0, 5, 10}}},
        {"disjoint intersection", {0, 0, 5, 5}, {6, 6, 9, 9}, RGN_AND, NULLREGION, {0, 0, 0, 0}, {}},
        {"hole",
         {0, 0, 10, 10},
         {3, 3, 6, 6},
         RGN_DIFF,
         COMPLEXREGION,
         {0, 0, 10, 10},
         {{0, 0, 10, 3}, {0, 3, 3, 6}, {6, 3, 10, 6}, {0, 6, 10, 10}}},
        {"exclusive or",
         {0, 0, 10, 10},
         {5, 0, 15, 10},
         RGN_XOR,
         COMPLEXREGION,
         {0, 0, 15, 10},
         {{0, 0, 5, 10}, {10, 0, 15, 10}}},
        {"union with empty", {1, 2, 3, 4}, {7, 7, 7, 9}, RGN_OR, SIMPLEREGION, {1, 2, 3, 4}, {{1, 2, 3, 4}}},
        {"copy", {1, 2, 3, 4}, {0, 0, 50, 50}, RGN_COPY, SIMPLEREGION, {1, 2, 3, 4}, {{1, 2, 3, 4}}},
        {"inverted corners",
         {10, 10, 0, 0},
         {0, 0, 1, 1},
         RGN_AND,
         SIMPLEREGION,
         {0, 0, 1, 1},
         {{0, 0, 1, 1}}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        HRGN a = CreateRectRgnIndirect(&c.a);
        HRGN b = CreateRectRgnIndirect(&c.b);
        HRGN result = CreateRectRgn(0, 0, 0, 0);
        EXPECT_EQ(CombineRgn(result, a, b, c.mode), c.type);
        RECT box{-1, -1, -1, -1};
        EXPECT_EQ(GetRgnBox(result, &box), c.type);
        EXPECT_TRUE(box.left == c.box.left && box.top == c.box.top && box.right == c.box.right &&
                    box.bottom == c.box.bottom);
        Rects rects = RectsOf(result);
        EXPECT_TRUE(Same(rects, c.rects)) << Describe(rects);
        // The destination may be a source.
        EXPECT_EQ(CombineRgn(a, a, b, c.mode), c.type);
        EXPECT_TRUE(EqualRgn(a, result));
        for (HRGN r : {a, b, result})
            EXPECT_TRUE(DeleteObject(r));
    }
}

TEST(Region, QueriesOffsetAndData)
{
    HRGN region = CreateRectRgn(0, 0, 10, 10);
    HRGN hole = CreateRectRgn(3, 3, 6, 6);
    CombineRgn(region, region, hole, RGN_DIFF);
    EXPECT_TRUE(PtInRegion(region, 0, 0));
    EXPECT_FALSE(PtInRegion(region, 4, 4));
    EXPECT_FALSE(PtInRegion(region, 10, 5)) << "right and bottom edges are outside";
    RECT inside{4, 4, 5, 5}, edge{5, 5, 7, 7};
    EXPECT_FALSE(RectInRegion(region, &inside));
    EXPECT_TRUE(RectInRegion(region, &edge));

    EXPECT_EQ(OffsetRgn(region, 100, -5), COMPLEXREGION);
    RECT box{};
    GetRgnBox(region, &box);
    EXPECT_EQ(box.left, 100);
    EXPECT_EQ(box.top, -5);
    EXPECT_TRUE(PtInRegion(region, 100, -5));

    DWORD size = GetRegionData(region, 0, nullptr);
    EXPECT_EQ(size, sizeof(RGNDATAHEADER) + 4 * sizeof(RECT));
    std::vector<unsigned char> buffer(size);
    EXPECT_EQ(GetRegionData(region, size - 1, reinterpret_cast<RGNDATA*>(buffer.data())), 0u) << "too small";
    ASSERT_EQ(GetRegionData(region, size, reinterpret_cast<RGNDATA*>(buffer.data())), size);
    HRGN copy = ExtCreateRegion(nullptr, size, reinterpret_cast<RGNDATA*>(buffer.data()));
    EXPECT_TRUE(EqualRgn(copy, region));
    reinterpret_cast<RGNDATA*>(buffer.data())->rdh.nCount = 1000;
    EXPECT_EQ(ExtCreateRegion(nullptr, size, reinterpret_cast<RGNDATA*>(buffer.data())), nullptr);

    EXPECT_TRUE(SetRectRgn(copy, 0, 0, 0, 0));
    EXPECT_EQ(GetRgnBox(copy, &box), NULLREGION);
    for (HRGN r : {region, hole, copy})
        DeleteObject(r);
}

TEST(Region, DeletedAndForeignHandlesFail)
{
    HRGN region = CreateRectRgn(0, 0, 1, 1);
    ASSERT_TRUE(DeleteObject(region));
    RECT box{};
    EXPECT_EQ(GetRgnBox(region, &box), ERROR);
    EXPECT_EQ(CombineRgn(region, region, region, RGN_OR), ERROR);
    EXPECT_EQ(OffsetRgn(region, 1, 1), ERROR);
    EXPECT_EQ(GetRegionData(region, 0, nullptr), 0u);
    EXPECT_FALSE(DeleteObject(region));
    EXPECT_FALSE(DeleteObject(nullptr));
    HRGN live = CreateRectRgn(0, 0, 1, 1);
    EXPECT_EQ(CombineRgn(live, live, live, 99), ERROR);
    DeleteObject(live);
}
} // namespace
