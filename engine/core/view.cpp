#include "engine/core/view.h"

#include "engine/core/backbuffer.h"
#include "platform/d3d9/d3d9.h"

#include <cstring>

namespace LMK
{
namespace
{
D3DXVECTOR3 Vec(const float v[3])
{
    return D3DXVECTOR3(v[0], v[1], v[2]);
}

void Store(float dst[3], const D3DXVECTOR3& v)
{
    dst[0] = v.x;
    dst[1] = v.y;
    dst[2] = v.z;
}

void Load(D3DXVECTOR3* dst, const float src[3])
{
    if (dst) *dst = Vec(src);
}

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

void MakeProjection(D3DXMATRIX* out, bool orthographic, float l, float r, float b, float t, float zn,
                    float zf)
{
    if (orthographic)
        D3DXMatrixOrthoOffCenterRH(out, l, r, b, t, zn, zf);
    else
        D3DXMatrixPerspectiveOffCenterRH(out, l, r, b, t, zn, zf);
}
} // namespace

View_::View_(const D3DXVECTOR3& eye, const D3DXVECTOR3& lookAt, const D3DXVECTOR3& up, uint8_t orthographic,
             float width, float height, float zNear, float zFar)
    : View_(ViewParamsStruct_TYP{})
{
    Store(params.eye, eye);
    Store(params.lookAt, lookAt);
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, &up);
    Store(params.up, n);
    const float window[4] = {-width / 2, width / 2, height / 2, -height / 2};
    std::memcpy(params.window, window, sizeof window);
    std::memcpy(params.secondWindow, window, sizeof window);
    params.zNear = zNear;
    params.zFar = zFar;
    params.orthographic = orthographic;
    params.autoNearFar = 0;
}

View_::View_(const ViewParamsStruct_TYP& block)
    : viewMatrix(&matrices_[0]), projectionMatrix(&matrices_[1]), partProjectionMatrix(&matrices_[2]),
      viewProjectionMatrix(&matrices_[3]), inverseViewProjectionMatrix(&matrices_[4]), params(block),
      matricesValid(0), partProjectionValid(0), projectionPart(nullptr), refCount(1)
{
}

View_::~View_() = default;

void View_::Invalidate()
{
    matricesValid = 0;
    partProjectionValid = 0;
}

void View_::Release()
{
    if (--refCount == 0) delete this;
}

void View_::SetLookAt(const D3DXVECTOR3* eye, const D3DXVECTOR3* lookAt, const D3DXVECTOR3* up)
{
    if (eye) Store(params.eye, *eye);
    if (lookAt) Store(params.lookAt, *lookAt);
    if (up)
    {
        D3DXVECTOR3 n;
        D3DXVec3Normalize(&n, up);
        Store(params.up, n);
    }
    Invalidate();
}

void View_::GetLookAt(D3DXVECTOR3* eye, D3DXVECTOR3* lookAt, D3DXVECTOR3* up) const
{
    Load(eye, params.eye);
    Load(lookAt, params.lookAt);
    Load(up, params.up);
}

void View_::SetParams(const ViewParamsStruct_TYP& block)
{
    params = block;
    Invalidate();
}

void View_::GetParams(ViewParamsStruct_TYP* block) const
{
    *block = params;
}

void View_::SetNearFar(float zNear, float zFar)
{
    params.zNear = zNear;
    params.zFar = zFar;
    Invalidate();
}

void View_::GetNearFar(float* zNear, float* zFar) const
{
    if (zNear) *zNear = params.zNear;
    if (zFar) *zFar = params.zFar;
}

void View_::ComputeViewMatrix()
{
    const D3DXVECTOR3 eye = Vec(params.eye), at = Vec(params.lookAt), up = Vec(params.up);
    D3DXMatrixLookAtRH(viewMatrix, &eye, &at, &up);
}

bool View_::WindowValues(float* l, float* r, float* a, float* b) const
{
    *l = params.window[0];
    *r = params.window[1];
    *a = params.window[2];
    *b = params.window[3];
    if (params.orthographic) return true;
    // The perspective window is given on the plane through the look-at point; the projection wants it
    // on the near plane.
    const D3DXVECTOR3 d = Vec(params.lookAt) - Vec(params.eye);
    const float distance = D3DXVec3Length(&d);
    if (distance == 0.0f) return false;
    const float scale = params.zNear / distance;
    *l *= scale;
    *r *= scale;
    *a *= scale;
    *b *= scale;
    return true;
}

HRESULT View_::Update()
{
    if (matricesValid) return S_OK;
    if (!partProjectionValid) ComputeViewMatrix();
    float l, r, a, b;
    if (!WindowValues(&l, &r, &a, &b)) return E_FAIL;
    // The top-edge value goes where the function expects the minimum y.
    MakeProjection(projectionMatrix, params.orthographic != 0, l, r, a, b, params.zNear, params.zFar);
    D3DXMatrixMultiply(viewProjectionMatrix, viewMatrix, projectionMatrix);
    D3DXMatrixInverse(inverseViewProjectionMatrix, nullptr, viewProjectionMatrix);
    matricesValid = 1;
    return S_OK;
}

