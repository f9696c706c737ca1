// Lights from parameters: defaults, attenuation presets, transforms, reference counts and the API's
// argument checks.
#include "engine/core/lr_light_api.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>

namespace
{
using LMK::Light_;
using LMK::LightParamsStruct_TYP;

constexpr float kTol = 1e-5f;

void ExpectVec(const D3DVECTOR& v, float x, float y, float z, const char* what)
{
    EXPECT_NEAR(v.x, x, kTol) << what;
    EXPECT_NEAR(v.y, y, kTol) << what;
    EXPECT_NEAR(v.z, z, kTol) << what;
}

LightParamsStruct_TYP Defaults()
{
    LightParamsStruct_TYP p;
    EXPECT_EQ(LRGetDefaultLightParams(&p), S_OK);
    return p;
}

// Owns one reference of a light made from a block.
struct LightHolder
{
    explicit LightHolder(const LightParamsStruct_TYP& p) { EXPECT_EQ(LRCreateLight(&p, &light), S_OK); }
    ~LightHolder() { LRReleaseLight(&light); }
    Light_* light = nullptr;
};

TEST(LightParams, DefaultsFillTheWholeBlock)
{
    LightParamsStruct_TYP p;
    std::memset(&p, 0xCC, sizeof(p));
    ASSERT_EQ(LRGetDefaultLightParams(&p), S_OK);
    const D3DLIGHT9& l = p.light;
    EXPECT_EQ(l.Type, D3DLIGHT_POINT);
    const float colours[3][4] = {{1, 1, 1, 1}, {0.6f, 0.6f, 0.6f, 1}, {0.2f, 0.2f, 0.2f, 1}};
    const D3DCOLORVALUE* got[3] = {&l.Diffuse, &l.Specular, &l.Ambient};
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_FLOAT_EQ(got[i]->r, colours[i][0]);
        EXPECT_FLOAT_EQ(got[i]->g, colours[i][1]);
        EXPECT_FLOAT_EQ(got[i]->b, colours[i][2]);
        EXPECT_FLOAT_EQ(got[i]->a, colours[i][3]);
    }
    ExpectVec(l.Position, 0, 0, 0, "position");
    ExpectVec(l.Direction, 0, 0, -1, "direction");
    EXPECT_FLOAT_EQ(l.Range, 50.0f);
    EXPECT_FLOAT_EQ(l.Falloff, 1.0f);
    EXPECT_FLOAT_EQ(l.Attenuation0, 0.0f);
    EXPECT_FLOAT_EQ(l.Attenuation1, 1.0f);
    EXPECT_FLOAT_EQ(l.Attenuation2, 0.0f);
    EXPECT_FLOAT_EQ(l.Theta, std::numbers::pi_v<float> / 5);
    EXPECT_FLOAT_EQ(l.Phi, std::numbers::pi_v<float> / 2);
    EXPECT_EQ(p.diffuseOn, 1);
    EXPECT_EQ(p.specularOn, 1);
    EXPECT_EQ(p.ambientOn, 1);
    EXPECT_EQ(p.spotFalloff, 0);
    EXPECT_EQ(p.attenuationPreset, 4u);
    EXPECT_EQ(p.glowType, 1u);
    EXPECT_EQ(p.flareType, 1u);
    EXPECT_FLOAT_EQ(p.glowSize, 1.0f);
    EXPECT_FLOAT_EQ(p.flareSize, 30.0f);
    EXPECT_FLOAT_EQ(p.intensity, 1.0f);
    EXPECT_FLOAT_EQ(p.flareAlpha, 0.5f);
    EXPECT_FLOAT_EQ(p.glowAlpha, 0.5f);
    EXPECT_EQ(p.castsShadows, 1);
    EXPECT_EQ(p.reserved[0] | p.reserved[1] | p.reserved[2], 0);
    EXPECT_FLOAT_EQ(p.hardness, 1.0f);
}

