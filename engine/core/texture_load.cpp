// Textures from image bytes: loaded by name through the texture loaders, or handed in from memory.
#include <cstring>
#include <new>

#include "engine/core/globals.h"
#include "engine/core/image_decoding.h"
#include "engine/core/material_loader_lists.h"
#include "engine/core/resource_links.h"
#include "engine/core/texture.h"
#include "platform/bytes/byte_reader.h"

namespace LMK
{
namespace
{
constexpr uint16_t kBmpSignature = 0x4D42; // "BM"

// A colours-used count above 256 describes no palette a BMP can hold; it is lowered in place so that
// the decoder takes the file.
void LimitBmpColorsUsed(void* data, DWORD size)
{
    const ferolt::ByteReader bytes(data, size);
    uint16_t signature = 0;
    uint32_t colorsUsed = 0;
    if (!bytes.U16(0, &signature) || signature != kBmpSignature || !bytes.U32(46, &colorsUsed) ||
        colorsUsed <= 256)
        return;
    const uint32_t limit = 256;
    std::memcpy(static_cast<BYTE*>(data) + 46, &limit, sizeof limit);
}

void DropRecord(LoadRecordStruct_TYP* record)
{
    if (!record || !CurrentGlobals) return;
    CurrentGlobals->loaders.AttachObjectToRecord(record, nullptr);
    CurrentGlobals->loaders.Unload(record);
}

// Decodes on the primary device and builds the texture (bound to the record when there is one).
// On failure the record is unloaded, so a later request tries the name again.
HRESULT BuildTexture(LoadRecordStruct_TYP* record, const void* data, DWORD size,
                     const TextureLoadOptionsStruct_TYP& o, bool flip, Texture_** out)
{
    IDirect3DTexture9* d3dTexture = nullptr;
    D3DXIMAGE_INFO info{};
    float resolutionX = 0, resolutionY = 0;
    HRESULT hr = CreateDeviceTextureFromImage(
        PrimaryDevice(), data, size, o.width, o.height, o.mipLevels, 0, D3DFORMAT(o.format), D3DPOOL_MANAGED,
        o.filter, o.mipFilter, o.colorKey, &info, nullptr, &d3dTexture, flip, &resolutionX, &resolutionY);
    if (FAILED(hr))
    {
        DropRecord(record);
        return hr;
    }
    Texture_* texture = Texture_::Create(record, d3dTexture, &info, resolutionX, resolutionY);
    if (!texture)
    {
        d3dTexture->Release();
        DropRecord(record);
        return E_OUTOFMEMORY;
    }
    *out = texture;
    return S_OK;
}

// The alternatives the texture loaders name for the record, each made by `make` (which must not ask
// for alternatives again).
template <class Make> void AddAlternatives(Texture_* texture, LoadRecordStruct_TYP* record, Make make)
{
    const char* listName = record->resolvedName ? record->resolvedName : record->name;
    if (!listName) return;
    lumoVector<LoaderAlternativeStruct_TYP> list;
    if (CurrentGlobals->loaders.GetAlternatives(LoadedPartTexture, listName, &list) != 0) return;
    LoadListEntries(list, texture, &texture->alternatives,
                    [&](const CString& name) -> Texture_*
                    {
                        Texture_* alternative = nullptr;
                        if (FAILED(make(name, &alternative))) return nullptr;
                        return alternative;
                    });
}
} // namespace

HRESULT LoadTexture(const char* name, const TextureLoadOptionsStruct_TYP* options, Texture_** out,
                    bool noAlternatives)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!name || !out) return E_INVALIDARG;
    *out = nullptr;
    if (std::strcmp(name, " ") == 0) return E_FAIL;
    LoadRecordStruct_TYP* record = nullptr;
    if (CurrentGlobals->loaders.LoadShared(LoadedPartTexture, name, &record) != 0 || !record) return E_FAIL;
    if (record->object)
    {
        *out = static_cast<Texture_*>(record->object);
        return S_OK;
    }
    const TextureLoadOptionsStruct_TYP& o = options ? *options : kDefaultTextureLoadOptions;
    if (record->data) LimitBmpColorsUsed(record->data, record->size);
    Texture_* texture = nullptr;
    const HRESULT hr =
        BuildTexture(record, record->data, record->data ? record->size : 0, o, false, &texture);
    if (FAILED(hr)) return hr;
    if (!noAlternatives)
        AddAlternatives(texture, record,
                        [&](const CString& alternative, Texture_** made)
                        { return LoadTexture(alternative, &o, made, true); });
    *out = texture;
    return S_OK;
}

