// Seeds for fuzz_geometry_bits: the first byte splits the input into a table block and a bit stream.
#include "tests/support/fuzz_seeds.h"
#include "tests/support/geometry_bits_writer.h"

namespace ferolt::test
{
namespace
{
std::vector<uint8_t> Split(const std::vector<uint8_t>& block, const std::vector<uint8_t>& stream)
{
    const size_t size = 1 + block.size() + stream.size();
    // The harness splits at 1 + first * (size - 1) / 256; the smallest first byte that reaches the block's
    // end.
    uint8_t first = 0;
    while (first < 255 && 1 + (first * (size - 1)) / 256 < 1 + block.size())
        ++first;
    std::vector<uint8_t> bytes{first};
    bytes.insert(bytes.end(), block.begin(), block.end());
    bytes.insert(bytes.end(), stream.begin(), stream.end());
    return bytes;
}
} // namespace

std::vector<FuzzSeed> FuzzSeeds()
{
    const PrefixCode code{8, 16, 0xFF, {{0x00, "0"}, {0x41, "10"}, {0xFF, "11"}}};
    BitWriter coded;
    PutCodedField(coded, code, 0x4100);
    PutCodedField(coded, code, 0x1234);
    coded.PadToByte();
    BitWriter raw;
    raw.Put(0x2A, 8);
    raw.Put(0x5, 3);
    raw.PadToByte();
    return {{"prefix_table", Split(PrefixTableBlock(code), coded.Bytes())},
            {"uncoded_table", Split(UncodedTableBlock(8), raw.Bytes())}};
}
} // namespace ferolt::test
