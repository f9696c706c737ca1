#pragma once
// View rendering: LRRenderView, the engine's single entry for drawing a scene, with the mirror pipeline
// (mirror subsets grouped by plane, a stencil marking pass, one pass per plane and a final pass), and the
// light routines the passes share.
#include <vector>

#include "engine/render/render_records.h"
#include "platform/d3dx9/d3dx9.h"

namespace LMK
{
class Object_;
class Light_;
class Material_;
struct LightParamsStruct_TYP;

struct MirrorSubsetStruct_TYP
{
    Object_* object;
    DWORD subset;
    float plane[4]; // world space, unit normal
    BYTE grouped;
    DWORD stencilValue; // 2, 3, ...: the group's value and its plane pass's stencil reference
    Material_* material;
    float savedAlpha;
    DWORD savedFlags;
};

// The device light of one light for one pass: enabled colour terms scaled by brightness and intensity,
// mirrored when a mirror matrix is given.
void TransformLight(const LightParamsStruct_TYP* params, D3DLIGHT9* out, float intensity,
                    const D3DXMATRIX* mirror);

// Whether the subset of the object's current model is a mirror seen from the front (eye in object space,
// or null to skip that test); *material gets the effective material.
bool IsMirrorSubset(Object_* object, RenderViewStruct_TYP* view, DWORD subset, const D3DXVECTOR3* eye,
                    Material_** material);

// Writes each mirror group's stencil value into the subsets of the object's current model.
void SetMirrorStencilValues(Object_* object, std::vector<MirrorSubsetStruct_TYP>* mirrors);

// Lays a texture over a rectangle of the device's target, blended by its alpha.
void DrawTextureOverRect(IDirect3DDevice9* device, const RECT& rect, IDirect3DTexture9* texture);
} // namespace LMK

HRESULT LRRenderView(LMK::RenderViewStruct_TYP* view, DWORD objectCount, LMK::Object_** objects,
                     DWORD lightCount, LMK::Light_** lights);
