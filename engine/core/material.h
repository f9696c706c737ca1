#pragma once
// Materials: a Direct3D material with up to three textures (base, reflection, bump), their texture
// transforms, a flag word and a few scalars. Built from colours, from parameters or from the public
// description; shared by name through the loader registry (type 1). A material that carries change
// modes is a material change, merged field by field into another material.
#include <cstddef>
#include <memory>
#include <vector>

#include "engine/core/loaders.h"
#include "platform/d3d9/d3d9types.h"

namespace LMK
{
class Texture_;
class Material_;
class Object_;
struct PartDrawContextStruct_TYP;
struct TextureLayerStruct_TYP;

// Flag word of a material.
constexpr DWORD kMaterialKeepDiffuse = 0x1; // else a base texture whitens the diffuse colour
constexpr DWORD kMaterialAlphaTest = 0x2;
constexpr DWORD kMaterialTwoSided = 0x4;
constexpr DWORD kMaterialBumpFromBase = 0x8;
constexpr DWORD kMaterialChangeModes = 0x10;
constexpr DWORD kMaterialBaseTransform = 0x20;
constexpr DWORD kMaterialBumpTransform = 0x40;
constexpr DWORD kMaterialReflectionTransform = 0x80;
constexpr DWORD kMaterialAdditiveReflection = 0x100;
constexpr DWORD kMaterialMirror = 0x10000;
constexpr DWORD kMaterialVariant20000 = 0x20000; // set-ups that use the bump map's source texture
constexpr DWORD kMaterialVariant40000 = 0x40000; // the alternative set-ups of the combination table
constexpr DWORD kMaterialVariant80000 = 0x80000; // camera-space reflection vectors in the 0x20000 set-ups

struct TextureTransformStruct_TYP
{
    D3DMATRIX matrix;
    DWORD addressU; // D3DTEXTUREADDRESS
    DWORD addressV;
    D3DCOLOR borderColor;
    BYTE pointFilter;
    BYTE animated;
    INT effectIndex; // into the root's texture-effect table; 0 when not animated
    float effectParams[3];
    WORD extraWord;
    BYTE extraByte;
    float speed;
    BYTE pingPong;
};
static_assert(sizeof(TextureTransformStruct_TYP) == 108);

// One field of a merge per entry.
enum MaterialChangeField : int
{
    kChangeAmbient = 0,
    kChangeDiffuseRgb = 1,
    kChangeDiffuseAlpha = 2,
    kChangeSpecular = 3,
    kChangeEmissive = 4,
    kChangePower = 5,
    kChangeBaseTexture = 6,
    kChangeBumpTexture = 7,
    kChangeReflectionTexture = 8,
    kChangeBaseTransform = 9,
    kChangeBumpTransform = 10,
    kChangeReflectionTransform = 11,
    kChangeReflectionWeight = 12,
    kChangeBumpHeight = 13,
    kChangeKeepDiffuse = 14,
    kChangeAlphaTest = 15,
    kChangeTwoSided = 16,
    kChangeMirror = 17,
    kChangeVariant20000 = 18,
    kChangeVariant40000 = 19,
    kChangeVariant80000 = 20,
    kChangeFieldCount = 21,
};

// How one field is merged.
enum MaterialChangeMode : INT
{
    kChangeTake = 0,
    kChangeKeep = 1,
    kChangeWhereMissing = 2,
    kChangeWherePresent = 3,
    kChangeWithBaseTexture = 4,
    kChangeCoupled = 5, // the bump and reflection decisions follow each other
};

struct MaterialChangeModesStruct_TYP
{
    INT modes[kChangeFieldCount];
};
static_assert(sizeof(MaterialChangeModesStruct_TYP) == 84);

// The public description the engine API exchanges. Its four strings are malloc'ed and belong to it
// (LRFreeMaterialDescription). Natural alignment: 524 bytes where pointers are 4 bytes wide.
struct MaterialDescriptionStruct_TYP
{
    D3DMATERIAL9 material;
    char* name;
    char* baseFile;
    char* bumpFile;
    char* reflectionFile;
    float reflectionWeight;
    float bumpHeight;
    BYTE keepDiffuse;
    BYTE alphaTest;
    BYTE twoSided;
    BYTE changeModesPresent;
    BYTE bumpFromBase;
    BYTE baseTransformPresent;
    BYTE bumpTransformPresent;
    BYTE reflectionTransformPresent;
    DWORD additiveReflection; // 0 or 1
    MaterialChangeModesStruct_TYP changeModes;
    TextureTransformStruct_TYP baseTransform;
    TextureTransformStruct_TYP bumpTransform;
    TextureTransformStruct_TYP reflectionTransform;
    BYTE carriedByteB;
    BYTE baseAsReflection;
    BYTE mirror;
    float mirrorReflectivity;
    BYTE variant20000;
    BYTE variant40000;
    BYTE variant80000;
    BYTE invertedByteA; // set when the material's carried byte A is 0
};
static_assert(sizeof(MaterialDescriptionStruct_TYP) == (sizeof(void*) == 4 ? 524 : 544));
static_assert(offsetof(MaterialDescriptionStruct_TYP, changeModes) == (sizeof(void*) == 4 ? 104 : 124));

struct MaterialAlternativeStruct_TYP
{
    Material_* material; // counted
    DWORD value;         // matched against the view's alternative selector and masks
};

class Material_ : public LoadedPart_
{
public:
    // Colour material: diffuse (r, g, b, a), everything else zero.
    Material_(float r, float g, float b, float a, bool twoSided);
    // From a Direct3D material (null for the engine default) and textures, each taken with a reference.
    Material_(const D3DMATERIAL9* d3dMaterial, Texture_* base, Texture_* reflection, Texture_* bump,
              bool keepDiffuse, bool twoSided, bool alphaTest, float reflectionWeight, float bumpHeight,
              bool pointSampleSmallBase, BYTE baseAsReflection);
    // From a description; with a record the material is bound to it.
    Material_(const MaterialDescriptionStruct_TYP* description, LoadRecordStruct_TYP* record);
    ~Material_() override;

