// ID colours: the bit code both ways, the read-back collector over hand-made images, and the visible
// subsets of a small scene as its camera shows them.
#include <gtest/gtest.h>

#include <cstring>

#include "../render/render_view_fixture.h"
#include "engine/render/back_buffer_window.h"
#include "engine/render/id_colours.h"

namespace
{
using LMK::DecodeIdColour;
using LMK::EncodeIdColour;

struct CodeCase
{
    uint32_t object, subset;
    D3DCOLOR colour;
};

TEST(IdColourTest, EncodesAndDecodesTheDocumentedPairs)
{
    const CodeCase cases[] = {
        {0, 0, 0x00800000},     {1, 3, 0x0000C080},   {5, 300, 0x80403480}, {65534, 65535, 0xFFFFFFFF},
        {65534, 0, 0x00FF00FF}, {0, 255, 0x0080FF00}, {2, 256, 0x80800080}, {1022, 31, 0x00F8F8F8},
    };
    for (const CodeCase& c : cases)
    {
        D3DCOLOR colour = 0;
        EncodeIdColour(c.object, c.subset, &colour);
        EXPECT_EQ(colour, c.colour) << c.object << "/" << c.subset;
        uint32_t o = 0, s = 0;
        DecodeIdColour(colour, D3DFMT_A8R8G8B8, &o, &s);
        EXPECT_EQ(o, c.object);
        EXPECT_EQ(s, c.subset);
    }
}

TEST(IdColourTest, DecodesEachReadBackFormatByItsChannels)
{
    struct FormatCase
    {
        uint32_t object, subset;
        D3DFORMAT format;
        uint32_t pixel;
        uint32_t wantObject, wantSubset;
    };
    // 16-bit images keep each channel's high bits: objects below 1023 and subsets below 32 (64 with the
    // six green bits) come back whole.
    auto pack555 = [](D3DCOLOR c, bool alpha)
    {
        return (alpha ? ((c >> 31) << 15) : 0u) | (((c >> 19) & 0x1F) << 10) | (((c >> 11) & 0x1F) << 5) |
               ((c >> 3) & 0x1F);
    };
    auto pack565 = [](D3DCOLOR c)
    { return (((c >> 19) & 0x1F) << 11) | (((c >> 10) & 0x3F) << 5) | ((c >> 3) & 0x1F); };
    D3DCOLOR c1 = 0, c2 = 0, c3 = 0;
    EncodeIdColour(1021, 31, &c1);
    EncodeIdColour(7, 63, &c2);
    EncodeIdColour(9, 257, &c3);
    const FormatCase cases[] = {
        {1021, 31, D3DFMT_X1R5G5B5, pack555(c1, false), 1021, 31},
        {7, 63, D3DFMT_R5G6B5, pack565(c2), 7, 63},
        {9, 257, D3DFMT_A1R5G5B5, pack555(c3, true), 9, 257},
        // The X byte of an X8R8G8B8 image is whatever the device left there: never subset bits.
        {9, 1, D3DFMT_X8R8G8B8, 0xFF000000u | (c3 & 0xFFFFFF), 9, 1},
        {0, 0, D3DFMT_R8G8B8, 0x00800000, 0xFFFFFFFFu, 0},
    };
    for (const FormatCase& c : cases)
    {
        uint32_t o = 0, s = 0;
        DecodeIdColour(c.pixel, c.format, &o, &s);
        EXPECT_EQ(o, c.wantObject) << c.format;
        EXPECT_EQ(s, c.wantSubset) << c.format;
    }
}

class VisibleSubsetsTest : public rendertest::RenderViewTest
{
protected:
    // A read-back record over a small image placed at `part` on the screen.
    static LMK::ReadBackStruct_TYP ReadBack(std::vector<uint32_t>& pixels, RECT part, D3DFORMAT format)
    {
        LMK::ReadBackStruct_TYP r{};
        r.partRect = part;
        r.format = format;
        r.pitch = 4 * (part.right - part.left);
        r.bits = pixels.data();
        return r;
    }
};

TEST_F(VisibleSubsetsTest, CollectorKeepsKnownSubsetsInsideTheRectangle)
{
    Start({{0, 0, 64, 48}});
    LMK::Object_* box = AddBox({0, 0, 0}, 0.5f, Uniform(1, 1, 1));
    LMK::Object_* objects[] = {nullptr, box};
    auto id = [](uint32_t o, uint32_t s)
    {
        D3DCOLOR c = 0;
        EncodeIdColour(o, s, &c);
        return c;
    };
    // A 4 x 3 image at screen (10, 20): row 0 shows subsets 2 and 5, row 1 an unknown subset, an object
    // beyond the list, a null slot and black; row 2 lies outside the rectangle, as does column 3.
    std::vector<uint32_t> pixels = {
        id(1, 2), id(1, 2), id(1, 5), id(1, 4), //
        id(1, 6), id(2, 0), id(0, 1), 0,        //
        id(1, 1), id(1, 1), id(1, 1), id(1, 1), //
    };
    LMK::VisibleSubsetsCollector_ collector({10, 20, 13, 22}, 2, objects);
    LMK::ReadBackStruct_TYP r = ReadBack(pixels, {10, 20, 14, 23}, D3DFMT_X8R8G8B8);
    EXPECT_FALSE(LMK::CollectVisibleSubsetsCallback(&collector, &r));
    ASSERT_EQ(collector.subsets->size(), 1u);
    EXPECT_EQ(collector.subsets->at(1), (std::set<uint32_t>{2, 5}));

    // Neither a 24-bit image nor a part beside the rectangle adds anything.
    LMK::VisibleSubsetsCollector_ other({10, 20, 14, 23}, 2, objects);
    r = ReadBack(pixels, {10, 20, 14, 23}, D3DFMT_R8G8B8);
    LMK::CollectVisibleSubsetsCallback(&other, &r);
    r = ReadBack(pixels, {14, 20, 18, 23}, D3DFMT_X8R8G8B8);
    LMK::CollectVisibleSubsetsCallback(&other, &r);
    EXPECT_TRUE(other.subsets->empty());
}

TEST_F(VisibleSubsetsTest, ListsTheSubsetsTheCameraSees)
{
    Start({{0, 0, 64, 48}});
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    Camera({0, 0, 10}, 8.0f, 6.0f);
    // Box faces: +x, -x, +y, -y, +z, -z. From straight in front, the left box shows its front and its
    // right side, the right box its front and its left side; the third lies outside the view.
    std::vector<LMK::Object_*> scene = {AddBox({-1.5f, 0, 0}, 0.5f, Uniform(1, 0, 0)),
                                        AddBox({1.5f, 0, 0}, 0.5f, Uniform(0, 1, 0)),
                                        AddBox({20, 0, 0}, 0.5f, Uniform(0, 0, 1))};
    LMK::RenderViewStruct_TYP view = Record(bb);
    ASSERT_EQ(Render(&view, scene), S_OK); // the new device's first frame only resets it

    const RECT all{0, 0, 64, 48};
    std::vector<LMK::VisibleSubsetsStruct_TYP> found = {{7, {7}}};
    ASSERT_EQ(LRFindVisibleSubsets(&view, 3, scene.data(), &all, false, &found), S_OK);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].objectIndex, 0u);
    EXPECT_EQ(found[0].subsets, (std::vector<uint32_t>{0, 4}));
    EXPECT_EQ(found[1].objectIndex, 1u);
    EXPECT_EQ(found[1].subsets, (std::vector<uint32_t>{1, 4}));
    // The view record is the caller's: the ID pass works on a copy.
    EXPECT_EQ(view.readBack, nullptr);
    EXPECT_EQ(view.modeFlags, 0u);

    // Only the left half of the window: the right box drops out.
    const RECT left{0, 0, 32, 48};
    ASSERT_EQ(LRFindVisibleSubsets(&view, 3, scene.data(), &left, true, &found), S_OK);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].objectIndex, 0u);

    EXPECT_EQ(LRFindVisibleSubsets(&view, 3, scene.data(), nullptr, false, &found), E_INVALIDARG);
    EXPECT_EQ(LRFindVisibleSubsets(&view, 3, scene.data(), &all, false, nullptr), E_INVALIDARG);
    LMK::RenderViewStruct_TYP noCamera = view;
    noCamera.camera = nullptr;
    EXPECT_EQ(LRFindVisibleSubsets(&noCamera, 3, scene.data(), &all, false, &found), E_INVALIDARG);
}

