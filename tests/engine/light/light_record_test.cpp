// Lights from stored "LRLG" records: every record length (shorter earlier versions, the full record,
// longer later ones), the field mapping, and records that must fail without reading past their bytes.
#include "engine/core/light_record.h"
#include "engine/core/lr_light_api.h"
#include "tests/support/light_record_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace
{
using ferolt::test::Bytes;
using ferolt::test::LightRecord;
using ferolt::test::LightRecordFields;

constexpr float kTol = 1e-6f;

// A spot light whose fields all differ from the defaults.
LightRecordFields SpotFields()
{
    LightRecordFields f;
    f.type = 2;
    f.position[0] = 1;
    f.position[1] = 2;
    f.position[2] = 3;
    f.direction[0] = 0;
    f.direction[1] = 0;
    f.direction[2] = -2;
    f.diffuse[3] = 0.4f;
    f.attenuation[0] = 0.5f;
    f.attenuation[1] = 0.25f;
    f.attenuation[2] = 0.125f;
    f.diffuseOn = 1;
    f.specularOn = 0;
    f.ambientOn = 1;
    f.spotFalloff = 1;
    f.attenuationPreset = 9;
    f.glowType = 3;
    f.flareType = 4;
    f.glowSize = 2;
    f.flareSize = 20;
    f.intensity = 1.5f;
    f.flareAlpha = 0;
    f.glowAlpha = 0.75f;
    f.noShadows = 1;
    f.softness = 0.25f;
    return f;
}

struct Made
{
    HRESULT hr = E_UNEXPECTED;
    LMK::Light_* light = nullptr;
    DWORD size = 0xDEADBEEF;
    ~Made() { LRReleaseLight(&light); }
};

// The record is handed over in an allocation of exactly `length` bytes, so a read past it is caught.
void Create(const Bytes& bytes, Made* out, std::optional<DWORD> length = std::nullopt)
{
    out->light = reinterpret_cast<LMK::Light_*>(0x1);
    out->hr = LRCreateLightFromRecord(bytes.empty() ? nullptr : bytes.data(),
                                      length.value_or(DWORD(bytes.size())), &out->light, &out->size);
}

TEST(LightRecord, EveryRecordLength)
{
    struct Case
    {
        uint32_t sizeField;
        size_t given; // bytes handed over
        uint32_t type;
        float position[3];
        float dirZ;
        float att[3];
        uint8_t diffuseOn, specularOn;
        uint32_t preset, glowType, flareType;
        float intensity, flareAlpha, glowAlpha;
        uint8_t casts;
        float hardness;
    };
    // Fields past the size field read as zero, which then map: alphas 0.5, shadows on, hardness 1.
    const Case cases[] = {
        {153, 153, 2, {1, 2, 3}, -1, {0.5f, 0.25f, 0.125f}, 1, 0, 9, 3, 4, 1.5f, 0.5f, 0.75f, 0, 0.75f},
        {153, 300, 2, {1, 2, 3}, -1, {0.5f, 0.25f, 0.125f}, 1, 0, 9, 3, 4, 1.5f, 0.5f, 0.75f, 0, 0.75f},
        {200, 200, 2, {1, 2, 3}, -1, {0.5f, 0.25f, 0.125f}, 1, 0, 9, 3, 4, 1.5f, 0.5f, 0.75f, 0, 0.75f},
        {149, 149, 2, {1, 2, 3}, -1, {0.5f, 0.25f, 0.125f}, 1, 0, 9, 3, 4, 1.5f, 0.5f, 0.75f, 0, 1.0f},
        {148, 148, 2, {1, 2, 3}, -1, {0.5f, 0.25f, 0.125f}, 1, 0, 9, 3, 4, 1.5f, 0.5f, 0.75f, 1, 1.0f},
        {144, 144, 2, {1, 2, 3}, -1, {0.5f, 0.25f, 0.125f}, 1, 0, 9, 3, 4, 1.5f, 0.5f, 0.5f, 1, 1.0f},
        {136, 136, 2, {1, 2, 3}, -1, {0.5f, 0.25f, 0.125f}, 1, 0, 9, 3, 4, 0.0f, 0.5f, 0.5f, 1, 1.0f},
        {116, 116, 2, {1, 2, 3}, -1, {0.5f, 0.25f, 0.125f}, 1, 0, 0, 0, 0, 0.0f, 0.5f, 0.5f, 1, 1.0f},
        {112, 112, 2, {1, 2, 3}, -1, {0.5f, 0.25f, 0.125f}, 0, 0, 0, 0, 0, 0.0f, 0.5f, 0.5f, 1, 1.0f},
        {8, 8, 0, {0, 0, 0}, 0, {0, 0, 0}, 0, 0, 0, 0, 0, 0.0f, 0.5f, 0.5f, 1, 1.0f},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "size field " << c.sizeField << ", " << c.given << " bytes");
        Made m;
        Create(LightRecord(SpotFields(), c.sizeField, c.given), &m);
        ASSERT_EQ(m.hr, S_OK);
        ASSERT_NE(m.light, nullptr);
        EXPECT_EQ(m.size, c.sizeField);
        EXPECT_EQ(m.light->refCount, 1u);
        const LMK::LightParamsStruct_TYP& p = m.light->params;
        EXPECT_EQ(p.light.Type, c.type);
        EXPECT_NEAR(p.light.Position.x, c.position[0], kTol);
        EXPECT_NEAR(p.light.Position.y, c.position[1], kTol);
        EXPECT_NEAR(p.light.Position.z, c.position[2], kTol);
        EXPECT_NEAR(p.light.Direction.x, 0, kTol);
        EXPECT_NEAR(p.light.Direction.y, 0, kTol);
        EXPECT_NEAR(p.light.Direction.z, c.dirZ, kTol);
        EXPECT_EQ(p.light.Attenuation0, c.att[0]);
        EXPECT_EQ(p.light.Attenuation1, c.att[1]);
        EXPECT_EQ(p.light.Attenuation2, c.att[2]);
        EXPECT_EQ(p.light.Diffuse.a, 1.0f);
        EXPECT_EQ(p.diffuseOn, c.diffuseOn);
        EXPECT_EQ(p.specularOn, c.specularOn);
        EXPECT_EQ(p.attenuationPreset, c.preset);
        EXPECT_EQ(p.glowType, c.glowType);
        EXPECT_EQ(p.flareType, c.flareType);
        EXPECT_EQ(p.intensity, c.intensity);
        EXPECT_EQ(p.flareAlpha, c.flareAlpha);
        EXPECT_EQ(p.glowAlpha, c.glowAlpha);
        EXPECT_EQ(p.castsShadows, c.casts);
        EXPECT_FLOAT_EQ(p.hardness, c.hardness);
        EXPECT_TRUE(std::isfinite(p.light.Direction.x) && std::isfinite(p.light.Direction.z));
    }
}

