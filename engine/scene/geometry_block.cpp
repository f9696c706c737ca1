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

// One decode of one mesh, in the order of its stream: header, tables, run entries, group counts,
// then each group's bounds, source triple and strips; faces are made from the strips at the end.
// Vertices are kept packed (position, blend, texture floats) and written once each.
class MeshDecoder
{
public:
    explicit MeshDecoder(MeshStatisticsStruct_TYP* statistics) : m_statistics(statistics) {}

    bool Decode(DWORD maxVersion, ferolt::ByteReader in, DecodedMeshStruct_TYP& mesh, DWORD firstAttribute)
    {
        if (!ReadHeader(maxVersion, in) || !ReadTables(in) || !ReadRuns() || !ReadGroupCounts()) return false;
        SizeArrays();
        if (!DecodeGroups()) return false;
        return Finish(mesh, firstAttribute);
    }
    const std::vector<IndexTripleStruct_TYP>& GroupTriples() const { return m_groupTriples; }

private:
    // One decoded float of a vertex: where it goes in the packed vertex and which bit width,
    // scale and delta table it uses.
    struct Component
    {
        DWORD offset;
        DWORD klass;
    };

    bool ReadHeader(DWORD maxVersion, const ferolt::ByteReader& in)
    {
        if (!in.Read(0, &m_header)) return false;
        if (m_header.version > maxVersion || m_header.version > kMaxCompressedMeshVersion) return false;
        if (!DescribeFVF(m_header.vertexFormat, 0, &m_description)) return false;
        const BYTE widths[3] = {m_header.positionBits, m_header.blendBits, m_header.textureBits};
        for (DWORD c = 0; c < 3; ++c)
        {
            const DWORD b = widths[c];
            if (b > kMaxQuantisationBits) return false;
            const float m = static_cast<float>(std::ldexp(1.0, static_cast<int>(b)) - 1.0);
            m_bits[c] = b;
            m_scale[c] = static_cast<float>(1.0 / m);
            m_signMask[c] = b == 0 ? 0 : static_cast<DWORD>(0u - (static_cast<uint64_t>(1) << (b - 1)));
        }
        if (m_header.ringBits == 0 || m_header.ringBits > kMaxRingBits) return false;
        m_ring.assign(static_cast<size_t>(1) << (m_header.ringBits - 1), 0xFFFF);
        m_ringMask = static_cast<DWORD>(m_ring.size() - 1);

        const DWORD counts[3] = {m_description.positionCount, m_description.blendCount,
                                 m_description.textureFloatCount};
        for (DWORD c = 0; c < 3; ++c)
            for (DWORD i = 0; i < counts[c]; ++i)
            {
                m_components[m_stride] = {m_stride, c};
                ++m_stride;
            }
        m_untexturedCount = counts[0] + counts[1];
        return true;
    }

    // Tables in flag order; each must leave at least one byte of bit stream after it.
    bool ReadTables(const ferolt::ByteReader& in)
    {
        size_t cursor = sizeof m_header;
        const size_t last = in.Size() - 1;
        for (DWORD t = 0; t < kMeshTableCount; ++t)
        {
            if (!(m_header.flags & (kMeshFlagTable0 << t))) continue;
            DWORD tableSize = 0;
            std::span<const uint8_t> table;
            if (cursor + 4 > last || !in.U32(cursor, &tableSize)) return false;
            cursor += 4;
            if (tableSize > last - cursor || !in.Bytes(cursor, tableSize, &table)) return false;
            if (FAILED(HuffmanTable::Create(table.data(), tableSize, &m_tables.tables[t]))) return false;
            if (m_statistics)
                m_statistics->counters[MeshStatisticsStruct_TYP::kFirstTableBits + t] = tableSize * 8;
            cursor += tableSize;
            // T6 and T7 code nothing.
            if (t >= 6) HuffmanTable::Free(&m_tables.tables[t]);
        }
        ferolt::ByteReader stream;
        if (!in.Tail(cursor, &stream)) return false;
        m_reader.Init(stream.All().data(), stream.Size());
        PlanRawPrediction();
        return true;
    }

