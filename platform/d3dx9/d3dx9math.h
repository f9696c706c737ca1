#pragma once
// D3DX 9 maths: vectors, matrices, quaternions, planes and colours.
// Row-vector convention (v' = v * M, translation in the fourth row); every function takes its output
// pointer first and returns it, so calls can be nested. All arithmetic is single precision and does not
// depend on FMA contraction, so results are the same on every build.
#include "platform/d3d9/d3d9types_math.h"
#include "platform/win32/winerror.h"

#include <cmath>
#include <cstddef>
#include <new>

#define D3DX_PI (3.141592654f)
#define D3DX_1BYPI (0.318309886f)
#define D3DXToRadian(degree) ((degree) * (D3DX_PI / 180.0f))
#define D3DXToDegree(radian) ((radian) * (180.0f / D3DX_PI))

struct D3DXMATRIX;
struct D3DXQUATERNION;

//----------------------------------------------------------------------------------------------------------
// Vectors

struct D3DXVECTOR2
{
    float x;
    float y;

    D3DXVECTOR2() = default;
    explicit D3DXVECTOR2(const float* f) : x(f[0]), y(f[1]) {}
    D3DXVECTOR2(float fx, float fy) : x(fx), y(fy) {}

    operator float*() { return &x; }
    operator const float*() const { return &x; }

    D3DXVECTOR2& operator+=(const D3DXVECTOR2& v)
    {
        x += v.x;
        y += v.y;
        return *this;
    }
    D3DXVECTOR2& operator-=(const D3DXVECTOR2& v)
    {
        x -= v.x;
        y -= v.y;
        return *this;
    }
    D3DXVECTOR2& operator*=(float f)
    {
        x *= f;
        y *= f;
        return *this;
    }
    D3DXVECTOR2& operator/=(float f)
    {
        float inv = 1.0f / f;
        x *= inv;
        y *= inv;
        return *this;
    }

    D3DXVECTOR2 operator+() const { return *this; }
    D3DXVECTOR2 operator-() const { return D3DXVECTOR2(-x, -y); }
    D3DXVECTOR2 operator+(const D3DXVECTOR2& v) const { return D3DXVECTOR2(x + v.x, y + v.y); }
    D3DXVECTOR2 operator-(const D3DXVECTOR2& v) const { return D3DXVECTOR2(x - v.x, y - v.y); }
    D3DXVECTOR2 operator*(float f) const { return D3DXVECTOR2(x * f, y * f); }
    D3DXVECTOR2 operator/(float f) const
    {
        float inv = 1.0f / f;
        return D3DXVECTOR2(x * inv, y * inv);
    }
    friend D3DXVECTOR2 operator*(float f, const D3DXVECTOR2& v) { return D3DXVECTOR2(f * v.x, f * v.y); }

    bool operator==(const D3DXVECTOR2& v) const { return x == v.x && y == v.y; }
    bool operator!=(const D3DXVECTOR2& v) const { return !(*this == v); }
};

struct D3DXVECTOR3 : public D3DVECTOR
{
    D3DXVECTOR3() = default;
    explicit D3DXVECTOR3(const float* f) : D3DVECTOR{f[0], f[1], f[2]} {}
    D3DXVECTOR3(const D3DVECTOR& v) : D3DVECTOR(v) {}
    D3DXVECTOR3(float fx, float fy, float fz) : D3DVECTOR{fx, fy, fz} {}

    operator float*() { return &x; }
    operator const float*() const { return &x; }

    D3DXVECTOR3& operator+=(const D3DXVECTOR3& v)
    {
        x += v.x;
        y += v.y;
        z += v.z;
        return *this;
    }
    D3DXVECTOR3& operator-=(const D3DXVECTOR3& v)
    {
        x -= v.x;
        y -= v.y;
        z -= v.z;
        return *this;
    }
    D3DXVECTOR3& operator*=(float f)
    {
        x *= f;
        y *= f;
        z *= f;
        return *this;
    }
    D3DXVECTOR3& operator/=(float f)
    {
        float inv = 1.0f / f;
        x *= inv;
        y *= inv;
        z *= inv;
        return *this;
    }

    D3DXVECTOR3 operator+() const { return *this; }
    D3DXVECTOR3 operator-() const { return D3DXVECTOR3(-x, -y, -z); }
    D3DXVECTOR3 operator+(const D3DXVECTOR3& v) const { return D3DXVECTOR3(x + v.x, y + v.y, z + v.z); }
    D3DXVECTOR3 operator-(const D3DXVECTOR3& v) const { return D3DXVECTOR3(x - v.x, y - v.y, z - v.z); }
    D3DXVECTOR3 operator*(float f) const { return D3DXVECTOR3(x * f, y * f, z * f); }
    D3DXVECTOR3 operator/(float f) const
    {
        float inv = 1.0f / f;
        return D3DXVECTOR3(x * inv, y * inv, z * inv);
    }
    friend D3DXVECTOR3 operator*(float f, const D3DXVECTOR3& v)
    {
        return D3DXVECTOR3(f * v.x, f * v.y, f * v.z);
    }

