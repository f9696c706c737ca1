#include "engine/render/id_colours.h"

#include <algorithm>
#include <cstring>

#include "engine/core/backbuffer.h"
#include "engine/core/globals.h"
#include "engine/render/render_view.h"
#include "engine/scene/model.h"
#include "engine/scene/object.h"

namespace LMK
{
void EncodeIdColour(uint32_t objectIndex, uint32_t subsetIndex, D3DCOLOR* colour)
{
    uint32_t o = objectIndex + 1, s = subsetIndex;
    uint32_t red = 0, green = 0, blue = 0, alpha = 0;
    // Object bits alternate between red and blue, subset bits fill green then alpha, each channel from
    // its top bit down, so that nearby indices differ in the most significant bits.
    for (uint32_t w = 128; w != 0 && (o != 0 || s != 0); w /= 2)
    {
        if (o & 1) red += w;
        if (o & 2) blue += w;
        if (s & 1) green += w;
        if (s & 0x100) alpha += w;
        s = (s >> 1) & ~0x80u;
        o >>= 2;
    }
    *colour = (alpha << 24) | (red << 16) | (green << 8) | blue;
}

void DecodeIdColour(uint32_t pixel, D3DFORMAT format, uint32_t* objectIndex, uint32_t* subsetIndex)
{
    // Each channel's bits moved to the top of a 32-bit value.
    uint32_t red = 0, green = 0, blue = 0, alpha = 0;
    switch (format)
    {
    case D3DFMT_A8R8G8B8:
        alpha = pixel & 0xFF000000u;
        [[fallthrough]];
    case D3DFMT_X8R8G8B8: // its top byte is undefined: never subset bits
        red = (pixel << 8) & 0xFF000000u;
        green = (pixel << 16) & 0xFF000000u;
        blue = (pixel << 24) & 0xFF000000u;
        break;
    case D3DFMT_A1R5G5B5:
    case D3DFMT_X1R5G5B5:
        alpha = (pixel << 16) & 0x80000000u;
        red = (pixel << 17) & 0xF8000000u;
        green = (pixel << 22) & 0xF8000000u;
        blue = (pixel << 27) & 0xF8000000u;
        break;
    case D3DFMT_R5G6B5:
        red = (pixel << 16) & 0xF8000000u;
        green = (pixel << 21) & 0xFC000000u;
        blue = (pixel << 27) & 0xF8000000u;
        break;
    default:
        *objectIndex = 0xFFFFFFFFu;
        *subsetIndex = 0;
        return;
    }
    uint32_t o = 0, s = 0, wo = 1, ws = 1;
    while (red | green | blue | alpha)
    {
        if (red & 0x80000000u) o += wo;
        if (green & 0x80000000u) s += ws;
        if (blue & 0x80000000u) o += 2 * wo;
        if (alpha & 0x80000000u) s += ws << 8;
        red <<= 1;
        green <<= 1;
        blue <<= 1;
        alpha <<= 1;
        wo *= 4;
        ws *= 2;
    }
    *objectIndex = o - 1;
    *subsetIndex = s;
}

VisibleSubsetsCollector_::VisibleSubsetsCollector_(const RECT& rectangle, uint32_t objectCount,
                                                   Object_** objects)
    : rectangle(rectangle), objectCount(objectCount), objects(objects),
      subsets(std::make_unique<std::map<uint32_t, std::set<uint32_t>>>())
{
}

bool __stdcall CollectVisibleSubsetsCallback(void* context, ReadBackStruct_TYP* readBack)
{
    auto* collector = static_cast<VisibleSubsetsCollector_*>(context);
    if (!collector || !readBack || !readBack->bits) return false;
    const RECT& part = readBack->partRect;
    const RECT& wanted = collector->rectangle;
    const LONG left = std::max(part.left, wanted.left), right = std::min(part.right, wanted.right);
    const LONG top = std::max(part.top, wanted.top), bottom = std::min(part.bottom, wanted.bottom);
    if (left >= right || top >= bottom) return false;
    size_t bytes = 0;
    switch (readBack->format)
    {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
        bytes = 4;
        break;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
        bytes = 2;
        break;
    default:
        return false;
    }
    const auto* first = static_cast<const uint8_t*>(readBack->bits) +
                        static_cast<ptrdiff_t>(top - part.top) * readBack->pitch +
                        static_cast<ptrdiff_t>(left - part.left) * static_cast<ptrdiff_t>(bytes);
    uint32_t previous = 0;
    for (LONG y = top; y < bottom; ++y)
    {
        const uint8_t* p = first + static_cast<ptrdiff_t>(y - top) * readBack->pitch;
        for (LONG x = left; x < right; ++x, p += bytes)
        {
            uint32_t value = 0;
            if (bytes == 4)
                std::memcpy(&value, p, 4);
            else
            {
                uint16_t v16 = 0;
                std::memcpy(&v16, p, 2);
                value = v16;
            }
            // Runs of one subset cost one decode; the previous value carries over between rows.
            if (value == 0 || value == previous) continue;
            previous = value;
            uint32_t o = 0, s = 0;
            DecodeIdColour(value, readBack->format, &o, &s);
            if (o >= collector->objectCount || !collector->objects) continue;
            Object_* object = collector->objects[o];
            if (!object || !object->model || s >= object->model->subsetCount) continue;
            (*collector->subsets)[o].insert(s);
        }
    }
    return false;
}
} // namespace LMK

HRESULT LRFindVisibleSubsets(LMK::RenderViewStruct_TYP* view, DWORD objectCount, LMK::Object_** objects,
                             const RECT* rectangle, bool opaqueOnly,
                             std::vector<LMK::VisibleSubsetsStruct_TYP>* result)
{
    using namespace LMK;
    if (!IsEngineStarted()) return E_FAIL;
    if (!view || !view->backBuffer || !view->camera || !rectangle || !result) return E_INVALIDARG;
    VisibleSubsetsCollector_ collector(*rectangle, objectCount, objects);
    view->backBuffer->Refresh();
    RenderViewStruct_TYP copy = *view;
    copy.readBackContext = &collector;
    copy.readBack = CollectVisibleSubsetsCallback;
    copy.modeFlags = opaqueOnly ? DisplayModeIdColoursOpaque : DisplayModeIdColoursAll;
    copy.fog = nullptr;
    LRRenderView(&copy, objectCount, objects, 0, nullptr);
    result->clear();
    for (const auto& [index, subsets] : *collector.subsets)
        if (!subsets.empty())
            result->push_back({index, std::vector<uint32_t>(subsets.begin(), subsets.end())});
    return S_OK;
}
