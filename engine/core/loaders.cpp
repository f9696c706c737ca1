#include "engine/core/loaders.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/core/globals.h"
#include "engine/core/owned_array.h"
#include "platform/mfc/afx_string.h"
#include "platform/win32/crt.h"
#include "platform/win32/out_of_memory.h"

namespace LMK
{
namespace
{
bool SameName(const char* a, const char* b)
{
    return _mbscmp(reinterpret_cast<const unsigned char*>(a), reinterpret_cast<const unsigned char*>(b)) == 0;
}

// Gives the record's data back: freed when the engine owns it, else handed to its loader.
void GiveBackData(LoadRecordStruct_TYP* record, LoadedPart_* object)
{
    if (record->engineOwnsData)
        record->ownedData.reset();
    else if (record->loader && record->data)
    {
        const LoaderCallbacksStruct_TYP& cb = record->loader->callbacks;
        cb.release(cb.context, record->data, record->loaderResolvedName, record->loaderCookie, object);
    }
    record->data = nullptr;
    record->loaderResolvedName = nullptr;
    record->loaderCookie = 0;
}

std::unique_ptr<LoadRecordStruct_TYP> NewRecord()
{
    return std::unique_ptr<LoadRecordStruct_TYP>(new (std::nothrow) LoadRecordStruct_TYP{});
}

// Records live from their load to their unload, which ends here with their strings and data.
void FreeRecord(LoadRecordStruct_TYP* record)
{
    std::unique_ptr<LoadRecordStruct_TYP> owned(record);
}

// The end of an unloaded record and of its object, whose last reference is gone: the record first, then
// the object, which no longer points back at it.
void FreeRecordAndObject(LoadRecordStruct_TYP* record)
{
    std::unique_ptr<LoadedPart_> object(record->object);
    FreeRecord(record);
    if (object) object->loadRecord = nullptr;
}

void SetResolvedName(LoadRecordStruct_TYP* record, std::unique_ptr<char[]> name)
{
    record->resolvedNameText = std::move(name);
    record->resolvedName = record->resolvedNameText.get();
}

DWORD RecordSize(LoadedPart_* object)
{
    return object->loadRecord ? object->loadRecord->size : 0;
}

void UnloadParked(LoadedPart_* object)
{
    if (CurrentGlobals && object->loadRecord)
        CurrentGlobals->loaders.Unload(object->loadRecord);
    else
    {
        // A parked part without a record is the cache's alone.
        const std::unique_ptr<LoadedPart_> owned(object);
    }
}
} // namespace

std::unique_ptr<char[]> UpperCaseCopy(const char* name)
{
    if (!name) return nullptr;
    CString upper(name);
    upper.MakeUpper();
    const char* text = upper;
    return CopyArray(text, std::strlen(text) + 1);
}

// ---------------------------------------------------------------------------------------------------
void LoadedPart_::Release()
{
    // A parked resource has no reference left to drop; parking it again would count it twice.
    if (refCount == 0) return;
    if (--refCount != 0) return;
    LoadRecordStruct_TYP* record = loadRecord;
    if (!record)
    {
        delete this;
        return;
    }
    AllGlobals_* root = CurrentGlobals;
    if (!(record->flags & kRecordPrivate))
    {
        if (root && root->releaseCache.enabled)
            root->releaseCache.Insert(this);
        else if (root)
            root->loaders.Unload(record);
        else
            delete this;
        return;
    }
    if (!(record->flags & kRecordFreedDirectly) && root)
    {
        root->loaders.Unload(record);
        return;
    }
    GiveBackData(record, this);
    FreeRecord(record);
    loadRecord = nullptr;
    delete this;
}

// ---------------------------------------------------------------------------------------------------
void ReleaseCache_::Insert(LoadedPart_* object)
{
    object->OnCached();
    const DWORD size = RecordSize(object);
    while (total != 0 && !parked.empty() && static_cast<uint64_t>(total) + size > limit)
    {
        LoadedPart_* oldest = parked.front();
        parked.erase(parked.begin());
        total -= RecordSize(oldest);
        UnloadParked(oldest);
    }
    parked.push_back(object);
    total += size;
}

void ReleaseCache_::Remove(LoadedPart_* object)
{
    auto it = std::find(parked.begin(), parked.end(), object);
    if (it == parked.end()) return;
    parked.erase(it);
    total -= RecordSize(object);
}

void ReleaseCache_::PurgeLoader(Loader_* loader)
{
    for (size_t i = 0; i < parked.size();)
    {
        LoadedPart_* object = parked[i];
        if (object->loadRecord && object->loadRecord->loader == loader)
        {
            parked.erase(parked.begin() + static_cast<std::ptrdiff_t>(i));
            total -= RecordSize(object);
            UnloadParked(object);
        }
        else
            ++i;
    }
}

void ReleaseCache_::Purge()
{
    // Every parked entry goes, also those of size 0, so that none outlives its loader.
    while (!parked.empty())
    {
        LoadedPart_* oldest = parked.front();
        parked.erase(parked.begin());
        total -= RecordSize(oldest);
        UnloadParked(oldest);
    }
    total = 0;
}

// ---------------------------------------------------------------------------------------------------
int AllLoaders_::Load(DWORD type, const char* name, bool shared, void** out)
{
    if (!out) return -1;
    *out = nullptr;
    if (!name || !*name) return -1;
    std::unique_ptr<char[]> upper = UpperCaseCopy(name);
    if (!upper) return -1;

    LoadRecordStruct_TYP* found = nullptr;
    if (shared && FindSharedRecord(type, upper.get(), &found))
    {
        if (found->object->refCount == 0 && CurrentGlobals)
            CurrentGlobals->releaseCache.Remove(found->object);
        ++found->object->refCount;
        *out = found;
        return 0;
    }

    int failure = -1;
    for (size_t i = 0; i < loaders.size(); ++i)
    {
        Loader_* loader = loaders[i].get();
        if (loader->type != type) continue;
        LoaderRequestStruct_TYP request{name, loader->callbacks.context};
        void* data = nullptr;
        DWORD size = 0;
        void* resolved = nullptr;
        DWORD cookie = 0;
        int result = loader->callbacks.load(&request, &data, &size, &resolved, &cookie);
        if (result == kLoaderFinishedPart)
        {
            *out = data;
            return 1;
        }
        if (result == kLoaderNotMine) continue;
        if (result != kLoaderDelivered)
        {
            failure = result;
            continue;
        }
        std::unique_ptr<LoadRecordStruct_TYP> record = NewRecord();
        if (!record)
        {
            if (data) loader->callbacks.release(loader->callbacks.context, data, resolved, cookie, nullptr);
            return -1;
        }
        record->type = type;
        record->flags = shared ? 0 : kRecordPrivate | kRecordFreedDirectly;
        record->data = size ? data : nullptr;
        record->size = size;
        record->loader = loader;
        if (resolved) SetResolvedName(record.get(), UpperCaseCopy(static_cast<const char*>(resolved)));
        record->loaderResolvedName = resolved;
        record->loaderCookie = cookie;
        record->nameText = std::move(upper);
        record->name = record->nameText.get();
        if (shared) records.push_back(record.get());
        *out = record.release();
        return 0;
    }
    return failure;
}

int AllLoaders_::LoadShared(DWORD type, const char* name, LoadRecordStruct_TYP** out)
{
    if (!out) return -1;
    void* result = nullptr;
    int r = Load(type, name, true, &result);
    *out = nullptr;
    if (r == 0)
        *out = static_cast<LoadRecordStruct_TYP*>(result);
    else if (r == kLoaderFinishedPart)
    {
        if (result) static_cast<LoadedPart_*>(result)->Release();
        return -1;
    }
    return r;
}

bool AllLoaders_::FindSharedRecord(DWORD type, const char* upperName, LoadRecordStruct_TYP** out)
{
    if (out) *out = nullptr;
    if (!upperName) return false;
    for (LoadRecordStruct_TYP* record : records)
    {
        if (!record->object || record->type != type || (record->flags & kRecordPrivate)) continue;
        bool match = (record->resolvedName && SameName(record->resolvedName, upperName)) ||
                     (record->name && SameName(record->name, upperName));
        if (match)
        {
            if (out) *out = record;
            return true;
        }
    }
    return false;
}

HRESULT AllLoaders_::AddRecordFromMemory(DWORD size, const void* data, DWORD type, const char* name,
                                         LoadRecordStruct_TYP** out)
{
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    std::unique_ptr<LoadRecordStruct_TYP> record = NewRecord();
    if (!record) return E_OUTOFMEMORY;
    record->type = type;
    record->engineOwnsData = 1;
    SetResolvedName(record.get(), UpperCaseCopy(name));
    record->size = size;
    if (data && size)
    {
        record->ownedData = CopyArray(static_cast<const BYTE*>(data), size);
        if (!record->ownedData) return E_OUTOFMEMORY;
        record->data = record->ownedData.get();
    }
    records.push_back(record.get());
    *out = record.release();
    return S_OK;
}

void AllLoaders_::AttachObjectToRecord(LoadRecordStruct_TYP* record, LoadedPart_* object)
{
    if (!record) return;
    bool keep = CurrentGlobals && record->type < sizeof(CurrentGlobals->KeepLoadedData) &&
                CurrentGlobals->KeepLoadedData[record->type];
    if (!keep) GiveBackData(record, object);
    record->object = object;
}

HRESULT AllLoaders_::Unload(LoadRecordStruct_TYP* record)
{
    if (!record) return E_INVALIDARG;
    if (record->flags & kRecordFreedDirectly)
    {
        GiveBackData(record, record->object);
        FreeRecordAndObject(record);
        return S_OK;
    }
    auto it = std::find(records.begin(), records.end(), record);
    if (it == records.end()) return E_FAIL;
    GiveBackData(record, record->object);
    if (record->loader && record->loader->callbacks.onUnload)
    {
        const LoaderCallbacksStruct_TYP& cb = record->loader->callbacks;
        cb.onUnload(cb.context, record->loader, record->resolvedName);
    }
    // The callback may have changed the list.
    it = std::find(records.begin(), records.end(), record);
    if (it != records.end()) records.erase(it);
    FreeRecordAndObject(record);
    return S_OK;
}

namespace
{
template <class List, class Ask>
int AskListLoaders(const std::vector<std::unique_ptr<Loader_>>& loaders, DWORD type, const char* name,
                   List* list, Ask ask)
{
    if (list) list->Clear();
    if (!name || !*name) return -1;
    int failure = -1;
    for (const std::unique_ptr<Loader_>& loader : loaders)
    {
        if (loader->type != type) continue;
        auto callback = ask(loader->callbacks);
        if (!callback) continue;
        int result = callback(loader->callbacks.context, name, list);
        if (result == 0) return 0;
        if (result != kLoaderNotMine) failure = result;
    }
    return failure;
}
} // namespace

int AllLoaders_::GetLODs(DWORD type, const char* name, IlumoVector<LoaderLODStruct_TYP>* list)
{
    return AskListLoaders(loaders, type, name, list,
                          [](const LoaderCallbacksStruct_TYP& cb) { return cb.getLODs; });
}

int AllLoaders_::GetAlternatives(DWORD type, const char* name, IlumoVector<LoaderAlternativeStruct_TYP>* list)
{
    return AskListLoaders(loaders, type, name, list,
                          [](const LoaderCallbacksStruct_TYP& cb) { return cb.getAlternatives; });
}

void AllLoaders_::AddLoader(std::unique_ptr<Loader_> loader, bool atFront)
{
    loaders.push_back(std::move(loader));
    if (atFront) std::rotate(loaders.begin(), loaders.end() - 1, loaders.end());
}

HRESULT AllLoaders_::RemoveLoader(Loader_* loader)
{
    for (LoadRecordStruct_TYP* record : records)
    {
        if (record->loader != loader) continue;
        if (record->data) GiveBackData(record, nullptr);
        record->loader = nullptr;
    }
    auto it = std::find_if(loaders.begin(), loaders.end(),
                           [loader](const std::unique_ptr<Loader_>& l) { return l.get() == loader; });
    if (it == loaders.end()) return E_FAIL;
    loaders.erase(it);
    return S_OK;
}

// Each record leaves the list before its object is deleted: that deletion releases further resources,
// whose unloading erases their own records, so the walk starts again from the front every time.
void AllLoaders_::DestroyRecordsOfType(DWORD type)
{
    for (;;)
    {
        auto it =
            std::find_if(records.begin(), records.end(),
                         [type](LoadRecordStruct_TYP* r) { return type == 0xFFFFFFFFu || r->type == type; });
        if (it == records.end()) return;
        LoadRecordStruct_TYP* record = *it;
        records.erase(it);
        GiveBackData(record, record->object);
        FreeRecordAndObject(record);
    }
}

AllLoaders_::~AllLoaders_()
{
    if (CurrentGlobals && &CurrentGlobals->loaders == this)
    {
        CurrentGlobals->releaseCache.enabled = 0;
        CurrentGlobals->releaseCache.Purge();
    }
    // Models hold materials and textures, materials hold textures: owners go before what they hold.
    DestroyRecordsOfType(LoadedPartModel);
    DestroyRecordsOfType(LoadedPartMaterial);
    DestroyRecordsOfType(0xFFFFFFFFu);
    loaders.clear();
}
} // namespace LMK

