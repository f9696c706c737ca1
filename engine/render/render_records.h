#pragma once
// Records that cross the renderer's seams: what a caller fills to have a view drawn, the mirror state a
// pass hands to everything it draws, what a read-back callback gets, and the per-subset draw context of
// material application. Plain records; their owners are named with each.
#include "platform/win32/windef.h"
#include "platform/d3d9/d3d9.h"
#include "engine/core/ilumo_vector.h"

#include <cstddef>
#include <cstdint>

struct ID3DXEffect;
struct D3DXPLANE;

namespace LMK
{
class BackBuffer_;
class View_;
class Environment_;
class PortalCell_;
class Object_;
class Texture_;
struct FogStruct_TYP;
struct StageValidationStruct_TYP;
struct ReadBackStruct_TYP;

// Display modes: the low part of the mode word. Plain constants, as the mode word combines them with
// the high flags.
constexpr uint32_t DisplayModeTextured = 0;
constexpr uint32_t DisplayModeColoured = 1;
constexpr uint32_t DisplayModeBaseAndLightMap = 2;
constexpr uint32_t DisplayModeLightMapBaking = 3;
constexpr uint32_t DisplayModeTexturedFlat = 4;
constexpr uint32_t DisplayModeColouredFlat = 5;
constexpr uint32_t DisplayModeMirrorMarking = 6;
constexpr uint32_t DisplayModeDepthOnly = 7;
constexpr uint32_t DisplayModeIdColoursAll = 8;
constexpr uint32_t DisplayModeIdColoursOpaque = 9;
constexpr uint32_t DisplayModeLightMapOnly = 10;
constexpr uint32_t DisplayModeWireframe = 0x100;
constexpr uint32_t DisplayModeWireframeLit = 0x101;
constexpr uint32_t DisplayModeHiddenLines = 0x102;
constexpr uint32_t DisplayModeShadedWithEdges = 0x103;

// High flags of the mode word.
constexpr uint32_t ModeFlagWireFill = 0x10000;
constexpr uint32_t ModeFlagReflections = 0x20000;
constexpr uint32_t ModeFlagFinalPass = 0x40000;

constexpr uint32_t ModeEdgeModeBit = 0x100;
constexpr uint32_t ModeLowMask = 0xFFF;

// The mode a pass works with: the edge modes drop every high flag at once; the others keep theirs and
// strip them one by one at the steps that act on them.
constexpr uint32_t PassModeFromFlags(uint32_t modeFlags)
{
    return (modeFlags & ModeEdgeModeBit) ? (modeFlags & ModeLowMask) : modeFlags;
}

using ReadBackCallback_TYP = bool(__stdcall*)(void* context, ReadBackStruct_TYP* readBack);

#pragma pack(push, 1)

// Render parameters of one view. The caller owns it; during a call the renderer changes the mode flags,
// the no-present byte and the depth-only objects, writes the out-fields, and restores what it changed.
struct RenderViewStruct_TYP
{
    BackBuffer_* backBuffer;
    View_* camera;
    Environment_* environment;
    FogStruct_TYP* fog;
    PortalCell_* portalCell;
    float* lightIntensity; // null means 1.0
    void* readBackContext;
    ReadBackCallback_TYP readBack; // the part is presented only when it returns true
    D3DXPLANE* sectionPlane;
    uint32_t modeFlags;
    uint8_t planarShadows;
    D3DCOLOR edgeColor;
    D3DCOLOR surfaceColor;
    uint8_t cameraLight;
    uint8_t* animatedSubsetFlag;
    uint8_t* textureEffectFlag;
    uint8_t* allLightsFlag;
    float impostorSize;           // 0 switches impostors off
    uint32_t alternativeSelector; // 0 switches alternatives off
    IlumoVector<uint32_t>* alternativeMasks;
    uint32_t reflectionLevel;
    float lightMapWeight;
    uint8_t edgesOnTransparentSubsets;
    D3DXPLANE* extraClipPlanes;
    float minimumReflectivity;
    uint32_t* mirrorGroupCount; // when set, the call only counts mirror groups
    IlumoVector<Object_*>* depthOnlyObjects;
    uint32_t lightsUsed;
    uint32_t reserved1;
    uint32_t extraClipPlaneCount; // with planes given, 0 means one
    uint8_t averageColor;
    uint8_t noPresent;
    uint8_t reserved2[90];
};

// Built after EndScene and handed to the read-back callback while the back buffer is locked.
struct ReadBackStruct_TYP
{
    uint32_t partIndex;
    uint32_t partCount;
    RECT backBufferRect; // client rectangle in screen coordinates
    RECT partRect;       // the part's screen rectangle
    D3DFORMAT format;
    INT pitch;
    void* bits;
};

#pragma pack(pop)

// Both packed records hold pointers, so their size follows the pointer width; what must not change is
// that every field is there, in order, without padding.
static_assert(sizeof(RenderViewStruct_TYP) == 16 * sizeof(void*) + 139);
static_assert(offsetof(RenderViewStruct_TYP, modeFlags) == 9 * sizeof(void*));
static_assert(offsetof(RenderViewStruct_TYP, reserved2) == 16 * sizeof(void*) + 49);
static_assert(sizeof(ReadBackStruct_TYP) == 48 + sizeof(void*));
static_assert(offsetof(ReadBackStruct_TYP, bits) == 48);

// Mirror state of one pass for one back-buffer part.
struct PassContextStruct_TYP
{
    const D3DXPLANE* mirrorPlane; // null outside plane passes
    uint8_t testStencil;
    uint32_t stencilReference;
    uint8_t finalPass;
    uint8_t mirrorSubsetsOnly;
    uint8_t mirrorSubsetsDone;
};

// Filled by the model draw for each drawn subset.
struct PartDrawContextStruct_TYP
{
    IDirect3DDevice9* device;
    ID3DXEffect* effect; // the model draw always stores null
    StageValidationStruct_TYP* validationTable;
    Object_* object;
    uint32_t displayMode;
    RenderViewStruct_TYP* view;
    Texture_* lightMap;
    uint8_t finalPass;
    uint8_t statesValid; // cleared by material application when it had to drop a feature
    D3DCOLOR identityColor;
};

} // namespace LMK
