// Quaternion products, conversions and interpolation.
#include "platform/d3dx9/d3dx9math.h"

#include <cmath>

D3DXQUATERNION& D3DXQUATERNION::operator*=(const D3DXQUATERNION& q)
{
    D3DXQuaternionMultiply(this, this, &q);
    return *this;
}

D3DXQUATERNION D3DXQUATERNION::operator*(const D3DXQUATERNION& q) const
{
    D3DXQUATERNION r;
    D3DXQuaternionMultiply(&r, this, &q);
    return r;
}

D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ)
{
    const float len = D3DXQuaternionLength(pQ);
    if (len == 0.0f)
    {
        *pOut = D3DXQUATERNION(0.0f, 0.0f, 0.0f, 0.0f);
        return pOut;
    }
    *pOut = D3DXQUATERNION(pQ->x / len, pQ->y / len, pQ->z / len, pQ->w / len);
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionInverse(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ)
{
    const float norm = D3DXQuaternionLengthSq(pQ);
    if (norm == 0.0f)
    {
        *pOut = D3DXQUATERNION(0.0f, 0.0f, 0.0f, 0.0f);
        return pOut;
    }
    *pOut = D3DXQUATERNION(-pQ->x / norm, -pQ->y / norm, -pQ->z / norm, pQ->w / norm);
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                       const D3DXQUATERNION* pQ2)
{
    // Hamilton product a * b with a = Q2, b = Q1, so Q1 is applied first.
    const D3DXQUATERNION a = *pQ2;
    const D3DXQUATERNION b = *pQ1;
    *pOut = D3DXQUATERNION(a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, //
                           a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, //
                           a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, //
                           a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z);
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionRotationAxis(D3DXQUATERNION* pOut, const D3DXVECTOR3* pV, FLOAT angle)
{
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, pV);
    if (n.x == 0.0f && n.y == 0.0f && n.z == 0.0f) return D3DXQuaternionIdentity(pOut);
    const float s = std::sin(angle / 2.0f);
    *pOut = D3DXQUATERNION(n.x * s, n.y * s, n.z * s, std::cos(angle / 2.0f));
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionRotationMatrix(D3DXQUATERNION* pOut, const D3DXMATRIX* pM)
{
    // The matrix is the transpose of the column-vector rotation, hence the swapped off-diagonal pairs.
    const auto& m = pM->m;
    const float trace = m[0][0] + m[1][1] + m[2][2];
    if (trace > 0.0f)
    {
        const float s = std::sqrt(trace + 1.0f) * 2.0f;
        *pOut = D3DXQUATERNION((m[1][2] - m[2][1]) / s, (m[2][0] - m[0][2]) / s, (m[0][1] - m[1][0]) / s,
                               0.25f * s);
    }
    else if (m[0][0] > m[1][1] && m[0][0] > m[2][2])
    {
        const float s = std::sqrt(1.0f + m[0][0] - m[1][1] - m[2][2]) * 2.0f;
        *pOut = D3DXQUATERNION(0.25f * s, (m[0][1] + m[1][0]) / s, (m[2][0] + m[0][2]) / s,
                               (m[1][2] - m[2][1]) / s);
    }
    else if (m[1][1] > m[2][2])
    {
        const float s = std::sqrt(1.0f + m[1][1] - m[0][0] - m[2][2]) * 2.0f;
        *pOut = D3DXQUATERNION((m[0][1] + m[1][0]) / s, 0.25f * s, (m[1][2] + m[2][1]) / s,
                               (m[2][0] - m[0][2]) / s);
    }
    else
    {
        const float s = std::sqrt(1.0f + m[2][2] - m[0][0] - m[1][1]) * 2.0f;
        *pOut = D3DXQUATERNION((m[2][0] + m[0][2]) / s, (m[1][2] + m[2][1]) / s, 0.25f * s,
                               (m[0][1] - m[1][0]) / s);
    }
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* pOut, FLOAT yaw, FLOAT pitch, FLOAT roll)
{
    const float cy = std::cos(yaw / 2.0f), sy = std::sin(yaw / 2.0f);
    const float cp = std::cos(pitch / 2.0f), sp = std::sin(pitch / 2.0f);
    const float cr = std::cos(roll / 2.0f), sr = std::sin(roll / 2.0f);
    *pOut = D3DXQUATERNION(cy * sp * cr + sy * cp * sr, //
                           sy * cp * cr - cy * sp * sr, //
                           cy * cp * sr - sy * sp * cr, //
                           cy * cp * cr + sy * sp * sr);
    return pOut;
}

D3DXQUATERNION* D3DXQuaternionSlerp(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                    const D3DXQUATERNION* pQ2, FLOAT t)
{
    float cosTheta = D3DXQuaternionDot(pQ1, pQ2);
    float sign = 1.0f;
    if (cosTheta < 0.0f)
    {
        cosTheta = -cosTheta;
        sign = -1.0f;
    }
    float k1, k2;
    if (1.0f - cosTheta > 1e-6f)
    {
        const float theta = std::acos(cosTheta);
        const float sinTheta = std::sin(theta);
        k1 = std::sin((1.0f - t) * theta) / sinTheta;
        k2 = std::sin(t * theta) / sinTheta;
    }
    else
    {
        // Nearly the same rotation: the arc is a straight line to float precision.
        k1 = 1.0f - t;
        k2 = t;
    }
    k2 *= sign;
    *pOut = D3DXQUATERNION(k1 * pQ1->x + k2 * pQ2->x, k1 * pQ1->y + k2 * pQ2->y, k1 * pQ1->z + k2 * pQ2->z,
                           k1 * pQ1->w + k2 * pQ2->w);
    return pOut;
}