    // When every table of a predicted value is uncoded, a predicted vertex is a run of raw fields: its
    // reads are then checked against the stream once for the whole vertex.
    void PlanRawPrediction()
    {
        m_rawPrediction = false;
        DWORD bits = 0;
        for (DWORD i = 0; i < m_stride; ++i)
        {
            const DWORD k = m_components[i].klass;
            const HuffmanTable* table = m_tables.tables[kTablePosition + k];
            if (!table || table->symbolWidth != 0 || m_bits[k] == 0) return;
            m_rawKeep[i] = std::min(table->fieldLength, m_bits[k]);
            m_rawWidth[i] = table->fieldLength;
            bits += table->fieldLength;
            if (i + 1 == m_untexturedCount) m_rawUntexturedBits = bits;
        }
        m_rawTexturedBits = bits;
        m_rawPrediction = true;
    }

    bool ReadRuns()
    {
        if (!m_tables.tables[kTableRuns]) return true;
        const DWORD count = m_header.runEntryCount;
        // Only one run entry per vertex can ever be used, so the rest are read but not kept.
        m_runs.reserve(std::min<DWORD>(count, 0x10000));
        for (DWORD i = 0; i < count; ++i)
        {
            DWORD value = 0;
            const size_t before = m_reader.BitsLeft();
            if (!ReadThrough(value, m_header.runEntryWidth, kTableRuns)) return false;
            if (m_runs.size() < 0x10000) m_runs.push_back(value);
            // A table that takes no bits gives the same value forever: the remaining reads change nothing.
            if (m_reader.BitsLeft() == before) break;
        }
        return true;
    }

    bool ReadGroupCounts()
    {
        m_groups.resize(m_header.groupCount);
        for (CompressedGroupStruct_TYP& group : m_groups)
        {
            DWORD noTexture = 0;
            if (!Read(group.stripCount, m_header.stripCountWidth) ||
                !Read(group.stripEntryCount, m_header.stripEntryCountWidth) ||
                ((m_header.flags & kMeshFlagNoTextureBits) && !Read(noTexture, 1)))
                return false;
            group.noTexture = static_cast<BYTE>(noTexture);
        }
        return true;
    }

    // Room for every vertex and face the mesh may make, sized once and not filled: each is written
    // once. Every vertex made and every strip entry takes at least one bit of the stream, and each
    // face ends on an entry of its own.
    void SizeArrays()
    {
        const size_t bitsLeft = m_reader.BitsLeft();
        m_vertexLimit = static_cast<DWORD>(std::min<size_t>(m_header.vertexCapacity, bitsLeft));
        m_values.resize(static_cast<size_t>(m_vertexLimit) * m_stride);
        m_noTexture.resize(m_vertexLimit);
        uint64_t entries = 0;
        for (const CompressedGroupStruct_TYP& group : m_groups)
            entries += group.stripEntryCount;
        m_faceLimit = static_cast<size_t>(std::min<uint64_t>(entries, bitsLeft));
        m_indices.resize(m_faceLimit * 3);
        m_stripLengthWidth = BitReader::HighestBit(m_header.longestStrip);
    }

    // False only for a malformed mesh; a stream that ends keeps the groups decoded before.
    bool DecodeGroups()
    {
        for (CompressedGroupStruct_TYP& group : m_groups)
        {
            IndexTripleStruct_TYP triple = {{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}};
            if (!ReadGroupBounds(group) || !ReadGroupTriple(triple)) return true;
            // Triples join the caller's list only with a mesh that is kept, so they stay in step with
            // the attribute ids.
            m_groupTriples.push_back(triple);
            m_groupFirstFaces.push_back(m_faces);
            ++m_decodedGroups;

            // Every strip takes at least two bits and every entry one, which bounds what a hostile count
            // can reserve. Strips refer only to strips of their own group, so one set serves them all.
            const size_t bitsLeft = m_reader.BitsLeft();
            m_stripLengths.clear();
            m_stripStarts.clear();
            m_stripLengths.reserve(std::min<size_t>(group.stripCount, bitsLeft / 2));
            m_stripStarts.reserve(std::min<size_t>(group.stripCount, bitsLeft / 2));
            const size_t entryLimit = std::min<size_t>(group.stripEntryCount, bitsLeft);
            if (m_entries.size() < entryLimit) m_entries = DecodedArray<WORD>(entryLimit);
            m_entryCount = 0;
            for (DWORD s = 0; s < group.stripCount; ++s)
            {
                const StripResult result = DecodeStrip(group, s);
                if (result == StripResult::Malformed) return false;
                if (result == StripResult::EndOfStream) return true;
            }
        }
        return true;
    }

