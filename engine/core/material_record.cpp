#include "engine/core/material_record.h"

#include <cstdlib>
#include <cstring>

#include "engine/core/lr_material_api.h"

namespace LMK
{
namespace
{
// Little-endian reads inside [pos, end) of one record; any read past the end fails the record.
class RecordReader
{
public:
    RecordReader(const BYTE* bytes, DWORD start, DWORD end) : bytes_(bytes), pos_(start), end_(end) {}

    bool Skip(DWORD n)
    {
        if (n > end_ - pos_) return false;
        pos_ += n;
        return true;
    }
    template <class T> bool Read(T* out)
    {
        if (sizeof(T) > end_ - pos_) return false;
        std::memcpy(out, bytes_ + pos_, sizeof(T));
        pos_ += sizeof(T);
        return true;
    }
    // A NUL-terminated string as a new heap copy.
    bool ReadString(char** out)
    {
        const void* nul = std::memchr(bytes_ + pos_, 0, end_ - pos_);
        if (!nul) return false;
        size_t length = static_cast<const BYTE*>(nul) - (bytes_ + pos_) + 1;
        *out = static_cast<char*>(std::malloc(length));
        if (!*out) return false;
        std::memcpy(*out, bytes_ + pos_, length);
        pos_ += static_cast<DWORD>(length);
        return true;
    }

private:
    const BYTE* bytes_;
    DWORD pos_;
    DWORD end_;
};

template <class T> T Get(const BYTE* header, DWORD offset)
{
    T value;
    std::memcpy(&value, header + offset, sizeof(T));
    return value;
}

template <class T> void Put(BYTE* header, DWORD offset, T value)
{
    std::memcpy(header + offset, &value, sizeof(T));
}

void ConvertCommon(const BYTE* stored, BYTE* header)
{
    std::memset(header, 0, kMaterialRecordHeaderSize);
    std::memcpy(header, stored, 36); // version, size, four colours, power, weights
    Put<DWORD>(header, 0, 3);
    Put<DWORD>(header, 44, kMaterialRecordHeaderSize);
}

char* CopyString(const char* text)
{
    if (!text) return nullptr;
    size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

bool ReadTextureName(RecordReader& reader, bool indexed, char** strings, DWORD stringCount, char** out)
{
    if (!indexed) return reader.ReadString(out);
    WORD index = 0;
    if (!reader.Read(&index)) return false;
    // An index outside the table names nothing, but still takes its two bytes.
    if (strings && index < stringCount && strings[index])
    {
        *out = CopyString(strings[index]);
        if (!*out) return false;
    }
    return true;
}

bool ReadTextureTransform(RecordReader& reader, TextureTransformStruct_TYP* t)
{
    BYTE packed[kPackedTextureTransformSize];
    if (!reader.Read(&packed)) return false;
    std::memset(t, 0, sizeof(*t));
    t->matrix._11 = Get<float>(packed, 0);
    t->matrix._12 = Get<float>(packed, 4);
    t->matrix._21 = Get<float>(packed, 8);
    t->matrix._22 = Get<float>(packed, 12);
    t->matrix._41 = Get<float>(packed, 16);
    t->matrix._42 = Get<float>(packed, 20);
    t->matrix._33 = 1.0f;
    t->matrix._44 = 1.0f;
    t->addressU = packed[24];
    t->addressV = packed[25];
    t->borderColor = Get<DWORD>(packed, 26);
    t->animated = packed[30] & 1;
    t->pointFilter = (packed[30] >> 1) & 1;
    INT effect = Get<INT>(packed, 31);
    t->effectIndex = effect < 0 ? 0 : effect;
    for (int i = 0; i < 3; ++i)
        t->effectParams[i] = Get<float>(packed, 35 + 4 * i);
    t->extraWord = Get<WORD>(packed, 47);
    t->extraByte = packed[49];
    t->speed = Get<float>(packed, 50);
    t->pingPong = packed[54];
    return true;
}

bool ReadBody(const BYTE* bytes, const BYTE* header, DWORD storedVersion, DWORD bodyStart, char** strings,
              DWORD stringCount, MaterialDescriptionStruct_TYP* d)
{
    const DWORD size = Get<DWORD>(header, 4);
    const DWORD flags = Get<DWORD>(header, 36);
    ColorValueFromArgb(&d->material.Ambient, Get<DWORD>(header, 8));
    ColorValueFromArgb(&d->material.Diffuse, Get<DWORD>(header, 12));
    ColorValueFromArgb(&d->material.Specular, Get<DWORD>(header, 16));
    ColorValueFromArgb(&d->material.Emissive, Get<DWORD>(header, 20));
    d->material.Power = Get<float>(header, 24);
    d->reflectionWeight = Get<float>(header, 28);
    d->bumpHeight = Get<float>(header, 32);
    d->mirrorReflectivity = Get<float>(header, 40);

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

    RecordReader reader(bytes, bodyStart, size);
    const bool bumpFromBase = d->bumpFromBase != 0;
    if ((flags & kRecordName) && !reader.ReadString(&d->name)) return false;

    const bool indexed = (flags & kRecordNameIndices) != 0;
    if (indexed && !strings) stringCount = 0;
    if ((flags & kRecordBaseName) && !ReadTextureName(reader, indexed, strings, stringCount, &d->baseFile))
        return false;
    if ((flags & kRecordBumpName) && !bumpFromBase &&
        !ReadTextureName(reader, indexed, strings, stringCount, &d->bumpFile))
        return false;
    if ((flags & kRecordReflectionName) &&
        !ReadTextureName(reader, indexed, strings, stringCount, &d->reflectionFile))
        return false;

    if (flags & kMaterialChangeModes)
    {
        signed char modes[24];
        if (!reader.Read(&modes)) return false;
        const int stored = storedVersion == 1 ? 17 : kChangeFieldCount;
        for (int i = 0; i < stored; ++i)
            d->changeModes.modes[i] = modes[i];
    }

    SetIdentityTextureTransform(&d->baseTransform);
    SetIdentityTextureTransform(&d->bumpTransform);
    SetIdentityTextureTransform(&d->reflectionTransform);
    if ((flags & kMaterialBaseTransform) && !ReadTextureTransform(reader, &d->baseTransform)) return false;
    if ((flags & kMaterialBumpTransform) && !bumpFromBase && !ReadTextureTransform(reader, &d->bumpTransform))
        return false;
    if ((flags & kMaterialReflectionTransform) && !ReadTextureTransform(reader, &d->reflectionTransform))
        return false;

    if (header[48])
    {
        D3DMATRIX& m = d->baseTransform.matrix;
        m._31 = Get<float>(header, 52);
        m._32 = Get<float>(header, 56);
        m._14 = Get<float>(header, 60);
        m._24 = Get<float>(header, 64);
        m._34 = Get<float>(header, 68);
        m._44 = Get<float>(header, 72);
    }
    return true;
}
} // namespace

void ConvertMaterialRecordHeaderV1(const BYTE* stored, BYTE* header)
{
    ConvertCommon(stored, header);
    Put<DWORD>(header, 36, Get<WORD>(stored, 36));
    Put<float>(header, 40, 0.5f);
}

void ConvertMaterialRecordHeaderV2(const BYTE* stored, BYTE* header)
{
    ConvertCommon(stored, header);
    Put<DWORD>(header, 36, Get<DWORD>(stored, 36));
    Put<float>(header, 40, Get<float>(stored, 40));
}

bool ReadMaterialRecord(char** strings, const void* record, DWORD size, MaterialDescriptionStruct_TYP** out,
                        DWORD stringCount, DWORD* consumed)
{
    if (out) *out = nullptr;
    if (consumed) *consumed = 0;
    if (!record || !out) return false;
    if (size != 0 && size < kMaterialRecordV1HeaderSize) return false;
    const auto* bytes = static_cast<const BYTE*>(record);

    const DWORD version = Get<DWORD>(bytes, 0);
    const DWORD recordSize = Get<DWORD>(bytes, 4);
    // The header's size field bounds every read, so it must lie within what the caller has.
    if (size != 0 && size < recordSize) return false;
    BYTE header[kMaterialRecordHeaderSize];
    DWORD bodyStart = 0;
    switch (version)
    {
    case 1:
        if (recordSize < kMaterialRecordV1HeaderSize) return false;
        ConvertMaterialRecordHeaderV1(bytes, header);
        bodyStart = kMaterialRecordV1HeaderSize;
        break;
    case 2:
        if (recordSize < kMaterialRecordV2HeaderSize) return false;
        ConvertMaterialRecordHeaderV2(bytes, header);
        bodyStart = kMaterialRecordV2HeaderSize;
        break;
    case 3:
        if (recordSize < kMaterialRecordHeaderSize) return false;
        std::memcpy(header, bytes, kMaterialRecordHeaderSize);
        bodyStart = Get<DWORD>(header, 44);
        if (bodyStart > recordSize) return false;
        break;
    default:
        return false;
    }
    auto* d =
        static_cast<MaterialDescriptionStruct_TYP*>(std::calloc(1, sizeof(MaterialDescriptionStruct_TYP)));
    if (!d) return false;
    if (!ReadBody(bytes, header, version, bodyStart, strings, stringCount, d))
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
