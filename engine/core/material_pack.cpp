#include "engine/core/material_pack.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "engine/core/lr_material_api.h"
#include "engine/core/material.h"
#include "engine/core/material_record.h"
#include "engine/core/owned_array.h"

namespace LMK
{
bool ReadMaterialPackLayout(ferolt::ByteReader pack, MaterialPackLayout* layout)
{
    ferolt::ByteCursor cursor(pack);
    MaterialPackHeaderStruct_TYP& header = layout->header;
    if (!cursor.Read(&header)) return false;
    if (header.magic != kMaterialPackMagic || header.version >= 2) return false;
    // The indices are read before anything is allocated for them, so a count from the file cannot
    // ask for more than the pack holds.
    if (!cursor.ReadArray(header.slotCount, &layout->slots)) return false;

    layout->strings.clear();
    layout->recordsFound = true;
    for (DWORD i = 0; i < header.stringCount; ++i)
    {
        std::string_view text;
        if (!cursor.CString(cursor.Remaining(), &text))
        {
            layout->recordsFound = false;
            break;
        }
        layout->strings.push_back(text.data());
    }
    layout->recordsStart = cursor.Position();
    return true;
}
} // namespace LMK

HRESULT LRGetMaterialPackStrings(const void* pack, DWORD size, const char*** strings, DWORD* count)
{
    if (!pack || !strings || !count) return E_INVALIDARG;
    LMK::MaterialPackLayout layout;
    if (!LMK::ReadMaterialPackLayout(ferolt::ByteReader(pack, size), &layout)) return E_FAIL;
    *strings = nullptr;
    *count = 0;
    if (layout.strings.empty()) return S_OK;
    std::unique_ptr<const char*[]> list = LMK::CopyArray(layout.strings.data(), layout.strings.size());
    if (!list) return E_OUTOFMEMORY;
    *strings = list.release(); // LRFreeMaterialPackStrings takes it back
    *count = static_cast<DWORD>(layout.strings.size());
    return S_OK;
}

HRESULT LRFreeMaterialPackStrings(const char*** strings)
{
    if (!strings) return E_INVALIDARG;
    const std::unique_ptr<const char*[]> list(*strings);
    *strings = nullptr;
    return S_OK;
}

HRESULT LRLoadMaterialPack(const void* pack, DWORD size, LMK::Material_*** slots, DWORD* slotCount,
                           DWORD* consumed)
{
    if (consumed) *consumed = 0;
    if (!pack || !slots || !slotCount) return E_INVALIDARG;
    const ferolt::ByteReader bytes(pack, size);
    LMK::MaterialPackLayout layout;
    if (!LMK::ReadMaterialPackLayout(bytes, &layout)) return E_FAIL;
    const DWORD n = layout.header.slotCount;
    LMK::CountedArray_<LMK::Material_> array; // none for a pack without slots
    if (n) array = LMK::CountedArray_<LMK::Material_>(n);
    if (n && !array) return E_OUTOFMEMORY;

    // Records follow one another; the first that does not read stops the run, and every later one is
    // missing too. Each record takes at least a header, so what is read is bounded by the pack's size.
    std::vector<LMK::CountedPtr<LMK::Material_>> materials;
    uint64_t recordBytes = 0;
    size_t position = layout.recordsStart;
    for (DWORD m = 0; layout.recordsFound && m < layout.header.materialCount; ++m)
    {
        ferolt::ByteReader rest;
        if (!bytes.Tail(position, &rest) || rest.Empty()) break;
        LMK::MaterialDescriptionStruct_TYP* description = nullptr;
        DWORD used = 0;
        if (!LMK::ReadMaterialRecord(layout.strings.data(), rest.All().data(),
                                     static_cast<DWORD>(rest.Size()), &description,
                                     static_cast<DWORD>(layout.strings.size()), &used))
            break;
        position += used;
        recordBytes += used;
        LMK::Material_* made = nullptr;
        LRCreateMaterialFromDescription(description, &made);
        LMK::CountedPtr<LMK::Material_> material(made);
        LRFreeMaterialDescription(&description);
        materials.push_back(std::move(material));
    }

    // An index past the materials read (damaged, or outside the format) leaves its slot empty.
    for (DWORD j = 0; j < n; ++j)
    {
        const DWORD index = layout.slots[j];
        if (index == LMK::kMaterialPackEmptySlot || index >= materials.size() || !materials[index]) continue;
        array[j] = materials[index].get();
        array[j]->AddRef();
    }
    *slots = array.release(); // LRReleaseLoadedPartArray takes it back
    *slotCount = n;
    if (consumed)
    {
        const uint64_t total = uint64_t{layout.header.stringBytes} + LMK::kMaterialPackHeaderSize +
                               uint64_t{4} * n + recordBytes;
        *consumed = static_cast<DWORD>(std::min<uint64_t>(total, std::numeric_limits<DWORD>::max()));
    }
    return S_OK;
}
