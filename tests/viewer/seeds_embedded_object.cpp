// Seeds for fuzz_embedded_object: a program with the sample file and its footer appended, and one
// whose footer names bytes past its end.
#include "tests/support/fuzz_seeds.h"
#include "tests/support/sample_object_file.h"
#include "viewer/viewer_app.h"

namespace ferolt::test
{
namespace
{
Bytes Program(const Bytes& object, uint32_t offset, uint32_t size)
{
    static_assert(kEmbeddedFooterSize == 12);
    ByteWriter w;
    w.Raw(Bytes(64, 0x90)).Raw(object).U32(offset).U32(size).U32(kEmbeddedObjectMagic);
    return w.Data();
}
} // namespace

std::vector<FuzzSeed> FuzzSeeds()
{
    const Bytes object = SampleObjectFile(kViewerContentType, true);
    const uint32_t size = static_cast<uint32_t>(object.size());
    return {{"embedded", Program(object, 64, size)}, {"past_the_end", Program(object, 64, size + 100)}};
}
} // namespace ferolt::test
