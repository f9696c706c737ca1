// Cell-and-portal visibility: the walk on its own, then the render pass and picking obeying it.
//
// The camera stands at (0, 0, 8) looking down -z with an 8 x 6 window at the origin. Room A is z > 0,
// room B is z < 0; the wall between them at z = 0 has a door of 2 x 2 round the z axis. At z = -4 the
// door shows x from -1.5 to 1.5, the frustum from -6 to 6.
#include "render_view_fixture.h"

#include "engine/render/picking.h"
#include "engine/render/portal_cell.h"

namespace
{
using namespace rendertest;
using LMK::PortalCell_;
using LMK::PortalConnectionStruct_TYP;
using LMK::PortalStruct_TYP;

// A square portal of half size h round (x, y, z) in a plane z = const, joining two cells. The plane's
// normal points to +z unless turned; the vertices wind counter-clockwise seen from +z unless reversed.
struct Door
{
    std::array<D3DXVECTOR3, 4> corners;
    PortalStruct_TYP portal{};
    PortalConnectionStruct_TYP link{};

    Door(PortalCell_* first, PortalCell_* second, D3DXVECTOR3 at, float h, DWORD kind, bool reversed = false,
         bool turned = false)
    {
        corners = {at + D3DXVECTOR3(-h, -h, 0), at + D3DXVECTOR3(h, -h, 0), at + D3DXVECTOR3(h, h, 0),
                   at + D3DXVECTOR3(-h, h, 0)};
        if (reversed) std::reverse(corners.begin(), corners.end());
        portal.vertices = corners.data();
        portal.vertexCount = 4;
        portal.kind = kind;
        portal.plane = turned ? D3DXPLANE(0, 0, -1, at.z) : D3DXPLANE(0, 0, 1, -at.z);
        link.firstCell = first;
        link.secondCell = second;
        link.portals.push_back(&portal);
        first->connections.push_back(&link);
        second->connections.push_back(&link);
    }
    Door(const Door&) = delete;
};

class PortalCellTest : public RenderViewTest
{
protected:
    void SetUp() override
    {
        RenderViewTest::SetUp();
        Start({{0, 0, 64, 48}});
        Camera({0, 0, 8}, 8, 6);
    }

    LMK::Object_* In(PortalCell_* cell, D3DXVECTOR3 at, float half = 0.3f,
                     FaceColours colours = Uniform(1, 1, 1))
    {
        LMK::Object_* o = AddBox(at, half, colours);
        cell->objects.push_back(o);
        return o;
    }

