#include "tests/support/geometry_block_encoder.h"

#include <cmath>
#include <cstring>
#include <map>
#include <stdexcept>

#include "tests/support/geometry_bits_writer.h"

namespace ferolt::test
{
namespace
{

void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t Bits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

unsigned WidthOf(uint64_t v)
{
    unsigned n = 0;
    while (v)
    {
        ++n;
        v >>= 1;
    }
    return n;
}

// A field kept until the header widths are known; `table` fields go through an uncoded table of the
// same width, which reads exactly like a plain field.
struct Token
{
    uint64_t value;
    unsigned width;
};

struct Quantiser
{
    double m;
    double s; // 1/m rounded to single precision, then widened
    explicit Quantiser(unsigned bits)
    {
        const float mf = static_cast<float>(std::pow(2.0, bits) - 1.0);
        m = mf;
        s = static_cast<float>(1.0 / mf);
    }
    float Absolute(uint64_t q, float lo, float hi) const
    {
        return static_cast<float>(static_cast<double>(q) * (static_cast<double>(hi) - lo) * s + lo);
    }
    float Step(float lo, float hi) const { return static_cast<float>((static_cast<double>(hi) - lo) * s); }
};

struct Simulation
{
    const MeshDesc& desc;
    EncodedMesh out;
    std::vector<Token> stream;
    std::vector<uint32_t> runs;
    uint32_t sincePrediction = 0;
    std::vector<uint16_t> ring;
    uint32_t ringPosition = 0;
    uint16_t counter = 0;
    std::map<uint32_t, uint16_t> latest; // key -> decoded vertex
    std::vector<bool> vertexNoTexture;
    Quantiser qPos, qTex;
    unsigned components;
    unsigned stripLengthWidth = 0;

    explicit Simulation(const MeshDesc& s)
        : desc(s), ring(size_t{1} << (s.ringBits - 1), 0xFFFF), qPos(s.positionBits), qTex(s.textureBits),
          components(((s.format >> 8) & 0xF) ? 5 : 3)
    {
    }

    void Put(uint64_t value, unsigned width)
    {
        stream.push_back({value & ((width >= 64) ? ~0ull : ((1ull << width) - 1)), width});
    }

    void Push(uint16_t index, bool counted)
    {
        ringPosition = (ringPosition + 1) % ring.size();
        ring[ringPosition] = index;
        if (counted) ++counter;
    }

    uint16_t Make(const BlockVertex& v, bool noTexture)
    {
        out.decoded.push_back(v);
        vertexNoTexture.push_back(noTexture);
        return static_cast<uint16_t>(out.decoded.size() - 1);
    }

    BlockVertex EncodeAbsolute(const GroupDesc& g, const BlockVertex& target, bool noTexture)
    {
        BlockVertex decoded{};
        for (unsigned i = 0; i < components; ++i)
        {
            const bool tex = i >= 3;
            if (tex && noTexture) continue;
            const Quantiser& q = tex ? qTex : qPos;
            const unsigned bits = tex ? desc.textureBits : desc.positionBits;
            const float want = tex ? target.uv[i - 3] : target.position[i];
            const double ideal = (static_cast<double>(want) - g.minimum[i]) /
                                 (static_cast<double>(g.maximum[i]) - g.minimum[i]) * q.m;
            int64_t best = std::llround(ideal);
            float bestValue = 0;
            double bestError = INFINITY;
            for (int64_t c = best - 2; c <= best + 2; ++c)
            {
                if (c < 0 || c > static_cast<int64_t>(q.m)) continue;
                const float value = q.Absolute(static_cast<uint64_t>(c), g.minimum[i], g.maximum[i]);
                const double error = std::fabs(static_cast<double>(value) - want);
                if (error < bestError)
                {
                    bestError = error;
                    best = c;
                    bestValue = value;
                }
            }
            if (bestError != 0) out.exact = false;
            Put(static_cast<uint64_t>(best), bits);
            (tex ? decoded.uv[i - 3] : decoded.position[i]) = bestValue;
        }
        return decoded;
    }

