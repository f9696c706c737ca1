// Materials built from colours, parameters and descriptions, described back and cloned.
#include "material_fixture.h"

#include <cmath>
#include <limits>

#include "engine/core/globals.h"
#include "platform/win32/kernel_hooks.h"

using LMK::Material_;
using LMK::MaterialDescriptionStruct_TYP;
using materialtest::Describe;
using materialtest::Differences;
using materialtest::MaterialTest;
using materialtest::Rgba;
using materialtest::SampleDescription;

namespace
{
bool SameColor(const D3DCOLORVALUE& a, const D3DCOLORVALUE& b)
{
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}
} // namespace

TEST(MaterialColor, ArgbBytesBecomeFractionsOf255)
{
    const struct
    {
        DWORD argb;
        D3DCOLORVALUE expected;
    } cases[] = {
        {0xFF000000u, {0.0f, 0.0f, 0.0f, 1.0f}},
        {0x80FF0033u, {1.0f, 0.0f, 0.2f, 128.0f / 255.0f}},
        {0x00010203u, {1.0f / 255.0f, 2.0f / 255.0f, 3.0f / 255.0f, 0.0f}},
    };
    for (const auto& c : cases)
    {
        D3DCOLORVALUE out{};
        LMK::ColorValueFromArgb(&out, c.argb);
        EXPECT_TRUE(SameColor(out, c.expected)) << std::hex << c.argb << " -> " << Rgba(out);
    }
}

TEST_F(MaterialTest, ConstructorsSetTheirDefaults)
{
    LMK::AllGlobals_* root = LMK::CurrentGlobals;
    Material_ colour(0.1f, 0.2f, 0.3f, 0.4f, true);
    EXPECT_TRUE(SameColor(colour.material.Diffuse, Rgba(0.1f, 0.2f, 0.3f, 0.4f)));
    EXPECT_TRUE(SameColor(colour.material.Ambient, Rgba(0, 0, 0, 0)));
    EXPECT_EQ(colour.material.Power, 0.0f);
    EXPECT_TRUE(SameColor(colour.storedDiffuse, colour.material.Diffuse));
    EXPECT_EQ(colour.flags, LMK::kMaterialTwoSided);
    EXPECT_EQ(colour.reflectionWeight, 1.0f);
    EXPECT_EQ(colour.bumpHeight, 1.0f);
    EXPECT_EQ(colour.mirrorReflectivity, 0.5f);
    EXPECT_EQ(colour.carriedByteA, 1);
    EXPECT_EQ(colour.loadRecord, nullptr);

    Material_ params(nullptr, nullptr, nullptr, nullptr, true, false, true, 0.3f, 4.0f, true, 1);
    EXPECT_TRUE(SameColor(params.material.Diffuse, Rgba(0.5f, 0.5f, 0.2f, 1.0f)));
    EXPECT_TRUE(SameColor(params.material.Ambient, Rgba(0.05f, 0.05f, 0.05f, 1.0f)));
    EXPECT_TRUE(SameColor(params.material.Specular, Rgba(0.5f, 0.5f, 0.5f, 1.0f)));
    EXPECT_TRUE(SameColor(params.material.Emissive, Rgba(0, 0, 0, 1.0f)));
    EXPECT_EQ(params.material.Power, 10.0f);
    EXPECT_EQ(params.flags, LMK::kMaterialKeepDiffuse | LMK::kMaterialAlphaTest);
    EXPECT_EQ(params.reflectionWeight, 0.3f);
    EXPECT_EQ(params.bumpHeight, 4.0f);
    EXPECT_EQ(params.baseAsReflection, 1);
    EXPECT_EQ(params.baseTransform, nullptr); // point sampling asks nothing without a base texture

    // The root's default material: grey, made once on first use, gone with the root.
    root->GetDefaultMaterial();
    Material_* first = root->defaultMaterial;
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(SameColor(first->material.Diffuse, Rgba(0.5f, 0.5f, 0.5f, 1.0f)));
    EXPECT_EQ(first->flags & LMK::kMaterialTwoSided, 0u);
    root->GetDefaultMaterial();
    EXPECT_EQ(root->defaultMaterial, first);
}

