#include "engine/core/material.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "engine/core/heap_string.h"
#include "engine/core/globals.h"
#include "engine/core/lr_material_api.h"
#include "engine/core/material_loader_lists.h"
#include "engine/core/material_textures.h"
#include "engine/core/resource_links.h"
#include "engine/scene/object.h"
#include "platform/d3dx9/d3dx9math.h"
#include "platform/win32/mmsystem.h"
#include "platform/win32/out_of_memory.h"

namespace LMK
{
namespace
{
// A material for the engine's result-code calls: null when memory runs out on the way.
template <class... Args> Material_* NewMaterial(Args&&... args)
{
    Material_* made = nullptr;
    ferolt::Allocated([&] { made = new Material_(std::forward<Args>(args)...); });
    return made;
}

bool Named(const char* file)
{
    return file && *file;
}

void FreeDescriptionStrings(MaterialDescriptionStruct_TYP* d)
{
    std::free(d->baseFile);
    std::free(d->bumpFile);
    std::free(d->reflectionFile);
    std::free(d->name);
    d->baseFile = d->bumpFile = d->reflectionFile = d->name = nullptr;
}

// A specular exponent below 1 gives a glare over the whole face; 0 switches specular off and stays.
float SanePower(float power)
{
    return (power != 0.0f && power < 1.0f) ? 5.0f : power;
}

D3DMATERIAL9 DefaultD3DMaterial()
{
    D3DMATERIAL9 m{};
    m.Diffuse = {0.5f, 0.5f, 0.2f, 1.0f};
    m.Ambient = {0.05f, 0.05f, 0.05f, 1.0f};
    m.Specular = {0.5f, 0.5f, 0.5f, 1.0f};
    m.Emissive = {0.0f, 0.0f, 0.0f, 1.0f};
    m.Power = 10.0f;
    return m;
}

void WhitenRgb(D3DCOLORVALUE* c)
{
    c->r = c->g = c->b = 1.0f;
}

std::unique_ptr<TextureTransformStruct_TYP> CopyTransform(const TextureTransformStruct_TYP& source)
{
    auto copy = std::make_unique<TextureTransformStruct_TYP>(source);
    // An effect index that is not animated or outside the table would pick the wrong (or no) effect.
    const DWORD count = CurrentGlobals ? CurrentGlobals->textureEffectCount : 0;
    if (!copy->animated || copy->effectIndex < 0 || static_cast<DWORD>(copy->effectIndex) >= count)
        copy->effectIndex = 0;
    return copy;
}

// Shares `source` in *slot (which may mean emptying it).
void ReplaceTexture(Texture_** slot, Texture_* source)
{
    if (*slot == source) return;
    if (source) AddRefMaterialTexture(source);
    ReleaseMaterialTexture(slot);
    *slot = source;
}

bool TakeSlot(INT mode, bool targetHas)
{
    return mode == kChangeTake || (mode == kChangeWhereMissing && !targetHas) ||
           (mode == kChangeWherePresent && targetHas);
}

// Modes 0 to 4 of a texture slot; coupling (5) is decided by the caller.
bool TakeTextureSlot(INT mode, bool targetHas, bool targetHasBase)
{
    return TakeSlot(mode, targetHas) || (mode == kChangeWithBaseTexture && targetHasBase);
}

bool TakenDecision(INT mode, bool changeHas, bool targetHas, bool targetHasBase)
{
    switch (mode)
    {
    case kChangeTake:
        return changeHas;
    case kChangeWhereMissing:
        return !targetHas;
    case kChangeWherePresent:
        return targetHas;
    case kChangeWithBaseTexture:
        return targetHasBase;
    default:
        return false;
    }
}

void TakeFlag(DWORD* flags, DWORD bit, DWORD from)
{
    *flags = (*flags & ~bit) | (from & bit);
}

// The directory a material's own textures are looked for in: the model loader's rule.
void SetDirectoryOfName(const char* name)
{
    const char* cut = std::strrchr(name, '\\');
    if (!cut) cut = std::strrchr(name, '/');
    std::string directory;
    if (cut)
        directory.assign(name, cut);
    else
    {
        char buffer[MAX_PATH];
        DWORD n = GetCurrentDirectoryA(MAX_PATH, buffer);
        if (n > 0 && n < MAX_PATH) directory.assign(buffer, n);
    }
    if (!directory.empty()) SetMaterialCurrentDirectory(directory.c_str());
}
} // namespace

void ColorValueFromArgb(D3DCOLORVALUE* out, DWORD argb)
{
    if (!out) return;
    out->a = static_cast<float>(((argb >> 24) & 0xFF) / 255.0);
    out->r = static_cast<float>(((argb >> 16) & 0xFF) / 255.0);
    out->g = static_cast<float>(((argb >> 8) & 0xFF) / 255.0);
    out->b = static_cast<float>((argb & 0xFF) / 255.0);
}

void SetIdentityTextureTransform(TextureTransformStruct_TYP* transform)
{
    std::memset(transform, 0, sizeof(*transform));
    D3DXMatrixIdentity(static_cast<D3DXMATRIX*>(&transform->matrix));
    transform->addressU = D3DTADDRESS_WRAP;
    transform->addressV = D3DTADDRESS_WRAP;
}

void SetReflectionTextureTransform(TextureTransformStruct_TYP* transform)
{
    D3DXMATRIX translation, scaling;
    D3DXMatrixTranslation(&translation, 0.5f, 0.5f, 0.0f);
    D3DXMatrixScaling(&scaling, 0.5f, 0.5f, 1.0f);
    D3DXMatrixMultiply(static_cast<D3DXMATRIX*>(&transform->matrix), &translation, &scaling);
    transform->addressU = D3DTADDRESS_WRAP;
    transform->addressV = D3DTADDRESS_WRAP;
}

void SetMaterialTextureTransform(std::unique_ptr<TextureTransformStruct_TYP>* slot,
                                 const TextureTransformStruct_TYP* source, DWORD bit, DWORD* flags)
{
    if (source)
    {
        if (!*slot) *slot = std::make_unique<TextureTransformStruct_TYP>();
        **slot = *source;
        *flags |= bit;
    }
    else
    {
        slot->reset();
        *flags &= ~bit;
    }
}

// ---------------------------------------------------------------------------------------------------
Material_::Material_(float r, float g, float b, float a, bool twoSided)
{
    flags = twoSided ? kMaterialTwoSided : 0;
    startTime = timeGetTime();
    material.Diffuse = {r, g, b, a};
    storedDiffuse = material.Diffuse;
}

Material_::Material_(const D3DMATERIAL9* d3dMaterial, Texture_* base, Texture_* reflection, Texture_* bump,
                     bool keepDiffuse, bool twoSided, bool alphaTest, float reflectionWeight_,
                     float bumpHeight_, bool pointSampleSmallBase, BYTE baseAsReflection_)
{
    reflectionWeight = reflectionWeight_;
    bumpHeight = bumpHeight_;
    baseAsReflection = baseAsReflection_;
    startTime = timeGetTime();
    flags = (keepDiffuse ? kMaterialKeepDiffuse : 0) | (twoSided ? kMaterialTwoSided : 0) |
            (alphaTest ? kMaterialAlphaTest : 0);

    UINT width = 0, height = 0;
    if (pointSampleSmallBase && base && SUCCEEDED(GetMaterialTextureImageSize(base, &width, &height)) &&
        (width <= 8 || height <= 8))
    {
        flags |= kMaterialBaseTransform;
        baseTransform = std::make_unique<TextureTransformStruct_TYP>();
        SetIdentityTextureTransform(baseTransform.get());
        baseTransform->pointFilter = 1;
    }
    material = d3dMaterial ? *d3dMaterial : DefaultD3DMaterial();
    material.Power = SanePower(material.Power);
    storedDiffuse = material.Diffuse;
    if (base && !keepDiffuse) WhitenRgb(&material.Diffuse);
    if (reflection)
    {
        // A throw here leaves nothing behind: the transforms go with their owners.
        flags |= kMaterialReflectionTransform;
        reflectionTransform = std::make_unique<TextureTransformStruct_TYP>();
        SetReflectionTextureTransform(reflectionTransform.get());
    }
    // Last: a material that could not be made holds no texture.
    baseTexture = base;
    reflectionTexture = reflection;
    bumpTexture = bump;
    for (Texture_* texture : {base, reflection, bump})
        if (texture) AddRefMaterialTexture(texture);
}

Material_::Material_(const MaterialDescriptionStruct_TYP* description, LoadRecordStruct_TYP* record)
    : LoadedPart_(record)
{
    try
    {
        InitFromDescription(description);
    }
    catch (...)
    {
        // No destructor runs for a material that was never made.
        ReleaseResources();
        throw;
    }
    if (record && CurrentGlobals)
    {
        const DWORD cookie = record->loaderCookie; // binding gives the loader's data back
        CurrentGlobals->loaders.AttachObjectToRecord(record, this);
        if (CurrentGlobals->PartCreatedCallback)
            CurrentGlobals->PartCreatedCallback(record->loader, record->type, record->resolvedName, cookie,
                                                this);
    }
}

Material_::~Material_()
{
    ReleaseResources();
}

void Material_::ClearFields()
{
    ReleaseMaterialTexture(&baseTexture);
    ReleaseMaterialTexture(&reflectionTexture);
    ReleaseMaterialTexture(&bumpTexture);
    changeModes.reset();
    baseTransform.reset();
    bumpTransform.reset();
    reflectionTransform.reset();
    std::free(name);
    name = nullptr;
}

void Material_::ReleaseResources()
{
    for (MaterialAlternativeStruct_TYP& alternative : alternatives)
    {
        if (alternative.material) alternative.material->Release();
        alternative.material = nullptr;
    }
    ClearFields();
}

void Material_::InitFromDescription(const MaterialDescriptionStruct_TYP* d)
{
    startTime = timeGetTime();
    flags = 0;
    ClearFields();
    carriedByteA = 1;
    if (!d) return;
    baseAsReflection = d->baseAsReflection;

    if (!d->baseAsReflection)
    {
        if (Named(d->baseFile)) LoadMaterialTexture(d->baseFile, &baseTexture);
        if (Named(d->reflectionFile)) LoadMaterialTexture(d->reflectionFile, &reflectionTexture);
    }
    else
    {
        if (Named(d->baseFile)) LoadMaterialTexture(d->baseFile, &reflectionTexture);
        if (Named(d->reflectionFile))
        {
            ReleaseMaterialTexture(&reflectionTexture);
            LoadMaterialTexture(d->reflectionFile, &reflectionTexture);
        }
    }

    if (d->bumpFromBase)
    {
        if (baseTexture) CreateMaterialBumpMap(baseTexture, &bumpTexture);
    }
    else if (Named(d->bumpFile))
    {
        Texture_* heights = nullptr;
        if (SUCCEEDED(LoadMaterialTexture(d->bumpFile, &heights)) && heights)
            CreateMaterialBumpMap(heights, &bumpTexture);
        ReleaseMaterialTexture(&heights);
    }

    const struct
    {
        BYTE set;
        DWORD bit;
    } bytes[] = {{d->keepDiffuse, kMaterialKeepDiffuse},
                 {d->twoSided, kMaterialTwoSided},
                 {d->alphaTest, kMaterialAlphaTest},
                 {d->bumpFromBase, kMaterialBumpFromBase},
                 {static_cast<BYTE>(d->additiveReflection != 0), kMaterialAdditiveReflection},
                 {d->mirror, kMaterialMirror},
                 {d->variant20000, kMaterialVariant20000},
                 {d->variant40000, kMaterialVariant40000},
                 {d->variant80000, kMaterialVariant80000}};
    for (const auto& b : bytes)
        if (b.set) flags |= b.bit;

    material = d->material;
    material.Power = SanePower(material.Power);
    reflectionWeight = d->reflectionWeight;
    bumpHeight = d->bumpHeight;
    mirrorReflectivity = d->mirrorReflectivity;

    if (d->changeModesPresent)
    {
        flags |= kMaterialChangeModes;
        changeModes = std::make_unique<MaterialChangeModesStruct_TYP>(d->changeModes);
    }
    if (d->baseTransformPresent)
    {
        flags |= kMaterialBaseTransform;
        baseTransform = CopyTransform(d->baseTransform);
    }
    if (d->bumpTransformPresent && !d->bumpFromBase)
    {
        flags |= kMaterialBumpTransform;
        bumpTransform = CopyTransform(d->bumpTransform);
    }
    if (d->reflectionTransformPresent)
    {
        flags |= kMaterialReflectionTransform;
        reflectionTransform = CopyTransform(d->reflectionTransform);
    }

    storedDiffuse = material.Diffuse;
    const bool keep = (flags & kMaterialKeepDiffuse) != 0;
    if (baseTexture && !keep) WhitenRgb(&material.Diffuse);
    if (TransparentMirrorsOption == 0 && d->mirror) material.Diffuse.a = 1.0f;

    if (reflectionTexture && baseAsReflection)
    {
        if (!keep)
        {
            WhitenRgb(&material.Diffuse);
            material.Specular.r = material.Specular.g = material.Specular.b = 0.0f;
            material.Ambient = material.Specular;
        }
        flags = (flags & ~kMaterialAdditiveReflection) | kMaterialReflectionTransform;
        if (!reflectionTransform) reflectionTransform = std::make_unique<TextureTransformStruct_TYP>();
        SetReflectionTextureTransform(reflectionTransform.get());
    }

    carriedByteB = d->carriedByteB;
    if (d->invertedByteA) carriedByteA = 0;
}

void Material_::GetDescription(MaterialDescriptionStruct_TYP* d) const
{
    if (!d) return;
    std::memset(d, 0, sizeof(*d));
    SetIdentityTextureTransform(&d->baseTransform);
    SetIdentityTextureTransform(&d->bumpTransform);
    SetIdentityTextureTransform(&d->reflectionTransform);
    d->material = material;
    d->material.Diffuse = storedDiffuse;
    d->reflectionWeight = reflectionWeight;
    d->bumpHeight = bumpHeight;
    d->mirrorReflectivity = mirrorReflectivity;

    d->keepDiffuse = (flags & kMaterialKeepDiffuse) != 0;
    d->alphaTest = (flags & kMaterialAlphaTest) != 0;
    d->twoSided = (flags & kMaterialTwoSided) != 0;
    d->changeModesPresent = (flags & kMaterialChangeModes) != 0;
    d->bumpFromBase = (flags & kMaterialBumpFromBase) != 0;
    d->baseTransformPresent = (flags & kMaterialBaseTransform) != 0;
    d->bumpTransformPresent = (flags & kMaterialBumpTransform) != 0;
    d->reflectionTransformPresent = (flags & kMaterialReflectionTransform) != 0;
    d->additiveReflection = (flags & kMaterialAdditiveReflection) != 0;
    d->mirror = (flags & kMaterialMirror) != 0;
    d->variant20000 = (flags & kMaterialVariant20000) != 0;
    d->variant40000 = (flags & kMaterialVariant40000) != 0;
    d->variant80000 = (flags & kMaterialVariant80000) != 0;
    d->baseAsReflection = baseAsReflection;

    if (baseTexture) d->baseFile = GetMaterialTextureFileName(baseTexture, false);
    if (bumpTexture && !(flags & kMaterialBumpFromBase))
        d->bumpFile = GetMaterialTextureFileName(bumpTexture, true);
    if (reflectionTexture) d->reflectionFile = GetMaterialTextureFileName(reflectionTexture, false);
    d->name = HeapCopy(name);

    if (changeModes) d->changeModes = *changeModes;
    if (baseTransform) d->baseTransform = *baseTransform;
    if (bumpTransform) d->bumpTransform = *bumpTransform;
    if (reflectionTransform) d->reflectionTransform = *reflectionTransform;
    d->invertedByteA = carriedByteA == 0;
    d->carriedByteB = carriedByteB;
}

Material_* Material_::Clone() const
{
    MaterialDescriptionStruct_TYP description;
    GetDescription(&description);
    Material_* copy = NewMaterial(&description, nullptr);
    FreeDescriptionStrings(&description);
    if (!copy) return nullptr;
    copy->material.Diffuse = material.Diffuse;
    // Textures without a file name to load again (made from memory, derived) are shared instead.
    const struct
    {
        Texture_* Material_::*slot;
    } slots[] = {{&Material_::baseTexture}, {&Material_::reflectionTexture}, {&Material_::bumpTexture}};
    for (const auto& s : slots)
    {
        if (this->*s.slot && !(copy->*s.slot))
        {
            copy->*s.slot = this->*s.slot;
            AddRefMaterialTexture(copy->*s.slot);
        }
    }
    return copy;
}

bool Material_::IsTransparent() const
{
    return !(material.Diffuse.a == 1.0f);
}

void ApplyObjectTint(D3DMATERIAL9* m, const Object_* object)
{
    if (!m || !object) return;
    if (object->tint)
    {
        m->Diffuse.r = 0.5f * m->Diffuse.r + 0.5f * object->tintColor[0];
        m->Diffuse.g = 0.5f * m->Diffuse.g + 0.5f * object->tintColor[1];
        m->Diffuse.b = 0.5f * m->Diffuse.b + 0.5f * object->tintColor[2];
        // A tinted glass pane must still show as a highlight.
        if (m->Diffuse.a < 0.7f) m->Diffuse.a = 0.7f;
        m->Ambient = m->Specular = m->Emissive = D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 0.0f};
    }
    if (object->seeThrough) m->Diffuse.a *= object->alphaFactor;
}

