#include "codec/temp_blob_loader.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace
{
char* HeapCopy(const char* text)
{
    const size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}
} // namespace

CTempBlobLoader::CTempBlobLoader()
{
    const LMK::LoaderCallbacksStruct_TYP callbacks{
        LoadBlobCallback, ReleaseBlobCallback, nullptr, this, nullptr, nullptr};
    LRRegisterLoader(LoadedPartTexture, &callbacks, true, &m_loader);
}

CTempBlobLoader::~CTempBlobLoader()
{
    LRUnregisterLoader(&m_loader);
}

void CTempBlobLoader::AddRef()
{
    ++m_refCount;
}

void CTempBlobLoader::Release()
{
    if (--m_refCount == 0) delete this;
}

void CTempBlobLoader::SetBlob(const CString& name, const void* data, unsigned long size)
{
    m_name = name;
    m_data = data;
    m_size = static_cast<DWORD>(size);
    m_hasBlob = 1;
}

void CTempBlobLoader::ClearBlob()
{
    m_data = nullptr;
    m_size = 0;
    m_name.Empty();
    m_hasBlob = 0;
}

int CTempBlobLoader::ProvideBlob(const char*, void** data, DWORD* size, void** name)
{
    if (!m_hasBlob || m_name.IsEmpty()) return LMK::kLoaderNotMine;
    BYTE* copy = new (std::nothrow) BYTE[m_size ? m_size : 1];
    char* nameCopy = HeapCopy(m_name);
    if (!copy || !nameCopy)
    {
        delete[] copy;
        std::free(nameCopy);
        return -1;
    }
    if (m_size) std::memcpy(copy, m_data, m_size);
    *data = copy;
    *size = m_size;
    *name = nameCopy;
    return LMK::kLoaderDelivered;
}

int __stdcall LoadBlobCallback(const LMK::LoaderRequestStruct_TYP* request, void** data, DWORD* size,
                               void** resolvedName, DWORD* cookie)
{
    if (cookie) *cookie = 0;
    if (!request || !request->context) return LMK::kLoaderNotMine;
    return static_cast<CTempBlobLoader*>(request->context)
        ->ProvideBlob(request->name, data, size, resolvedName);
}

void __stdcall ReleaseBlobCallback(void*, void* data, void* resolvedName, DWORD, LMK::LoadedPart_*)
{
    delete[] static_cast<BYTE*>(data);
    std::free(resolvedName);
}

CTempBlobLoader* GetOrCreateTempBlobLoader(IP3DBlobContainer** holder)
{
    if (holder && *holder)
    {
        auto* loader = static_cast<CTempBlobLoader*>(*holder);
        loader->AddRef();
        return loader;
    }
    auto* loader = new (std::nothrow) CTempBlobLoader();
    if (loader && holder)
    {
        loader->AddRef();
        *holder = loader;
    }
    return loader;
}
