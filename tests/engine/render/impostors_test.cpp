// Impostors: the cell an eye looks at, the atlas of 40 views of a box with a colour per face, and a
// batch of 200 boxes drawn as impostors against the same boxes drawn whole.
#include "render_view_fixture.h"

#include "engine/render/impostors.h"

namespace
{
using namespace rendertest;

TEST(ImpostorCells, EyeDirectionsPickTheirCell)
{
    const float a = std::sqrt(0.5f);
    struct Case
    {
        D3DXVECTOR3 d;
        UINT column, row;
    };
    // Along -X the column is 8, which wraps to 0; straight above the row is 5, which wraps to 0.
    const Case cases[] = {
        {{-1, 0, 0}, 8, 2},  {{0, -1, 0}, 2, 2}, {{1, 0, 0}, 4, 2},   {{0, 1, 0}, 6, 2},
        {{-a, -a, 0}, 1, 2}, {{-a, 0, a}, 8, 3}, {{-a, 0, -a}, 8, 1}, {{0, 0, 1}, 4, 5},
    };
    for (const Case& c : cases)
    {
        UINT column = 99, row = 99;
        LMK::ImpostorCellFor(c.d, &column, &row);
        EXPECT_EQ(column % 8, c.column % 8) << c.d.x << " " << c.d.y << " " << c.d.z;
        EXPECT_EQ(row, c.row) << c.d.x << " " << c.d.y << " " << c.d.z;
    }
    const RECT first = LMK::ImpostorCell(0, 0, 512, 256), last = LMK::ImpostorCell(7, 4, 512, 256);
    EXPECT_EQ((std::array<LONG, 4>{first.left, first.top, first.right, first.bottom}),
              (std::array<LONG, 4>{0, 0, 64, 51}));
    EXPECT_EQ((std::array<LONG, 4>{last.left, last.top, last.right, last.bottom}),
              (std::array<LONG, 4>{448, 205, 512, 256}));
}

class ImpostorTest : public RenderViewTest
{
protected:
    void SetUp() override
    {
        RenderViewTest::SetUp();
        Start({{0, 0, 128, 128}});
    }

    // +x red, -x green, +y blue, -y yellow, +z cyan, -z magenta.
    static FaceColours Coloured()
    {
        return {{{1, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 1, 1}, {1, 1, 0, 1}, {0, 1, 1, 1}, {1, 0, 1, 1}}};
    }

