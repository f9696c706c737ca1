// The reader's calls into the engine.
#include "codec/p3d_read_codec.h"

#include "engine/engine_api.h"

#include <new>

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

LMK::Model_* CP3DReadCodec::CreateModel(const BYTE* data, size_t size)
{
    // A block the engine rejects still gives a model, one without parts or subsets.
    LMK::Model_* model = nullptr;
    if (data && size && size <= 0xFFFFFFFFu)
        LRCreateModelFromMemory(data, static_cast<DWORD>(size), 0, nullptr, &model);
    return model;
}

void CP3DReadCodec::CountGeometry(LMK::Model_* model)
{
    if (!model) return;
    size_t vertices = 0;
    if (LMK::LKXMesh_** parts = model->PrimaryParts())
        for (DWORD p = 0; p < model->partCount; ++p)
            if (parts[p] && parts[p]->mesh) vertices += parts[p]->mesh->GetNumVertices();
    Spend(m_counts.vertices, vertices, P3DBudget::kDecodedVertices, P3DRefusal::DecodedVertices);
    Spend(m_counts.faces, model->TotalFaceCount(), P3DBudget::kDecodedFaces, P3DRefusal::DecodedFaces);
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
    set.copies = new (std::nothrow) LMK::Material_*[set.slotCount]();
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
    if (!array) return;
    for (DWORD k = 0; k < count; ++k)
        if (array[k]) ReleasePart(array[k]);
    delete[] array;
    array = nullptr;
}