    bool operator==(const D3DXVECTOR3& v) const { return x == v.x && y == v.y && z == v.z; }
    bool operator!=(const D3DXVECTOR3& v) const { return !(*this == v); }
};

struct D3DXVECTOR4
{
    float x;
    float y;
    float z;
    float w;

    D3DXVECTOR4() = default;
    explicit D3DXVECTOR4(const float* f) : x(f[0]), y(f[1]), z(f[2]), w(f[3]) {}
    D3DXVECTOR4(const D3DVECTOR& v, float fw) : x(v.x), y(v.y), z(v.z), w(fw) {}
    D3DXVECTOR4(float fx, float fy, float fz, float fw) : x(fx), y(fy), z(fz), w(fw) {}

    operator float*() { return &x; }
    operator const float*() const { return &x; }

    D3DXVECTOR4& operator+=(const D3DXVECTOR4& v)
    {
        x += v.x;
        y += v.y;
        z += v.z;
        w += v.w;
        return *this;
    }
    D3DXVECTOR4& operator-=(const D3DXVECTOR4& v)
    {
        x -= v.x;
        y -= v.y;
        z -= v.z;
        w -= v.w;
        return *this;
    }
    D3DXVECTOR4& operator*=(float f)
    {
        x *= f;
        y *= f;
        z *= f;
        w *= f;
        return *this;
    }
    D3DXVECTOR4& operator/=(float f)
    {
        float inv = 1.0f / f;
        x *= inv;
        y *= inv;
        z *= inv;
        w *= inv;
        return *this;
    }

    D3DXVECTOR4 operator+() const { return *this; }
    D3DXVECTOR4 operator-() const { return D3DXVECTOR4(-x, -y, -z, -w); }
    D3DXVECTOR4 operator+(const D3DXVECTOR4& v) const
    {
        return D3DXVECTOR4(x + v.x, y + v.y, z + v.z, w + v.w);
    }
    D3DXVECTOR4 operator-(const D3DXVECTOR4& v) const
    {
        return D3DXVECTOR4(x - v.x, y - v.y, z - v.z, w - v.w);
    }
    D3DXVECTOR4 operator*(float f) const { return D3DXVECTOR4(x * f, y * f, z * f, w * f); }
    D3DXVECTOR4 operator/(float f) const
    {
        float inv = 1.0f / f;
        return D3DXVECTOR4(x * inv, y * inv, z * inv, w * inv);
    }
    friend D3DXVECTOR4 operator*(float f, const D3DXVECTOR4& v)
    {
        return D3DXVECTOR4(f * v.x, f * v.y, f * v.z, f * v.w);
    }

    bool operator==(const D3DXVECTOR4& v) const { return x == v.x && y == v.y && z == v.z && w == v.w; }
    bool operator!=(const D3DXVECTOR4& v) const { return !(*this == v); }
};

//----------------------------------------------------------------------------------------------------------
// Matrices

struct D3DXMATRIX : public D3DMATRIX
{
    D3DXMATRIX() = default;
    explicit D3DXMATRIX(const float* f);
    D3DXMATRIX(const D3DMATRIX& mat) : D3DMATRIX(mat) {}
    D3DXMATRIX(float f11, float f12, float f13, float f14, float f21, float f22, float f23, float f24,
               float f31, float f32, float f33, float f34, float f41, float f42, float f43, float f44);

    float& operator()(UINT row, UINT col) { return m[row][col]; }
    float operator()(UINT row, UINT col) const { return m[row][col]; }

    operator float*() { return &_11; }
    operator const float*() const { return &_11; }

    D3DXMATRIX& operator*=(const D3DXMATRIX& mat);
    D3DXMATRIX& operator+=(const D3DXMATRIX& mat);
    D3DXMATRIX& operator-=(const D3DXMATRIX& mat);
    D3DXMATRIX& operator*=(float f);
    D3DXMATRIX& operator/=(float f);

    D3DXMATRIX operator+() const { return *this; }
    D3DXMATRIX operator-() const;
    D3DXMATRIX operator*(const D3DXMATRIX& mat) const;
    D3DXMATRIX operator+(const D3DXMATRIX& mat) const;
    D3DXMATRIX operator-(const D3DXMATRIX& mat) const;
    D3DXMATRIX operator*(float f) const;
    D3DXMATRIX operator/(float f) const;
    friend D3DXMATRIX operator*(float f, const D3DXMATRIX& mat) { return mat * f; }

    bool operator==(const D3DXMATRIX& mat) const;
    bool operator!=(const D3DXMATRIX& mat) const { return !(*this == mat); }
};