TEST(VisibleSubsetsWithoutEngineTest, FailsBeforeLookingAtArguments)
{
    std::vector<LMK::VisibleSubsetsStruct_TYP> found;
    EXPECT_EQ(LRFindVisibleSubsets(nullptr, 0, nullptr, nullptr, false, &found), E_FAIL);
}
} // namespace

namespace
{
TEST_F(VisibleSubsetsTest, HiddenBackBufferWindowHasExactlyItsClientSize)
{
    Start({{0, 0, 64, 48}});
    RECT client{};
    {
        LMK::CBackBWnd window(40, 24);
        ASSERT_NE(window.m_hWnd, nullptr);
        EXPECT_FALSE(IsWindowVisible(window.m_hWnd));
        ASSERT_TRUE(GetClientRect(window.m_hWnd, &client));
        LMK::BackBuffer_* bb = BackBuffer(window.m_hWnd);
        UINT w = 0, h = 0;
        LRGetBackBufferSize(bb, &w, &h);
        EXPECT_EQ(w, 40u);
        EXPECT_EQ(h, 24u);
        LRReleaseBackBuffer(&backBuffers_.back());
    }
    EXPECT_EQ(client.right - client.left, 40);
    EXPECT_EQ(client.bottom - client.top, 24);
}
} // namespace
