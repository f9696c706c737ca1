// Seeds for fuzz_model_blob: a blob with strings, chunks (an extended table) and an embedded colour
// texture, a packed container of the record layout with a name list, and one holding a stream.
#include "tests/support/fuzz_seeds.h"
#include "tests/support/model_blob_writer.h"

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    RecordLayout l;
    l.lightPoints = {{1, 1, 1, 0, 0, 1}};
    RecordMaterial textured;
    textured.flags = 1 | 8;
    l.materials = {RecordMaterial{}, textured};
    l.strings = {"A.PNG", "B.PNG"};
    l.partFaceCounts = {1, -1};
    l.normals = {{0, 0, 1}};
    for (int i = 0; i < 6; ++i)
        l.vertices.push_back(
            {float(i % 3), float(i / 3), 0, 0, 0, i == 4 ? 0xFFFFu : 0u, uint16_t(i == 1 ? 0x7E10 : 0)});
    l.faces = {{{0, 1, 4, 3}, {0, 1, 0, 0}, 0x1 | 0x40, 0, 0, 0},
               {{1, 2, 5, 4}, {1, 1, 1, 0}, 0x1 | 0x4, 0, 1, 1}};
    BlobDesc blob;
    blob.section = WriteRecordLayout(l, true);
    blob.chunks = {{0x400, {1, 2}},
                   {0x10000, {}},
                   {0x401, {3}},
                   {256, {1, 0, 0x01, 0x80, 0x80, 0x40, 0x20, 0}},
                   {0x402, {4, 5}}};
    StreamDesc stream;
    stream.materials = {StreamMaterial{}};
    StreamPart part;
    part.vertices = {{0, 0, 0, 0, 0}, {100, 0, 0, 50, 0}, {0, 100, 0, 0, 50}, {100, 100, 9, 50, 50}};
    part.faces = {{0, 1, 3, 2}, {0, 3, 2}};
    stream.parts = {part};
    return {{"blob", Prefixed(0, WriteModelBlob(blob))},
            {"packed_records",
             Prefixed(1, WritePackedContainer({"A.PNG", "B.PNG"}, WriteRecordLayout(l, false)))},
            {"packed_stream", Prefixed(3, WritePackedContainer({}, WriteV7QStream(stream)))}};
}
} // namespace ferolt::test
