#include "engine/render/save_image.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/core/globals.h"
#include "engine/core/owned_array.h"
#include "engine/core/lr_view_api.h"
#include "engine/render/back_buffer_window.h"
#include "engine/render/render_view.h"
#include "platform/gdiplus/gdiplus.h"
#include "platform/image/image.h"
#include "platform/win32/windows.h"

namespace LMK
{
bool __stdcall SaveImageReadBackCallback(void* context, ReadBackStruct_TYP* readBack)
{
    auto* c = static_cast<SaveImageReadBackContext_TYP*>(context);
    if (!c || !c->strip || !readBack || !readBack->bits) return false;
    const D3DFORMAT format = readBack->format;
    uint32_t bytes = 0;
    if (format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8)
        bytes = 4;
    else if (format == D3DFMT_R5G6B5 || format == D3DFMT_X1R5G5B5 || format == D3DFMT_A1R5G5B5)
        bytes = 2;
    else
        return false;
    // The part is clamped to the tile: a part reaching past the tile window must not write into the
    // next tile's columns or past the strip.
    const RECT& part = readBack->partRect;
    const RECT& client = readBack->backBufferRect;
    const LONG left = std::max<LONG>(part.left - client.left, 0);
    const LONG top = std::max<LONG>(part.top - client.top, 0);
    const LONG right = std::min<LONG>(part.right - client.left, static_cast<LONG>(c->tileWidth));
    const LONG bottom = std::min<LONG>(part.bottom - client.top, static_cast<LONG>(c->tileHeight));
    if (left >= right || top >= bottom) return false;
    const auto* source = static_cast<const uint8_t*>(readBack->bits) +
                         static_cast<ptrdiff_t>(top - (part.top - client.top)) * readBack->pitch +
                         static_cast<ptrdiff_t>(left - (part.left - client.left)) * bytes;
    const uint32_t width = static_cast<uint32_t>(right - left);
    for (LONG y = top; y < bottom; ++y, source += readBack->pitch)
    {
        uint32_t* out =
            c->strip + static_cast<size_t>(y) * c->rowLength + c->xOffset + static_cast<uint32_t>(left);
        if (format == D3DFMT_A8R8G8B8)
        {
            std::memcpy(out, source, size_t(width) * 4);
            continue;
        }
        // Formats without alpha come out opaque, so that drawing into a device context shows them.
        for (uint32_t x = 0; x < width; ++x)
        {
            uint32_t p = 0;
            if (bytes == 4)
            {
                std::memcpy(&p, source + 4 * x, 4);
                out[x] = p | 0xFF000000u;
                continue;
            }
            uint16_t v = 0;
            std::memcpy(&v, source + 2 * x, 2);
            if (format == D3DFMT_R5G6B5)
                out[x] = 0xFF000000u | (uint32_t(v >> 11) << 19) | (uint32_t((v >> 5) & 63) << 10) |
                         (uint32_t(v & 31) << 3);
            else
                out[x] = 0xFF000000u | (uint32_t((v >> 10) & 31) << 19) | (uint32_t((v >> 5) & 31) << 11) |
                         (uint32_t(v & 31) << 3);
        }
    }
    c->copied = true;
    return false;
}

void DownsampleBox(uint8_t* pixels, uint32_t rowLength, uint32_t rows, uint32_t k)
{
    if (!pixels || k == 0) return;
    uint8_t* out = pixels;
    // Output pixel n of block row b lies at or before the first pixel its own block reads, and every
    // later block lies further on, so filtering in place never reads an overwritten pixel.
    for (uint32_t y = 0; y + k <= rows; y += k)
        for (uint32_t x = 0; x + k <= rowLength; x += k)
        {
            uint32_t sum[4] = {0, 0, 0, 0};
            for (uint32_t j = 0; j < k; ++j)
            {
                const uint8_t* p = pixels + (size_t(y + j) * rowLength + x) * 4;
                for (uint32_t i = 0; i < k; ++i, p += 4)
                    for (int b = 0; b < 4; ++b)
                        sum[b] += p[b];
            }
            for (int b = 0; b < 4; ++b)
                out[b] = static_cast<uint8_t>(sum[b] / (k * k));
            out += 4;
        }
}

bool WriteBmpRow(FILE* file, const uint8_t* pixels, uint32_t width)
{
    std::vector<uint8_t> row(ferolt::image::RowBytesBmp24(width), 0);
    for (uint32_t x = 0; x < width; ++x)
    {
        row[3 * x] = pixels[4 * x];
        row[3 * x + 1] = pixels[4 * x + 1];
        row[3 * x + 2] = pixels[4 * x + 2];
    }
    return std::fwrite(row.data(), row.size(), 1, file) == 1;
}

bool WriteJpegRow(ferolt::image::JpegWriter* writer, const uint8_t* pixels)
{
    uint32_t const* row = reinterpret_cast<const uint32_t*>(pixels);
    return writer->WriteRow(row) == ferolt::image::Status::Ok;
}

void DrawPixelsToGraphics(Gdiplus::Graphics* graphics, int32_t x, int32_t y, uint32_t width, uint32_t rows,
                          const uint8_t* pixels)
{
    Gdiplus::Bitmap bitmap(static_cast<INT>(width), static_cast<INT>(rows), static_cast<INT>(4 * width),
                           Gdiplus::PixelFormat32bppARGB, const_cast<BYTE*>(pixels));
    graphics->DrawImage(&bitmap, x, y, static_cast<INT>(width), static_cast<INT>(rows));
}

namespace
{
// Where the finished rows go. A file that is not finished is removed, so a failed or cancelled save
// leaves nothing behind.
class SaveTarget_
{
public:
    explicit SaveTarget_(const SaveImageStruct_TYP& params) : p_(params) {}
    ~SaveTarget_()
    {
        if (file_) Discard();
    }

