// Seeds for fuzz_viewer_chunks: two viewpoints, a background record with texture names, and names.
#include "tests/support/environment_record_writer.h"
#include "tests/support/fuzz_seeds.h"

#include <string>

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    ByteWriter viewpoints;
    for (float v :
         {0.0f, 0.0f, 0.0f, 5.0f, 4.0f, 3.0f, 0.5f, 0.0f, 1.0f, 1.0f, 1.0f, -5.0f, 4.0f, 3.0f, 0.7f, 0.0f})
        viewpoints.F32(v);
    EnvironmentRecordFields background;
    background.type = 0;
    background.textureCount = 2;
    const std::string names("..Vorne\x01\x00..Oben\x01", 16);
    return {{"viewpoints", Prefixed(0, viewpoints.Data())},
            {"background", Prefixed(1, BackgroundChunk(background, "sky.png\nsea.png"))},
            {"background_gradient", Prefixed(1, BackgroundChunk({}))},
            {"names", Prefixed(2, Bytes(names.begin(), names.end()))}};
}
} // namespace ferolt::test
