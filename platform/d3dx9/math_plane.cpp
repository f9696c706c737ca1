// Planes and colour packing.
#include "platform/d3dx9/d3dx9math.h"

#include <cmath>

namespace
{

DWORD PackChannel(float f)
{
    if (!(f > 0.0f)) // also NaN
        return 0;
    if (f >= 1.0f) return 0xFF;
    return static_cast<DWORD>(f * 255.0f + 0.5f);
}

} // namespace

//----------------------------------------------------------------------------------------------------------
// Planes

D3DXPLANE* D3DXPlaneNormalize(D3DXPLANE* pOut, const D3DXPLANE* pP)
{
    const float len = std::sqrt(pP->a * pP->a + pP->b * pP->b + pP->c * pP->c);
    if (len == 0.0f)
    {
        *pOut = D3DXPLANE(0.0f, 0.0f, 0.0f, 0.0f);
        return pOut;
    }
    *pOut = D3DXPLANE(pP->a / len, pP->b / len, pP->c / len, pP->d / len);
    return pOut;
}

D3DXPLANE* D3DXPlaneFromPointNormal(D3DXPLANE* pOut, const D3DXVECTOR3* pPoint, const D3DXVECTOR3* pNormal)
{
    *pOut = D3DXPLANE(pNormal->x, pNormal->y, pNormal->z, -D3DXVec3Dot(pPoint, pNormal));
    return pOut;
}

D3DXPLANE* D3DXPlaneFromPoints(D3DXPLANE* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2,
                               const D3DXVECTOR3* pV3)
{
    const D3DXVECTOR3 e1 = *pV2 - *pV1;
    const D3DXVECTOR3 e2 = *pV3 - *pV1;
    D3DXVECTOR3 n;
    D3DXVec3Cross(&n, &e1, &e2);
    D3DXVec3Normalize(&n, &n);
    return D3DXPlaneFromPointNormal(pOut, pV1, &n);
}

D3DXVECTOR3* D3DXPlaneIntersectLine(D3DXVECTOR3* pOut, const D3DXPLANE* pP, const D3DXVECTOR3* pV1,
                                    const D3DXVECTOR3* pV2)
{
    const D3DXVECTOR3 dir = *pV2 - *pV1;
    const float denom = D3DXPlaneDotNormal(pP, &dir);
    if (denom == 0.0f) return nullptr;
    const float t = D3DXPlaneDotCoord(pP, pV1) / denom;
    *pOut = *pV1 - dir * t;
    return pOut;
}

D3DXPLANE* D3DXPlaneTransform(D3DXPLANE* pOut, const D3DXPLANE* pP, const D3DXMATRIX* pM)
{
    const D3DXVECTOR4 v(pP->a, pP->b, pP->c, pP->d);
    D3DXVECTOR4 r;
    D3DXVec4Transform(&r, &v, pM);
    *pOut = D3DXPLANE(r.x, r.y, r.z, r.w);
    return pOut;
}

//----------------------------------------------------------------------------------------------------------
// Colours

D3DXCOLOR::operator DWORD() const
{
    return (PackChannel(a) << 24) | (PackChannel(r) << 16) | (PackChannel(g) << 8) | PackChannel(b);
}