// A matrix kept on a 16-byte boundary, on the stack and on the heap alike, for code that loads it with
// aligned vector instructions.
struct alignas(16) D3DXMATRIXA16 : public D3DXMATRIX
{
    D3DXMATRIXA16() = default;
    explicit D3DXMATRIXA16(const float* f) : D3DXMATRIX(f) {}
    D3DXMATRIXA16(const D3DMATRIX& mat) : D3DXMATRIX(mat) {}
    D3DXMATRIXA16(float f11, float f12, float f13, float f14, float f21, float f22, float f23, float f24,
                  float f31, float f32, float f33, float f34, float f41, float f42, float f43, float f44)
        : D3DXMATRIX(f11, f12, f13, f14, f21, f22, f23, f24, f31, f32, f33, f34, f41, f42, f43, f44)
    {
    }

    static void* operator new(std::size_t size) { return ::operator new(size, std::align_val_t(16)); }
    static void* operator new[](std::size_t size) { return ::operator new[](size, std::align_val_t(16)); }
    static void operator delete(void* p) noexcept { ::operator delete(p, std::align_val_t(16)); }
    static void operator delete[](void* p) noexcept { ::operator delete[](p, std::align_val_t(16)); }

    D3DXMATRIXA16& operator=(const D3DXMATRIX& mat)
    {
        D3DXMATRIX::operator=(mat);
        return *this;
    }
};

static_assert(sizeof(D3DXMATRIX) == 64 && sizeof(D3DXMATRIXA16) == 64 && alignof(D3DXMATRIXA16) == 16);

//----------------------------------------------------------------------------------------------------------
// Quaternions, planes, colours

struct D3DXQUATERNION
{
    float x;
    float y;
    float z;
    float w;

    D3DXQUATERNION() = default;
    explicit D3DXQUATERNION(const float* f) : x(f[0]), y(f[1]), z(f[2]), w(f[3]) {}
    D3DXQUATERNION(float fx, float fy, float fz, float fw) : x(fx), y(fy), z(fz), w(fw) {}

    operator float*() { return &x; }
    operator const float*() const { return &x; }

    D3DXQUATERNION& operator+=(const D3DXQUATERNION& q)
    {
        x += q.x;
        y += q.y;
        z += q.z;
        w += q.w;
        return *this;
    }
    D3DXQUATERNION& operator-=(const D3DXQUATERNION& q)
    {
        x -= q.x;
        y -= q.y;
        z -= q.z;
        w -= q.w;
        return *this;
    }
    // Composes like D3DXQuaternionMultiply(this, this, q): this rotation, then q.
    D3DXQUATERNION& operator*=(const D3DXQUATERNION& q);
    D3DXQUATERNION& operator*=(float f)
    {
        x *= f;
        y *= f;
        z *= f;
        w *= f;
        return *this;
    }
    D3DXQUATERNION& operator/=(float f)
    {
        float inv = 1.0f / f;
        x *= inv;
        y *= inv;
        z *= inv;
        w *= inv;
        return *this;
    }

    D3DXQUATERNION operator+() const { return *this; }
    D3DXQUATERNION operator-() const { return D3DXQUATERNION(-x, -y, -z, -w); }
    D3DXQUATERNION operator+(const D3DXQUATERNION& q) const
    {
        return D3DXQUATERNION(x + q.x, y + q.y, z + q.z, w + q.w);
    }
    D3DXQUATERNION operator-(const D3DXQUATERNION& q) const
    {
        return D3DXQUATERNION(x - q.x, y - q.y, z - q.z, w - q.w);
    }
    D3DXQUATERNION operator*(const D3DXQUATERNION& q) const;
    D3DXQUATERNION operator*(float f) const { return D3DXQUATERNION(x * f, y * f, z * f, w * f); }
    D3DXQUATERNION operator/(float f) const
    {
        float inv = 1.0f / f;
        return D3DXQUATERNION(x * inv, y * inv, z * inv, w * inv);
    }
    friend D3DXQUATERNION operator*(float f, const D3DXQUATERNION& q)
    {
        return D3DXQUATERNION(f * q.x, f * q.y, f * q.z, f * q.w);
    }

    bool operator==(const D3DXQUATERNION& q) const { return x == q.x && y == q.y && z == q.z && w == q.w; }
    bool operator!=(const D3DXQUATERNION& q) const { return !(*this == q); }
};

// The plane a*x + b*y + c*z + d = 0; (a, b, c) is its normal.
struct D3DXPLANE
{
    float a;
    float b;
    float c;
    float d;

    D3DXPLANE() = default;
    explicit D3DXPLANE(const float* f) : a(f[0]), b(f[1]), c(f[2]), d(f[3]) {}
    D3DXPLANE(float fa, float fb, float fc, float fd) : a(fa), b(fb), c(fc), d(fd) {}

    operator float*() { return &a; }
    operator const float*() const { return &a; }

    D3DXPLANE& operator*=(float f)
    {
        a *= f;
        b *= f;
        c *= f;
        d *= f;
        return *this;
    }
    D3DXPLANE& operator/=(float f)
    {
        float inv = 1.0f / f;
        a *= inv;
        b *= inv;
        c *= inv;
        d *= inv;
        return *this;
    }

