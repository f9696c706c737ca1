#include "tests/support/model_blob_writer.h"

#include <zlib.h>

#include <cstring>

namespace ferolt::test
{
namespace
{
using Bytes = std::vector<uint8_t>;

template <class T> void Put(Bytes* out, T v)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&v);
    out->insert(out->end(), p, p + sizeof v);
}

void PutAt(Bytes* out, size_t at, uint32_t v)
{
    std::memcpy(out->data() + at, &v, 4);
}

constexpr uint8_t kIdentifier[16] = {0x0A, 0xD4, 0x00, 0x08, 0x9B, 0x27, 0xD3, 0x11,
                                     0x88, 0x28, 0x00, 0x60, 0x08, 0x57, 0xF4, 0x5C};
} // namespace

std::vector<uint8_t> WriteRecordLayout(const RecordLayout& l, bool withStrings)
{
    Bytes out;
    const bool wideVertices = l.vertices.size() > 65534;
    const bool wideFaces = wideVertices || l.faces.size() > 65534;
    const uint32_t counts[8] = {uint32_t(l.lightPoints.size()),
                                uint32_t(l.materials.size()),
                                uint32_t(l.strings.size()),
                                uint32_t(l.partFaceCounts.size()),
                                0,
                                uint32_t(l.normals.size()),
                                uint32_t(l.vertices.size()),
                                uint32_t(l.faces.size())};
    for (uint32_t c : counts)
        Put(&out, c);
    for (int i = 0; i < 8; ++i)
        Put<uint32_t>(&out, 0xDEADBEEF); // pointer slots
    for (const auto& p : l.lightPoints)
    {
        for (float f : p)
            Put(&out, f);
        Put<uint64_t>(&out, 0);
    }
    for (const RecordMaterial& m : l.materials)
    {
        for (float f : m.color1)
            Put(&out, f);
        for (float f : m.color2)
            Put(&out, f);
        for (float f : {m.transparency, m.ambient, m.diffuse, m.specular, m.power})
            Put(&out, f);
        Put(&out, m.texture);
        Put(&out, m.flags);
        out.insert(out.end(), 12, 0);
    }
    if (withStrings)
        for (const std::string& s : l.strings)
        {
            Bytes record(256, 0);
            record[0] = static_cast<uint8_t>(s.size());
            std::memcpy(record.data() + 1, s.data(), std::min<size_t>(s.size(), 254));
            out.insert(out.end(), record.begin(), record.end());
        }
    for (int32_t faces : l.partFaceCounts)
    {
        out.insert(out.end(), 24, 0);
        Put<uint32_t>(&out, 0);
        Put(&out, faces);
        out.insert(out.end(), 8, 0);
    }
    for (const auto& n : l.normals)
        for (float f : n)
            Put(&out, f);
    for (const RecordVertex& v : l.vertices)
    {
        for (float f : {v.x, v.y, v.z, v.u, v.v})
            Put(&out, f);
        if (wideVertices)
            Put(&out, v.split);
        else
            Put(&out, uint16_t(v.split));
        Put(&out, v.flags);
    }
    for (const RecordFace& f : l.faces)
    {
        Put<uint32_t>(&out, 0);
        for (const auto* field : {&f.corners, &f.neighbours})
            for (uint32_t c : *field)
                wideFaces ? Put(&out, c) : Put(&out, uint16_t(c));
        Put(&out, f.flags);
        wideFaces ? Put(&out, f.normal) : Put(&out, uint16_t(f.normal));
        Put(&out, f.material);
        Put(&out, f.texture);
    }
    return out;
}

