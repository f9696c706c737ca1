#include "engine/core/lr_view_api.h"

#include <memory>

#include "engine/core/backbuffer.h"
#include "engine/core/globals.h"
#include "engine/core/view.h"
#include "platform/win32/out_of_memory.h"

using LMK::BackBuffer_;
using LMK::IsEngineStarted;
using LMK::View_;

HRESULT LRCreateBackBuffer(HWND window, BackBuffer_** backBuffer, INT* detail)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!backBuffer) return E_INVALIDARG;
    *backBuffer = nullptr;
    INT code = 0;
    std::unique_ptr<BackBuffer_> made;
    if (!ferolt::Allocated([&] { made = std::make_unique<BackBuffer_>(window, &code); }))
        return E_OUTOFMEMORY;
    if (code >= 0) *backBuffer = made.release();
    if (detail) *detail = code;
    return code == 0 ? S_OK : E_FAIL;
}

HRESULT LRReleaseBackBuffer(BackBuffer_** backBuffer)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!backBuffer) return E_INVALIDARG;
    if (BackBuffer_* b = *backBuffer)
    {
        if (b->refCount-- == 1) delete b;
    }
    *backBuffer = nullptr;
    return S_OK;
}

HRESULT LRGetBackBufferSize(BackBuffer_* backBuffer, UINT* width, UINT* height)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!backBuffer || !width || !height) return E_INVALIDARG;
    *width = static_cast<UINT>(backBuffer->clientRect.right - backBuffer->clientRect.left);
    *height = static_cast<UINT>(backBuffer->clientRect.bottom - backBuffer->clientRect.top);
    return S_OK;
}

HRESULT LRGetDisplaySize(UINT* width, UINT* height)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!width || !height) return E_INVALIDARG;
    *width = LMK::CurrentGlobals->devices.primaryDisplayWidth;
    *height = LMK::CurrentGlobals->devices.primaryDisplayHeight;
    return S_OK;
}

HRESULT LRCreateView(const D3DXVECTOR3* eye, const D3DXVECTOR3* lookAt, const D3DXVECTOR3* up,
                     BYTE orthographic, FLOAT width, FLOAT height, FLOAT zNear, FLOAT zFar, View_** view)
{
    if (!IsEngineStarted()) return E_FAIL;
    // The three vectors are required; a missing one is refused rather than read.
    if (!view || !eye || !lookAt || !up) return E_INVALIDARG;
    return ferolt::CatchOutOfMemory(E_OUTOFMEMORY,
                                    [&]
                                    {
                                        *view = new View_(*eye, *lookAt, *up, orthographic, width, height,
                                                          zNear, zFar);
                                        return S_OK;
                                    });
}

HRESULT LRCreateViewFromParams(const LMK::ViewParamsStruct_TYP* params, View_** view)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!params || !view) return E_INVALIDARG;
    return ferolt::CatchOutOfMemory(E_OUTOFMEMORY,
                                    [&]
                                    {
                                        *view = new View_(*params);
                                        return S_OK;
                                    });
}

HRESULT LRReleaseView(View_** view)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!view) return E_INVALIDARG;
    if (*view) (*view)->Release();
    *view = nullptr;
    return S_OK;
}

HRESULT LRSetViewLookAt(View_* view, const D3DXVECTOR3* eye, const D3DXVECTOR3* lookAt, const D3DXVECTOR3* up)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!view) return E_INVALIDARG;
    view->SetLookAt(eye, lookAt, up);
    return S_OK;
}

HRESULT LRGetViewLookAt(View_* view, D3DXVECTOR3* eye, D3DXVECTOR3* lookAt, D3DXVECTOR3* up)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!view) return E_INVALIDARG;
    view->GetLookAt(eye, lookAt, up);
    return S_OK;
}

HRESULT LRSetViewParams(View_* view, const LMK::ViewParamsStruct_TYP* params)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!view || !params) return E_INVALIDARG;
    view->SetParams(*params);
    return S_OK;
}

HRESULT LRGetViewParams(View_* view, LMK::ViewParamsStruct_TYP* params)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!view || !params) return E_INVALIDARG;
    view->GetParams(params);
    return S_OK;
}

HRESULT LRGetViewProjectionMatrix(View_* view, D3DXMATRIX* matrix)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!view || !matrix) return E_INVALIDARG;
    return view->GetViewProjectionMatrix(matrix);
}

HRESULT LRGetInverseViewProjectionMatrix(View_* view, D3DXMATRIX* matrix)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!view || !matrix) return E_INVALIDARG;
    return view->GetInverseViewProjectionMatrix(matrix);
}

HRESULT LRComputeViewHeight(View_* view, BackBuffer_* backBuffer, FLOAT width, FLOAT* height)
{
    if (!IsEngineStarted()) return E_FAIL;
    // The camera is only tested: the height depends on the back buffer alone.
    if (!view || !backBuffer || !height) return E_INVALIDARG;
    return View_::HeightForWidth(backBuffer, width, height);
}