    // The prediction of component i for entry parity `parity` from the strip's last three vertices.
    static float Base(float a, float b, float c, unsigned parity)
    {
        const double ad = a, bd = b, cd = c;
        return static_cast<float>(parity ? (ad + bd) - cd : (ad - bd) + cd);
    }

    // Tries to express every component as a prediction; nothing is written when one cannot be.
    bool TryPredicted(const GroupDesc& g, const BlockVertex& target, bool noTexture, const BlockVertex& a,
                      const BlockVertex& b, const BlockVertex& c, unsigned parity, std::vector<Token>& fields,
                      BlockVertex& decoded)
    {
        decoded = {};
        for (unsigned i = 0; i < components; ++i)
        {
            const bool tex = i >= 3;
            if (tex && noTexture) continue;
            const unsigned bits = tex ? desc.textureBits : desc.positionBits;
            const Quantiser& q = tex ? qTex : qPos;
            auto get = [&](const BlockVertex& v) { return tex ? v.uv[i - 3] : v.position[i]; };
            const float base = Base(get(a), get(b), get(c), parity);
            const float step = q.Step(g.minimum[i], g.maximum[i]);
            const float want = get(target);
            if (step == 0) return false;
            const int64_t ideal = std::llround((static_cast<double>(want) - base) / (2.0 * step));
            const int64_t lo = -(int64_t{1} << (bits - 1)), hi = (int64_t{1} << (bits - 1)) - 1;
            bool found = false;
            for (int64_t cand = ideal - 1; cand <= ideal + 1 && !found; ++cand)
            {
                if (cand < lo || cand > hi) continue;
                const float d = static_cast<float>(2.0 * (static_cast<double>(cand) * step));
                const float value = static_cast<float>(static_cast<double>(base) + d);
                if (value == want)
                {
                    fields.push_back({static_cast<uint64_t>(cand) & ((uint64_t{1} << bits) - 1), bits});
                    (tex ? decoded.uv[i - 3] : decoded.position[i]) = value;
                    found = true;
                }
            }
            if (!found) return false;
        }
        return true;
    }

    struct Matrix
    {
        float m[4][4];
    };

    BlockVertex Transform(const Matrix& mx, const BlockVertex& v)
    {
        BlockVertex r = v;
        const double x = v.position[0], y = v.position[1], z = v.position[2];
        const double w = x * mx.m[0][3] + y * mx.m[1][3] + z * mx.m[2][3] + mx.m[3][3];
        for (int j = 0; j < 3; ++j)
            r.position[j] =
                static_cast<float>((x * mx.m[0][j] + y * mx.m[1][j] + z * mx.m[2][j] + mx.m[3][j]) / w);
        return r;
    }

