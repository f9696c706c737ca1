// The camera's matrices, their caching, part projections, frustum planes and the aspect helper. These
// run without an engine: a back buffer made while none is started has no parts, so the tests give it
// the client rectangle and parts they need.
#include "engine/core/backbuffer.h"
#include "engine/core/view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <functional>
#include <iterator>
#include <memory>
#include <vector>

using LMK::BackBuffer_;
using LMK::BackBufferPart_;
using LMK::View_;
using LMK::ViewParamsStruct_TYP;

namespace
{
constexpr float kNear = 1.0f;
constexpr float kFar = 100.0f;

void ExpectMatrixNear(const D3DXMATRIX& actual, const D3DXMATRIX& expected, const char* what)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(actual.m[r][c], expected.m[r][c],
                        1e-5f * std::fmax(1.0f, std::fabs(expected.m[r][c])))
                << what << " [" << r << "][" << c << "]";
}

D3DXMATRIX Projection(bool orthographic, float l, float r, float b, float t)
{
    D3DXMATRIX m;
    if (orthographic)
        D3DXMatrixOrthoOffCenterRH(&m, l, r, b, t, kNear, kFar);
    else
        D3DXMatrixPerspectiveOffCenterRH(&m, l, r, b, t, kNear, kFar);
    return m;
}

// A window of 4 x 3 on the look-at plane, seen from 10 units away.
std::unique_ptr<View_> ExampleCamera(uint8_t orthographic)
{
    return std::make_unique<View_>(D3DXVECTOR3(0, 0, 10), D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 2, 0),
                                   orthographic, 4.0f, 3.0f, kNear, kFar);
}

// A 400 x 300 client area at (100, 50) with the given parts (tile rectangle, tile offset).
struct PartLayout
{
    RECT tile;
    POINT offset;
};

// A back buffer with parts the test made: its parts list only points at them, so the test keeps them.
struct PartedBackBuffer
{
    std::unique_ptr<BackBuffer_> buffer;
    std::vector<std::unique_ptr<BackBufferPart_>> made;
    BackBuffer_* operator->() const { return buffer.get(); }
};

PartedBackBuffer BackBufferWithParts(const std::vector<PartLayout>& layouts)
{
    PartedBackBuffer b{std::make_unique<BackBuffer_>(nullptr, nullptr), {}};
    b->clientRect = RECT{100, 50, 500, 350};
    for (const PartLayout& s : layouts)
    {
        b.made.push_back(
            std::make_unique<BackBufferPart_>(nullptr, s.tile, b.buffer.get(), s.offset.x, s.offset.y));
        b->parts.push_back(b.made.back().get());
    }
    return b;
}
} // namespace

TEST(View, ParameterBlockIsTheEightyByteLayout)
{
    using P = ViewParamsStruct_TYP;
    const struct
    {
        const char* field;
        size_t offset;
        size_t expected;
    } cases[] = {
        {"eye", offsetof(P, eye), 0},
        {"lookAt", offsetof(P, lookAt), 12},
        {"up", offsetof(P, up), 24},
        {"window", offsetof(P, window), 36},
        {"secondWindow", offsetof(P, secondWindow), 52},
        {"zNear", offsetof(P, zNear), 68},
        {"zFar", offsetof(P, zFar), 72},
        {"orthographic", offsetof(P, orthographic), 76},
        {"autoNearFar", offsetof(P, autoNearFar), 77},
        {"reserved", offsetof(P, reserved), 78},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.offset, c.expected) << c.field;
}