TEST(LightParams, CreateFromDefaultsIsAPointLightAtTheOriginLookingDownZ)
{
    LightParamsStruct_TYP p = Defaults();
    p.light.Position = {5, 5, 5};
    p.light.Direction = {1, 0, 0};
    p.light.Diffuse.a = p.light.Specular.a = p.light.Ambient.a = 0.25f;
    LightHolder h(p);
    ASSERT_NE(h.light, nullptr);
    EXPECT_EQ(h.light->refCount, 1u);
    const D3DLIGHT9& l = h.light->params.light;
    ExpectVec(l.Position, 0, 0, 0, "the block's position is replaced");
    ExpectVec(l.Direction, 0, 0, -1, "the block's direction is replaced");
    EXPECT_FLOAT_EQ(l.Attenuation0, 1.0f);
    EXPECT_FLOAT_EQ(l.Attenuation1, 0.1f);
    EXPECT_FLOAT_EQ(l.Attenuation2, 0.0f);
    EXPECT_EQ(l.Diffuse.a, 1.0f);
    EXPECT_EQ(l.Specular.a, 1.0f);
    EXPECT_EQ(l.Ambient.a, 1.0f);
    EXPECT_FLOAT_EQ(l.Diffuse.r, 1.0f) << "colours themselves are kept";
}

TEST(LightParams, AttenuationPresetsReplaceOnlyOneToSix)
{
    struct Case
    {
        uint32_t preset;
        float a0, a1, a2;
    };
    const Case cases[] = {
        {0, 7, 8, 9},    {1, 1, 0, 0},    {2, 1, 0.001f, 0}, {3, 1, 0.01f, 0}, {4, 1, 0.1f, 0},
        {5, 1, 0.5f, 0}, {6, 1, 1.0f, 0}, {7, 7, 8, 9},      {9, 7, 8, 9},     {0xFFFFFFFFu, 7, 8, 9},
    };
    for (const Case& c : cases)
    {
        LightParamsStruct_TYP p = Defaults();
        p.attenuationPreset = c.preset;
        p.light.Attenuation0 = 7;
        p.light.Attenuation1 = 8;
        p.light.Attenuation2 = 9;
        LightHolder h(p);
        const D3DLIGHT9& l = h.light->params.light;
        EXPECT_EQ(l.Attenuation0, c.a0) << "preset " << c.preset;
        EXPECT_EQ(l.Attenuation1, c.a1) << "preset " << c.preset;
        EXPECT_EQ(l.Attenuation2, c.a2) << "preset " << c.preset;
        EXPECT_EQ(h.light->params.attenuationPreset, c.preset);
    }
}

TEST(LightTransform, PositionAndDirectionFollowTheMatrix)
{
    struct Case
    {
        const char* name;
        std::function<void(D3DXMATRIX*)> make; // null: SetTransform(nullptr)
        float pos[3];
        float dir[3];
    };
    const float s6 = 1.0f / std::sqrt(6.0f);
    const Case cases[] = {
        {"identity", nullptr, {0, 0, 0}, {0, 0, -1}},
        {"translation", [](D3DXMATRIX* m) { D3DXMatrixTranslation(m, 1, 2, 3); }, {1, 2, 3}, {0, 0, -1}},
        {"quarter turn about y",
         [](D3DXMATRIX* m) { D3DXMatrixRotationY(m, std::numbers::pi_v<float> / 2); },
         {0, 0, 0},
         {-1, 0, 0}},
        {"scaled direction is normalised",
         [](D3DXMATRIX* m)
         {
             D3DXMATRIX t;
             D3DXMatrixScaling(m, 2, 2, 2);
             D3DXMatrixTranslation(&t, 0, 0, 5);
             D3DXMatrixMultiply(m, m, &t);
         },
         {0, 0, 5},
         {0, 0, -1}},
        // Origin: (2, 4, 6) / 2. Ahead: (2, 4, 5) / 1.5, so the step is (1, 2, 1) / 3.
        {"homogeneous divide",
         [](D3DXMATRIX* m)
         {
             D3DXMatrixIdentity(m);
             m->_34 = 0.5f;
             m->_41 = 2;
             m->_42 = 4;
             m->_43 = 6;
             m->_44 = 2;
         },
         {1, 2, 3},
         {s6, 2 * s6, s6}},
    };
    for (const Case& c : cases)
    {
        LightHolder h(Defaults());
        D3DXMATRIX m;
        if (c.make)
        {
            c.make(&m);
            h.light->SetTransform(&m);
            EXPECT_EQ(std::memcmp(h.light->matrix, &m, sizeof(m)), 0) << c.name;
        }
        else
            h.light->SetTransform(nullptr);
        ExpectVec(h.light->params.light.Position, c.pos[0], c.pos[1], c.pos[2], c.name);
        ExpectVec(h.light->params.light.Direction, c.dir[0], c.dir[1], c.dir[2], c.name);

        // New parameters keep the place the matrix gives.
        LightParamsStruct_TYP p = Defaults();
        p.light.Position = {9, 9, 9};
        ASSERT_EQ(LRSetLightParams(h.light, &p), S_OK);
        ExpectVec(h.light->params.light.Position, c.pos[0], c.pos[1], c.pos[2], c.name);
        ExpectVec(h.light->params.light.Direction, c.dir[0], c.dir[1], c.dir[2], c.name);
    }
}