    D3DXPLANE operator+() const { return *this; }
    D3DXPLANE operator-() const { return D3DXPLANE(-a, -b, -c, -d); }
    D3DXPLANE operator*(float f) const { return D3DXPLANE(a * f, b * f, c * f, d * f); }
    D3DXPLANE operator/(float f) const
    {
        float inv = 1.0f / f;
        return D3DXPLANE(a * inv, b * inv, c * inv, d * inv);
    }
    friend D3DXPLANE operator*(float f, const D3DXPLANE& p)
    {
        return D3DXPLANE(f * p.a, f * p.b, f * p.c, f * p.d);
    }

    bool operator==(const D3DXPLANE& p) const { return a == p.a && b == p.b && c == p.c && d == p.d; }
    bool operator!=(const D3DXPLANE& p) const { return !(*this == p); }
};

// A colour with float channels, usually 0..1 but free to go outside while lighting is summed.
struct D3DXCOLOR
{
    float r;
    float g;
    float b;
    float a;

    D3DXCOLOR() = default;
    D3DXCOLOR(DWORD argb)
        : r(static_cast<float>((argb >> 16) & 0xFF) * (1.0f / 255.0f)),
          g(static_cast<float>((argb >> 8) & 0xFF) * (1.0f / 255.0f)),
          b(static_cast<float>(argb & 0xFF) * (1.0f / 255.0f)),
          a(static_cast<float>((argb >> 24) & 0xFF) * (1.0f / 255.0f))
    {
    }
    explicit D3DXCOLOR(const float* f) : r(f[0]), g(f[1]), b(f[2]), a(f[3]) {}
    D3DXCOLOR(const D3DCOLORVALUE& c) : r(c.r), g(c.g), b(c.b), a(c.a) {}
    D3DXCOLOR(float fr, float fg, float fb, float fa) : r(fr), g(fg), b(fb), a(fa) {}

    // Packs to ARGB: each channel clamped to 0..1 (NaN counts as 0) and rounded to the nearest step.
    operator DWORD() const;

    operator float*() { return &r; }
    operator const float*() const { return &r; }
    operator D3DCOLORVALUE*() { return reinterpret_cast<D3DCOLORVALUE*>(&r); }
    operator const D3DCOLORVALUE*() const { return reinterpret_cast<const D3DCOLORVALUE*>(&r); }
    operator D3DCOLORVALUE&() { return *reinterpret_cast<D3DCOLORVALUE*>(&r); }
    operator const D3DCOLORVALUE&() const { return *reinterpret_cast<const D3DCOLORVALUE*>(&r); }

    D3DXCOLOR& operator+=(const D3DXCOLOR& c)
    {
        r += c.r;
        g += c.g;
        b += c.b;
        a += c.a;
        return *this;
    }
    D3DXCOLOR& operator-=(const D3DXCOLOR& c)
    {
        r -= c.r;
        g -= c.g;
        b -= c.b;
        a -= c.a;
        return *this;
    }
    D3DXCOLOR& operator*=(float f)
    {
        r *= f;
        g *= f;
        b *= f;
        a *= f;
        return *this;
    }
    D3DXCOLOR& operator/=(float f)
    {
        float inv = 1.0f / f;
        r *= inv;
        g *= inv;
        b *= inv;
        a *= inv;
        return *this;
    }

    D3DXCOLOR operator+() const { return *this; }
    D3DXCOLOR operator-() const { return D3DXCOLOR(-r, -g, -b, -a); }
    D3DXCOLOR operator+(const D3DXCOLOR& c) const { return D3DXCOLOR(r + c.r, g + c.g, b + c.b, a + c.a); }
    D3DXCOLOR operator-(const D3DXCOLOR& c) const { return D3DXCOLOR(r - c.r, g - c.g, b - c.b, a - c.a); }
    D3DXCOLOR operator*(float f) const { return D3DXCOLOR(r * f, g * f, b * f, a * f); }
    D3DXCOLOR operator/(float f) const
    {
        float inv = 1.0f / f;
        return D3DXCOLOR(r * inv, g * inv, b * inv, a * inv);
    }
    friend D3DXCOLOR operator*(float f, const D3DXCOLOR& c)
    {
        return D3DXCOLOR(f * c.r, f * c.g, f * c.b, f * c.a);
    }

    bool operator==(const D3DXCOLOR& c) const { return r == c.r && g == c.g && b == c.b && a == c.a; }
    bool operator!=(const D3DXCOLOR& c) const { return !(*this == c); }
};

static_assert(sizeof(D3DXVECTOR2) == 8 && sizeof(D3DXVECTOR3) == 12 && sizeof(D3DXVECTOR4) == 16);
static_assert(sizeof(D3DXQUATERNION) == 16 && sizeof(D3DXPLANE) == 16 && sizeof(D3DXCOLOR) == 16);

//----------------------------------------------------------------------------------------------------------
// 2D vectors

