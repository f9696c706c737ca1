// Seeds for fuzz_object_file: the sample file stored and packed, under the viewer's content type and
// under the harness's own, and its sections alone (the harness frames them with a valid header).
#include "tests/support/fuzz_seeds.h"
#include "tests/support/sample_object_file.h"

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    constexpr GUID kHarnessType = {0x1A2B3C4D, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    const Bytes stored = SampleObjectFile(kViewerContentType, false);
    const Bytes packed = SampleObjectFile(kViewerContentType, true);
    const size_t header = 76;
    return {
        {"header_only", ObjectFileWriter().Data()},
        {"stored", stored},
        {"bzip2", packed},
        {"stored_harness_type", SampleObjectFile(kHarnessType, false)},
        {"bzip2_harness_type", SampleObjectFile(kHarnessType, true)},
        {"sections_stored", Bytes(stored.begin() + header, stored.end())},
        {"sections_bzip2", Bytes(packed.begin() + header, packed.end())},
    };
}
} // namespace ferolt::test
