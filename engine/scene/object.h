#pragma once
// Objects: placed, reference-counted instances of a model, with per-subset material overrides and
// light maps, lights at the model's light points, and world-space bounds computed on demand.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/scene/model.h"
#include "platform/d3dx9/d3dx9.h"

namespace LMK
{
class View_;
class AnimationClip_;
struct LightMapStruct_TYP;
struct ShadowOptionsStruct_TYP;
class Light_;
using ProgressCallback_TYP = bool (*)(float fraction, void* user);

struct MirrorOverrideStruct_TYP
{
    DWORD subset;
    float plane[4];
    DWORD savedSurfaceType;
    BYTE savedSpecialSurface;
    float savedSurfacePlane[4];
};

class Object_
{
public:
    // The model gets one reference; override (or null) goes into every subset slot, counted.
    Object_(Model_* model, const D3DXMATRIX* placement, Material_* override, bool ignoreTurn);
    Object_(const Object_&) = delete;
    Object_& operator=(const Object_&) = delete;
    virtual ~Object_();

    void AddRef() { ++refCount; }
    // Destroys the object at the last reference.
    void Release();

    void SetPlacement(const D3DXMATRIX* placement, bool ignoreTurn);
    void GetWorldMatrix(D3DXMATRIX* out) const;
    // *fromModel = 1 when the subset's own material is handed out.
    Material_* GetSubsetMaterial(DWORD subset, BYTE* fromModel);
    HRESULT SetSubsetMaterial(Material_* change, DWORD subset);
    bool HasTransparency() const;
    // The world-space box (with a camera: projection space) over the geometry this object sees.
    void ComputeBounds(const D3DXMATRIX* extra, View_* camera);
    void GetBoundingBox(D3DXVECTOR3* minimum, D3DXVECTOR3* maximum);
    void ExtendBounds(const D3DXVECTOR3& point);
    bool IsInFrustum(const std::vector<D3DXPLANE>* planes, const D3DXMATRIX* transform, float* depthNear,
                     float* depthFar);
    // The projected diameter of the bounding sphere, in pixels; 0 when it lies behind the camera.
    float GetScreenSize(DWORD width, DWORD height, View_* camera);
    bool IsSmallerOnScreenThan(float pixels, DWORD width, DWORD height, View_* camera);
    void OrientToCamera(View_* camera);
    // Picking (engine/render/picking.cpp): the model's hit for this object, facing the camera when it does.
    void Pick(bool farthest, View_* camera, bool partProjection, const float* sectionPlane,
              const float* point, bool skipTransparent, BYTE* hit, float* distance, DWORD* subset,
              DWORD* subsetValue, float* hitPoint, DWORD* face, float* u, float* v);
    HRESULT Draw(BackBufferPart_* part, const D3DXVECTOR3* eye, DWORD mode, RenderViewStruct_TYP* view,
                 Light_* passLight, PassContextStruct_TYP* pass);
    // Impostors (engine/render/impostors.cpp): the atlas of 40 views in a render mode, made anew, and one
    // camera-facing quad drawn from it.
    void BuildImpostorAtlas(DWORD renderMode);
    void DrawImpostor(IDirect3DDevice9* device, View_* camera);
    void PushMirrorOverrides(bool firstList);
    void PopMirrorOverrides(bool firstList);
    // Light maps (engine/render/shadows.cpp and light_map_baker.cpp).
    void ReleaseLightMaps();
    void ReleaseLightMap(DWORD subset);
    // Fills the subset's record and writes its light-map coordinates into the locked vertices; false
    // when the subset is too small for a light map.
    bool LayoutLightMap(DWORD subset, DWORD quality, DWORD vertexStride, BYTE* vertices, WORD* indices);
    // The perspective camera from a (shifted) light whose image is exactly the subset's light map.
    void CreateLightMapView(const D3DXVECTOR3* lightPosition, bool useNearOffset, bool allowBackSide,
                            const float offset[2], float nearOffset, DWORD subset, const D3DXMATRIX* world,
                            View_** view, bool* made, bool* flipped);
    // False stops the whole computation (cancelled, no lights, no device data, no render targets).
    bool ComputeLightMaps(Model_* grid, Model_* quad, DWORD objectIndex, DWORD objectCount, Object_** objects,
                          DWORD lightCount, Light_** lights, float* intensity,
                          ShadowOptionsStruct_TYP* options, ProgressCallback_TYP callback, void* user,
                          bool shadowCastersOnly, const std::vector<uint32_t>* visibleSubsets);

    D3DXMATRIX* world = nullptr;
    D3DXMATRIX* inverseWorld = nullptr;
    D3DXMATRIX* baseMatrix = nullptr;
    D3DXMATRIX* extraMatrix = nullptr;
    Model_* model;
    std::unique_ptr<Material_*[]> overrides; // counted, one per subset; the light maps' slots share its block
    LightMapStruct_TYP** lightMaps = nullptr;
    DWORD refCount = 1;
    float determinant = 1.0f;
    BYTE visible = 0;
    BYTE portalVisited = 0;
    BYTE drawnValidly = 1;
    BYTE tint = 0;
    float tintColor[3] = {1.0f, 1.0f, 1.0f};
    BYTE seeThrough = 0;
    float alphaFactor = 1.0f;
    DWORD listIndex = 0;
    std::vector<StretchPlaneStruct_TYP> stretchPlanes;
    std::vector<Light_*> attachedLights; // counted
    BYTE lightPointsOn = 0;
    std::unique_ptr<Light_*[]> lightPointLights; // one per model light point, counted; made on first use
    std::vector<Object_*>* instances =
        nullptr; // batch members while a visible set holds it (the set owns it)
    std::vector<MirrorOverrideStruct_TYP> mirrorOverrides1;
    std::vector<MirrorOverrideStruct_TYP> mirrorOverrides2;
    float boundsMin[3] = {};
    float boundsMax[3] = {};
    BYTE boundsValid = 0;
    float boundsCentre[3] = {};
    float boundsRadius = 0.0f;
    float animationTime = 0.0f;
    BYTE noClip = 0;
    BYTE cameraFacing = 0;
    Light_* lampLight = nullptr; // counted
    AnimationClip_* animationClip = nullptr;
    LoadedPart_* impostorAtlas = nullptr; // a counted texture
    DWORD impostorRenderMode = 0xFFFFFFFF;
    BYTE lightMapExcluded = 0;

    // False when an allocation of the constructor failed; CreateObject then gives nothing.
    bool IsComplete() const { return complete_; }

private:
    // The four matrices live in the object and the override and light-map arrays share one block, so
    // that making and releasing an object takes two allocations. No further member: a larger object
    // made releasing a large scene a third slower.
    D3DXMATRIXA16 matrixBlock_[4];
    // Where this object stands in its model's users, so that leaving them is constant time: a scene
    // of many objects of one model is released in linear time.
    size_t userSlot_ = SIZE_MAX;
    bool complete_ = false;
};

// A new object or null when it cannot be made.
Object_* CreateObject(Model_* model, const D3DXMATRIX* placement, Material_* override, bool ignoreTurn);
} // namespace LMK
