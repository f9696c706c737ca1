// Material records read into descriptions, and materials loaded by name through the loader registry.
#include "material_fixture.h"

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "engine/core/globals.h"
#include "engine/core/material_loader_lists.h"
#include "engine/core/material_record.h"
#include "platform/mfc/afx_string.h"
#include "tests/support/material_pack_writer.h"

using LMK::Material_;
using LMK::MaterialDescriptionStruct_TYP;
using materialtest::MaterialTest;

namespace
{
using ferolt::test::Bytes;

Bytes Str(const char* text)
{
    return ferolt::test::InlineName(text);
}

Bytes Index(WORD index)
{
    return ferolt::test::NameIndex(index);
}

Bytes Modes(const std::vector<signed char>& modes)
{
    return ferolt::test::ChangeModes(std::vector<int8_t>(modes.begin(), modes.end()));
}

// A packed 55-byte transform: u offset, address modes, flag byte, effect index and speed.
Bytes Transform(float uOffset, BYTE addressU, BYTE flagByte, INT effect, float speed)
{
    ferolt::test::PackedTransformFields f;
    f.matrix = {2.0f, 0.0f, 0.0f, 3.0f, uOffset, 0.0f};
    f.addressU = addressU;
    f.addressV = 2;
    f.borderColour = 0xFF112233u;
    f.flags = flagByte;
    f.effectIndex = effect;
    f.effectParams = {1.0f, 2.0f, 3.0f};
    f.extraWord = 0xBEEF;
    f.extraByte = 7;
    f.speed = speed;
    f.pingPong = 1;
    return ferolt::test::PackedTransform(f);
}

struct RecordDesc
{
    DWORD version = 3;
    DWORD flags = 0;
    DWORD diffuse = 0xFF336699u;
    float mirror = 0.25f;
    std::vector<Bytes> parts = {};
    bool projection = false;
    DWORD sizeDelta = 0; // added to the true size in the size field
};

Bytes Record(const RecordDesc& desc)
{
    ferolt::test::MaterialRecordFields f;
    f.version = desc.version;
    f.flags = desc.flags;
    f.colours[1] = desc.diffuse;
    f.mirrorReflectivity = desc.mirror;
    f.projection = desc.projection ? 1 : 0;
    f.sizeDelta = desc.sizeDelta;
    for (const Bytes& part : desc.parts)
        f.body.insert(f.body.end(), part.begin(), part.end());
    return ferolt::test::MaterialRecord(f);
}

std::string Text(const char* s)
{
    return s ? s : "(null)";
}
} // namespace

