// D3DX effects from our effect text: the engine's default effect, parameter paths, values,
// techniques, cloning and refused texts.
#include <gtest/gtest.h>

#include <functional>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/d3dx9/d3dx9.h"
#include "tests/platform/expect_refused.h"
#include "tests/platform/d3dx9_resources/fake_device.h"

namespace
{
using ferolt::test::FakeDevice;
using namespace std::string_literals;

std::string DefaultEffectText()
{
    std::ifstream in(std::string(FEROLT_SOURCE_DIR) + "/resources/effects/default_effect.fxt",
                     std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const char* const kSmallEffect = R"(ferolt-effect 1
struct Light
    int iType
    float3 vPos
end
param Light lights[4]
param float fScale
param int iCount
param bool bOn
param float4 vColour
param float4x4 matWorld
param texture tex
technique Plain 1
technique Shaded 2 shaders
technique Other 1
)";

class EffectTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        EXPECT_EQ(device_.References(), 1u) << "a device reference was leaked";
        EXPECT_EQ(device_.counters.live, 0);
    }
    ID3DXEffect* Create(const std::string& text)
    {
        ID3DXEffect* e = nullptr;
        EXPECT_EQ(D3DXCreateEffect(&device_, text.data(), UINT(text.size()), nullptr, nullptr,
                                   D3DXFX_LARGEADDRESSAWARE, nullptr, &e, nullptr),
                  S_OK);
        return e;
    }
    FakeDevice device_;
};

TEST_F(EffectTest, DefaultEffectHasEverythingTheEngineLooksUp)
{
    ID3DXEffect* e = Create(DefaultEffectText());
    ASSERT_NE(e, nullptr);
    D3DXEFFECT_DESC desc;
    ASSERT_EQ(e->GetDesc(&desc), S_OK);
    EXPECT_EQ(desc.Techniques, 2u);
    for (const char* t : {"DX9FixedFuncReplacementEffect", "DX9FixedFuncReplacementEffectNoLs"})
    {
        D3DXHANDLE h = e->GetTechniqueByName(t);
        ASSERT_NE(h, nullptr) << t;
        EXPECT_EQ(e->SetTechnique(h), S_OK);
        EXPECT_EQ(e->ValidateTechnique(h), S_OK);
    }
    for (const char* n :
         {"iLightNum", "iLightDirNum", "iLightPointSpotIni", "iLightPointNum", "iLightPointSpotNum",
          "matWorld", "matWorldView", "matWorldViewIT", "matViewIT", "matWorldViewProj", "iTexTrafNum",
          "Material", "textrafs[6].iSource", "textrafs[6].iTrafType", "textrafs[6].matTraf"})
        EXPECT_NE(e->GetParameterByName(nullptr, n), nullptr) << n;
    // The sizes the model draw writes with SetValue.
    const std::pair<const char*, UINT> members[] = {{"iType", 4},         {"vPos", 12},     {"vDir", 12},
                                                    {"vAmbient", 16},     {"vDiffuse", 16}, {"vSpecular", 16},
                                                    {"vAttenuation", 16}, {"vSpot", 12}};
    for (int i = 0; i < 10; ++i)
        for (auto [member, bytes] : members)
        {
            char name[64];
            std::snprintf(name, sizeof name, "lights[%i].%s", i, member);
            D3DXHANDLE h = e->GetParameterByName(nullptr, name);
            ASSERT_NE(h, nullptr) << name;
            D3DXPARAMETER_DESC d;
            ASSERT_EQ(e->GetParameterDesc(h, &d), S_OK);
            EXPECT_EQ(d.Bytes, bytes) << name;
        }
    D3DMATERIAL9 m{};
    m.Power = 12.5f;
    D3DXHANDLE material = e->GetParameterByName(nullptr, "Material");
    EXPECT_EQ(e->SetValue(material, &m, sizeof m), S_OK);
    EXPECT_EQ(e->CommitChanges(), S_OK);
    e->Release();
}