HRESULT View_::GetViewMatrix(D3DXMATRIX* out)
{
    const HRESULT hr = Update();
    if (FAILED(hr)) return hr;
    *out = *viewMatrix;
    return S_OK;
}

HRESULT View_::GetViewProjectionMatrix(D3DXMATRIX* out)
{
    const HRESULT hr = Update();
    if (FAILED(hr)) return hr;
    *out = *viewProjectionMatrix;
    return S_OK;
}

HRESULT View_::GetInverseViewProjectionMatrix(D3DXMATRIX* out)
{
    const HRESULT hr = Update();
    if (FAILED(hr)) return hr;
    *out = *inverseViewProjectionMatrix;
    return S_OK;
}

HRESULT View_::GetPartProjectionMatrix(D3DXMATRIX* out) const
{
    if (!partProjectionValid) return E_FAIL;
    *out = *partProjectionMatrix;
    return S_OK;
}

HRESULT View_::GetViewPartProjectionMatrix(D3DXMATRIX* out) const
{
    if (!partProjectionValid) return E_FAIL;
    D3DXMatrixMultiply(out, viewMatrix, partProjectionMatrix);
    return S_OK;
}

HRESULT View_::UpdatePartProjection(BackBufferPart_* part)
{
    if (!part || !part->owner) return E_FAIL;
    const RECT& owner = part->owner->clientRect;
    const RECT& piece = part->screenRect;
    if (partProjectionValid && projectionPart == part && SameRect(projectionPartScreen_, piece) &&
        SameRect(projectionOwnerScreen_, owner))
        return S_OK;
    if (!partProjectionValid && !matricesValid) ComputeViewMatrix();
    float l, r, a, b;
    if (!WindowValues(&l, &r, &a, &b)) return E_FAIL;
    const LONG width = owner.right - owner.left;
    const LONG height = owner.bottom - owner.top;
    if (width == 0 || height == 0) return E_FAIL;
    const float left = l + static_cast<float>(piece.left - owner.left) * (r - l) / static_cast<float>(width);
    const float right =
        l + static_cast<float>(piece.right - owner.left) * (r - l) / static_cast<float>(width);
    const float top = a + static_cast<float>(piece.top - owner.top) * (b - a) / static_cast<float>(height);
    const float bottom =
        a + static_cast<float>(piece.bottom - owner.top) * (b - a) / static_cast<float>(height);
    // Here the bottom edge is the minimum y, so the part shows its piece of the window upright.
    MakeProjection(partProjectionMatrix, params.orthographic != 0, left, right, bottom, top, params.zNear,
                   params.zFar);
    partProjectionValid = 1;
    projectionPart = part;
    projectionPartScreen_ = piece;
    projectionOwnerScreen_ = owner;
    return S_OK;
}

HRESULT View_::ApplyToDevice(BackBufferPart_* part)
{
    HRESULT hr = UpdatePartProjection(part);
    if (FAILED(hr)) return hr;
    IDirect3DDevice9* device = part->GetD3DDevice();
    if (!device) return E_FAIL;
    hr = device->SetTransform(D3DTS_PROJECTION, partProjectionMatrix);
    if (FAILED(hr)) return hr;
    return device->SetTransform(D3DTS_VIEW, viewMatrix);
}

HRESULT View_::HeightForWidth(const BackBuffer_* backBuffer, float width, float* height)
{
    const RECT& rc = backBuffer->clientRect;
    // An empty client area in either direction has no aspect to keep.
    if (rc.bottom == rc.top || rc.right == rc.left)
    {
        *height = 0.0f;
        return E_FAIL;
    }
    *height = static_cast<float>(rc.bottom - rc.top) * width / static_cast<float>(rc.right - rc.left);
    return S_OK;
}

HRESULT View_::GetFrustumPlanes(std::vector<D3DXPLANE>* planes)
{
    const HRESULT hr = Update();
    if (FAILED(hr)) return hr;
    // Corners of the clip box, index = x bit | y bit << 1 | z bit << 2 (a set bit means +1, or far z).
    D3DXVECTOR3 c[8];
    for (int i = 0; i < 8; ++i)
    {
        const D3DXVECTOR3 clip((i & 1) ? 1.0f : -1.0f, (i & 2) ? 1.0f : -1.0f, (i & 4) ? 1.0f : 0.0f);
        D3DXVec3TransformCoord(&c[i], &clip, inverseViewProjectionMatrix);
    }
    enum
    {
        NNN = 0,
        PNN = 1,
        NPN = 2,
        PPN = 3,
        NNF = 4,
        PNF = 5,
        NPF = 6,
        PPF = 7
    };
    static const int kPlaneCorners[6][3] = {
        {NNN, PNN, NPN}, // near
        {NPF, PPF, PNF}, // far
        {NPN, NPF, NNF}, // x = -1
        {PPF, PPN, PNF}, // x = +1
        {NPN, PPN, NPF}, // y = +1
        {PNN, NNN, NNF}, // y = -1
    };
    for (const auto& k : kPlaneCorners)
    {
        D3DXPLANE p;
        D3DXPlaneFromPoints(&p, &c[k[0]], &c[k[1]], &c[k[2]]);
        planes->push_back(p);
    }
    return S_OK;
}
} // namespace LMK