    bool Open()
    {
        const uint32_t w = p_.width, h = p_.height;
        switch (p_.format)
        {
        case SaveImageFormatBmp:
        {
            file_ = std::fopen(p_.fileName, "w+b");
            if (!file_) return false;
            const std::vector<uint8_t> header = ferolt::image::Bmp24Header(w, h);
            return std::fwrite(header.data(), header.size(), 1, file_) == 1;
        }
        case SaveImageFormatJpeg:
        {
            file_ = std::fopen(p_.fileName, "wb");
            if (!file_) return false;
            const int quality = static_cast<int>(p_.quality * 100.0f + 0.5f);
            jpeg_ = std::make_unique<ferolt::image::JpegWriter>();
            return jpeg_->Start(file_, w, h, quality) == ferolt::image::Status::Ok;
        }
        case SaveImageFormatDeviceContext:
            graphics_.reset(Gdiplus::Graphics::FromHDC(p_.dc));
            if (!graphics_ || graphics_->GetLastStatus() != Gdiplus::Ok) return false;
            graphics_->SetPageUnit(Gdiplus::UnitPixel);
            y_ = p_.y;
            return true;
        default:
            return false;
        }
    }

    bool CanCancel() const { return file_ != nullptr; }

    bool Write(const uint32_t* rows, uint32_t count)
    {
        const uint32_t w = p_.width;
        const auto* bytes = reinterpret_cast<const uint8_t*>(rows);
        if (graphics_)
        {
            DrawPixelsToGraphics(graphics_.get(), p_.x, y_, w, count, bytes);
            y_ += static_cast<int32_t>(count);
            return true;
        }
        for (uint32_t r = 0; r < count; ++r)
        {
            const uint8_t* row = bytes + size_t(r) * w * 4;
            if (!(jpeg_ ? WriteJpegRow(jpeg_.get(), row) : WriteBmpRow(file_, row, w))) return false;
        }
        return true;
    }

    bool Finish()
    {
        if (!file_) return true;
        bool ok = !jpeg_ || jpeg_->Finish() == ferolt::image::Status::Ok;
        jpeg_.reset();
        ok = std::fclose(file_) == 0 && ok;
        file_ = nullptr;
        if (!ok) DeleteFileA(p_.fileName);
        return ok;
    }

    void Discard()
    {
        jpeg_.reset();
        std::fclose(file_);
        file_ = nullptr;
        DeleteFileA(p_.fileName);
    }

private:
    const SaveImageStruct_TYP& p_;
    FILE* file_ = nullptr;
    std::unique_ptr<ferolt::image::JpegWriter> jpeg_;
    std::unique_ptr<Gdiplus::Graphics> graphics_; // FromHDC hands it over to be deleted
    int32_t y_ = 0;
};

// Renders one tile into the strip. A tile whose device was only reset to the new window drew nothing,
// so it is drawn once more.
HRESULT RenderTile(RenderViewStruct_TYP* copy, SaveImageReadBackContext_TYP* context,
                   const ViewParamsStruct_TYP& params, uint32_t width, uint32_t height, DWORD objectCount,
                   Object_** objects, DWORD lightCount, Light_** lights)
{
    auto window = std::make_unique<CBackBWnd>(width, height);
    copy->backBuffer = nullptr;
    copy->camera = nullptr;
    if (!window->m_hWnd || FAILED(LRCreateBackBuffer(window->m_hWnd, &copy->backBuffer, nullptr)))
        return E_FAIL;
    HRESULT hr = LRCreateViewFromParams(&params, &copy->camera);
    if (SUCCEEDED(hr))
    {
        context->tileWidth = width;
        context->tileHeight = height;
        context->copied = false;
        hr = LRRenderView(copy, objectCount, objects, lightCount, lights);
        if (!context->copied) hr = LRRenderView(copy, objectCount, objects, lightCount, lights);
        // A tile that was not read back would leave the previous strip's pixels in the image.
        if (SUCCEEDED(hr) && !context->copied) hr = E_FAIL;
    }
    LRReleaseView(&copy->camera);
    LRReleaseBackBuffer(&copy->backBuffer);
    return hr;
}
} // namespace
} // namespace LMK

