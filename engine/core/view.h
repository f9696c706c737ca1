#pragma once
// The camera: a parameter block turned into Direct3D matrices, computed lazily and cached behind two
// valid bytes (the whole view, and the projection of one back-buffer part).
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"
#include "platform/d3dx9/d3dx9math.h"

#include <cstdint>
#include <vector>

namespace LMK
{
class BackBuffer_;
class BackBufferPart_;

#pragma pack(push, 1)
// Copied whole by the API. The window is left x, right x, top-edge y, bottom-edge y; for a perspective
// view it is measured on the plane through the look-at point.
struct ViewParamsStruct_TYP
{
    float eye[3];
    float lookAt[3];
    float up[3];
    float window[4];
    float secondWindow[4]; // the constructor's copy of the window; the matrices never read it
    float zNear;
    float zFar;
    uint8_t orthographic;
    uint8_t autoNearFar; // the render pass fits near and far to the visible objects for one pass
    uint8_t reserved[2];
};
#pragma pack(pop)
static_assert(sizeof(ViewParamsStruct_TYP) == 80);

class View_
{
public:
    View_(const D3DXVECTOR3& eye, const D3DXVECTOR3& lookAt, const D3DXVECTOR3& up, uint8_t orthographic,
          float width, float height, float zNear, float zFar);
    explicit View_(const ViewParamsStruct_TYP& block);
    virtual ~View_();
    View_(const View_&) = delete;
    View_& operator=(const View_&) = delete;
    // Drops one reference; the last deletes the view.
    void Release();

    // Each vector may be null and then stays; up is normalised.
    void SetLookAt(const D3DXVECTOR3* eye, const D3DXVECTOR3* lookAt, const D3DXVECTOR3* up);
    void GetLookAt(D3DXVECTOR3* eye, D3DXVECTOR3* lookAt, D3DXVECTOR3* up) const;
    void SetParams(const ViewParamsStruct_TYP& block);
    void GetParams(ViewParamsStruct_TYP* block) const;
    void SetNearFar(float zNear, float zFar);
    void GetNearFar(float* zNear, float* zFar) const;

    // S_OK, or E_FAIL for a perspective camera whose eye is its look-at point.
    HRESULT Update();
    HRESULT GetViewMatrix(D3DXMATRIX* out);
    HRESULT GetViewProjectionMatrix(D3DXMATRIX* out);
    HRESULT GetInverseViewProjectionMatrix(D3DXMATRIX* out);
    // E_FAIL unless a part projection was made; neither computes one.
    HRESULT GetPartProjectionMatrix(D3DXMATRIX* out) const;
    HRESULT GetViewPartProjectionMatrix(D3DXMATRIX* out) const;

    // The projection of exactly the piece of the view window that the part shows on the screen.
    HRESULT UpdatePartProjection(BackBufferPart_* part);
    HRESULT ApplyToDevice(BackBufferPart_* part);

    // The view height that keeps the back buffer's aspect for the given width.
    static HRESULT HeightForWidth(const BackBuffer_* backBuffer, float width, float* height);

    // Appends near, far, left, right, top and bottom planes of the whole view.
    HRESULT GetFrustumPlanes(std::vector<D3DXPLANE>* planes);

    // Each points at its own slot of matrices_, 16-byte aligned.
    D3DXMATRIXA16* viewMatrix;
    D3DXMATRIXA16* projectionMatrix;
    D3DXMATRIXA16* partProjectionMatrix;
    D3DXMATRIXA16* viewProjectionMatrix;
    D3DXMATRIXA16* inverseViewProjectionMatrix;
    ViewParamsStruct_TYP params;
    uint8_t matricesValid;
    uint8_t partProjectionValid;
    BackBufferPart_* projectionPart;
    uint32_t refCount;

private:
    void Invalidate();
    void ComputeViewMatrix();
    bool WindowValues(float* l, float* r, float* a, float* b) const;
    // A part's address alone does not identify it: parts are rebuilt and a new one may land where an
    // old one was, so the rectangles it was made for are kept with it.
    RECT projectionPartScreen_{};
    RECT projectionOwnerScreen_{};
    D3DXMATRIXA16 matrices_[5]{};
};
} // namespace LMK
