// Each recipe drawn on a 2 x 2 target: the pixels must be the recipe's arithmetic on the material colour
// and the texels, and the set-up used must be the one its features lead to.
#include "tests/engine/material_apply/material_apply_fixture.h"

#include <functional>

#include "engine/core/globals.h"

using namespace applytest;

namespace
{
// Texels: the base differs left and right (and is half transparent on the right), the others are
// uniform. The bump map moves coordinates by half the texture in u.
constexpr uint32_t kBase[2] = {0xFF4080C0, 0x80FF2010};
constexpr uint32_t kReflection = 0xFF608040;
constexpr uint32_t kLightMap = 0xFFC0A080;
constexpr uint32_t kBumpSource = 0x80204060;
constexpr uint32_t kBumpHalfU = 0x0040; // V8U8: du = 64 / 127, dv = 0
constexpr Rgba kColour = {0.5f, 0.75f, 1.0f, 1.0f};

Rgba Mul(Rgba a, Rgba b)
{
    return {a.r * b.r, a.g * b.g, a.b * b.b, a.a * b.a};
}
Rgba Lerp(Rgba a, Rgba b, float f) // a * f + b * (1 - f)
{
    return {a.r * f + b.r * (1 - f), a.g * f + b.g * (1 - f), a.b * f + b.b * (1 - f),
            a.a * f + b.a * (1 - f)};
}
Rgba WithAlpha(Rgba c, float a)
{
    c.a = a;
    return c;
}
Rgba B(int x)
{
    return FromArgb(kBase[x]);
}
const Rgba R = FromArgb(kReflection), M = FromArgb(kLightMap), S = FromArgb(kBumpSource), D = kColour;

enum Tex : unsigned
{
    kUseBase = 1,
    kUseReflection = 2,
    kUseBump = 4,
    kUseLightMap = 8,
    kUseBumpSource = 16,
};

struct RecipeCase
{
    const char* name;
    DWORD mode;
    unsigned textures;
    DWORD flags;
    float weight;
    float height;
    D3DCOLOR surface;    // 0: no view
    DWORD expectedSetup; // 0xFF: no set-up (identity colours)
    std::function<Rgba(int x)> expected;
};

const RecipeCase kRecipes[] = {
    {"Base", 0, kUseBase, 0, 1, 1, 0, 0x01, [](int x) { return Mul(B(x), D); }},
    {"ReflectionBlendedByWeight", 0, kUseReflection, 0, 0.4f, 1, 0, 0x02,
     [](int) { return WithAlpha(Lerp(Mul(D, R), D, 102 / 255.0f), D.a); }},
    {"ReflectionAddedByWeight", 0, kUseReflection, LMK::kMaterialAdditiveReflection, 0.4f, 1, 0, 0x0A,
     [](int)
     {
         const Rgba c = Mul(D, R);
         const float t = 102 / 255.0f;
         return Rgba{D.r + t * c.r, D.g + t * c.g, D.b + t * c.b, D.a};
     }},
    {"BaseOverReflection", 0, kUseBase | kUseReflection, 0, 0.25f, 1, 0, 0x03,
     [](int x) { return Mul(WithAlpha(Lerp(B(x), R, 191 / 255.0f), B(x).a), D); }},
    {"BumpMovesTheBase", 0, kUseBase | kUseBump, 0, 1, 1, 0, 0x05, [](int x) { return Mul(B(1 - x), D); }},
    {"BaseUnderLightMap", 0, kUseBase | kUseLightMap, 0, 1, 1, 0, 0x11,
     [](int x) { return WithAlpha(Mul(B(x), M), B(x).a); }},
    {"BaseReflectionLightMap", 0, kUseBase | kUseReflection | kUseLightMap, 0, 0.25f, 1, 0, 0x13,
     [](int x) { return Mul(WithAlpha(Lerp(B(x), R, 191 / 255.0f), B(x).a), WithAlpha(M, 1)); }},
    {"LightMapOnly", LMK::DisplayModeLightMapOnly, kUseBase | kUseLightMap, 0, 1, 1, 0, 0x10,
     [](int) { return WithAlpha(M, D.a); }},
    {"LightMapOnlyWithoutLightMap", LMK::DisplayModeLightMapOnly, kUseBase, 0, 1, 1, 0, 0x00,
     [](int) {
         return Rgba{1, 1, 1, 1};
     }},
    {"ShadedWithEdgesBlendsTowardSurface", LMK::DisplayModeShadedWithEdges, kUseBase | kUseReflection, 0, 1,
     1, 0x80FF0000, 0x01,
     [](int x)
     {
         const Rgba s = FromArgb(0x80FF0000);
         const Rgba lit = WithAlpha(Lerp(D, s, s.a), D.a);
         return WithAlpha(Lerp(B(x), lit, s.a), B(x).a * D.a);
     }},
    {"BakingAlphaTestedKeepsTextureAlphaOnly", LMK::DisplayModeLightMapBaking, kUseBase,
     LMK::kMaterialAlphaTest, 1, 1, 0, 0x01,
     [](int x) {
         return Rgba{0, 0, 0, B(x).a};
     }},
    {"IdentityColour", LMK::DisplayModeIdColoursAll, kUseBase, 0, 1, 1, 0, 0xFF,
     [](int) { return FromArgb(0xFF123456); }},
    {"SourceMasksSecondLook", 0, kUseBase | kUseBumpSource, LMK::kMaterialVariant20000, 1, 0.5f, 0, 0x43,
     [](int x)
     {
         const float a = S.a * (127 / 255.0f);
         return WithAlpha(Lerp(S, Mul(B(x), D), a), D.a * B(x).a);
     }},
    {"SourceOverWhite", 0, kUseBase | kUseBumpSource, LMK::kMaterialVariant20000 | LMK::kMaterialVariant40000,
     1, 0.5f, 0, 0x4B,
     [](int x)
     {
         const Rgba layer = Lerp(S, Rgba{1, 1, 1, 1}, 127 / 255.0f);
         return WithAlpha(Mul(D, Mul(B(x), layer)), D.a * B(x).a);
     }},
};

void PrintTo(const RecipeCase& c, std::ostream* os)
{
    *os << c.name;
}

class RecipeRender : public ApplyTest, public ::testing::WithParamInterface<RecipeCase>
{
};

TEST_P(RecipeRender, PixelsAreTheRecipesArithmetic)
{
    const RecipeCase& c = GetParam();
    Start(8);
    LMK::CurrentGlobals->magFilter = D3DTEXF_POINT;
    MaterialPtr m = ColourMaterial(kColour);
    m->flags = c.flags;
    m->reflectionWeight = c.weight;
    m->bumpHeight = c.height;
    if (c.textures & kUseBase) m->baseTexture = Texture(0, kBase[0], kBase[1]);
    if (c.textures & kUseReflection) m->reflectionTexture = Texture(1, kReflection);
    if (c.textures & kUseBump) m->bumpTexture = Texture(2, kBumpHalfU, kBumpHalfU, D3DFMT_V8U8);
    if (c.textures & kUseBumpSource)
    {
        m->bumpTexture = Token(2); // the bump map itself has no copy here: only its source is bound
        g_bumpSources[Token(2)] = Texture(3, kBumpSource);
    }
    if (c.textures & kUseLightMap) context_.lightMap = Texture(4, kLightMap);
    LMK::RenderViewStruct_TYP view{};
    if (c.surface)
    {
        view.surfaceColor = c.surface;
        view.lightMapWeight = 1.0f;
        context_.view = &view;
    }
    context_.displayMode = c.mode;
    context_.identityColor = 0xFF123456;

    EXPECT_EQ(m->Apply(&context_, nullptr), 1u);
    EXPECT_EQ(context_.statesValid, c.expectedSetup == 0xFF ? 0 : 1);
    const std::vector<uint32_t> pixels = Draw();
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
        {
            const uint32_t want = ToArgb(c.expected(x));
            EXPECT_TRUE(Near(pixels[y * 2 + x], want)) << std::hex << "pixel (" << x << ", " << y << "): 0x"
                                                       << pixels[y * 2 + x] << ", expected 0x" << want;
        }
    if (c.expectedSetup == 0xFF)
    {
        for (const auto& e : table_)
            EXPECT_EQ(e.tested, 0);
    }
    else
    {
        EXPECT_TRUE(Entry(c.expectedSetup).tested && Entry(c.expectedSetup).valid);
    }
}

INSTANTIATE_TEST_SUITE_P(Recipes, RecipeRender, ::testing::ValuesIn(kRecipes),
                         [](const auto& info) { return std::string(info.param.name); });

// The pass set-up rejects alpha 0xFE: a texel of alpha 254 on an alpha-tested material leaves the
// background, one of 255 is drawn.
TEST_F(ApplyTest, AlphaTestRejectsAlpha254)
{
    Start(8);
    MaterialPtr m = ColourMaterial({1, 1, 1, 1});
    m->flags = LMK::kMaterialAlphaTest;
    m->baseTexture = Texture(0, 0xFE00FF00, 0xFF00FF00);
    m->Apply(&context_, nullptr);
    DWORD alphaTest = 0;
    device_->GetRenderState(D3DRS_ALPHATESTENABLE, &alphaTest);
    EXPECT_EQ(alphaTest, static_cast<DWORD>(TRUE));
    const std::vector<uint32_t> pixels = Draw(0xFF0000FF);
    EXPECT_EQ(pixels[0], 0xFF0000FFu);
    EXPECT_EQ(pixels[2], 0xFF0000FFu);
    EXPECT_EQ(pixels[1], 0xFF00FF00u);
    EXPECT_EQ(pixels[3], 0xFF00FF00u);
}
} // namespace