TEST(MaterialRecord, ReadsEachVersionAndRejectsWhatDoesNotFit)
{
    using Check = void (*)(const MaterialDescriptionStruct_TYP&);
    struct Case
    {
        const char* title;
        RecordDesc desc;
        bool withTable;
        bool ok;
        Check check;
        DWORD givenSize = 0; // 0: the record's length
    };
    const Case cases[] = {
        {"version 1: 17 modes, mirror 0.5",
         {1, 0x0011, 0xFF336699u, 0, {Modes({1, 2, 3, 4, 5, -1, 0, 1, 2, 3, 4,
                                             5, 0, 1, 2, 3, 4,  5, 5, 5, 5})}},
         false,
         true,
         [](const MaterialDescriptionStruct_TYP& d)
         {
             EXPECT_EQ(d.keepDiffuse, 1);
             EXPECT_EQ(d.changeModesPresent, 1);
             EXPECT_EQ(d.changeModes.modes[5], -1);
             EXPECT_EQ(d.changeModes.modes[16], 4);
             for (int i = 17; i < 21; ++i)
                 EXPECT_EQ(d.changeModes.modes[i], 0) << i;
             EXPECT_EQ(d.mirrorReflectivity, 0.5f);
             EXPECT_FLOAT_EQ(d.material.Diffuse.g, 0x66 / 255.0f);
             EXPECT_EQ(d.material.Power, 12.0f);
             EXPECT_EQ(d.bumpHeight, 3.0f);
         }},
        {"version 2 keeps its mirror reflectivity and 21 modes",
         {2, 0x10010, 0xFF336699u, 0.3f, {Modes(std::vector<signed char>(21, 2))}},
         false,
         true,
         [](const MaterialDescriptionStruct_TYP& d)
         {
             EXPECT_EQ(d.mirrorReflectivity, 0.3f);
             EXPECT_EQ(d.mirror, 1);
             EXPECT_EQ(d.changeModes.modes[20], 2);
         }},
        {"inline names and every flag byte",
         {3,
          0xF7FF7,
          0xFF336699u,
          0.25f,
          {Str("Stone"), Str("a.png"), Str("b.png"), Str("c.png"), Modes({}), Transform(0.5f, 3, 3, -4, 2.0f),
           Transform(0, 1, 0, 0, 0), Transform(0, 1, 0, 0, 0)}},
         false,
         true,
         [](const MaterialDescriptionStruct_TYP& d)
         {
             EXPECT_EQ(Text(d.name) + Text(d.baseFile) + Text(d.bumpFile) + Text(d.reflectionFile),
                       "Stonea.pngb.pngc.png");
             EXPECT_EQ(d.keepDiffuse + d.alphaTest + d.twoSided + d.baseAsReflection + d.carriedByteB, 5);
             EXPECT_EQ(d.additiveReflection, 1u);
             EXPECT_EQ(d.variant20000 + d.variant40000 + d.variant80000, 3);
             EXPECT_EQ(d.baseTransform.matrix._41, 0.5f);
             EXPECT_EQ(d.baseTransform.matrix._11, 2.0f);
             EXPECT_EQ(d.baseTransform.matrix._33, 1.0f);
             EXPECT_EQ(d.baseTransform.addressU, 3u);
             EXPECT_EQ(d.baseTransform.animated + d.baseTransform.pointFilter, 2);
             EXPECT_EQ(d.baseTransform.effectIndex, 0); // negative
             EXPECT_EQ(d.baseTransform.borderColor, 0xFF112233u);
             EXPECT_EQ(d.baseTransform.extraWord, 0xBEEF);
             EXPECT_EQ(d.baseTransform.speed, 2.0f);
         }},
        {"bump from base: no bump name or transform, nothing skipped",
         {3, 0x8 | 0x2000 | 0x40 | 0x20, 0xFF336699u, 0.25f, {Transform(0.75f, 1, 0, 0, 0)}},
         false,
         true,
         [](const MaterialDescriptionStruct_TYP& d)
         {
             EXPECT_EQ(d.bumpFile, nullptr);
             EXPECT_EQ(d.baseTransform.matrix._41, 0.75f);
             EXPECT_EQ(d.bumpTransform.matrix._11, 1.0f); // identity
             EXPECT_EQ(d.bumpTransform.addressU, 1u);
         }},
        {"table indices: known, past the table",
         {3,
          0x8000 | 0x1000 | 0x4000 | 0x20,
          0xFF336699u,
          0.25f,
          {Index(1), Index(7), Transform(0.25f, 1, 0, 0, 0)}},
         true,
         true,
         [](const MaterialDescriptionStruct_TYP& d)
         {
             EXPECT_EQ(Text(d.baseFile), "B.PNG");
             EXPECT_EQ(d.reflectionFile, nullptr);
             EXPECT_EQ(d.baseTransform.matrix._41, 0.25f);
         }},
        {"indices without a table take their two bytes",
         {3, 0x8000 | 0x1000 | 0x20, 0xFF336699u, 0.25f, {Index(0), Transform(0.25f, 1, 0, 0, 0)}},
         false,
         true,
         [](const MaterialDescriptionStruct_TYP& d)
         {
             EXPECT_EQ(d.baseFile, nullptr);
             EXPECT_EQ(d.baseTransform.matrix._41, 0.25f);
         }},
        {"projection overwrites the base transform",
         {3, 0, 0xFF336699u, 0.25f, {}, true},
         false,
         true,
         [](const MaterialDescriptionStruct_TYP& d)
         {
             EXPECT_EQ(d.baseTransformPresent, 0);
             EXPECT_EQ(d.baseTransform.matrix._31, 0.1f);
             EXPECT_EQ(d.baseTransform.matrix._44, 0.6f);
         }},
        {"unknown version", {.version = 4}, false, false, nullptr},
        {"size field beyond the bytes given",
         {3, 0, 0xFF336699u, 0.25f, {}, false, 1},
         false,
         false,
         nullptr},
        {"fewer bytes than a version 1 header", {.version = 1}, false, false, nullptr, 37},
        {"a name that runs past the record",
         {3, 0x800, 0xFF336699u, 0.25f, {Bytes{'a', 'b'}}},
         false,
         false,
         nullptr},
        {"a transform cut short", {3, 0x20, 0xFF336699u, 0.25f, {Bytes(54, 0)}}, false, false, nullptr},
    };
    char a[] = "A.PNG", b[] = "B.PNG";
    char* table[] = {a, b};
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        Bytes bytes = Record(c.desc);
        const DWORD given = c.givenSize ? c.givenSize : static_cast<DWORD>(bytes.size());
        MaterialDescriptionStruct_TYP* d = nullptr;
        DWORD consumed = 99;
        bool ok = LMK::ReadMaterialRecord(c.withTable ? table : nullptr, bytes.data(), given, &d,
                                          c.withTable ? 2 : 0, &consumed);
        ASSERT_EQ(ok, c.ok);
        if (!ok)
        {
            EXPECT_EQ(d, nullptr);
            EXPECT_EQ(consumed, 0u);
            EXPECT_EQ(LRReadMaterialRecord(bytes.data(), given, &d), E_FAIL);
            continue;
        }
        EXPECT_EQ(consumed, bytes.size());
        c.check(*d);
        LRFreeMaterialDescription(&d);
    }
    BYTE one = 1;
    MaterialDescriptionStruct_TYP* d = nullptr;
    EXPECT_EQ(LRReadMaterialRecord(nullptr, 10, &d), E_INVALIDARG);
    EXPECT_EQ(LRReadMaterialRecord(&one, 0, &d), E_INVALIDARG);
    EXPECT_EQ(LRReadMaterialRecord(&one, 1, nullptr), E_INVALIDARG);
}

