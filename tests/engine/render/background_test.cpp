// Every kind of background drawn at 64 x 48 from the origin: the pixels show the colour, the gradient
// or the picture's texel that the background's geometry puts in each direction; and the overlay.
#include "engine/core/lr_texture_api.h"
#include "engine/render/environment.h"
#include "render_view_fixture.h"

#include <cmath>

namespace
{
using namespace rendertest;

constexpr LONG kWidth = 64, kHeight = 48;

class BackgroundTest : public RenderViewTest
{
protected:
    void SetUp() override
    {
        RenderViewTest::SetUp();
        bb_ = StartWithWindow(kWidth, kHeight, &window_);
    }
    void TearDown() override
    {
        if (LMK::CurrentGlobals)
        {
            LRReleaseEnvironment(&environment_);
            for (LMK::Texture_*& t : textures_)
                LRReleaseTexture(&t);
        }
        RenderViewTest::TearDown();
    }

    LMK::Texture_* Picture(DWORD width, DWORD height, const std::vector<DWORD>& pixels)
    {
        LMK::Texture_* t = nullptr;
        EXPECT_EQ(LRCreateTextureFromPixels(pixels.data(), nullptr, width, height, nullptr, &t), S_OK);
        textures_.push_back(t);
        return t;
    }
    LMK::Texture_* Solid(DWORD argb) { return Picture(1, 1, {argb}); }

    // Draws the background alone, the camera at the origin looking along `direction` with z up and a
    // 90-degree field across.
    void Draw(const LMK::EnvironmentStruct_TYP& d, D3DXVECTOR3 direction)
    {
        LRReleaseEnvironment(&environment_);
        ASSERT_EQ(LRCreateEnvironment(&d, &environment_), S_OK);
        if (camera_) LRReleaseView(&camera_);
        const D3DXVECTOR3 eye(0, 0, 0),
            up = std::fabs(direction.z) > 0.9f ? D3DXVECTOR3(1, 0, 0) : D3DXVECTOR3(0, 0, 1);
        ASSERT_EQ(LRCreateView(&eye, &direction, &up, 0, 2.0f, 1.5f, 0.5f, 50.0f, &camera_), S_OK);
        LMK::RenderViewStruct_TYP v = Record(bb_);
        v.environment = environment_;
        ASSERT_EQ(Render(&v, {}), S_OK);
    }

    uint32_t At(LONG x, LONG y) { return backend_.Pixel(window_, x, y) & 0xFFFFFF; }

