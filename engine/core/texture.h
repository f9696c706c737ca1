#pragma once
// Textures: reference-counted resources that wrap one Direct3D texture per device. They are loaded by
// name through the texture loaders, made from image bytes (shared under a name or private), made from
// raw pixels, or derived from another texture as a bump map.
#include <memory>
#include <vector>

#include "engine/core/device_data.h"
#include "engine/core/loaders.h"
#include "engine/core/lr_texture_api.h"
#include "platform/d3dx9/d3dx9tex.h"

namespace LMK
{
class Texture_;

struct TextureAlternativeStruct_TYP
{
    Texture_* texture; // a counted reference
    DWORD value;       // matched against the view's alternative selector
};

class DeviceSpecificTextureData_ final : public DeviceSpecificDataContainer_
{
public:
    DeviceSpecificTextureData_(IDirect3DDevice9* owner, IDirect3DTexture9* d3dTexture, Texture_* of)
        : DeviceSpecificDataContainer_(owner), texture(d3dTexture), ownerTexture(of)
    {
    }
    void Apply(void*, void*) override {}
    ~DeviceSpecificTextureData_() override;

    IDirect3DTexture9* texture; // owned; null when the device texture could not be made
    Texture_* ownerTexture;
};

class Texture_ : public LoadedPart_, public DeviceSpecificDataHandler_
{
public:
    // Takes over the Direct3D texture as the primary device's copy; the info is copied. When memory runs
    // out (std::bad_alloc) the texture is still the caller's.
    Texture_(LoadRecordStruct_TYP* record, IDirect3DTexture9* d3dTexture, const D3DXIMAGE_INFO* info,
             float resolutionX, float resolutionY);
    // The same for the engine's result-code calls: null when memory runs out.
    static Texture_* Create(LoadRecordStruct_TYP* record, IDirect3DTexture9* d3dTexture,
                            const D3DXIMAGE_INFO* info, float resolutionX, float resolutionY);
    // A texture parked in the release cache keeps only its primary copy.
    void OnCached() override { ReleaseSecondaryData(); }
    ~Texture_() override;
    // A copy of the primary texture, level by level.
    std::unique_ptr<DeviceSpecificDataContainer_> CreateDataForDevice(IDirect3DDevice9* device) override;

    // A bump map's last release lets go of its source and deletes it at once.
    void Release();
    // Heap copies (malloc) of the load record's requested and resolved names; false without a record.
    bool GetNames(char** requestedName, char** resolvedName) const;
    HRESULT GetImageSize(UINT* width, UINT* height) const;
    // Red, green, blue and alpha from 0 to 1 over the smallest mip level; nothing is written for a
    // texture without a device texture or of a format not averaged.
    void GetAverageColor(float* r, float* g, float* b, float* a);

    IDirect3DTexture9* PrimaryTexture() const;
    // The texture's copy for the device (made on first use); null when it cannot be made.
    IDirect3DTexture9* TextureForDevice(IDirect3DDevice9* device);

    std::unique_ptr<D3DXIMAGE_INFO> imageInfo; // the image's size before any scaling
    Texture_* derivedBumpMap = nullptr;        // not a counted reference
    Texture_* bumpSource = nullptr;            // a counted reference
    std::vector<TextureAlternativeStruct_TYP> alternatives;
    BYTE codecFlag = 0;
    BYTE averageValid = 0;
    float averageColor[4] = {};
    float resolutionX = 0; // dots per inch; 0 when unknown
    float resolutionY = 0;
};

HRESULT LoadTexture(const char* name, const TextureLoadOptionsStruct_TYP* options, Texture_** out,
                    bool noAlternatives);
HRESULT CreateTextureFromMemory(const void* data, DWORD size, const TextureLoadOptionsStruct_TYP* options,
                                Texture_** out, const char* name, bool flip, bool noAlternatives);
} // namespace LMK