TEST(View, ConstructorWindowAndWholeViewMatrices)
{
    for (uint8_t orthographic : {0, 1})
    {
        SCOPED_TRACE(orthographic ? "orthographic" : "perspective");
        auto v = ExampleCamera(orthographic);
        const float window[4] = {-2.0f, 2.0f, 1.5f, -1.5f};
        for (int i = 0; i < 4; ++i)
        {
            EXPECT_EQ(v->params.window[i], window[i]);
            EXPECT_EQ(v->params.secondWindow[i], window[i]);
        }
        EXPECT_EQ(v->params.up[1], 1.0f); // normalised
        EXPECT_EQ(v->params.autoNearFar, 0);
        EXPECT_EQ(v->matricesValid, 0);
        EXPECT_EQ(v->refCount, 1u);

        ASSERT_EQ(v->Update(), S_OK);
        EXPECT_EQ(v->matricesValid, 1);
        // The perspective window moves from the look-at plane to the near plane (factor near / 10); the
        // top-edge value sits where the function takes the minimum y.
        const D3DXMATRIX expected = orthographic ? Projection(true, -2.0f, 2.0f, 1.5f, -1.5f)
                                                 : Projection(false, -0.2f, 0.2f, 0.15f, -0.15f);
        ExpectMatrixNear(*v->projectionMatrix, expected, "projection");

        D3DXMATRIX view, viewProjection, inverse, product, identity;
        const D3DXVECTOR3 eye(0, 0, 10), at(0, 0, 0), up(0, 1, 0);
        D3DXMatrixLookAtRH(&view, &eye, &at, &up);
        ASSERT_EQ(v->GetViewMatrix(&view), S_OK);
        ExpectMatrixNear(view, *v->viewMatrix, "view");
        ASSERT_EQ(v->GetViewProjectionMatrix(&viewProjection), S_OK);
        ExpectMatrixNear(viewProjection, view * expected, "view x projection");
        ASSERT_EQ(v->GetInverseViewProjectionMatrix(&inverse), S_OK);
        D3DXMatrixMultiply(&product, &viewProjection, &inverse);
        ExpectMatrixNear(product, *D3DXMatrixIdentity(&identity), "inverse");
    }
}

TEST(View, EyeOnTheLookAtPointCannotProject)
{
    View_ v(D3DXVECTOR3(1, 2, 3), D3DXVECTOR3(1, 2, 3), D3DXVECTOR3(0, 0, 1), 0, 4, 3, kNear, kFar);
    auto b = BackBufferWithParts({{RECT{0, 0, 400, 300}, POINT{100, 50}}});
    D3DXMATRIX m;
    std::vector<D3DXPLANE> planes(1);
    EXPECT_EQ(v.Update(), E_FAIL);
    EXPECT_EQ(v.GetViewProjectionMatrix(&m), E_FAIL);
    EXPECT_EQ(v.GetInverseViewProjectionMatrix(&m), E_FAIL);
    EXPECT_EQ(v.GetFrustumPlanes(&planes), E_FAIL);
    EXPECT_EQ(planes.size(), 1u);
    EXPECT_EQ(v.UpdatePartProjection(b->parts[0]), E_FAIL);
    EXPECT_EQ(v.GetPartProjectionMatrix(&m), E_FAIL);
    EXPECT_EQ(v.GetViewPartProjectionMatrix(&m), E_FAIL);
    EXPECT_EQ(v.matricesValid, 0);
    EXPECT_EQ(v.partProjectionValid, 0);
}

TEST(View, EveryChangeOfTheBlockClearsBothValidBytes)
{
    const struct
    {
        const char* name;
        std::function<void(View_&)> change;
    } cases[] = {
        {"SetLookAt eye only",
         [](View_& v)
         {
             const D3DXVECTOR3 eye(0, 0, 20);
             v.SetLookAt(&eye, nullptr, nullptr);
         }},
        {"SetLookAt nothing", [](View_& v) { v.SetLookAt(nullptr, nullptr, nullptr); }},
        {"SetParams", [](View_& v) { v.SetParams(v.params); }},
        {"SetNearFar", [](View_& v) { v.SetNearFar(2, 50); }},
    };
    auto b = BackBufferWithParts({{RECT{0, 0, 400, 300}, POINT{100, 50}}});
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        auto v = ExampleCamera(0);
        ASSERT_EQ(v->Update(), S_OK);
        ASSERT_EQ(v->UpdatePartProjection(b->parts[0]), S_OK);
        ASSERT_EQ(v->partProjectionValid, 1);
        c.change(*v);
        EXPECT_EQ(v->matricesValid, 0);
        EXPECT_EQ(v->partProjectionValid, 0);
    }

    // Only the eye given: look-at point and up stay.
    auto v = ExampleCamera(0);
    const D3DXVECTOR3 eye(5, 0, 10);
    v->SetLookAt(&eye, nullptr, nullptr);
    D3DXVECTOR3 gotEye, gotAt, gotUp;
    v->GetLookAt(&gotEye, &gotAt, &gotUp);
    EXPECT_EQ(gotEye, eye);
    EXPECT_EQ(gotAt, D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(gotUp, D3DXVECTOR3(0, 1, 0));
}

