// The reader's calls into the engine. The engine's model, animation, material-pack, light and
// texture readers are not all part of the build yet: until they are, the chunks that need them are
// read and bounded but create nothing (null models, lights and textures, no animations, no names,
// no loaded packs).
#include "codec/p3d_read_codec.h"

#include "engine/core/material.h"
#include "engine/engine_api.h"
#include "engine/scene/model.h"
#include "engine/scene/object_light.h"

#include <new>

namespace
{
template <class Part> void ReleasePart(Part*& part)
{
    LMK::LoadedPart_* loaded = part;
    LRReleaseLoadedPart(&loaded);
    part = nullptr;
}
} // namespace

LMK::Model_* CP3DReadCodec::CreateModel(const BYTE*, size_t)
{
    return nullptr;
}

void CP3DReadCodec::ReleaseModel(LMK::Model_* model)
{
    ReleasePart(model);
}

void CP3DReadCodec::CreateAndAttachAnimation(P3DChunkEntry*, const BYTE*, size_t) {}

void CP3DReadCodec::ReadMaterialNames(P3DMaterialSet&) {}

LMK::Light_* CP3DReadCodec::CreateLight(const BYTE*, size_t)
{
    return nullptr;
}

void CP3DReadCodec::AddRefLight(LMK::Light_* light)
{
    light->AddRef();
}

void CP3DReadCodec::ReleaseLight(LMK::Light_* light)
{
    light->Release();
}

void CP3DReadCodec::ReleaseTexture(LMK::Texture_*) {}

bool CP3DReadCodec::DecodeTextureChunk(bool, BlobStorageData&, size_t, LMK::Texture_*&)
{
    return false;
}

bool CP3DReadCodec::LoadMaterialPack(P3DMaterialSet&)
{
    return false;
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