inline FLOAT D3DXVec2Length(const D3DXVECTOR2* pV)
{
    return std::sqrt(pV->x * pV->x + pV->y * pV->y);
}
inline FLOAT D3DXVec2LengthSq(const D3DXVECTOR2* pV)
{
    return pV->x * pV->x + pV->y * pV->y;
}
inline FLOAT D3DXVec2Dot(const D3DXVECTOR2* pV1, const D3DXVECTOR2* pV2)
{
    return pV1->x * pV2->x + pV1->y * pV2->y;
}
// The z component of the 3D cross product: positive when V2 lies counter-clockwise of V1.
inline FLOAT D3DXVec2CCW(const D3DXVECTOR2* pV1, const D3DXVECTOR2* pV2)
{
    return pV1->x * pV2->y - pV1->y * pV2->x;
}
inline D3DXVECTOR2* D3DXVec2Add(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV1, const D3DXVECTOR2* pV2)
{
    *pOut = D3DXVECTOR2(pV1->x + pV2->x, pV1->y + pV2->y);
    return pOut;
}
inline D3DXVECTOR2* D3DXVec2Subtract(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV1, const D3DXVECTOR2* pV2)
{
    *pOut = D3DXVECTOR2(pV1->x - pV2->x, pV1->y - pV2->y);
    return pOut;
}
inline D3DXVECTOR2* D3DXVec2Minimize(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV1, const D3DXVECTOR2* pV2)
{
    *pOut = D3DXVECTOR2(pV1->x < pV2->x ? pV1->x : pV2->x, pV1->y < pV2->y ? pV1->y : pV2->y);
    return pOut;
}
inline D3DXVECTOR2* D3DXVec2Maximize(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV1, const D3DXVECTOR2* pV2)
{
    *pOut = D3DXVECTOR2(pV1->x > pV2->x ? pV1->x : pV2->x, pV1->y > pV2->y ? pV1->y : pV2->y);
    return pOut;
}
inline D3DXVECTOR2* D3DXVec2Scale(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV, FLOAT s)
{
    *pOut = D3DXVECTOR2(pV->x * s, pV->y * s);
    return pOut;
}
inline D3DXVECTOR2* D3DXVec2Lerp(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV1, const D3DXVECTOR2* pV2, FLOAT s)
{
    *pOut = D3DXVECTOR2(pV1->x + s * (pV2->x - pV1->x), pV1->y + s * (pV2->y - pV1->y));
    return pOut;
}
// A zero vector normalises to zero.
D3DXVECTOR2* D3DXVec2Normalize(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV);
// (x, y, 0, 1) * M.
D3DXVECTOR4* D3DXVec2Transform(D3DXVECTOR4* pOut, const D3DXVECTOR2* pV, const D3DXMATRIX* pM);
// (x, y, 0, 1) * M, divided by the resulting w.
D3DXVECTOR2* D3DXVec2TransformCoord(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV, const D3DXMATRIX* pM);
// (x, y, 0, 0) * M: no translation.
D3DXVECTOR2* D3DXVec2TransformNormal(D3DXVECTOR2* pOut, const D3DXVECTOR2* pV, const D3DXMATRIX* pM);

//----------------------------------------------------------------------------------------------------------
// 3D vectors

inline FLOAT D3DXVec3Length(const D3DXVECTOR3* pV)
{
    return std::sqrt(pV->x * pV->x + pV->y * pV->y + pV->z * pV->z);
}
inline FLOAT D3DXVec3LengthSq(const D3DXVECTOR3* pV)
{
    return pV->x * pV->x + pV->y * pV->y + pV->z * pV->z;
}
inline FLOAT D3DXVec3Dot(const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2)
{
    return pV1->x * pV2->x + pV1->y * pV2->y + pV1->z * pV2->z;
}
inline D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2)
{
    *pOut = D3DXVECTOR3(pV1->y * pV2->z - pV1->z * pV2->y, pV1->z * pV2->x - pV1->x * pV2->z,
                        pV1->x * pV2->y - pV1->y * pV2->x);
    return pOut;
}
inline D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2)
{
    *pOut = D3DXVECTOR3(pV1->x + pV2->x, pV1->y + pV2->y, pV1->z + pV2->z);
    return pOut;
}
inline D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2)
{
    *pOut = D3DXVECTOR3(pV1->x - pV2->x, pV1->y - pV2->y, pV1->z - pV2->z);
    return pOut;
}
inline D3DXVECTOR3* D3DXVec3Minimize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2)
{
    *pOut = D3DXVECTOR3(pV1->x < pV2->x ? pV1->x : pV2->x, pV1->y < pV2->y ? pV1->y : pV2->y,
                        pV1->z < pV2->z ? pV1->z : pV2->z);
    return pOut;
}
inline D3DXVECTOR3* D3DXVec3Maximize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2)
{
    *pOut = D3DXVECTOR3(pV1->x > pV2->x ? pV1->x : pV2->x, pV1->y > pV2->y ? pV1->y : pV2->y,
                        pV1->z > pV2->z ? pV1->z : pV2->z);
    return pOut;
}
inline D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, FLOAT s)
{
    *pOut = D3DXVECTOR3(pV->x * s, pV->y * s, pV->z * s);
    return pOut;
}
inline D3DXVECTOR3* D3DXVec3Lerp(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2, FLOAT s)
{
    *pOut = D3DXVECTOR3(pV1->x + s * (pV2->x - pV1->x), pV1->y + s * (pV2->y - pV1->y),
                        pV1->z + s * (pV2->z - pV1->z));
    return pOut;
}
// A zero vector normalises to zero.
D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV);
// (x, y, z, 1) * M.
D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM);
// (x, y, z, 1) * M, divided by the resulting w (a projected point).
D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM);
// (x, y, z, 0) * M: no translation. Normals need the inverse transpose of the point matrix.
D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM);

