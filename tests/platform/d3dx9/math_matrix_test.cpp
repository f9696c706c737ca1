// Matrix products, inversion, rotations, cameras and projections against hand-worked values.
#include "tests/platform/d3dx9/math_test_util.h"

#include <functional>
#include <string>
#include <vector>

namespace
{

D3DXMATRIX Rotation(const D3DXVECTOR3& axis, float angle)
{
    D3DXMATRIX m;
    return *D3DXMatrixRotationAxis(&m, &axis, angle);
}

D3DXMATRIX Product(const D3DXMATRIX& a, const D3DXMATRIX& b)
{
    D3DXMATRIX m;
    return *D3DXMatrixMultiply(&m, &a, &b);
}

D3DXMATRIX Translation(float x, float y, float z)
{
    D3DXMATRIX m;
    return *D3DXMatrixTranslation(&m, x, y, z);
}

D3DXMATRIX Scaling(float x, float y, float z)
{
    D3DXMATRIX m;
    return *D3DXMatrixScaling(&m, x, y, z);
}

D3DXMATRIX Reflect(float a, float b, float c, float d)
{
    D3DXMATRIX m;
    const D3DXPLANE p(a, b, c, d);
    return *D3DXMatrixReflect(&m, &p);
}

struct InverseCase
{
    const char* name;
    D3DXMATRIX m;
    float determinant;
};

TEST(D3DXMatrix, InverseUndoesTransformAndReportsDeterminant)
{
    const D3DXMATRIX general(1, 2, 3, 4, 5, 6, 7, 8, 2, 6, 4, 8, 3, 1, 1, 2);
    const InverseCase cases[] = {
        {"identity", Identity(), 1.0f},
        {"rotation about a skew axis", Rotation(D3DXVECTOR3(1, 2, 3), 0.7f), 1.0f},
        {"rotation then translation", Product(Rotation(D3DXVECTOR3(0, 0, 1), 2.0f), Translation(4, -5, 6)),
         1.0f},
        {"scaling", Scaling(2, 3, 4), 24.0f},
        {"mirror", Reflect(0, 0, 2, -6), -1.0f},
        {"general (det worked by hand)", general, 72.0f},
        {"projective corner", D3DXMATRIX(2, 0, 0, 1, 0, 3, 0, 0, 0, 0, 4, 0, 5, 0, 0, 6), 84.0f},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(D3DXMatrixDeterminant(&c.m), c.determinant, 1e-4f * std::fabs(c.determinant));
        D3DXMATRIX inv;
        float det = 0.0f;
        ASSERT_EQ(D3DXMatrixInverse(&inv, &det, &c.m), &inv);
        EXPECT_NEAR(det, c.determinant, 1e-4f * std::fabs(c.determinant));
        ExpectMatrixNear(Product(c.m, inv), Identity(), 1e-5f);
        ExpectMatrixNear(Product(inv, c.m), Identity(), 1e-5f);

        // In place, as the engine inverts its world matrices.
        D3DXMATRIX same = c.m;
        ASSERT_EQ(D3DXMatrixInverse(&same, nullptr, &same), &same);
        ExpectMatrixNear(same, inv, 0.0f);
    }
}

TEST(D3DXMatrix, InverseOfSingularMatrixIsNullAndLeavesOutputAlone)
{
    D3DXMATRIX shadow;
    const D3DXVECTOR4 light(1, 2, 10, 1);
    const D3DXPLANE ground(0, 0, 1, 0);
    D3DXMatrixShadow(&shadow, &light, &ground);
    const D3DXMATRIX cases[] = {
        D3DXMATRIX(1, 2, 3, 4, 0, 0, 0, 0, 5, 6, 7, 8, 0, 0, 0, 1), // zero row
        D3DXMATRIX(1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 1), // repeated row
        D3DXMATRIX(1, 2, 3, 0, 4, 5, 6, 0, 5, 7, 9, 0, 1, 1, 1, 1), // row 3 = row 1 + row 2
        Scaling(1, 0, 1),                                           // flattens y
        shadow,                                                     // flattens onto a plane
    };
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        SCOPED_TRACE(i);
        D3DXMATRIX out(7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7);
        const D3DXMATRIX before = out;
        float det = 1.0f;
        EXPECT_EQ(D3DXMatrixInverse(&out, &det, &cases[i]), nullptr);
        EXPECT_NEAR(det, 0.0f, 1e-5f);
        EXPECT_EQ(out, before);
    }
}

