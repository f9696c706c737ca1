#pragma once
// ID colours: each drawn subset as a flat colour that encodes (object list index + 1, subset index) bit
// by bit, and the read-back that turns a finished ID image into the list of subsets a camera sees.
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "engine/render/render_records.h"

namespace LMK
{
class Object_;

void EncodeIdColour(uint32_t objectIndex, uint32_t subsetIndex, D3DCOLOR* colour);
// Writes object index 0xFFFFFFFF and subset 0 for a format without a known layout.
void DecodeIdColour(uint32_t pixel, D3DFORMAT format, uint32_t* objectIndex, uint32_t* subsetIndex);

// The read-back callback's user data.
class VisibleSubsetsCollector_
{
public:
    VisibleSubsetsCollector_(const RECT& rectangle, uint32_t objectCount, Object_** objects);
    VisibleSubsetsCollector_(const VisibleSubsetsCollector_&) = delete;
    VisibleSubsetsCollector_& operator=(const VisibleSubsetsCollector_&) = delete;

    RECT rectangle; // screen coordinates, right and bottom exclusive
    uint32_t objectCount;
    Object_** objects;
    std::unique_ptr<std::map<uint32_t, std::set<uint32_t>>> subsets;
};

struct VisibleSubsetsStruct_TYP
{
    uint32_t objectIndex;
    std::vector<uint32_t> subsets; // ascending
};

// Always false: the ID image is never presented.
bool __stdcall CollectVisibleSubsetsCallback(void* collector, ReadBackStruct_TYP* readBack);
} // namespace LMK

// The subsets of the objects that show at least one pixel inside the rectangle of the view's back buffer.
HRESULT LRFindVisibleSubsets(LMK::RenderViewStruct_TYP* view, DWORD objectCount, LMK::Object_** objects,
                             const RECT* rectangle, bool opaqueOnly,
                             std::vector<LMK::VisibleSubsetsStruct_TYP>* result);
