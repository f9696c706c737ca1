#pragma once
// A started engine and helpers to build and compare materials through their descriptions.
#include "../core/engine_fixture.h"

#include <cstring>
#include <string>

#include "engine/core/lr_material_api.h"
#include "engine/core/material.h"

namespace materialtest
{
inline D3DCOLORVALUE Rgba(float r, float g, float b, float a)
{
    return D3DCOLORVALUE{r, g, b, a};
}

// A description with every field away from its default, no texture files.
inline LMK::MaterialDescriptionStruct_TYP SampleDescription()
{
    LMK::MaterialDescriptionStruct_TYP d;
    std::memset(&d, 0, sizeof(d));
    d.material.Diffuse = Rgba(0.2f, 0.3f, 0.4f, 0.5f);
    d.material.Ambient = Rgba(0.1f, 0.1f, 0.1f, 1.0f);
    d.material.Specular = Rgba(0.6f, 0.6f, 0.6f, 1.0f);
    d.material.Emissive = Rgba(0.0f, 0.0f, 0.0f, 1.0f);
    d.material.Power = 20.0f;
    d.reflectionWeight = 0.75f;
    d.bumpHeight = 2.0f;
    d.mirrorReflectivity = 0.25f;
    LMK::SetIdentityTextureTransform(&d.baseTransform);
    LMK::SetIdentityTextureTransform(&d.bumpTransform);
    LMK::SetIdentityTextureTransform(&d.reflectionTransform);
    return d;
}

inline std::string Rgba(const D3DCOLORVALUE& c)
{
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ", " +
           std::to_string(c.a) + ")";
}

// The names of the fields in which two descriptions differ; empty when they agree.
inline std::string Differences(const LMK::MaterialDescriptionStruct_TYP& a,
                               const LMK::MaterialDescriptionStruct_TYP& b)
{
    std::string out;
    auto check = [&](const char* name, const void* x, const void* y, size_t n)
    {
        if (std::memcmp(x, y, n) != 0) out += std::string(out.empty() ? "" : ", ") + name;
    };
#define FEROLT_FIELD(f) check(#f, &a.f, &b.f, sizeof(a.f))
    FEROLT_FIELD(material.Diffuse);
    FEROLT_FIELD(material.Ambient);
    FEROLT_FIELD(material.Specular);
    FEROLT_FIELD(material.Emissive);
    FEROLT_FIELD(material.Power);
    FEROLT_FIELD(reflectionWeight);
    FEROLT_FIELD(bumpHeight);
    FEROLT_FIELD(keepDiffuse);
    FEROLT_FIELD(alphaTest);
    FEROLT_FIELD(twoSided);
    FEROLT_FIELD(changeModesPresent);
    FEROLT_FIELD(bumpFromBase);
    FEROLT_FIELD(baseTransformPresent);
    FEROLT_FIELD(bumpTransformPresent);
    FEROLT_FIELD(reflectionTransformPresent);
    FEROLT_FIELD(additiveReflection);
    FEROLT_FIELD(changeModes);
    FEROLT_FIELD(baseTransform);
    FEROLT_FIELD(bumpTransform);
    FEROLT_FIELD(reflectionTransform);
    FEROLT_FIELD(carriedByteB);
    FEROLT_FIELD(baseAsReflection);
    FEROLT_FIELD(mirror);
    FEROLT_FIELD(mirrorReflectivity);
    FEROLT_FIELD(variant20000);
    FEROLT_FIELD(variant40000);
    FEROLT_FIELD(variant80000);
    FEROLT_FIELD(invertedByteA);
#undef FEROLT_FIELD
    auto names = [](const LMK::MaterialDescriptionStruct_TYP& d)
    {
        return std::string(d.name ? d.name : "-") + "|" + (d.baseFile ? d.baseFile : "-") + "|" +
               (d.bumpFile ? d.bumpFile : "-") + "|" + (d.reflectionFile ? d.reflectionFile : "-");
    };
    if (names(a) != names(b)) out += std::string(out.empty() ? "" : ", ") + "names";
    return out;
}

inline LMK::MaterialDescriptionStruct_TYP Describe(const LMK::Material_* m)
{
    LMK::MaterialDescriptionStruct_TYP d;
    m->GetDescription(&d);
    return d;
}

class MaterialTest : public enginetest::EngineTest
{
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_EQ(LRStart(nullptr), S_OK);
    }

    LMK::Material_* Make(const LMK::MaterialDescriptionStruct_TYP& d)
    {
        LMK::Material_* m = nullptr;
        EXPECT_EQ(LRCreateMaterialFromDescription(&d, &m), S_OK);
        return m;
    }
};
} // namespace materialtest
