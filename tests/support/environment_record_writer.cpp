#include "tests/support/environment_record_writer.h"

namespace ferolt::test
{
Bytes EnvironmentRecord(const EnvironmentRecordFields& f)
{
    ByteWriter w;
    w.U32(f.type);
    for (const auto& colour : f.colors)
        for (float channel : colour)
            w.F32(channel);
    w.U32(f.textureCount).U32(f.texturesSlot);
    w.F32(f.heightOffset).F32(f.turn).F32(f.viewAngle).F32(f.pictureAngle);
    w.U8(f.stretchPicture).U8(f.cropPicture).U16(0);
    for (float value : f.crop)
        w.F32(value);
    w.U32(f.overlaySlot).U32(static_cast<uint32_t>(f.overlayX)).U32(static_cast<uint32_t>(f.overlayY));
    w.U8(f.screenPictureTextureMatrix).U8(0).U16(0);
    w.U32(static_cast<uint32_t>(f.uOffset)).U32(static_cast<uint32_t>(f.vOffset));
    return w.Data();
}

Bytes BackgroundChunk(const EnvironmentRecordFields& fields, const std::string& names, bool terminated)
{
    Bytes bytes = EnvironmentRecord(fields);
    bytes.insert(bytes.end(), names.begin(), names.end());
    if (terminated) bytes.push_back(0);
    return bytes;
}

Bytes ModelChunkItem(uint32_t id, uint32_t row, const Bytes& data)
{
    ByteWriter w;
    w.U32(id).U32(static_cast<uint32_t>(data.size())).U32(row).Raw(data);
    return w.Data();
}
} // namespace ferolt::test