// ---------------------------------------------------------------------------------------------------
namespace
{
// Appends the alternatives the loaders name for the record. A material that already holds an entry
// (same material, same value) keeps the one it has, so loading a shared material again adds only
// what it lacks; an alternative that holds this material already is left out, as the material itself
// is.
// True when `target` is among the alternatives of `from`, at any depth.
bool HoldsAsAlternative(const Material_* from, const Material_* target, std::vector<const Material_*>* seen)
{
    for (const MaterialAlternativeStruct_TYP& held : from->alternatives)
    {
        if (held.material == target) return true;
        if (std::find(seen->begin(), seen->end(), held.material) != seen->end()) continue;
        seen->push_back(held.material);
        if (HoldsAsAlternative(held.material, target, seen)) return true;
    }
    return false;
}

void LoadMaterialAlternatives(Material_* material, const LoadRecordStruct_TYP* record)
{
    // A loader that reports no resolved name is asked under the requested one.
    const char* listName = record->resolvedName ? record->resolvedName : record->name;
    if (!listName) return;
    lumoVector<LoaderAlternativeStruct_TYP> list;
    if (CurrentGlobals->loaders.GetAlternatives(LoadedPartMaterial, listName, &list) != 0) return;
    std::vector<MaterialAlternativeStruct_TYP> loaded;
    LoadListEntries(list, material, &loaded,
                    [](const CString& alternativeName) -> Material_*
                    {
                        Material_* alternative = nullptr;
                        if (FAILED(LoadMaterial(alternativeName, &alternative, true))) return nullptr;
                        return alternative;
                    });
    for (const MaterialAlternativeStruct_TYP& entry : loaded)
    {
        auto same = [&](const MaterialAlternativeStruct_TYP& held)
        { return held.material == entry.material && held.value == entry.value; };
        // An alternative that already holds this material would keep the two alive for each other.
        std::vector<const Material_*> seen;
        if (std::any_of(material->alternatives.begin(), material->alternatives.end(), same) ||
            HoldsAsAlternative(entry.material, material, &seen))
            entry.material->Release();
        else
            material->alternatives.push_back(entry);
    }
}
} // namespace

