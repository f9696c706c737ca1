// Planes, ray probes and triangle intersection (from the mesh part of D3DX), bounding boxes,
// normalisation and splines.
#include "tests/platform/d3dx9/math_test_util.h"
#include "platform/d3dx9/d3dx9.h"
#include "tests/platform/expect_refused.h"

#include <cstring>
#include <vector>

namespace
{

void ExpectPlaneNear(const D3DXPLANE& actual, const D3DXPLANE& expected)
{
    EXPECT_NEAR(actual.a, expected.a, kTol);
    EXPECT_NEAR(actual.b, expected.b, kTol);
    EXPECT_NEAR(actual.c, expected.c, kTol);
    EXPECT_NEAR(actual.d, expected.d, kTol);
}

TEST(D3DXPlane, FromPointsHasUnitNormalByWinding)
{
    const float s = 1.0f / std::sqrt(3.0f);
    struct Case
    {
        D3DXVECTOR3 v1, v2, v3;
        D3DXPLANE expected;
    };
    const Case cases[] = {
        {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1, 0}},
        {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, -1, 0}},
        {{0, 0, 5}, {2, 0, 5}, {0, 3, 5}, {0, 0, 1, -5}},
        {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {s, s, s, -s}},
    };
    for (const auto& c : cases)
    {
        D3DXPLANE p;
        D3DXPlaneFromPoints(&p, &c.v1, &c.v2, &c.v3);
        ExpectPlaneNear(p, c.expected);
        for (const D3DXVECTOR3* v : {&c.v1, &c.v2, &c.v3})
            EXPECT_NEAR(D3DXPlaneDotCoord(&p, v), 0.0f, kTol);
    }

    // From a point and normal the normal is kept as given.
    D3DXPLANE p;
    const D3DXVECTOR3 point(1, 2, 3), normal(0, 2, 0);
    D3DXPlaneFromPointNormal(&p, &point, &normal);
    EXPECT_EQ(p, D3DXPLANE(0, 2, 0, -4));
    const D3DXVECTOR4 h(0, 5, 0, 1);
    EXPECT_EQ(D3DXPlaneDot(&p, &h), 6.0f);
    EXPECT_EQ(D3DXPlaneDotNormal(&p, &point), 4.0f);
}

