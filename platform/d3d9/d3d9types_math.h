#pragma once
// Plain maths records shared by the Direct3D 9 and D3DX 9 layers. Layouts match the original interface
// byte for byte: engine code and file loaders copy them with memcpy.
#include "platform/win32/windef.h"

#ifndef D3DVECTOR_DEFINED
#define D3DVECTOR_DEFINED
struct D3DVECTOR
{
    float x;
    float y;
    float z;
};
#endif

#ifndef D3DCOLORVALUE_DEFINED
#define D3DCOLORVALUE_DEFINED
struct D3DCOLORVALUE
{
    float r;
    float g;
    float b;
    float a;
};
#endif

#ifndef D3DMATRIX_DEFINED
#define D3DMATRIX_DEFINED
struct D3DMATRIX
{
    union
    {
        struct
        {
            float _11, _12, _13, _14;
            float _21, _22, _23, _24;
            float _31, _32, _33, _34;
            float _41, _42, _43, _44;
        };
        float m[4][4];
    };
};
#endif

static_assert(sizeof(D3DVECTOR) == 12, "D3DVECTOR layout");
static_assert(sizeof(D3DCOLORVALUE) == 16, "D3DCOLORVALUE layout");
static_assert(sizeof(D3DMATRIX) == 64, "D3DMATRIX layout");
