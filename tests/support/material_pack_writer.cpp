#include "tests/support/material_pack_writer.h"

namespace ferolt::test
{
Bytes PackedTransform(const PackedTransformFields& f)
{
    ByteWriter w;
    for (float v : f.matrix)
        w.F32(v);
    w.U8(f.addressU).U8(f.addressV).U32(f.borderColour).U8(f.flags).U32(static_cast<uint32_t>(f.effectIndex));
    for (float v : f.effectParams)
        w.F32(v);
    w.U16(f.extraWord).U8(f.extraByte).F32(f.speed).U8(f.pingPong);
    return w.Data();
}

Bytes MaterialRecord(const MaterialRecordFields& f)
{
    const uint32_t headerSize = f.version == 1 ? 38 : f.version == 2 ? 44 : 80;
    ByteWriter w;
    w.U32(f.version).U32(static_cast<uint32_t>(headerSize + f.body.size() + f.sizeDelta));
    for (uint32_t argb : f.colours)
        w.U32(argb);
    w.F32(f.power).F32(f.reflectionWeight).F32(f.bumpHeight);
    if (f.version == 1)
        w.U16(static_cast<uint16_t>(f.flags));
    else
        w.U32(f.flags).F32(f.mirrorReflectivity);
    if (f.version != 1 && f.version != 2)
    {
        w.U32(80).U8(f.projection).U8(0).U8(0).U8(0);
        for (float v : f.projectionElements)
            w.F32(v);
        w.U32(0);
    }
    return w.Raw(f.body).Data();
}

Bytes InlineName(const std::string& name)
{
    Bytes b(name.begin(), name.end());
    b.push_back(0);
    return b;
}

Bytes NameIndex(uint16_t index)
{
    return ByteWriter().U16(index).Data();
}

Bytes ChangeModes(std::vector<int8_t> modes)
{
    modes.resize(24, 0);
    return Bytes(modes.begin(), modes.end());
}

Bytes ColourRecord(uint32_t rgb, uint8_t alpha, const std::string& baseTexture)
{
    MaterialRecordFields f;
    f.colours = {0xFF000000u, uint32_t{alpha} << 24, 0xFF000000u, 0xFF000000u | rgb};
    f.power = 0;
    if (!baseTexture.empty())
    {
        f.flags |= kRecordBaseName;
        f.body = InlineName(baseTexture);
    }
    return MaterialRecord(f);
}

Bytes MaterialPack(const MaterialPackFields& f)
{
    size_t stringBytes = 0;
    for (const std::string& s : f.strings)
        stringBytes += s.size() + 1;
    ByteWriter w;
    w.U32(0x414D4B4C).U32(f.version).U32(0);
    w.U32(static_cast<uint32_t>(f.slots.size()));
    w.U32(static_cast<uint32_t>(f.records.size() + f.materialCountDelta));
    w.U32(static_cast<uint32_t>(f.strings.size()));
    w.U32(static_cast<uint32_t>(stringBytes + f.stringBytesDelta));
    for (uint32_t slot : f.slots)
        w.U32(slot);
    for (const std::string& s : f.strings)
        w.Raw(InlineName(s));
    for (const Bytes& record : f.records)
        w.Raw(record);
    return w.Data();
}
} // namespace ferolt::test