TEST(LightTransform, PositionDirectionIsTheCameraLightVector)
{
    LightHolder h(Defaults());
    D3DXMATRIX moved;
    D3DXMatrixTranslation(&moved, 4, 5, 6);
    h.light->SetTransform(&moved);
    const D3DXVECTOR3 v(3, 0, 4);
    ASSERT_EQ(LRSetLightPositionDirection(h.light, &v), S_OK);
    ExpectVec(h.light->params.light.Position, 3, 0, 4, "position");
    ExpectVec(h.light->params.light.Direction, 0.6f, 0, 0.8f, "direction");
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    EXPECT_EQ(std::memcmp(h.light->matrix, &identity, sizeof(identity)), 0);
}

TEST(LightTransform, MatrixFromPositionDirectionIsAProperFiniteBasis)
{
    struct Case
    {
        D3DXVECTOR3 p, d;
    };
    const Case cases[] = {
        {{1, 2, 3}, {0, 0, -2}}, {{0, 0, 0}, {0, 0, 3}}, {{-1, 0, 2}, {3, 4, 0}}, {{0, 0, 0}, {0, 5, 0}},
        {{7, 8, 9}, {0, -3, 4}}, {{0, 0, 0}, {1, 1, 1}}, {{0, 0, 0}, {-2, 0, 0}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "d = (" << c.d.x << ", " << c.d.y << ", " << c.d.z << ")");
        D3DXMATRIX m;
        LMK::LightMatrixFromPositionDirection(c.p, c.d, &m);
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k)
                EXPECT_TRUE(std::isfinite(m.m[r][k]));
        D3DXVECTOR3 origin(0, 0, 0), forward(0, 0, -1), got;
        D3DXVec3TransformCoord(&got, &origin, &m);
        ExpectVec(got, c.p.x, c.p.y, c.p.z, "origin");
        D3DXVECTOR3 f;
        D3DXVec3Normalize(&f, &c.d);
        D3DXVec3TransformCoord(&got, &forward, &m);
        ExpectVec(got, c.p.x + f.x, c.p.y + f.y, c.p.z + f.z, "ahead");
        // The rotation rows are orthonormal.
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b)
            {
                const float dot = m.m[a][0] * m.m[b][0] + m.m[a][1] * m.m[b][1] + m.m[a][2] * m.m[b][2];
                EXPECT_NEAR(dot, a == b ? 1.0f : 0.0f, kTol) << "rows " << a << ", " << b;
            }
    }
}

TEST(LightTransform, ZeroDirectionStaysFinite)
{
    D3DXMATRIX m;
    LMK::LightMatrixFromPositionDirection(D3DXVECTOR3(1, 2, 3), D3DXVECTOR3(0, 0, 0), &m);
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k)
            EXPECT_TRUE(std::isfinite(m.m[r][k]));
    LightHolder h(Defaults());
    h.light->SetTransform(&m);
    ExpectVec(h.light->params.light.Position, 1, 2, 3, "position");
    ExpectVec(h.light->params.light.Direction, 0, 0, 0, "direction");
}