    Matrix WriteTransform(const GroupDesc& g, const StripTransformDesc& t, const BlockVertex& first)
    {
        const int axis[4] = {t.ux, t.uy, t.vx, t.vy};
        for (int value : axis)
            Put(static_cast<uint64_t>(value < 0 ? value + 16384 : value), 14);
        for (int32_t value : t.t)
            Put(static_cast<uint64_t>(static_cast<uint32_t>(value)), desc.positionBits);
        Put(t.negateU, 1);
        Put(t.negateV, 1);
        Put(t.scale.has_value(), 1);
        if (t.scale) Put(Bits(*t.scale), 32);
        const float scale = t.scale.value_or(1.0f);

        double u[3] = {static_cast<float>(t.ux / 8191.0), static_cast<float>(t.uy / 8191.0), 0};
        double v[3] = {static_cast<float>(t.vx / 8191.0), static_cast<float>(t.vy / 8191.0), 0};
        const double uz = 1.0 - u[0] * u[0] - u[1] * u[1], vz = 1.0 - v[0] * v[0] - v[1] * v[1];
        u[2] = uz > 0 ? static_cast<float>(std::sqrt(uz)) : 0.0f;
        v[2] = vz > 0 ? static_cast<float>(std::sqrt(vz)) : 0.0f;
        if (t.negateU) u[2] = -u[2];
        if (t.negateV) v[2] = -v[2];
        const double w[3] = {static_cast<float>(u[1] * v[2] - u[2] * v[1]),
                             static_cast<float>(u[2] * v[0] - u[0] * v[2]),
                             static_cast<float>(u[0] * v[1] - u[1] * v[0])};
        Matrix mx{};
        const double* rows[3] = {u, v, w};
        for (int r = 0; r < 3; ++r)
            for (int j = 0; j < 3; ++j)
                mx.m[r][j] = static_cast<float>(rows[r][j] * scale);
        mx.m[3][3] = 1.0f;
        const BlockVertex moved = Transform(mx, first);
        for (int j = 0; j < 3; ++j)
        {
            const double d = 2.0 * t.t[j] * (static_cast<double>(g.maximum[j]) - g.minimum[j]) * qPos.s;
            mx.m[3][j] = static_cast<float>(first.position[j] + d - moved.position[j]);
        }
        return mx;
    }