TEST(LightRecord, PresetInTheRecordReplacesItsAttenuation)
{
    LightRecordFields f = SpotFields();
    f.attenuationPreset = 2;
    Made m;
    Create(LightRecord(f), &m);
    ASSERT_EQ(m.hr, S_OK);
    EXPECT_EQ(m.light->params.light.Attenuation0, 1.0f);
    EXPECT_EQ(m.light->params.light.Attenuation1, 0.001f);
    EXPECT_EQ(m.light->params.light.Attenuation2, 0.0f);
}

TEST(LightRecord, ZeroAlphaMeansHalf)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // A NaN is not a zero: it takes the default light's alpha (NonFiniteFieldsTakeTheDefaults).
    const float cases[][2] = {{0.0f, 0.5f}, {-0.0f, 0.5f}, {0.3f, 0.3f}, {1.0f, 1.0f}, {nan, 0.5f}};
    for (const auto& c : cases)
    {
        LightRecordFields f;
        f.flareAlpha = c[0];
        f.glowAlpha = c[0];
        LMK::LightParamsStruct_TYP p;
        const Bytes bytes = LightRecord(f);
        ASSERT_TRUE(LMK::ReadLightRecord(bytes.data(), DWORD(bytes.size()), &p, nullptr));
        if (std::isnan(c[1]))
        {
            EXPECT_TRUE(std::isnan(p.flareAlpha));
            EXPECT_TRUE(std::isnan(p.glowAlpha));
        }
        else
        {
            EXPECT_EQ(p.flareAlpha, c[1]) << c[0];
            EXPECT_EQ(p.glowAlpha, c[1]) << c[0];
        }
    }
}