TEST(View, PartProjectionShowsItsPieceOfTheWindowUpright)
{
    // Perspective window at the near plane: (-0.2, 0.2) across, 0.15 top and -0.15 bottom; orthographic
    // window as stored: (-2, 2), 1.5 top, -1.5 bottom.
    struct Case
    {
        const char* name;
        uint8_t orthographic;
        std::vector<PartLayout> parts;
        size_t index;
        float l, r, bottom, top;
    };
    const std::vector<PartLayout> whole = {{RECT{0, 0, 400, 300}, POINT{100, 50}}};
    // Split at x = 300 of the 400-pixel-wide client area.
    const std::vector<PartLayout> split = {{RECT{0, 0, 300, 300}, POINT{100, 50}},
                                           {RECT{0, 0, 100, 300}, POINT{400, 50}}};
    const std::vector<PartLayout> rows = {{RECT{0, 0, 400, 100}, POINT{100, 50}},
                                          {RECT{0, 0, 400, 200}, POINT{100, 150}}};
    const Case cases[] = {
        // One part covering the view: the whole-view projection with its last two arguments exchanged.
        {"whole, perspective", 0, whole, 0, -0.2f, 0.2f, -0.15f, 0.15f},
        {"whole, orthographic", 1, whole, 0, -2.0f, 2.0f, -1.5f, 1.5f},
        {"left three quarters", 0, split, 0, -0.2f, 0.1f, -0.15f, 0.15f},
        {"last quarter", 0, split, 1, 0.1f, 0.2f, -0.15f, 0.15f},
        {"top third", 1, rows, 0, -2.0f, 2.0f, 0.5f, 1.5f},
        {"bottom two thirds", 1, rows, 1, -2.0f, 2.0f, -1.5f, 0.5f},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        auto v = ExampleCamera(c.orthographic);
        auto b = BackBufferWithParts(c.parts);
        ASSERT_EQ(v->UpdatePartProjection(b->parts[c.index]), S_OK);
        EXPECT_EQ(v->matricesValid, 0); // a part projection leaves the whole view alone
        D3DXMATRIX part, viewPart, view;
        ASSERT_EQ(v->GetPartProjectionMatrix(&part), S_OK);
        ExpectMatrixNear(part, Projection(c.orthographic, c.l, c.r, c.bottom, c.top), "part projection");
        ASSERT_EQ(v->GetViewPartProjectionMatrix(&viewPart), S_OK);
        ASSERT_EQ(v->GetViewMatrix(&view), S_OK);
        ExpectMatrixNear(viewPart, view * part, "view x part projection");
    }
}