    // Bounds that are cut short or not finite end the mesh as damage does.
    bool ReadGroupBounds(CompressedGroupStruct_TYP& group)
    {
        std::fill(std::begin(group.minimum), std::end(group.minimum), 0.0f);
        std::fill(std::begin(group.maximum), std::end(group.maximum), 0.0f);
        const DWORD count = group.noTexture ? m_untexturedCount : m_stride;
        for (DWORD i = 0; i < count; ++i)
        {
            DWORD lo = 0, hi = 0;
            if (!Read(lo, 32) || !Read(hi, 32)) return false;
            group.minimum[i] = FloatFromBits(lo);
            group.maximum[i] = FloatFromBits(hi);
        }
        if (!AllFinite(group.minimum, count) || !AllFinite(group.maximum, count)) return false;
        for (DWORD i = 0; i < count; ++i)
        {
            m_range[i] = static_cast<double>(group.maximum[i]) - group.minimum[i];
            // Twice the float step, exactly: the delta is the quantised value times the step, doubled.
            m_deltaScale[i] = 2.0 * static_cast<float>(m_range[i] * m_scale[m_components[i].klass]);
        }
        return true;
    }

    bool ReadGroupTriple(IndexTripleStruct_TYP& triple)
    {
        if (m_header.version != 2) return true;
        for (DWORD& index : triple.index)
        {
            DWORD raw = 0;
            if (!Read(raw, 16)) return false;
            index = raw == 0xFFFF ? 0xFFFFFFFFu : raw;
        }
        return true;
    }

    bool Read(DWORD& value, DWORD n) { return BitReader::ReadBits(value, n, m_reader); }
    bool ReadThrough(DWORD& value, DWORD n, DWORD table)
    {
        return BitReader::ReadField(value, n, m_tables.tables[table], m_reader);
    }

    float* Vertex(DWORD index) { return m_values.data() + static_cast<size_t>(index) * m_stride; }

    // A new vertex at the end, or nothing when the capacity is used up.
    float* NewVertex(BYTE noTexture)
    {
        if (m_made >= m_vertexLimit) return nullptr;
        m_noTexture[m_made] = noTexture;
        return Vertex(m_made++);
    }

    void DropLastVertex() { --m_made; }

    bool DecodeQuantisedAttributes(const CompressedGroupStruct_TYP& group, float* vertex)
    {
        const DWORD count = group.noTexture ? m_untexturedCount : m_stride;
        for (DWORD i = 0; i < count; ++i)
        {
            const DWORD k = m_components[i].klass;
            DWORD q = 0;
            if (!Read(q, m_bits[k])) return false;
            vertex[i] =
                static_cast<float>(static_cast<double>(q) * m_range[i] * m_scale[k] + group.minimum[i]);
        }
        return true;
    }