    void Group(const GroupDesc& g)
    {
        for (int i = 0; i < 3; ++i)
        {
            Put(Bits(g.minimum[i]), 32);
            Put(Bits(g.maximum[i]), 32);
        }
        if (components == 5 && !g.noTexture)
            for (int i = 3; i < 5; ++i)
            {
                Put(Bits(g.minimum[i]), 32);
                Put(Bits(g.maximum[i]), 32);
            }
        if (desc.version == 2)
            for (uint16_t index : g.triple)
                Put(index, 16);

        std::vector<std::vector<uint16_t>> stripEntries;
        uint32_t faces = 0;
        for (size_t s = 0; s < g.strips.size(); ++s)
        {
            const StripDesc& strip = g.strips[s];
            if (strip.ops.size() < 2) throw std::invalid_argument("a strip has at least two entries");
            Matrix mx{};
            if (strip.copyOf >= 0)
            {
                if (static_cast<size_t>(strip.copyOf) >= s ||
                    stripEntries[strip.copyOf].size() != strip.ops.size())
                    throw std::invalid_argument("copied strip must match an earlier strip");
                Put(0, stripLengthWidth);
                Put(static_cast<uint64_t>(strip.copyOf), 8);
                mx = WriteTransform(g, strip.transform, out.decoded[stripEntries[strip.copyOf][0]]);
            }
            else
            {
                Put(strip.ops.size() - 2, stripLengthWidth);
            }
            std::vector<uint16_t> entries;
            for (size_t k = 0; k < strip.ops.size(); ++k)
            {
                const StripOp& op = strip.ops[k];
                uint16_t vertex = 0;
                if (op.kind == StripOp::New)
                {
                    Put(0, 1);
                    const BlockVertex& target = desc.keys.at(op.key);
                    BlockVertex decoded{};
                    if (strip.copyOf >= 0)
                    {
                        decoded = Transform(mx, out.decoded[stripEntries[strip.copyOf][k]]);
                    }
                    else if (k == 0 || !desc.predict)
                    {
                        decoded = EncodeAbsolute(g, target, g.noTexture);
                    }
                    else
                    {
                        const BlockVertex& a = out.decoded[entries[k - 1]];
                        const BlockVertex& b = k >= 2 ? out.decoded[entries[k - 2]] : a;
                        const BlockVertex& c = k >= 3 ? out.decoded[entries[k - 3]] : b;
                        std::vector<Token> fields;
                        if (TryPredicted(g, target, g.noTexture, a, b, c, k % 2, fields, decoded))
                        {
                            ++sincePrediction;
                            ++out.predicted;
                            stream.insert(stream.end(), fields.begin(), fields.end());
                        }
                        else
                        {
                            runs.push_back(sincePrediction);
                            sincePrediction = 0;
                            decoded = EncodeAbsolute(g, target, g.noTexture);
                        }
                    }
                    if (strip.copyOf < 0)
                        for (int i = 0; i < 3; ++i)
                            if (decoded.position[i] != target.position[i]) out.exact = false;
                    vertex = Make(decoded, g.noTexture);
                    Push(vertex, true);
                    latest[op.key] = vertex;
                }
                else
                {
                    Put(1, 1);
                    const uint16_t named = latest.at(op.key);
                    if (op.kind == StripOp::Back)
                    {
                        Put(1, 1);
                        Put(op.copy, 1);
                        if (op.copy) ++counter;
                        Put(static_cast<uint16_t>(counter - named), 16);
                    }
                    else
                    {
                        Put(0, 1);
                        const uint32_t slots = static_cast<uint32_t>(ring.size());
                        uint32_t slot = slots;
                        for (uint32_t j = 0; j < slots; ++j)
                            if (ring[(ringPosition + slots - j) % slots] == named)
                            {
                                slot = j;
                                break;
                            }
                        if (slot == slots) throw std::invalid_argument("vertex is not in the ring");
                        Put(slot | (op.copy ? slots : 0), desc.ringBits);
                        if (op.copy) ++counter;
                    }
                    if (op.copy)
                    {
                        vertex = Make(out.decoded[named], vertexNoTexture[named]);
                        latest[op.key] = vertex;
                    }
                    else
                    {
                        vertex = named;
                    }
                    Push(named, false);
                }
                entries.push_back(vertex);
                if (k >= 2)
                {
                    const uint16_t e0 = entries[k - 2], e1 = entries[k - 1], e2 = entries[k];
                    if (e0 != e1 && e1 != e2 && e0 != e2)
                    {
                        out.faces.push_back(k % 2 == 0 ? std::array<uint16_t, 3>{e0, e1, e2}
                                                       : std::array<uint16_t, 3>{e1, e0, e2});
                        ++faces;
                    }
                }
            }
            stripEntries.push_back(std::move(entries));
        }
        out.groupFaceCounts.push_back(faces);
    }
};

} // namespace

MeshDesc QuadGroupsMesh(const std::vector<std::array<std::array<float, 3>, 4>>& quads)
{
    MeshDesc desc;
    for (const auto& quad : quads)
    {
        const uint32_t first = static_cast<uint32_t>(desc.keys.size());
        const float uv[4][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
        for (int k = 0; k < 4; ++k)
            desc.keys.push_back({{quad[k][0], quad[k][1], quad[k][2]}, {uv[k][0], uv[k][1]}});
        GroupDesc group;
        for (int i = 0; i < 5; ++i)
        {
            group.minimum[i] = i < 3 ? -8.0f : 0.0f;
            group.maximum[i] = group.minimum[i] + 65535.0f;
        }
        StripDesc strip;
        for (uint32_t k = 0; k < 4; ++k)
            strip.ops.push_back({StripOp::New, first + k});
        group.strips = {strip};
        desc.groups.push_back(group);
    }
    return desc;
}

MeshDesc UnitQuadMesh()
{
    return QuadGroupsMesh({{{{1, 1, 1}, {2, 1, 1}, {1, 2, 1}, {2, 2, 1}}}});
}

EncodedMesh EncodeMesh(const MeshDesc& desc)
{
    Simulation sim(desc);
    uint32_t longest = 0;
    for (const GroupDesc& g : desc.groups)
        for (const StripDesc& s : g.strips)
            if (s.copyOf < 0 && s.ops.size() >= 2)
                longest = std::max<uint32_t>(longest, static_cast<uint32_t>(s.ops.size() - 2));
    // Length 0 marks a copied strip, so a strip of two entries cannot be stored as one of its own.
    sim.stripLengthWidth = WidthOf(longest);
    for (const GroupDesc& g : desc.groups)
        sim.Group(g);

    const bool texture = ((desc.format >> 8) & 0xF) != 0;
    uint32_t flags = 0x2 | 0x4 | 0x8; // runs, strip lengths, ring
    if (desc.noTextureBits) flags |= 0x1;
    if (desc.predict) flags |= 0x10 | (texture ? 0x40 : 0);

    std::vector<uint8_t>& bytes = sim.out.bytes;
    const uint16_t capacity =
        desc.vertexCapacity ? desc.vertexCapacity : static_cast<uint16_t>(sim.out.decoded.size());
    PutLe(bytes, desc.version, 4);
    PutLe(bytes, flags, 4);
    PutLe(bytes, desc.format, 4);
    PutLe(bytes, longest, 4);
    PutLe(bytes, sim.runs.size(), 4);
    PutLe(bytes, 0, 4);
    PutLe(bytes, desc.groups.size(), 2);
    PutLe(bytes, capacity, 2);
    const uint8_t widths[8] = {16, 8, 16, 16, desc.positionBits, 0, desc.textureBits, desc.ringBits};
    bytes.insert(bytes.end(), widths, widths + 8);
    PutLe(bytes, 0, 2);

    auto table = [&bytes](uint16_t width)
    {
        const std::vector<uint8_t> block = UncodedTableBlock(width);
        PutLe(bytes, block.size(), 4);
        bytes.insert(bytes.end(), block.begin(), block.end());
    };
    table(16);
    table(static_cast<uint16_t>(sim.stripLengthWidth));
    table(desc.ringBits);
    if (desc.predict)
    {
        table(desc.positionBits);
        if (texture) table(desc.textureBits);
    }

    BitWriter w;
    for (uint32_t run : sim.runs)
        w.Put(run, 16);
    for (const GroupDesc& g : desc.groups)
    {
        uint32_t entries = 0;
        for (const StripDesc& s : g.strips)
            entries += static_cast<uint32_t>(s.ops.size());
        w.Put(g.strips.size(), 8);
        w.Put(entries, 16);
        if (desc.noTextureBits) w.Put(g.noTexture, 1);
    }
    for (const Token& t : sim.stream)
        w.Put(t.value, t.width);
    bytes.insert(bytes.end(), w.Bytes().begin(), w.Bytes().end());
    if (w.Bytes().empty()) bytes.push_back(0);
    sim.out.runEntries = static_cast<uint32_t>(sim.runs.size());
    return sim.out;
}

std::vector<uint8_t> EncodeBlock(const BlockDesc& desc)
{
    std::vector<uint8_t> out;
    PutLe(out, desc.magic, 4);
    PutLe(out, desc.meshCount.value_or(static_cast<uint32_t>(desc.meshes.size())), 4);
    PutLe(out, 0, 4); // size, patched below
    if (desc.magic != 0x45474B4C)
    {
        out.insert(out.end(), desc.fileFlags, desc.fileFlags + 4);
        PutLe(out, Bits(desc.fileValue), 4);
    }
    if (desc.magic == 0x59474B4C)
    {
        PutLe(out, desc.lightCount.value_or(static_cast<uint32_t>(desc.lights.size())), 4);
        out.push_back(desc.fileByte);
        PutLe(out, Bits(desc.creaseAngle), 4);
        out.resize(64, 0);
        for (const LightPointRecord& light : desc.lights)
        {
            for (float f : light.position)
                PutLe(out, Bits(f), 4);
            for (uint32_t c : light.color)
                PutLe(out, c, 4);
        }
    }
    for (const std::vector<uint8_t>& mesh : desc.meshes)
    {
        PutLe(out, mesh.size(), 4);
        out.insert(out.end(), mesh.begin(), mesh.end());
    }
    const uint32_t size = desc.declaredSize.value_or(static_cast<uint32_t>(out.size()));
    for (int i = 0; i < 4; ++i)
        out[8 + i] = static_cast<uint8_t>(size >> (8 * i));
    return out;
}

} // namespace ferolt::test
