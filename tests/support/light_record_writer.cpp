#include "tests/support/light_record_writer.h"

namespace ferolt::test
{
Bytes LightRecord(const LightRecordFields& f, uint32_t sizeField, std::optional<size_t> emitted)
{
    ByteWriter w;
    w.U32(f.magic).U32(sizeField).U32(f.type);
    for (const float* colour : {f.diffuse, f.specular, f.ambient})
        for (int i = 0; i < 4; ++i)
            w.F32(colour[i]);
    for (int i = 0; i < 3; ++i)
        w.F32(f.position[i]);
    for (int i = 0; i < 3; ++i)
        w.F32(f.direction[i]);
    w.F32(f.range).F32(f.falloff);
    for (int i = 0; i < 3; ++i)
        w.F32(f.attenuation[i]);
    w.F32(f.theta).F32(f.phi);
    w.U8(f.diffuseOn).U8(f.specularOn).U8(f.ambientOn).U8(f.spotFalloff);
    w.U32(f.attenuationPreset).U32(f.glowType).U32(f.flareType);
    w.F32(f.glowSize).F32(f.flareSize).F32(f.intensity).F32(f.flareAlpha).F32(f.glowAlpha);
    w.U8(f.noShadows).F32(f.softness);

    Bytes bytes = w.Data();
    const size_t n = emitted.value_or(sizeField);
    bytes.resize(n, 0xA5);
    return bytes;
}
} // namespace ferolt::test
