#include "engine/scene/geometry_block.h"

#include "engine/core/file_numbers.h"
#include "platform/bytes/byte_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/win32/crt.h"

namespace LMK
{
namespace
{

inline float FloatFromBits(DWORD bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

class TableSet
{
public:
    ~TableSet()
    {
        for (HuffmanTable*& table : tables)
            HuffmanTable::Free(&table);
    }
    HuffmanTable* tables[kMeshTableCount] = {};
};

// Ring indices are u16, so a ring of more than 2^16 slots adds nothing but memory.
constexpr DWORD kMaxRingBits = 17;
// Wider quantisation cannot be read: values are at most 32 bits.
constexpr DWORD kMaxQuantisationBits = 32;

enum : DWORD
{
    kTableRuns = 0,
    kTableStripLengths = 1,
    kTableRing = 2,
    kTablePosition = 3,
};

// Why the second pass stopped: a short stream keeps what was decoded, malformed counts refuse the mesh.
enum class StripResult
{
    Ok,
    EndOfStream,
    Malformed,
};

struct MeshDecoder
{
    CompressedMeshHeaderStruct_TYP header{};
    FVFDescriptionStruct_TYP description{};
    BitReader reader;
    HuffmanTable* const* tables = nullptr;
    DWORD bits[3] = {};
    double scale[3] = {};
    DWORD signMask[3] = {};
    DWORD stripLengthWidth = 0;

    std::vector<DWORD> runs;
    DWORD nextRun = 0;
    DWORD predictedSinceRun = 0;

    std::vector<WORD> ring;
    DWORD ringPosition = 0;
    WORD ringCounter = 0;

    std::vector<DecodedVertexStruct_TYP> vertices;
    DWORD made = 0;
    DWORD vertexLimit = 0;

    bool Read(DWORD& value, DWORD n) { return BitReader::ReadBits(value, n, reader); }
    size_t BitsLeft() const { return reader.BitsLeft(); }
    bool ReadThrough(DWORD& value, DWORD n, DWORD table)
    {
        return BitReader::ReadField(value, n, tables[table], reader);
    }

    // Each class of components with its first slot, count, bits index and delta table.
    struct ComponentClass
    {
        DWORD slot;
        DWORD count;
        DWORD klass;
        bool texture;
    };
    ComponentClass Classes(DWORD i) const
    {
        switch (i)
        {
        case 0:
            return {kDecodedPositionSlot, description.positionCount, 0, false};
        case 1:
            return {kDecodedBlendSlot, description.blendCount, 1, false};
        default:
            return {kDecodedTextureSlot, description.textureFloatCount, 2, true};
        }
    }

    bool DecodeQuantisedAttributes(const CompressedGroupStruct_TYP& group, DecodedVertexStruct_TYP& vertex)
    {
        for (DWORD c = 0; c < 3; ++c)
        {
            const ComponentClass cls = Classes(c);
            if (cls.texture && vertex.noTexture) continue;
            for (DWORD i = cls.slot; i < cls.slot + cls.count; ++i)
            {
                DWORD q = 0;
                if (!Read(q, bits[cls.klass])) return false;
                const double range = static_cast<double>(group.maximum[i]) - group.minimum[i];
                vertex.values[i] =
                    static_cast<float>(static_cast<double>(q) * range * scale[cls.klass] + group.minimum[i]);
            }
        }
        return true;
    }

    bool DecodePredictedVertex(const CompressedGroupStruct_TYP& group, DWORD parity,
                               const DecodedVertexStruct_TYP& a, const DecodedVertexStruct_TYP& b,
                               const DecodedVertexStruct_TYP& c, DecodedVertexStruct_TYP& vertex)
    {
        for (DWORD k = 0; k < 3; ++k)
        {
            const ComponentClass cls = Classes(k);
            if (cls.texture && vertex.noTexture) continue;
            for (DWORD i = cls.slot; i < cls.slot + cls.count; ++i)
            {
                DWORD q = 0;
                if (!ReadThrough(q, bits[cls.klass], kTablePosition + cls.klass)) return false;
                if (q & signMask[cls.klass]) q |= signMask[cls.klass];
                const double range = static_cast<double>(group.maximum[i]) - group.minimum[i];
                const float step = static_cast<float>(range * scale[cls.klass]);
                const float d =
                    static_cast<float>(2.0 * (static_cast<double>(static_cast<int32_t>(q)) * step));
                const double ai = a.values[i], bi = b.values[i], ci = c.values[i];
                const float base = static_cast<float>(parity ? (ai + bi) - ci : (ai - bi) + ci);
                vertex.values[i] = static_cast<float>(static_cast<double>(base) + d);
            }
        }
        return true;
    }

    // Row-vector transform with the intermediates of the decode's 53-bit precision.
    static void TransformCoord(const float m[4][4], const float in[3], float out[3])
    {
        const double x = in[0], y = in[1], z = in[2];
        const double w = x * m[0][3] + y * m[1][3] + z * m[2][3] + m[3][3];
        for (int j = 0; j < 3; ++j)
            out[j] = static_cast<float>((x * m[0][j] + y * m[1][j] + z * m[2][j] + m[3][j]) / w);
    }

    bool ReadStripTransform(const CompressedGroupStruct_TYP& group, const float p[3], float m[4][4])
    {
        double axis[4];
        for (double& value : axis)
        {
            DWORD raw = 0;
            if (!Read(raw, 14)) return false;
            const int signedRaw = raw > 8191 ? static_cast<int>(raw) - 16384 : static_cast<int>(raw);
            value = signedRaw / 8191.0;
        }
        double t[3];
        for (double& value : t)
        {
            DWORD raw = 0;
            if (!Read(raw, bits[0])) return false;
            if (raw & signMask[0]) raw |= signMask[0];
            value = static_cast<int32_t>(raw);
        }
        DWORD negateU = 0, negateV = 0, hasScale = 0;
        if (!Read(negateU, 1) || !Read(negateV, 1) || !Read(hasScale, 1)) return false;
        float scaleValue = 1.0f;
        if (hasScale)
        {
            DWORD raw = 0;
            if (!Read(raw, 32)) return false;
            scaleValue = FloatFromBits(raw);
        }
        float u[3] = {static_cast<float>(axis[0]), static_cast<float>(axis[1]), 0.0f};
        float v[3] = {static_cast<float>(axis[2]), static_cast<float>(axis[3]), 0.0f};
        const double uz = 1.0 - static_cast<double>(u[0]) * u[0] - static_cast<double>(u[1]) * u[1];
        const double vz = 1.0 - static_cast<double>(v[0]) * v[0] - static_cast<double>(v[1]) * v[1];
        u[2] = uz > 0.0 ? static_cast<float>(std::sqrt(uz)) : 0.0f;
        v[2] = vz > 0.0 ? static_cast<float>(std::sqrt(vz)) : 0.0f;
        if (negateU) u[2] = -u[2];
        if (negateV) v[2] = -v[2];
        const float w[3] = {
            static_cast<float>(static_cast<double>(u[1]) * v[2] - static_cast<double>(u[2]) * v[1]),
            static_cast<float>(static_cast<double>(u[2]) * v[0] - static_cast<double>(u[0]) * v[2]),
            static_cast<float>(static_cast<double>(u[0]) * v[1] - static_cast<double>(u[1]) * v[0]),
        };
        const float* rows[3] = {u, v, w};
        for (int r = 0; r < 3; ++r)
        {
            for (int j = 0; j < 3; ++j)
                m[r][j] = static_cast<float>(static_cast<double>(rows[r][j]) * scaleValue);
            m[r][3] = static_cast<float>(0.0 * scaleValue);
        }
        m[3][0] = m[3][1] = m[3][2] = static_cast<float>(0.0 * scaleValue);
        m[3][3] = 1.0f;
        float moved[3];
        TransformCoord(m, p, moved);
        for (int j = 0; j < 3; ++j)
        {
            const double range = static_cast<double>(group.maximum[j]) - group.minimum[j];
            const double d = 2.0 * t[j] * range * scale[0];
            m[3][j] = static_cast<float>(static_cast<double>(p[j]) + d - moved[j]);
        }
        return true;
    }

    void Push(WORD index, BYTE counted)
    {
        PushRecentIndex(index, ring.data(), static_cast<DWORD>(ring.size()), &ringPosition, &ringCounter,
                        counted);
    }

    StripResult DecodeStrip(CompressedGroupStruct_TYP& group, DWORD stripNumber)
    {
        DWORD length = 0;
        if (!ReadThrough(length, stripLengthWidth, kTableStripLengths)) return StripResult::EndOfStream;
        const bool copied = length == 0;
        DWORD sourceStart = 0;
        float transform[4][4] = {};
        if (copied)
        {
            DWORD source = 0;
            if (!Read(source, header.stripCountWidth)) return StripResult::EndOfStream;
            if (source >= stripNumber) return StripResult::Malformed;
            length = group.stripLengths[source];
            sourceStart = group.stripStarts[source];
            const DecodedVertexStruct_TYP& first = vertices[group.entries[sourceStart].vertex];
            if (!ReadStripTransform(group, first.values, transform)) return StripResult::EndOfStream;
        }
        group.stripLengths.push_back(length);
        group.stripStarts.push_back(static_cast<DWORD>(group.entries.size()));
        const size_t start = group.entries.size();
        const uint64_t entryCount = static_cast<uint64_t>(length) + 2;

        for (uint64_t k = 0; k < entryCount; ++k)
        {
            // The group's own count bounds its entries, so a hostile length cannot run on.
            if (group.entries.size() >= group.stripEntryCount) return StripResult::Malformed;
            const DWORD here = static_cast<DWORD>(group.entries.size() - start);
            const DecodedVertexStruct_TYP* a =
                here >= 1 ? &vertices[group.entries[start + here - 1].vertex] : nullptr;
            const DecodedVertexStruct_TYP* b =
                here >= 2 ? &vertices[group.entries[start + here - 2].vertex] : a;
            const DecodedVertexStruct_TYP* c =
                here >= 3 ? &vertices[group.entries[start + here - 3].vertex] : b;

            DWORD bit = 0;
            if (!Read(bit, 1)) return StripResult::EndOfStream;
            StripEntryStruct_TYP entry{};
            if (bit == 0)
            {
                if (made >= vertexLimit) return StripResult::Malformed;
                DecodedVertexStruct_TYP& vertex = vertices[made];
                if (copied)
                {
                    vertex = vertices[group.entries[sourceStart + here].vertex];
                    TransformCoord(transform, vertex.values, vertex.values);
                    vertex.noTexture = group.noTexture;
                }
                else
                {
                    vertex.noTexture = group.noTexture;
                    bool absolute = here == 0 || !tables[kTablePosition];
                    if (!absolute && nextRun < runs.size() && runs[nextRun] == predictedSinceRun)
                    {
                        ++nextRun;
                        predictedSinceRun = 0;
                        absolute = true;
                    }
                    else if (!absolute)
                    {
                        ++predictedSinceRun;
                    }
                    const bool ok = absolute ? DecodeQuantisedAttributes(group, vertex)
                                             : DecodePredictedVertex(group, here % 2, *a, *b, *c, vertex);
                    if (!ok) return StripResult::EndOfStream;
                }
                entry.vertex = static_cast<WORD>(made);
                entry.isNew = 1;
                Push(entry.vertex, 1);
                ++made;
            }
            else
            {
                DWORD kind = 0;
                if (!Read(kind, 1)) return StripResult::EndOfStream;
                DWORD copy = 0;
                DWORD index = 0;
                if (kind == 1)
                {
                    if (!Read(copy, 1)) return StripResult::EndOfStream;
                    if (copy) ++ringCounter;
                    DWORD offset = 0;
                    if (!Read(offset, header.backReferenceWidth)) return StripResult::EndOfStream;
                    index = static_cast<WORD>(ringCounter - offset);
                    entry.code = static_cast<WORD>(offset);
                }
                else
                {
                    DWORD code = 0;
                    if (!ReadThrough(code, header.ringBits, kTableRing)) return StripResult::EndOfStream;
                    const DWORD copyBit = 1u << (header.ringBits - 1);
                    entry.code = static_cast<WORD>(code);
                    if (code & copyBit)
                    {
                        code &= ~copyBit;
                        copy = 1;
                        ++ringCounter;
                    }
                    int64_t slot = static_cast<int64_t>(ringPosition) - code;
                    if (slot < 0) slot += static_cast<int64_t>(ring.size());
                    if (slot < 0) return StripResult::Malformed;
                    index = ring[static_cast<size_t>(slot)];
                    entry.ring = 1;
                }
                // Only vertices already made can be named; an empty ring slot holds 0xFFFF, never made.
                if (index >= made) return StripResult::Malformed;
                entry.copy = static_cast<BYTE>(copy);
                if (copy)
                {
                    if (made >= vertexLimit) return StripResult::Malformed;
                    vertices[made] = vertices[index];
                    entry.vertex = static_cast<WORD>(made);
                    ++made;
                }
                else
                {
                    entry.vertex = static_cast<WORD>(index);
                }
                Push(static_cast<WORD>(index), 0);
            }
            group.entries.push_back(entry);
        }
        return StripResult::Ok;
    }
};

// Faces of a group's strips: a face wherever three consecutive entries name three different vertices,
// wound by the entry number so that the strip's faces keep one orientation.
DWORD EmitFaces(const CompressedGroupStruct_TYP& group, DWORD attribute, DecodedMeshStruct_TYP& mesh)
{
    DWORD faces = 0;
    for (size_t s = 0; s < group.stripStarts.size(); ++s)
    {
        const size_t begin = group.stripStarts[s];
        const size_t end = s + 1 < group.stripStarts.size() ? group.stripStarts[s + 1] : group.entries.size();
        for (size_t e = begin + 2; e < end; ++e)
        {
            const WORD e0 = group.entries[e - 2].vertex, e1 = group.entries[e - 1].vertex,
                       e2 = group.entries[e].vertex;
            if (e2 == e1 || e2 == e0 || e1 == e0) continue;
            if ((e - begin) % 2 == 0)
                mesh.indices.insert(mesh.indices.end(), {e0, e1, e2});
            else
                mesh.indices.insert(mesh.indices.end(), {e1, e0, e2});
            mesh.attributes.push_back(attribute);
            ++faces;
        }
    }
    return faces;
}

} // namespace

void PushRecentIndex(WORD index, WORD* ring, DWORD slotCount, DWORD* position, WORD* counter, BYTE counted)
{
    *position = (*position + 1) % slotCount;
    ring[*position] = index;
    if (counted) ++*counter;
}

bool DescribeFVF(DWORD format, BYTE oneTextureSet, FVFDescriptionStruct_TYP* out)
{
    *out = {};
    // Only XYZ has rules that match its vertex; the blend types would decode one float too many.
    if ((format & 0x400E) != 0x002) return false;
    out->positionCount = 3 + ((format & 0x004) ? 1 : 0);
    out->blendCount = ((format & 0x6) == 0x6) + ((format & 0x8) != 0) + ((format & 0xA) == 0xA);
    out->diffuse = (format & 0x040) != 0;
    out->specular = (format & 0x080) != 0;
    DWORD sets = (format >> 8) & 0xF;
    if (sets > 8) return false;
    if (oneTextureSet && sets >= 2)
    {
        sets = 1;
        format = (format & ~0xF00u) | 0x100u;
    }
    out->format = format;
    out->textureSetCount = sets;
    for (DWORD s = 0; s < sets; ++s)
    {
        const DWORD code = (format >> (16 + 2 * s)) & 3;
        // Three- and four-float sets would be decoded as two floats and misalign the vertex.
        if (code == 1 || code == 2) return false;
        out->setSizes[s] = code == 3 ? 1 : 2;
        out->textureFloatCount += out->setSizes[s];
    }
    return true;
}

void WriteDecodedVertex(const DecodedVertexStruct_TYP& vertex, BYTE* destination,
                        const FVFDescriptionStruct_TYP& description)
{
    const DWORD format = description.format;
    auto put = [&destination](float value)
    {
        std::memcpy(destination, &value, sizeof value);
        destination += sizeof value;
    };
    if (format & 0x002)
    {
        put(vertex.values[0]);
        put(vertex.values[1]);
        put(vertex.values[2]);
    }
    if (format & 0x004) put(vertex.values[(format & 0x002) ? 3 : 0]);
    DWORD blend = kDecodedBlendSlot;
    if ((format & 0x6) == 0x6) put(vertex.values[blend++]);
    if (format & 0x8) put(vertex.values[blend++]);
    if ((format & 0xA) == 0xA) put(vertex.values[blend++]);
    if (format & 0x010) destination += 3 * sizeof(float);
    if (format & 0x020) destination += sizeof(float);
    if (format & 0x040) put(0.0f);
    if (format & 0x080) put(0.0f);
    DWORD slot = kDecodedTextureSlot;
    for (DWORD s = 0; s < description.textureSetCount; ++s)
        for (DWORD i = 0; i < description.setSizes[s]; ++i)
            put(vertex.values[slot++]);
}

bool DecodeCompressedMesh(DWORD maxVersion, const BYTE* data, size_t size, DecodedMeshStruct_TYP* mesh,
                          DWORD* attributeCounter, std::vector<IndexTripleStruct_TYP>* triples,
                          MeshStatisticsStruct_TYP* statistics)
{
    if (!mesh || !attributeCounter || !triples) return false;
    *mesh = {};
    if (!data) return false;
    const ferolt::ByteReader in(data, size);
    MeshDecoder decoder;
    CompressedMeshHeaderStruct_TYP& header = decoder.header;
    if (!in.Read(0, &header)) return false;
    if (header.version > maxVersion || header.version > kMaxCompressedMeshVersion) return false;

    FloatControlScope control;
    if (!DescribeFVF(header.vertexFormat, 0, &decoder.description)) return false;
    decoder.bits[0] = header.positionBits;
    decoder.bits[1] = header.blendBits;
    decoder.bits[2] = header.textureBits;
    for (DWORD c = 0; c < 3; ++c)
    {
        const DWORD b = decoder.bits[c];
        if (b > kMaxQuantisationBits) return false;
        const float m = static_cast<float>(std::ldexp(1.0, static_cast<int>(b)) - 1.0);
        decoder.scale[c] = static_cast<float>(1.0 / m);
        decoder.signMask[c] = b == 0 ? 0 : static_cast<DWORD>(0u - (static_cast<uint64_t>(1) << (b - 1)));
    }
    if (header.ringBits == 0 || header.ringBits > kMaxRingBits) return false;
    decoder.ring.assign(static_cast<size_t>(1) << (header.ringBits - 1), 0xFFFF);

    // Tables in flag order; each must leave at least one byte of bit stream after it.
    TableSet tableSet;
    decoder.tables = tableSet.tables;
    size_t cursor = sizeof header;
    const size_t last = size - 1;
    for (DWORD t = 0; t < kMeshTableCount; ++t)
    {
        if (!(header.flags & (kMeshFlagTable0 << t))) continue;
        DWORD tableSize = 0;
        std::span<const uint8_t> table;
        if (cursor + 4 > last || !in.U32(cursor, &tableSize)) return false;
        cursor += 4;
        if (tableSize > last - cursor || !in.Bytes(cursor, tableSize, &table)) return false;
        if (FAILED(HuffmanTable::Create(table.data(), tableSize, &tableSet.tables[t]))) return false;
        if (statistics) statistics->counters[MeshStatisticsStruct_TYP::kFirstTableBits + t] = tableSize * 8;
        cursor += tableSize;
        // T6 and T7 code nothing.
        if (t >= 6) HuffmanTable::Free(&tableSet.tables[t]);
    }
    decoder.reader.Init(data + cursor, size - cursor);

    if (tableSet.tables[kTableRuns])
    {
        const DWORD count = header.runEntryCount;
        // Only one run entry per vertex can ever be used, so the rest are read but not kept.
        decoder.runs.reserve(std::min<DWORD>(count, 0x10000));
        for (DWORD i = 0; i < count; ++i)
        {
            DWORD value = 0;
            const size_t before = decoder.BitsLeft();
            if (!decoder.ReadThrough(value, header.runEntryWidth, kTableRuns)) return false;
            if (decoder.runs.size() < 0x10000) decoder.runs.push_back(value);
            // A table that takes no bits gives the same value forever: the remaining reads change nothing.
            if (decoder.BitsLeft() == before) break;
        }
    }

    std::vector<CompressedGroupStruct_TYP> groups(header.groupCount);
    for (CompressedGroupStruct_TYP& group : groups)
    {
        if (!decoder.Read(group.stripCount, header.stripCountWidth)) return false;
        if (!decoder.Read(group.stripEntryCount, header.stripEntryCountWidth)) return false;
        DWORD noTexture = 0;
        if ((header.flags & kMeshFlagNoTextureBits) && !decoder.Read(noTexture, 1)) return false;
        group.noTexture = static_cast<BYTE>(noTexture);
    }

    // Every vertex made takes at least one bit of the stream.
    decoder.vertices.assign(std::min<size_t>(header.vertexCapacity, decoder.BitsLeft()),
                            DecodedVertexStruct_TYP{});
    decoder.vertexLimit = static_cast<DWORD>(decoder.vertices.size());
    decoder.stripLengthWidth = BitReader::HighestBit(header.longestStrip);
    const FVFDescriptionStruct_TYP& description = decoder.description;

    // Triples join the caller's list only with a mesh that is kept, so they stay in step with the
    // attribute ids.
    std::vector<IndexTripleStruct_TYP> groupTriples;
    DWORD decodedGroups = 0;
    bool streamEnded = false;
    for (CompressedGroupStruct_TYP& group : groups)
    {
        auto readBounds = [&](DWORD slot, DWORD count)
        {
            for (DWORD i = slot; i < slot + count; ++i)
            {
                DWORD lo = 0, hi = 0;
                if (!decoder.Read(lo, 32) || !decoder.Read(hi, 32)) return false;
                group.minimum[i] = FloatFromBits(lo);
                group.maximum[i] = FloatFromBits(hi);
            }
            // Bounds that are not finite end the mesh as damage does.
            return AllFinite(group.minimum + slot, count) && AllFinite(group.maximum + slot, count);
        };
        std::fill(std::begin(group.minimum), std::end(group.minimum), 0.0f);
        std::fill(std::begin(group.maximum), std::end(group.maximum), 0.0f);
        if (!readBounds(kDecodedPositionSlot, description.positionCount) ||
            !readBounds(kDecodedBlendSlot, description.blendCount) ||
            (!group.noTexture && !readBounds(kDecodedTextureSlot, description.textureFloatCount)))
        {
            streamEnded = true;
            break;
        }
        IndexTripleStruct_TYP triple = {{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}};
        if (header.version == 2)
        {
            bool ok = true;
            for (DWORD& index : triple.index)
            {
                DWORD raw = 0;
                ok = ok && decoder.Read(raw, 16);
                index = raw == 0xFFFF ? 0xFFFFFFFFu : raw;
            }
            if (!ok)
            {
                streamEnded = true;
                break;
            }
        }
        groupTriples.push_back(triple);
        ++decodedGroups;

        // Every strip takes at least two bits, which bounds what a hostile count can reserve.
        const size_t bitsLeft = decoder.BitsLeft();
        group.stripLengths.reserve(std::min<size_t>(group.stripCount, bitsLeft / 2));
        group.stripStarts.reserve(std::min<size_t>(group.stripCount, bitsLeft / 2));
        group.entries.reserve(std::min<size_t>(group.stripEntryCount, bitsLeft));
        for (DWORD s = 0; s < group.stripCount; ++s)
        {
            const StripResult result = decoder.DecodeStrip(group, s);
            if (result == StripResult::Malformed) return false;
            if (result == StripResult::EndOfStream)
            {
                streamEnded = true;
                break;
            }
        }
        if (streamEnded) break;
    }

    // Faces, group by group. Every decoded group gets an attribute id, also one after the mesh's last
    // face, so that attribute ids and the triples stay in step across the meshes of a list.
    mesh->description = description;
    mesh->firstAttribute = *attributeCounter;
    DWORD faceTotal = 0;
    for (DWORD g = 0; g < decodedGroups; ++g)
    {
        const DWORD faces = EmitFaces(groups[g], mesh->firstAttribute + g, *mesh);
        mesh->groupFaceCounts.push_back(faces);
        faceTotal += faces;
    }
    mesh->groupCount = decodedGroups;
    if (statistics)
    {
        statistics->counters[MeshStatisticsStruct_TYP::kHeaderBits] = 304;
        statistics->counters[MeshStatisticsStruct_TYP::kPositionBits] = header.positionBits;
        statistics->counters[MeshStatisticsStruct_TYP::kBlendBits] = header.blendBits;
        statistics->counters[MeshStatisticsStruct_TYP::kTextureBits] = header.textureBits;
        statistics->counters[MeshStatisticsStruct_TYP::kGroups] = decodedGroups;
        statistics->counters[MeshStatisticsStruct_TYP::kVertices] = decoder.made;
        statistics->counters[MeshStatisticsStruct_TYP::kFaces] = faceTotal;
    }
    if (faceTotal == 0)
    {
        *mesh = {};
        return false;
    }
    decoder.vertices.resize(decoder.made);
    // Predictions can run past the float range even from finite bounds: such a mesh is refused.
    for (const DecodedVertexStruct_TYP& v : decoder.vertices)
        if (!AllFinite(v.values + kDecodedPositionSlot, description.positionCount))
        {
            *mesh = {};
            return false;
        }
    mesh->vertices = std::move(decoder.vertices);
    *attributeCounter += decodedGroups;
    triples->insert(triples->end(), groupTriples.begin(), groupTriples.end());
    return true;
}

std::vector<DecodedSubsetStruct_TYP> DecodedMeshListStruct_TYP::Subsets() const
{
    std::vector<DecodedSubsetStruct_TYP> subsets;
    for (DWORD m = 0; m < meshes.size(); ++m)
    {
        DWORD first = 0;
        for (DWORD g = 0; g < meshes[m].groupCount; ++g)
        {
            const DWORD attribute = meshes[m].firstAttribute + g;
            const IndexTripleStruct_TYP none = {{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}};
            subsets.push_back({m, first, meshes[m].groupFaceCounts[g],
                               attribute < triples.size() ? triples[attribute] : none});
            first += meshes[m].groupFaceCounts[g];
        }
    }
    return subsets;
}

HRESULT DecodeMeshList(DWORD maxVersion, const BYTE* data, size_t size, DecodedMeshListStruct_TYP* out)
{
    if (!out) return E_INVALIDARG;
    *out = {};
    if (!data) return E_INVALIDARG;
    const ferolt::ByteReader file(data, size);
    DWORD magic = 0, meshCount = 0, declared = 0;
    if (!file.U32(0, &magic) || !file.U32(4, &meshCount) || !file.U32(8, &declared)) return E_FAIL;
    // The declared size ends the block: its header fields, light points and meshes must lie inside it.
    ferolt::ByteReader block;
    if (!file.Sub(0, declared, &block)) return E_FAIL;
    DWORD headerSize = 0;
    switch (magic)
    {
    case kMeshListMagicY:
        headerSize = kMeshListHeaderSizeY;
        break;
    case kMeshListMagicX:
        headerSize = kMeshListHeaderSizeX;
        break;
    case kMeshListMagicE:
        headerSize = kMeshListHeaderSizeE;
        break;
    default:
        return E_FAIL;
    }
    if (!block.Has(0, headerSize)) return E_FAIL;
    out->magic = magic;
    size_t offset = headerSize;
    // Inside the header, which the block was just found to hold.
    if (magic != kMeshListMagicE && (!block.Read(12, &out->fileFlags) || !block.F32(16, &out->fileValue)))
        return E_FAIL;
    if (magic == kMeshListMagicY)
    {
        DWORD lightCount = 0;
        if (!block.U32(20, &lightCount) || !block.U8(24, &out->fileByte) || !block.F32(25, &out->creaseAngle) ||
            lightCount > (block.Size() - headerSize) / kLightPointRecordSize)
        {
            *out = {};
            return E_FAIL;
        }
        out->lightPoints.resize(lightCount);
        for (DWORD i = 0; i < lightCount; ++i)
            if (!block.Read(offset + i * kLightPointRecordSize, &out->lightPoints[i]))
            {
                *out = {};
                return E_FAIL;
            }
        offset += static_cast<size_t>(lightCount) * kLightPointRecordSize;
    }
    static_assert(sizeof(LightPointStruct_TYP) == kLightPointRecordSize);

    for (DWORD i = 0; i < meshCount; ++i)
    {
        DWORD meshSize = 0;
        ferolt::ByteReader rest;
        if (!block.U32(offset, &meshSize) || !block.Tail(offset + 4, &rest)) break;
        offset += 4;
        DecodedMeshStruct_TYP mesh;
        if (!DecodeCompressedMesh(maxVersion, rest.All().data(), rest.Size(), &mesh, &out->attributeCounter,
                                  &out->triples, nullptr))
            break;
        out->meshes.push_back(std::move(mesh));
        if (rest.Size() < meshSize) break;
        offset += meshSize;
    }
    return S_OK;
}

} // namespace LMK
