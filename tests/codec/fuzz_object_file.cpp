// Fuzzes the object file reader and the viewer's whole load path on a started engine (headless
// back end): the input as a whole file, then as the sections behind a valid header of the viewer's
// content type, and once more with every section's CRC-32 made right so that mutated section bodies
// reach the decompression and the chunk parsers instead of being dropped. The first goes through
// scene assembly and the codec's accessors; the other two through the viewer's load (geometry
// decoded and built into models, objects placed, model chunks, background and viewpoints read).
#include "codec/p3d_read_codec.h"
#include "engine/core/lr_light_api.h"
#include "engine/scene/object_api.h"
#include "tests/support/fuzz_engine.h"
#include "tests/support/sample_object_file.h"
#include "viewer/tolvex_control.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace
{
constexpr GUID kType = {0x1A2B3C4D, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID* const kAccepted[] = {&ferolt::test::kViewerContentType, &kType, nullptr};
P3DFileHeader GoodHeader()
{
    P3DFileHeader header{};
    const uint8_t signature[16] = {0xf1, 0xd3, 0xff, 0x84, 0x43, 0x29, 0x77, 0x32,
                                   0x86, 0x2d, 0xf2, 0x1d, 0xc4, 0xe5, 0x72, 0x62};
    std::memcpy(header.signature, signature, sizeof signature);
    header.version = 3;
    header.revision = 1;
    header.contentType = ferolt::test::kViewerContentType;
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
    for (LMK::Object_*& object : objects)
        LRReleaseObject(&object);
    std::vector<LMK::Light_*> lights;
    codec.GetLights(lights);
    for (LMK::Light_*& light : lights)
        LRReleaseLight(&light);
}

void LoadInViewer(const std::vector<uint8_t>& file)
{
    CTolvexControl3D control;
    control.LoadObjectFromMemory(file.data(), static_cast<unsigned long>(file.size()));
    D3DXVECTOR3 minimum, maximum;
    control.GetSceneBoundingBox(&minimum, &maximum);
    control.ReleaseObjects();
    control.ReleaseLights();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!ferolt::test::StartFuzzEngine()) __builtin_trap();
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
    LoadInViewer(file);

    FixSectionCrcs(file);
    LoadInViewer(file);
    return 0;
}
