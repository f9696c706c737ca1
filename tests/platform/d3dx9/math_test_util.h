#pragma once
// Shared comparisons for the maths tests: tolerances suit single-precision results near unit scale.
#include "platform/d3dx9/d3dx9math.h"

#include <gtest/gtest.h>

#include <cmath>

constexpr float kTol = 1e-5f;

inline void ExpectVec3Near(const D3DXVECTOR3& actual, const D3DXVECTOR3& expected, float tol = kTol)
{
    EXPECT_NEAR(actual.x, expected.x, tol);
    EXPECT_NEAR(actual.y, expected.y, tol);
    EXPECT_NEAR(actual.z, expected.z, tol);
}

inline void ExpectMatrixNear(const D3DXMATRIX& actual, const D3DXMATRIX& expected, float tol = kTol)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(actual.m[i][j], expected.m[i][j], tol) << "element [" << i << "][" << j << "]";
}

inline D3DXMATRIX Identity()
{
    D3DXMATRIX m;
    return *D3DXMatrixIdentity(&m);
}

inline D3DXVECTOR3 TransformCoord(const D3DXVECTOR3& v, const D3DXMATRIX& m)
{
    D3DXVECTOR3 r;
    return *D3DXVec3TransformCoord(&r, &v, &m);
}