//----------------------------------------------------------------------------------------------------------
// 4D vectors

inline FLOAT D3DXVec4Length(const D3DXVECTOR4* pV)
{
    return std::sqrt(pV->x * pV->x + pV->y * pV->y + pV->z * pV->z + pV->w * pV->w);
}
inline FLOAT D3DXVec4LengthSq(const D3DXVECTOR4* pV)
{
    return pV->x * pV->x + pV->y * pV->y + pV->z * pV->z + pV->w * pV->w;
}
inline FLOAT D3DXVec4Dot(const D3DXVECTOR4* pV1, const D3DXVECTOR4* pV2)
{
    return pV1->x * pV2->x + pV1->y * pV2->y + pV1->z * pV2->z + pV1->w * pV2->w;
}
inline D3DXVECTOR4* D3DXVec4Add(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV1, const D3DXVECTOR4* pV2)
{
    *pOut = D3DXVECTOR4(pV1->x + pV2->x, pV1->y + pV2->y, pV1->z + pV2->z, pV1->w + pV2->w);
    return pOut;
}
inline D3DXVECTOR4* D3DXVec4Subtract(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV1, const D3DXVECTOR4* pV2)
{
    *pOut = D3DXVECTOR4(pV1->x - pV2->x, pV1->y - pV2->y, pV1->z - pV2->z, pV1->w - pV2->w);
    return pOut;
}
inline D3DXVECTOR4* D3DXVec4Minimize(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV1, const D3DXVECTOR4* pV2)
{
    *pOut = D3DXVECTOR4(pV1->x < pV2->x ? pV1->x : pV2->x, pV1->y < pV2->y ? pV1->y : pV2->y,
                        pV1->z < pV2->z ? pV1->z : pV2->z, pV1->w < pV2->w ? pV1->w : pV2->w);
    return pOut;
}
inline D3DXVECTOR4* D3DXVec4Maximize(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV1, const D3DXVECTOR4* pV2)
{
    *pOut = D3DXVECTOR4(pV1->x > pV2->x ? pV1->x : pV2->x, pV1->y > pV2->y ? pV1->y : pV2->y,
                        pV1->z > pV2->z ? pV1->z : pV2->z, pV1->w > pV2->w ? pV1->w : pV2->w);
    return pOut;
}
inline D3DXVECTOR4* D3DXVec4Scale(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV, FLOAT s)
{
    *pOut = D3DXVECTOR4(pV->x * s, pV->y * s, pV->z * s, pV->w * s);
    return pOut;
}
inline D3DXVECTOR4* D3DXVec4Lerp(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV1, const D3DXVECTOR4* pV2, FLOAT s)
{
    *pOut = D3DXVECTOR4(pV1->x + s * (pV2->x - pV1->x), pV1->y + s * (pV2->y - pV1->y),
                        pV1->z + s * (pV2->z - pV1->z), pV1->w + s * (pV2->w - pV1->w));
    return pOut;
}
// A zero vector normalises to zero.
D3DXVECTOR4* D3DXVec4Normalize(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV);
// V * M.
D3DXVECTOR4* D3DXVec4Transform(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV, const D3DXMATRIX* pM);
// Cubic Hermite spline from V1 (tangent T1) at s = 0 to V2 (tangent T2) at s = 1.
D3DXVECTOR4* D3DXVec4Hermite(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV1, const D3DXVECTOR4* pT1,
                             const D3DXVECTOR4* pV2, const D3DXVECTOR4* pT2, FLOAT s);

