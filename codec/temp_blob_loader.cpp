#include "codec/temp_blob_loader.h"

#include <cstring>
#include <memory>
#include <new>

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
    const char* text = m_name;
    std::unique_ptr<BYTE[]> copy = LMK::NewBuffer<BYTE>(m_size);
    std::unique_ptr<char[]> nameCopy = LMK::CopyArray(text, std::strlen(text) + 1);
    if (!copy || !nameCopy) return -1;
    if (m_size) std::memcpy(copy.get(), m_data, m_size);
    // ReleaseBlobCallback takes both back.
    *data = copy.release();
    *size = m_size;
    *name = nameCopy.release();
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
    const std::unique_ptr<BYTE[]> bytes(static_cast<BYTE*>(data));
    const std::unique_ptr<char[]> name(static_cast<char*>(resolvedName));
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
