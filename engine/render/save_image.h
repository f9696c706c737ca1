#pragma once
// Saving a view as an image of any size: rendered off-screen in strips of tiles no larger than the
// primary display, box-filtered when oversampled, and written as a 24-bit BMP, a JPEG, or drawn into a
// device context.
#include <cstdint>
#include <cstdio>

#include "engine/render/render_records.h"
#include "engine/render/shadows.h"
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

namespace Gdiplus
{
class Graphics;
}
namespace ferolt::image
{
class JpegWriter;
}

namespace LMK
{
class Object_;
class Light_;

constexpr uint32_t SaveImageFormatBmp = 0;
constexpr uint32_t SaveImageFormatJpeg = 1;
constexpr uint32_t SaveImageFormatDeviceContext = 10;

// Strip buffers never hold more pixels than this (300 MiB at 4 bytes a pixel).
constexpr uint64_t kMaxStripPixels = 0x4B00000;

#pragma pack(push, 1)
// Parameters of LRSaveImage; the caller zeroes it whole, then fills it.
struct SaveImageStruct_TYP
{
    uint16_t width;
    uint16_t height;
    int32_t x; // where the image lands in the device context (format 10)
    int32_t y;
    uint32_t oversampling; // 0 is taken as 1, above 8 as 8
    const char* fileName;
    uint32_t format;
    float quality; // JPEG, 0 to 1
    ProgressCallback_TYP progress;
    void* user;
    HDC dc;
    uint8_t reserved[40];
};
#pragma pack(pop)

// What the read-back callback of one save call copies into: the tile's columns of the strip buffer.
struct SaveImageReadBackContext_TYP
{
    uint32_t* strip;
    uint32_t rowLength; // oversampled image width
    uint32_t xOffset;   // the tile's first column in the strip
    uint32_t tileWidth; // the tile never writes outside these
    uint32_t tileHeight;
    bool copied;
};

// Copies the locked tile into the strip buffer; always false, so nothing is presented.
bool __stdcall SaveImageReadBackCallback(void* context, ReadBackStruct_TYP* readBack);
// Averages each k x k block in place; the rows / k result rows of rowLength / k pixels end up packed at
// the start of the buffer.
void DownsampleBox(uint8_t* pixels, uint32_t rowLength, uint32_t rows, uint32_t k);
// One padded 24-bit row; false on a short write.
bool WriteBmpRow(FILE* file, const uint8_t* pixels, uint32_t width);
bool WriteJpegRow(ferolt::image::JpegWriter* writer, const uint8_t* pixels);
void DrawPixelsToGraphics(Gdiplus::Graphics* graphics, int32_t x, int32_t y, uint32_t width, uint32_t rows,
                          const uint8_t* pixels);
} // namespace LMK

// S_OK when every tile rendered and the image was written; E_ABORT when the progress callback cancelled
// (the file is gone); otherwise a failure, and no file is left behind.
HRESULT LRSaveImage(LMK::RenderViewStruct_TYP* view, DWORD objectCount, LMK::Object_** objects,
                    DWORD lightCount, LMK::Light_** lights, LMK::SaveImageStruct_TYP* params);