// ---------------------------------------------------------------------------------------------------
namespace
{
struct Served
{
    std::map<std::string, Bytes> files; // upper-cased name -> bytes
    std::map<std::string, std::vector<std::pair<std::string, DWORD>>> alternatives;
    int loads = 0;
    int releasesWithData = 0;
};

std::string Upper(const char* name)
{
    CString s(name);
    s.MakeUpper();
    return std::string(static_cast<LPCSTR>(s));
}

int __stdcall ServeLoad(const LMK::LoaderRequestStruct_TYP* request, void** data, DWORD* size,
                        void** resolved, DWORD*)
{
    auto* served = static_cast<Served*>(request->context);
    auto it = served->files.find(Upper(request->name));
    if (it == served->files.end()) return LMK::kLoaderNotMine;
    ++served->loads;
    *data = it->second.data();
    *size = static_cast<DWORD>(it->second.size());
    *resolved = nullptr;
    return LMK::kLoaderDelivered;
}

void __stdcall ServeRelease(void* context, void* data, void*, DWORD, LMK::LoadedPart_*)
{
    if (data) ++static_cast<Served*>(context)->releasesWithData;
}

int __stdcall ServeAlternatives(void* context, const char* name,
                                IlumoVector<LMK::LoaderAlternativeStruct_TYP>* list)
{
    auto* served = static_cast<Served*>(context);
    auto it = served->alternatives.find(Upper(name));
    if (it == served->alternatives.end()) return LMK::kLoaderNotMine;
    for (const auto& [alternative, value] : it->second)
        list->PushBack({CString(alternative.c_str()), value});
    return 0;
}

class MaterialLoadTest : public MaterialTest
{
protected:
    void SetUp() override
    {
        MaterialTest::SetUp();
        LMK::LoaderCallbacksStruct_TYP cb{ServeLoad, ServeRelease, nullptr,
                                          &served_,  nullptr,      ServeAlternatives};
        ASSERT_EQ(LRRegisterLoader(LoadedPartMaterial, &cb, true, &loader_), S_OK);
    }

    Served served_;
    LMK::Loader_* loader_ = nullptr;
};
} // namespace

TEST_F(MaterialLoadTest, NamesShareOneRecord)
{
    RecordDesc desc;
    served_.files["DIR\\A.MAT"] = Record(desc);
    Material_* a = nullptr;
    Material_* b = nullptr;
    ASSERT_EQ(LRLoadMaterial("dir\\a.mat", &a), S_OK);
    ASSERT_EQ(LRLoadMaterial("DIR\\A.MAT", &b), S_OK);
    EXPECT_EQ(a, b);
    EXPECT_EQ(served_.loads, 1);
    EXPECT_EQ(a->refCount, 2u);
    ASSERT_NE(a->loadRecord, nullptr);
    EXPECT_STREQ(a->loadRecord->name, "DIR\\A.MAT");
    EXPECT_EQ(a->loadRecord->data, nullptr); // given back once built
    EXPECT_EQ(served_.releasesWithData, 1);
    EXPECT_FLOAT_EQ(a->material.Diffuse.b, 0x99 / 255.0f);
    EXPECT_STREQ(LMK::CurrentGlobals->materialLoader.context.currentDirectory, "DIR");

    // Released to nothing it waits in the release cache, and the next load takes it back.
    a->Release();
    b->Release();
    EXPECT_EQ(LMK::CurrentGlobals->releaseCache.parked.size(), 1u);
    Material_* again = nullptr;
    ASSERT_EQ(LRLoadMaterial("Dir\\A.mat", &again), S_OK);
    EXPECT_EQ(again, a);
    EXPECT_EQ(served_.loads, 1);
    again->Release();
}

