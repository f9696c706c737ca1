// Seeds for fuzz_material_pack: packs with colour, named and indexed records of each version, and
// single records.
#include "tests/support/fuzz_seeds.h"
#include "tests/support/material_pack_writer.h"

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    PackedTransformFields transform;
    transform.flags = 3;
    transform.effectIndex = 1;
    const Bytes full = MaterialRecord(
        {.version = 3,
         .flags = kRecordMaterialName | kRecordBaseName | 0x2000 | 0x4000 | kRecordNameIndices |
                  kRecordChangeModes | kRecordBaseTransform | 0x40 | 0x80,
         .projection = 1,
         .body = [&]
         {
             Bytes body = InlineName("Stone");
             for (uint16_t index : {0, 1, 9})
             {
                 Bytes i = NameIndex(index);
                 body.insert(body.end(), i.begin(), i.end());
             }
             for (const Bytes& part : {ChangeModes({0, 1, 2, 3, 4, 5}), PackedTransform(transform),
                                       PackedTransform({}), PackedTransform(transform)})
                 body.insert(body.end(), part.begin(), part.end());
             return body;
         }()});
    const Bytes v1 = MaterialRecord({.version = 1,
                                     .flags = kRecordChangeModes | kRecordBaseName,
                                     .body = []
                                     {
                                         Bytes b = InlineName("a.png");
                                         Bytes m = ChangeModes({1, 2});
                                         b.insert(b.end(), m.begin(), m.end());
                                         return b;
                                     }()});
    const Bytes v2 = MaterialRecord({.version = 2, .flags = 0x10000});
    return {
        {"three_colours", MaterialPack({.slots = {0, 1, 2},
                                        .records = {ColourRecord(0xC04030), ColourRecord(0x808080),
                                                    ColourRecord(0x3060C0, 0x80)}})},
        {"indexed_names",
         MaterialPack(
             {.slots = {0, 0xFFFFFFFF, 1, 0}, .strings = {"wall.png", "roof.png"}, .records = {full, v1}})},
        {"versions", MaterialPack({.slots = {2, 1, 0}, .records = {v1, v2, full}})},
        {"record_v3", full},
        {"record_v1", v1},
    };
}
} // namespace ferolt::test