TEST(D3DXMatrix, ProductAppliesLeftOperandFirst)
{
    // Row vectors: (1,0,0) translated by +1 then scaled by 2 lands at 4, the other order at 3.
    const D3DXVECTOR3 p(1, 0, 0);
    ExpectVec3Near(TransformCoord(p, Product(Translation(1, 0, 0), Scaling(2, 2, 2))), D3DXVECTOR3(4, 0, 0));
    ExpectVec3Near(TransformCoord(p, Product(Scaling(2, 2, 2), Translation(1, 0, 0))), D3DXVECTOR3(3, 0, 0));

    const D3DXMATRIX a = Product(Rotation(D3DXVECTOR3(1, 1, 0), 0.3f), Translation(1, 2, 3));
    const D3DXMATRIX b = Product(Scaling(1, 2, 3), Rotation(D3DXVECTOR3(0, 1, 1), -1.1f));
    const D3DXMATRIX ab = Product(a, b);
    D3DXMATRIX aliased = a;
    D3DXMatrixMultiply(&aliased, &aliased, &b);
    EXPECT_EQ(aliased, ab);
    EXPECT_EQ(a * b, ab);
    D3DXMATRIX accumulated = a;
    accumulated *= b;
    EXPECT_EQ(accumulated, ab);

    D3DXMATRIX t, mt;
    D3DXMatrixTranspose(&t, &ab);
    D3DXMatrixMultiplyTranspose(&mt, &a, &b);
    EXPECT_EQ(mt, t);
    EXPECT_EQ(t._12, ab._21);
    EXPECT_EQ(t._41, ab._14);
}

struct RotationCase
{
    const char* name;
    D3DXMATRIX m;
    D3DXVECTOR3 in;
    D3DXVECTOR3 out;
};