HRESULT LoadMaterial(const char* name, Material_** out, bool isAlternative)
{
    if (!IsEngineStarted()) return E_FAIL;
    if (!name || !out) return E_INVALIDARG;
    *out = nullptr;
    AllGlobals_* root = CurrentGlobals;
    SetDirectoryOfName(name);

    LoadRecordStruct_TYP* record = nullptr;
    int loaded = root->loaders.LoadShared(LoadedPartMaterial, name, &record);
    if (loaded != 0) return loaded;
    if (!record) return E_FAIL;

    if (record->object)
    {
        // Shared and already built, perhaps first as someone's alternative without its own list: the
        // list is asked again so the result does not depend on load order.
        Material_* shared = static_cast<Material_*>(record->object);
        if (!isAlternative) LoadMaterialAlternatives(shared, record);
        *out = shared;
        return S_OK;
    }

    Material_* built = nullptr;
    MaterialDescriptionStruct_TYP* description = nullptr;
    if (record->data && SUCCEEDED(LRReadMaterialRecord(record->data, record->size, &description)))
    {
        built = NewMaterial(description, record);
        LRFreeMaterialDescription(&description);
    }
    else
    {
        Texture_* image = nullptr;
        if (record->data) CreateMaterialTextureFromImage(record->data, record->size, name, &image);
        if (image)
        {
            built = NewMaterial(nullptr, image, nullptr, nullptr, false, false, false, 1.0f, 1.0f, false, 0);
            ReleaseMaterialTexture(&image);
            // Bound like any other loaded material, so that the next load shares it and the last
            // release parks or unloads the record.
            if (built)
            {
                built->loadRecord = record;
                root->loaders.AttachObjectToRecord(record, built);
            }
        }
    }
    if (!built)
    {
        root->loaders.AttachObjectToRecord(record, nullptr);
        root->loaders.Unload(record);
        return E_FAIL;
    }

    if (!isAlternative) LoadMaterialAlternatives(built, record);
    *out = built;
    return S_OK;
}