TEST_F(EffectTest, ParameterPathsResolveOrGiveNull)
{
    ID3DXEffect* e = Create(kSmallEffect);
    ASSERT_NE(e, nullptr);
    D3DXHANDLE lights = e->GetParameterByName(nullptr, "lights");
    D3DXHANDLE third = e->GetParameterElement(lights, 3);
    ASSERT_NE(third, nullptr);
    D3DXHANDLE vPos3 = e->GetParameterByName(third, "vPos");
    ASSERT_NE(vPos3, nullptr);
    struct Case
    {
        const char* path;
        D3DXHANDLE expected; // nullptr: not found
    };
    const Case cases[] = {
        {"lights[3].vPos", vPos3},
        {"lights[3]", third},
        {"lights", lights},
        {"lights[4].vPos", nullptr},
        {"lights.vPos", nullptr},
        {"lights[3].vNope", nullptr},
        {"lights[3].vPos[0]", nullptr},
        {"lights[3].vPos.x", nullptr},
        {"fScale.x", nullptr},
        {"lights[", nullptr},
        {"lights[]", nullptr},
        {"lights[3", nullptr},
        {"lights[99999999999999999999999]", nullptr},
        {"", nullptr},
        {"LIGHTS[3].vPos", nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(e->GetParameterByName(nullptr, c.path), c.expected) << c.path;
    EXPECT_EQ(e->GetParameterElement(lights, 4), nullptr);
    EXPECT_EQ(e->GetParameterElement(vPos3, 0), nullptr);
    EXPECT_EQ(e->GetParameter(nullptr, 0), lights);
    EXPECT_EQ(e->GetParameter(nullptr, 7), nullptr);
    // A name works wherever a handle does.
    const float pos[3] = {1, 2, 3};
    EXPECT_EQ(e->SetValue("lights[3].vPos", pos, sizeof pos), S_OK);
    float back[3] = {};
    EXPECT_EQ(e->GetValue(vPos3, back, sizeof back), S_OK);
    EXPECT_EQ(back[2], 3.0f);
    e->Release();
}

TEST_F(EffectTest, SettersConvertAndCheckSizes)
{
    ID3DXEffect* e = Create(kSmallEffect);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->SetInt("fScale", 3), S_OK);
    FLOAT f = 0;
    EXPECT_EQ(e->GetFloat("fScale", &f), S_OK);
    EXPECT_EQ(f, 3.0f);
    EXPECT_EQ(e->SetFloat("iCount", 7.9f), S_OK);
    INT n = 0;
    EXPECT_EQ(e->GetInt("iCount", &n), S_OK);
    EXPECT_EQ(n, 7);
    EXPECT_EQ(e->SetInt("bOn", 42), S_OK);
    BOOL b = FALSE;
    EXPECT_EQ(e->GetBool("bOn", &b), S_OK);
    EXPECT_EQ(b, TRUE);
    const D3DXVECTOR4 colour(0.1f, 0.2f, 0.3f, 0.4f);
    EXPECT_EQ(e->SetVector("vColour", &colour), S_OK);
    D3DXVECTOR4 colourBack;
    EXPECT_EQ(e->GetVector("vColour", &colourBack), S_OK);
    EXPECT_EQ(colourBack, colour);

    D3DXMATRIX m;
    for (int i = 0; i < 16; ++i)
        m.m[i / 4][i % 4] = float(i);
    D3DXMATRIX back;
    EXPECT_EQ(e->SetMatrixTranspose("matWorld", &m), S_OK);
    EXPECT_EQ(e->GetMatrix("matWorld", &back), S_OK);
    EXPECT_EQ(back.m[0][1], 4.0f);
    EXPECT_EQ(e->GetMatrixTranspose("matWorld", &back), S_OK);
    EXPECT_EQ(back.m[0][1], 1.0f);

    struct Refused
    {
        const char* name;
        std::function<HRESULT()> call;
        const char* rule;
    };
    // Arrays of the kinds whose calls take one element only.
    ID3DXEffect* arrays = Create("ferolt-effect 1\nparam float4 vList[2]\nparam float4x4 mList[2]\n"
                                 "param texture tList[2]\ntechnique Plain 1\n");
    ASSERT_NE(arrays, nullptr);
    uint8_t big[256] = {};
    IDirect3DBaseTexture9* texture = nullptr;
    const Refused refused[] = {
        {"value larger than the parameter", [&] { return e->SetValue("vColour", big, 17); },
         "Effect.SetValue.OutOfRange"},
        {"value on a missing parameter", [&] { return e->SetValue("nothing", big, 4); },
         "Effect.SetValue.NoParameter"},
        {"value from no data", [&] { return e->SetValue("vColour", nullptr, 4); },
         "Effect.SetValue.NullPointer"},
        {"value on a texture", [&] { return e->SetValue("tex", big, 4); }, "Effect.SetValue.WrongType"},
        {"value of a missing parameter", [&] { return e->GetValue("nothing", big, 4); },
         "Effect.GetValue.NoParameter"},
        {"value into no data", [&] { return e->GetValue("vColour", nullptr, 4); },
         "Effect.GetValue.NullPointer"},
        {"value of a texture", [&] { return e->GetValue("tex", big, 4); }, "Effect.GetValue.WrongType"},
        {"matrix from no matrix", [&] { return e->SetMatrix("matWorld", nullptr); },
         "Effect.PutMatrix.NullPointer"},
        {"matrix on a missing parameter", [&] { return e->SetMatrix("nothing", &m); },
         "Effect.PutMatrix.NoParameter"},
        {"matrix on a vector", [&] { return e->SetMatrix("vColour", &m); }, "Effect.PutMatrix.WrongType"},
        {"matrix on an array", [&] { return arrays->SetMatrix("mList", &m); }, "Effect.PutMatrix.WholeArray"},
        {"matrix into no matrix", [&] { return e->GetMatrixTranspose("matWorld", nullptr); },
         "Effect.TakeMatrix.NullPointer"},
        {"matrix of a missing parameter", [&] { return e->GetMatrix("nothing", &m); },
         "Effect.TakeMatrix.NoParameter"},
        {"matrix of a number", [&] { return e->GetMatrix("fScale", &m); }, "Effect.TakeMatrix.WrongType"},
        {"matrix of an array", [&] { return arrays->GetMatrix("mList", &m); },
         "Effect.TakeMatrix.WholeArray"},
        {"vector from no vector", [&] { return e->SetVector("vColour", nullptr); },
         "Effect.SetVector.NullPointer"},
        {"vector on a missing parameter", [&] { return e->SetVector("nothing", &colour); },
         "Effect.SetVector.NoParameter"},
        {"vector on a matrix", [&] { return e->SetVector("matWorld", &colour); },
         "Effect.SetVector.WrongType"},
        {"vector on an array", [&] { return arrays->SetVector("vList", &colour); },
         "Effect.SetVector.WholeArray"},
        {"vector into no vector", [&] { return e->GetVector("vColour", nullptr); },
         "Effect.GetVector.NullPointer"},
        {"vector of a missing parameter", [&] { return e->GetVector("nothing", &colourBack); },
         "Effect.GetVector.NoParameter"},
        {"vector of a struct", [&] { return e->GetVector("lights[0]", &colourBack); },
         "Effect.GetVector.WrongType"},
        {"vector of an array", [&] { return arrays->GetVector("vList", &colourBack); },
         "Effect.GetVector.WholeArray"},
        {"integer on a missing parameter", [&] { return e->SetInt("nothing", 1); },
         "Effect.SetNumbers.NoParameter"},
        {"integer on a struct", [&] { return e->SetInt("lights[0]", 1); }, "Effect.SetNumbers.WrongType"},
        {"float on a texture", [&] { return e->SetFloat("tex", 1.0f); }, "Effect.SetNumbers.WrongType"},
        {"empty float array",
         [&] { return e->SetFloatArray("vColour", reinterpret_cast<const float*>(big), 0); },
         "Effect.SetNumbers.Empty"},
        {"float array past the end",
         [&] { return e->SetFloatArray("vColour", reinterpret_cast<const float*>(big), 5); },
         "Effect.SetNumbers.OutOfRange"},
        {"float into no float", [&] { return e->GetFloat("fScale", nullptr); },
         "Effect.GetNumber.NullPointer"},
        {"integer of a missing parameter", [&] { return e->GetInt("nothing", reinterpret_cast<INT*>(big)); },
         "Effect.GetNumber.NoParameter"},
        {"boolean of a texture", [&] { return e->GetBool("tex", reinterpret_cast<BOOL*>(big)); },
         "Effect.GetNumber.WrongType"},
        {"texture on a missing parameter", [&] { return e->SetTexture("nothing", nullptr); },
         "Effect.SetTexture.NoParameter"},
        {"texture on a number", [&] { return e->SetTexture("fScale", nullptr); },
         "Effect.SetTexture.WrongType"},
        {"texture on an array", [&] { return arrays->SetTexture("tList", nullptr); },
         "Effect.SetTexture.WholeArray"},
        {"texture into no pointer", [&] { return e->GetTexture("tex", nullptr); },
         "Effect.GetTexture.NullPointer"},
        {"texture of a missing parameter", [&] { return e->GetTexture("nothing", &texture); },
         "Effect.GetTexture.NoParameter"},
        {"texture of a vector", [&] { return e->GetTexture("vColour", &texture); },
         "Effect.GetTexture.WrongType"},
        {"texture of an array", [&] { return arrays->GetTexture("tList", &texture); },
         "Effect.GetTexture.WholeArray"},
    };
    for (const Refused& r : refused)
    {
        SCOPED_TRACE(r.name);
        EXPECT_REFUSED(r.call(), r.rule);
    }
    // The whole array of structures in one value.
    EXPECT_EQ(e->SetValue("lights", big, 4 * 16), S_OK);
    arrays->Release();
    e->Release();
}

TEST_F(EffectTest, TechniquesValidateOnlyWithoutShaders)
{
    ID3DXEffect* e = Create(kSmallEffect);
    ASSERT_NE(e, nullptr);
    UINT passes = 0;
    EXPECT_REFUSED(e->Begin(&passes, 0), "Effect.Begin.NoTechnique");
    struct Case
    {
        const char* name;
        HRESULT validate;
    };
    const Case cases[] = {{"Plain", S_OK}, {"Shaded", E_FAIL}, {"Other", S_OK}};
    for (const Case& c : cases)
    {
        D3DXHANDLE h = e->GetTechniqueByName(c.name);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(e->ValidateTechnique(h), c.validate) << c.name;
        EXPECT_EQ(e->SetTechnique(h), S_OK);
        EXPECT_EQ(e->GetCurrentTechnique(), h);
    }
    EXPECT_EQ(e->GetTechniqueByName("Missing"), nullptr);
    EXPECT_REFUSED(e->SetTechnique(nullptr), "Effect.SetTechnique.NullPointer");
    EXPECT_REFUSED(e->SetTechnique(e->GetParameterByName(nullptr, "fScale")),
                   "Effect.SetTechnique.NullPointer");
    D3DXHANDLE next = nullptr;
    EXPECT_EQ(e->FindNextValidTechnique(e->GetTechniqueByName("Plain"), &next), S_OK);
    EXPECT_EQ(next, e->GetTechniqueByName("Other"));
    EXPECT_EQ(e->SetTechnique("Shaded"), S_OK);
    EXPECT_EQ(e->Begin(&passes, 0), S_OK);
    EXPECT_EQ(passes, 2u);
    EXPECT_REFUSED(e->Begin(&passes, 0), "Effect.Begin.Begun");
    EXPECT_TRUE(FAILED(e->BeginPass(0)));
    EXPECT_EQ(e->End(), S_OK);
    EXPECT_EQ(e->OnLostDevice(), S_OK);
    EXPECT_EQ(e->OnResetDevice(), S_OK);
    e->Release();
}

TEST_F(EffectTest, CloneKeepsValuesTechniqueAndHandles)
{
    ID3DXEffect* e = Create(kSmallEffect);
    ASSERT_NE(e, nullptr);
    FakeDevice other;
    IDirect3DTexture9* tex = nullptr;
    ASSERT_EQ(device_.CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &tex, nullptr), S_OK);
    D3DXHANDLE scale = e->GetParameterByName(nullptr, "fScale");
    EXPECT_EQ(e->SetFloat(scale, 2.5f), S_OK);
    EXPECT_EQ(e->SetTechnique("Other"), S_OK);
    EXPECT_EQ(e->SetTexture("tex", tex), S_OK);
    struct Case
    {
        const char* name;
        IDirect3DDevice9* device;
        bool keepsTexture;
    };
    const Case cases[] = {{"same device", &device_, true}, {"other device", &other, false}};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        ID3DXEffect* clone = nullptr;
        ASSERT_EQ(e->CloneEffect(c.device, &clone), S_OK);
        FLOAT f = 0;
        EXPECT_EQ(clone->GetFloat(scale, &f), S_OK) << "handles of the original work on the clone";
        EXPECT_EQ(f, 2.5f);
        EXPECT_EQ(clone->GetCurrentTechnique(), e->GetTechniqueByName("Other"));
        IDirect3DBaseTexture9* got = nullptr;
        EXPECT_EQ(clone->GetTexture("tex", &got), S_OK);
        EXPECT_EQ(got != nullptr, c.keepsTexture);
        if (got) got->Release();
        // The clone's values are its own.
        EXPECT_EQ(clone->SetFloat(scale, 9.0f), S_OK);
        EXPECT_EQ(e->GetFloat(scale, &f), S_OK);
        EXPECT_EQ(f, 2.5f);
        clone->Release();
    }
    tex->Release();
    EXPECT_EQ(device_.counters.live, 1) << "the effect still holds the texture";
    e->Release();
    EXPECT_EQ(other.References(), 1u);
}

