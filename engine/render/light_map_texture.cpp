// Engine textures (LMK::Texture_) are not part of the engine yet. Until they are, a light map's
// Texture_ pointer names a small holder of this file around the device texture, and only the functions
// here look behind it; every other texture goes the material's way. Once textures exist, these become
// the texture's own wrap, release and per-device lookup.
#include "engine/render/light_map_texture.h"

#include <mutex>
#include <new>
#include <set>

#include "engine/core/material_apply.h"

namespace LMK
{
namespace
{
struct LightMapTextureHolder_
{
    IDirect3DTexture9* texture; // one reference
};

std::mutex HoldersLock;
std::set<const void*> Holders;

LightMapTextureHolder_* FindHolder(Texture_* texture)
{
    std::lock_guard<std::mutex> lock(HoldersLock);
    return Holders.count(texture) ? reinterpret_cast<LightMapTextureHolder_*>(texture) : nullptr;
}
} // namespace

HRESULT CreateLightMapTexture(IDirect3DTexture9* texture, Texture_** out)
{
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!texture) return E_INVALIDARG;
    auto* holder = new (std::nothrow) LightMapTextureHolder_{texture};
    if (!holder) return E_OUTOFMEMORY;
    std::lock_guard<std::mutex> lock(HoldersLock);
    Holders.insert(holder);
    *out = reinterpret_cast<Texture_*>(holder);
    return S_OK;
}

void ReleaseLightMapTexture(Texture_** texture)
{
    if (!texture || !*texture) return;
    if (LightMapTextureHolder_* holder = FindHolder(*texture))
    {
        {
            std::lock_guard<std::mutex> lock(HoldersLock);
            Holders.erase(holder);
        }
        if (holder->texture) holder->texture->Release();
        delete holder;
    }
    *texture = nullptr;
}

IDirect3DBaseTexture9* LightMapDeviceTexture(Texture_* texture, IDirect3DDevice9* device)
{
    if (!texture) return nullptr;
    if (LightMapTextureHolder_* holder = FindHolder(texture))
    {
        // Made on the primary device; other devices have no copy of it.
        IDirect3DDevice9* owner = nullptr;
        if (FAILED(holder->texture->GetDevice(&owner)) || !owner) return nullptr;
        owner->Release();
        return owner == device ? holder->texture : nullptr;
    }
    return MaterialTextureAccess.deviceTexture ? MaterialTextureAccess.deviceTexture(texture, device)
                                               : nullptr;
}
} // namespace LMK