void MergeMaterialChange(Material_** target, Material_* change)
{
    if (!target) return;
    if (!*target)
    {
        if (change) change->AddRef();
        *target = change;
        return;
    }
    if (!change || !(change->flags & kMaterialChangeModes) || !change->changeModes)
    {
        if (change) change->AddRef();
        (*target)->Release();
        *target = change;
        return;
    }

    Material_* t = *target;
    const Material_* c = change;
    const INT* mode = c->changeModes->modes;

    if (t->baseAsReflection != c->baseAsReflection && (!t->reflectionTexture || t->baseAsReflection))
    {
        if (!t->baseAsReflection)
        {
            t->reflectionTexture = t->baseTexture;
            t->baseTexture = nullptr;
            t->baseAsReflection = 1;
        }
        else
        {
            ReleaseMaterialTexture(&t->baseTexture);
            t->baseTexture = t->reflectionTexture;
            t->reflectionTexture = nullptr;
            t->baseAsReflection = 0;
        }
    }

    if (mode[kChangeAmbient] == kChangeTake) t->material.Ambient = c->material.Ambient;
    if (mode[kChangeDiffuseRgb] == kChangeTake)
    {
        t->storedDiffuse.r = c->storedDiffuse.r;
        t->storedDiffuse.g = c->storedDiffuse.g;
        t->storedDiffuse.b = c->storedDiffuse.b;
    }
    if (mode[kChangeDiffuseAlpha] == kChangeTake) t->storedDiffuse.a = c->storedDiffuse.a;
    if (mode[kChangeSpecular] == kChangeTake) t->material.Specular = c->material.Specular;
    const D3DCOLORVALUE& emissive = t->material.Emissive;
    const bool hasEmissive = emissive.r != 0.0f || emissive.g != 0.0f || emissive.b != 0.0f;
    if (TakeSlot(mode[kChangeEmissive], hasEmissive)) t->material.Emissive = c->material.Emissive;
    if (mode[kChangePower] == kChangeTake) t->material.Power = c->material.Power;

    if (TakeSlot(mode[kChangeBaseTexture], t->baseTexture)) ReplaceTexture(&t->baseTexture, c->baseTexture);
    if (TakeSlot(mode[kChangeBaseTransform], t->baseTransform != nullptr))
        SetMaterialTextureTransform(&t->baseTransform, c->baseTransform.get(), kMaterialBaseTransform,
                                    &t->flags);

    const bool hasBase = t->baseTexture != nullptr;
    const INT bumpMode = mode[kChangeBumpTexture];
    const INT reflectionMode = mode[kChangeReflectionTexture];
    bool bumpTaken = TakenDecision(bumpMode, c->bumpTexture, t->bumpTexture, hasBase);
    bool reflectionTaken = TakenDecision(reflectionMode, c->reflectionTexture, t->reflectionTexture, hasBase);
    if (bumpMode == kChangeCoupled && reflectionMode == kChangeCoupled)
        bumpTaken = reflectionTaken = true;
    else if (reflectionMode == kChangeCoupled)
        reflectionTaken = bumpTaken;

    auto takeCoupled = [hasBase](INT m, bool targetHas, bool other)
    { return TakeTextureSlot(m, targetHas, hasBase) || (m == kChangeCoupled && other); };
    if (takeCoupled(bumpMode, t->bumpTexture, reflectionTaken))
        ReplaceTexture(&t->bumpTexture, c->bumpTexture);
    if (takeCoupled(mode[kChangeBumpTransform], t->bumpTransform != nullptr, reflectionTaken))
        SetMaterialTextureTransform(&t->bumpTransform, c->bumpTransform.get(), kMaterialBumpTransform,
                                    &t->flags);
    if (takeCoupled(reflectionMode, t->reflectionTexture, bumpTaken))
        ReplaceTexture(&t->reflectionTexture, c->reflectionTexture);
    if (takeCoupled(mode[kChangeReflectionTransform], t->reflectionTransform != nullptr, bumpTaken))
        SetMaterialTextureTransform(&t->reflectionTransform, c->reflectionTransform.get(),
                                    kMaterialReflectionTransform, &t->flags);

    const INT weightMode = mode[kChangeReflectionWeight];
    if (weightMode == kChangeTake || (weightMode == kChangeWhereMissing && t->reflectionTexture))
        t->reflectionWeight = c->reflectionWeight;
    const INT heightMode = mode[kChangeBumpHeight];
    if (heightMode == kChangeTake || (heightMode == kChangeWhereMissing && t->bumpTexture))
        t->bumpHeight = c->bumpHeight;

    if (TakeSlot(mode[kChangeMirror], t->flags & kMaterialMirror))
    {
        t->mirrorReflectivity = c->mirrorReflectivity;
        TakeFlag(&t->flags, kMaterialMirror, c->flags);
    }
    if (TakeSlot(mode[kChangeVariant20000], t->flags & kMaterialVariant20000))
        TakeFlag(&t->flags, kMaterialVariant20000, c->flags);
    if (mode[kChangeVariant40000] == kChangeTake) TakeFlag(&t->flags, kMaterialVariant40000, c->flags);
    if (mode[kChangeVariant80000] == kChangeTake) TakeFlag(&t->flags, kMaterialVariant80000, c->flags);

    const bool hasBaseNow = t->baseTexture != nullptr;
    const struct
    {
        MaterialChangeField field;
        DWORD bit;
    } baseFlags[] = {{kChangeKeepDiffuse, kMaterialKeepDiffuse}, {kChangeAlphaTest, kMaterialAlphaTest}};
    for (const auto& f : baseFlags)
        if (mode[f.field] == kChangeTake || (mode[f.field] == kChangeWhereMissing && hasBaseNow))
            TakeFlag(&t->flags, f.bit, c->flags);
    if (mode[kChangeTwoSided] == kChangeTake) TakeFlag(&t->flags, kMaterialTwoSided, c->flags);

    t->material.Diffuse = t->storedDiffuse;
    if (hasBaseNow && !(t->flags & kMaterialKeepDiffuse)) WhitenRgb(&t->material.Diffuse);

    TakeFlag(&t->flags, kMaterialAdditiveReflection, c->flags);

    if (bumpTaken && (c->flags & kMaterialBumpFromBase) && hasBaseNow)
    {
        ReplaceTexture(&t->bumpTexture, t->baseTexture);
        t->flags |= kMaterialBumpFromBase;
    }
    else if (!bumpTaken)
        t->flags &= ~kMaterialBumpFromBase;
}