using namespace LMK;

HRESULT LRSaveImage(RenderViewStruct_TYP* view, DWORD objectCount, Object_** objects, DWORD lightCount,
                    Light_** lights, SaveImageStruct_TYP* params)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!view || !view->camera || !params || params->width == 0 || params->height == 0) return E_INVALIDARG;
    if (!params->fileName && !(params->format == SaveImageFormatDeviceContext && params->dc))
        return E_INVALIDARG;
    if (params->format != SaveImageFormatBmp && params->format != SaveImageFormatJpeg &&
        params->format != SaveImageFormatDeviceContext)
        return E_FAIL;
    const uint32_t k = std::clamp<uint32_t>(params->oversampling, 1, 8);
    const uint32_t W = params->width, H = params->height;
    const uint32_t Wk = W * k, Hk = H * k;

    // The display size decides the pieces; without it no file is made at all.
    UINT dw = 0, dh = 0;
    if (FAILED(LRGetDisplaySize(&dw, &dh)) || dw == 0 || dh == 0) return E_FAIL;
    const uint32_t T = std::min<uint32_t>(Wk, dw);
    uint32_t S = std::min<uint32_t>(Hk, dh);
    if (uint64_t(S) * Wk > kMaxStripPixels) S = static_cast<uint32_t>(kMaxStripPixels / Wk);
    S -= S % k;
    if (S == 0) S = k;

    ViewParamsStruct_TYP P{};
    if (FAILED(LRGetViewParams(view->camera, &P))) return E_FAIL;

    const std::unique_ptr<uint32_t[]> strip = NewArray<uint32_t>(size_t(S) * Wk);
    if (!strip) return E_OUTOFMEMORY;

    SaveTarget_ target(*params);
    if (!target.Open()) return E_FAIL;

    // The image keeps the horizontal extent of the camera's window and its vertical centre; its height
    // follows the image's aspect.
    const float l0 = P.secondWindow[0];
    const float ww = P.secondWindow[1] - P.secondWindow[0];
    const float hh = static_cast<float>(H) * ww / static_cast<float>(W);
    const float c = (P.secondWindow[2] + P.secondWindow[3]) / 2.0f;
    P.secondWindow[2] = c + hh / 2.0f;
    P.secondWindow[3] = c - hh / 2.0f;

    RenderViewStruct_TYP copy = *view;
    SaveImageReadBackContext_TYP context{strip.get(), Wk, 0, 0, 0, false};
    copy.readBackContext = &context;
    copy.readBack = SaveImageReadBackCallback;

    const uint32_t tilesPerStrip = (Wk + T - 1) / T;
    const uint32_t strips = (Hk + S - 1) / S;
    const float total = static_cast<float>((tilesPerStrip + 2) * strips);
    uint32_t done = 0;
    // False when the caller cancelled a file save.
    auto step = [&]() -> bool
    {
        ++done;
        if (!params->progress) return true;
        const bool goOn = params->progress(static_cast<float>(done) / total, params->user);
        return goOn || !target.CanCancel();
    };

    for (uint32_t r0 = 0; r0 < Hk; r0 += S)
    {
        const uint32_t n = std::min(S, Hk - r0);
        const float ts = (c + hh / 2.0f) - hh * static_cast<float>(r0) / static_cast<float>(Hk);
        const float hs = hh * static_cast<float>(n) / static_cast<float>(Hk);
        for (uint32_t c0 = 0; c0 < Wk; c0 += T)
        {
            const uint32_t m = std::min(T, Wk - c0);
            P.window[0] = l0 + ww * static_cast<float>(c0) / static_cast<float>(Wk);
            P.window[1] = P.window[0] + ww * static_cast<float>(m) / static_cast<float>(Wk);
            P.window[2] = ts;
            P.window[3] = ts - hs;
            context.xOffset = c0;
            const HRESULT hr = RenderTile(&copy, &context, P, m, n, objectCount, objects, lightCount, lights);
            // A strip with a hole would write stale pixels: the save fails as a whole.
            if (FAILED(hr)) return hr;
            if (!step()) return E_ABORT;
        }
        if (k != 1) DownsampleBox(reinterpret_cast<uint8_t*>(strip.get()), Wk, n, k);
        if (!step()) return E_ABORT;
        if (!target.Write(strip.get(), n / k)) return E_FAIL;
        if (!step()) return E_ABORT;
    }
    return target.Finish() ? S_OK : E_FAIL;
}