TEST_F(MaterialLoadTest, AlternativesLoadOncePerMaterial)
{
    served_.files["A.MAT"] = Record(RecordDesc{});
    served_.files["B.MAT"] = Record(RecordDesc{.diffuse = 0xFF0000FFu});
    served_.alternatives["A.MAT"] = {{"b.mat", 7}, {"missing.mat", 8}, {"a.mat", 9}};
    served_.alternatives["B.MAT"] = {{"a.mat", 1}};

    Material_* a = nullptr;
    ASSERT_EQ(LRLoadMaterial("a.mat", &a), S_OK);
    // The missing one and the material itself are left out; b, loaded as an alternative, has none.
    ASSERT_EQ(a->alternatives.size(), 1u);
    Material_* b = a->alternatives[0].material;
    EXPECT_EQ(a->alternatives[0].value, 7u);
    EXPECT_TRUE(b->alternatives.empty());
    EXPECT_EQ(a->refCount, 1u);

    // A reused material does not append its alternatives again, neither live nor parked.
    Material_* reused = nullptr;
    ASSERT_EQ(LRLoadMaterial("A.MAT", &reused), S_OK);
    EXPECT_EQ(a->alternatives.size(), 1u);
    reused->Release();
    a->Release();
    ASSERT_EQ(LRLoadMaterial("a.mat", &reused), S_OK);
    EXPECT_EQ(reused, a);
    EXPECT_EQ(a->alternatives.size(), 1u);
    EXPECT_EQ(b->refCount, 1u);
    reused->Release();
}

TEST_F(MaterialLoadTest, AlternativesDoNotDependOnLoadOrder)
{
    served_.files["A.MAT"] = Record(RecordDesc{});
    served_.files["B.MAT"] = Record(RecordDesc{.diffuse = 0xFF0000FFu});
    served_.files["C.MAT"] = Record(RecordDesc{.diffuse = 0xFF00FF00u});
    served_.alternatives["A.MAT"] = {{"b.mat", 7}};
    served_.alternatives["B.MAT"] = {{"c.mat", 3}};

    Material_* a = nullptr;
    ASSERT_EQ(LRLoadMaterial("a.mat", &a), S_OK);
    ASSERT_EQ(a->alternatives.size(), 1u);
    Material_* b = a->alternatives[0].material;
    EXPECT_TRUE(b->alternatives.empty()); // built as an alternative

    // Loaded by name afterwards, b has the list it would have had loaded first, once.
    for (int load = 1; load <= 2; ++load)
    {
        Material_* direct = nullptr;
        ASSERT_EQ(LRLoadMaterial("b.mat", &direct), S_OK);
        EXPECT_EQ(direct, b);
        ASSERT_EQ(b->alternatives.size(), 1u) << "load " << load;
        EXPECT_EQ(b->alternatives[0].value, 3u);
        EXPECT_EQ(b->alternatives[0].material->refCount, 1u);
        direct->Release();
    }
    a->Release();
}

TEST_F(MaterialLoadTest, AlternativesThatNameEachOtherHoldNoCycle)
{
    served_.files["A.MAT"] = Record(RecordDesc{});
    served_.files["B.MAT"] = Record(RecordDesc{.diffuse = 0xFF0000FFu});
    served_.files["C.MAT"] = Record(RecordDesc{.diffuse = 0xFF00FF00u});
    served_.alternatives["A.MAT"] = {{"b.mat", 1}};
    served_.alternatives["B.MAT"] = {{"c.mat", 2}, {"a.mat", 3}};
    served_.alternatives["C.MAT"] = {{"a.mat", 4}};

    Material_* a = nullptr;
    ASSERT_EQ(LRLoadMaterial("a.mat", &a), S_OK);
    Material_* b = nullptr;
    ASSERT_EQ(LRLoadMaterial("b.mat", &b), S_OK);
    Material_* c = nullptr;
    ASSERT_EQ(LRLoadMaterial("c.mat", &c), S_OK);
    // a holds b, which holds c: neither b nor c takes a, each of them kept alive by the other.
    ASSERT_EQ(b->alternatives.size(), 1u);
    EXPECT_EQ(b->alternatives[0].material, c);
    EXPECT_TRUE(c->alternatives.empty());
    EXPECT_EQ(a->refCount, 1u);
    c->Release();
    b->Release();
    a->Release();
}

TEST_F(MaterialLoadTest, UnreadableDataIsUnloaded)
{
    served_.files["BAD.MAT"] = Bytes{'n', 'o', 't', ' ', 'a', ' ', 'm', 'a', 't', 'e', 'r', 'i', 'a', 'l'};
    for (int attempt = 1; attempt <= 2; ++attempt)
    {
        Material_* m = reinterpret_cast<Material_*>(1);
        EXPECT_EQ(LRLoadMaterial("bad.mat", &m), E_FAIL);
        EXPECT_EQ(m, nullptr);
        // The record went back to its loader and out of the registry, so the next load asks again.
        EXPECT_EQ(served_.loads, attempt);
        EXPECT_EQ(served_.releasesWithData, attempt);
    }
    Material_* m = nullptr;
    EXPECT_TRUE(FAILED(LRLoadMaterial("nobody-serves-this.mat", &m)));
    EXPECT_EQ(m, nullptr);
}
