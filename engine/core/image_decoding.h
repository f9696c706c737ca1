#pragma once
// Image bytes to a device texture. GDI+ decodes whatever it knows; an image larger than the devices
// can hold is scaled down first; the pixels reach D3DX as a 32-bit BMP in memory whose alpha byte
// tags the colour-key pixels, so that D3DX's own colour keying stays off.
#include "platform/d3dx9/d3dx9tex.h"

namespace LMK
{
// Alpha byte given to pixels equal to the colour key; material alpha testing drops exactly these.
constexpr BYTE kColorKeyAlpha = 0xFE;

// Width and height 0 take the decoded image's size; a request larger than the image is cut to it.
// The info, when given, reports the image's size before any scaling. E_FAIL when GDI+ cannot decode
// the bytes or lock the pixels; otherwise D3DX's result.
HRESULT CreateDeviceTextureFromImage(IDirect3DDevice9* device, const void* image, DWORD size, UINT width,
                                     UINT height, UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                     DWORD filter, DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* info,
                                     PALETTEENTRY* palette, IDirect3DTexture9** texture, bool flip,
                                     float* resolutionX, float* resolutionY);
} // namespace LMK
