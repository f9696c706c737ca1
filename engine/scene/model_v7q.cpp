// Reading "v7q!" containers and "V7Q1" streams. Every offset, count and back-reference is checked
// against the data and the part it belongs to; a part that fails ends the part list and the parts
// before it are kept.
#include "engine/scene/model_v7q.h"

#include <zlib.h>

#include <cstring>

#include "engine/scene/geometry_block.h"
#include "engine/scene/model.h"
#include "engine/scene/model_formats.h"

namespace LMK
{
namespace
{
using ferolt::ByteCursor;
using ferolt::ByteReader;

constexpr size_t kStreamHeaderSize = 40;
// zlib cannot expand past about 1032 to 1; a larger unpacked size is a damaged header.
constexpr uint64_t kMaxInflateRatio = 1032;

bool StartsWithIdentifier(const ByteReader& data, size_t at)
{
    std::span<const uint8_t> head;
    return data.Bytes(at, 16, &head) && std::memcmp(head.data(), kV7QFormatIdentifier, 16) == 0;
}

bool Floats(ByteCursor& in, float* out, int count)
{
    for (int i = 0; i < count; ++i)
        if (!in.F32(&out[i])) return false;
    return true;
}

bool ReadPartHeader(ByteCursor& in, V7QPartStruct_TYP* part)
{
    uint8_t control = 0;
    if (!in.U8(&control)) return false;
    part->instance = (control & 1) != 0;
    if (part->instance) return Floats(in, part->header.data(), 12) && in.U16(&part->source);
    return Floats(in, part->header.data(), 10) && in.U16(&part->vertexCapacity) &&
           in.U16(&part->faceCapacity) && in.U16(&part->recordCount);
}

// An instance copies an earlier full part's faces and moves its vertices by the affine transform.
bool BuildInstance(V7QPartStruct_TYP* part, const std::vector<V7QPartStruct_TYP>& parts, size_t index)
{
    if (part->source >= index || parts[part->source].instance) return false;
    const V7QPartStruct_TYP& source = parts[part->source];
    const float* t = part->header.data();
    const D3DXMATRIX m(t[0], t[1], t[2], 0, t[3], t[4], t[5], 0, t[6], t[7], t[8], 0, t[9], t[10], t[11], 1);
    part->vertices = source.vertices;
    for (V7QVertex& v : part->vertices)
    {
        const D3DXVECTOR3 p(v.x, v.y, v.z);
        D3DXVECTOR3 moved;
        D3DXVec3TransformCoord(&moved, &p, &m);
        v.x = moved.x, v.y = moved.y, v.z = moved.z;
    }
    part->faces = source.faces;
    return true;
}
} // namespace

bool UnpackV7QContainer(const void* data, DWORD size, std::vector<BYTE>* body)
{
    body->clear();
    const ByteReader file(data, size);
    DWORD magic = 0, second = 1, offset = 0, method = 0, unpacked = 0;
    if (!file.U32(0, &magic) || magic != kV7QMagic || !file.U32(4, &second) || second != 0 ||
        !file.U32(8, &offset) || !file.U32(12, &method) || !file.U32(16, &unpacked))
        return false;
    ByteReader packed;
    if (!file.Tail(offset, &packed)) return false;
    if (method == 0)
    {
        std::span<const uint8_t> stored;
        if (!packed.Bytes(0, unpacked, &stored)) return false;
        body->assign(stored.begin(), stored.end());
        return true;
    }
    if (method != 1 || unpacked > packed.Size() * kMaxInflateRatio + 64) return false;
    body->resize(unpacked);
    z_stream z{};
    if (inflateInit_(&z, ZLIB_VERSION, sizeof(z_stream)) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(packed.All().data());
    z.avail_in = static_cast<uInt>(packed.Size());
    z.next_out = body->data();
    z.avail_out = unpacked;
    const int result = inflate(&z, Z_SYNC_FLUSH);
    const uLong produced = z.total_out;
    inflateEnd(&z);
    // A body that inflates short is as damaged as one that does not inflate.
    if ((result != Z_OK && result != Z_STREAM_END) || produced != unpacked)
    {
        body->clear();
        return false;
    }
    return true;
}

bool DecodeV7QPart(V7QPartStruct_TYP* part, ByteCursor& in, BYTE noHardEdges)
{
    part->vertices.clear();
    part->faces.clear();
    part->vertices.reserve(part->vertexCapacity);
    part->faces.reserve(part->faceCapacity);
    const float* h = part->header.data();
    const float mins[5] = {h[0], h[1], h[2], h[6], h[8]};
    const float maxs[5] = {h[3], h[4], h[5], h[7], h[9]};
    float scales[5];
    for (int i = 0; i < 5; ++i)
        scales[i] = static_cast<float>((maxs[i] - mins[i]) / 32767.0);
    uint16_t acc[5] = {0, 0, 0, 0, 0};
    DWORD group = 0;
    auto fail = [part]
    {
        part->vertices.clear();
        part->faces.clear();
        return false;
    };
    for (DWORD record = 0; record < part->recordCount; ++record)
    {
        WORD w = 0, c = 0;
        if (!in.U16(&w)) return fail();
        c = w;
        if ((w & 0x80) && (w & 0x400) && !in.U16(&c)) return fail();
        uint8_t f = 0;
        if ((c & 1) && !in.U8(&f)) return fail();
        int16_t deltas[5] = {0, 0, 0, 0, 0};
        for (int i = 0; i < 5; ++i)
            if ((c & (2 << i)) && !in.Read(&deltas[i])) return fail();
        if (c & 0x40)
        {
            WORD newGroup = 0;
            if (!in.U16(&newGroup)) return fail();
            group = newGroup;
        }
        DWORD refs[4] = {0, 1, 2, 3};
        auto readRef = [&](DWORD* out)
        {
            if (c & 0x200)
            {
                WORD value = 0;
                if (!in.U16(&value)) return false;
                *out = value;
                return true;
            }
            uint8_t value = 0;
            if (!in.U8(&value)) return false;
            *out = value;
            return true;
        };
        for (int i = 0; i < 3; ++i)
            if ((c & (0x400 << i)) && !readRef(&refs[i])) return fail();
        const bool quad = (f & 1) != 0;
        if (quad && (f & 2) && !readRef(&refs[3])) return fail();

        if (c & 0x3E)
        {
            if (part->vertices.size() >= part->vertexCapacity) return fail();
            float values[5];
            for (int i = 0; i < 5; ++i)
            {
                acc[i] = static_cast<uint16_t>(acc[i] + static_cast<uint16_t>(deltas[i]));
                values[i] = static_cast<float>(static_cast<int16_t>(acc[i])) * scales[i] + mins[i];
            }
            part->vertices.push_back({values[0], values[1], values[2], values[3], values[4]});
        }
        if (c & 0x80) continue;
        if (part->faces.size() >= part->faceCapacity || part->vertices.empty()) return fail();
        const DWORD last = static_cast<DWORD>(part->vertices.size() - 1);
        // A back-reference must name a vertex already made.
        for (int i = 0; i < (quad ? 4 : 3); ++i)
            if (refs[i] > last) return fail();
        V7QFace face{};
        face.flags = (f & 8) ? kV7QFaceMarked : 0;
        face.group = group;
        face.corners[0] = last - refs[0];
        const bool rotated = (c & 0x100) != 0;
        if (!rotated)
        {
            if (quad)
            {
                face.corners[1] = last - refs[3];
                face.corners[2] = last - refs[2];
                face.corners[3] = last - refs[1];
            }
            else
            {
                face.corners[1] = last - refs[2];
                face.corners[2] = face.corners[3] = last - refs[1];
            }
        }
        else
        {
            face.corners[1] = last - refs[1];
            face.corners[2] = last - refs[2];
            face.corners[3] = quad ? last - refs[3] : last - refs[2];
        }
        if (quad) face.flags |= kV7QFaceQuad;
        if (!noHardEdges)
        {
            if (c & 0x2000) face.flags |= 0x2;
            if (!rotated)
            {
                if (!quad)
                {
                    if (c & 0x4000) face.flags |= 0x8;
                    if (c & 0x8000) face.flags |= 0x4;
                }
                else
                {
                    if (c & 0x4000) face.flags |= 0x10;
                    if (c & 0x8000) face.flags |= 0x8;
                    if (f & 4) face.flags |= 0x4;
                }
            }
            else
            {
                if (c & 0x4000) face.flags |= 0x4;
                if (c & 0x8000) face.flags |= 0x8;
                if (quad && (f & 4)) face.flags |= 0x10;
            }
        }
        part->faces.push_back(face);
    }
    return true;
}

bool ReadV7QModel(BlobOptionsStruct_TYP* options, const void* data, DWORD size, V7QModelStruct_TYP* model,
                  BYTE noHardEdges, std::vector<BlobChunkStruct_TYP>* chunks, bool* allPartsRead)
{
    FloatControlScope control;
    *model = V7QModelStruct_TYP{};
    if (options) *options = BlobOptionsStruct_TYP{};
    if (chunks) chunks->clear();
    if (allPartsRead) *allPartsRead = false;
    const ByteReader stream(data, size);
    size_t at = 0;
    if (stream.Size() < 16) return false;
    if (StartsWithIdentifier(stream, at)) at += 16;
    if (stream.Size() - at < 16) return false;
    if (StartsWithIdentifier(stream, at)) at += 16;
    DWORD magic = 0, objectOffset = 0, chunkOffset = 0, chunkSize = 0;
    if (stream.Size() - at < kStreamHeaderSize || !stream.U32(at, &magic) || magic != kV7QStreamMagic ||
        !stream.U32(at + 20, &objectOffset) || !stream.U32(at + 28, &chunkOffset) ||
        !stream.U32(at + 32, &chunkSize))
        return false;

    if (chunks)
    {
        ByteCursor list(stream);
        const size_t end = size_t{chunkOffset} + chunkSize;
        if (list.Seek(chunkOffset))
            while (list.Position() + 8 <= end)
            {
                BlobChunkStruct_TYP chunk{};
                if (!list.U32(&chunk.id) || !list.U32(&chunk.size)) break;
                chunk.offset = static_cast<DWORD>(list.Position());
                if (!list.Skip(chunk.size)) break;
                chunks->push_back(chunk);
            }
    }

    ByteCursor in(stream);
    WORD nameLength = 0, blockSize = 0, lightCount = 0, materialCount = 0, stringCount = 0, partCount = 0;
    if (!in.Seek(at + size_t{objectOffset}) || !Floats(in, model->boundsMin, 3) ||
        !Floats(in, model->boundsMax, 3) || !in.U32(&model->value) || !in.U8(&model->flags) || !in.Skip(9) ||
        !in.U16(&nameLength) || !in.U16(&blockSize) || !in.U16(&lightCount) || !in.U16(&materialCount) ||
        !in.U16(&stringCount) || !in.U16(&partCount))
        return false;
    const size_t nameAt = in.Position();
    std::string_view name;
    if (!stream.CString(nameAt, nameLength, &name) || !in.Skip(nameLength)) return false;
    model->name.assign(name);
    if (options)
    {
        for (int i = 0; i < 3; ++i)
            options->flags[i] = (model->flags >> (1 + i)) & 1;
        options->value = model->value;
        options->valid = 1;
    }
    if (blockSize)
    {
        ByteReader block;
        if (!in.Take(blockSize, &block)) return false;
        ByteCursor strings(block);
        std::string_view s;
        while (model->strings.size() < stringCount && strings.CString(strings.Remaining(), &s))
            model->strings.emplace_back(s);
    }
    model->strings.resize(stringCount);

    if (lightCount > in.Remaining() / 15) return false;
    model->lightPoints.resize(lightCount);
    for (V7QLightRecord& light : model->lightPoints)
        if (!in.U8(&light.color[0]) || !in.U8(&light.color[1]) || !in.U8(&light.color[2]) ||
            !Floats(in, light.position, 3))
            return false;
    if (materialCount > in.Remaining() / 20) return false;
    model->materials.resize(materialCount);
    for (V7QMaterialRecord& m : model->materials)
    {
        bool ok = in.U8(&m.color1[0]) && in.U8(&m.color1[1]) && in.U8(&m.color1[2]) && in.U8(&m.color2[0]) &&
                  in.U8(&m.color2[1]) && in.U8(&m.color2[2]) && in.U16(&m.transparency);
        for (WORD& factor : m.factors)
            ok = ok && in.U16(&factor);
        if (!ok || !in.U16(&m.texture) || !in.Skip(1) || !in.U8(&m.flags)) return false;
    }

    if (partCount > in.Remaining() / (1 + kV7QFullPartHeaderSize)) return false;
    model->parts.resize(partCount);
    for (V7QPartStruct_TYP& part : model->parts)
        if (!ReadPartHeader(in, &part)) return false;

    size_t read = 0;
    for (; read < model->parts.size(); ++read)
    {
        V7QPartStruct_TYP& part = model->parts[read];
        const bool ok =
            part.instance ? BuildInstance(&part, model->parts, read) : DecodeV7QPart(&part, in, noHardEdges);
        if (!ok) break;
        model->totalVertices += static_cast<DWORD>(part.vertices.size());
        model->totalFaces += static_cast<DWORD>(part.faces.size());
    }
    model->parts.resize(read);
    if (allPartsRead) *allPartsRead = read == partCount;
    if (read == 0)
    {
        if (chunks) chunks->clear();
        return false;
    }
    return true;
}

void ConvertV7QToRecords(const V7QModelStruct_TYP& model, BlobRecordsStruct_TYP* out)
{
    *out = BlobRecordsStruct_TYP{};
    for (const V7QLightRecord& l : model.lightPoints)
        out->lightPoints.push_back({{l.color[0] / 255.0f, l.color[1] / 255.0f, l.color[2] / 255.0f},
                                    {l.position[0], l.position[1], l.position[2]}});
    for (const V7QMaterialRecord& m : model.materials)
    {
        BlobMaterial b{};
        for (int i = 0; i < 3; ++i)
        {
            b.color1[i] = m.color1[i] / 255.0f;
            b.color2[i] = m.color2[i] / 255.0f;
        }
        const float t = m.transparency / 65536.0f;
        b.transparency = m.transparency ? 1.0f - t : 0.0f;
        b.ambient = m.factors[0] / 256.0f;
        b.diffuse = m.factors[1] / 256.0f;
        b.specular = m.factors[2] / 256.0f;
        b.power = m.factors[3] / 256.0f;
        b.texture = m.texture;
        b.flags = m.flags & 0x3F;
        out->materials.push_back(b);
    }
    // A string record holds a length byte and at most 255 characters.
    for (const std::string& s : model.strings)
        out->strings.push_back(s.substr(0, 255));

    for (const V7QPartStruct_TYP& part : model.parts)
    {
        const bool used = !part.vertices.empty() && !part.faces.empty();
        out->parts.push_back({used ? static_cast<DWORD>(part.vertices.size()) : 0,
                              used ? static_cast<int32_t>(part.faces.size()) : 0});
        const DWORD base = static_cast<DWORD>(out->vertices.size());
        for (const V7QVertex& v : part.vertices)
            out->vertices.push_back({v.x, v.y, v.z, v.u, v.v, 0, 0});
        for (const V7QFace& f : part.faces)
        {
            BlobFace b{};
            for (int k = 0; k < 4; ++k)
                b.corners[k] = f.corners[k] + base;
            b.material = static_cast<WORD>(f.group);
            const V7QMaterialRecord* m =
                f.group < model.materials.size() ? &model.materials[f.group] : nullptr;
            b.texture = m ? m->texture : 0;
            WORD flags = (f.flags & kV7QFaceQuad) ? kBlobFaceQuad : 0;
            flags |= static_cast<WORD>((f.flags & 0x3E) << 4); // 0x2..0x20 -> 0x20..0x200
            if (m)
            {
                if (m->flags & 1) flags |= kBlobFaceTextured;
                if (m->transparency) flags |= kBlobFaceTransparent;
                if (m->flags & 2) flags |= kBlobFaceAlphaTest;
                if (m->flags & 0x20) flags |= 0x400;
            }
            b.flags = flags;
            out->faces.push_back(b);
        }
    }

    // Edge links: each edge a->b finds, among the faces of a, the first other face with an unlinked
    // edge b->a (or a->b where either face is two-sided); hard edges mark their vertices instead.
    const size_t faceCount = out->faces.size();
    for (size_t fi = 0; fi < faceCount; ++fi)
        for (DWORD& n : out->faces[fi].neighbours)
            n = static_cast<DWORD>(fi);
    std::vector<std::vector<DWORD>> facesOf(out->vertices.size());
    auto cornerCount = [](const BlobFace& f) { return (f.flags & kBlobFaceQuad) ? 4 : 3; };
    for (size_t fi = 0; fi < faceCount; ++fi)
    {
        const BlobFace& f = out->faces[fi];
        for (int k = 0; k < cornerCount(f); ++k)
        {
            auto& list = facesOf[f.corners[k]];
            if (list.empty() || list.back() != fi) list.push_back(static_cast<DWORD>(fi));
        }
    }
    for (size_t fi = 0; fi < faceCount; ++fi)
    {
        BlobFace& f = out->faces[fi];
        const int n = cornerCount(f);
        for (int k = 0; k < n; ++k)
        {
            const DWORD a = f.corners[k], b = f.corners[(k + 1) % n];
            if (f.flags & (kBlobFaceHardEdge0 << k))
            {
                out->vertices[a].flags = kBlobVertexOnHardEdges;
                out->vertices[b].flags = kBlobVertexOnHardEdges;
                continue;
            }
            if (f.neighbours[k] != fi) continue;
            bool linked = false;
            for (DWORD gi : facesOf[a])
            {
                if (gi == fi || linked) continue;
                BlobFace& g = out->faces[gi];
                const bool twoSided = ((f.flags | g.flags) & kBlobFaceTwoSided) != 0;
                const int m = cornerCount(g);
                for (int j = 0; j < m && !linked; ++j)
                {
                    const DWORD ga = g.corners[j], gb = g.corners[(j + 1) % m];
                    if (g.neighbours[j] != gi) continue;
                    if ((ga == b && gb == a) || (twoSided && ga == a && gb == b))
                    {
                        f.neighbours[k] = gi;
                        g.neighbours[j] = static_cast<DWORD>(fi);
                        linked = true;
                    }
                }
            }
        }
    }
}

HRESULT BuildModelFromV7Q(BYTE optimise, BYTE noTextures, BYTE noResmooth, const V7QModelStruct_TYP& model,
                          const BlobOptionsStruct_TYP* options, BYTE animated,
                          const BlobChunksStruct_TYP* chunks, LoadRecordStruct_TYP* record, Model_** out)
{
    BlobRecordsStruct_TYP records;
    ConvertV7QToRecords(model, &records);
    const HRESULT hr = BuildModelFromBlobData(optimise, noTextures, noResmooth, &records, options, false,
                                              animated, nullptr, chunks, record, out);
    if (*out) (*out)->SetName(model.name.c_str());
    return hr;
}
} // namespace LMK
