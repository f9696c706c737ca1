#include "engine/core/texture.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/core/globals.h"
#include "engine/core/heap_string.h"
#include "engine/core/owned_array.h"
#include "platform/win32/out_of_memory.h"

namespace LMK
{
namespace
{
// Channel sums of one pixel by format; bits per channel go to `bits` (0: the format lacks it).
struct ChannelLayout
{
    UINT bytes;
    UINT bits[4]; // red, green, blue, alpha
};

bool AveragedLayout(D3DFORMAT format, ChannelLayout* out)
{
    switch (format)
    {
    case D3DFMT_R8G8B8:
        *out = {3, {8, 8, 8, 0}};
        return true;
    case D3DFMT_A8R8G8B8:
        *out = {4, {8, 8, 8, 8}};
        return true;
    case D3DFMT_X8R8G8B8:
        *out = {4, {8, 8, 8, 0}};
        return true;
    case D3DFMT_R5G6B5:
        *out = {2, {5, 6, 5, 0}};
        return true;
    case D3DFMT_X1R5G5B5:
        *out = {2, {5, 5, 5, 0}};
        return true;
    case D3DFMT_A1R5G5B5:
        *out = {2, {5, 5, 5, 1}};
        return true;
    default:
        return false;
    }
}

// Red, green, blue and alpha of one pixel as stored, each in its own bit width.
void Channels(D3DFORMAT format, const BYTE* p, UINT out[4])
{
    WORD v = 0;
    switch (format)
    {
    case D3DFMT_R8G8B8:
    case D3DFMT_X8R8G8B8:
        out[0] = p[2], out[1] = p[1], out[2] = p[0], out[3] = 0;
        return;
    case D3DFMT_A8R8G8B8:
        out[0] = p[2], out[1] = p[1], out[2] = p[0], out[3] = p[3];
        return;
    case D3DFMT_R5G6B5:
        std::memcpy(&v, p, 2);
        out[0] = v >> 11, out[1] = (v >> 5) & 63, out[2] = v & 31, out[3] = 0;
        return;
    default: // X1R5G5B5, A1R5G5B5
        std::memcpy(&v, p, 2);
        out[0] = (v >> 10) & 31, out[1] = (v >> 5) & 31, out[2] = v & 31;
        out[3] = format == D3DFMT_A1R5G5B5 ? v >> 15 : 0;
        return;
    }
}
} // namespace

DeviceSpecificTextureData_::~DeviceSpecificTextureData_()
{
    if (texture) texture->Release();
}

Texture_::Texture_(LoadRecordStruct_TYP* record, IDirect3DTexture9* d3dTexture, const D3DXIMAGE_INFO* info,
                   float resolutionXIn, float resolutionYIn)
    : LoadedPart_(record), resolutionX(resolutionXIn), resolutionY(resolutionYIn)
{
    if (info) imageInfo = std::make_unique<D3DXIMAGE_INFO>(*info);
    // Last of what may fail: from here the texture holds the Direct3D texture.
    primaryData = std::make_unique<DeviceSpecificTextureData_>(PrimaryDevice(), d3dTexture, this);
    if (record && CurrentGlobals)
    {
        const DWORD cookie = record->loaderCookie;
        CurrentGlobals->loaders.AttachObjectToRecord(record, this);
        if (CurrentGlobals->PartCreatedCallback)
            CurrentGlobals->PartCreatedCallback(record->loader, record->type, record->resolvedName, cookie,
                                                this);
    }
}

Texture_* Texture_::Create(LoadRecordStruct_TYP* record, IDirect3DTexture9* d3dTexture,
                           const D3DXIMAGE_INFO* info, float resolutionX, float resolutionY)
{
    Texture_* made = nullptr;
    ferolt::Allocated([&] { made = new Texture_(record, d3dTexture, info, resolutionX, resolutionY); });
    return made;
}

Texture_::~Texture_()
{
    if (bumpSource && bumpSource->derivedBumpMap == this) bumpSource->derivedBumpMap = nullptr;
    if (derivedBumpMap && derivedBumpMap->bumpSource == this) derivedBumpMap->bumpSource = nullptr;
    for (TextureAlternativeStruct_TYP& alternative : alternatives)
    {
        if (alternative.texture) alternative.texture->Release();
        alternative.texture = nullptr;
    }
}

void Texture_::Release()
{
    if (refCount == 1 && bumpSource)
    {
        Texture_* source = bumpSource;
        source->derivedBumpMap = nullptr;
        bumpSource = nullptr;
        source->Release();
        delete this;
        return;
    }
    LoadedPart_::Release();
}

IDirect3DTexture9* Texture_::PrimaryTexture() const
{
    return primaryData ? static_cast<DeviceSpecificTextureData_*>(primaryData.get())->texture : nullptr;
}

IDirect3DTexture9* Texture_::TextureForDevice(IDirect3DDevice9* device)
{
    auto* data = static_cast<DeviceSpecificTextureData_*>(GetDataForDevice(device, nullptr, nullptr));
    return data ? data->texture : nullptr;
}

std::unique_ptr<DeviceSpecificDataContainer_> Texture_::CreateDataForDevice(IDirect3DDevice9* device)
{
    IDirect3DTexture9* source = PrimaryTexture();
    IDirect3DTexture9* copy = nullptr;
    D3DSURFACE_DESC desc{};
    if (source && device && SUCCEEDED(source->GetLevelDesc(0, &desc)) &&
        SUCCEEDED(D3DXCreateTexture(device, desc.Width, desc.Height, source->GetLevelCount(), desc.Usage,
                                    desc.Format, desc.Pool, &copy)))
    {
        const UINT levels = std::min(source->GetLevelCount(), copy->GetLevelCount());
        for (UINT level = 0; level < levels; ++level)
        {
            D3DSURFACE_DESC from{}, to{};
            D3DLOCKED_RECT in{}, out{};
            if (FAILED(source->GetLevelDesc(level, &from)) || FAILED(copy->GetLevelDesc(level, &to)))
                continue;
            if (FAILED(source->LockRect(level, &in, nullptr, D3DLOCK_READONLY))) continue;
            if (SUCCEEDED(copy->LockRect(level, &out, nullptr, 0)))
            {
                const size_t rowBytes = size_t(std::min(in.Pitch, out.Pitch));
                const UINT rows = std::min(from.Height, to.Height);
                for (UINT y = 0; y < rows; ++y)
                    std::memcpy(static_cast<BYTE*>(out.pBits) + size_t(y) * out.Pitch,
                                static_cast<const BYTE*>(in.pBits) + size_t(y) * in.Pitch, rowBytes);
                copy->UnlockRect(level);
            }
            source->UnlockRect(level);
        }
    }
    // The device texture goes with a record that could not be made.
    CountedPtr<IDirect3DTexture9> held(copy);
    auto data = std::make_unique<DeviceSpecificTextureData_>(device, copy, this);
    held.release();
    return data;
}

bool Texture_::GetNames(char** requestedName, char** resolvedName) const
{
    if (requestedName) *requestedName = nullptr;
    if (resolvedName) *resolvedName = nullptr;
    if (!loadRecord) return false;
    if (requestedName) *requestedName = HeapCopy(loadRecord->name);
    if (resolvedName) *resolvedName = HeapCopy(loadRecord->resolvedName);
    return true;
}

HRESULT Texture_::GetImageSize(UINT* width, UINT* height) const
{
    if (!imageInfo) return E_FAIL;
    if (width) *width = imageInfo->Width;
    if (height) *height = imageInfo->Height;
    return S_OK;
}

void Texture_::GetAverageColor(float* r, float* g, float* b, float* a)
{
    float* outputs[4] = {r, g, b, a};
    if (!averageValid)
    {
        std::fill(std::begin(averageColor), std::end(averageColor), 0.0f);
        IDirect3DTexture9* texture = PrimaryTexture();
        if (!texture || texture->GetLevelCount() == 0) return;
        const UINT level = texture->GetLevelCount() - 1;
        D3DSURFACE_DESC desc{};
        D3DLOCKED_RECT locked{};
        if (FAILED(texture->GetLevelDesc(level, &desc)) ||
            FAILED(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY)))
            return;
        ChannelLayout layout{};
        if (!AveragedLayout(desc.Format, &layout))
        {
            texture->UnlockRect(level);
            return;
        }
        uint64_t sums[4] = {0, 0, 0, 0};
        for (UINT y = 0; y < desc.Height; ++y)
        {
            const BYTE* row = static_cast<const BYTE*>(locked.pBits) + size_t(y) * locked.Pitch;
            for (UINT x = 0; x < desc.Width; ++x)
            {
                UINT c[4];
                Channels(desc.Format, row + size_t(x) * layout.bytes, c);
                for (int i = 0; i < 4; ++i)
                    sums[i] += c[i];
            }
        }
        texture->UnlockRect(level);
        const double pixels = double(desc.Width) * desc.Height;
        for (int i = 0; i < 4; ++i)
            if (layout.bits[i] && pixels > 0)
                averageColor[i] = float(double(sums[i]) / (double((1u << layout.bits[i]) - 1) * pixels));
        averageValid = 1;
    }
    for (int i = 0; i < 4; ++i)
        if (outputs[i]) *outputs[i] = averageColor[i];
}
} // namespace LMK