TEST(LightShadow, ParametersByType)
{
    struct Case
    {
        D3DLIGHTTYPE type;
        float expected[3];
    };
    const Case cases[] = {
        {D3DLIGHT_DIRECTIONAL, {0, 0, 200}},
        {D3DLIGHT_POINT, {1, 2, 3}},
        {D3DLIGHT_SPOT, {1, 2, 3}},
    };
    for (const Case& c : cases)
    {
        LightParamsStruct_TYP p = Defaults();
        p.light.Type = c.type;
        p.light.Diffuse = {0.25f, 0.5f, 1.0f, 1.0f};
        LightHolder h(p);
        D3DXMATRIX m;
        D3DXMatrixTranslation(&m, 1, 2, 3);
        h.light->SetTransform(&m);
        D3DXVECTOR4 position;
        D3DXCOLOR colour;
        h.light->GetShadowParameters(&position, &colour);
        EXPECT_NEAR(position.x, c.expected[0], kTol) << c.type;
        EXPECT_NEAR(position.y, c.expected[1], kTol) << c.type;
        EXPECT_NEAR(position.z, c.expected[2], kTol) << c.type;
        EXPECT_EQ(position.w, 1.0f);
        EXPECT_FLOAT_EQ(colour.r, 0.75f);
        EXPECT_FLOAT_EQ(colour.g, 0.5f);
        EXPECT_FLOAT_EQ(colour.b, 0.0f);
        EXPECT_FLOAT_EQ(colour.a, 0.5f);
    }
}

TEST(LightRefCount, HoldersShareOneLight)
{
    LMK::Light_* first = nullptr;
    const LightParamsStruct_TYP p = Defaults();
    ASSERT_EQ(LRCreateLight(&p, &first), S_OK);
    LMK::Light_* second = first;
    EXPECT_EQ(LRAddRefLight(second), S_OK);
    EXPECT_EQ(first->refCount, 2u);

    EXPECT_EQ(LRReleaseLight(&first), S_OK);
    EXPECT_EQ(first, nullptr) << "only the caller's pointer is cleared";
    ASSERT_EQ(second->refCount, 1u);
    LightParamsStruct_TYP out;
    EXPECT_EQ(LRGetLightParams(second, &out), S_OK) << "still alive";

    EXPECT_EQ(LRReleaseLight(&second), S_OK); // the last holder deletes it (a leak shows under ASan)
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(LRReleaseLight(&second), S_OK) << "a cleared pointer is a no-op";
}

TEST(LightApi, NullArgumentsAreRejected)
{
    LightHolder h(Defaults());
    LightParamsStruct_TYP p = Defaults();
    LMK::Light_* out = reinterpret_cast<LMK::Light_*>(0x1);
    const D3DXVECTOR3 v(1, 0, 0);
    struct Case
    {
        const char* name;
        std::function<HRESULT()> call;
        HRESULT expected;
    };
    const Case cases[] = {
        {"defaults into null", [] { return LRGetDefaultLightParams(nullptr); }, E_INVALIDARG},
        {"create without params", [&] { return LRCreateLight(nullptr, &out); }, E_INVALIDARG},
        {"create without out", [&] { return LRCreateLight(&p, nullptr); }, E_INVALIDARG},
        {"add-ref of null", [] { return LRAddRefLight(nullptr); }, S_OK},
        {"release of null", [] { return LRReleaseLight(nullptr); }, E_INVALIDARG},
        {"set params of null light", [&] { return LRSetLightParams(nullptr, &p); }, E_INVALIDARG},
        {"set null params", [&] { return LRSetLightParams(h.light, nullptr); }, E_INVALIDARG},
        {"get params of null light", [&] { return LRGetLightParams(nullptr, &p); }, E_INVALIDARG},
        {"get params into null", [&] { return LRGetLightParams(h.light, nullptr); }, E_INVALIDARG},
        {"position of null light", [&] { return LRSetLightPositionDirection(nullptr, &v); }, E_INVALIDARG},
        {"null position", [&] { return LRSetLightPositionDirection(h.light, nullptr); }, E_INVALIDARG},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.call(), c.expected) << c.name;
    EXPECT_EQ(h.light->refCount, 1u);
}

TEST(LightApi, GetParamsReturnsTheDerivedBlock)
{
    LightParamsStruct_TYP p = Defaults();
    p.intensity = 2.5f;
    p.glowType = 3;
    p.light.Specular.a = 0;
    LightHolder h(p);
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, 0, 1, 0);
    h.light->SetTransform(&m);
    LightParamsStruct_TYP out;
    std::memset(&out, 0xCC, sizeof(out));
    ASSERT_EQ(LRGetLightParams(h.light, &out), S_OK);
    EXPECT_EQ(std::memcmp(&out, &h.light->params, sizeof(out)), 0);
    EXPECT_EQ(out.intensity, 2.5f);
    EXPECT_EQ(out.glowType, 3u);
    EXPECT_EQ(out.light.Specular.a, 1.0f);
    ExpectVec(out.light.Position, 0, 1, 0, "position");
}
} // namespace