std::vector<uint8_t> WriteModelBlob(const BlobDesc& desc)
{
    Bytes out(256, 0);
    std::memcpy(out.data() + 1, desc.header.data(), std::min<size_t>(desc.header.size(), 8));
    std::memcpy(out.data() + 121, desc.name.data(), std::min<size_t>(desc.name.size(), 98));
    PutAt(&out, 92, desc.options);
    PutAt(&out, 108, desc.value);
    // Chunk data first, then the extension records, then the section.
    std::vector<uint32_t> offsets;
    for (const BlobChunk& c : desc.chunks)
    {
        offsets.push_back(uint32_t(out.size()));
        out.insert(out.end(), c.bytes.begin(), c.bytes.end());
    }
    const size_t n = desc.chunks.size();
    auto record = [&](size_t at, uint32_t id, uint32_t offset, uint32_t size)
    {
        PutAt(&out, at, id);
        PutAt(&out, at + 4, offset);
        PutAt(&out, at + 8, size);
    };
    if (n <= 4)
        for (size_t i = 0; i < n; ++i)
            record(24 + 16 * i, desc.chunks[i].id, offsets[i], uint32_t(desc.chunks[i].bytes.size()));
    else
    {
        for (size_t i = 0; i < 3; ++i)
            record(24 + 16 * i, desc.chunks[i].id, offsets[i], uint32_t(desc.chunks[i].bytes.size()));
        const uint32_t extension = uint32_t(out.size());
        record(24 + 48, 0xFFFFFFFFu, extension, uint32_t(n));
        for (size_t i = 3; i < n; ++i)
        {
            Put(&out, desc.chunks[i].id);
            Put(&out, offsets[i]);
            Put(&out, uint32_t(desc.chunks[i].bytes.size()));
            Put<uint32_t>(&out, 0);
        }
    }
    uint32_t sum = 0;
    for (uint8_t b : desc.section)
        sum += b;
    PutAt(&out, 220, uint32_t(out.size()));
    PutAt(&out, 224, uint32_t(desc.section.size()));
    PutAt(&out, 228, sum + uint32_t(desc.checksumAdjust));
    out.insert(out.end(), desc.section.begin(), desc.section.end());
    return out;
}

std::vector<uint8_t> WritePackedContainer(const std::vector<std::string>& names,
                                          const std::vector<uint8_t>& section)
{
    Bytes list;
    for (const std::string& name : names)
    {
        list.insert(list.end(), name.begin(), name.end());
        list.push_back(0);
    }
    if (!names.empty()) list.push_back(0);
    Bytes out(48, 0);
    PutAt(&out, 0, 0xA7B6C5D4u);
    PutAt(&out, 8, uint32_t(section.size()));
    PutAt(&out, 12, uint32_t(list.size()));
    out.insert(out.end(), list.begin(), list.end());
    out.insert(out.end(), section.begin(), section.end());
    return out;
}

float StreamValue(int16_t q, float min, float max)
{
    return static_cast<float>(q) * static_cast<float>((max - min) / 32767.0) + min;
}

