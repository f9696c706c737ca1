// Fuzzes the GDI+ decoders the way the engine reaches them: a bitmap from a stream over the input,
// then its size, format and every pixel read through a lock.
#include "memory_stream.h"
#include "platform/gdiplus/gdiplus.h"

#include <cstdint>
#include <memory>

using namespace Gdiplus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ULONG_PTR token = []
    {
        ULONG_PTR t = 0;
        GdiplusStartupInput input;
        GdiplusStartup(&t, &input, nullptr);
        return t;
    }();
    (void)token;
    ferolt::gdiplus::test::MemoryStream stream(std::vector<uint8_t>(data, data + size));
    std::unique_ptr<Bitmap> bitmap(Bitmap::FromStream(&stream));
    if (!bitmap || bitmap->GetLastStatus() != Ok) return 0;
    const UINT width = bitmap->GetWidth(), height = bitmap->GetHeight();
    (void)bitmap->GetPixelFormat();
    (void)bitmap->GetHorizontalResolution();
    if (width == 0 || height == 0 || width > 4096 || height > 4096) return 0;
    BitmapData locked{};
    const Rect all(0, 0, INT(width), INT(height));
    if (bitmap->LockBits(&all, ImageLockModeRead, PixelFormat32bppARGB, &locked) == Ok)
    {
        uint32_t sum = 0;
        for (UINT y = 0; y < height; ++y)
            for (UINT x = 0; x < width; ++x)
                sum += static_cast<const uint32_t*>(locked.Scan0)[size_t(y) * (locked.Stride / 4) + x];
        (void)sum;
        bitmap->UnlockBits(&locked);
    }
    return 0;
}