TEST_F(MaterialTest, ApiChecksStartAndArguments)
{
    Material_* m = nullptr;
    MaterialDescriptionStruct_TYP d = SampleDescription();
    MaterialDescriptionStruct_TYP* out = nullptr;
    EXPECT_EQ(LRCreateMaterialFromColor(1, 1, 1, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(LRCreateMaterialFromDescription(nullptr, &m), E_INVALIDARG);
    EXPECT_EQ(LRCreateMaterialFromDescription(&d, nullptr), E_INVALIDARG);
    EXPECT_EQ(LRGetMaterialDescription(nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(LRFreeMaterialDescription(nullptr), E_INVALIDARG);
    EXPECT_EQ(LRFreeMaterialDescription(&out), S_OK);
    EXPECT_EQ(LRLoadMaterial(nullptr, &m), E_INVALIDARG);
    EXPECT_EQ(LRLoadMaterial("a.mat", nullptr), E_INVALIDARG);

    ASSERT_EQ(LRCreateMaterialFromColor(1, 0, 0, 1, &m), S_OK);
    LMK::LoadedPart_* part = m;
    EXPECT_EQ(LRReleaseLoadedPart(&part), S_OK);
    EXPECT_EQ(part, nullptr);

    while (LMK::CurrentGlobals)
        LRStop();
    m = reinterpret_cast<Material_*>(1);
    EXPECT_EQ(LRCreateMaterialFromColor(1, 1, 1, 1, &m), E_FAIL);
    EXPECT_EQ(LRCreateMaterialFromDescription(&d, &m), E_FAIL);
    EXPECT_EQ(LRLoadMaterial("a.mat", &m), E_FAIL);
    // Describing needs no engine.
    Material_ local(0.5f, 0.5f, 0.5f, 1.0f, false);
    ASSERT_EQ(LRGetMaterialDescription(&local, &out), S_OK);
    EXPECT_EQ(out->material.Diffuse.r, 0.5f);
    EXPECT_EQ(LRFreeMaterialDescription(&out), S_OK);
    EXPECT_EQ(out, nullptr);
}

TEST_F(MaterialTest, StartTimeComesFromTheMultimediaClock)
{
    ferolt::hooks::InstallManualClock(5000);
    Material_* a = Make(SampleDescription());
    ferolt::hooks::AdvanceClock(250);
    Material_ b(1, 1, 1, 1, false);
    Material_* c = a->Clone();
    ferolt::hooks::RemoveManualClock();
    EXPECT_EQ(a->startTime, 5000u);
    EXPECT_EQ(b.startTime, 5250u);
    EXPECT_EQ(c->startTime, 5250u); // a clone runs its animations on its own phase
    a->Release();
    c->Release();
}

// What a description builds and what the material reports back.
TEST_F(MaterialTest, DescriptionRoundTrip)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case
    {
        const char* title;
        void (*edit)(MaterialDescriptionStruct_TYP&);
        BYTE transparentMirrors;
        float drawnPower;                               // the material's power
        float drawnAlpha;                               // the material's diffuse alpha
        bool transparent;                               // IsTransparent
        void (*expect)(MaterialDescriptionStruct_TYP&); // the description read back, from the input
    };
    const Case cases[] = {
        {"every field carried",
         [](MaterialDescriptionStruct_TYP& d)
         {
             d.keepDiffuse = d.alphaTest = d.twoSided = 1;
             d.additiveReflection = 1;
             d.variant20000 = d.variant40000 = d.variant80000 = 1;
             d.carriedByteB = 1;
             d.invertedByteA = 1;
             d.changeModesPresent = 1;
             for (int i = 0; i < LMK::kChangeFieldCount; ++i)
                 d.changeModes.modes[i] = i % 6;
             d.baseTransformPresent = d.reflectionTransformPresent = d.bumpTransformPresent = 1;
             d.baseTransform.matrix._41 = 0.5f;
             d.baseTransform.addressU = 3;
             d.baseTransform.pointFilter = 1;
             d.bumpTransform.speed = 2.0f;
             d.reflectionTransform.borderColor = 0xFF00FF00u;
         },
         0, 20.0f, 0.5f, true, nullptr},
        {"power 0.5 becomes 5", [](MaterialDescriptionStruct_TYP& d) { d.material.Power = 0.5f; }, 0, 5.0f,
         0.5f, true, [](MaterialDescriptionStruct_TYP& d) { d.material.Power = 5.0f; }},
        {"power -2 becomes 5", [](MaterialDescriptionStruct_TYP& d) { d.material.Power = -2.0f; }, 0, 5.0f,
         0.5f, true, [](MaterialDescriptionStruct_TYP& d) { d.material.Power = 5.0f; }},
        {"power 0 stays", [](MaterialDescriptionStruct_TYP& d) { d.material.Power = 0.0f; }, 0, 0.0f, 0.5f,
         true, nullptr},
        {"power 1 stays", [](MaterialDescriptionStruct_TYP& d) { d.material.Power = 1.0f; }, 0, 1.0f, 0.5f,
         true, nullptr},
        {"opaque", [](MaterialDescriptionStruct_TYP& d) { d.material.Diffuse.a = 1.0f; }, 0, 20.0f, 1.0f,
         false, nullptr},
        {"an unordered alpha counts as transparent",
         [](MaterialDescriptionStruct_TYP& d)
         { d.material.Diffuse.a = std::numeric_limits<float>::quiet_NaN(); },
         0, 20.0f, nan, true, nullptr},
        {"a mirror is built opaque without transparent mirrors",
         [](MaterialDescriptionStruct_TYP& d) { d.mirror = 1; }, 0, 20.0f, 1.0f, false, nullptr},
        {"a mirror keeps its alpha with transparent mirrors",
         [](MaterialDescriptionStruct_TYP& d) { d.mirror = 1; }, 1, 20.0f, 0.5f, true, nullptr},
        {"a bump transform goes with bump-from-base",
         [](MaterialDescriptionStruct_TYP& d)
         {
             d.bumpFromBase = 1;
             d.bumpTransformPresent = 1;
             d.bumpTransform.speed = 3.0f;
         },
         0, 20.0f, 0.5f, true,
         [](MaterialDescriptionStruct_TYP& d)
         {
             d.bumpTransformPresent = 0;
             LMK::SetIdentityTextureTransform(&d.bumpTransform);
         }},
        {"effect indices of still or unknown effects become 0",
         [](MaterialDescriptionStruct_TYP& d)
         {
             d.baseTransformPresent = d.bumpTransformPresent = d.reflectionTransformPresent = 1;
             d.baseTransform.effectIndex = 2; // still
             d.bumpTransform.animated = 1;
             d.bumpTransform.effectIndex = 3; // past the table of 3
             d.reflectionTransform.animated = 1;
             d.reflectionTransform.effectIndex = 2; // kept
         },
         0, 20.0f, 0.5f, true,
         [](MaterialDescriptionStruct_TYP& d)
         {
             d.baseTransform.effectIndex = 0;
             d.bumpTransform.effectIndex = 0;
         }},
    };
    LMK::AllGlobals_* root = LMK::CurrentGlobals;
    const DWORD effects = root->textureEffectCount;
    root->textureEffectCount = 3;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        BYTE option = c.transparentMirrors;
        LRSwapTransparentMirrorsOption(&option);
        MaterialDescriptionStruct_TYP in = SampleDescription();
        c.edit(in);
        Material_* m = Make(in);
        LRSwapTransparentMirrorsOption(&option);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->material.Power, c.drawnPower);
        if (std::isnan(c.drawnAlpha))
            EXPECT_TRUE(std::isnan(m->material.Diffuse.a));
        else
            EXPECT_EQ(m->material.Diffuse.a, c.drawnAlpha);
        EXPECT_EQ(m->IsTransparent(), c.transparent);
        EXPECT_EQ(m->name, nullptr);

        MaterialDescriptionStruct_TYP* back = nullptr;
        ASSERT_EQ(LRGetMaterialDescription(m, &back), S_OK);
        MaterialDescriptionStruct_TYP expected = in;
        if (c.expect) c.expect(expected);
        EXPECT_EQ(Differences(*back, expected), "");
        LRFreeMaterialDescription(&back);
        m->Release();
    }
    root->textureEffectCount = effects;
}

TEST_F(MaterialTest, CloneIsIndependent)
{
    MaterialDescriptionStruct_TYP d = SampleDescription();
    d.changeModesPresent = 1;
    d.baseTransformPresent = 1;
    d.baseTransform.matrix._41 = 0.25f;
    d.mirror = 1;
    d.carriedByteB = 1;
    Material_* original = Make(d);
    original->material.Diffuse.g = 0.9f; // as a draw-time change leaves it: the clone copies it
    Material_* copy = original->Clone();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->refCount, 1u);
    EXPECT_EQ(copy->loadRecord, nullptr);
    EXPECT_EQ(Differences(Describe(copy), Describe(original)), "");
    EXPECT_TRUE(SameColor(copy->material.Diffuse, original->material.Diffuse));
    ASSERT_NE(copy->changeModes, nullptr);
    ASSERT_NE(copy->baseTransform, nullptr);
    EXPECT_NE(copy->changeModes, original->changeModes);
    EXPECT_NE(copy->baseTransform, original->baseTransform);

    const MaterialDescriptionStruct_TYP before = Describe(original);
    copy->baseTransform->matrix._41 = 0.75f;
    copy->changeModes->modes[0] = 4;
    copy->material.Ambient.r = 1.0f;
    EXPECT_EQ(Differences(Describe(original), before), "");
    original->Release(); // the clone owns nothing of the original
    EXPECT_EQ(copy->baseTransform->matrix._41, 0.75f);
    copy->Release();
}