// A NaN or infinite number in a record would make a NaN light; each takes the default light's value
// for its field, and the finite fields beside it stay as stored.
TEST(LightRecord, NonFiniteFieldsTakeTheDefaults)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    LMK::LightParamsStruct_TYP defaults;
    LMK::GetDefaultLightParams(&defaults);
    using Params = LMK::LightParamsStruct_TYP;
    struct Case
    {
        const char* name;
        void (*set)(LightRecordFields&, float);
        float value;
        float (*get)(const Params&);
    };
    const Case cases[] = {
        {"position x", [](LightRecordFields& f, float v) { f.position[0] = v; }, nan,
         [](const Params& p) { return p.light.Position.x; }},
        {"direction z", [](LightRecordFields& f, float v) { f.direction[2] = v; }, inf,
         [](const Params& p) { return p.light.Direction.z; }},
        {"diffuse green", [](LightRecordFields& f, float v) { f.diffuse[1] = v; }, -inf,
         [](const Params& p) { return p.light.Diffuse.g; }},
        {"range", [](LightRecordFields& f, float v) { f.range = v; }, nan,
         [](const Params& p) { return p.light.Range; }},
        {"phi", [](LightRecordFields& f, float v) { f.phi = v; }, inf,
         [](const Params& p) { return p.light.Phi; }},
        {"intensity", [](LightRecordFields& f, float v) { f.intensity = v; }, nan,
         [](const Params& p) { return p.intensity; }},
        {"softness", [](LightRecordFields& f, float v) { f.softness = v; }, inf,
         [](const Params& p) { return p.hardness; }},
    };
    for (const Case& c : cases)
    {
        LightRecordFields f = SpotFields();
        c.set(f, c.value);
        const Bytes bytes = LightRecord(f);
        LMK::LightParamsStruct_TYP p;
        ASSERT_TRUE(LMK::ReadLightRecord(bytes.data(), DWORD(bytes.size()), &p, nullptr)) << c.name;
        EXPECT_EQ(c.get(p), c.get(defaults)) << c.name;
        EXPECT_EQ(p.light.Position.y, 2.0f) << c.name;
    }
}

TEST(LightRecord, BadRecordsFailCleanly)
{
    LightRecordFields wrongMagic;
    wrongMagic.magic = 0x484C524C; // "LRLH"
    struct Case
    {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"wrong magic", LightRecord(wrongMagic)},
        {"magic only", LightRecord({}, 153, 4)},
        {"header cut short", LightRecord({}, 153, 7)},
        {"full record cut by one byte", LightRecord({}, 153, 152)},
        {"longer record cut at 153", LightRecord({}, 200, 153)},
        {"size field far past the bytes", LightRecord({}, 0xFFFFFFFFu, 153)},
        {"size field below the header", LightRecord({}, 4, 153)},
        {"size field zero", LightRecord({}, 0, 153)},
    };
    for (const Case& c : cases)
    {
        Made m;
        Create(c.bytes, &m);
        EXPECT_EQ(m.hr, E_FAIL) << c.name;
        EXPECT_EQ(m.light, nullptr) << c.name;
        EXPECT_EQ(m.size, 0u) << c.name;
    }
}

TEST(LightRecord, LengthBoundsTheReadEvenWhenMoreBytesFollow)
{
    // The bytes are all there, but the caller says the record ends earlier.
    const Bytes bytes = LightRecord(SpotFields());
    Made m;
    Create(bytes, &m, 152);
    EXPECT_EQ(m.hr, E_FAIL);
    Made ok;
    Create(bytes, &ok, 153);
    EXPECT_EQ(ok.hr, S_OK);
}

TEST(LightRecord, ArgumentChecks)
{
    const Bytes bytes = LightRecord({});
    DWORD size = 0xDEADBEEF;
    EXPECT_EQ(LRCreateLightFromRecord(bytes.data(), DWORD(bytes.size()), nullptr, &size), E_INVALIDARG);
    EXPECT_EQ(size, 0u);
    LMK::Light_* light = reinterpret_cast<LMK::Light_*>(0x1);
    size = 0xDEADBEEF;
    EXPECT_EQ(LRCreateLightFromRecord(nullptr, 153, &light, &size), E_INVALIDARG);
    EXPECT_EQ(light, nullptr);
    EXPECT_EQ(size, 0u);
    // The size output is optional.
    ASSERT_EQ(LRCreateLightFromRecord(bytes.data(), DWORD(bytes.size()), &light, nullptr), S_OK);
    LRReleaseLight(&light);
}
} // namespace