TEST(D3DXPlane, IntersectLineUsesWholeLineAndRejectsParallel)
{
    struct Case
    {
        const char* name;
        D3DXPLANE plane;
        D3DXVECTOR3 v1, v2;
        bool hit;
        D3DXVECTOR3 point;
    };
    const Case cases[] = {
        {"through the segment", {0, 0, 1, 0}, {0, 0, 1}, {0, 0, -1}, true, {0, 0, 0}},
        {"beyond the segment", {0, 0, 1, -2}, {1, 1, 0}, {1, 1, 1}, true, {1, 1, 2}},
        {"scaled plane", {0, 0, 4, -8}, {0, 0, 0}, {2, 2, 4}, true, {1, 1, 2}},
        {"oblique plane", {1, 1, 1, -3}, {0, 0, 0}, {1, 0, 0}, true, {3, 0, 0}},
        {"parallel", {0, 0, 1, 0}, {0, 0, 1}, {1, 0, 1}, false, {}},
        {"parallel inside the plane", {0, 0, 1, 0}, {0, 0, 0}, {1, 0, 0}, false, {}},
        {"both points equal", {0, 0, 1, 0}, {0, 0, 1}, {0, 0, 1}, false, {}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        D3DXVECTOR3 out(9, 9, 9);
        D3DXVECTOR3* r = D3DXPlaneIntersectLine(&out, &c.plane, &c.v1, &c.v2);
        if (c.hit)
        {
            ASSERT_EQ(r, &out);
            ExpectVec3Near(out, c.point);
        }
        else
        {
            EXPECT_EQ(r, nullptr);
        }
    }
}

TEST(D3DXPlane, TransformWithInverseTransposeFollowsPoints)
{
    D3DXMATRIX rot, scale, move, m, inv, invT;
    const D3DXVECTOR3 axis(1, -2, 0.5f);
    D3DXMatrixRotationAxis(&rot, &axis, 0.8f);
    D3DXMatrixScaling(&scale, 2, 3, 0.5f);
    D3DXMatrixTranslation(&move, 1, -2, 3);
    D3DXMatrixMultiply(&m, &rot, &scale);
    D3DXMatrixMultiply(&m, &m, &move);
    ASSERT_NE(D3DXMatrixInverse(&inv, nullptr, &m), nullptr);
    D3DXMatrixTranspose(&invT, &inv);

    const D3DXVECTOR3 a(1, 0, 0), b(0, 2, 1), c(-1, 1, 3), above(0, 0, 10);
    D3DXPLANE p, moved;
    D3DXPlaneFromPoints(&p, &a, &b, &c);
    ASSERT_GT(D3DXPlaneDotCoord(&p, &above), 0.0f);
    D3DXPlaneTransform(&moved, &p, &invT);
    for (const D3DXVECTOR3* v : {&a, &b, &c})
    {
        const D3DXVECTOR3 w = TransformCoord(*v, m);
        EXPECT_NEAR(D3DXPlaneDotCoord(&moved, &w), 0.0f, 1e-4f);
    }
    const D3DXVECTOR3 aboveMoved = TransformCoord(above, m);
    EXPECT_GT(D3DXPlaneDotCoord(&moved, &aboveMoved), 0.0f);
}

TEST(D3DXIntersect, TriangleReportsBarycentricsAndDistance)
{
    const D3DXVECTOR3 p0(0, 0, 0), p1(1, 0, 0), p2(0, 1, 0);
    struct Case
    {
        const char* name;
        D3DXVECTOR3 pos, dir;
        bool hit;
        float u, v, dist;
    };
    const Case cases[] = {
        {"inside", {0.25f, 0.25f, 5}, {0, 0, -1}, true, 0.25f, 0.25f, 5},
        {"distance counts direction lengths", {0.5f, 0.25f, 5}, {0, 0, -2}, true, 0.5f, 0.25f, 2.5f},
        {"from the back side", {0.2f, 0.3f, -5}, {0, 0, 1}, true, 0.2f, 0.3f, 5},
        {"on a vertex", {1, 0, 5}, {0, 0, -1}, true, 1, 0, 5},
        {"origin on the triangle", {0.1f, 0.1f, 0}, {0, 0, 1}, true, 0.1f, 0.1f, 0},
        {"past the hypotenuse", {0.6f, 0.6f, 5}, {0, 0, -1}, false, 0, 0, 0},
        {"left of the triangle", {-0.1f, 0.5f, 5}, {0, 0, -1}, false, 0, 0, 0},
        {"triangle behind the ray", {0.25f, 0.25f, 5}, {0, 0, 1}, false, 0, 0, 0},
        {"parallel in its plane", {-1, 0.25f, 0}, {1, 0, 0}, false, 0, 0, 0},
        {"zero direction", {0.25f, 0.25f, 5}, {0, 0, 0}, false, 0, 0, 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        float u = -1, v = -1, dist = -1;
        const BOOL hit = D3DXIntersectTri(&p0, &p1, &p2, &c.pos, &c.dir, &u, &v, &dist);
        EXPECT_EQ(hit != FALSE, c.hit);
        if (c.hit && hit)
        {
            EXPECT_NEAR(u, c.u, kTol);
            EXPECT_NEAR(v, c.v, kTol);
            EXPECT_NEAR(dist, c.dist, kTol);
        }
    }

    // A skew triangle hit at its centroid: both descriptions of the hit point agree.
    const D3DXVECTOR3 q0(1, 2, 3), q1(4, 0, 1), q2(-1, -2, 5);
    const D3DXVECTOR3 dir(-1, -1, -1);
    const D3DXVECTOR3 pos = (q0 + q1 + q2) / 3.0f - dir * 2.0f;
    float u, v, dist;
    ASSERT_TRUE(D3DXIntersectTri(&q0, &q1, &q2, &pos, &dir, &u, &v, &dist));
    EXPECT_NEAR(u, 1.0f / 3.0f, kTol);
    EXPECT_NEAR(v, 1.0f / 3.0f, kTol);
    EXPECT_NEAR(dist, 2.0f, kTol);
    EXPECT_TRUE(D3DXIntersectTri(&q0, &q1, &q2, &pos, &dir, nullptr, nullptr, nullptr));
}

TEST(D3DXIntersect, BoxAndSphereProbesTreatRayAsHalfLine)
{
    struct Case
    {
        const char* name;
        D3DXVECTOR3 lo, hi, pos, dir;
        bool hit;
    };
    const D3DXVECTOR3 lo(-1, -1, -1), hi(1, 1, 1);
    const Case cases[] = {
        {"straight through", lo, hi, {-5, 0, 0}, {1, 0, 0}, true},
        {"box behind", lo, hi, {-5, 0, 0}, {-1, 0, 0}, false},
        {"origin inside", lo, hi, {0.5f, 0, 0}, {0, -1, 0}, true},
        {"parallel outside a slab", lo, hi, {-5, 2, 0}, {1, 0, 0}, false},
        {"grazing a face", lo, hi, {-5, 1, 0}, {1, 0, 0}, true},
        {"diagonal through the middle", lo, hi, {-5, -5, 0}, {1, 1, 0}, true},
        {"diagonal passing a corner", lo, hi, {-5, -2, 0}, {1, 1, 0}, false},
        {"short direction still a ray", lo, hi, {-5, 0, 0}, {1e-3f, 0, 0}, true},
        {"offset box ahead", {10, 10, 10}, {12, 12, 12}, {0, 0, 0}, {1, 1, 1}, true},
        {"offset box beside", {10, 10, 10}, {12, 12, 12}, {0, 0, 0}, {1, 1, -1}, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(D3DXBoxBoundProbe(&c.lo, &c.hi, &c.pos, &c.dir) != FALSE, c.hit);
    }

    const D3DXVECTOR3 centre(0, 0, 0);
    struct SphereCase
    {
        D3DXVECTOR3 pos, dir;
        bool hit;
    };
    const SphereCase spheres[] = {
        {{-5, 0, 0}, {1, 0, 0}, true},   {{-5, 0, 0}, {-1, 0, 0}, false}, {{-5, 2, 0}, {1, 0, 0}, false},
        {{0.5f, 0, 0}, {1, 0, 0}, true}, {{-5, 1, 0}, {1, 0, 0}, true},
    };
    for (const auto& c : spheres)
        EXPECT_EQ(D3DXSphereBoundProbe(&centre, 1.0f, &c.pos, &c.dir) != FALSE, c.hit);
}

TEST(D3DXBounds, BoxOverStridedVerticesAndInvalidCalls)
{
    // 13-byte records: positions off float alignment, as in packed vertex data.
    const float positions[][3] = {{1, 5, -2}, {-3, 2, 0}, {0, 7, 4}};
    const DWORD stride = 13;
    std::vector<unsigned char> buffer(stride * 3 + 1, 0xAB);
    for (int i = 0; i < 3; ++i)
        std::memcpy(buffer.data() + 1 + i * stride, positions[i], sizeof(positions[i]));
    const auto* first = reinterpret_cast<const D3DXVECTOR3*>(buffer.data() + 1);

    D3DXVECTOR3 lo, hi;
    ASSERT_EQ(D3DXComputeBoundingBox(first, 3, stride, &lo, &hi), S_OK);
    EXPECT_EQ(lo, D3DXVECTOR3(-3, 2, -2));
    EXPECT_EQ(hi, D3DXVECTOR3(1, 7, 4));

    const D3DXVECTOR3 untouched(42, 42, 42);
    lo = hi = untouched;
    EXPECT_REFUSED(D3DXComputeBoundingBox(nullptr, 3, stride, &lo, &hi),
                   "D3DXComputeBoundingBox.NullPointer");
    EXPECT_REFUSED(D3DXComputeBoundingBox(first, 3, stride, nullptr, &hi),
                   "D3DXComputeBoundingBox.NullPointer");
    EXPECT_REFUSED(D3DXComputeBoundingBox(first, 0, stride, &lo, &hi), "D3DXComputeBoundingBox.NoVertices");
    EXPECT_REFUSED(D3DXComputeBoundingBox(first, 3, 8, &lo, &hi),
                   "D3DXComputeBoundingBox.StrideBelowPosition");
    EXPECT_EQ(lo, untouched);
    EXPECT_EQ(hi, untouched);
}

TEST(D3DXBounds, SphereAboutTheMeanAndInvalidCalls)
{
    // The mean is (0, 1, 0); the farthest point, (0, 3, 0), sets the radius.
    const D3DXVECTOR3 points[] = {{1, 0, 0}, {-1, 0, 0}, {0, 3, 0}};
    const DWORD stride = sizeof(D3DXVECTOR3);
    D3DXVECTOR3 centre;
    FLOAT radius = 0;
    ASSERT_EQ(D3DXComputeBoundingSphere(points, 3, stride, &centre, &radius), S_OK);
    EXPECT_EQ(centre, D3DXVECTOR3(0, 1, 0));
    EXPECT_EQ(radius, 2.0f);

    EXPECT_REFUSED(D3DXComputeBoundingSphere(nullptr, 3, stride, &centre, &radius),
                   "D3DXComputeBoundingSphere.NullPointer");
    EXPECT_REFUSED(D3DXComputeBoundingSphere(points, 3, stride, &centre, nullptr),
                   "D3DXComputeBoundingSphere.NullPointer");
    EXPECT_REFUSED(D3DXComputeBoundingSphere(points, 0, stride, &centre, &radius),
                   "D3DXComputeBoundingSphere.NoVertices");
    EXPECT_REFUSED(D3DXComputeBoundingSphere(points, 3, 8, &centre, &radius),
                   "D3DXComputeBoundingSphere.StrideBelowPosition");
}

TEST(D3DXVector, NormalizeGivesUnitLengthAndZeroForZero)
{
    D3DXVECTOR2 v2;
    D3DXVECTOR3 v3;
    D3DXVECTOR4 v4;
    D3DXPLANE p;
    const D3DXVECTOR2 zero2(0, 0);
    const D3DXVECTOR3 zero3(0, 0, 0);
    const D3DXVECTOR4 zero4(0, 0, 0, 0);
    const D3DXPLANE zeroNormal(0, 0, 0, 5);
    EXPECT_EQ(*D3DXVec2Normalize(&v2, &zero2), zero2);
    EXPECT_EQ(*D3DXVec3Normalize(&v3, &zero3), zero3);
    EXPECT_EQ(*D3DXVec4Normalize(&v4, &zero4), zero4);
    EXPECT_EQ(*D3DXPlaneNormalize(&p, &zeroNormal), D3DXPLANE(0, 0, 0, 0));

    const D3DXVECTOR2 a2(3, 4);
    const D3DXVECTOR3 a3(2, -3, 6);
    const D3DXVECTOR4 a4(1, 1, 1, 1);
    const D3DXPLANE ap(0, 3, 4, 10);
    ASSERT_EQ(D3DXVec2Normalize(&v2, &a2), &v2);
    EXPECT_EQ(v2, D3DXVECTOR2(0.6f, 0.8f));
    D3DXVec3Normalize(&v3, &a3);
    ExpectVec3Near(v3, D3DXVECTOR3(2.0f / 7, -3.0f / 7, 6.0f / 7));
    D3DXVec4Normalize(&v4, &a4);
    EXPECT_EQ(v4, D3DXVECTOR4(0.5f, 0.5f, 0.5f, 0.5f));
    D3DXPlaneNormalize(&p, &ap);
    ExpectPlaneNear(p, D3DXPLANE(0, 0.6f, 0.8f, 2));

    // Tiny but non-zero vectors still normalise.
    const D3DXVECTOR3 tiny(1e-20f, 0, 0);
    D3DXVec3Normalize(&v3, &tiny);
    EXPECT_TRUE(std::isfinite(v3.x));
}

TEST(D3DXVector, HermiteHitsEndpointsAndFollowsTangents)
{
    struct Case
    {
        const char* name;
        float v1, t1, v2, t2, s, expected;
    };
    const Case cases[] = {
        {"start", 2, 7, -3, 5, 0.0f, 2},
        {"end", 2, 7, -3, 5, 1.0f, -3},
        {"flat tangents ease to the midpoint", 0, 0, 1, 0, 0.5f, 0.5f},
        {"unit tangents on a unit step are linear", 0, 1, 1, 1, 0.3f, 0.3f},
        // h(0.5): 0.5 * 0 + 0.125 * 4 + 0.5 * 0 - 0.125 * 0
        {"tangent bulge", 0, 4, 0, 0, 0.5f, 0.5f},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const D3DXVECTOR4 v1(c.v1, c.v1, 0, 1), t1(c.t1, c.t1, 0, 0), v2(c.v2, c.v2, 0, 1),
            t2(c.t2, c.t2, 0, 0);
        D3DXVECTOR4 out;
        D3DXVec4Hermite(&out, &v1, &t1, &v2, &t2, c.s);
        EXPECT_NEAR(out.x, c.expected, kTol);
        EXPECT_EQ(out.x, out.y);
        EXPECT_EQ(out.z, 0.0f);
        EXPECT_NEAR(out.w, 1.0f, kTol);
    }
}

} // namespace