TEST_F(EffectTest, MissingMemberGivesNullHandleOnly)
{
    std::string text = DefaultEffectText();
    const std::string spot = "    float3 vSpot";
    const size_t at = text.find(spot);
    ASSERT_NE(at, std::string::npos);
    text.erase(at, text.find('\n', at) - at);
    ID3DXEffect* e = Create(text);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->GetParameterByName(nullptr, "lights[3].vSpot"), nullptr);
    EXPECT_NE(e->GetParameterByName(nullptr, "lights[3].vAttenuation"), nullptr);
    e->Release();
}

TEST_F(EffectTest, RefusedTextsFailWithInvalidData)
{
    const std::pair<const char*, std::string> cases[] = {
        {"not an effect", "MZ\x90\x00 some binary"},
        {"wrong version", "ferolt-effect 2\ntechnique T 1\n"},
        {"no technique", "ferolt-effect 1\nparam int a\n"},
        {"unknown type", "ferolt-effect 1\nparam double a\ntechnique T 1\n"},
        {"struct without end", "ferolt-effect 1\nstruct S\n int a\ntechnique T 1\n"},
        {"struct used inside itself", "ferolt-effect 1\nstruct S\n S inner\nend\ntechnique T 1\n"},
        {"parameter declared twice", "ferolt-effect 1\nparam int a\nparam float a\ntechnique T 1\n"},
        {"empty array", "ferolt-effect 1\nparam int a[0]\ntechnique T 1\n"},
        {"huge array", "ferolt-effect 1\nparam float4x4 a[4000000000]\ntechnique T 1\n"},
        {"arrays multiplying past the limits",
         "ferolt-effect 1\nstruct A\n float4x4 m[4096]\nend\nparam A a[4096]\ntechnique T 1\n"},
        {"zero passes", "ferolt-effect 1\ntechnique T 0\n"},
        {"zero inside the text", "ferolt-effect 1\n\0param int a\ntechnique T 1\n"s},
    };
    for (const auto& [name, text] : cases)
    {
        SCOPED_TRACE(name);
        ID3DXEffect* e = reinterpret_cast<ID3DXEffect*>(1);
        ID3DXBuffer* errors = nullptr;
        EXPECT_EQ(D3DXCreateEffect(&device_, text.data(), UINT(text.size()), nullptr, nullptr, 0, nullptr, &e,
                                   &errors),
                  D3DXERR_INVALIDDATA);
        EXPECT_EQ(e, nullptr);
        ASSERT_NE(errors, nullptr);
        EXPECT_GT(errors->GetBufferSize(), 1u);
        errors->Release();
    }
    ID3DXEffect* e = nullptr;
    EXPECT_REFUSED(D3DXCreateEffect(nullptr, kSmallEffect, 10, nullptr, nullptr, 0, nullptr, &e, nullptr),
                   "D3DXCreateEffect.NoDevice");
    EXPECT_REFUSED(D3DXCreateEffect(&device_, nullptr, 10, nullptr, nullptr, 0, nullptr, &e, nullptr),
                   "D3DXCreateEffect.NullData");
    EXPECT_REFUSED(D3DXCreateEffect(&device_, kSmallEffect, 0, nullptr, nullptr, 0, nullptr, &e, nullptr),
                   "D3DXCreateEffect.Empty");
}
} // namespace
