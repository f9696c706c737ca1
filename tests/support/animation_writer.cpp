#include "tests/support/animation_writer.h"

#include <cmath>

namespace ferolt::test
{
namespace
{
class FieldWriter
{
public:
    explicit FieldWriter(std::vector<size_t>* ends) : m_ends(ends) {}
    FieldWriter& U8(uint8_t v) { return Mark(m_out.U8(v)); }
    FieldWriter& U32(uint32_t v) { return Mark(m_out.U32(v)); }
    FieldWriter& F32(float v) { return Mark(m_out.F32(v)); }
    FieldWriter& Raw(const Bytes& b) { return Mark(m_out.Raw(b)); }
    FieldWriter& Matrix(const std::array<float, 16>& m)
    {
        for (float f : m)
            m_out.F32(f);
        return Mark(m_out);
    }
    const Bytes& Data() const { return m_out.Data(); }

private:
    FieldWriter& Mark(ByteWriter& w)
    {
        if (m_ends) m_ends->push_back(w.Size());
        return *this;
    }
    ByteWriter m_out;
    std::vector<size_t>* m_ends;
};

void StreamCurve(FieldWriter& w, const AnimationCurveDesc& c, bool quaternion)
{
    w.U8(quaternion ? 1 : 0).F32(c.start).F32(c.end).U32(c.preMode).U32(c.postMode);
    w.U32(c.keyCount.value_or(static_cast<uint32_t>(c.keys.size())));
    for (const AnimationKey& k : c.keys)
    {
        for (float f : k.value)
            w.F32(f);
        w.F32(k.time);
        w.U8((k.tension ? 1 : 0) | (k.continuity ? 2 : 0) | (k.bias ? 4 : 0));
        if (k.tension) w.F32(*k.tension);
        if (k.continuity) w.F32(*k.continuity);
        if (k.bias) w.F32(*k.bias);
    }
}

const AnimationCurveDesc* BlockCurves(const AnimationNodeDesc& n, int i)
{
    const std::optional<AnimationCurveDesc>* order[3] = {&n.position, &n.rotation, &n.scale};
    return *order[i] ? &order[i]->value() : nullptr;
}

size_t KeyRecordSize(const AnimationKey& k)
{
    return 12 + 4 * ((k.tension ? 1 : 0) + (k.continuity ? 1 : 0) + (k.bias ? 1 : 0));
}
} // namespace

Bytes AnimationStream(const AnimationDesc& desc, std::vector<size_t>* fieldEnds)
{
    // Written twice: once to learn the size for the length field, once with the field ends marked.
    auto write = [&](std::vector<size_t>* ends, uint32_t length)
    {
        FieldWriter w(ends);
        w.U32(desc.magic).U32(desc.version).U32(length);
        w.U32(desc.nodeCount.value_or(static_cast<uint32_t>(desc.nodes.size())));
        w.U32(desc.clipCount.value_or(static_cast<uint32_t>(desc.clips.size())));
        w.U32(desc.indexCount.value_or(static_cast<uint32_t>(desc.indices.size()))).U32(0);
        for (const AnimationNodeDesc& n : desc.nodes)
        {
            w.Matrix(n.pre).Matrix(n.post).F32(n.pivot[0]).F32(n.pivot[1]).F32(n.pivot[2]);
            w.U32((n.position ? 1 : 0) | (n.scale ? 2 : 0) | (n.rotation ? 4 : 0) | (n.parent ? 8 : 0));
            w.U32(n.parent ? static_cast<uint32_t>(*n.parent) : 0);
            if (n.position) StreamCurve(w, *n.position, false);
            if (n.scale) StreamCurve(w, *n.scale, false);
            if (n.rotation) StreamCurve(w, *n.rotation, true);
        }
        for (const AnimationClipDesc& c : desc.clips)
        {
            w.U32(c.nameLength.value_or(static_cast<uint32_t>(c.name.size())));
            w.F32(c.start).F32(c.end).U32(c.preMode).U32(c.postMode).U8(c.carried).U8(c.playReversed);
            w.U32(c.firstNode.value_or(0)).U32(c.nodeCount);
            w.U32(c.indexCount.value_or(static_cast<uint32_t>(c.indices.size())));
            if (!c.name.empty()) w.Raw(Bytes(c.name.begin(), c.name.end()));
            for (uint32_t i : c.indices)
                w.U32(i);
        }
        for (uint32_t i : desc.indices)
            w.U32(i);
        return w.Data();
    };
    const Bytes sized = write(nullptr, 0);
    return write(fieldEnds, desc.length.value_or(static_cast<uint32_t>(sized.size())));
}

Bytes AnimationBlock(const AnimationDesc& desc)
{
    constexpr size_t kHeader = 108;
    size_t nodeBytes = 0, keyBytes = 0, clipBytes = 0;
    for (const AnimationNodeDesc& n : desc.nodes)
    {
        nodeBytes += 148;
        for (int i = 0; i < 3; ++i)
            if (const AnimationCurveDesc* c = BlockCurves(n, i))
            {
                nodeBytes += 32;
                for (const AnimationKey& k : c->keys)
                    keyBytes += KeyRecordSize(k);
            }
    }
    for (const AnimationClipDesc& c : desc.clips)
        clipBytes += 148 + 4 * c.indices.size();
    const size_t keyStart = kHeader + nodeBytes, clipStart = keyStart + keyBytes,
                 poolStart = clipStart + clipBytes;

    // Each key's pool entry: value, in-tangent, out-tangent, four floats apart (stride 4).
    std::vector<float> pool;
    ByteWriter nodes, keys;
    size_t keyAt = keyStart;
    for (const AnimationNodeDesc& n : desc.nodes)
    {
        for (float f : n.pre)
            nodes.F32(f);
        for (float f : n.post)
            nodes.F32(f);
        nodes.U32((n.position ? 1 : 0) | (n.rotation ? 2 : 0) | (n.scale ? 4 : 0));
        nodes.F32(n.pivot[0])
            .F32(n.pivot[1])
            .F32(n.pivot[2])
            .U32(static_cast<uint32_t>(n.parent.value_or(-1)));
        for (int i = 0; i < 3; ++i)
        {
            const AnimationCurveDesc* c = BlockCurves(n, i);
            if (!c) continue;
            nodes.U32(c->keyCount.value_or(static_cast<uint32_t>(c->keys.size()))).U32(4);
            nodes.U32(static_cast<uint32_t>(keyAt))
                .F32(c->start)
                .F32(c->end)
                .U32(c->preMode)
                .U32(c->postMode)
                .U32(0);
            for (const AnimationKey& k : c->keys)
            {
                const uint32_t index = static_cast<uint32_t>(pool.size());
                std::array<float, 4> value{};
                for (size_t j = 0; j < k.value.size() && j < 4; ++j)
                    value[j] = k.value[j];
                pool.insert(pool.end(), value.begin(), value.end());
                const bool tangents = k.inTangent && k.outTangent;
                if (tangents)
                {
                    pool.insert(pool.end(), k.inTangent->begin(), k.inTangent->end());
                    pool.insert(pool.end(), k.outTangent->begin(), k.outTangent->end());
                }
                keys.U32(index).F32(k.time);
                keys.U32((k.tension ? 1 : 0) | (k.continuity ? 2 : 0) | (k.bias ? 4 : 0) |
                         (tangents ? 0x20 : 0));
                if (k.tension) keys.F32(*k.tension);
                if (k.continuity) keys.F32(*k.continuity);
                if (k.bias) keys.F32(*k.bias);
                keyAt += KeyRecordSize(k);
            }
        }
    }
    ByteWriter clips;
    for (const AnimationClipDesc& c : desc.clips)
    {
        Bytes name(111, 0);
        std::copy(c.name.begin(), c.name.begin() + std::min<size_t>(c.name.size(), 110), name.begin());
        clips.Raw(name).U32(c.firstNode.value_or(0)).U32(c.nodeCount).Raw(Bytes(9, 0));
        clips.U32(c.indexCount.value_or(static_cast<uint32_t>(c.indices.size()))).F32(c.start).F32(c.end);
        clips.U16(static_cast<uint16_t>(c.preMode)).U16(static_cast<uint16_t>(c.postMode));
        clips.U32((c.carried ? 1 : 0) | (c.playReversed ? 2 : 0) | (c.firstNode ? 4 : 0));
        for (uint32_t i : c.indices)
            clips.U32(i);
    }
    const size_t indexStart = poolStart + 4 * pool.size();

    ByteWriter out;
    out.Raw(Bytes(60, 0)).F32(desc.framesPerSecond);
    out.U32(desc.nodeCount.value_or(static_cast<uint32_t>(desc.nodes.size())));
    out.U32(desc.clipCount.value_or(static_cast<uint32_t>(desc.clips.size()))).Raw(Bytes(12, 0));
    out.U32(desc.indexCount.value_or(static_cast<uint32_t>(desc.indices.size())));
    out.U32(static_cast<uint32_t>(kHeader)).U32(static_cast<uint32_t>(clipStart)).U32(0);
    out.U32(static_cast<uint32_t>(poolStart)).U32(static_cast<uint32_t>(indexStart));
    out.Raw(nodes.Data()).Raw(keys.Data()).Raw(clips.Data());
    for (float f : pool)
        out.F32(f);
    for (uint32_t i : desc.indices)
        out.U32(i);
    return out.Data();
}

std::vector<float> RotationZ(float angle)
{
    return {0.0f, 0.0f, std::sin(angle / 2.0f), std::cos(angle / 2.0f)};
}
} // namespace ferolt::test