//----------------------------------------------------------------------------------------------------------
// Matrix functions. Output may be the same matrix as an input.

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* pOut);
BOOL D3DXMatrixIsIdentity(const D3DXMATRIX* pM);
FLOAT D3DXMatrixDeterminant(const D3DXMATRIX* pM);
// M1 * M2: the transform M1 followed by M2.
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* pOut, const D3DXMATRIX* pM1, const D3DXMATRIX* pM2);
// transpose(M1 * M2), the form shader constants take.
D3DXMATRIX* D3DXMatrixMultiplyTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM1, const D3DXMATRIX* pM2);
D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* pOut, const D3DXMATRIX* pM);
// Stores the determinant when pDeterminant is given; returns NULL and leaves pOut alone when the matrix
// is singular (determinant 0 or not finite).
D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* pOut, FLOAT* pDeterminant, const D3DXMATRIX* pM);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* pOut, FLOAT sx, FLOAT sy, FLOAT sz);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* pOut, FLOAT x, FLOAT y, FLOAT z);
D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* pOut, FLOAT angle);
D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* pOut, FLOAT angle);
D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* pOut, FLOAT angle);
// Rotation about the normalised axis V; a zero axis gives the identity.
D3DXMATRIX* D3DXMatrixRotationAxis(D3DXMATRIX* pOut, const D3DXVECTOR3* pV, FLOAT angle);
D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* pOut, const D3DXQUATERNION* pQ);
// Roll about z first, then pitch about x, then yaw about y.
D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* pOut, FLOAT yaw, FLOAT pitch, FLOAT roll);
// View matrices: the eye maps to the origin, looking down -z (RH) or +z (LH).
D3DXMATRIX* D3DXMatrixLookAtRH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye, const D3DXVECTOR3* pAt,
                               const D3DXVECTOR3* pUp);
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye, const D3DXVECTOR3* pAt,
                               const D3DXVECTOR3* pUp);
// Projections map view depth zn to 0 and zf to 1.
D3DXMATRIX* D3DXMatrixPerspectiveRH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf);
D3DXMATRIX* D3DXMatrixPerspectiveLH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf);
D3DXMATRIX* D3DXMatrixPerspectiveFovRH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT aspect, FLOAT zn, FLOAT zf);
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT aspect, FLOAT zn, FLOAT zf);
D3DXMATRIX* D3DXMatrixPerspectiveOffCenterRH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t, FLOAT zn,
                                             FLOAT zf);
D3DXMATRIX* D3DXMatrixPerspectiveOffCenterLH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t, FLOAT zn,
                                             FLOAT zf);
D3DXMATRIX* D3DXMatrixOrthoRH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf);
D3DXMATRIX* D3DXMatrixOrthoLH(D3DXMATRIX* pOut, FLOAT w, FLOAT h, FLOAT zn, FLOAT zf);
D3DXMATRIX* D3DXMatrixOrthoOffCenterRH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t, FLOAT zn,
                                       FLOAT zf);
D3DXMATRIX* D3DXMatrixOrthoOffCenterLH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t, FLOAT zn,
                                       FLOAT zf);
// Flattens geometry onto the plane as seen from the light (w = 0: a directional light toward -L).
// The plane is normalised first.
D3DXMATRIX* D3DXMatrixShadow(D3DXMATRIX* pOut, const D3DXVECTOR4* pLight, const D3DXPLANE* pPlane);
// Mirror in the plane; the plane is normalised first, so any multiple of it gives the same matrix.
D3DXMATRIX* D3DXMatrixReflect(D3DXMATRIX* pOut, const D3DXPLANE* pPlane);

//----------------------------------------------------------------------------------------------------------
// Quaternion functions

inline FLOAT D3DXQuaternionLength(const D3DXQUATERNION* pQ)
{
    return std::sqrt(pQ->x * pQ->x + pQ->y * pQ->y + pQ->z * pQ->z + pQ->w * pQ->w);
}
inline FLOAT D3DXQuaternionLengthSq(const D3DXQUATERNION* pQ)
{
    return pQ->x * pQ->x + pQ->y * pQ->y + pQ->z * pQ->z + pQ->w * pQ->w;
}
inline FLOAT D3DXQuaternionDot(const D3DXQUATERNION* pQ1, const D3DXQUATERNION* pQ2)
{
    return pQ1->x * pQ2->x + pQ1->y * pQ2->y + pQ1->z * pQ2->z + pQ1->w * pQ2->w;
}
inline D3DXQUATERNION* D3DXQuaternionIdentity(D3DXQUATERNION* pOut)
{
    *pOut = D3DXQUATERNION(0.0f, 0.0f, 0.0f, 1.0f);
    return pOut;
}
inline BOOL D3DXQuaternionIsIdentity(const D3DXQUATERNION* pQ)
{
    return pQ->x == 0.0f && pQ->y == 0.0f && pQ->z == 0.0f && pQ->w == 1.0f;
}
inline D3DXQUATERNION* D3DXQuaternionConjugate(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ)
{
    *pOut = D3DXQUATERNION(-pQ->x, -pQ->y, -pQ->z, pQ->w);
    return pOut;
}
// A zero quaternion normalises to zero.
D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ);
// Conjugate over squared length; a zero quaternion gives zero.
D3DXQUATERNION* D3DXQuaternionInverse(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ);
// The rotation Q1 followed by Q2 (the Hamilton product Q2 * Q1).
D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                       const D3DXQUATERNION* pQ2);
// Rotation about the normalised axis V; a zero axis gives the identity.
D3DXQUATERNION* D3DXQuaternionRotationAxis(D3DXQUATERNION* pOut, const D3DXVECTOR3* pV, FLOAT angle);
// From the rotation in the upper 3x3 of M.
D3DXQUATERNION* D3DXQuaternionRotationMatrix(D3DXQUATERNION* pOut, const D3DXMATRIX* pM);
// Roll about z first, then pitch about x, then yaw about y.
D3DXQUATERNION* D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* pOut, FLOAT yaw, FLOAT pitch, FLOAT roll);
// Spherical interpolation along the shorter arc; t = 0 gives Q1, t = 1 gives Q2 (or -Q2, the same rotation).
D3DXQUATERNION* D3DXQuaternionSlerp(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                    const D3DXQUATERNION* pQ2, FLOAT t);