    std::vector<int> Visible(PortalCell_* start, std::vector<LMK::Object_*> objects)
    {
        start->ComputeVisibility(camera_, objects.data(), static_cast<DWORD>(objects.size()));
        std::vector<int> out;
        for (LMK::Object_* o : objects)
            out.push_back(o->visible);
        return out;
    }
};

TEST_F(PortalCellTest, DoorShowsTheNextRoomOnlyThroughItself)
{
    struct Case
    {
        const char* name;
        DWORD kind;
        bool reversed, turned, aIsSecond;
        float doorX;
        std::vector<int> want; // a, far, b through the door, b behind the wall, b straddling the door's edge
    };
    const Case cases[] = {
        {"open", 2, false, false, false, 0, {1, 0, 1, 0, 1}},
        {"closed", LMK::PortalKindClosed, false, false, false, 0, {1, 0, 0, 0, 0}},
        {"one-way, eye in front, from the first cell",
         LMK::PortalKindOneWay,
         false,
         false,
         false,
         0,
         {1, 0, 0, 0, 0}},
        {"one-way, eye behind, from the first cell",
         LMK::PortalKindOneWay,
         false,
         true,
         false,
         0,
         {1, 0, 1, 0, 1}},
        {"one-way, from the second cell", LMK::PortalKindOneWay, false, false, true, 0, {1, 0, 1, 0, 1}},
        {"door outside the frustum", 2, false, false, false, 30, {1, 0, 0, 0, 0}},
        // The door's edge planes must face into the door whichever way its vertices wind and its
        // plane faces.
        {"vertices reversed", 2, true, false, false, 0, {1, 0, 1, 0, 1}},
        {"seen from the plane's back", 2, false, true, false, 0, {1, 0, 1, 0, 1}},
        {"both", 2, true, true, false, 0, {1, 0, 1, 0, 1}},
    };
    PortalCell_ a, b;
    const std::vector<LMK::Object_*> objects = {In(&a, {-2, 1, 3}), In(&a, {20, 0, 3}), In(&b, {0, 0, -4}),
                                                In(&b, {3.5f, 0, -4}), In(&b, {1.6f, 0, -4})};
    for (const Case& c : cases)
    {
        a.connections.clear();
        b.connections.clear();
        Door door(c.aIsSecond ? &b : &a, c.aIsSecond ? &a : &b, {c.doorX, 0, 0}, 1, c.kind, c.reversed,
                  c.turned);
        EXPECT_EQ(Visible(&a, objects), c.want) << c.name;
        EXPECT_EQ(a.visited + b.visited, 0) << c.name;
        for (LMK::Object_* o : objects)
            EXPECT_EQ(o->portalVisited, 0) << c.name;
    }
}

// Room B has two doors to C: C is walked once through each, and what either shows is visible.
TEST_F(PortalCellTest, TwoDoorsEachShowTheirPartAndCyclesEnd)
{
    PortalCell_ a, b, c;
    Door ab(&a, &b, {0, 0, 0}, 2, 2);
    Door bcLeft(&b, &c, {-1, 0, -2}, 0.5f, 2);
    Door bcRight(&b, &c, {1, 0, -2}, 0.5f, 2);
    // Closes the cycle A, B, C: one-way, shut from A (its first cell, the eye in front of it), open from C.
    Door ca(&a, &c, {0, 0, -3}, 3, LMK::PortalKindOneWay);
    const std::vector<LMK::Object_*> objects = {In(&c, {-1.8f, 0, -6}), In(&c, {1.8f, 0, -6}),
                                                In(&c, {0, 0, -6})};
    EXPECT_EQ(Visible(&a, objects), (std::vector<int>{1, 1, 0}));
    EXPECT_EQ(a.visited + b.visited + c.visited, 0);
}

// A chain of rooms, each with two doors in the same place to the next. Every path arrives with the same
// frustum; walked once per path the chain would take 2^16 walks.
TEST_F(PortalCellTest, PathsMeetingWithTheSameFrustumAreWalkedOnce)
{
    constexpr int kRooms = 17;
    std::vector<PortalCell_> rooms(kRooms);
    std::vector<std::unique_ptr<Door>> doors;
    for (int k = 0; k + 1 < kRooms; ++k)
        for (int twin = 0; twin < 2; ++twin)
            doors.push_back(
                std::make_unique<Door>(&rooms[k], &rooms[k + 1], D3DXVECTOR3(0, 0, -0.5f * k), 1, 2));
    LMK::Object_* last = In(&rooms.back(), {0, 0, -12});
    LMK::Object_* aside = In(&rooms.back(), {2, 0, -12});
    std::vector<LMK::Object_*> objects = {last, aside};
    EXPECT_EQ(rooms[0].ComputeVisibility(camera_, objects.data(), 2), static_cast<DWORD>(kRooms));
    EXPECT_EQ(last->visible, 1);
    EXPECT_EQ(aside->visible, 0);
}

TEST_F(PortalCellTest, RenderPassAndPickingSeeRoomBOnlyThroughTheDoor)
{
    HWND w = Window({0, 0, 64, 48});
    LMK::BackBuffer_* bb = BackBuffer(w);
    PortalCell_ a, b;
    Door door(&a, &b, {0, 0, 0}, 1, 2);
    LMK::Object_* seen = In(&b, {0, 0, -4}, 0.5f, Uniform(0, 1, 0));
    LMK::Object_* walled = In(&b, {3, 0, -4}, 0.5f, Uniform(0, 0, 1));
    std::vector<LMK::Object_*> objects = {seen, walled};

    for (PortalCell_* cell : {static_cast<PortalCell_*>(nullptr), &a})
    {
        const char* name = cell ? "through the door" : "without cells";
        LMK::RenderViewStruct_TYP v = Record(bb);
        v.portalCell = cell;
        ASSERT_EQ(Render(&v, objects), S_OK);
        const POINT pSeen = Project(bb, {0, 0, -3.5f});
        const POINT pWalled = Project(bb, {3, 0, -3.5f});
        EXPECT_TRUE(Near(backend_.Pixel(w, pSeen.x, pSeen.y), {0, 255, 0}, 40)) << name;
        const uint32_t walledPixel = backend_.Pixel(w, pWalled.x, pWalled.y) & 0xFFFFFF;
        EXPECT_EQ(walledPixel == kBackground, cell != nullptr) << name << std::hex << " " << walledPixel;

        for (const auto& [at, index] : {std::pair{pSeen, 0u}, std::pair{pWalled, 1u}})
        {
            POINT screen = at;
            BYTE hit = 9;
            DWORD object = 9;
            LRPickAtScreenPoint(&v, 2, objects.data(), &screen, false, &hit, &object, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr);
            const bool want = index == 0 || !cell;
            EXPECT_EQ(hit, want ? 1 : 0) << name << " object " << index;
            if (want)
            {
                EXPECT_EQ(object, index) << name;
            }
        }
    }
}
} // namespace
