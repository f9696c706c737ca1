// Material changes merged into a material, one field and mode at a time.
#include "material_fixture.h"

using LMK::Material_;
using LMK::MaterialDescriptionStruct_TYP;
using materialtest::Describe;
using materialtest::Differences;
using materialtest::MaterialTest;
using materialtest::Rgba;
using materialtest::SampleDescription;

namespace
{
using Edit = void (*)(MaterialDescriptionStruct_TYP&);

// The change: every value differs from the target's, every mode keeps the target's.
MaterialDescriptionStruct_TYP ChangeDescription()
{
    MaterialDescriptionStruct_TYP d = SampleDescription();
    d.material.Diffuse = Rgba(0.9f, 0.8f, 0.7f, 0.6f);
    d.material.Ambient = Rgba(0.2f, 0.2f, 0.3f, 1.0f);
    d.material.Specular = Rgba(0.1f, 0.2f, 0.1f, 1.0f);
    d.material.Emissive = Rgba(0.5f, 0.0f, 0.0f, 1.0f);
    d.material.Power = 40.0f;
    d.reflectionWeight = 0.125f;
    d.bumpHeight = 8.0f;
    d.mirrorReflectivity = 0.875f;
    d.keepDiffuse = d.alphaTest = d.twoSided = 1;
    d.mirror = d.variant20000 = d.variant40000 = d.variant80000 = 1;
    d.additiveReflection = 1;
    d.baseTransformPresent = d.bumpTransformPresent = d.reflectionTransformPresent = 1;
    d.baseTransform.matrix._41 = 0.5f;
    d.bumpTransform.matrix._42 = 0.25f;
    d.reflectionTransform.matrix._11 = 2.0f;
    d.changeModesPresent = 1;
    for (INT& mode : d.changeModes.modes)
        mode = LMK::kChangeKeep;
    return d;
}

void TakeBaseTransform(MaterialDescriptionStruct_TYP& e)
{
    e.baseTransformPresent = 1;
    e.baseTransform = ChangeDescription().baseTransform;
}
void TakeBumpTransform(MaterialDescriptionStruct_TYP& e)
{
    e.bumpTransformPresent = 1;
    e.bumpTransform = ChangeDescription().bumpTransform;
}
void TakeReflectionTransform(MaterialDescriptionStruct_TYP& e)
{
    e.reflectionTransformPresent = 1;
    e.reflectionTransform = ChangeDescription().reflectionTransform;
}
void WithBaseTransform(MaterialDescriptionStruct_TYP& t)
{
    t.baseTransformPresent = 1;
    t.baseTransform.matrix._42 = 0.75f;
}
void WithEmissive(MaterialDescriptionStruct_TYP& t)
{
    t.material.Emissive.g = 0.25f;
}
void TakeEmissive(MaterialDescriptionStruct_TYP& e)
{
    e.material.Emissive = ChangeDescription().material.Emissive;
}
void WithMirror(MaterialDescriptionStruct_TYP& t)
{
    t.mirror = 1;
}
void TakeMirror(MaterialDescriptionStruct_TYP& e)
{
    e.mirror = 1;
    e.mirrorReflectivity = ChangeDescription().mirrorReflectivity;
}
void WithVariant20000(MaterialDescriptionStruct_TYP& t)
{
    t.variant20000 = 1;
}
void TakeVariant20000(MaterialDescriptionStruct_TYP& e)
{
    e.variant20000 = 1;
}
} // namespace