    HWND window_ = nullptr;
    LMK::BackBuffer_* bb_ = nullptr;
    LMK::Environment_* environment_ = nullptr;
    std::vector<LMK::Texture_*> textures_;
};

LMK::EnvironmentStruct_TYP Description(DWORD type, std::vector<LMK::Texture_*>* textures = nullptr)
{
    LMK::EnvironmentStruct_TYP d;
    LRInitEnvironmentStruct(&d);
    d.type = type;
    if (textures)
    {
        d.textureCount = static_cast<DWORD>(textures->size());
        d.textures = textures->data();
    }
    return d;
}

Rgb Mix(float f, Rgb a, Rgb b)
{
    return {static_cast<int>(f * a.r + (1 - f) * b.r), static_cast<int>(f * a.g + (1 - f) * b.g),
            static_cast<int>(f * a.b + (1 - f) * b.b)};
}

// The plain colour fills the view; a gradient sphere seen level shows, at each row, the gradient's texel
// at v = 0.5 - elevation / pi: colour 0 to 1 above the horizon, 2 to 3 below.
TEST_F(BackgroundTest, ColoursAndGradient)
{
    LMK::EnvironmentStruct_TYP plain = Description(LMK::EnvironmentPlainColor);
    plain.colors[0] = {0.25f, 0.5f, 0.75f, 1.0f};
    Draw(plain, {1, 0, 0});
    EXPECT_EQ(At(0, 0), 0x3F7FBFu);
    EXPECT_EQ(At(63, 47), 0x3F7FBFu);

    LMK::EnvironmentStruct_TYP gradient = Description(LMK::EnvironmentGradientSphere);
    const Rgb c[4] = {{0, 64, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 255}};
    for (int k = 0; k < 4; ++k)
        gradient.colors[k] = {c[k].r / 255.0f, c[k].g / 255.0f, c[k].b / 255.0f, 1.0f};
    Draw(gradient, {1, 0, 0});
    for (LONG y : {0, 6, 12, 20, 28, 36, 47})
    {
        SCOPED_TRACE(y);
        const float elevation = std::atan(0.75f * (1.0f - 2.0f * (static_cast<float>(y) + 0.5f) / kHeight));
        const float texel = (0.5f - elevation / D3DX_PI) * 512.0f - 0.5f;
        const Rgb expected = texel < 255.0f ? Mix((255.0f - texel) / 255.0f, c[0], c[1])
                                            : Mix((511.0f - texel) / 255.0f, c[2], c[3]);
        EXPECT_TRUE(Near(At(32, y), expected, 6)) << std::hex << At(32, y);
    }
}

// Eight columns of colours round the sphere: u = 1 - angle / 2 pi, so column k lies at the angle
// 2 pi (1 - (k + 0.5) / 8).
TEST_F(BackgroundTest, TexturedSphere)
{
    std::vector<DWORD> columns;
    for (DWORD k = 0; k < 8; ++k)
        columns.push_back(0xFF000000 | (k * 0x20 + 0x10) << 16 | (0xF0 - k * 0x20) << 8 | 0x80);
    std::vector<LMK::Texture_*> pictures = {Picture(8, 1, columns)};
    for (DWORD k : {0u, 2u, 5u})
    {
        SCOPED_TRACE(k);
        const double angle = 2 * D3DX_PI * (1.0 - (k + 0.5) / 8.0);
        Draw(Description(LMK::EnvironmentTexturedSphere, &pictures),
             {static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle)), 0});
        const DWORD expected = columns[k] & 0xFFFFFF;
        EXPECT_TRUE(Near(At(32, 24), Split(expected), 6)) << std::hex << At(32, 24) << " for " << expected;
    }
}

