// Scene assembly: the tables that Read filled become engine objects, lights and model chunks.
#include "codec/p3d_read_codec.h"

#include "engine/engine_api.h"
#include "platform/bytes/byte_reader.h"

#include <cstring>
#include <memory>

namespace
{
// Subset attribute table: per subset a surface type word and the 34-byte attribute block.
constexpr DWORD kSubsetAttributesChunkId = 276;
constexpr size_t kSubsetAttributesItemSize = 4 + sizeof(LMK::SubsetAttributesStruct_TYP);
static_assert(kSubsetAttributesItemSize == 38);

void ApplySubsetAttributes(LMK::Model_* model, const LMK::ModelChunkStruct_TYP& chunk)
{
    DWORD subsets = 0;
    if (FAILED(LRGetModelSubsetCount(model, &subsets))) return;
    const ferolt::ByteReader bytes(chunk.data, chunk.size);
    for (DWORD k = 0; k < subsets; ++k)
    {
        const size_t item = size_t(k) * kSubsetAttributesItemSize;
        DWORD surfaceType = 0;
        LMK::SubsetAttributesStruct_TYP attributes;
        // A short table sets the subsets it has whole items for.
        if (!bytes.Read(item, &surfaceType) || !bytes.Read(item + sizeof surfaceType, &attributes)) break;
        LRSetSubsetAttributes(model, k, surfaceType, &attributes);
    }
}
} // namespace

void CP3DReadCodec::HandChunksToModel(P3DChunkEntry& entry)
{
    for (P3DOwnedChunk& chunk : entry.chunks)
    {
        LMK::ModelChunkStruct_TYP handed{chunk.id, chunk.data.get(), chunk.size};
        if (handed.id == kSubsetAttributesChunkId)
            ApplySubsetAttributes(entry.model, handed);
        else
            LRAddModelChunk(entry.model, &handed); // the model keeps its own copy
    }
    entry.chunks.clear();
}

void CP3DReadCodec::ApplyMaterialSet(LMK::Object_* object, LMK::Model_* model, P3DMaterialSet& set,
                                     bool cloneMaterials)
{
    if (MaterialsMayHaveChanged() && set.slotCount != 0) ReleaseMaterials(set.materials, set.slotCount);
    if (!set.materials && !LoadMaterialPack(set)) return;
    if (!set.materials) return;
    if (cloneMaterials && !set.copies) MakeMaterialCopies(set);
    for (DWORD k = 0; k < set.slotCount; ++k)
    {
        LMK::Material_* material = set.materials[k];
        if (cloneMaterials) material = k < set.copyCount ? set.copies[k] : nullptr;
        LRSetObjectGroupMaterial(object, k, material);
        LMK::Material_* current = nullptr;
        if (FAILED(LRGetModelSubsetMaterial(model, k, &current)) || !current)
            LRSetModelSubsetMaterial(model, k, material);
        if (current)
        {
            LMK::LoadedPart_* part = current;
            LRReleaseLoadedPart(&part);
        }
    }
}

bool CP3DReadCodec::GetObjects(std::vector<LMK::Object_*>& objects, bool cloneMaterials)
{
    for (P3DChunkEntry& entry : m_chunkEntries)
        if (entry.model) HandChunksToModel(entry);

    DWORD last = 0;
    for (const P3DChunkEntry& entry : m_chunkEntries)
        for (const P3DInstanceRecord& record : entry.records)
            if (record.outputIndex <= kMaxOutputIndex && record.outputIndex > last) last = record.outputIndex;
    objects.resize(size_t{last} + 1, nullptr);
    std::vector<bool> made(objects.size(), false);

    for (P3DChunkEntry& entry : m_chunkEntries)
    {
        for (const P3DInstanceRecord& record : entry.records)
        {
            if (record.outputIndex > kMaxOutputIndex) continue;
            // The later of two records with one output index takes the slot; the earlier object
            // would otherwise be lost with its only reference. What the caller left there is theirs.
            // The object is in its slot before anything else is asked of the engine, so that an
            // allocation failing below leaves it with the caller to release, never leaked.
            LMK::Object_*& slot = objects[record.outputIndex];
            if (made[record.outputIndex] && slot) LRReleaseObject(&slot);
            slot = nullptr;
            made[record.outputIndex] = true;
            // A placement that is not finite would place the object nowhere: the record makes none.
            if (entry.model && LMK::IsFinitePlacement(record.matrix))
                LRCreateObject(entry.model, &slot, &record.matrix);
            LMK::Object_* object = slot;
            if (object)
            {
                if (record.materialSet != 0 && record.materialSet <= m_materialSets.size())
                    ApplyMaterialSet(object, entry.model, m_materialSets[record.materialSet - 1],
                                     cloneMaterials);
                if (record.lightGroup != 0 && record.lightGroup <= m_lightGroups.size())
                    for (const P3DLightSlot& light : m_lightGroups[record.lightGroup - 1])
                        LRSetObjectLightPointLight(object, light.lightPointIndex, light.light);
            }
        }
    }

    ClearMatChanges();
    if (cloneMaterials)
        for (P3DMaterialSet& set : m_materialSets)
        {
            ReleaseMaterials(set.copies, set.copyCount);
            set.copyCount = 0;
        }
    return true;
}

bool CP3DReadCodec::GetLights(std::vector<LMK::Light_*>& lights)
{
    lights.clear();
    std::vector<bool> taken(m_lightGroups.size(), false);
    for (const P3DChunkEntry& entry : m_chunkEntries)
        for (const P3DInstanceRecord& record : entry.records)
            if (record.lightGroup != 0 && record.lightGroup <= taken.size())
                taken[record.lightGroup - 1] = true;
    for (size_t g = 0; g < m_lightGroups.size(); ++g)
    {
        if (taken[g]) continue;
        // A light that could not be created leaves its slot empty; the caller gets only lights.
        for (const P3DLightSlot& slot : m_lightGroups[g])
            if (slot.light)
            {
                lights.push_back(slot.light); // first, so that a reference is never added for nobody
                AddRefLight(slot.light);
            }
        break;
    }
    return !lights.empty();
}

bool CP3DReadCodec::HasChunks() const
{
    for (const P3DChunkEntry& entry : m_chunkEntries)
        if (entry.model && !entry.chunks.empty()) return true;
    return false;
}

bool CP3DReadCodec::GetChunk(LMK::Model_*& model, DWORD& type, DWORD& size, void*& data)
{
    for (P3DChunkEntry& entry : m_chunkEntries)
    {
        if (!entry.model || entry.chunks.empty()) continue;
        P3DOwnedChunk chunk = std::move(entry.chunks.front());
        entry.chunks.erase(entry.chunks.begin());
        model = entry.model;
        type = chunk.id;
        size = chunk.size;
        data = chunk.data.release(); // the caller's from here
        return true;
    }
    return false;
}

const DWORD* CP3DReadCodec::GetQELSOSpecialFlags(DWORD* count) const
{
    if (count) *count = static_cast<DWORD>(m_specialFlags.size());
    return m_specialFlags.empty() ? nullptr : m_specialFlags.data();
}
