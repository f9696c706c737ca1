#pragma once
// Impostors: camera-facing quads that show a pre-rendered picture of an object instead of its geometry.
// An atlas holds 8 yaw by 5 pitch views of an object; objects of one model share it by reference. The
// render pass draws its impostor list between BeginImpostorDraw and EndImpostorDraw.
#include "engine/core/loaders.h"
#include "platform/d3dx9/d3dx9math.h"
#include "platform/d3d9/d3d9.h"
#include "platform/win32/windef.h"

namespace LMK
{
class Object_;

// The atlas texture, counted like every loaded part. Engine textures are not part of the engine yet, so
// the atlas keeps its device texture itself; it lives on the primary device only.
class ImpostorAtlas_ : public LoadedPart_
{
public:
    // Takes over the caller's reference of the texture.
    explicit ImpostorAtlas_(IDirect3DTexture9* atlasTexture) : texture(atlasTexture) {}
    ~ImpostorAtlas_() override;
    // The texture to bind on that device, or null where the atlas has no copy.
    IDirect3DTexture9* DeviceTexture(IDirect3DDevice9* device) const;

    IDirect3DTexture9* texture;
};

constexpr UINT kImpostorColumns = 8;
constexpr UINT kImpostorRows = 5;
constexpr UINT kImpostorAtlasWidth = 512;
constexpr UINT kImpostorAtlasHeight = 256;
// The rectangle of atlas cell (column, row) in a texture of that size.
RECT ImpostorCell(UINT column, UINT row, UINT width, UINT height);
// The cell an eye in direction d (from the object's centre, in object space, normalised) looks at; a
// column of 8 or a row of 5 reaches cell 0 through wrap addressing.
void ImpostorCellFor(const D3DXVECTOR3& d, UINT* column, UINT* row);

// The render pass's impostor sub-pass: its states and billboard buffer, one quad per object, then the
// states set back.
void BeginImpostorDraw(IDirect3DDevice9* device, IDirect3DVertexBuffer9** buffer);
void EndImpostorDraw(IDirect3DDevice9* device, IDirect3DVertexBuffer9** buffer);
} // namespace LMK