// Three pictures round the panorama, each over a third of a turn and a little more; more pictures than
// segments; six on the cube's faces, the seventh and eighth left out.
TEST_F(BackgroundTest, PanoramaAndCube)
{
    const DWORD colours[8] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00,
                              0xFF00FFFF, 0xFFFF00FF, 0xFF808080, 0xFF404040};
    std::vector<LMK::Texture_*> pictures;
    for (DWORD c : colours)
        pictures.push_back(Solid(c));

    std::vector<LMK::Texture_*> three(pictures.begin(), pictures.begin() + 3);
    LMK::EnvironmentStruct_TYP panorama = Description(LMK::EnvironmentPanorama, &three);
    panorama.viewAngle = D3DX_PI / 2;
    const float degrees[3] = {60, 180, 300};
    for (int k = 0; k < 3; ++k)
    {
        SCOPED_TRACE(degrees[k]);
        const float a = degrees[k] * D3DX_PI / 180;
        Draw(panorama, {std::cos(a), std::sin(a), 0});
        EXPECT_EQ(At(32, 24), colours[k] & 0xFFFFFF) << std::hex << At(32, 24);
        EXPECT_EQ(At(32, 47), colours[k] & 0xFFFFFF) << "the floor under the picture takes its colour";
    }

    // Each of the three pictures takes 32 / 3 = 10 segments: a wall of 10 quads and a floor and a ceiling
    // of 10 triangles each. Forty pictures still get one segment each.
    EXPECT_EQ(environment_->model->TotalFaceCount(), 3u * (2 * 10 + 10 + 10));
    std::vector<LMK::Texture_*> forty(40, pictures[0]);
    LMK::EnvironmentStruct_TYP many = Description(LMK::EnvironmentPanorama, &forty);
    many.viewAngle = D3DX_PI / 2;
    Draw(many, {1, 0, 0});
    EXPECT_EQ(environment_->model->TotalFaceCount(), 40u * (2 + 1 + 1));
    EXPECT_EQ(At(32, 24), colours[0] & 0xFFFFFF);

    LMK::EnvironmentStruct_TYP cube = Description(LMK::EnvironmentCube, &pictures);
    const D3DXVECTOR3 faces[6] = {{1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (int f = 0; f < 6; ++f)
    {
        SCOPED_TRACE(f);
        Draw(cube, faces[f]);
        EXPECT_EQ(At(32, 24), colours[f] & 0xFFFFFF) << std::hex << At(32, 24);
        EXPECT_EQ(At(1, 1), colours[f] & 0xFFFFFF) << "a face fills the view's corner";
    }
}

// A picture of four quadrants, whatever way the camera looks: top left, top right, bottom left, bottom
// right in the four quarters of the view. The crop rectangle shows only the bottom-right quadrant; a
// screen picture mapped through its texture matrix moves.
TEST_F(BackgroundTest, Pictures)
{
    const DWORD tl = 0xFFFF0000, tr = 0xFF00FF00, bl = 0xFF0000FF, br = 0xFFFFFF00;
    std::vector<DWORD> pixels(16);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            pixels[4 * y + x] = y < 2 ? (x < 2 ? tl : tr) : (x < 2 ? bl : br);
    std::vector<LMK::Texture_*> pictures = {Picture(4, 4, pixels)};
    struct Case
    {
        const char* name;
        DWORD type;
        bool crop, textureMatrix;
        DWORD quarters[4]; // top left, top right, bottom left, bottom right of the view
    } cases[] = {
        {"fixed camera's picture", LMK::EnvironmentPicture, false, false, {tl, tr, bl, br}},
        {"screen picture", LMK::EnvironmentScreenPictureWrapped, false, false, {tl, tr, bl, br}},
        {"cropped", LMK::EnvironmentPicture, true, false, {br, br, br, br}},
        // Without a picture angle the matrix only moves v by 1 - 1/2: the halves change places.
        {"screen picture through the texture matrix",
         LMK::EnvironmentScreenPictureWrapped,
         false,
         true,
         {bl, br, tl, tr}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        LMK::EnvironmentStruct_TYP d = Description(c.type, &pictures);
        d.cropPicture = c.crop;
        d.crop[0] = 0.5f;
        d.crop[2] = 0.5f;
        d.screenPictureTextureMatrix = c.textureMatrix;
        Draw(d, {0, -1, 0.3f});
        const POINT at[4] = {{16, 12}, {48, 12}, {16, 36}, {48, 36}};
        for (int q = 0; q < 4; ++q)
            EXPECT_EQ(At(at[q].x, at[q].y), c.quarters[q] & 0xFFFFFF) << q;
    }
}

// The overlay's rectangle counts from the left and the bottom of the part: 8 x 4 pixels at (2, 3) in a
// part 48 high cover x 2..9 and y 41..44.
TEST_F(BackgroundTest, OverlayFromTheBottomLeft)
{
    LMK::EnvironmentStruct_TYP d = Description(LMK::EnvironmentPlainColor);
    d.colors[0] = {0, 0, 0, 1};
    d.overlay = Picture(8, 4, std::vector<DWORD>(32, 0xFFFF8000));
    d.overlayX = 2;
    d.overlayY = 3;
    Draw(d, {1, 0, 0});
    int covered = 0;
    for (LONG y = 0; y < kHeight; ++y)
        for (LONG x = 0; x < kWidth; ++x)
            if (At(x, y) == 0xFF8000)
            {
                ++covered;
                EXPECT_TRUE(x >= 2 && x < 10 && y >= 41 && y < 45) << x << ", " << y;
            }
    EXPECT_EQ(covered, 32);

    // Partly outside the part on the left and at the bottom: only what lies inside shows.
    d.overlayX = -4;
    d.overlayY = -2;
    Draw(d, {1, 0, 0});
    covered = 0;
    for (LONG y = 0; y < kHeight; ++y)
        for (LONG x = 0; x < kWidth; ++x)
            covered += At(x, y) == 0xFF8000;
    EXPECT_EQ(covered, 4 * 2);
}
} // namespace