    bool DecodePredictedVertex(const CompressedGroupStruct_TYP& group, DWORD parity, const float* a,
                               const float* b, const float* c, float* vertex)
    {
        const DWORD count = group.noTexture ? m_untexturedCount : m_stride;
        // More bits than the fields take: every field read below finds its bits, and a bit left.
        if (m_rawPrediction &&
            m_reader.BitsLeft() > (group.noTexture ? m_rawUntexturedBits : m_rawTexturedBits))
        {
            ferolt::BitCursor& bits = m_reader.bits;
            for (DWORD i = 0; i < count; ++i)
            {
                uint32_t q = 0;
                (void)bits.Peek(m_rawKeep[i], &q);
                (void)bits.Skip(m_rawWidth[i]);
                vertex[i] = PredictedValue(i, q, parity, a, b, c);
            }
            return true;
        }
        for (DWORD i = 0; i < count; ++i)
        {
            const DWORD k = m_components[i].klass;
            DWORD q = 0;
            if (!ReadThrough(q, m_bits[k], kTablePosition + k)) return false;
            vertex[i] = PredictedValue(i, q, parity, a, b, c);
        }
        return true;
    }

    // Value i of a vertex predicted from the three before it, moved by the signed quantised delta q.
    float PredictedValue(DWORD i, DWORD q, DWORD parity, const float* a, const float* b, const float* c) const
    {
        const DWORD signMask = m_signMask[m_components[i].klass];
        if (q & signMask) q |= signMask;
        const float d = static_cast<float>(static_cast<double>(static_cast<int32_t>(q)) * m_deltaScale[i]);
        const double ai = a[i], bi = b[i], ci = c[i];
        const float base = static_cast<float>(parity ? (ai + bi) - ci : (ai - bi) + ci);
        return static_cast<float>(static_cast<double>(base) + d);
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
            if (!Read(raw, m_bits[0])) return false;
            if (raw & m_signMask[0]) raw |= m_signMask[0];
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
            const double d = 2.0 * t[j] * range * m_scale[0];
            m[3][j] = static_cast<float>(static_cast<double>(p[j]) + d - moved[j]);
        }
        return true;
    }

    void Push(WORD index, BYTE counted)
    {
        m_ringPosition = (m_ringPosition + 1) & m_ringMask;
        m_ring[m_ringPosition] = index;
        if (counted) ++m_ringCounter;
    }

    // A new vertex of a strip. Predictions and transforms can run past the float range even from
    // finite bounds, which refuses the mesh; a copy of a vertex is as finite as the vertex.
    StripResult DecodeNewVertex(const CompressedGroupStruct_TYP& group, size_t start, DWORD here,
                                const float transform[4][4], size_t sourceStart, bool copied)
    {
        float* vertex = NewVertex(group.noTexture);
        if (!vertex) return StripResult::Malformed;
        if (!FillNewVertex(group, start, here, transform, sourceStart, copied, vertex))
            return StripResult::EndOfStream;
        m_positionsFinite = m_positionsFinite && AllFinite(vertex, m_description.positionCount);
        return StripResult::Ok;
    }

    // Turned from the copied strip, or decoded absolutely or by prediction from the three entries
    // before it.
    bool FillNewVertex(const CompressedGroupStruct_TYP& group, size_t start, DWORD here,
                       const float transform[4][4], size_t sourceStart, bool copied, float* vertex)
    {
        if (copied)
        {
            std::memcpy(vertex, Vertex(m_entries[sourceStart + here]), m_stride * sizeof(float));
            TransformCoord(transform, vertex, vertex);
            return true;
        }
        if (group.noTexture) std::fill(vertex + m_untexturedCount, vertex + m_stride, 0.0f);
        bool absolute = here == 0 || !m_tables.tables[kTablePosition];
        if (!absolute && m_nextRun < m_runs.size() && m_runs[m_nextRun] == m_predictedSinceRun)
        {
            ++m_nextRun;
            m_predictedSinceRun = 0;
            absolute = true;
        }
        else if (!absolute)
        {
            ++m_predictedSinceRun;
        }
        if (absolute) return DecodeQuantisedAttributes(group, vertex);
        auto back = [&](DWORD k) { return Vertex(m_entries[start + here - std::min(k, here)]); };
        const float* a = back(1);
        const float* b = here >= 2 ? back(2) : a;
        const float* c = here >= 3 ? back(3) : b;
        return DecodePredictedVertex(group, here % 2, a, b, c, vertex);
    }

    // An entry that names a vertex made before: by its distance back in the count of vertices, or by
    // its slot in the ring; either may copy it into a new vertex.
    StripResult DecodeReference(WORD& vertex)
    {
        DWORD kind = 0;
        if (!Read(kind, 1)) return StripResult::EndOfStream;
        DWORD copy = 0;
        DWORD index = 0;
        if (kind == 1)
        {
            if (!Read(copy, 1)) return StripResult::EndOfStream;
            if (copy) ++m_ringCounter;
            DWORD offset = 0;
            if (!Read(offset, m_header.backReferenceWidth)) return StripResult::EndOfStream;
            index = static_cast<WORD>(m_ringCounter - offset);
        }
        else
        {
            DWORD code = 0;
            if (!ReadThrough(code, m_header.ringBits, kTableRing)) return StripResult::EndOfStream;
            const DWORD copyBit = 1u << (m_header.ringBits - 1);
            if (code & copyBit)
            {
                code &= ~copyBit;
                copy = 1;
                ++m_ringCounter;
            }
            int64_t slot = static_cast<int64_t>(m_ringPosition) - code;
            if (slot < 0) slot += static_cast<int64_t>(m_ring.size());
            if (slot < 0) return StripResult::Malformed;
            index = m_ring[static_cast<size_t>(slot)];
        }
        // Only vertices already made can be named; an empty ring slot holds 0xFFFF, never made.
        if (index >= m_made) return StripResult::Malformed;
        vertex = static_cast<WORD>(index);
        if (copy)
        {
            const BYTE noTexture = m_noTexture[index];
            const DWORD made = m_made;
            float* values = NewVertex(noTexture);
            if (!values) return StripResult::Malformed;
            std::memcpy(values, Vertex(index), m_stride * sizeof(float));
            vertex = static_cast<WORD>(made);
        }
        Push(static_cast<WORD>(index), 0);
        return StripResult::Ok;
    }

    StripResult DecodeStrip(const CompressedGroupStruct_TYP& group, DWORD stripNumber)
    {
        DWORD length = 0;
        if (!ReadThrough(length, m_stripLengthWidth, kTableStripLengths)) return StripResult::EndOfStream;
        const bool copied = length == 0;
        size_t sourceStart = 0;
        float transform[4][4] = {};
        if (copied)
        {
            DWORD source = 0;
            if (!Read(source, m_header.stripCountWidth)) return StripResult::EndOfStream;
            if (source >= stripNumber) return StripResult::Malformed;
            length = m_stripLengths[source];
            sourceStart = m_stripStarts[source];
            if (!ReadStripTransform(group, Vertex(m_entries[sourceStart]), transform))
                return StripResult::EndOfStream;
        }
        m_stripLengths.push_back(length);
        m_stripStarts.push_back(m_entryCount);
        const size_t start = m_entryCount;
        const uint64_t entryCount = static_cast<uint64_t>(length) + 2;

        for (uint64_t k = 0; k < entryCount; ++k)
        {
            // The group's own count bounds its entries, so a hostile length cannot run on.
            if (m_entryCount >= group.stripEntryCount) return StripResult::Malformed;
            // Every entry has taken a bit of what was left when the group began.
            if (m_entryCount >= m_entries.size()) return StripResult::EndOfStream;
            const DWORD here = static_cast<DWORD>(m_entryCount - start);
            DWORD bit = 0;
            if (!Read(bit, 1)) return StripResult::EndOfStream;
            WORD vertex = 0;
            if (bit == 0)
            {
                vertex = static_cast<WORD>(m_made);
                const StripResult result =
                    DecodeNewVertex(group, start, here, transform, sourceStart, copied);
                if (result != StripResult::Ok)
                {
                    // A new vertex cut short by the end of the stream is not kept.
                    if (result == StripResult::EndOfStream) DropLastVertex();
                    return result;
                }
                Push(vertex, 1);
            }
            else
            {
                const StripResult result = DecodeReference(vertex);
                if (result != StripResult::Ok) return result;
            }
            m_entries[m_entryCount++] = vertex;
            if (here >= 2 && !EmitFace(start, here)) return StripResult::Malformed;
        }
        return StripResult::Ok;
    }

    // A face wherever three consecutive entries of a strip name three different vertices, wound by the
    // entry number so that the strip's faces keep one orientation. False only if the faces outgrow the
    // entries, which cannot be.
    bool EmitFace(size_t start, DWORD here)
    {
        const WORD* e = m_entries.data() + start + here - 2;
        const WORD e0 = e[0], e1 = e[1], e2 = e[2];
        if (e2 == e1 || e2 == e0 || e1 == e0) return true;
        if (m_faces >= m_faceLimit) return false;
        const bool even = here % 2 == 0;
        WORD* face = m_indices.data() + m_faces * 3;
        face[0] = even ? e0 : e1;
        face[1] = even ? e1 : e0;
        face[2] = e2;
        ++m_faces;
        return true;
    }

    // Faces were made group by group. Every decoded group gets an attribute id, also one after the
    // mesh's last face, so that attribute ids and the triples stay in step across the meshes of a list.
    bool Finish(DecodedMeshStruct_TYP& mesh, DWORD firstAttribute)
    {
        mesh.description = m_description;
        mesh.firstAttribute = firstAttribute;
        const DWORD faceTotal = static_cast<DWORD>(m_faces);
        mesh.groupCount = m_decodedGroups;
        if (m_statistics)
        {
            m_statistics->counters[MeshStatisticsStruct_TYP::kHeaderBits] = 304;
            m_statistics->counters[MeshStatisticsStruct_TYP::kPositionBits] = m_header.positionBits;
            m_statistics->counters[MeshStatisticsStruct_TYP::kBlendBits] = m_header.blendBits;
            m_statistics->counters[MeshStatisticsStruct_TYP::kTextureBits] = m_header.textureBits;
            m_statistics->counters[MeshStatisticsStruct_TYP::kGroups] = m_decodedGroups;
            m_statistics->counters[MeshStatisticsStruct_TYP::kVertices] = m_made;
            m_statistics->counters[MeshStatisticsStruct_TYP::kFaces] = faceTotal;
        }
        if (faceTotal == 0 || !m_positionsFinite) return false;
        mesh.groupFaceCounts.resize(m_decodedGroups);
        mesh.attributes.resize(m_faces);
        for (DWORD g = 0; g < m_decodedGroups; ++g)
        {
            const size_t first = m_groupFirstFaces[g];
            const size_t end = g + 1 < m_decodedGroups ? m_groupFirstFaces[g + 1] : m_faces;
            mesh.groupFaceCounts[g] = static_cast<DWORD>(end - first);
            std::fill(mesh.attributes.begin() + first, mesh.attributes.begin() + end, firstAttribute + g);
        }
        m_values.resize(static_cast<size_t>(m_made) * m_stride);
        m_noTexture.resize(m_made);
        m_indices.resize(m_faces * 3);
        mesh.values = std::move(m_values);
        mesh.noTexture = std::move(m_noTexture);
        mesh.indices = std::move(m_indices);
        mesh.valueStride = m_stride;
        return true;
    }

    MeshStatisticsStruct_TYP* m_statistics;
    CompressedMeshHeaderStruct_TYP m_header{};
    FVFDescriptionStruct_TYP m_description{};
    BitReader m_reader;
    TableSet m_tables;
    DWORD m_bits[3] = {};
    double m_scale[3] = {};
    DWORD m_signMask[3] = {};
    DWORD m_stripLengthWidth = 0;

    bool m_rawPrediction = false;
    DWORD m_rawKeep[kDecodedValueCount] = {};
    DWORD m_rawWidth[kDecodedValueCount] = {};
    DWORD m_rawUntexturedBits = 0;
    DWORD m_rawTexturedBits = 0;

    Component m_components[kDecodedValueCount] = {};
    DWORD m_stride = 0;
    DWORD m_untexturedCount = 0;
    // The current group's bounds as the decode uses them.
    double m_range[kDecodedValueCount] = {};
    double m_deltaScale[kDecodedValueCount] = {};

    std::vector<DWORD> m_runs;
    DWORD m_nextRun = 0;
    DWORD m_predictedSinceRun = 0;

    std::vector<WORD> m_ring;
    DWORD m_ringMask = 0;
    DWORD m_ringPosition = 0;
    WORD m_ringCounter = 0;

    DecodedArray<float> m_values;
    DecodedArray<BYTE> m_noTexture;
    DWORD m_made = 0;
    DWORD m_vertexLimit = 0;
    bool m_positionsFinite = true;

    DecodedArray<WORD> m_indices;
    size_t m_faces = 0;
    size_t m_faceLimit = 0;

    std::vector<CompressedGroupStruct_TYP> m_groups;
    std::vector<IndexTripleStruct_TYP> m_groupTriples;
    std::vector<size_t> m_groupFirstFaces;
    DWORD m_decodedGroups = 0;

    // The strips and entries of the group being decoded; an entry is the vertex it names.
    std::vector<DWORD> m_stripLengths;
    std::vector<size_t> m_stripStarts;
    DecodedArray<WORD> m_entries;
    size_t m_entryCount = 0;
};

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

