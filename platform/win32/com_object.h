#pragma once
// Reference counting and QueryInterface of the layer's component objects, written once.
#include <atomic>

#include "platform/win32/objidl.h"

namespace ferolt
{
// An object that implements Interface. QueryInterface answers IID_IUnknown and each of Iids with the
// Interface pointer (the interfaces derive from one another in a single line, so that pointer serves
// for all of them); the last Release deletes the object.
template <class Interface, IID... Iids> class ComObject : public Interface
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || ((riid == Iids) || ...))
        {
            *ppv = static_cast<Interface*>(this);
            AddRef(); // virtual: a surface of a texture counts on its container
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    // The count held by this object itself, for tests that look for leaked references.
    ULONG References() const { return refs_; }

protected:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    ~ComObject() override = default;

private:
    std::atomic<ULONG> refs_{1};
};
} // namespace ferolt
