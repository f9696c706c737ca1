// Matrix construction, products, inversion and the camera and projection matrices.
#include "platform/d3dx9/d3dx9math.h"

#include <cmath>

namespace
{

void SetRows(D3DXMATRIX* pOut, float f11, float f12, float f13, float f14, float f21, float f22, float f23,
             float f24, float f31, float f32, float f33, float f34, float f41, float f42, float f43,
             float f44)
{
    pOut->_11 = f11;
    pOut->_12 = f12;
    pOut->_13 = f13;
    pOut->_14 = f14;
    pOut->_21 = f21;
    pOut->_22 = f22;
    pOut->_23 = f23;
    pOut->_24 = f24;
    pOut->_31 = f31;
    pOut->_32 = f32;
    pOut->_33 = f33;
    pOut->_34 = f34;
    pOut->_41 = f41;
    pOut->_42 = f42;
    pOut->_43 = f43;
    pOut->_44 = f44;
}

// 2x2 minors of the top and bottom row pairs, shared by the determinant and the inverse.
struct Minors
{
    float s[6];
    float c[6];
    float det;
};

Minors ComputeMinors(const D3DXMATRIX& mat)
{
    const auto& a = mat.m;
    Minors r;
    r.s[0] = a[0][0] * a[1][1] - a[1][0] * a[0][1];
    r.s[1] = a[0][0] * a[1][2] - a[1][0] * a[0][2];
    r.s[2] = a[0][0] * a[1][3] - a[1][0] * a[0][3];
    r.s[3] = a[0][1] * a[1][2] - a[1][1] * a[0][2];
    r.s[4] = a[0][1] * a[1][3] - a[1][1] * a[0][3];
    r.s[5] = a[0][2] * a[1][3] - a[1][2] * a[0][3];
    r.c[5] = a[2][2] * a[3][3] - a[3][2] * a[2][3];
    r.c[4] = a[2][1] * a[3][3] - a[3][1] * a[2][3];
    r.c[3] = a[2][1] * a[3][2] - a[3][1] * a[2][2];
    r.c[2] = a[2][0] * a[3][3] - a[3][0] * a[2][3];
    r.c[1] = a[2][0] * a[3][2] - a[3][0] * a[2][2];
    r.c[0] = a[2][0] * a[3][1] - a[3][0] * a[2][1];
    r.det = r.s[0] * r.c[5] - r.s[1] * r.c[4] + r.s[2] * r.c[3] + r.s[3] * r.c[2] - r.s[4] * r.c[1] +
            r.s[5] * r.c[0];
    return r;
}

} // namespace

//----------------------------------------------------------------------------------------------------------
// D3DXMATRIX members

D3DXMATRIX::D3DXMATRIX(const float* f)
{
    for (int i = 0; i < 16; ++i)
        m[i / 4][i % 4] = f[i];
}

D3DXMATRIX::D3DXMATRIX(float f11, float f12, float f13, float f14, float f21, float f22, float f23, float f24,
                       float f31, float f32, float f33, float f34, float f41, float f42, float f43, float f44)
{
    SetRows(this, f11, f12, f13, f14, f21, f22, f23, f24, f31, f32, f33, f34, f41, f42, f43, f44);
}

D3DXMATRIX& D3DXMATRIX::operator*=(const D3DXMATRIX& mat)
{
    D3DXMatrixMultiply(this, this, &mat);
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator+=(const D3DXMATRIX& mat)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] += mat.m[i][j];
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator-=(const D3DXMATRIX& mat)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] -= mat.m[i][j];
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator*=(float f)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m[i][j] *= f;
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator/=(float f)
{
    return *this *= 1.0f / f;
}

D3DXMATRIX D3DXMATRIX::operator-() const
{
    return *this * -1.0f;
}

D3DXMATRIX D3DXMATRIX::operator*(const D3DXMATRIX& mat) const
{
    D3DXMATRIX r;
    D3DXMatrixMultiply(&r, this, &mat);
    return r;
}

D3DXMATRIX D3DXMATRIX::operator+(const D3DXMATRIX& mat) const
{
    D3DXMATRIX r(*this);
    return r += mat;
}

D3DXMATRIX D3DXMATRIX::operator-(const D3DXMATRIX& mat) const
{
    D3DXMATRIX r(*this);
    return r -= mat;
}

D3DXMATRIX D3DXMATRIX::operator*(float f) const
{
    D3DXMATRIX r(*this);
    return r *= f;
}

