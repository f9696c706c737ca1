// Layouts, operators, colour packing and aligned matrices.
#include "tests/platform/d3dx9/math_test_util.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

namespace
{

TEST(D3DXTypes, LayoutsMatchTheirPlainRecords)
{
    D3DXMATRIX m(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    const float* f = m;
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(f[i], static_cast<float>(i + 1));
    EXPECT_EQ(m.m[2][1], m._32);
    EXPECT_EQ(m(3, 0), 13.0f);
    EXPECT_EQ(D3DXMATRIX(f), m);

    const D3DVECTOR plain{1, 2, 3};
    const D3DXVECTOR3 v = plain;
    EXPECT_EQ(std::memcmp(&v, &plain, sizeof(plain)), 0);

    const D3DCOLORVALUE cv{0.1f, 0.2f, 0.3f, 0.4f};
    const D3DXCOLOR c = cv;
    const D3DCOLORVALUE& back = c;
    EXPECT_EQ(std::memcmp(&back, &cv, sizeof(cv)), 0);
}

TEST(D3DXTypes, VectorAndMatrixOperators)
{
    const D3DXVECTOR3 a(1, 2, 3), b(4, -5, 6);
    EXPECT_EQ(a + b, D3DXVECTOR3(5, -3, 9));
    EXPECT_EQ(a - b, D3DXVECTOR3(-3, 7, -3));
    EXPECT_EQ(a * 2.0f, D3DXVECTOR3(2, 4, 6));
    EXPECT_EQ(2.0f * a, a * 2.0f);
    EXPECT_EQ(b / 2.0f, D3DXVECTOR3(2, -2.5f, 3));
    EXPECT_EQ(-a, D3DXVECTOR3(-1, -2, -3));
    D3DXVECTOR3 c = a;
    c += b;
    c -= a;
    c *= 3.0f;
    c /= 3.0f;
    EXPECT_EQ(c, b);
    EXPECT_NE(c, a);

    D3DXVECTOR3 cross;
    D3DXVec3Cross(&cross, &a, &b);
    EXPECT_EQ(cross, D3DXVECTOR3(27, 6, -13));
    EXPECT_EQ(D3DXVec3Dot(&a, &b), 12.0f);
    EXPECT_EQ(D3DXVec3LengthSq(&a), 14.0f);
    D3DXVECTOR3 lo, hi, mid;
    D3DXVec3Minimize(&lo, &a, &b);
    D3DXVec3Maximize(&hi, &a, &b);
    D3DXVec3Lerp(&mid, &a, &b, 0.5f);
    EXPECT_EQ(lo, D3DXVECTOR3(1, -5, 3));
    EXPECT_EQ(hi, D3DXVECTOR3(4, 2, 6));
    EXPECT_EQ(mid, D3DXVECTOR3(2.5f, -1.5f, 4.5f));

    const D3DXVECTOR4 a4(1, 2, 3, 4);
    EXPECT_EQ(a4 * 0.5f + a4 / 2.0f, a4);
    const D3DXVECTOR2 a2(3, 4);
    EXPECT_EQ(D3DXVec2Length(&a2), 5.0f);

    D3DXMATRIX m(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    const D3DXMATRIX twice = m * 2.0f;
    EXPECT_EQ(twice._34, 24.0f);
    EXPECT_EQ(m + m, twice);
    EXPECT_EQ(twice - m, m);
    EXPECT_EQ(twice / 2.0f, m);
    EXPECT_EQ(-m + m, m * 0.0f);
    m(0, 0) = 42.0f;
    EXPECT_EQ(m._11, 42.0f);
}

TEST(D3DXTypes, ColourUnpacksAndPacksWithClamping)
{
    const D3DXCOLOR c(0x80FF4000u);
    EXPECT_EQ(c.a, 128.0f / 255.0f);
    EXPECT_EQ(c.r, 1.0f);
    EXPECT_EQ(c.g, 64.0f / 255.0f);
    EXPECT_EQ(c.b, 0.0f);

    for (DWORD argb : {0x00000000u, 0xFFFFFFFFu, 0x80FF4000u, 0x12345678u, 0x01FE7F80u})
        EXPECT_EQ(static_cast<DWORD>(D3DXCOLOR(argb)), argb) << std::hex << argb;

    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case
    {
        D3DXCOLOR colour;
        DWORD packed;
    };
    const Case cases[] = {
        {{2.0f, -1.0f, 0.5f, 1.5f}, 0xFFFF0080u},          // clamped; 0.5 rounds up to 128
        {{nan, 0.0f, 1.0f, nan}, 0x000000FFu},             // NaN packs as 0
        {{1.0f / 510.0f, 0.0f, 0.0f, 1.0f}, 0xFF010000u},  // half a step rounds up
        {{0.99f / 255.0f, 0.0f, 0.0f, 0.0f}, 0x00010000u}, // nearest step, not truncated
        {{0.49f / 255.0f, 0.0f, 0.0f, 0.0f}, 0x00000000u},
    };
    for (const auto& k : cases)
        EXPECT_EQ(static_cast<DWORD>(k.colour), k.packed) << std::hex << k.packed;

    const D3DXCOLOR x(0.2f, 0.4f, 0.6f, 1.0f), y(1.0f, 0.5f, 0.0f, 0.5f);
    D3DXCOLOR out;
    D3DXColorModulate(&out, &x, &y);
    EXPECT_EQ(out, D3DXCOLOR(0.2f, 0.2f, 0.0f, 0.5f));
    D3DXColorLerp(&out, &x, &y, 0.0f);
    EXPECT_EQ(out, x);
    D3DXColorLerp(&out, &x, &y, 1.0f);
    EXPECT_EQ(out, y);
    D3DXColorLerp(&out, &x, &y, 0.5f);
    EXPECT_NEAR(out.r, 0.6f, kTol);
    EXPECT_NEAR(out.g, 0.45f, kTol);
    EXPECT_NEAR(out.b, 0.3f, kTol);
    EXPECT_NEAR(out.a, 0.75f, kTol);
}

TEST(D3DXTypes, AlignedMatrixIsSixteenByteAlignedEverywhere)
{
    auto aligned = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 16 == 0; };
    for (int i = 0; i < 8; ++i)
    {
        // Odd-sized allocations in between shift where the allocator would otherwise place them.
        auto filler = std::make_unique<char[]>(static_cast<size_t>(i) * 8 + 4);
        std::unique_ptr<D3DXMATRIXA16> one(new D3DXMATRIXA16);
        std::unique_ptr<D3DXMATRIXA16[]> many(new D3DXMATRIXA16[3]);
        EXPECT_TRUE(aligned(one.get()));
        for (int k = 0; k < 3; ++k)
            EXPECT_TRUE(aligned(&many[k]));
        D3DXMatrixIdentity(one.get());
        EXPECT_TRUE(D3DXMatrixIsIdentity(one.get()));
    }
    struct Holder
    {
        char pad;
        D3DXMATRIXA16 m;
    };
    Holder h;
    EXPECT_TRUE(aligned(&h.m));

    D3DXMATRIXA16 a16(2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1);
    D3DXMATRIX plain;
    a16 = *D3DXMatrixIdentity(&plain);
    EXPECT_TRUE(D3DXMatrixIsIdentity(&a16));
}

TEST(D3DXTypes, AngleHelpers)
{
    EXPECT_NEAR(D3DXToRadian(180.0f), D3DX_PI, 1e-6f);
    EXPECT_NEAR(D3DXToDegree(D3DX_PI / 2), 90.0f, 1e-4f);
    EXPECT_NEAR(D3DX_PI, 3.14159265f, 1e-7f);
}

} // namespace
