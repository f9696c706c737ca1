#pragma once
// Internal: how a Graphics made on a device context reaches the window layer. The device-context
// half lives in its own file and plugs itself in when such a Graphics is made, so bitmap drawing
// does not pull in the window layer.
#include "platform/gdiplus/gdiplus.h"

#include <atomic>

namespace ferolt::gdiplus
{
using DrawToDcFn = Gdiplus::Status (*)(HDC hdc, const uint32_t* argb, INT width, INT height, INT x, INT y);
extern std::atomic<DrawToDcFn> g_drawToDc; // Graphics objects on any thread plug it in
} // namespace ferolt::gdiplus
