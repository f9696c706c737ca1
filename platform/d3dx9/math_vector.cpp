// Vector normalisation and transforms.
#include "platform/d3dx9/d3dx9math.h"

D3DXVECTOR2* D3DXVec2Normalize(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV)
{
    FLOAT len = D3DXVec2Length(pV);
    if (len == 0.0f)
    {
        *pOut = D3DXVECTOR2(0.0f, 0.0f);
        return pOut;
    }
    *pOut = D3DXVECTOR2(pV->x / len, pV->y / len);
    return pOut;
}

D3DXVECTOR4* D3DXVec2Transform(D3DXVECTOR4* pOut, const D3DXVECTOR2* pV, const D3DXMATRIX* pM)
{
    const D3DXMATRIX& m = *pM;
    *pOut = D3DXVECTOR4(pV->x * m._11 + pV->y * m._21 + m._41, pV->x * m._12 + pV->y * m._22 + m._42,
                        pV->x * m._13 + pV->y * m._23 + m._43, pV->x * m._14 + pV->y * m._24 + m._44);
    return pOut;
}

D3DXVECTOR2* D3DXVec2TransformCoord(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV, const D3DXMATRIX* pM)
{
    const D3DXMATRIX& m = *pM;
    FLOAT w = pV->x * m._14 + pV->y * m._24 + m._44;
    *pOut =
        D3DXVECTOR2((pV->x * m._11 + pV->y * m._21 + m._41) / w, (pV->x * m._12 + pV->y * m._22 + m._42) / w);
    return pOut;
}

D3DXVECTOR2* D3DXVec2TransformNormal(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV, const D3DXMATRIX* pM)
{
    const D3DXMATRIX& m = *pM;
    *pOut = D3DXVECTOR2(pV->x * m._11 + pV->y * m._21, pV->x * m._12 + pV->y * m._22);
    return pOut;
}

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV)
{
    FLOAT len = D3DXVec3Length(pV);
    if (len == 0.0f)
    {
        *pOut = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
        return pOut;
    }
    *pOut = D3DXVECTOR3(pV->x / len, pV->y / len, pV->z / len);
    return pOut;
}

D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM)
{
    const D3DXMATRIX& m = *pM;
    const float x = pV->x, y = pV->y, z = pV->z;
    *pOut = D3DXVECTOR4(x * m._11 + y * m._21 + z * m._31 + m._41, x * m._12 + y * m._22 + z * m._32 + m._42,
                        x * m._13 + y * m._23 + z * m._33 + m._43, x * m._14 + y * m._24 + z * m._34 + m._44);
    return pOut;
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM)
{
    const D3DXMATRIX& m = *pM;
    const float x = pV->x, y = pV->y, z = pV->z;
    FLOAT w = x * m._14 + y * m._24 + z * m._34 + m._44;
    *pOut = D3DXVECTOR3((x * m._11 + y * m._21 + z * m._31 + m._41) / w,
                        (x * m._12 + y * m._22 + z * m._32 + m._42) / w,
                        (x * m._13 + y * m._23 + z * m._33 + m._43) / w);
    return pOut;
}

D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM)
{
    const D3DXMATRIX& m = *pM;
    const float x = pV->x, y = pV->y, z = pV->z;
    *pOut = D3DXVECTOR3(x * m._11 + y * m._21 + z * m._31, x * m._12 + y * m._22 + z * m._32,
                        x * m._13 + y * m._23 + z * m._33);
    return pOut;
}

D3DXVECTOR4* D3DXVec4Normalize(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV)
{
    FLOAT len = D3DXVec4Length(pV);
    if (len == 0.0f)
    {
        *pOut = D3DXVECTOR4(0.0f, 0.0f, 0.0f, 0.0f);
        return pOut;
    }
    *pOut = D3DXVECTOR4(pV->x / len, pV->y / len, pV->z / len, pV->w / len);
    return pOut;
}

D3DXVECTOR4* D3DXVec4Transform(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV, const D3DXMATRIX* pM)
{
    const D3DXMATRIX& m = *pM;
    const float x = pV->x, y = pV->y, z = pV->z, w = pV->w;
    *pOut = D3DXVECTOR4(
        x * m._11 + y * m._21 + z * m._31 + w * m._41, x * m._12 + y * m._22 + z * m._32 + w * m._42,
        x * m._13 + y * m._23 + z * m._33 + w * m._43, x * m._14 + y * m._24 + z * m._34 + w * m._44);
    return pOut;
}

D3DXVECTOR4* D3DXVec4Hermite(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV1, const D3DXVECTOR4* pT1,
                             const D3DXVECTOR4* pV2, const D3DXVECTOR4* pT2, FLOAT s)
{
    const FLOAT s2 = s * s;
    const FLOAT s3 = s2 * s;
    const FLOAT h1 = 2.0f * s3 - 3.0f * s2 + 1.0f;
    const FLOAT h2 = s3 - 2.0f * s2 + s;
    const FLOAT h3 = -2.0f * s3 + 3.0f * s2;
    const FLOAT h4 = s3 - s2;
    *pOut = D3DXVECTOR4(h1 * pV1->x + h2 * pT1->x + h3 * pV2->x + h4 * pT2->x,
                        h1 * pV1->y + h2 * pT1->y + h3 * pV2->y + h4 * pT2->y,
                        h1 * pV1->z + h2 * pT1->z + h3 * pV2->z + h4 * pT2->z,
                        h1 * pV1->w + h2 * pT1->w + h3 * pV2->w + h4 * pT2->w);
    return pOut;
}
