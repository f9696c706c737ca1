// Fuzzes the object file reader: the input as a whole file, then as the sections behind a valid
// header, and once more with every section's CRC-32 made right so that mutated section bodies
// reach the decompression and the chunk parsers instead of being dropped. Each reader then runs
// scene assembly and the accessors over what it read.
#include "codec/p3d_read_codec.h"
#include "engine/core/lr_light_api.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace
{
constexpr GUID kType = {0x1A2B3C4D, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID* const kAccepted[] = {&kType, nullptr};
P3DFileHeader GoodHeader()
{
    P3DFileHeader header{};
    const uint8_t signature[16] = {0xf1, 0xd3, 0xff, 0x84, 0x43, 0x29, 0x77, 0x32,
                                   0x86, 0x2d, 0xf2, 0x1d, 0xc4, 0xe5, 0x72, 0x62};
    std::memcpy(header.signature, signature, sizeof signature);
    header.version = 3;
    header.revision = 1;
    header.contentType = kType;
    return header;
}

void FixSectionCrcs(std::vector<uint8_t>& file)
{
    size_t position = sizeof(P3DFileHeader);
    while (file.size() - position >= sizeof(P3DSectionHeader))
    {
        P3DSectionHeader header;
        std::memcpy(&header, file.data() + position, sizeof header);
        const size_t body = position + sizeof header;
        if (header.storedSize > file.size() - body) return;
        BlobStorageData stored;
        if (header.storedSize) stored.Append(file.data() + body, header.storedSize);
        stored.ComputeCrc32(header.crc32);
        std::memcpy(file.data() + position, &header, sizeof header);
        position = body + header.storedSize;
    }
}
void Assemble(CP3DReadCodec& codec)
{
    DWORD count = 0;
    codec.GetQELSOSpecialFlags(&count);
    codec.HasChunks();
    LMK::Model_* model = nullptr;
    DWORD type = 0, size = 0;
    void* data = nullptr;
    if (codec.GetChunk(model, type, size, data)) delete[] static_cast<BYTE*>(data);
    std::vector<LMK::Object_*> objects;
    codec.GetObjects(objects, true);
    std::vector<LMK::Light_*> lights;
    codec.GetLights(lights);
    for (LMK::Light_*& light : lights)
        LRReleaseLight(&light);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CP3DReadCodec direct;
    DWORD v1 = 0, v2 = 0, v3 = 0;
    GUID second;
    direct.IsReadable(data, size, &v1, &v2, &second, &v3, kAccepted);
    direct.MayBeReadable(data, size, &v1, &v2);
    direct.Read(data, size, &v1, &v2, kAccepted);
    Assemble(direct);

    const P3DFileHeader header = GoodHeader();
    std::vector<uint8_t> file(reinterpret_cast<const uint8_t*>(&header),
                              reinterpret_cast<const uint8_t*>(&header) + sizeof header);
    file.insert(file.end(), data, data + size);
    CP3DReadCodec framed;
    framed.Read(file.data(), file.size(), &v1, &v2, kAccepted);
    Assemble(framed);

    FixSectionCrcs(file);
    CP3DReadCodec checked;
    checked.Read(file.data(), file.size(), &v1, &v2, kAccepted);
    Assemble(checked);
    return 0;
}