TEST_F(MaterialTest, MergeTakesEachFieldByItsMode)
{
    struct Case
    {
        const char* title;
        int field; // the one mode that is not "keep"
        INT mode;
        Edit target;           // set-up of the target, or null
        Edit expect;           // the target's description after the merge, from before it; null: unchanged
        Edit change = nullptr; // extra set-up of the change, or null
    };
    const Case cases[] = {
        {"all modes keep", -1, 0, nullptr, nullptr},
        {"ambient taken", LMK::kChangeAmbient, LMK::kChangeTake, nullptr,
         [](MaterialDescriptionStruct_TYP& e) { e.material.Ambient = ChangeDescription().material.Ambient; }},
        {"ambient honours no other mode", LMK::kChangeAmbient, LMK::kChangeWhereMissing, nullptr, nullptr},
        {"diffuse colour taken, alpha kept", LMK::kChangeDiffuseRgb, LMK::kChangeTake, nullptr,
         [](MaterialDescriptionStruct_TYP& e) { e.material.Diffuse = Rgba(0.9f, 0.8f, 0.7f, 0.5f); }},
        {"diffuse alpha taken, colour kept", LMK::kChangeDiffuseAlpha, LMK::kChangeTake, nullptr,
         [](MaterialDescriptionStruct_TYP& e) { e.material.Diffuse.a = 0.6f; }},
        {"specular taken", LMK::kChangeSpecular, LMK::kChangeTake, nullptr,
         [](MaterialDescriptionStruct_TYP& e)
         { e.material.Specular = ChangeDescription().material.Specular; }},
        {"power taken", LMK::kChangePower, LMK::kChangeTake, nullptr,
         [](MaterialDescriptionStruct_TYP& e) { e.material.Power = 40.0f; }},
        {"emissive taken", LMK::kChangeEmissive, LMK::kChangeTake, WithEmissive, TakeEmissive},
        {"emissive fills a black one", LMK::kChangeEmissive, LMK::kChangeWhereMissing, nullptr, TakeEmissive},
        {"emissive keeps a lit one", LMK::kChangeEmissive, LMK::kChangeWhereMissing, WithEmissive, nullptr},
        {"emissive replaces a lit one", LMK::kChangeEmissive, LMK::kChangeWherePresent, WithEmissive,
         TakeEmissive},
        {"emissive leaves a black one", LMK::kChangeEmissive, LMK::kChangeWherePresent, nullptr, nullptr},
        {"base transform taken", LMK::kChangeBaseTransform, LMK::kChangeTake, WithBaseTransform,
         TakeBaseTransform},
        {"base transform removed by a change without one", LMK::kChangeBaseTransform, LMK::kChangeTake,
         WithBaseTransform,
         [](MaterialDescriptionStruct_TYP& e)
         {
             e.baseTransformPresent = 0;
             LMK::SetIdentityTextureTransform(&e.baseTransform);
         },
         [](MaterialDescriptionStruct_TYP& c) { c.baseTransformPresent = 0; }},
        {"base transform fills an empty slot", LMK::kChangeBaseTransform, LMK::kChangeWhereMissing, nullptr,
         TakeBaseTransform},
        {"base transform keeps a filled slot", LMK::kChangeBaseTransform, LMK::kChangeWhereMissing,
         WithBaseTransform, nullptr},
        {"base transform replaces a filled slot", LMK::kChangeBaseTransform, LMK::kChangeWherePresent,
         WithBaseTransform, TakeBaseTransform},
        {"base transform leaves an empty slot", LMK::kChangeBaseTransform, LMK::kChangeWherePresent, nullptr,
         nullptr},
        {"bump transform only with a base texture", LMK::kChangeBumpTransform, LMK::kChangeWithBaseTexture,
         nullptr, nullptr},
        {"bump transform follows a taken reflection", LMK::kChangeBumpTransform, LMK::kChangeCoupled, nullptr,
         TakeBumpTransform,
         [](MaterialDescriptionStruct_TYP& c) { c.changeModes.modes[LMK::kChangeReflectionTexture] = 2; }},
        {"bump transform stays when the reflection is kept", LMK::kChangeBumpTransform, LMK::kChangeCoupled,
         nullptr, nullptr},
        {"reflection transform follows a taken bump", LMK::kChangeReflectionTransform, LMK::kChangeCoupled,
         nullptr, TakeReflectionTransform,
         [](MaterialDescriptionStruct_TYP& c) { c.changeModes.modes[LMK::kChangeBumpTexture] = 2; }},
        {"coupled bump and reflection are both taken", LMK::kChangeBumpTexture, LMK::kChangeCoupled, nullptr,
         TakeReflectionTransform,
         [](MaterialDescriptionStruct_TYP& c)
         {
             c.changeModes.modes[LMK::kChangeReflectionTexture] = 5;
             c.changeModes.modes[LMK::kChangeReflectionTransform] = 5;
         }},
        {"the target switches to base-as-reflection", -1, 0, nullptr,
         [](MaterialDescriptionStruct_TYP& e) { e.baseAsReflection = 1; },
         [](MaterialDescriptionStruct_TYP& c) { c.baseAsReflection = 1; }},
        {"the target switches back", -1, 0, [](MaterialDescriptionStruct_TYP& t) { t.baseAsReflection = 1; },
         [](MaterialDescriptionStruct_TYP& e) { e.baseAsReflection = 0; }},
        {"reflection transform fills an empty slot", LMK::kChangeReflectionTransform,
         LMK::kChangeWhereMissing, nullptr, TakeReflectionTransform},
        {"reflection weight taken", LMK::kChangeReflectionWeight, LMK::kChangeTake, nullptr,
         [](MaterialDescriptionStruct_TYP& e) { e.reflectionWeight = 0.125f; }},
        {"reflection weight needs a reflection texture", LMK::kChangeReflectionWeight,
         LMK::kChangeWhereMissing, nullptr, nullptr},
        {"bump height taken", LMK::kChangeBumpHeight, LMK::kChangeTake, nullptr,
         [](MaterialDescriptionStruct_TYP& e) { e.bumpHeight = 8.0f; }},
        {"bump height needs a bump texture", LMK::kChangeBumpHeight, LMK::kChangeWhereMissing, nullptr,
         nullptr},
        {"keep-diffuse taken", LMK::kChangeKeepDiffuse, LMK::kChangeTake, nullptr,
         [](MaterialDescriptionStruct_TYP& e) { e.keepDiffuse = 1; }},
        {"keep-diffuse needs a base texture", LMK::kChangeKeepDiffuse, LMK::kChangeWhereMissing, nullptr,
         nullptr},
        {"alpha test taken", LMK::kChangeAlphaTest, LMK::kChangeTake, nullptr,
         [](MaterialDescriptionStruct_TYP& e) { e.alphaTest = 1; }},
        {"alpha test cleared by a change without it", LMK::kChangeAlphaTest, LMK::kChangeTake,
         [](MaterialDescriptionStruct_TYP& t) { t.alphaTest = 1; },
         [](MaterialDescriptionStruct_TYP& e) { e.alphaTest = 0; },
         [](MaterialDescriptionStruct_TYP& c) { c.alphaTest = 0; }},
        {"two-sided taken", LMK::kChangeTwoSided, LMK::kChangeTake, nullptr,
         [](MaterialDescriptionStruct_TYP& e) { e.twoSided = 1; }},
        {"two-sided honours no other mode", LMK::kChangeTwoSided, LMK::kChangeWhereMissing, nullptr, nullptr},
        {"mirror taken", LMK::kChangeMirror, LMK::kChangeTake, nullptr, TakeMirror},
        {"mirror where the target is none", LMK::kChangeMirror, LMK::kChangeWhereMissing, nullptr,
         TakeMirror},
        {"mirror not over a mirror", LMK::kChangeMirror, LMK::kChangeWhereMissing, WithMirror, nullptr},
        {"mirror over a mirror", LMK::kChangeMirror, LMK::kChangeWherePresent, WithMirror, TakeMirror},
        {"variant 0x20000 taken", LMK::kChangeVariant20000, LMK::kChangeTake, nullptr, TakeVariant20000},
        {"variant 0x20000 where missing", LMK::kChangeVariant20000, LMK::kChangeWhereMissing, nullptr,
         TakeVariant20000},
        {"variant 0x20000 where present", LMK::kChangeVariant20000, LMK::kChangeWherePresent,
         WithVariant20000, nullptr},
        {"variant 0x20000 not where absent", LMK::kChangeVariant20000, LMK::kChangeWherePresent, nullptr,
         nullptr},
        {"variant 0x40000 taken", LMK::kChangeVariant40000, LMK::kChangeTake, nullptr,
         [](MaterialDescriptionStruct_TYP& e) { e.variant40000 = 1; }},
        {"variant 0x40000 honours no other mode", LMK::kChangeVariant40000, LMK::kChangeWhereMissing, nullptr,
         nullptr},
        {"variant 0x80000 taken", LMK::kChangeVariant80000, LMK::kChangeTake, nullptr,
         [](MaterialDescriptionStruct_TYP& e) { e.variant80000 = 1; }},
        {"bump-from-base is cleared unless the bump is taken", -1, 0,
         [](MaterialDescriptionStruct_TYP& t) { t.bumpFromBase = 1; },
         [](MaterialDescriptionStruct_TYP& e) { e.bumpFromBase = 0; }},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        MaterialDescriptionStruct_TYP t = SampleDescription();
        if (c.target) c.target(t);
        MaterialDescriptionStruct_TYP ch = ChangeDescription();
        if (c.change) c.change(ch);
        if (c.field >= 0) ch.changeModes.modes[c.field] = c.mode;
        Material_* target = Make(t);
        Material_* change = Make(ch);
        ASSERT_TRUE(target && change);
        Material_* slot = target;
        MaterialDescriptionStruct_TYP expected = Describe(target);
        expected.additiveReflection = 1; // always the change's
        if (c.expect) c.expect(expected);

        LMK::MergeMaterialChange(&slot, change);
        EXPECT_EQ(slot, target); // changed in place
        EXPECT_EQ(change->refCount, 1u);
        EXPECT_EQ(Differences(Describe(target), expected), "");
        // Without a base texture the drawn diffuse is the stored one.
        EXPECT_EQ(Rgba(target->material.Diffuse), Rgba(expected.material.Diffuse));
        change->Release();
        target->Release();
    }
}

TEST_F(MaterialTest, MergeWithoutModesReplacesTheTarget)
{
    const struct
    {
        const char* title;
        bool target;
        bool change;
        bool changeHasModes;
        bool resultIsChange;
    } cases[] = {
        {"an empty slot takes the change, shared", false, true, true, true},
        {"an empty slot takes a plain material", false, true, false, true},
        {"a plain material replaces the target", true, true, false, true},
        {"a null change empties the slot", true, false, false, false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.title);
        MaterialDescriptionStruct_TYP cd = ChangeDescription();
        cd.changeModesPresent = c.changeHasModes;
        Material_* change = c.change ? Make(cd) : nullptr;
        Material_* slot = c.target ? Make(SampleDescription()) : nullptr;
        LMK::MergeMaterialChange(&slot, change);
        EXPECT_EQ(slot, c.resultIsChange ? change : nullptr);
        if (change)
        {
            EXPECT_EQ(change->refCount, 2u);
            change->Release();
        }
        if (slot) slot->Release();
    }
}
