// Quaternion composition order, conversions to and from matrices, and interpolation.
#include "tests/platform/d3dx9/math_test_util.h"

namespace
{

D3DXQUATERNION AxisAngle(const D3DXVECTOR3& axis, float angle)
{
    D3DXQUATERNION q;
    return *D3DXQuaternionRotationAxis(&q, &axis, angle);
}

D3DXMATRIX MatrixOf(const D3DXQUATERNION& q)
{
    D3DXMATRIX m;
    return *D3DXMatrixRotationQuaternion(&m, &q);
}

// Same rotation: q and -q are equivalent.
void ExpectSameRotation(const D3DXQUATERNION& a, const D3DXQUATERNION& b, float tol = kTol)
{
    const float sign = D3DXQuaternionDot(&a, &b) < 0 ? -1.0f : 1.0f;
    EXPECT_NEAR(a.x, sign * b.x, tol);
    EXPECT_NEAR(a.y, sign * b.y, tol);
    EXPECT_NEAR(a.z, sign * b.z, tol);
    EXPECT_NEAR(a.w, sign * b.w, tol);
}

struct AxisAngleCase
{
    D3DXVECTOR3 axis;
    float angle;
};

const AxisAngleCase kRotations[] = {
    {{1, 0, 0}, 0.5f},     {{0, 1, 0}, -1.2f}, {{0, 0, 2}, 2.5f},   {{1, 2, 3}, 0.9f},
    {{-1, 1, 0}, D3DX_PI}, {{0, 1, 1}, 3.0f},  {{3, -1, 2}, -2.9f}, {{1, 0, 0}, 0.0f},
};

TEST(D3DXQuaternion, MatchesAxisRotationMatrixAndRoundTrips)
{
    for (const auto& c : kRotations)
    {
        SCOPED_TRACE(testing::Message()
                     << c.axis.x << "," << c.axis.y << "," << c.axis.z << " @ " << c.angle);
        const D3DXQUATERNION q = AxisAngle(c.axis, c.angle);
        EXPECT_NEAR(D3DXQuaternionLength(&q), 1.0f, kTol);
        D3DXMATRIX expected;
        D3DXMatrixRotationAxis(&expected, &c.axis, c.angle);
        ExpectMatrixNear(MatrixOf(q), expected);

        // Back from the matrix, whichever diagonal element the conversion pivots on.
        D3DXQUATERNION back;
        D3DXQuaternionRotationMatrix(&back, &expected);
        ExpectSameRotation(back, q);
    }
}

TEST(D3DXQuaternion, MultiplyAppliesFirstOperandFirst)
{
    for (const auto& a : kRotations)
        for (const auto& b : {kRotations[1], kRotations[3], kRotations[6]})
        {
            const D3DXQUATERNION q1 = AxisAngle(a.axis, a.angle);
            const D3DXQUATERNION q2 = AxisAngle(b.axis, b.angle);
            D3DXQUATERNION q;
            D3DXQuaternionMultiply(&q, &q1, &q2);
            D3DXMATRIX expected;
            const D3DXMATRIX m1 = MatrixOf(q1), m2 = MatrixOf(q2);
            D3DXMatrixMultiply(&expected, &m1, &m2);
            ExpectMatrixNear(MatrixOf(q), expected);
            EXPECT_EQ(q1 * q2, q);
        }

    // Hand-worked: a quarter turn about z then a quarter turn about x sends x to y, then y to z.
    const D3DXQUATERNION qz = AxisAngle(D3DXVECTOR3(0, 0, 1), D3DX_PI / 2);
    const D3DXQUATERNION qx = AxisAngle(D3DXVECTOR3(1, 0, 0), D3DX_PI / 2);
    D3DXQUATERNION q;
    D3DXQuaternionMultiply(&q, &qz, &qx);
    ExpectVec3Near(TransformCoord(D3DXVECTOR3(1, 0, 0), MatrixOf(q)), D3DXVECTOR3(0, 0, 1));
}

TEST(D3DXQuaternion, YawPitchRollMatchesMatrix)
{
    const float angles[][3] = {
        {0.3f, 0, 0}, {0, 0.3f, 0}, {0, 0, 0.3f}, {0.4f, -1.1f, 2.0f}, {3.0f, 1.5f, -0.7f}};
    for (const auto& a : angles)
    {
        D3DXQUATERNION q;
        D3DXMATRIX expected;
        D3DXQuaternionRotationYawPitchRoll(&q, a[0], a[1], a[2]);
        D3DXMatrixRotationYawPitchRoll(&expected, a[0], a[1], a[2]);
        ExpectMatrixNear(MatrixOf(q), expected);
    }
}

TEST(D3DXQuaternion, SlerpEndpointsMidpointAndShortArc)
{
    const D3DXVECTOR3 axis(0, 0, 1);
    const D3DXQUATERNION q1 = AxisAngle(axis, 0.2f);
    const D3DXQUATERNION q2 = AxisAngle(axis, 1.4f);
    struct Case
    {
        const char* name;
        D3DXQUATERNION from, to;
        float t;
        D3DXQUATERNION expected;
    };
    const Case cases[] = {
        {"start", q1, q2, 0.0f, q1},
        {"end", q1, q2, 1.0f, q2},
        {"middle", q1, q2, 0.5f, AxisAngle(axis, 0.8f)},
        {"quarter", q1, q2, 0.25f, AxisAngle(axis, 0.5f)},
        // -q2 is the same rotation; slerp must not take the long way round.
        {"other hemisphere", q1, -q2, 0.5f, AxisAngle(axis, 0.8f)},
        {"nearly equal", q1, AxisAngle(axis, 0.2f + 1e-4f), 0.5f, AxisAngle(axis, 0.2f + 5e-5f)},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        D3DXQUATERNION q;
        D3DXQuaternionSlerp(&q, &c.from, &c.to, c.t);
        ExpectSameRotation(q, c.expected);
        EXPECT_NEAR(D3DXQuaternionLength(&q), 1.0f, kTol);
    }
    D3DXQUATERNION q;
    D3DXQuaternionSlerp(&q, &q1, &q2, 0.0f);
    EXPECT_EQ(q, q1);
    D3DXQuaternionSlerp(&q, &q1, &q2, 1.0f);
    EXPECT_EQ(q, q2);
}

TEST(D3DXQuaternion, NormalizeInverseAndDegenerateInput)
{
    const D3DXQUATERNION q(1, 2, 3, 4);
    D3DXQUATERNION n, inv, product;
    D3DXQuaternionNormalize(&n, &q);
    EXPECT_NEAR(D3DXQuaternionLength(&n), 1.0f, kTol);
    EXPECT_NEAR(n.w / n.x, 4.0f, kTol);

    D3DXQuaternionInverse(&inv, &q);
    D3DXQuaternionMultiply(&product, &q, &inv);
    ExpectSameRotation(product, D3DXQUATERNION(0, 0, 0, 1));
    D3DXQUATERNION conj;
    D3DXQuaternionConjugate(&conj, &q);
    EXPECT_EQ(conj, D3DXQUATERNION(-1, -2, -3, 4));

    const D3DXQUATERNION zero(0, 0, 0, 0);
    EXPECT_EQ(*D3DXQuaternionNormalize(&n, &zero), zero);
    EXPECT_EQ(*D3DXQuaternionInverse(&inv, &zero), zero);
    D3DXQUATERNION id;
    const D3DXVECTOR3 noAxis(0, 0, 0);
    EXPECT_TRUE(D3DXQuaternionIsIdentity(D3DXQuaternionRotationAxis(&id, &noAxis, 1.0f)));
}

} // namespace
