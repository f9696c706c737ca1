#pragma once
// The shadow computation: light maps baked for the receiving subsets of a scene's objects, stored on
// the objects and drawn through the model's second texture-coordinate set in every later frame.
#include <cstdint>
#include <vector>

#include "platform/d3dx9/d3dx9.h"
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

namespace LMK
{
class Object_;
class Model_;
class Light_;
class View_;
class Texture_;

struct ShadowOptionsStruct_TYP
{
    uint32_t level;     // receiving surface categories: 0 none, 1 fewest, 2 more, 3 most
    uint32_t quality;   // texel size, see LightMapTexelSize
    float directWeight; // the render view's light-map weight for the shadow renders
    uint8_t skyTerm;
    float skyWeight;      // share of the lights' colour that goes to the sky term
    uint8_t keepExisting; // only subsets without a light map are computed
};

// One receiving subset's light map, owned by its object.
struct LightMapStruct_TYP
{
    D3DXMATRIX objectToUnitBox; // x and y span the light map 0..1, z the box's thickness
    D3DXMATRIX unitBoxToObject;
    D3DXMATRIX worldToUnitBox;
    D3DXMATRIX unitBoxToWorld; // also the placement of the baker's helper objects
    View_* view;               // orthographic, looking down on the light map; one reference
    Texture_* texture;         // null until baked; one reference
    uint32_t width;
    uint32_t height;
    uint8_t baked;
};

// Returning false cancels.
using ProgressCallback_TYP = bool (*)(float fraction, void* user);

// Texel size in world units of a quality setting.
float LightMapTexelSize(uint32_t quality);
// A light-map side from a length in texels: capped at 4096, powers of two up to 512, and 2 at least.
uint32_t LightMapSide(uint32_t texels);
// The 360 x 360 grid (when grid is given) and the two-triangle quad over the unit square; null where one
// cannot be made.
void CreateLightMapHelperModels(Model_** grid, Model_** quad);

// The samples per axis and their spread in world units of a light, from its hardness and type.
void LightSampleGrid(const D3DLIGHT9& light, float hardness, uint32_t* samplesPerAxis, float* spread);
// The number of sky directions for a light map of the given size.
uint32_t SkyDirectionCount(uint32_t width, uint32_t height);
// The n sky directions, all pointing down (world z is up).
void MakeSkyDirections(uint32_t count, std::vector<D3DXVECTOR3>* directions);
// Whether a surface category is baked at an options level; levels other than 1 to 3 bake nothing.
bool IsCategoryBakedAtLevel(DWORD category, uint32_t level);

// Full-target quads of the baker: target = source x weight; target += colour; target = first x second
// (or x colour, or x 1). The add flags blend onto the target's content.
void AccumulateLightMapSample(IDirect3DSurface9* depth, IDirect3DTexture9* source, IDirect3DSurface9* target,
                              float weight, uint32_t width, uint32_t height, bool add);
void AddColourToRenderTarget(IDirect3DSurface9* depth, const float colour[4], IDirect3DSurface9* target,
                             uint32_t width, uint32_t height);
void CombineLightMapTextures(IDirect3DSurface9* depth, IDirect3DTexture9* first, IDirect3DSurface9* target,
                             uint32_t width, uint32_t height, bool add, IDirect3DTexture9* second,
                             const float colour[3]);

// The engine-wide depth surface of the baker; it outlives a computation on adapters that want it kept.
extern IDirect3DSurface9* LightMapDepthSurface;
} // namespace LMK

HRESULT LRInitShadowOptions(LMK::ShadowOptionsStruct_TYP* options);
// Bakes the light maps of the objects. S_OK also after a cancel or a failure inside an object's baking;
// the objects baked so far keep their light maps.
HRESULT LRComputeShadows(DWORD objectCount, LMK::Object_** objects, DWORD lightCount, LMK::Light_** lights,
                         float* intensity, LMK::ShadowOptionsStruct_TYP* options,
                         LMK::ProgressCallback_TYP callback, void* user, bool shadowCastersOnly,
                         LMK::View_* visibilityCamera, DWORD resolution);
HRESULT LRReleaseShadows(DWORD objectCount, LMK::Object_** objects);