//----------------------------------------------------------------------------------------------------------
// Plane functions

inline FLOAT D3DXPlaneDot(const D3DXPLANE* pP, const D3DXVECTOR4* pV)
{
    return pP->a * pV->x + pP->b * pV->y + pP->c * pV->z + pP->d * pV->w;
}
// Signed distance times the normal's length: the point V with w = 1.
inline FLOAT D3DXPlaneDotCoord(const D3DXPLANE* pP, const D3DXVECTOR3* pV)
{
    return pP->a * pV->x + pP->b * pV->y + pP->c * pV->z + pP->d;
}
// The direction V with w = 0.
inline FLOAT D3DXPlaneDotNormal(const D3DXPLANE* pP, const D3DXVECTOR3* pV)
{
    return pP->a * pV->x + pP->b * pV->y + pP->c * pV->z;
}
inline D3DXPLANE* D3DXPlaneScale(D3DXPLANE* pOut, const D3DXPLANE* pP, FLOAT s)
{
    *pOut = D3DXPLANE(pP->a * s, pP->b * s, pP->c * s, pP->d * s);
    return pOut;
}
// Divides all four by the normal's length; a zero normal gives the zero plane.
D3DXPLANE* D3DXPlaneNormalize(D3DXPLANE* pOut, const D3DXPLANE* pP);
// The plane through the point with the given normal (kept as given, not normalised).
D3DXPLANE* D3DXPlaneFromPointNormal(D3DXPLANE* pOut, const D3DXVECTOR3* pPoint, const D3DXVECTOR3* pNormal);
// The plane through three points with the unit normal (V2 - V1) x (V3 - V1).
D3DXPLANE* D3DXPlaneFromPoints(D3DXPLANE* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2,
                               const D3DXVECTOR3* pV3);
// Where the infinite line through V1 and V2 meets the plane; NULL when the line is parallel to it.
D3DXVECTOR3* D3DXPlaneIntersectLine(D3DXVECTOR3* pOut, const D3DXPLANE* pP, const D3DXVECTOR3* pV1,
                                    const D3DXVECTOR3* pV2);
// (a, b, c, d) * M; to move a plane with a point transform T, pass the inverse transpose of T.
D3DXPLANE* D3DXPlaneTransform(D3DXPLANE* pOut, const D3DXPLANE* pP, const D3DXMATRIX* pM);

//----------------------------------------------------------------------------------------------------------
// Colour functions

inline D3DXCOLOR* D3DXColorAdd(D3DXCOLOR* pOut, const D3DXCOLOR* pC1, const D3DXCOLOR* pC2)
{
    *pOut = D3DXCOLOR(pC1->r + pC2->r, pC1->g + pC2->g, pC1->b + pC2->b, pC1->a + pC2->a);
    return pOut;
}
inline D3DXCOLOR* D3DXColorSubtract(D3DXCOLOR* pOut, const D3DXCOLOR* pC1, const D3DXCOLOR* pC2)
{
    *pOut = D3DXCOLOR(pC1->r - pC2->r, pC1->g - pC2->g, pC1->b - pC2->b, pC1->a - pC2->a);
    return pOut;
}
inline D3DXCOLOR* D3DXColorScale(D3DXCOLOR* pOut, const D3DXCOLOR* pC, FLOAT s)
{
    *pOut = D3DXCOLOR(pC->r * s, pC->g * s, pC->b * s, pC->a * s);
    return pOut;
}
// 1 - colour for r, g, b; alpha kept.
inline D3DXCOLOR* D3DXColorNegative(D3DXCOLOR* pOut, const D3DXCOLOR* pC)
{
    *pOut = D3DXCOLOR(1.0f - pC->r, 1.0f - pC->g, 1.0f - pC->b, pC->a);
    return pOut;
}
inline D3DXCOLOR* D3DXColorModulate(D3DXCOLOR* pOut, const D3DXCOLOR* pC1, const D3DXCOLOR* pC2)
{
    *pOut = D3DXCOLOR(pC1->r * pC2->r, pC1->g * pC2->g, pC1->b * pC2->b, pC1->a * pC2->a);
    return pOut;
}
inline D3DXCOLOR* D3DXColorLerp(D3DXCOLOR* pOut, const D3DXCOLOR* pC1, const D3DXCOLOR* pC2, FLOAT s)
{
    *pOut = D3DXCOLOR(pC1->r + s * (pC2->r - pC1->r), pC1->g + s * (pC2->g - pC1->g),
                      pC1->b + s * (pC2->b - pC1->b), pC1->a + s * (pC2->a - pC1->a));
    return pOut;
}