D3DXMATRIX D3DXMATRIX::operator/(float f) const
{
    D3DXMATRIX r(*this);
    return r /= f;
}

bool D3DXMATRIX::operator==(const D3DXMATRIX& mat) const
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (m[i][j] != mat.m[i][j]) return false;
    return true;
}

//----------------------------------------------------------------------------------------------------------
// Products, inverse

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* pOut)
{
    SetRows(pOut, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    return pOut;
}

BOOL D3DXMatrixIsIdentity(const D3DXMATRIX* pM)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (pM->m[i][j] != (i == j ? 1.0f : 0.0f)) return FALSE;
    return TRUE;
}

FLOAT D3DXMatrixDeterminant(const D3DXMATRIX* pM)
{
    return ComputeMinors(*pM).det;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* pOut, const D3DXMATRIX* pM1, const D3DXMATRIX* pM2)
{
    const auto& a = pM1->m;
    const auto& b = pM2->m;
    D3DXMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j] + a[i][3] * b[3][j];
    *pOut = r;
    return pOut;
}

D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM)
{
    D3DXMATRIX r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.m[i][j] = pM->m[j][i];
    *pOut = r;
    return pOut;
}

D3DXMATRIX* D3DXMatrixMultiplyTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM1, const D3DXMATRIX* pM2)
{
    D3DXMATRIX r;
    D3DXMatrixMultiply(&r, pM1, pM2);
    return D3DXMatrixTranspose(pOut, &r);
}

D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* pOut, FLOAT* pDeterminant, const D3DXMATRIX* pM)
{
    const auto& a = pM->m;
    const Minors mn = ComputeMinors(*pM);
    if (pDeterminant) *pDeterminant = mn.det;
    if (mn.det == 0.0f || !std::isfinite(mn.det)) return nullptr;

    const float* s = mn.s;
    const float* c = mn.c;
    const float inv = 1.0f / mn.det;
    D3DXMATRIX r;
    r.m[0][0] = (a[1][1] * c[5] - a[1][2] * c[4] + a[1][3] * c[3]) * inv;
    r.m[0][1] = (-a[0][1] * c[5] + a[0][2] * c[4] - a[0][3] * c[3]) * inv;
    r.m[0][2] = (a[3][1] * s[5] - a[3][2] * s[4] + a[3][3] * s[3]) * inv;
    r.m[0][3] = (-a[2][1] * s[5] + a[2][2] * s[4] - a[2][3] * s[3]) * inv;
    r.m[1][0] = (-a[1][0] * c[5] + a[1][2] * c[2] - a[1][3] * c[1]) * inv;
    r.m[1][1] = (a[0][0] * c[5] - a[0][2] * c[2] + a[0][3] * c[1]) * inv;
    r.m[1][2] = (-a[3][0] * s[5] + a[3][2] * s[2] - a[3][3] * s[1]) * inv;
    r.m[1][3] = (a[2][0] * s[5] - a[2][2] * s[2] + a[2][3] * s[1]) * inv;
    r.m[2][0] = (a[1][0] * c[4] - a[1][1] * c[2] + a[1][3] * c[0]) * inv;
    r.m[2][1] = (-a[0][0] * c[4] + a[0][1] * c[2] - a[0][3] * c[0]) * inv;
    r.m[2][2] = (a[3][0] * s[4] - a[3][1] * s[2] + a[3][3] * s[0]) * inv;
    r.m[2][3] = (-a[2][0] * s[4] + a[2][1] * s[2] - a[2][3] * s[0]) * inv;
    r.m[3][0] = (-a[1][0] * c[3] + a[1][1] * c[1] - a[1][2] * c[0]) * inv;
    r.m[3][1] = (a[0][0] * c[3] - a[0][1] * c[1] + a[0][2] * c[0]) * inv;
    r.m[3][2] = (-a[3][0] * s[3] + a[3][1] * s[1] - a[3][2] * s[0]) * inv;
    r.m[3][3] = (a[2][0] * s[3] - a[2][1] * s[1] + a[2][2] * s[0]) * inv;
    *pOut = r;
    return pOut;
}

//----------------------------------------------------------------------------------------------------------
// Affine transforms

