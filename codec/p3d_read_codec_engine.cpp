// The reader's calls into the engine.
#include "codec/p3d_read_codec.h"

#include "codec/p3d_chunks.h"
#include "codec/p3d_sections.h"
#include "engine/engine_api.h"
#include "platform/d3d9/d3d9_hooks.h"

#include <deque>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace
{
template <class Part> void ReleasePart(Part*& part)
{
    LMK::LoadedPart_* loaded = part;
    part = nullptr;
    // Outside a started engine the call refuses; what the codec made from memory has no load record
    // and is simply deleted at its last release, so it is released directly rather than leaked.
    if (FAILED(LRReleaseLoadedPart(&loaded)) && loaded) loaded->Release();
}
} // namespace

struct CP3DReadCodec::DecodedBlocks
{
    struct Block
    {
        const BYTE* data;
        size_t size;
        LMK::DecodedBlockStruct_TYP decoded;
    };
    std::deque<Block> blocks;
};

// The blocks are complete only here, where the engine's types are known: m_decoded's owner deletes them
// through this file.
void CP3DReadCodec::DecodedBlocksDeleter::operator()(DecodedBlocks* blocks) const
{
    std::default_delete<DecodedBlocks>()(blocks);
}

void CP3DReadCodec::ForgetDecodedBlocks()
{
    // They point into the walk's sections, which are gone with it.
    m_ahead = nullptr;
    if (m_decoded) m_decoded->blocks.clear();
}

namespace
{
// What one decode of blocks ahead may take in: enough blocks for every thread to have meshes to decode,
// and few enough bytes that what they decode to stays small beside the file.
constexpr size_t kBlocksAheadPerThread = 4;
constexpr size_t kBytesAhead = size_t{64} << 20;
} // namespace

// This block and the blocks of the model chunks after it are decoded together, on every thread; their
// models are still made one at a time, on this thread, in file order.
void CP3DReadCodec::DecodeBlocksFrom(const BYTE* data, size_t size)
{
    std::vector<LMK::GeometryBlockViewStruct_TYP> views = {{data, size}};
    const size_t threads = ferolt::hooks::GetD3D9WorkerThreads();
    size_t bytes = size;
    DWORD type = 0;
    const BYTE* chunk = nullptr;
    size_t chunkSize = 0;
    while (m_ahead && threads > 1 && views.size() < kBlocksAheadPerThread * threads && bytes < kBytesAhead &&
           views.size() <= P3DBudget::kModels - m_counts.models && m_ahead->Next(&type, &chunk, &chunkSize))
    {
        const BYTE* model = nullptr;
        size_t modelSize = 0;
        if (!P3DFindModelData(type, chunk, chunkSize, &model, &modelSize) || !model ||
            modelSize > 0xFFFFFFFFu)
            continue;
        views.push_back({model, modelSize});
        bytes += modelSize;
    }
    std::vector<LMK::DecodedBlockStruct_TYP> decoded(views.size());
    // Memory running out leaves every block without meshes: their models are made empty, as a model is
    // whose building runs out of memory.
    LRDecodeGeometryBlocks(views.data(), static_cast<DWORD>(views.size()), decoded.data());
    for (size_t i = 0; i < views.size(); ++i)
        m_decoded->blocks.push_back({views[i].data, views[i].size, std::move(decoded[i])});
}

LMK::Model_* CP3DReadCodec::CreateModel(const BYTE* data, size_t size)
{
    if (!data || !size || size > 0xFFFFFFFFu) return nullptr;
    if (!m_decoded) m_decoded.reset(new DecodedBlocks);
    std::deque<DecodedBlocks::Block>& ahead = m_decoded->blocks;
    // Blocks decoded ahead for chunks that were not read as models are dropped on the way.
    while (!ahead.empty() && (ahead.front().data != data || ahead.front().size != size))
        ahead.pop_front();
    if (ahead.empty()) DecodeBlocksFrom(data, size);
    LMK::DecodedBlockStruct_TYP decoded = std::move(ahead.front().decoded);
    ahead.pop_front();
    // The budget is spent on what the block decoded to, before any of its meshes is made.
    if (!Spend(m_counts.vertices, decoded.list.VertexTotal(), P3DBudget::kDecodedVertices,
               P3DRefusal::DecodedVertices) ||
        !Spend(m_counts.faces, decoded.list.FaceTotal(), P3DBudget::kDecodedFaces, P3DRefusal::DecodedFaces))
        return nullptr;
    // A block the engine rejects still gives a model, one without parts or subsets.
    LMK::Model_* model = nullptr;
    LRCreateModelFromDecoded(&decoded, 0, nullptr, &model);
    return model;
}

