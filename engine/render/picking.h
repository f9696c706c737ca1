#pragma once
// Picking: what lies under a point of a view. A ray is cast through the camera per object, probed
// against bounding boxes and intersected with the D3DX meshes of the subsets; the nearest (or the
// farthest) hit gives the object, subset, face, barycentric and texture coordinates, world point and
// material. The per-object and per-model work is Object_::Pick and Model_::Pick.
#include "engine/scene/mesh.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/windef.h"

namespace LMK
{
class Object_;
class View_;
class Material_;
class PortalCell_;
struct RenderViewStruct_TYP;

// The buffers of one mesh part that a pick holds locked read-only. The vertex lock is the buffer the
// D3DX mesh reads, so the face tests see exactly the vertices the ray was intersected with.
struct MeshLockStruct_TYP
{
    VertexBufferLockStruct_TYP vertices;
    IDirect3DIndexBuffer9* indexBuffer;
    void* indexData;
};

// Unlocks the index buffer, then the vertex buffer, clearing each entry; entries already clear stay so.
void UnlockMeshBuffers(MeshLockStruct_TYP* lock);

} // namespace LMK

// The hit under a screen point of the view's window. E_INVALIDARG without a view, back buffer, camera,
// screen point or hit byte; E_FAIL (nothing hit) when the window's client area is empty or cannot be read.
HRESULT LRPickAtScreenPoint(LMK::RenderViewStruct_TYP* view, DWORD count, LMK::Object_** objects,
                            POINT* screenPoint, bool skipTransparent, BYTE* hit, DWORD* objectIndex,
                            DWORD* subset, DWORD* face, float* barycentric, float* textureCoordinate,
                            LMK::Material_** material, DWORD* subsetValue, float* hitPoint);

// The hit under a point (x, y, z) in normalised device coordinates of the camera: x -1 at the left and y
// -1 at the top edge, z 0 at the near end. The material output gets a reference for the caller.
HRESULT LRPick(bool farthest, LMK::View_* camera, bool partProjection, const float* sectionPlane,
               LMK::PortalCell_* cell, DWORD count, LMK::Object_** objects, const float* point,
               bool skipTransparent, BYTE* hit, DWORD* objectIndex, DWORD* subset, DWORD* face,
               float* barycentric, float* textureCoordinate, LMK::Material_** material, DWORD* subsetValue,
               float* hitPoint);