TEST(D3DXMatrix, RotationsAreRightHandedForRowVectors)
{
    const float q = D3DX_PI / 2;
    D3DXMATRIX rx, ry, rz, ypr;
    D3DXMatrixRotationX(&rx, q);
    D3DXMatrixRotationY(&ry, q);
    D3DXMatrixRotationZ(&rz, q);
    // Roll (z) first, then pitch (x), then yaw (y): x -> y -> -z ... worked step by step.
    D3DXMatrixRotationYawPitchRoll(&ypr, q, q, q);
    const RotationCase cases[] = {
        {"X turns y toward z", rx, {0, 1, 0}, {0, 0, 1}},
        {"Y turns z toward x", ry, {0, 0, 1}, {1, 0, 0}},
        {"Z turns x toward y", rz, {1, 0, 0}, {0, 1, 0}},
        {"axis x matches X", Rotation(D3DXVECTOR3(3, 0, 0), q), {0, 1, 0}, {0, 0, 1}},
        {"axis -z turns y toward x", Rotation(D3DXVECTOR3(0, 0, -1), q), {0, 1, 0}, {1, 0, 0}},
        {"third turn about (1,1,1) cycles axes",
         Rotation(D3DXVECTOR3(1, 1, 1), 2 * D3DX_PI / 3),
         {1, 0, 0},
         {0, 1, 0}},
        // roll: x -> y; pitch: y -> z; yaw: z -> x.
        {"yaw pitch roll order", ypr, {1, 0, 0}, {1, 0, 0}},
        // roll: y -> -x; pitch keeps x; yaw: -x -> z.
        {"yaw pitch roll order, y", ypr, {0, 1, 0}, {0, 0, 1}},
        {"zero axis is no rotation", Rotation(D3DXVECTOR3(0, 0, 0), 1.0f), {1, 2, 3}, {1, 2, 3}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        ExpectVec3Near(TransformCoord(c.in, c.m), c.out);
        D3DXMATRIX inv;
        ASSERT_NE(D3DXMatrixInverse(&inv, nullptr, &c.m), nullptr);
        ExpectVec3Near(TransformCoord(c.out, inv), c.in);
    }
}

struct ViewCase
{
    const char* name;
    bool rightHanded;
    D3DXVECTOR3 eye, at, up;
    D3DXVECTOR3 world;
    D3DXVECTOR3 view;
};

TEST(D3DXMatrix, LookAtPlacesEyeAtOriginFacingAt)
{
    const float a = std::sqrt(0.5f);
    const ViewCase cases[] = {
        {"eye", true, {1, 2, 3}, {1, 2, 0}, {0, 1, 0}, {1, 2, 3}, {0, 0, 0}},
        {"look-at point ahead on -z", true, {1, 2, 3}, {1, 2, 0}, {0, 1, 0}, {1, 2, 0}, {0, 0, -3}},
        {"right is +x", true, {1, 2, 3}, {1, 2, 0}, {0, 1, 0}, {2, 2, 3}, {1, 0, 0}},
        {"up is +y", true, {1, 2, 3}, {1, 2, 0}, {0, 1, 0}, {1, 3, 3}, {0, 1, 0}},
        {"z-up world, looking down -x", true, {10, 0, 0}, {0, 0, 0}, {0, 0, 1}, {10, 1, 0}, {1, 0, 0}},
        {"z-up world, up", true, {10, 0, 0}, {0, 0, 0}, {0, 0, 1}, {10, 0, 1}, {0, 1, 0}},
        {"slanted up vector is made orthogonal",
         true,
         {0, -5, 5},
         {0, 0, 0},
         {0, 0, 1},
         {0, 0, 1},
         {0, a, -9 * a}},
        {"LH: look-at point ahead on +z", false, {0, 0, -5}, {0, 0, 0}, {0, 1, 0}, {0, 0, 0}, {0, 0, 5}},
        {"LH: right is +x", false, {0, 0, -5}, {0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 0, 5}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        D3DXMATRIX v;
        if (c.rightHanded)
            D3DXMatrixLookAtRH(&v, &c.eye, &c.at, &c.up);
        else
            D3DXMatrixLookAtLH(&v, &c.eye, &c.at, &c.up);
        ExpectVec3Near(TransformCoord(c.world, v), c.view);
        EXPECT_NEAR(D3DXMatrixDeterminant(&v), 1.0f, kTol);
    }
}

struct ProjectionCase
{
    const char* name;
    std::function<void(D3DXMATRIX*)> build;
    D3DXVECTOR3 view;
    D3DXVECTOR3 clip;
};

TEST(D3DXMatrix, ProjectionsMapFrustumCornersToClipBox)
{
    const float half = D3DX_PI / 2;
    const ProjectionCase cases[] = {
        {"off-center RH near left-bottom",
         [](D3DXMATRIX* m) { D3DXMatrixPerspectiveOffCenterRH(m, -1, 3, -2, 2, 1, 10); },
         {-1, -2, -1},
         {-1, -1, 0}},
        {"off-center RH near right-top",
         [](D3DXMATRIX* m) { D3DXMatrixPerspectiveOffCenterRH(m, -1, 3, -2, 2, 1, 10); },
         {3, 2, -1},
         {1, 1, 0}},
        {"off-center RH far right-top",
         [](D3DXMATRIX* m) { D3DXMatrixPerspectiveOffCenterRH(m, -1, 3, -2, 2, 1, 10); },
         {30, 20, -10},
         {1, 1, 1}},
        {"off-center RH with top in the minimum place flips y",
         [](D3DXMATRIX* m) { D3DXMatrixPerspectiveOffCenterRH(m, -1, 3, 2, -2, 1, 10); },
         {3, 2, -1},
         {1, -1, 0}},
        {"fov RH near corner",
         [=](D3DXMATRIX* m) { D3DXMatrixPerspectiveFovRH(m, half, 2, 1, 100); },
         {2, 1, -1},
         {1, 1, 0}},
        {"fov RH far corner",
         [=](D3DXMATRIX* m) { D3DXMatrixPerspectiveFovRH(m, half, 2, 1, 100); },
         {-200, -100, -100},
         {-1, -1, 1}},
        {"fov RH depth is hyperbolic",
         [=](D3DXMATRIX* m) { D3DXMatrixPerspectiveFovRH(m, half, 2, 1, 100); },
         {0, 0, -2},
         {0, 0, 100.0f / 198.0f}},
        {"perspective RH near corner",
         [](D3DXMATRIX* m) { D3DXMatrixPerspectiveRH(m, 4, 2, 2, 8); },
         {2, 1, -2},
         {1, 1, 0}},
        {"perspective RH far corner",
         [](D3DXMATRIX* m) { D3DXMatrixPerspectiveRH(m, 4, 2, 2, 8); },
         {8, 4, -8},
         {1, 1, 1}},
        {"ortho off-center RH near corner",
         [](D3DXMATRIX* m) { D3DXMatrixOrthoOffCenterRH(m, -2, 6, -1, 3, 1, 5); },
         {-2, -1, -1},
         {-1, -1, 0}},
        {"ortho off-center RH far corner",
         [](D3DXMATRIX* m) { D3DXMatrixOrthoOffCenterRH(m, -2, 6, -1, 3, 1, 5); },
         {6, 3, -5},
         {1, 1, 1}},
        {"ortho off-center RH centre",
         [](D3DXMATRIX* m) { D3DXMatrixOrthoOffCenterRH(m, -2, 6, -1, 3, 1, 5); },
         {2, 1, -3},
         {0, 0, 0.5f}},
        {"ortho RH", [](D3DXMATRIX* m) { D3DXMatrixOrthoRH(m, 4, 2, 0, 10); }, {-2, -1, -10}, {-1, -1, 1}},
        {"fov LH near corner",
         [=](D3DXMATRIX* m) { D3DXMatrixPerspectiveFovLH(m, half, 1, 1, 10); },
         {1, 1, 1},
         {1, 1, 0}},
        {"fov LH far corner",
         [=](D3DXMATRIX* m) { D3DXMatrixPerspectiveFovLH(m, half, 1, 1, 10); },
         {10, -10, 10},
         {1, -1, 1}},
        {"perspective LH",
         [](D3DXMATRIX* m) { D3DXMatrixPerspectiveLH(m, 4, 2, 2, 8); },
         {2, 1, 2},
         {1, 1, 0}},
        {"off-center LH far corner",
         [](D3DXMATRIX* m) { D3DXMatrixPerspectiveOffCenterLH(m, -1, 3, -2, 2, 1, 10); },
         {-10, -20, 10},
         {-1, -1, 1}},
        {"ortho off-center LH",
         [](D3DXMATRIX* m) { D3DXMatrixOrthoOffCenterLH(m, -1, 1, -1, 1, 0, 4); },
         {1, 1, 4},
         {1, 1, 1}},
        {"ortho LH", [](D3DXMATRIX* m) { D3DXMatrixOrthoLH(m, 4, 2, 0, 10); }, {-2, -1, 10}, {-1, -1, 1}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        D3DXMATRIX m;
        c.build(&m);
        ExpectVec3Near(TransformCoord(c.view, m), c.clip);
    }
}

TEST(D3DXMatrix, ReflectNormalisesPlaneAndMirrorsPoints)
{
    struct Case
    {
        D3DXPLANE plane;
        D3DXVECTOR3 point;
        D3DXVECTOR3 mirrored;
    };
    const Case cases[] = {
        {{0, 0, 1, 0}, {1, 2, 3}, {1, 2, -3}},  {{0, 0, 1, -1}, {1, 2, 3}, {1, 2, -1}}, // z = 1
        {{0, 0, 5, -5}, {1, 2, 3}, {1, 2, -1}}, // the same plane scaled by 5
        {{-2, 0, 0, 4}, {0, 7, 0}, {4, 7, 0}},  // x = 2, normal pointing away
        {{1, 1, 0, 0}, {1, 0, 0}, {0, -1, 0}},  // diagonal mirror
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message()
                     << c.plane.a << " " << c.plane.b << " " << c.plane.c << " " << c.plane.d);
        D3DXMATRIX m, unit;
        D3DXMatrixReflect(&m, &c.plane);
        ExpectVec3Near(TransformCoord(c.point, m), c.mirrored);
        D3DXPLANE normalised;
        D3DXPlaneNormalize(&normalised, &c.plane);
        D3DXMatrixReflect(&unit, &normalised);
        ExpectMatrixNear(m, unit, 1e-6f);
        EXPECT_NEAR(D3DXMatrixDeterminant(&m), -1.0f, kTol);
    }
}

TEST(D3DXMatrix, ShadowFlattensOntoPlaneAlongLightRays)
{
    struct Case
    {
        const char* name;
        D3DXVECTOR4 light;
        D3DXPLANE plane;
        D3DXVECTOR3 point;
        D3DXVECTOR3 shadow;
    };
    const Case cases[] = {
        // Light at (0,0,10) over the ground z = 0: (1,0,5) is halfway down the ray, so lands at x = 2.
        {"point light", {0, 0, 10, 1}, {0, 0, 1, 0}, {1, 0, 5}, {2, 0, 0}},
        {"point light, scaled plane", {0, 0, 10, 1}, {0, 0, 3, 0}, {1, 0, 5}, {2, 0, 0}},
        // w = 0: light from direction (1,0,1) (rays travel toward -L).
        {"directional light", {1, 0, 1, 0}, {0, 0, 1, 0}, {0, 0, 2}, {-2, 0, 0}},
        {"raised plane", {0, 0, 10, 1}, {0, 0, 1, -2}, {1, 1, 6}, {2, 2, 2}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        D3DXMATRIX m;
        D3DXMatrixShadow(&m, &c.light, &c.plane);
        ExpectVec3Near(TransformCoord(c.point, m), c.shadow);
    }
}

TEST(D3DXMatrix, IdentityAndTransformVariants)
{
    D3DXMATRIX m = Identity();
    EXPECT_TRUE(D3DXMatrixIsIdentity(&m));
    m._43 = 1e-7f;
    EXPECT_FALSE(D3DXMatrixIsIdentity(&m));

    // A projective matrix whose w is 2: TransformCoord divides, Transform does not, TransformNormal
    // drops the translation row.
    const D3DXMATRIX p(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 4, 6, 8, 2);
    const D3DXVECTOR3 v(2, 4, 6);
    ExpectVec3Near(TransformCoord(v, p), D3DXVECTOR3(3, 5, 7));
    D3DXVECTOR4 h;
    D3DXVec3Transform(&h, &v, &p);
    EXPECT_EQ(h, D3DXVECTOR4(6, 10, 14, 2));
    D3DXVECTOR3 n;
    D3DXVec3TransformNormal(&n, &v, &p);
    EXPECT_EQ(n, v);
    const D3DXVECTOR2 v2(2, 4);
    D3DXVECTOR2 c2;
    D3DXVec2TransformCoord(&c2, &v2, &p);
    EXPECT_EQ(c2, D3DXVECTOR2(3, 5));
    D3DXVECTOR4 h4;
    const D3DXVECTOR4 v4(2, 4, 6, 0);
    D3DXVec4Transform(&h4, &v4, &p);
    EXPECT_EQ(h4, D3DXVECTOR4(2, 4, 6, 0));
}

} // namespace
