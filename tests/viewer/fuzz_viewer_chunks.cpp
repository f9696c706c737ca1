// Fuzzes the viewer's model chunks: the input's first byte picks the chunk (viewpoints, background
// record with its texture names, viewpoint names) and the rest is its data, carried on the cube model
// of a well-formed file through the viewer's load; the background record reader is also given the
// data alone.
#include "engine/render/environment.h"
#include "tests/support/environment_record_writer.h"
#include "tests/support/fuzz_engine.h"
#include "tests/support/object_file_writer.h"
#include "tests/support/sample_object_file.h"
#include "viewer/tolvex_control.h"

#include <array>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!ferolt::test::StartFuzzEngine()) __builtin_trap();
    if (size < 1) return 0;
    constexpr uint32_t kIds[] = {0x111, 0x112, 0x10002};
    const uint32_t id = kIds[data[0] % 3];
    const ferolt::test::Bytes chunk(data + 1, data + size);

    LMK::EnvironmentStruct_TYP record;
    std::string_view names;
    LMK::ReadEnvironmentRecord(chunk.data(), chunk.size(), &record, &names);

    static const ferolt::test::Bytes block = ferolt::test::CubeBlock();
    const std::array<float, 16> identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    ferolt::test::ByteWriter model;
    model.U32(static_cast<uint32_t>(block.size())).U32(1).U32(72);
    model.Raw(ferolt::test::InstanceRecord(0, 0, identity)).Raw(block);
    ferolt::test::ObjectFileHeaderFields header;
    header.contentType = ferolt::test::kViewerContentType;
    const ferolt::test::Bytes file =
        ferolt::test::ObjectFileWriter(header)
            .StoredSection(ferolt::test::ChunkWriter()
                               .Chunk(8, model.Data())
                               .Chunk(7, ferolt::test::ModelChunkItem(id, 0, chunk))
                               .Data())
            .Data();
    CTolvexControl3D control;
    control.LoadObjectFromMemory(file.data(), static_cast<unsigned long>(file.size()));
    control.ReleaseObjects();
    control.ReleaseLights();
    return 0;
}
