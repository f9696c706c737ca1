#pragma once
// D3DX 9 textures: textures from image files in memory (decoded by the shared image layer), texture
// creation with size and format adjustment, surface copies and mip-chain filtering.
#include "platform/d3d9/d3d9.h"
#include "platform/d3dx9/d3dx9mesh.h"

#ifndef FEROLT_PALETTEENTRY_DEFINED
#define FEROLT_PALETTEENTRY_DEFINED
struct PALETTEENTRY
{
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
};
#endif

constexpr DWORD D3DX_DEFAULT = 0xFFFFFFFF;
constexpr DWORD D3DX_DEFAULT_NONPOW2 = 0xFFFFFFFE;
constexpr DWORD D3DX_FROM_FILE = 0xFFFFFFFD;
constexpr D3DFORMAT D3DFMT_FROM_FILE = static_cast<D3DFORMAT>(0xFFFFFFFD);

constexpr DWORD D3DX_FILTER_NONE = 1 << 0;
constexpr DWORD D3DX_FILTER_POINT = 2 << 0;
constexpr DWORD D3DX_FILTER_LINEAR = 3 << 0;
constexpr DWORD D3DX_FILTER_TRIANGLE = 4 << 0;
constexpr DWORD D3DX_FILTER_BOX = 5 << 0;
constexpr DWORD D3DX_FILTER_MIRROR_U = 1 << 16;
constexpr DWORD D3DX_FILTER_MIRROR_V = 2 << 16;
constexpr DWORD D3DX_FILTER_MIRROR_W = 4 << 16;
constexpr DWORD D3DX_FILTER_MIRROR = 7 << 16;
constexpr DWORD D3DX_FILTER_DITHER = 1 << 19;
constexpr DWORD D3DX_FILTER_DITHER_DIFFUSION = 2 << 19;
constexpr DWORD D3DX_FILTER_SRGB_IN = 1 << 21;
constexpr DWORD D3DX_FILTER_SRGB_OUT = 2 << 21;
constexpr DWORD D3DX_FILTER_SRGB = 3 << 21;

enum D3DXIMAGE_FILEFORMAT : DWORD
{
    D3DXIFF_BMP = 0,
    D3DXIFF_JPG = 1,
    D3DXIFF_TGA = 2,
    D3DXIFF_PNG = 3,
    D3DXIFF_DDS = 4,
    D3DXIFF_PPM = 5,
    D3DXIFF_DIB = 6,
    D3DXIFF_HDR = 7,
    D3DXIFF_PFM = 8,
    D3DXIFF_FORCE_DWORD = 0x7fffffff
};

struct D3DXIMAGE_INFO
{
    UINT Width;
    UINT Height;
    UINT Depth;
    UINT MipLevels;
    D3DFORMAT Format;
    D3DRESOURCETYPE ResourceType;
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
};

// Sizes and levels are adjusted to what the device can hold (D3DX_DEFAULT: from the file, rounded up
// to powers of two where the device needs them; 0 levels: the full chain).
HRESULT D3DXCheckTextureRequirements(IDirect3DDevice9* pDevice, UINT* pWidth, UINT* pHeight,
                                     UINT* pNumMipLevels, DWORD Usage, D3DFORMAT* pFormat, D3DPOOL Pool);
HRESULT D3DXCreateTexture(IDirect3DDevice9* pDevice, UINT Width, UINT Height, UINT MipLevels, DWORD Usage,
                          D3DFORMAT Format, D3DPOOL Pool, IDirect3DTexture9** ppTexture);

// GIF's transparency, JPEG-2000 and anything the image layer does not read fail with
// D3DXERR_INVALIDDATA; the texture pointer is then null.
HRESULT D3DXGetImageInfoFromFileInMemory(const void* pSrcData, UINT SrcDataSize, D3DXIMAGE_INFO* pSrcInfo);
HRESULT D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9* pDevice, const void* pSrcData, UINT SrcDataSize,
                                            UINT Width, UINT Height, UINT MipLevels, DWORD Usage,
                                            D3DFORMAT Format, D3DPOOL Pool, DWORD Filter, DWORD MipFilter,
                                            D3DCOLOR ColorKey, D3DXIMAGE_INFO* pSrcInfo,
                                            PALETTEENTRY* pPalette, IDirect3DTexture9** ppTexture);
HRESULT D3DXCreateTextureFromFileInMemory(IDirect3DDevice9* pDevice, const void* pSrcData, UINT SrcDataSize,
                                          IDirect3DTexture9** ppTexture);

// Copies (and scales) pixels between surfaces of any format this layer converts; texels equal to a
// non-zero colour key (compared as A8R8G8B8) become transparent black.
HRESULT D3DXLoadSurfaceFromSurface(IDirect3DSurface9* pDestSurface, const PALETTEENTRY* pDestPalette,
                                   const RECT* pDestRect, IDirect3DSurface9* pSrcSurface,
                                   const PALETTEENTRY* pSrcPalette, const RECT* pSrcRect, DWORD Filter,
                                   D3DCOLOR ColorKey);
// Fills every level below SrcLevel from the one above it.
HRESULT D3DXFilterTexture(IDirect3DBaseTexture9* pBaseTexture, const PALETTEENTRY* pPalette, UINT SrcLevel,
                          DWORD Filter);
