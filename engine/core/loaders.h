#pragma once
// The loader registry, its load records and the release cache. Every resource loaded by name is shared
// through one record per upper-cased name; when its last reference goes it is parked in the release
// cache, which keeps up to 4 MiB of released resources (by delivered file size) and unloads the oldest
// first.
#include <memory>
#include <vector>

#include "engine/core/lr_core_api.h"

namespace LMK
{
struct LoadRecordStruct_TYP;

// Reference-counted base of materials, textures, models and effects.
class LoadedPart_
{
public:
    LoadedPart_() = default;
    explicit LoadedPart_(LoadRecordStruct_TYP* record) : loadRecord(record) {}
    LoadedPart_(const LoadedPart_&) = delete;
    LoadedPart_& operator=(const LoadedPart_&) = delete;

    // Called when the released resource is parked in the release cache.
    virtual void OnCached() {}
    virtual ~LoadedPart_() = default;

    void AddRef() { ++refCount; }
    // At the last reference: parked (shared record), unloaded (cache disabled), or deleted.
    void Release();

    DWORD refCount = 1;
    LoadRecordStruct_TYP* loadRecord = nullptr; // null for a resource made from memory
};

constexpr DWORD kRecordPrivate = 1;       // never found by name, never parked
constexpr DWORD kRecordFreedDirectly = 2; // freed by the release itself, not looked up in the list

// One loaded resource. Its strings and engine-owned data are held by the record itself.
struct LoadRecordStruct_TYP
{
    DWORD type;
    DWORD flags; // 0 shared; kRecordPrivate | kRecordFreedDirectly private
    void* data;  // null once the resource was built from it
    DWORD size;  // kept after the data is given back: the release cache's measure
    Loader_* loader;
    char* name;               // requested name, upper-cased; null for a record made from memory
    char* resolvedName;       // the loader's reported name, upper-cased; null when it gave none
    void* loaderResolvedName; // the loader's own buffer, given back with the data
    DWORD loaderCookie;
    LoadedPart_* object;
    BYTE engineOwnsData;
    // What name, resolvedName and (with engineOwnsData) data point into.
    std::unique_ptr<char[]> nameText, resolvedNameText;
    std::unique_ptr<BYTE[]> ownedData;
};

class Loader_
{
public:
    Loader_(DWORD partType, const LoaderCallbacksStruct_TYP& block) : type(partType), callbacks(block) {}
    virtual ~Loader_() = default;

    DWORD type;
    LoaderCallbacksStruct_TYP callbacks;
};

class ReleaseCache_
{
public:
    static constexpr DWORD kDefaultLimit = 0x400000;

    void Insert(LoadedPart_* object);
    void Remove(LoadedPart_* object);
    void PurgeLoader(Loader_* loader);
    void Purge();

    DWORD total = 0;
    DWORD limit = kDefaultLimit;
    std::vector<LoadedPart_*> parked; // front = oldest
    BYTE enabled = 0;
};

class AllLoaders_
{
public:
    AllLoaders_() = default;
    AllLoaders_(const AllLoaders_&) = delete;
    AllLoaders_& operator=(const AllLoaders_&) = delete;
    virtual ~AllLoaders_();

    // 0: *out is a LoadRecordStruct_TYP (new, or shared with a reference added to its object);
    // 1: *out is a finished LoadedPart_; negative: -1 for no name or no taker, else the last failure.
    int Load(DWORD type, const char* name, bool shared, void** out);
    // A shared load that always yields a record: a finished part handed back by a loader cannot be
    // shared by name, so it is released and the load fails.
    int LoadShared(DWORD type, const char* name, LoadRecordStruct_TYP** out);
    bool FindSharedRecord(DWORD type, const char* upperName, LoadRecordStruct_TYP** out);
    HRESULT AddRecordFromMemory(DWORD size, const void* data, DWORD type, const char* name,
                                LoadRecordStruct_TYP** out);
    void AttachObjectToRecord(LoadRecordStruct_TYP* record, LoadedPart_* object);
    HRESULT Unload(LoadRecordStruct_TYP* record);
    int GetLODs(DWORD type, const char* name, IlumoVector<LoaderLODStruct_TYP>* list);
    int GetAlternatives(DWORD type, const char* name, IlumoVector<LoaderAlternativeStruct_TYP>* list);
    void AddLoader(std::unique_ptr<Loader_> loader, bool atFront);
    // Deletes the loader once its records have let go of it; E_FAIL for one that is not registered.
    HRESULT RemoveLoader(Loader_* loader);

    std::vector<std::unique_ptr<Loader_>> loaders; // asking order
    std::vector<LoadRecordStruct_TYP*> records;    // shared records only

private:
    void DestroyRecordsOfType(DWORD type);
};

// The registry's upper-casing of names: the framework string's MakeUpper, as a copy. Null without a
// name or when memory runs out.
std::unique_ptr<char[]> UpperCaseCopy(const char* name);
} // namespace LMK
