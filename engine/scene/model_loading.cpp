// Models by name: the model loaders deliver the bytes, the first recognition test that matches picks
// the builder, and the model's level-of-detail and alternative models are loaded after it.
#include "engine/scene/lr_model_loading_api.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/file_loader.h"
#include "engine/core/globals.h"
#include "engine/core/lr_material_api.h"
#include "engine/core/material.h"
#include "engine/scene/model.h"
#include "engine/scene/model_3ds.h"
#include "engine/scene/model_animation.h"
#include "engine/scene/lr_animation_api.h"
#include "engine/scene/model_blob_load.h"
#include "engine/scene/model_api.h"
#include "engine/scene/model_formats.h"
#include "engine/scene/model_lists.h"
#include "platform/bytes/byte_reader.h"
#include "platform/win32/winbase.h"

namespace LMK
{
namespace
{
// The texture package a loader delivers under a model's name (type 4): in memory, not a file layout.
struct TexturePackageEntryStruct_TYP
{
    DWORD chunkId;
    const void* bytes;
    DWORD size;
};
struct TexturePackageStruct_TYP
{
    DWORD count;
    const TexturePackageEntryStruct_TYP* entries;
};

// The model's copy of its package: every entry's bytes back to back.
struct PackageCopy
{
    std::vector<BYTE> bytes;
    struct Entry
    {
        DWORD chunkId, offset, size;
    };
    std::vector<Entry> entries;
};

PackageCopy LoadTexturePackage(const char* name)
{
    PackageCopy copy;
    AllLoaders_& loaders = CurrentGlobals->loaders;
    LoadRecordStruct_TYP* record = nullptr;
    if (loaders.LoadShared(LoadedPartTexturePackage, name, &record) != 0 || !record) return copy;
    const auto* package = static_cast<const TexturePackageStruct_TYP*>(record->data);
    if (package && record->size >= sizeof(TexturePackageStruct_TYP) && package->entries)
        for (DWORD i = 0; i < package->count; ++i)
        {
            const TexturePackageEntryStruct_TYP& entry = package->entries[i];
            const auto* bytes = static_cast<const BYTE*>(entry.bytes);
            copy.entries.push_back({entry.chunkId, static_cast<DWORD>(copy.bytes.size()), entry.size});
            if (bytes) copy.bytes.insert(copy.bytes.end(), bytes, bytes + entry.size);
        }
    loaders.AttachObjectToRecord(record, nullptr);
    loaders.Unload(record);
    return copy;
}

void AddPackageChunks(Model_* model, const PackageCopy& package)
{
    for (const PackageCopy::Entry& entry : package.entries)
    {
        ModelChunkStruct_TYP chunk{entry.chunkId, const_cast<BYTE*>(package.bytes.data()) + entry.offset,
                                   entry.size};
        model->SetChunk(&chunk);
    }
}

// The animation of an "LKAN" stream, or null when it cannot be read.
Animation_* ReadAnimationStream(const ferolt::ByteReader& stream)
{
    Animation_* animation = nullptr;
    LRCreateAnimationFromStream(stream.All().data(), static_cast<DWORD>(stream.Size()), &animation, nullptr);
    return animation;
}

// The slot array of a material pack ("LKMA"); empty when the pack does not load.
std::vector<Material_*> LoadMaterialPack(const ferolt::ByteReader& pack)
{
    Material_** slots = nullptr;
    DWORD count = 0, consumed = 0;
    std::vector<Material_*> materials;
    if (FAILED(LRLoadMaterialPack(pack.All().data(), static_cast<DWORD>(pack.Size()), &slots, &count,
                                  &consumed)) ||
        !slots)
        return materials;
    for (DWORD i = 0; i < count; ++i)
    {
        if (slots[i]) slots[i]->AddRef();
        materials.push_back(slots[i]);
    }
    if (count) LRReleaseLoadedPartArray(reinterpret_cast<LoadedPart_***>(&slots), count);
    return materials;
}

void ReleaseMaterials(std::vector<Material_*>* materials)
{
    for (Material_* material : *materials)
        if (material) material->Release();
    materials->clear();
}

void SetMaterials(Model_* model, std::vector<Material_*>& materials)
{
    if (!materials.empty())
        LRSetModelSubsetMaterials(model, materials.data(), static_cast<DWORD>(materials.size()));
}

// The file's blocks, or false when the header's sizes reach past the data.
bool Blocks(const ferolt::ByteReader& file, std::initializer_list<size_t> sizes,
            std::vector<ferolt::ByteReader>* out)
{
    ferolt::ByteCursor cursor(file, kModelFileHeaderSize);
    for (size_t size : sizes)
    {
        ferolt::ByteReader block;
        if (!cursor.Take(size, &block)) return false;
        out->push_back(block);
    }
    return true;
}

struct BuildResult
{
    HRESULT hr = E_FAIL;
    Model_* model = nullptr;
};

BuildResult BuildLK3D(const ferolt::ByteReader& file, BYTE noResmooth, LoadRecordStruct_TYP* record)
{
    DWORD animationSize = 0, packSize = 0, geometrySize = 0;
    std::vector<ferolt::ByteReader> blocks;
    if (!file.U32(8, &animationSize) || !file.U32(12, &packSize) || !file.U32(16, &geometrySize) ||
        !Blocks(file, {animationSize, packSize, geometrySize}, &blocks))
        return {};
    // A file without geometry has nothing to build; it is not a model.
    if (geometrySize == 0) return {};
    Animation_* animation = animationSize ? ReadAnimationStream(blocks[0]) : nullptr;
    std::vector<Material_*> materials = packSize ? LoadMaterialPack(blocks[1]) : std::vector<Material_*>();
    BuildResult built;
    built.model = Model_::CreateFromMeshList(noResmooth, 2, blocks[2].All().data(), geometrySize, animation,
                                             record, &built.hr);
    if (built.model && SUCCEEDED(built.hr)) SetMaterials(built.model, materials);
    ReleaseMaterials(&materials);
    if (animation) LRReleaseAnimation(&animation);
    return built;
}

BuildResult BuildK3DD(const ferolt::ByteReader& file, const char* name, BYTE noResmooth,
                      LoadRecordStruct_TYP* record)
{
    DWORD namesSize = 0, geometrySize = 0;
    std::vector<ferolt::ByteReader> blocks;
    if (!file.U32(12, &namesSize) || !file.U32(16, &geometrySize) ||
        !Blocks(file, {geometrySize, namesSize}, &blocks))
        return {};
    // The name list is read from a copy that surely ends in two NULs: the loader's data stays as it was.
    std::string names;
    for (uint8_t byte : blocks[1].All())
        names.push_back(static_cast<char>(byte));
    names.append(2, '\0');
    Animation_* animation = nullptr;
    const size_t streamStart = kModelFileHeaderSize + size_t(geometrySize) + namesSize;
    ferolt::ByteReader stream;
    if (streamStart + 28 <= file.Size() && file.Tail(streamStart, &stream))
        animation = ReadAnimationStream(stream);

    std::vector<Material_*> materials;
    for (const char* entry = names.c_str(); *entry; entry += std::strlen(entry) + 1)
    {
        Material_* material = nullptr;
        LRLoadMaterial(entry, &material);
        materials.push_back(material);
    }
    const PackageCopy package = LoadTexturePackage(name);
    // The geometry is copied out too: building gives the loader's data back.
    const std::vector<BYTE> geometry(blocks[0].All().begin(), blocks[0].All().end());
    BuildResult built;
    built.model = Model_::CreateFromMeshList(noResmooth, 2, geometry.data(), geometrySize, animation, record,
                                             &built.hr);
    if (built.model && SUCCEEDED(built.hr))
    {
        SetMaterials(built.model, materials);
        AddPackageChunks(built.model, package);
    }
    ReleaseMaterials(&materials);
    if (animation) LRReleaseAnimation(&animation);
    return built;
}

BuildResult Build(LoadRecordStruct_TYP* record, const char* name, BYTE allow3DS, BYTE noResmooth)
{
    const void* data = record->data;
    const DWORD size = record->size;
    const ferolt::ByteReader file(data, size);
    if (IsLK3DContainer(data, size)) return BuildLK3D(file, noResmooth, record);
    if (IsK3DDContainer(data, size)) return BuildK3DD(file, name, noResmooth, record);
    if (IsXFile(data, size))
    {
        BuildResult built;
        built.model = Model_::CreateFromXFile(data, size, record, &built.hr);
        return built;
    }
    if (Is3DSFile(data, size))
    {
        if (!allow3DS) return {-2, nullptr};
        Parsed3DS parsed;
        if (!Parse3DS(data, size, &parsed)) return {S_OK, nullptr};
        BuildResult built;
        built.hr = Build3DSModel(&parsed, 0, record, &built.model);
        Free3DS(&parsed);
        return built;
    }
    BuildResult built;
    if (IsV7QContainer(size, data))
        built.hr = LoadV7QContainerModel(data, size, noResmooth, record, &built.model);
    else if (IsModelBlob(data, size))
        built.hr = LoadBlobModel(data, size, noResmooth, record, &built.model);
    else if (IsPackedModelContainer(data, size))
    {
        // The model's texture package stands in for the chunks a packed container does not carry.
        const PackageCopy package = LoadTexturePackage(name);
        BlobChunksStruct_TYP chunks{ferolt::ByteReader(package.bytes.data(), package.bytes.size()), {}};
        for (const PackageCopy::Entry& entry : package.entries)
            chunks.table.push_back({entry.chunkId, entry.offset, entry.size, 0});
        built.hr = LoadPackedModel(data, size, noResmooth, &chunks, record, &built.model);
    }
    else
        return {E_FAIL, nullptr};
    return built;
}

// The directory part of a model's name, or the process's current directory for a bare name.
std::string DirectoryOf(const char* name)
{
    const char* end = std::strrchr(name, '\\');
    if (!end) end = std::strrchr(name, '/');
    if (end) return std::string(name, end);
    char buffer[260];
    const DWORD n = GetCurrentDirectoryA(sizeof(buffer), buffer);
    return n > 0 && n < sizeof(buffer) ? std::string(buffer, n) : std::string();
}

void SetLoaderDirectories(const char* directory)
{
    SetTextureCurrentDirectory(directory);
    SetMaterialCurrentDirectory(directory);
    SetModelCurrentDirectory(directory);
}

HRESULT LoadByName(const char* name, DWORD shared, BYTE allow3DS, BYTE noResmooth, Model_** out, BYTE noLODs,
                   BYTE noAlternatives)
{
    AllLoaders_& loaders = CurrentGlobals->loaders;
    void* loaded = nullptr;
    const int found = loaders.Load(LoadedPartModel, name, shared != 0, &loaded);
    if (found == kLoaderFinishedPart)
    {
        *out = static_cast<Model_*>(loaded);
        return S_OK;
    }
    if (found != 0) return found;
    auto* record = static_cast<LoadRecordStruct_TYP*>(loaded);
    if (!record->object)
    {
        const BuildResult built = Build(record, name, allow3DS, noResmooth);
        if (FAILED(built.hr) || !built.model)
        {
            // The half-built model (or none) goes with its record.
            loaders.AttachObjectToRecord(record, built.model);
            loaders.Unload(record);
            return FAILED(built.hr) ? built.hr : E_FAIL;
        }
        *out = built.model;
    }
    else
        *out = static_cast<Model_*>(record->object);
    // A model found already built has its lists from the first time; loading them again would append
    // every entry a second time.
    LoadModelLists(*out, record->resolvedName, shared, allow3DS, noResmooth, noLODs || !(*out)->lods.empty(),
                   noAlternatives || !(*out)->alternatives.empty(), LRLoadModelEx);
    return S_OK;
}
} // namespace
} // namespace LMK

HRESULT LRLoadModelEx(const char* name, DWORD shared, BYTE allow3DS, BYTE noResmooth, LMK::Model_** out,
                      BYTE noLODs, BYTE noAlternatives)
{
    using namespace LMK;
    if (!IsEngineStarted()) return E_FAIL;
    if (!out || !name) return E_INVALIDARG;
    *out = nullptr;
    if (!*name) return E_FAIL;
    if (name[0] != '*')
    {
        const std::string directory = DirectoryOf(name);
        if (!directory.empty()) SetLoaderDirectories(directory.c_str());
    }
    const HRESULT result = LoadByName(name, shared, allow3DS, noResmooth, out, noLODs, noAlternatives);
    SetLoaderDirectories(nullptr);
    return result;
}

HRESULT LRLoadModel(const char* name, DWORD shared, BYTE allow3DS, LMK::Model_** out)
{
    return LRLoadModelEx(name, shared, allow3DS, 0, out, 0, 0);
}