std::vector<uint8_t> WriteV7QStream(const StreamDesc& desc)
{
    Bytes out;
    for (int i = 0; i < desc.identifiers; ++i)
        out.insert(out.end(), kIdentifier, kIdentifier + 16);
    const size_t header = out.size();
    out.resize(header + 40, 0);
    PutAt(&out, header, 0x31513756u);
    PutAt(&out, header + 8, 1);
    // The chunk list, counted from the stream's start.
    PutAt(&out, header + 28, uint32_t(out.size()));
    const size_t listStart = out.size();
    for (const BlobChunk& c : desc.chunks)
    {
        Put(&out, c.id);
        Put(&out, uint32_t(c.bytes.size()));
        out.insert(out.end(), c.bytes.begin(), c.bytes.end());
    }
    PutAt(&out, header + 32, uint32_t(out.size() - listStart));
    PutAt(&out, header + 20, uint32_t(out.size() - header));

    Bytes block;
    for (const std::string& s : desc.strings)
    {
        block.insert(block.end(), s.begin(), s.end());
        block.push_back(0);
    }
    const uint16_t nameLength = uint16_t(desc.name.size() + 1);
    float bounds[6] = {0, 0, 0, 1, 1, 1};
    for (float f : bounds)
        Put(&out, f);
    Put(&out, desc.value);
    Put(&out, desc.flags);
    out.insert(out.end(), 9, 0);
    for (uint16_t v :
         {nameLength, uint16_t(block.size()), uint16_t(desc.lightPoints.size()),
          uint16_t(desc.materials.size()), uint16_t(desc.strings.size()), uint16_t(desc.parts.size())})
        Put(&out, v);
    out.insert(out.end(), desc.name.begin(), desc.name.end());
    out.push_back(0);
    out.insert(out.end(), block.begin(), block.end());
    for (const auto& l : desc.lightPoints)
    {
        for (int i = 0; i < 3; ++i)
            out.push_back(uint8_t(l[i]));
        for (int i = 3; i < 6; ++i)
            Put(&out, l[i]);
    }
    for (const StreamMaterial& m : desc.materials)
    {
        out.insert(out.end(), m.color1.begin(), m.color1.end());
        out.insert(out.end(), m.color2.begin(), m.color2.end());
        Put(&out, m.transparency);
        for (uint16_t f : m.factors)
            Put(&out, f);
        Put(&out, m.texture);
        out.push_back(0);
        out.push_back(m.flags);
    }
    for (const StreamPart& p : desc.parts)
    {
        out.push_back(p.instance ? 1 : 0);
        if (p.instance)
        {
            for (float f : p.transform)
                Put(&out, f);
            Put(&out, p.source);
            continue;
        }
        for (float f : p.ranges)
            Put(&out, f);
        Put(&out, uint16_t(p.vertices.size()));
        Put(&out, uint16_t(p.faces.size()));
        Put(&out, uint16_t(p.vertices.size() + p.faces.size()));
    }
    for (const StreamPart& p : desc.parts)
    {
        if (p.instance) continue;
        std::array<int16_t, 5> previous{0, 0, 0, 0, 0};
        for (const auto& v : p.vertices)
        {
            Put<uint16_t>(&out, 0x80 | 0x3E); // no face, all five deltas
            for (int i = 0; i < 5; ++i)
                Put(&out, int16_t(uint16_t(v[i]) - uint16_t(previous[i])));
            previous = v;
        }
        const uint16_t last = uint16_t(p.vertices.size() - 1);
        uint16_t group = 0;
        for (size_t fi = 0; fi < p.faces.size(); ++fi)
        {
            const auto& f = p.faces[fi];
            const bool quad = f.size() == 4;
            const uint16_t faceGroup = p.groups.empty() ? 0 : p.groups[fi];
            uint16_t c = 0x200 | 0x400 | 0x800 | 0x1000;
            if (quad) c |= 1;
            if (faceGroup != group) c |= 0x40;
            // Bits 7 and 10 are never both set here, so the word is the control word.
            Put(&out, c);
            if (quad) out.push_back(1 | 2);
            if (c & 0x40) Put(&out, faceGroup);
            group = faceGroup;
            // c0 = last - r1; a triangle: c1 = last - r3, c2 = last - r2; a quad: c1 = last - r4,
            // c2 = last - r3, c3 = last - r2.
            const uint16_t r1 = last - f[0];
            const uint16_t r2 = quad ? last - f[3] : last - f[2];
            const uint16_t r3 = quad ? last - f[2] : last - f[1];
            Put(&out, r1);
            Put(&out, r2);
            Put(&out, r3);
            if (quad) Put(&out, uint16_t(last - f[1]));
        }
    }
    return out;
}

std::vector<uint8_t> WriteV7QContainer(const std::vector<uint8_t>& body, uint32_t method)
{
    Bytes out(20, 0);
    PutAt(&out, 0, 0x21713776u);
    PutAt(&out, 8, 20);
    PutAt(&out, 12, method);
    PutAt(&out, 16, uint32_t(body.size()));
    if (method == 1)
    {
        uLongf packedSize = compressBound(uLong(body.size()));
        Bytes packed(packedSize);
        compress(packed.data(), &packedSize, body.data(), uLong(body.size()));
        packed.resize(packedSize);
        out.insert(out.end(), packed.begin(), packed.end());
    }
    else
        out.insert(out.end(), body.begin(), body.end());
    return out;
}
} // namespace ferolt::test
