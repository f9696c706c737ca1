#pragma once
// The engine's public API for back buffers and cameras. Every function first answers E_FAIL while no
// engine with devices is running, then E_INVALIDARG for a missing pointer. Back buffers and cameras have
// no add-reference call: only their creator releases them.
#include "engine/core/view.h"
#include "platform/d3dx9/d3dx9math.h"
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

namespace LMK
{
class BackBuffer_;
class View_;
} // namespace LMK

// Clears *backBuffer, then builds one for the window. *detail (when given): 0 built, -1 engine not
// started, -8 the window's client rectangle could not be read; E_FAIL for any non-zero detail, and
// E_OUTOFMEMORY (detail untouched) when memory runs out.
HRESULT LRCreateBackBuffer(HWND window, LMK::BackBuffer_** backBuffer, INT* detail);
// Releases *backBuffer when set and clears it.
HRESULT LRReleaseBackBuffer(LMK::BackBuffer_** backBuffer);
// The window's client size, also when the window is partly off-screen.
HRESULT LRGetBackBufferSize(LMK::BackBuffer_* backBuffer, UINT* width, UINT* height);
// The primary display size of the device set.
HRESULT LRGetDisplaySize(UINT* width, UINT* height);

// A camera whose window is width x height centred on the look-at point; up is normalised.
HRESULT LRCreateView(const D3DXVECTOR3* eye, const D3DXVECTOR3* lookAt, const D3DXVECTOR3* up,
                     BYTE orthographic, FLOAT width, FLOAT height, FLOAT zNear, FLOAT zFar,
                     LMK::View_** view);
HRESULT LRCreateViewFromParams(const LMK::ViewParamsStruct_TYP* params, LMK::View_** view);
// Releases *view when set and clears it.
HRESULT LRReleaseView(LMK::View_** view);
// Each vector may be null: that one stays (or is not read).
HRESULT LRSetViewLookAt(LMK::View_* view, const D3DXVECTOR3* eye, const D3DXVECTOR3* lookAt,
                        const D3DXVECTOR3* up);
HRESULT LRGetViewLookAt(LMK::View_* view, D3DXVECTOR3* eye, D3DXVECTOR3* lookAt, D3DXVECTOR3* up);
HRESULT LRSetViewParams(LMK::View_* view, const LMK::ViewParamsStruct_TYP* params);
HRESULT LRGetViewParams(LMK::View_* view, LMK::ViewParamsStruct_TYP* params);
HRESULT LRGetViewProjectionMatrix(LMK::View_* view, D3DXMATRIX* matrix);
HRESULT LRGetInverseViewProjectionMatrix(LMK::View_* view, D3DXMATRIX* matrix);
// The view height that keeps the back buffer's aspect for `width`; E_FAIL and 0 for an empty client area.
HRESULT LRComputeViewHeight(LMK::View_* view, LMK::BackBuffer_* backBuffer, FLOAT width, FLOAT* height);