    // The atlas texel at (x, y), as A8R8G8B8.
    static uint32_t Texel(LMK::LoadedPart_* atlas, LONG x, LONG y)
    {
        IDirect3DTexture9* t = static_cast<LMK::ImpostorAtlas_*>(atlas)->texture;
        D3DLOCKED_RECT locked{};
        if (FAILED(t->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) return 0x12345678;
        const uint32_t texel = static_cast<const uint32_t*>(locked.pBits)[y * (locked.Pitch / 4) + x];
        t->UnlockRect(0);
        return texel;
    }
};

TEST_F(ImpostorTest, AtlasShowsEachViewOnATransparentGround)
{
    LMK::Object_* box = AddBox({0, 0, 0}, 0.5f, Coloured());
    D3DXMATRIX placed;
    D3DXMatrixTranslation(&placed, 3, 4, 5);
    *box->world = placed;
    box->BuildImpostorAtlas(0);
    ASSERT_NE(box->impostorAtlas, nullptr);
    EXPECT_EQ(box->impostorRenderMode, 0u);
    EXPECT_EQ(box->impostorAtlas->refCount, 1u);
    EXPECT_EQ(*box->world, placed) << "the object keeps its place";

    struct Cell
    {
        UINT column, row;
        uint32_t face;
    };
    // The camera looks from -X: column i shows the side the object turned by -i x 45 degrees about Z
    // brings there, row j the side its pitch j x 45 - 90 degrees brings there.
    for (const Cell& c : {Cell{0, 2, 0x00FF00}, Cell{2, 2, 0xFFFF00}, Cell{4, 2, 0xFF0000},
                          Cell{6, 2, 0x0000FF}, Cell{0, 0, 0xFF00FF}, Cell{0, 4, 0x00FFFF}})
    {
        const RECT r = LMK::ImpostorCell(c.column, c.row, 512, 256);
        const uint32_t middle = Texel(box->impostorAtlas, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
        EXPECT_TRUE(Near(middle, Split(c.face), 3) && (middle >> 24) == 0xFF)
            << "cell " << c.column << ", " << c.row << ": " << std::hex << middle;
        EXPECT_EQ(Texel(box->impostorAtlas, r.left + 1, r.top + 1), 0u)
            << "cell " << c.column << ", " << c.row;
    }

    // A mode the frame does not draw leaves no atlas rather than one of undrawn views.
    box->BuildImpostorAtlas(LMK::DisplayModeMirrorMarking);
    EXPECT_EQ(box->impostorAtlas, nullptr);
    EXPECT_EQ(box->impostorRenderMode, LMK::DisplayModeMirrorMarking);
    EXPECT_EQ(*box->world, placed);
}

// The quad faces the eye and its texture transform selects the eye's cell; straight above the box the
// side vector is not given by the eye, and the quad still gets a finite placement.
TEST_F(ImpostorTest, QuadTakesTheCellOfTheEye)
{
    LMK::Object_* box = AddBox({0, 0, 0}, 0.5f, Coloured());
    box->BuildImpostorAtlas(0);
    ASSERT_NE(box->impostorAtlas, nullptr);
    IDirect3DDevice9* device = LMK::CurrentGlobals->devices.primaryDevice->device;
    struct Case
    {
        D3DXVECTOR3 eye;
        float u, v; // the cell's offset in the texture
    };
    for (const Case& c :
         {Case{{-10, 0, 0}, 1.0f, 0.4f}, Case{{0, -10, 0}, 0.25f, 0.4f}, Case{{0, 0, 10}, 0.5f, 1.0f}})
    {
        const D3DXVECTOR3 at(0, 0, 0), up(0, 1, 0.01f);
        LMK::View_* camera = nullptr;
        ASSERT_EQ(LRCreateView(&c.eye, &at, &up, 0, 4, 4, 1, 50, &camera), S_OK);
        IDirect3DVertexBuffer9* billboard = nullptr;
        LMK::BeginImpostorDraw(device, &billboard);
        ASSERT_NE(billboard, nullptr);
        box->DrawImpostor(device, camera);
        D3DXMATRIX world, texture;
        device->GetTransform(D3DTS_WORLD, &world);
        device->GetTransform(D3DTS_TEXTURE0, &texture);
        LMK::EndImpostorDraw(device, &billboard);
        EXPECT_EQ(billboard, nullptr);
        LRReleaseView(&camera);
        EXPECT_FLOAT_EQ(texture._31, c.u) << c.eye.x << " " << c.eye.y << " " << c.eye.z;
        EXPECT_FLOAT_EQ(texture._32, c.v) << c.eye.x << " " << c.eye.y << " " << c.eye.z;
        for (int k = 0; k < 16; ++k)
            EXPECT_TRUE(std::isfinite(world.m[k / 4][k % 4]));
        // The quad's normal row points at the eye, scaled by the model's radius.
        D3DXVECTOR3 normal(world._31, world._32, world._33), toEye = c.eye;
        D3DXVec3Normalize(&normal, &normal);
        D3DXVec3Normalize(&toEye, &toEye);
        EXPECT_NEAR(D3DXVec3Dot(&normal, &toEye), 1.0f, 1e-5f);
    }
}

// A box of half size 0.5 whose opposite faces share a subset and its colour: x green, y yellow, z cyan.
// Each face is a 2 x 2 grid, so that the model has the faces an impostor needs; no subset is flat, so
// objects of it stay batched.
LMK::Model_* PairedBox()
{
    constexpr int n = 2;
    const D3DXVECTOR3 axes[6][3] = {
        {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {{-1, 0, 0}, {0, 0, 1}, {0, 1, 0}},
        {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}}, {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
        {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}}, {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}},
    };
    std::vector<LMK::RawVertexStruct_TYP> vertices;
    std::vector<DWORD> indices;
    for (const auto& f : axes)
    {
        const DWORD base = static_cast<DWORD>(vertices.size());
        for (int b = 0; b <= n; ++b)
            for (int a = 0; a <= n; ++a)
            {
                const D3DXVECTOR3 p =
                    0.5f * (f[0] + (-1.0f + 2.0f * a / n) * f[1] + (-1.0f + 2.0f * b / n) * f[2]);
                LMK::RawVertexStruct_TYP r{};
                r.position[0] = p.x;
                r.position[1] = p.y;
                r.position[2] = p.z;
                r.normal[0] = f[0].x;
                r.normal[1] = f[0].y;
                r.normal[2] = f[0].z;
                vertices.push_back(r);
            }
        auto at = [&](int a, int b) { return base + static_cast<DWORD>(b * (n + 1) + a); };
        for (int b = 0; b < n; ++b)
            for (int a = 0; a < n; ++a)
                indices.insert(indices.end(), {at(a, b), at(a + 1, b), at(a + 1, b + 1), at(a, b),
                                               at(a + 1, b + 1), at(a, b + 1)});
    }
    const float colours[3][3] = {{0, 1, 0}, {1, 1, 0}, {0, 1, 1}};
    std::vector<LMK::SubsetStruct_TYP> subsets;
    std::vector<LMK::Material_*> materials;
    for (DWORD k = 0; k < 3; ++k)
    {
        LMK::Material_* m = nullptr;
        EXPECT_EQ(LRCreateMaterialFromColor(colours[k][0], colours[k][1], colours[k][2], 1, &m), S_OK);
        materials.push_back(m);
        LMK::SubsetStruct_TYP s{};
        s.firstFace = 4 * n * n * k;
        s.faceCount = 4 * n * n;
        s.material = m;
        s.sourceIndex = LMK::kNoSourceIndex;
        subsets.push_back(s);
    }
    HRESULT hr = E_FAIL;
    auto* model = new LMK::Model_(1, vertices.data(), static_cast<DWORD>(vertices.size()), indices.data(),
                                  static_cast<DWORD>(indices.size() / 3), nullptr, 0, subsets.data(), 3,
                                  nullptr, nullptr, &hr, 0, 0, 0, nullptr, 0, 1);
    EXPECT_EQ(hr, S_OK);
    for (LMK::Material_* m : materials)
    {
        LMK::LoadedPart_* part = m;
        LRReleaseLoadedPart(&part);
    }
    return model;
}

// 200 boxes of one model in a row behind each other, seen along the row from 45 degrees between -X and
// -Y (the view of column 1, the -X face on the right): drawn as impostors they look as drawn whole.
TEST_F(ImpostorTest, BatchOfTwoHundredDrawsWithImpostorsAsTheRealView)
{
    HWND w = Window({0, 0, 128, 128});
    LMK::BackBuffer_* bb = BackBuffer(w);
    const D3DXVECTOR3 eye(-40, -40, 0), at(0, 0, 0), up(0, 0, 1);
    ASSERT_EQ(LRCreateView(&eye, &at, &up, 0, 3, 3, 1, 1000, &camera_), S_OK);
    LMK::Object_* hero = Place(PairedBox());
    std::vector<LMK::Object_*> objects = {hero};
    for (int k = 1; k < 200; ++k)
    {
        D3DXMATRIX behind;
        D3DXMatrixTranslation(&behind, 0.7f * k, 0.7f * k, 0);
        LMK::Object_* o = nullptr;
        ASSERT_EQ(LRCreateObject(hero->model, &o, &behind), S_OK);
        objects_.push_back(o);
        objects.push_back(o);
    }

    LMK::RenderViewStruct_TYP v = Record(bb);
    ASSERT_EQ(Render(&v, objects), S_OK);
    const std::vector<uint32_t> real = Pixels(w);
    for (LMK::Object_* o : objects)
        ASSERT_EQ(o->impostorAtlas, nullptr);

    v.impostorSize = 1000;
    ASSERT_EQ(Render(&v, objects), S_OK);
    const std::vector<uint32_t> impostors = Pixels(w);
    for (LMK::Object_* o : objects)
        EXPECT_EQ(o->impostorAtlas, hero->impostorAtlas);
    ASSERT_NE(hero->impostorAtlas, nullptr);

    // The atlas view is a 64 x 51 cell magnified here: along the outline the impostor's edge texels blend
    // with the transparent ground and with the next cells. Inside, two pixels away from the real outline,
    // the pictures agree but for the edge between two faces, which may move by a pixel.
    auto background = [&](int x, int y) { return real[static_cast<size_t>(y) * 128 + x] == kBackground; };
    int covered = 0, shown = 0, inside = 0, differing = 0;
    for (int y = 2; y < 126; ++y)
        for (int x = 2; x < 126; ++x)
        {
            const size_t k = static_cast<size_t>(y) * 128 + x;
            covered += !background(x, y);
            shown += impostors[k] != kBackground;
            bool interior = true;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    interior = interior && !background(x + dx, y + dy);
            if (!interior) continue;
            ++inside;
            const Rgb a = Split(real[k]), b = Split(impostors[k]);
            differing += std::abs(a.r - b.r) > 24 || std::abs(a.g - b.g) > 24 || std::abs(a.b - b.b) > 24;
        }
    ASSERT_GT(inside, 1500);
    EXPECT_LT(differing, inside / 20) << differing << " of " << inside;
    EXPECT_NEAR(shown, covered, covered / 10);

    DWORD flags = 99;
    bb->parts[0]->GetD3DDevice()->GetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, &flags);
    EXPECT_EQ(flags, static_cast<DWORD>(D3DTTFF_DISABLE))
        << "the cell transform is switched off after the impostors";
}
} // namespace