TEST(View, PartProjectionIsRemadeOnlyForAnotherPartOrPlace)
{
    auto v = ExampleCamera(0);
    auto b =
        BackBufferWithParts({{RECT{0, 0, 300, 300}, POINT{100, 50}}, {RECT{0, 0, 100, 300}, POINT{400, 50}}});
    BackBufferPart_* left = b->parts[0];
    BackBufferPart_* right = b->parts[1];
    ASSERT_EQ(v->Update(), S_OK);

    // The same part again recomputes nothing: a marked matrix survives.
    ASSERT_EQ(v->UpdatePartProjection(left), S_OK);
    v->partProjectionMatrix->_44 = 42.0f;
    v->viewProjectionMatrix->_44 = 43.0f;
    ASSERT_EQ(v->UpdatePartProjection(left), S_OK);
    EXPECT_EQ(v->partProjectionMatrix->_44, 42.0f);

    // Another part recomputes the part projection only.
    ASSERT_EQ(v->UpdatePartProjection(right), S_OK);
    EXPECT_NE(v->partProjectionMatrix->_44, 42.0f);
    EXPECT_EQ(v->viewProjectionMatrix->_44, 43.0f);
    EXPECT_EQ(v->projectionPart, right);

    // A part rebuilt at the same address for another place is not the part the projection was made for.
    v->partProjectionMatrix->_44 = 42.0f;
    right->screenRect = RECT{100, 50, 500, 350};
    ASSERT_EQ(v->UpdatePartProjection(right), S_OK);
    D3DXMATRIX part;
    ASSERT_EQ(v->GetPartProjectionMatrix(&part), S_OK);
    ExpectMatrixNear(part, Projection(false, -0.2f, 0.2f, -0.15f, 0.15f), "moved part");
}

TEST(View, HeightForWidthKeepsTheClientAspect)
{
    const struct
    {
        const char* name;
        RECT client;
        float width;
        HRESULT hr;
        float height;
    } cases[] = {
        {"400 x 300", RECT{10, 20, 410, 320}, 8.0f, S_OK, 6.0f},
        {"tall", RECT{0, 0, 100, 400}, 2.0f, S_OK, 8.0f},
        {"no height", RECT{0, 0, 400, 0}, 8.0f, E_FAIL, 0.0f},
        {"no width", RECT{0, 0, 0, 300}, 8.0f, E_FAIL, 0.0f},
        {"empty", RECT{5, 5, 5, 5}, 8.0f, E_FAIL, 0.0f},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        BackBuffer_ b(nullptr, nullptr);
        b.clientRect = c.client;
        float height = -1.0f;
        EXPECT_EQ(View_::HeightForWidth(&b, c.width, &height), c.hr);
        EXPECT_EQ(height, c.height);
    }
}

TEST(View, FrustumPlanesBoundTheWholeView)
{
    auto v = ExampleCamera(0);
    std::vector<D3DXPLANE> planes = {D3DXPLANE(1, 2, 3, 4), D3DXPLANE(5, 6, 7, 8)};
    ASSERT_EQ(v->GetFrustumPlanes(&planes), S_OK);
    ASSERT_EQ(planes.size(), 8u);
    EXPECT_EQ(planes[1].d, 8.0f); // what was there stays

    // The look-at point is inside: every plane sees it on its inner side.
    const D3DXVECTOR3 inside(0, 0, 0);
    float insideSide[6];
    for (int i = 0; i < 6; ++i)
    {
        insideSide[i] = D3DXPlaneDotCoord(&planes[2 + i], &inside);
        ASSERT_NE(insideSide[i], 0.0f) << i;
    }
    // Points just beyond one face are outside of that plane only. The near plane is at z = 9, the far
    // plane at z = -90; on the look-at plane the view spans x -2..2 and y -1.5..1.5. The whole-view
    // projection puts the top edge at clip y = -1, so the "y = +1" plane bounds the bottom.
    const struct
    {
        const char* name;
        D3DXVECTOR3 point;
        int plane;
    } cases[] = {
        {"before near", D3DXVECTOR3(0, 0, 9.5f), 0}, {"beyond far", D3DXVECTOR3(0, 0, -95), 1},
        {"left", D3DXVECTOR3(-2.5f, 0, 0), 2},       {"right", D3DXVECTOR3(2.5f, 0, 0), 3},
        {"below", D3DXVECTOR3(0, -2, 0), 4},         {"above", D3DXVECTOR3(0, 2, 0), 5},
    };
    for (const auto& c : cases)
    {
        for (int i = 0; i < 6; ++i)
        {
            const float side = D3DXPlaneDotCoord(&planes[2 + i], &c.point);
            EXPECT_EQ(side * insideSide[i] < 0, i == c.plane) << c.name << ", plane " << i;
        }
    }
}