// ---------------------------------------------------------------------------------------------------
using LMK::CurrentGlobals;

HRESULT LRRegisterLoader(DWORD type, const LMK::LoaderCallbacksStruct_TYP* callbacks, bool atFront,
                         LMK::Loader_** loader)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!callbacks || !callbacks->load || !callbacks->release || !loader) return E_INVALIDARG;
    return ferolt::CatchOutOfMemory(E_OUTOFMEMORY,
                                    [&]
                                    {
                                        auto made = std::make_unique<LMK::Loader_>(type, *callbacks);
                                        LMK::Loader_* handle = made.get();
                                        CurrentGlobals->loaders.AddLoader(std::move(made), atFront);
                                        *loader = handle; // the registry's until unregistered
                                        return S_OK;
                                    });
}

HRESULT LRUnregisterLoader(LMK::Loader_** loader)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!loader) return E_INVALIDARG;
    if (!*loader) return S_OK;
    CurrentGlobals->releaseCache.PurgeLoader(*loader);
    // A pointer that is not registered may be stale: it is not ours to delete.
    HRESULT hr = CurrentGlobals->loaders.RemoveLoader(*loader);
    *loader = nullptr;
    return hr;
}

HRESULT LRAddRefLoadedPart(LMK::LoadedPart_* part)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (part) part->AddRef();
    return S_OK;
}

HRESULT LRReleaseLoadedPart(LMK::LoadedPart_** part)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!part) return E_INVALIDARG;
    if (*part) (*part)->Release();
    *part = nullptr;
    return S_OK;
}

HRESULT LRReleaseLoadedPartArray(LMK::LoadedPart_*** array, DWORD count)
{
    if (!array || !*array || count == 0) return E_INVALIDARG;
    // The engine made the array with new[]; it goes once its references are dropped.
    const std::unique_ptr<LMK::LoadedPart_*[]> owned(*array);
    for (DWORD i = 0; i < count; ++i)
    {
        if (owned[i]) owned[i]->Release();
        owned[i] = nullptr;
    }
    *array = nullptr;
    return S_OK;
}