    void InitFromDescription(const MaterialDescriptionStruct_TYP* description);
    // Fills *out; the caller owns the strings put into it.
    void GetDescription(MaterialDescriptionStruct_TYP* out) const;
    // An independent material with the same look; null when it cannot be made.
    Material_* Clone() const;
    void ReleaseResources();
    bool IsTransparent() const;
    // Sets the device state for one drawn subset (material_apply.cpp); returns the number of passes.
    DWORD Apply(PartDrawContextStruct_TYP* context, const TextureLayerStruct_TYP* layer);
    void CopyStageStateToEffect(PartDrawContextStruct_TYP* context);
    // A mirror for this surface type at the view's reflection level (engine/render/render_view.cpp).
    bool IsReflecting(DWORD surfaceType, DWORD level, float minimumReflectivity) const;

    D3DMATERIAL9 material{};
    D3DMATERIAL9 lastApplied{};
    DWORD flags = 0;
    D3DCOLORVALUE storedDiffuse{}; // the diffuse colour before whitening under a base texture
    float reflectionWeight = 1.0f;
    float bumpHeight = 1.0f;
    float mirrorReflectivity = 0.5f;
    Texture_* baseTexture = nullptr;
    Texture_* reflectionTexture = nullptr;
    Texture_* bumpTexture = nullptr;
    std::unique_ptr<MaterialChangeModesStruct_TYP> changeModes;
    std::unique_ptr<TextureTransformStruct_TYP> baseTransform;
    std::unique_ptr<TextureTransformStruct_TYP> bumpTransform;
    std::unique_ptr<TextureTransformStruct_TYP> reflectionTransform;
    DWORD startTime = 0; // timeGetTime() at building: the clock of animated texture transforms
    char* name = nullptr;
    BYTE carriedByteA = 1;
    BYTE carriedByteB = 0;
    BYTE baseAsReflection = 0;
    std::vector<MaterialAlternativeStruct_TYP> alternatives;

private:
    void ClearFields();
};

// Each byte divided by 255.
void ColorValueFromArgb(D3DCOLORVALUE* out, DWORD argb);
// The identity with wrap addressing: what an absent transform reads as.
void SetIdentityTextureTransform(TextureTransformStruct_TYP* transform);
// Halves and shifts texture coordinates into 0..1: the projection of reflection maps.
void SetReflectionTextureTransform(TextureTransformStruct_TYP* transform);

// Mixes the drawn object's tint and see-through factor into a material about to be set.
void ApplyObjectTint(D3DMATERIAL9* material, const Object_* object);

HRESULT LoadMaterial(const char* name, Material_** out, bool isAlternative);
void MergeMaterialChange(Material_** target, Material_* change);
// Copies *source into *slot (allocated when missing) and sets bit, or with no source frees the slot and
// clears bit.
void SetMaterialTextureTransform(std::unique_ptr<TextureTransformStruct_TYP>* slot,
                                 const TextureTransformStruct_TYP* source, DWORD bit, DWORD* flags);
} // namespace LMK