void WriteDecodedVertex(const float* values, BYTE* destination, const FVFDescriptionStruct_TYP& description)
{
    const DWORD format = description.format;
    auto put = [&destination](float value)
    {
        std::memcpy(destination, &value, sizeof value);
        destination += sizeof value;
    };
    if (format & 0x002)
    {
        put(values[0]);
        put(values[1]);
        put(values[2]);
    }
    if (format & 0x004) put(values[(format & 0x002) ? 3 : 0]);
    DWORD blend = description.positionCount;
    if ((format & 0x6) == 0x6) put(values[blend++]);
    if (format & 0x8) put(values[blend++]);
    if ((format & 0xA) == 0xA) put(values[blend++]);
    if (format & 0x010) destination += 3 * sizeof(float);
    if (format & 0x020) destination += sizeof(float);
    if (format & 0x040) put(0.0f);
    if (format & 0x080) put(0.0f);
    DWORD slot = description.positionCount + description.blendCount;
    for (DWORD s = 0; s < description.textureSetCount; ++s)
        for (DWORD i = 0; i < description.setSizes[s]; ++i)
            put(values[slot++]);
}

DecodedVertexStruct_TYP DecodedMeshStruct_TYP::Vertex(size_t v) const
{
    DecodedVertexStruct_TYP vertex{};
    const float* packed = VertexValues(v);
    const DWORD firsts[3] = {kDecodedPositionSlot, kDecodedBlendSlot, kDecodedTextureSlot};
    const DWORD counts[3] = {description.positionCount, description.blendCount,
                             description.textureFloatCount};
    for (DWORD c = 0; c < 3; ++c)
    {
        std::copy(packed, packed + counts[c], vertex.values + firsts[c]);
        packed += counts[c];
    }
    vertex.noTexture = noTexture[v];
    return vertex;
}