HRESULT CreateTextureFromMemory(const void* data, DWORD size, const TextureLoadOptionsStruct_TYP* options,
                                Texture_** out, const char* name, bool flip, bool noAlternatives)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!out || !data) return E_INVALIDARG;
    *out = nullptr;
    const TextureLoadOptionsStruct_TYP& o = options ? *options : kDefaultTextureLoadOptions;
    if (!name) return BuildTexture(nullptr, data, size, o, flip, out);

    AllLoaders_& loaders = CurrentGlobals->loaders;
    LoadRecordStruct_TYP* record = nullptr;
    if (loaders.LoadShared(LoadedPartTexture, name, &record) != 0 || !record)
    {
        const HRESULT added = loaders.AddRecordFromMemory(size, data, LoadedPartTexture, name, &record);
        if (FAILED(added)) return added;
    }
    if (record->object)
    {
        *out = static_cast<Texture_*>(record->object);
        return S_OK;
    }
    Texture_* texture = nullptr;
    const HRESULT hr = BuildTexture(record, data, size, o, flip, &texture);
    if (FAILED(hr)) return hr;
    if (!noAlternatives)
        AddAlternatives(texture, record,
                        [&](const CString& alternative, Texture_** made)
                        { return CreateTextureFromMemory(data, size, &o, made, alternative, flip, true); });
    *out = texture;
    return S_OK;
}

Texture_* CreateSpriteTexture(const void* data, DWORD size)
{
    static constexpr TextureLoadOptionsStruct_TYP kSpriteOptions = {0, 0, 0, 21, 4, 4, 0xFF000000u};
    Texture_* texture = nullptr;
    if (FAILED(LRCreateTextureFromMemory(data, size, &kSpriteOptions, &texture, nullptr))) return nullptr;
    return texture;
}

void ReleaseSpriteTexture(Texture_** texture)
{
    if (!texture) return;
    if (*texture) (*texture)->Release();
    *texture = nullptr;
}
} // namespace LMK

// ---------------------------------------------------------------------------------------------------
HRESULT LRLoadTexture(const char* name, const LMK::TextureLoadOptionsStruct_TYP* options,
                      LMK::Texture_** texture)
{
    return LMK::LoadTexture(name, options, texture, false);
}

HRESULT LRCreateTextureFromMemory(const void* data, DWORD size,
                                  const LMK::TextureLoadOptionsStruct_TYP* options, LMK::Texture_** texture,
                                  const char* name)
{
    return LMK::CreateTextureFromMemory(data, size, options, texture, name, false, false);
}

HRESULT LRCreateTextureFromBitmapMemory(const void* data, DWORD size,
                                        const LMK::TextureLoadOptionsStruct_TYP* options,
                                        LMK::Texture_** texture, const char* name)
{
    // Embedded 8-bit BMPs are stored with their rows turned; they are turned back here.
    const ferolt::ByteReader bytes(data, size);
    uint16_t signature = 0, bitsPerPixel = 0;
    const bool flip = size > 54 && bytes.U16(0, &signature) && signature == 0x4D42 &&
                      bytes.U16(28, &bitsPerPixel) && bitsPerPixel == 8;
    return LMK::CreateTextureFromMemory(data, size, options, texture, name, flip, false);
}

HRESULT LRReleaseTexture(LMK::Texture_** texture)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!texture) return E_INVALIDARG;
    if (*texture) (*texture)->Release();
    *texture = nullptr;
    return S_OK;
}

HRESULT LRSetTextureFlag(LMK::Texture_* texture, BYTE flag)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!texture) return E_INVALIDARG;
    texture->codecFlag = flag;
    return S_OK;
}
