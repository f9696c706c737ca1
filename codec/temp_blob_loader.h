#pragma once
// A texture loader that answers from image bytes held for a moment. It sits at the front of the
// engine's texture loaders and, while it holds bytes, answers every texture request with a copy of
// them, so that an image made in memory is loaded and shared under its name like any other.
#include "engine/engine_api.h"
#include "platform/mfc/afx_string.h"

#include <cstddef>

// A reference-counted holder through which a caller keeps one loader for several codecs.
struct IP3DBlobContainer
{
    virtual void AddRef() = 0;
    virtual void Release() = 0;

protected:
    ~IP3DBlobContainer() = default;
};

class CTempBlobLoader final : public IP3DBlobContainer
{
public:
    // Registers the loader at the front of the texture loaders, with one reference.
    CTempBlobLoader();
    CTempBlobLoader(const CTempBlobLoader&) = delete;
    CTempBlobLoader& operator=(const CTempBlobLoader&) = delete;

    void AddRef() override;
    // Deletes the loader (and unregisters it) at the last reference.
    void Release() override;

    // The bytes stay the caller's and must outlive the hold.
    void SetBlob(const CString& name, const void* data, unsigned long size);
    void ClearBlob();
    // kLoaderNotMine unless bytes with a name are held; otherwise a copy of them and of the name (both
    // new[], for ReleaseBlobCallback), and kLoaderDelivered. The requested name is not compared.
    int ProvideBlob(const char* requestedName, void** data, DWORD* size, void** name);

    LMK::Loader_* Handle() const { return m_loader; }

private:
    ~CTempBlobLoader();

    DWORD m_refCount = 1;
    const void* m_data = nullptr;
    DWORD m_size = 0;
    CString m_name;
    LMK::Loader_* m_loader = nullptr;
    BYTE m_hasBlob = 0;
};

int __stdcall LoadBlobCallback(const LMK::LoaderRequestStruct_TYP* request, void** data, DWORD* size,
                               void** resolvedName, DWORD* cookie);
void __stdcall ReleaseBlobCallback(void* context, void* data, void* resolvedName, DWORD cookie,
                                   LMK::LoadedPart_* object);

// A loader with one reference for the caller: the holder's (with a reference added), or a new one that
// is also stored in the holder (with a second reference, the holder's) when a holder is given.
CTempBlobLoader* GetOrCreateTempBlobLoader(IP3DBlobContainer** holder);
