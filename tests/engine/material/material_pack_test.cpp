// Material records read field by field, and "LKMA" packs read into slot arrays, whole and damaged.
#include "material_fixture.h"

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "engine/core/material_record.h"
#include "tests/support/material_pack_writer.h"

using ferolt::test::Bytes;
using ferolt::test::MaterialPackFields;
using ferolt::test::MaterialRecordFields;
using LMK::Material_;
using LMK::MaterialDescriptionStruct_TYP;
using materialtest::MaterialTest;

namespace
{
D3DCOLORVALUE Argb(uint32_t argb)
{
    return {((argb >> 16) & 0xFF) / 255.0f, ((argb >> 8) & 0xFF) / 255.0f, (argb & 0xFF) / 255.0f,
            (argb >> 24) / 255.0f};
}

// What a record written with the writer's default fields reads as: its colours, numbers and no flags.
MaterialDescriptionStruct_TYP DefaultDescription(uint32_t version)
{
    MaterialDescriptionStruct_TYP d;
    std::memset(&d, 0, sizeof d);
    d.material.Ambient = Argb(0xFF101010u);
    d.material.Diffuse = Argb(0xFF336699u);
    d.material.Specular = Argb(0xFF808080u);
    d.material.Emissive = Argb(0xFF000000u);
    d.material.Power = 12.0f;
    d.reflectionWeight = 0.5f;
    d.bumpHeight = 3.0f;
    d.mirrorReflectivity = version == 1 ? 0.5f : 0.25f;
    LMK::SetIdentityTextureTransform(&d.baseTransform);
    LMK::SetIdentityTextureTransform(&d.bumpTransform);
    LMK::SetIdentityTextureTransform(&d.reflectionTransform);
    return d;
}

// A transform with every field away from its default, and what it reads as.
ferolt::test::PackedTransformFields FullTransform(float seed)
{
    ferolt::test::PackedTransformFields f;
    f.matrix = {seed, seed + 1, seed + 2, seed + 3, seed + 4, seed + 5};
    f.addressU = 3;
    f.addressV = 4;
    f.borderColour = 0x80112233u;
    f.flags = 3;
    f.effectIndex = 2;
    f.effectParams = {seed * 2, seed * 3, seed * 4};
    f.extraWord = 0xBEEF;
    f.extraByte = 7;
    f.speed = seed / 2;
    f.pingPong = 1;
    return f;
}

LMK::TextureTransformStruct_TYP Read(const ferolt::test::PackedTransformFields& f)
{
    LMK::TextureTransformStruct_TYP t;
    std::memset(&t, 0, sizeof t);
    t.matrix._11 = f.matrix[0];
    t.matrix._12 = f.matrix[1];
    t.matrix._21 = f.matrix[2];
    t.matrix._22 = f.matrix[3];
    t.matrix._41 = f.matrix[4];
    t.matrix._42 = f.matrix[5];
    t.matrix._33 = t.matrix._44 = 1.0f;
    t.addressU = f.addressU;
    t.addressV = f.addressV;
    t.borderColor = f.borderColour;
    t.animated = f.flags & 1;
    t.pointFilter = (f.flags >> 1) & 1;
    t.effectIndex = f.effectIndex < 0 ? 0 : f.effectIndex;
    std::memcpy(t.effectParams, f.effectParams.data(), sizeof t.effectParams);
    t.extraWord = f.extraWord;
    t.extraByte = f.extraByte;
    t.speed = f.speed;
    t.pingPong = f.pingPong;
    return t;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

char* Dup(const char* text)
{
    return text ? strdup(text) : nullptr;
}

const char* const kTable[] = {"WALL.PNG", "ROOF.PNG", "SKY.PNG"};
} // namespace

// Each version, every flag byte, change mode and transform field, names inline and through the table:
// the description holds exactly what was written.
TEST(MaterialRecordFields, EveryFieldReadsAsWritten)
{
    using ferolt::test::ChangeModes;
    using ferolt::test::InlineName;
    using ferolt::test::NameIndex;
    using ferolt::test::PackedTransform;
    std::vector<int8_t> modes(21);
    for (int i = 0; i < 21; ++i)
        modes[i] = static_cast<int8_t>(i % 2 ? -i : i);
    const auto base = FullTransform(1.0f), bump = FullTransform(10.0f), reflection = FullTransform(20.0f);
    auto negative = FullTransform(30.0f);
    negative.effectIndex = -5;

    struct Case
    {
        const char* title;
        MaterialRecordFields fields;
        bool withTable;
        std::function<void(MaterialDescriptionStruct_TYP&)> expect;
    } cases[] = {
        {"version 1: 16-bit flags, 17 modes, mirror 0.5",
         {.version = 1, .flags = 0x0017, .body = ChangeModes(modes)},
         false,
         [&](MaterialDescriptionStruct_TYP& d)
         {
             d.keepDiffuse = d.alphaTest = d.twoSided = d.changeModesPresent = 1;
             for (int i = 0; i < 17; ++i)
                 d.changeModes.modes[i] = modes[i];
         }},
        {"version 2: 21 modes, its mirror reflectivity, flags above 16 bits",
         {.version = 2, .flags = 0x10010 | 0x20000 | 0x40000 | 0x80000, .body = ChangeModes(modes)},
         false,
         [&](MaterialDescriptionStruct_TYP& d)
         {
             d.changeModesPresent = d.mirror = d.variant20000 = d.variant40000 = d.variant80000 = 1;
             for (int i = 0; i < 21; ++i)
                 d.changeModes.modes[i] = modes[i];
         }},
        {"version 3: inline names, three transforms, reflection bytes",
         {.version = 3,
          .flags = 0x800 | 0x1000 | 0x2000 | 0x4000 | 0x20 | 0x40 | 0x80 | 0x100 | 0x200 | 0x400,
          .colours = {0x01020304u, 0xFEDCBA98u, 0x7F000080u, 0x00FF00FFu},
          .power = 40.0f,
          .reflectionWeight = 0.125f,
          .bumpHeight = -2.0f,
          .mirrorReflectivity = 0.875f,
          .body = Join({InlineName("Brick"), InlineName("brick.png"), InlineName("bump.png"),
                        InlineName("env.png"), PackedTransform(base), PackedTransform(bump),
                        PackedTransform(reflection)})},
         false,
         [&](MaterialDescriptionStruct_TYP& d)
         {
             d.material.Ambient = Argb(0x01020304u);
             d.material.Diffuse = Argb(0xFEDCBA98u);
             d.material.Specular = Argb(0x7F000080u);
             d.material.Emissive = Argb(0x00FF00FFu);
             d.material.Power = 40.0f;
             d.reflectionWeight = 0.125f;
             d.bumpHeight = -2.0f;
             d.mirrorReflectivity = 0.875f;
             d.name = Dup("Brick");
             d.baseFile = Dup("brick.png");
             d.bumpFile = Dup("bump.png");
             d.reflectionFile = Dup("env.png");
             d.baseTransformPresent = d.bumpTransformPresent = d.reflectionTransformPresent = 1;
             d.additiveReflection = 1;
             d.baseAsReflection = d.carriedByteB = 1;
             d.baseTransform = Read(base);
             d.bumpTransform = Read(bump);
             d.reflectionTransform = Read(reflection);
         }},
        {"names through the table, one past it; the material name stays inline",
         {.version = 3,
          .flags = 0x8000 | 0x800 | 0x1000 | 0x2000 | 0x4000,
          .body = Join({InlineName("Roof"), NameIndex(1), NameIndex(3), NameIndex(2)})},
         true,
         [&](MaterialDescriptionStruct_TYP& d)
         {
             d.name = Dup("Roof");
             d.baseFile = Dup("ROOF.PNG");
             d.reflectionFile = Dup("SKY.PNG");
         }},
        {"indices without a table name nothing and take their bytes",
         {.version = 2, .flags = 0x8000 | 0x1000 | 0x20, .body = Join({NameIndex(0), PackedTransform(base)})},
         false,
         [&](MaterialDescriptionStruct_TYP& d)
         {
             d.baseTransformPresent = 1;
             d.baseTransform = Read(base);
         }},
        {"bump from base: no bump name or transform read, none skipped",
         {.version = 3, .flags = 0x8 | 0x2000 | 0x40 | 0x80, .body = PackedTransform(reflection)},
         false,
         [&](MaterialDescriptionStruct_TYP& d)
         {
             d.bumpFromBase = d.bumpTransformPresent = d.reflectionTransformPresent = 1;
             d.reflectionTransform = Read(reflection);
         }},
        {"a negative effect index reads as 0; the projection overwrites six elements",
         {.version = 3, .flags = 0x20, .projection = 1, .body = PackedTransform(negative)},
         false,
         [&](MaterialDescriptionStruct_TYP& d)
         {
             d.baseTransformPresent = 1;
             d.baseTransform = Read(negative);
             D3DMATRIX& m = d.baseTransform.matrix;
             m._31 = 0.1f, m._32 = 0.2f, m._14 = 0.3f, m._24 = 0.4f, m._34 = 0.5f, m._44 = 0.6f;
         }},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        const Bytes record = ferolt::test::MaterialRecord(c.fields);
        MaterialDescriptionStruct_TYP expected = DefaultDescription(c.fields.version);
        c.expect(expected);
        MaterialDescriptionStruct_TYP* d = nullptr;
        DWORD consumed = 0;
        ASSERT_TRUE(LMK::ReadMaterialRecord(c.withTable ? kTable : nullptr, record.data(),
                                            static_cast<DWORD>(record.size()), &d, c.withTable ? 3 : 0,
                                            &consumed));
        EXPECT_EQ(consumed, record.size());
        EXPECT_EQ(materialtest::Differences(*d, expected), "");
        LRFreeMaterialDescription(&d);
        for (char* name : {expected.name, expected.baseFile, expected.bumpFile, expected.reflectionFile})
            std::free(name);
    }
}

// Damaged records are rejected without reading past the bytes given; damage that the format allows
// (an index past the table) only loses the name.
TEST(MaterialRecordFields, DamagedRecordsAreRejected)
{
    using ferolt::test::InlineName;
    // Cut inside each version's header, and just past the header of a record that needs more.
    for (uint32_t version : {1u, 2u, 3u})
    {
        const Bytes whole =
            ferolt::test::MaterialRecord({.version = version, .flags = 0x800, .body = InlineName("Wall")});
        for (size_t cut = 2; cut < whole.size(); cut += 2)
        {
            SCOPED_TRACE("version " + std::to_string(version) + " cut at " + std::to_string(cut));
            const Bytes part(whole.begin(), whole.begin() + cut);
            MaterialDescriptionStruct_TYP* d = nullptr;
            EXPECT_FALSE(
                LMK::ReadMaterialRecord(nullptr, part.data(), static_cast<DWORD>(cut), &d, 0, nullptr));
            EXPECT_EQ(d, nullptr);
        }
    }
    struct Case
    {
        const char* title;
        MaterialRecordFields fields;
    } cases[] = {
        {"size field one past the end", {.sizeDelta = 1}},
        {"size field smaller than a version 3 header", {.sizeDelta = -40}},
        {"size field smaller than a version 2 header", {.version = 2, .sizeDelta = -1}},
        {"material name without its end", {.flags = 0x800, .body = Bytes{'W', 'a', 'l', 'l'}}},
        {"texture name without its end", {.flags = 0x1000, .body = Bytes{'a', '.'}}},
        {"index cut in half", {.flags = 0x8000 | 0x1000, .body = Bytes{1}}},
        {"change modes cut short", {.flags = 0x10, .body = Bytes(23, 0)}},
        {"transform cut short", {.flags = 0x20, .body = Bytes(54, 0)}},
        {"unknown version", {.version = 4}},
        {"version 0", {.version = 0}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        const Bytes record = ferolt::test::MaterialRecord(c.fields);
        // The record sits in a longer buffer, so that only the size checks keep the reader inside it.
        Bytes buffer = record;
        buffer.resize(record.size() + 64, 'x');
        MaterialDescriptionStruct_TYP* d = nullptr;
        DWORD consumed = 7;
        EXPECT_FALSE(LMK::ReadMaterialRecord(kTable, buffer.data(), static_cast<DWORD>(record.size()), &d, 3,
                                             &consumed));
        EXPECT_EQ(d, nullptr);
        EXPECT_EQ(consumed, 0u);
    }
}

// ---------------------------------------------------------------------------------------------------
namespace
{
struct LoadedPack
{
    HRESULT result = E_FAIL;
    std::vector<Material_*> slots;
    DWORD consumed = 0;
};

LoadedPack Load(const Bytes& pack)
{
    // An exact-size copy, so that the sanitizers see any read past the pack.
    Bytes copy = pack;
    LoadedPack out;
    Material_** array = nullptr;
    DWORD count = 0;
    out.result = LRLoadMaterialPack(copy.empty() ? nullptr : copy.data(), static_cast<DWORD>(copy.size()),
                                    &array, &count, &out.consumed);
    if (array) out.slots.assign(array, array + count);
    auto* parts = reinterpret_cast<LMK::LoadedPart_**>(array);
    if (parts) LRReleaseLoadedPartArray(&parts, count);
    return out;
}

// The diffuse colour of each slot as 0xRRGGBB, or "-" for an empty slot, read before the array goes.
std::string Colours(const Bytes& pack, HRESULT* result = nullptr)
{
    Bytes copy = pack;
    Material_** array = nullptr;
    DWORD count = 0;
    HRESULT hr = LRLoadMaterialPack(copy.data(), static_cast<DWORD>(copy.size()), &array, &count, nullptr);
    if (result) *result = hr;
    std::string out;
    for (DWORD i = 0; i < count; ++i)
    {
        if (!array[i])
        {
            out += "-";
            continue;
        }
        char text[16];
        std::snprintf(text, sizeof text, "%02x",
                      static_cast<int>(array[i]->material.Diffuse.r * 255.0f + 0.5f));
        out += text;
    }
    auto* parts = reinterpret_cast<LMK::LoadedPart_**>(array);
    if (parts) LRReleaseLoadedPartArray(&parts, count);
    return out;
}

// A record whose diffuse red channel tells it apart.
Bytes Red(uint8_t red)
{
    MaterialRecordFields f;
    f.colours[1] = 0xFF000000u | uint32_t{red} << 16;
    return ferolt::test::MaterialRecord(f);
}
} // namespace

class MaterialPackTest : public MaterialTest
{
};

TEST_F(MaterialPackTest, SlotsShareTheirMaterialsAndConsumedCountsTheWholePack)
{
    // Slots {0, empty, 0} of one material: both filled slots hold the same material, counted twice.
    const Bytes pack = ferolt::test::MaterialPack({.slots = {0, 0xFFFFFFFF, 0}, .records = {Red(0x11)}});
    Material_** array = nullptr;
    DWORD count = 0, consumed = 0;
    ASSERT_EQ(LRLoadMaterialPack(pack.data(), static_cast<DWORD>(pack.size()), &array, &count, &consumed),
              S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(array[0], array[2]);
    EXPECT_EQ(array[1], nullptr);
    ASSERT_NE(array[0], nullptr);
    EXPECT_EQ(array[0]->refCount, 2u);
    EXPECT_EQ(consumed, pack.size());
    auto* parts = reinterpret_cast<LMK::LoadedPart_**>(array);
    ASSERT_EQ(LRReleaseLoadedPartArray(&parts, count), S_OK);

    // Two slots, ten string bytes and one record of 120 bytes: 28 + 8 + 10 + 120.
    MaterialRecordFields fields;
    fields.flags = 0x8000 | 0x1000 | 0x800;
    fields.body = Join({ferolt::test::InlineName("Named"), ferolt::test::NameIndex(1), Bytes(32, 0)});
    const Bytes record = ferolt::test::MaterialRecord(fields);
    ASSERT_EQ(record.size(), 120u);
    const Bytes named =
        ferolt::test::MaterialPack({.slots = {0, 0}, .strings = {"a.pn", "b.pn"}, .records = {record}});
    const LoadedPack loaded = Load(named);
    EXPECT_EQ(loaded.result, S_OK);
    EXPECT_EQ(loaded.consumed, 166u);
}

TEST_F(MaterialPackTest, StringsPointIntoThePack)
{
    const Bytes pack = ferolt::test::MaterialPack({.strings = {"wall.png", "", "roof.png"}});
    const char** strings = nullptr;
    DWORD count = 0;
    ASSERT_EQ(LRGetMaterialPackStrings(pack.data(), static_cast<DWORD>(pack.size()), &strings, &count), S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_STREQ(strings[0], "wall.png");
    EXPECT_STREQ(strings[1], "");
    EXPECT_EQ(strings[2], reinterpret_cast<const char*>(pack.data()) + 28 + 10);
    EXPECT_EQ(LRFreeMaterialPackStrings(&strings), S_OK);
    EXPECT_EQ(strings, nullptr);

    const Bytes none = ferolt::test::MaterialPack({});
    strings = reinterpret_cast<const char**>(1);
    count = 9;
    EXPECT_EQ(LRGetMaterialPackStrings(none.data(), static_cast<DWORD>(none.size()), &strings, &count), S_OK);
    EXPECT_EQ(strings, nullptr);
    EXPECT_EQ(count, 0u);

    const Bytes version2 = ferolt::test::MaterialPack({.version = 2, .strings = {"a"}});
    EXPECT_EQ(
        LRGetMaterialPackStrings(version2.data(), static_cast<DWORD>(version2.size()), &strings, &count),
        E_FAIL);
    EXPECT_EQ(LRGetMaterialPackStrings(nullptr, 28, &strings, &count), E_INVALIDARG);
    EXPECT_EQ(LRGetMaterialPackStrings(pack.data(), 28, nullptr, &count), E_INVALIDARG);
    EXPECT_EQ(LRGetMaterialPackStrings(pack.data(), 28, &strings, nullptr), E_INVALIDARG);
    EXPECT_EQ(LRFreeMaterialPackStrings(nullptr), E_INVALIDARG);
}

// Damaged packs: a header or slot table cut short is refused; later damage keeps what came before it.
TEST_F(MaterialPackTest, DamagedPacksAreReadUpToTheDamage)
{
    const Bytes three = ferolt::test::MaterialPack(
        {.slots = {0, 1, 2}, .strings = {"x.png"}, .records = {Red(0x11), Red(0x22), Red(0x33)}});
    EXPECT_EQ(Colours(three), "112233");
    for (size_t cut = 4; cut < 28 + 12; cut += 4)
    {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        EXPECT_EQ(Load(Bytes(three.begin(), three.begin() + cut)).result, E_FAIL);
    }

    Bytes wrongMagic = three;
    wrongMagic[0] = 'X';
    Bytes hugeSlots = three;
    hugeSlots[12] = hugeSlots[13] = hugeSlots[14] = hugeSlots[15] = 0xFF;
    struct Case
    {
        const char* title;
        Bytes pack;
        HRESULT result;
        const char* colours;
    } cases[] = {
        {"wrong magic", wrongMagic, E_FAIL, ""},
        {"version 2", ferolt::test::MaterialPack({.version = 2, .slots = {0}, .records = {Red(1)}}), E_FAIL,
         ""},
        {"more slots than the pack holds", hugeSlots, E_FAIL, ""},
        {"cut inside the second record", Bytes(three.begin(), three.end() - 80 - 40), S_OK, "11--"},
        {"cut inside the string table", Bytes(three.begin(), three.begin() + 28 + 12 + 3), S_OK, "---"},
        {"a string without its end",
         []
         {
             Bytes p = ferolt::test::MaterialPack({.slots = {0}, .strings = {"abc"}});
             p.pop_back(); // the NUL
             return p;
         }(),
         S_OK, "-"},
        {"a record whose size field runs past the pack",
         ferolt::test::MaterialPack({.slots = {0, 1},
                                     .records = {Red(0x11),
                                                 []
                                                 {
                                                     MaterialRecordFields f;
                                                     f.sizeDelta = 1;
                                                     return ferolt::test::MaterialRecord(f);
                                                 }()}}),
         S_OK, "11-"},
        {"a broken record hides the ones after it",
         ferolt::test::MaterialPack(
             {.slots = {2, 1, 0},
              .records = {Red(0x11), ferolt::test::MaterialRecord({.version = 9}), Red(0x33)}}),
         S_OK, "--11"},
        {"slot indices past the materials",
         ferolt::test::MaterialPack({.slots = {1, 7, 0}, .records = {Red(5)}}), S_OK, "--05"},
        {"more materials announced than stored",
         ferolt::test::MaterialPack(
             {.slots = {0, 1}, .records = {Red(0x11)}, .materialCountDelta = 0x7FFFFFFF}),
         S_OK, "11-"},
        {"a string count far beyond the strings",
         []
         {
             Bytes p = ferolt::test::MaterialPack({.slots = {0}, .strings = {"a"}, .records = {Red(1)}});
             p[20] = p[21] = p[22] = p[23] = 0xFF;
             return p;
         }(),
         S_OK, "-"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        HRESULT result = S_OK;
        EXPECT_EQ(Colours(c.pack, &result), c.colours);
        EXPECT_EQ(result, c.result);
    }
}

TEST_F(MaterialPackTest, ArgumentsAreChecked)
{
    const Bytes pack = ferolt::test::MaterialPack({.slots = {0}, .records = {Red(1)}});
    Material_** array = nullptr;
    DWORD count = 0;
    const DWORD size = static_cast<DWORD>(pack.size());
    EXPECT_EQ(LRLoadMaterialPack(nullptr, size, &array, &count, nullptr), E_INVALIDARG);
    EXPECT_EQ(LRLoadMaterialPack(pack.data(), size, nullptr, &count, nullptr), E_INVALIDARG);
    EXPECT_EQ(LRLoadMaterialPack(pack.data(), size, &array, nullptr, nullptr), E_INVALIDARG);
    // An empty pack has no slots and hands out no array.
    const Bytes empty = ferolt::test::MaterialPack({});
    array = reinterpret_cast<Material_**>(1);
    count = 5;
    EXPECT_EQ(LRLoadMaterialPack(empty.data(), static_cast<DWORD>(empty.size()), &array, &count, nullptr),
              S_OK);
    EXPECT_EQ(array, nullptr);
    EXPECT_EQ(count, 0u);
}

// Outside a started engine the pack still reads, but no material can be made.
TEST(MaterialPackUnstarted, SlotsStayEmpty)
{
    EXPECT_EQ(Colours(ferolt::test::MaterialPack({.slots = {0, 0}, .records = {Red(1)}})), "--");
}