void ReleaseMaterial(Material_** material)
{
    if (!material) return;
    if (*material) (*material)->Release();
    *material = nullptr;
}
} // namespace LMK

// ---------------------------------------------------------------------------------------------------
using LMK::Material_;
using LMK::MaterialDescriptionStruct_TYP;

HRESULT LRCreateMaterialFromColor(float r, float g, float b, float a, Material_** material)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!material) return E_INVALIDARG;
    *material = LMK::NewMaterial(r, g, b, a, false);
    return *material ? S_OK : E_FAIL;
}

HRESULT LRCreateMaterialFromDescription(const MaterialDescriptionStruct_TYP* description,
                                        Material_** material)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!description || !material) return E_INVALIDARG;
    *material = LMK::NewMaterial(description, nullptr);
    return *material ? S_OK : E_FAIL;
}

HRESULT LRGetMaterialDescription(const Material_* material, MaterialDescriptionStruct_TYP** description)
{
    if (!material || !description) return E_INVALIDARG;
    auto* d = static_cast<MaterialDescriptionStruct_TYP*>(std::malloc(sizeof(MaterialDescriptionStruct_TYP)));
    *description = d;
    if (!d) return E_OUTOFMEMORY;
    material->GetDescription(d);
    return S_OK;
}

HRESULT LRFreeMaterialDescription(MaterialDescriptionStruct_TYP** description)
{
    if (!description) return E_INVALIDARG;
    if (!*description) return S_OK;
    LMK::FreeDescriptionStrings(*description);
    std::free(*description);
    *description = nullptr;
    return S_OK;
}

HRESULT LRLoadMaterial(const char* name, Material_** material)
{
    return LMK::LoadMaterial(name, material, false);
}
