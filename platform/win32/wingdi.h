#pragma once
// Regions of the graphics interface. The drawing part (device contexts, brushes, fonts, bitmaps) is in
// platform/win32/gdi_dc.h; DeleteObject serves both.
#include "platform/win32/windef.h"

#define ERROR 0
#define NULLREGION 1
#define SIMPLEREGION 2
#define COMPLEXREGION 3
#define RGN_ERROR ERROR

#define RGN_AND 1
#define RGN_OR 2
#define RGN_XOR 3
#define RGN_DIFF 4
#define RGN_COPY 5
#define RGN_MIN RGN_AND
#define RGN_MAX RGN_COPY

#define RDH_RECTANGLES 1

struct RGNDATAHEADER
{
    DWORD dwSize;
    DWORD iType;
    DWORD nCount;
    DWORD nRgnSize;
    RECT rcBound;
};
static_assert(sizeof(RGNDATAHEADER) == 32);

struct RGNDATA
{
    RGNDATAHEADER rdh;
    char Buffer[1];
};
using LPRGNDATA = RGNDATA*;

HRGN CreateRectRgn(int left, int top, int right, int bottom);
HRGN CreateRectRgnIndirect(const RECT* rect);
BOOL SetRectRgn(HRGN region, int left, int top, int right, int bottom);
// dst may be one of the sources. Returns the result's complexity or ERROR.
int CombineRgn(HRGN dst, HRGN src1, HRGN src2, int mode);
int OffsetRgn(HRGN region, int dx, int dy);
int GetRgnBox(HRGN region, LPRECT box);
BOOL PtInRegion(HRGN region, int x, int y);
BOOL RectInRegion(HRGN region, const RECT* rect);
BOOL EqualRgn(HRGN a, HRGN b);
// With a null buffer returns the bytes needed; with a buffer of `count` bytes that is large enough
// fills it and returns count; 0 when the buffer is too small or the handle is not a region.
DWORD GetRegionData(HRGN region, DWORD count, LPRGNDATA data);
HRGN ExtCreateRegion(const void* transform, DWORD count, const RGNDATA* data);
BOOL DeleteObject(HGDIOBJ object);

namespace ferolt::win32
{
class Region;
// The region behind a handle, or null; valid until the handle is deleted.
Region* RegionFromHandle(HRGN region);
bool IsRegionHandle(HGDIOBJ object);
} // namespace ferolt::win32
