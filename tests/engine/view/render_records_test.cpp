// The records that cross the renderer's seams keep their field order without padding, and the pass mode
// follows the mode word's rules.
#include "engine/render/render_records.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <iterator>

namespace
{
struct FieldCase
{
    const char* field;
    size_t actual;
    size_t pointers; // pointer-sized fields before it
    size_t bytes;    // fixed-size bytes before it
};

constexpr size_t P = sizeof(void*);

void ExpectLayout(const FieldCase* cases, size_t count)
{
    for (size_t i = 0; i < count; ++i)
    {
        const FieldCase& c = cases[i];
        EXPECT_EQ(c.actual, c.pointers * P + c.bytes) << c.field;
    }
}
} // namespace

TEST(RenderRecords, RenderViewFieldsFollowEachOtherWithoutPadding)
{
    using R = LMK::RenderViewStruct_TYP;
    const FieldCase cases[] = {
        {"BackBuffer", offsetof(R, backBuffer), 0, 0},
        {"Camera", offsetof(R, camera), 1, 0},
        {"Environment", offsetof(R, environment), 2, 0},
        {"Fog", offsetof(R, fog), 3, 0},
        {"PortalCell", offsetof(R, portalCell), 4, 0},
        {"LightIntensity", offsetof(R, lightIntensity), 5, 0},
        {"ReadBackContext", offsetof(R, readBackContext), 6, 0},
        {"ReadBack", offsetof(R, readBack), 7, 0},
        {"SectionPlane", offsetof(R, sectionPlane), 8, 0},
        {"ModeFlags", offsetof(R, modeFlags), 9, 0},
        {"PlanarShadows", offsetof(R, planarShadows), 9, 4},
        {"EdgeColor", offsetof(R, edgeColor), 9, 5},
        {"SurfaceColor", offsetof(R, surfaceColor), 9, 9},
        {"CameraLight", offsetof(R, cameraLight), 9, 13},
        {"AnimatedSubsetFlag", offsetof(R, animatedSubsetFlag), 9, 14},
        {"TextureEffectFlag", offsetof(R, textureEffectFlag), 10, 14},
        {"AllLightsFlag", offsetof(R, allLightsFlag), 11, 14},
        {"ImpostorSize", offsetof(R, impostorSize), 12, 14},
        {"AlternativeSelector", offsetof(R, alternativeSelector), 12, 18},
        {"AlternativeMasks", offsetof(R, alternativeMasks), 12, 22},
        {"ReflectionLevel", offsetof(R, reflectionLevel), 13, 22},
        {"LightMapWeight", offsetof(R, lightMapWeight), 13, 26},
        {"EdgesOnTransparentSubsets", offsetof(R, edgesOnTransparentSubsets), 13, 30},
        {"ExtraClipPlanes", offsetof(R, extraClipPlanes), 13, 31},
        {"MinimumReflectivity", offsetof(R, minimumReflectivity), 14, 31},
        {"MirrorGroupCount", offsetof(R, mirrorGroupCount), 14, 35},
        {"DepthOnlyObjects", offsetof(R, depthOnlyObjects), 15, 35},
        {"LightsUsed", offsetof(R, lightsUsed), 16, 35},
        {"Reserved1", offsetof(R, reserved1), 16, 39},
        {"ExtraClipPlaneCount", offsetof(R, extraClipPlaneCount), 16, 43},
        {"AverageColor", offsetof(R, averageColor), 16, 47},
        {"NoPresent", offsetof(R, noPresent), 16, 48},
        {"Reserved2", offsetof(R, reserved2), 16, 49},
        {"(end)", sizeof(R), 16, 139},
    };
    ExpectLayout(cases, std::size(cases));
}

TEST(RenderRecords, ReadBackFieldsFollowEachOtherWithoutPadding)
{
    using R = LMK::ReadBackStruct_TYP;
    const FieldCase cases[] = {
        {"PartIndex", offsetof(R, partIndex), 0, 0},
        {"PartCount", offsetof(R, partCount), 0, 4},
        {"BackBufferRect", offsetof(R, backBufferRect), 0, 8},
        {"PartRect", offsetof(R, partRect), 0, 24},
        {"Format", offsetof(R, format), 0, 40},
        {"Pitch", offsetof(R, pitch), 0, 44},
        {"Bits", offsetof(R, bits), 0, 48},
        {"(end)", sizeof(R), 1, 48},
    };
    ExpectLayout(cases, std::size(cases));
}

TEST(RenderRecords, PassModeDropsHighFlagsOnlyForEdgeModes)
{
    struct Case
    {
        uint32_t flags;
        uint32_t mode;
    };
    const Case cases[] = {
        // Wireframe with reflections: the edge modes never see the reflections bit.
        {LMK::DisplayModeWireframe | LMK::ModeFlagReflections, LMK::DisplayModeWireframe},
        {LMK::DisplayModeShadedWithEdges | LMK::ModeFlagFinalPass | LMK::ModeFlagWireFill,
         LMK::DisplayModeShadedWithEdges},
        {LMK::DisplayModeTextured, LMK::DisplayModeTextured},
        // The other modes keep their flags for the pass steps that strip them.
        {LMK::DisplayModeTextured | LMK::ModeFlagFinalPass,
         LMK::DisplayModeTextured | LMK::ModeFlagFinalPass},
        {LMK::DisplayModeColoured | LMK::ModeFlagWireFill, LMK::DisplayModeColoured | LMK::ModeFlagWireFill},
        {LMK::DisplayModeLightMapOnly, LMK::DisplayModeLightMapOnly},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LMK::PassModeFromFlags(c.flags), c.mode) << std::hex << c.flags;
}