void CP3DReadCodec::ReleaseModel(LMK::Model_* model)
{
    ReleasePart(model);
}

void CP3DReadCodec::CreateAndAttachAnimation(P3DChunkEntry* entry, const BYTE* stream, size_t length)
{
    if (!stream || length > 0xFFFFFFFFu) return;
    LMK::Animation_* animation = nullptr;
    if (FAILED(LRCreateAnimationFromStream(stream, static_cast<DWORD>(length), &animation, nullptr))) return;
    if (entry && entry->model) LRSetModelAnimation(entry->model, animation);
    LRReleaseAnimation(&animation);
}

void CP3DReadCodec::ReadMaterialNames(P3DMaterialSet& set)
{
    if (set.pack.empty() || set.pack.size() > 0xFFFFFFFFu) return;
    const char** strings = nullptr;
    DWORD count = 0;
    if (FAILED(
            LRGetMaterialPackStrings(set.pack.data(), static_cast<DWORD>(set.pack.size()), &strings, &count)))
        return;
    set.names.reserve(count);
    for (DWORD i = 0; i < count; ++i)
        set.names.emplace_back(strings[i]);
    LRFreeMaterialPackStrings(&strings);
}

LMK::Light_* CP3DReadCodec::CreateLight(const BYTE* record, size_t size)
{
    // The record is read no further than its item says, however long it claims to be.
    if (size > 0xFFFFFFFFu) return nullptr;
    LMK::Light_* light = nullptr;
    if (FAILED(LRCreateLightFromRecord(record, static_cast<DWORD>(size), &light, nullptr))) return nullptr;
    return light;
}

void CP3DReadCodec::AddRefLight(LMK::Light_* light)
{
    LRAddRefLight(light);
}

void CP3DReadCodec::ReleaseLight(LMK::Light_* light)
{
    LRReleaseLight(&light);
}

void CP3DReadCodec::ReleaseTexture(LMK::Texture_* texture)
{
    // After the engine stopped the texture is gone with it; the call then refuses and leaves it.
    LRReleaseTexture(&texture);
}

bool CP3DReadCodec::LoadMaterialPack(P3DMaterialSet& set)
{
    if (set.pack.empty() || set.pack.size() > 0xFFFFFFFFu) return false;
    return SUCCEEDED(LRLoadMaterialPack(set.pack.data(), static_cast<DWORD>(set.pack.size()), &set.materials,
                                        &set.slotCount, nullptr));
}

void CP3DReadCodec::MakeMaterialCopies(P3DMaterialSet& set)
{
    set.copies = LMK::NewArray<LMK::Material_*>(set.slotCount).release(); // ReleaseMaterials takes it back
    if (!set.copies) return;
    set.copyCount = set.slotCount;
    for (DWORD k = 0; k < set.slotCount; ++k)
    {
        if (!set.materials[k]) continue;
        LMK::MaterialDescriptionStruct_TYP* description = nullptr;
        if (FAILED(LRGetMaterialDescription(set.materials[k], &description)) || !description) continue;
        LRCreateMaterialFromDescription(description, &set.copies[k]);
        LRFreeMaterialDescription(&description);
    }
}

void CP3DReadCodec::ReleaseMaterials(LMK::Material_**& array, DWORD count)
{
    // Both kinds of array are new[]'ed: the engine's material pack hands its slots out that way.
    const std::unique_ptr<LMK::Material_*[]> owned(std::exchange(array, nullptr));
    if (!owned) return;
    for (DWORD k = 0; k < count; ++k)
        if (owned[k]) ReleasePart(owned[k]);
}