bool DecodeCompressedMesh(DWORD maxVersion, const BYTE* data, size_t size, DecodedMeshStruct_TYP* mesh,
                          DWORD* attributeCounter, std::vector<IndexTripleStruct_TYP>* triples,
                          MeshStatisticsStruct_TYP* statistics)
{
    if (!mesh || !attributeCounter || !triples) return false;
    *mesh = {};
    if (!data) return false;
    FloatControlScope control;
    MeshDecoder decoder(statistics);
    if (!decoder.Decode(maxVersion, ferolt::ByteReader(data, size), *mesh, *attributeCounter))
    {
        *mesh = {};
        return false;
    }
    *attributeCounter += mesh->groupCount;
    triples->insert(triples->end(), decoder.GroupTriples().begin(), decoder.GroupTriples().end());
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

HRESULT MeshListReader::Open(const BYTE* data, size_t size, DecodedMeshListStruct_TYP* out)
{
    *out = {};
    if (!data) return E_INVALIDARG;
    const ferolt::ByteReader file(data, size);
    DWORD magic = 0, declared = 0;
    if (!file.U32(0, &magic) || !file.U32(4, &m_meshesLeft) || !file.U32(8, &declared)) return E_FAIL;
    // The declared size ends the block: its header fields, light points and meshes must lie inside it.
    if (!file.Sub(0, declared, &m_block)) return E_FAIL;
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
    if (!m_block.Has(0, headerSize)) return E_FAIL;
    out->magic = magic;
    m_offset = headerSize;
    // Inside the header, which the block was just found to hold.
    if (magic != kMeshListMagicE && (!m_block.Read(12, &out->fileFlags) || !m_block.F32(16, &out->fileValue)))
        return E_FAIL;
    if (magic == kMeshListMagicY)
    {
        DWORD lightCount = 0;
        if (!m_block.U32(20, &lightCount) || !m_block.U8(24, &out->fileByte) ||
            !m_block.F32(25, &out->creaseAngle) ||
            lightCount > (m_block.Size() - headerSize) / kLightPointRecordSize)
        {
            *out = {};
            return E_FAIL;
        }
        out->lightPoints.resize(lightCount);
        for (DWORD i = 0; i < lightCount; ++i)
            if (!m_block.Read(m_offset + i * kLightPointRecordSize, &out->lightPoints[i]))
            {
                *out = {};
                return E_FAIL;
            }
        m_offset += static_cast<size_t>(lightCount) * kLightPointRecordSize;
    }
    static_assert(sizeof(LightPointStruct_TYP) == kLightPointRecordSize);
    return S_OK;
}

bool MeshListReader::NextMesh(ferolt::ByteReader* mesh)
{
    DWORD meshSize = 0;
    if (m_meshesLeft == 0 || !m_block.U32(m_offset, &meshSize) || !m_block.Tail(m_offset + 4, mesh))
        return false;
    --m_meshesLeft;
    m_offset += 4;
    // A mesh that says it is longer than the rest of the block is the last one.
    if (mesh->Size() < meshSize)
        m_meshesLeft = 0;
    else
        m_offset += meshSize;
    return true;
}

void AppendDecodedMesh(DecodedMeshListStruct_TYP* list, DecodedMeshStruct_TYP&& mesh,
                       const std::vector<IndexTripleStruct_TYP>& triples)
{
    const DWORD first = list->attributeCounter;
    mesh.firstAttribute += first;
    if (first)
        for (DWORD& attribute : mesh.attributes)
            attribute += first;
    list->attributeCounter += mesh.groupCount;
    list->triples.insert(list->triples.end(), triples.begin(), triples.end());
    list->meshes.push_back(std::move(mesh));
}

HRESULT DecodeMeshList(DWORD maxVersion, const BYTE* data, size_t size, DecodedMeshListStruct_TYP* out)
{
    if (!out) return E_INVALIDARG;
    MeshListReader reader;
    const HRESULT hr = reader.Open(data, size, out);
    if (FAILED(hr)) return hr;
    // A mesh that fails ends the list.
    ferolt::ByteReader bytes;
    while (reader.NextMesh(&bytes))
    {
        DecodedMeshStruct_TYP mesh;
        if (!DecodeCompressedMesh(maxVersion, bytes.All().data(), bytes.Size(), &mesh, &out->attributeCounter,
                                  &out->triples, nullptr))
            break;
        out->meshes.push_back(std::move(mesh));
    }
    return S_OK;
}

size_t DecodedMeshListStruct_TYP::VertexTotal() const
{
    size_t total = 0;
    for (const DecodedMeshStruct_TYP& mesh : meshes)
        total += mesh.VertexCount();
    return total;
}

size_t DecodedMeshListStruct_TYP::FaceTotal() const
{
    size_t total = 0;
    for (const DecodedMeshStruct_TYP& mesh : meshes)
        total += mesh.attributes.size();
    return total;
}

} // namespace LMK