D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* pOut, FLOAT sx, FLOAT sy, FLOAT sz)
{
    SetRows(pOut, sx, 0, 0, 0, 0, sy, 0, 0, 0, 0, sz, 0, 0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* pOut, FLOAT x, FLOAT y, FLOAT z)
{
    SetRows(pOut, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* pOut, FLOAT angle)
{
    const float c = std::cos(angle), s = std::sin(angle);
    SetRows(pOut, 1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* pOut, FLOAT angle)
{
    const float c = std::cos(angle), s = std::sin(angle);
    SetRows(pOut, c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* pOut, FLOAT angle)
{
    const float c = std::cos(angle), s = std::sin(angle);
    SetRows(pOut, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixRotationAxis(D3DXMATRIX* pOut, const D3DXVECTOR3* pV, FLOAT angle)
{
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, pV);
    if (n.x == 0.0f && n.y == 0.0f && n.z == 0.0f) return D3DXMatrixIdentity(pOut);
    const float c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
    SetRows(pOut, t * n.x * n.x + c, t * n.x * n.y + s * n.z, t * n.x * n.z - s * n.y, 0, //
            t * n.x * n.y - s * n.z, t * n.y * n.y + c, t * n.y * n.z + s * n.x, 0,       //
            t * n.x * n.z + s * n.y, t * n.y * n.z - s * n.x, t * n.z * n.z + c, 0,       //
            0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* pOut, const D3DXQUATERNION* pQ)
{
    const float x = pQ->x, y = pQ->y, z = pQ->z, w = pQ->w;
    SetRows(pOut, 1.0f - 2.0f * (y * y + z * z), 2.0f * (x * y + z * w), 2.0f * (x * z - y * w), 0, //
            2.0f * (x * y - z * w), 1.0f - 2.0f * (x * x + z * z), 2.0f * (y * z + x * w), 0,       //
            2.0f * (x * z + y * w), 2.0f * (y * z - x * w), 1.0f - 2.0f * (x * x + y * y), 0,       //
            0, 0, 0, 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* pOut, FLOAT yaw, FLOAT pitch, FLOAT roll)
{
    D3DXMATRIX rz, rx, ry;
    D3DXMatrixRotationZ(&rz, roll);
    D3DXMatrixRotationX(&rx, pitch);
    D3DXMatrixRotationY(&ry, yaw);
    D3DXMatrixMultiply(pOut, &rz, &rx);
    return D3DXMatrixMultiply(pOut, pOut, &ry);
}

D3DXMATRIX* D3DXMatrixShadow(D3DXMATRIX* pOut, const D3DXVECTOR4* pLight, const D3DXPLANE* pPlane)
{
    // d * I - P^T L: a point p goes to d * p - (p . P) L, which lies on the plane P.
    D3DXPLANE p;
    D3DXPlaneNormalize(&p, pPlane);
    const float d = D3DXPlaneDot(&p, pLight);
    const float pl[4] = {p.a, p.b, p.c, p.d};
    const float l[4] = {pLight->x, pLight->y, pLight->z, pLight->w};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            pOut->m[i][j] = (i == j ? d : 0.0f) - pl[i] * l[j];
    return pOut;
}

D3DXMATRIX* D3DXMatrixReflect(D3DXMATRIX* pOut, const D3DXPLANE* pPlane)
{
    D3DXPLANE p;
    D3DXPlaneNormalize(&p, pPlane);
    SetRows(pOut, 1.0f - 2.0f * p.a * p.a, -2.0f * p.b * p.a, -2.0f * p.c * p.a, 0, //
            -2.0f * p.a * p.b, 1.0f - 2.0f * p.b * p.b, -2.0f * p.c * p.b, 0,       //
            -2.0f * p.a * p.c, -2.0f * p.b * p.c, 1.0f - 2.0f * p.c * p.c, 0,       //
            -2.0f * p.a * p.d, -2.0f * p.b * p.d, -2.0f * p.c * p.d, 1);
    return pOut;
}

//----------------------------------------------------------------------------------------------------------
// Cameras and projections

namespace
{

// zaxis points from the scene toward the viewer for RH and away from it for LH.
D3DXMATRIX* LookAt(D3DXMATRIX* pOut, const D3DXVECTOR3& eye, const D3DXVECTOR3& zdir, const D3DXVECTOR3& up)
{
    D3DXVECTOR3 zaxis, xaxis, yaxis;
    D3DXVec3Normalize(&zaxis, &zdir);
    D3DXVec3Cross(&xaxis, &up, &zaxis);
    D3DXVec3Normalize(&xaxis, &xaxis);
    D3DXVec3Cross(&yaxis, &zaxis, &xaxis);
    SetRows(pOut, xaxis.x, yaxis.x, zaxis.x, 0, //
            xaxis.y, yaxis.y, zaxis.y, 0,       //
            xaxis.z, yaxis.z, zaxis.z, 0,       //
            -D3DXVec3Dot(&xaxis, &eye), -D3DXVec3Dot(&yaxis, &eye), -D3DXVec3Dot(&zaxis, &eye), 1);
    return pOut;
}

} // namespace

D3DXMATRIX* D3DXMatrixLookAtRH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye, const D3DXVECTOR3* pAt,
                               const D3DXVECTOR3* pUp)
{
    return LookAt(pOut, *pEye, *pEye - *pAt, *pUp);
}

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye, const D3DXVECTOR3* pAt,
                               const D3DXVECTOR3* pUp)
{
    return LookAt(pOut, *pEye, *pAt - *pEye, *pUp);
}

D3DXMATRIX* D3DXMatrixPerspectiveRH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf)
{
    SetRows(pOut, 2.0f * zn / w, 0, 0, 0, 0, 2.0f * zn / h, 0, 0, 0, 0, zf / (zn - zf), -1, 0, 0,
            zn * zf / (zn - zf), 0);
    return pOut;
}

D3DXMATRIX* D3DXMatrixPerspectiveLH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf)
{
    SetRows(pOut, 2.0f * zn / w, 0, 0, 0, 0, 2.0f * zn / h, 0, 0, 0, 0, zf / (zf - zn), 1, 0, 0,
            zn * zf / (zn - zf), 0);
    return pOut;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovRH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT aspect, FLOAT zn, FLOAT zf)
{
    const float yscale = 1.0f / std::tan(fovy / 2.0f);
    const float xscale = yscale / aspect;
    SetRows(pOut, xscale, 0, 0, 0, 0, yscale, 0, 0, 0, 0, zf / (zn - zf), -1, 0, 0, zn * zf / (zn - zf), 0);
    return pOut;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT aspect, FLOAT zn, FLOAT zf)
{
    const float yscale = 1.0f / std::tan(fovy / 2.0f);
    const float xscale = yscale / aspect;
    SetRows(pOut, xscale, 0, 0, 0, 0, yscale, 0, 0, 0, 0, zf / (zf - zn), 1, 0, 0, zn * zf / (zn - zf), 0);
    return pOut;
}

D3DXMATRIX* D3DXMatrixPerspectiveOffCenterRH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t, FLOAT zn,
                                             FLOAT zf)
{
    SetRows(pOut, 2.0f * zn / (r - l), 0, 0, 0,                       //
            0, 2.0f * zn / (t - b), 0, 0,                             //
            (l + r) / (r - l), (t + b) / (t - b), zf / (zn - zf), -1, //
            0, 0, zn * zf / (zn - zf), 0);
    return pOut;
}

D3DXMATRIX* D3DXMatrixPerspectiveOffCenterLH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t, FLOAT zn,
                                             FLOAT zf)
{
    SetRows(pOut, 2.0f * zn / (r - l), 0, 0, 0,                      //
            0, 2.0f * zn / (t - b), 0, 0,                            //
            (l + r) / (l - r), (t + b) / (b - t), zf / (zf - zn), 1, //
            0, 0, zn * zf / (zn - zf), 0);
    return pOut;
}

D3DXMATRIX* D3DXMatrixOrthoRH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf)
{
    SetRows(pOut, 2.0f / w, 0, 0, 0, 0, 2.0f / h, 0, 0, 0, 0, 1.0f / (zn - zf), 0, 0, 0, zn / (zn - zf), 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixOrthoLH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf)
{
    SetRows(pOut, 2.0f / w, 0, 0, 0, 0, 2.0f / h, 0, 0, 0, 0, 1.0f / (zf - zn), 0, 0, 0, zn / (zn - zf), 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixOrthoOffCenterRH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t, FLOAT zn,
                                       FLOAT zf)
{
    SetRows(pOut, 2.0f / (r - l), 0, 0, 0, //
            0, 2.0f / (t - b), 0, 0,       //
            0, 0, 1.0f / (zn - zf), 0,     //
            (l + r) / (l - r), (t + b) / (b - t), zn / (zn - zf), 1);
    return pOut;
}

D3DXMATRIX* D3DXMatrixOrthoOffCenterLH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t, FLOAT zn,
                                       FLOAT zf)
{
    SetRows(pOut, 2.0f / (r - l), 0, 0, 0, //
            0, 2.0f / (t - b), 0, 0,       //
            0, 0, 1.0f / (zf - zn), 0,     //
            (l + r) / (l - r), (t + b) / (b - t), zn / (zn - zf), 1);
    return pOut;
}
