#include "engine/core/material_record.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "engine/core/heap_string.h"
#include "engine/core/lr_material_api.h"
#include "platform/bytes/byte_reader.h"

namespace LMK
{
namespace
{
bool ReadInlineName(ferolt::ByteCursor& cursor, char** out)
{
    std::string_view text;
    if (!cursor.CString(cursor.Remaining(), &text)) return false;
    *out = HeapCopy(text);
    return *out != nullptr;
}

bool ReadTextureName(ferolt::ByteCursor& cursor, bool indexed, const char* const* strings, DWORD stringCount,
                     char** out)
{
    if (!indexed) return ReadInlineName(cursor, out);
    WORD index = 0;
    if (!cursor.U16(&index)) return false;
    // An index outside the table names nothing, but still takes its two bytes.
    if (!strings || index >= stringCount || !strings[index]) return true;
    *out = HeapCopy(strings[index]);
    return *out != nullptr;
}

bool ReadTextureTransform(ferolt::ByteCursor& cursor, TextureTransformStruct_TYP* t)
{
    PackedTextureTransformStruct_TYP packed;
    if (!cursor.Read(&packed)) return false;
    std::memset(t, 0, sizeof(*t));
    t->matrix._11 = packed.m11;
    t->matrix._12 = packed.m12;
    t->matrix._21 = packed.m21;
    t->matrix._22 = packed.m22;
    t->matrix._41 = packed.m41;
    t->matrix._42 = packed.m42;
    t->matrix._33 = 1.0f;
    t->matrix._44 = 1.0f;
    t->addressU = packed.addressU;
    t->addressV = packed.addressV;
    t->borderColor = packed.borderColor;
    t->animated = packed.flags & 1;
    t->pointFilter = (packed.flags >> 1) & 1;
    t->effectIndex = packed.effectIndex < 0 ? 0 : packed.effectIndex;
    std::memcpy(t->effectParams, packed.effectParams, sizeof(t->effectParams));
    t->extraWord = packed.extraWord;
    t->extraByte = packed.extraByte;
    t->speed = packed.speed;
    t->pingPong = packed.pingPong;
    return true;
}

void DescribeHeader(const MaterialRecordStruct_TYP& h, MaterialDescriptionStruct_TYP* d)
{
    // The record stores its colours in another order than the Direct3D material.
    ColorValueFromArgb(&d->material.Ambient, h.common.ambient);
    ColorValueFromArgb(&d->material.Diffuse, h.common.diffuse);
    ColorValueFromArgb(&d->material.Specular, h.common.specular);
    ColorValueFromArgb(&d->material.Emissive, h.common.emissive);
    d->material.Power = h.common.power;
    d->reflectionWeight = h.common.reflectionWeight;
    d->bumpHeight = h.common.bumpHeight;
    d->mirrorReflectivity = h.mirrorReflectivity;

    const DWORD flags = h.flags;
    d->keepDiffuse = (flags & kMaterialKeepDiffuse) != 0;
    d->alphaTest = (flags & kMaterialAlphaTest) != 0;
    d->twoSided = (flags & kMaterialTwoSided) != 0;
    d->bumpFromBase = (flags & kMaterialBumpFromBase) != 0;
    d->changeModesPresent = (flags & kMaterialChangeModes) != 0;
    d->baseTransformPresent = (flags & kMaterialBaseTransform) != 0;
    d->bumpTransformPresent = (flags & kMaterialBumpTransform) != 0;
    d->reflectionTransformPresent = (flags & kMaterialReflectionTransform) != 0;
    d->additiveReflection = (flags & kMaterialAdditiveReflection) != 0;
    d->baseAsReflection = (flags & kRecordBaseAsReflection) != 0;
    d->carriedByteB = (flags & kRecordCarriedByte) != 0;
    d->mirror = (flags & kMaterialMirror) != 0;
    d->variant20000 = (flags & kMaterialVariant20000) != 0;
    d->variant40000 = (flags & kMaterialVariant40000) != 0;
    d->variant80000 = (flags & kMaterialVariant80000) != 0;
}

// The variable part: names, change modes and transform records, each under its flag.
bool ReadBody(ferolt::ByteCursor& cursor, const MaterialRecordStruct_TYP& h, DWORD storedVersion,
              const char* const* strings, DWORD stringCount, MaterialDescriptionStruct_TYP* d)
{
    const DWORD flags = h.flags;
    const bool bumpFromBase = d->bumpFromBase != 0;
    if ((flags & kRecordName) && !ReadInlineName(cursor, &d->name)) return false;

    const bool indexed = (flags & kRecordNameIndices) != 0;
    if (indexed && !strings) stringCount = 0;
    if ((flags & kRecordBaseName) && !ReadTextureName(cursor, indexed, strings, stringCount, &d->baseFile))
        return false;
    if ((flags & kRecordBumpName) && !bumpFromBase &&
        !ReadTextureName(cursor, indexed, strings, stringCount, &d->bumpFile))
        return false;
    if ((flags & kRecordReflectionName) &&
        !ReadTextureName(cursor, indexed, strings, stringCount, &d->reflectionFile))
        return false;

    if (flags & kMaterialChangeModes)
    {
        signed char modes[kMaterialRecordModesSize];
        if (!cursor.Read(&modes)) return false;
        // The stored version decides, not the widened header.
        const int stored = storedVersion == 1 ? 17 : kChangeFieldCount;
        for (int i = 0; i < stored; ++i)
            d->changeModes.modes[i] = modes[i];
    }

    SetIdentityTextureTransform(&d->baseTransform);
    SetIdentityTextureTransform(&d->bumpTransform);
    SetIdentityTextureTransform(&d->reflectionTransform);
    if ((flags & kMaterialBaseTransform) && !ReadTextureTransform(cursor, &d->baseTransform)) return false;
    if ((flags & kMaterialBumpTransform) && !bumpFromBase && !ReadTextureTransform(cursor, &d->bumpTransform))
        return false;
    if ((flags & kMaterialReflectionTransform) && !ReadTextureTransform(cursor, &d->reflectionTransform))
        return false;

    // Applied whether or not the base transform is announced; a material uses it only when it is.
    if (h.projection)
    {
        D3DMATRIX& m = d->baseTransform.matrix;
        const float* e = h.projectionElements;
        m._31 = e[0];
        m._32 = e[1];
        m._14 = e[2];
        m._24 = e[3];
        m._34 = e[4];
        m._44 = e[5];
    }
    return true;
}

void ConvertCommon(const MaterialRecordCommonStruct_TYP& stored, MaterialRecordStruct_TYP* header)
{
    std::memset(header, 0, sizeof(*header));
    header->common = stored;
    header->common.version = 3;
    header->headerLength = kMaterialRecordHeaderSize;
}

// The stored header widened to version 3, and where its variable part starts. False for an unknown
// version or a size field too small for the version's own header.
bool ReadHeader(const ferolt::ByteReader& record, DWORD version, MaterialRecordStruct_TYP* header,
                DWORD* bodyStart)
{
    switch (version)
    {
    case 1:
    {
        MaterialRecordV1Struct_TYP stored;
        if (!record.Read(0, &stored)) return false;
        ConvertMaterialRecordHeaderV1(stored, header);
        *bodyStart = kMaterialRecordV1HeaderSize;
        return true;
    }
    case 2:
    {
        MaterialRecordV2Struct_TYP stored;
        if (!record.Read(0, &stored)) return false;
        ConvertMaterialRecordHeaderV2(stored, header);
        *bodyStart = kMaterialRecordV2HeaderSize;
        return true;
    }
    case 3:
        if (!record.Read(0, header)) return false;
        *bodyStart = header->headerLength;
        return *bodyStart <= record.Size();
    default:
        return false;
    }
}
} // namespace

void ConvertMaterialRecordHeaderV1(const MaterialRecordV1Struct_TYP& stored, MaterialRecordStruct_TYP* header)
{
    ConvertCommon(stored.common, header);
    header->flags = stored.flags;
    header->mirrorReflectivity = 0.5f;
}

void ConvertMaterialRecordHeaderV2(const MaterialRecordV2Struct_TYP& stored, MaterialRecordStruct_TYP* header)
{
    ConvertCommon(stored.common, header);
    header->flags = stored.flags;
    header->mirrorReflectivity = stored.mirrorReflectivity;
}

bool ReadMaterialRecord(const char* const* strings, const void* record, DWORD size,
                        MaterialDescriptionStruct_TYP** out, DWORD stringCount, DWORD* consumed)
{
    if (out) *out = nullptr;
    if (consumed) *consumed = 0;
    if (!record || !out) return false;
    if (size != 0 && size < kMaterialRecordV1HeaderSize) return false;

    // Version and size come first; with no size given the caller vouches for them.
    DWORD version = 0, recordSize = 0;
    const ferolt::ByteReader start(record, size ? size : 8);
    if (!start.U32(0, &version) || !start.U32(4, &recordSize)) return false;
    if (size != 0 && size < recordSize) return false;
    // From here on the size field bounds every read.
    const ferolt::ByteReader bytes(record, recordSize);

    MaterialRecordStruct_TYP header;
    DWORD bodyStart = 0;
    if (!ReadHeader(bytes, version, &header, &bodyStart)) return false;

    auto* d =
        static_cast<MaterialDescriptionStruct_TYP*>(std::calloc(1, sizeof(MaterialDescriptionStruct_TYP)));
    if (!d) return false;
    DescribeHeader(header, d);
    ferolt::ByteCursor cursor(bytes, bodyStart);
    if (!ReadBody(cursor, header, version, strings, stringCount, d))
    {
        LRFreeMaterialDescription(&d);
        return false;
    }
    *out = d;
    if (consumed) *consumed = recordSize;
    return true;
}
} // namespace LMK

HRESULT LRReadMaterialRecord(const void* record, DWORD size, LMK::MaterialDescriptionStruct_TYP** description)
{
    if (!record || size == 0 || !description) return E_INVALIDARG;
    return LMK::ReadMaterialRecord(nullptr, record, size, description, 0, nullptr) ? S_OK : E_FAIL;
}
