#pragma once
// The engine's public API for textures. Every creation path answers E_FAIL before the engine is
// started; textures go back through LRReleaseTexture.
#include "engine/core/lr_core_api.h"
#include "platform/d3d9/d3d9types.h"

namespace LMK
{
class Texture_;

#pragma pack(push, 1)
// Creation options; a null pointer means kDefaultTextureLoadOptions.
struct TextureLoadOptionsStruct_TYP
{
    DWORD width;     // 0: the image's own
    DWORD height;    // 0: the image's own
    DWORD mipLevels; // 0: a full chain
    DWORD format;    // D3DFORMAT, or kDirectPixelsFormat for LRCreateTextureFromPixels
    DWORD filter;    // D3DX filter flags
    DWORD mipFilter;
    DWORD colorKey; // ARGB; pixels equal to it get alpha 0xFE
};
#pragma pack(pop)
static_assert(sizeof(TextureLoadOptionsStruct_TYP) == 28);

constexpr TextureLoadOptionsStruct_TYP kDefaultTextureLoadOptions = {0, 0, 0, 21, 5, 5, 0xFF000000u};
// "LRFQ": LRCreateTextureFromPixels creates the device texture itself, without D3DX.
constexpr DWORD kDirectPixelsFormat = 0x5146524Cu;
} // namespace LMK

// Started. Shared by upper-cased name through the texture loaders, with the name's alternatives.
HRESULT LRLoadTexture(const char* name, const LMK::TextureLoadOptionsStruct_TYP* options,
                      LMK::Texture_** texture);
// Started. Image bytes; with a name the texture is shared under it (an earlier one of that name wins),
// without one it is private.
HRESULT LRCreateTextureFromMemory(const void* data, DWORD size,
                                  const LMK::TextureLoadOptionsStruct_TYP* options, LMK::Texture_** texture,
                                  const char* name);
// The same, except that an 8-bit BMP is turned upside down.
HRESULT LRCreateTextureFromBitmapMemory(const void* data, DWORD size,
                                        const LMK::TextureLoadOptionsStruct_TYP* options,
                                        LMK::Texture_** texture, const char* name);
// Started. Rows of 32-bit ARGB pixels, or of 8-bit indices into a palette of 256 RGBQUADs. A private
// texture; S_OK also when the device texture could not be made (the texture then draws untextured).
HRESULT LRCreateTextureFromPixels(const void* pixels, const DWORD* palette, DWORD width, DWORD height,
                                  const LMK::TextureLoadOptionsStruct_TYP* options, LMK::Texture_** texture);
// Started. The bump map of a height texture (V8U8, L6V5U5 or X8L8V8U8); one per source, shared while
// it lives, holding a reference of its source.
HRESULT LRCreateBumpMap(LMK::Texture_* source, LMK::Texture_** bumpMap, D3DFORMAT format);
// Started. Releases *texture when set and clears it.
HRESULT LRReleaseTexture(LMK::Texture_** texture);
// Started. A flag of the codec's; nothing in the engine reads it.
HRESULT LRSetTextureFlag(LMK::Texture_* texture, BYTE flag);
