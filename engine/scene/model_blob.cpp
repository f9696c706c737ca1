// Reading model blobs and the record layout of their data sections. The layout's arrays follow its
// 64-byte header in a fixed order, their sizes given by the header's counts; every count is checked
// against the bytes that are there before anything is allocated.
#include <cstring>

#include "engine/scene/model_blob.h"

namespace LMK
{
namespace
{
using ferolt::ByteCursor;
using ferolt::ByteReader;

constexpr size_t kNameAt = 121;
constexpr size_t kSectionOffsetAt = 220;
constexpr size_t kChunkRecordsAt = 24;
constexpr size_t kChunkRecordSize = 16;
constexpr DWORD kWideLimit = 65534;

bool ReadChunkRecord(const ByteReader& data, size_t at, BlobChunkStruct_TYP* out)
{
    return data.U32(at, &out->id) && data.U32(at + 4, &out->offset) && data.U32(at + 8, &out->size) &&
           data.U32(at + 12, &out->unused);
}

bool Floats(ByteCursor& in, float* out, int count)
{
    for (int i = 0; i < count; ++i)
        if (!in.F32(&out[i])) return false;
    return true;
}

// count records of `size` bytes must be there.
bool Fits(const ByteCursor& in, DWORD count, size_t size)
{
    return count <= in.Remaining() / size;
}
} // namespace

bool GetBlobChunkTable(const ByteReader& blob, std::vector<BlobChunkStruct_TYP>* table)
{
    table->clear();
    BlobChunkStruct_TYP records[4];
    for (int i = 0; i < 4; ++i)
        if (!ReadChunkRecord(blob, kChunkRecordsAt + i * kChunkRecordSize, &records[i])) return false;
    if (records[0].id == 0) return true;
    if (records[3].id == 0xFFFFFFFFu)
    {
        const DWORD count = records[3].size;
        table->assign(records, records + std::min<DWORD>(count, 3));
        if (count <= 3) return true;
        ByteCursor in(blob);
        // The extension must lie within the blob.
        if (!in.Seek(records[3].offset) || !Fits(in, count - 3, kChunkRecordSize)) return false;
        for (DWORD i = 3; i < count; ++i)
        {
            BlobChunkStruct_TYP record;
            if (!ReadChunkRecord(blob, in.Position(), &record) || !in.Skip(kChunkRecordSize)) return false;
            table->push_back(record);
        }
        return true;
    }
    int count = 1;
    for (int i = 1; i < 4; ++i)
        if (records[i].id != 0) count = i + 1;
    table->assign(records, records + count);
    return true;
}

bool ReadBlobRecords(const ByteReader& section, bool hasStrings, BlobRecordsStruct_TYP* out)
{
    *out = BlobRecordsStruct_TYP{};
    ByteCursor in(section);
    DWORD counts[8];
    for (DWORD& count : counts)
        if (!in.U32(&count)) return false;
    if (!in.Skip(32)) return false;
    const DWORD lights = counts[0], materials = counts[1], strings = hasStrings ? counts[2] : 0,
                parts = counts[3], vectors = counts[4], normals = counts[5], vertices = counts[6],
                faces = counts[7];

    if (!Fits(in, lights, 32)) return false;
    out->lightPoints.resize(lights);
    for (BlobLightPoint& light : out->lightPoints)
        if (!Floats(in, light.color, 3) || !Floats(in, light.position, 3) || !in.Skip(8)) return false;

    if (!Fits(in, materials, 64)) return false;
    out->materials.resize(materials);
    for (BlobMaterial& m : out->materials)
        if (!Floats(in, m.color1, 3) || !Floats(in, m.color2, 3) || !in.F32(&m.transparency) ||
            !in.F32(&m.ambient) || !in.F32(&m.diffuse) || !in.F32(&m.specular) || !in.F32(&m.power) ||
            !in.U32(&m.texture) || !in.U32(&m.flags) || !in.Skip(12))
            return false;

    if (!Fits(in, strings, 256)) return false;
    out->strings.resize(strings);
    for (std::string& s : out->strings)
    {
        ByteReader record;
        uint8_t length = 0;
        if (!in.Take(256, &record) || !record.U8(0, &length)) return false;
        std::span<const uint8_t> chars;
        (void)record.Bytes(1, length, &chars); // at most 255 after the length byte: always there
        s.assign(reinterpret_cast<const char*>(chars.data()), chars.size());
        s.resize(std::strlen(s.c_str()));
    }

    if (!Fits(in, parts, 40)) return false;
    out->parts.resize(parts);
    for (BlobPart& part : out->parts)
        if (!in.Skip(24) || !in.U32(&part.vertexCount) || !in.I32(&part.faceCount) || !in.Skip(8))
            return false;

    if (!Fits(in, vectors, 12) || !in.Skip(size_t{vectors} * 12)) return false;
    if (!Fits(in, normals, 12)) return false;
    out->normals.resize(normals);
    for (auto& n : out->normals)
        if (!Floats(in, n.data(), 3)) return false;

    const bool wideVertices = vertices > kWideLimit;
    if (!Fits(in, vertices, wideVertices ? 26 : 24)) return false;
    out->vertices.resize(vertices);
    for (BlobVertex& v : out->vertices)
    {
        float xyzuv[5];
        if (!Floats(in, xyzuv, 5)) return false;
        v.x = xyzuv[0], v.y = xyzuv[1], v.z = xyzuv[2], v.u = xyzuv[3], v.v = xyzuv[4];
        WORD split16 = 0;
        if (wideVertices ? !in.U32(&v.split) : !in.U16(&split16)) return false;
        if (!wideVertices) v.split = split16;
        if (!in.U16(&v.flags)) return false;
    }

    // Faces are wide whenever either count needs it: their corners and neighbours then pass 16 bits.
    const bool wideFaces = wideVertices || faces > kWideLimit;
    if (!Fits(in, faces, wideFaces ? 46 : 28)) return false;
    out->faces.resize(faces);
    for (BlobFace& f : out->faces)
    {
        if (!in.Skip(4)) return false;
        for (DWORD* field : {f.corners, f.neighbours})
            for (int k = 0; k < 4; ++k)
            {
                WORD narrow = 0;
                if (wideFaces ? !in.U32(&field[k]) : !in.U16(&narrow)) return false;
                if (!wideFaces) field[k] = narrow;
            }
        WORD normal16 = 0;
        if (!in.U16(&f.flags) || (wideFaces ? !in.U32(&f.normal) : !in.U16(&normal16)) ||
            !in.U16(&f.material) || !in.U16(&f.texture))
            return false;
        if (!wideFaces) f.normal = normal16;
    }
    return true;
}

bool BlobToACORObj(BlobOptionsStruct_TYP* options, const void* data, DWORD size, BYTE, BYTE hasStrings,
                   BlobRecordsStruct_TYP* records, std::string* name, BlobChunksStruct_TYP* chunks)
{
    if (!data || size < kBlobHeaderSize) return false;
    const ByteReader blob(data, size);
    std::span<const uint8_t> tag;
    if (!blob.Bytes(1, 8, &tag)) return false;
    bool known = false;
    for (const char* header : {"ACO V1.0", "ACO V1.1", "LMO V1.0", "LMO V1.1"})
        known = known || std::memcmp(tag.data(), header, 8) == 0;
    if (!known) return false;

    std::string_view stored;
    if (name)
        name->assign(blob.CString(kNameAt, kSectionOffsetAt - kNameAt, &stored) ? stored
                                                                                : std::string_view());
    DWORD optionBits = 0, value = 0;
    if (!blob.U32(92, &optionBits) || !blob.U32(108, &value)) return false;
    if (options)
    {
        *options = BlobOptionsStruct_TYP{};
        for (int i = 0; i < 3; ++i)
            options->flags[i] = (optionBits >> (3 + i)) & 1;
        options->value = value;
        options->valid = 1;
    }
    if (chunks)
    {
        chunks->base = blob;
        if (!GetBlobChunkTable(blob, &chunks->table)) return false;
    }

    // The data section must lie within the blob: its length would otherwise run past the data.
    DWORD offset = 0, length = 0, checksum = 0;
    ByteReader section;
    if (!blob.U32(kSectionOffsetAt, &offset) || !blob.U32(224, &length) || !blob.U32(228, &checksum) ||
        !blob.Sub(offset, length, &section))
        return false;
    DWORD sum = 0;
    for (uint8_t byte : section.All())
        sum += byte;
    if (sum != checksum && sum != checksum - 1) return false;
    return ReadBlobRecords(section, hasStrings != 0, records);
}

std::vector<std::string> ReadNameList(const ByteReader& list)
{
    std::vector<std::string> names;
    ByteCursor in(list);
    std::string_view name;
    while (in.CString(in.Remaining(), &name) && !name.empty())
        names.emplace_back(name);
    return names;
}
} // namespace LMK
