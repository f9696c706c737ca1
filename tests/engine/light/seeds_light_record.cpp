// Seeds for fuzz_light_record: each light type, a record cut short and one longer than it knows.
#include "tests/support/fuzz_seeds.h"
#include "tests/support/light_record_writer.h"

namespace ferolt::test
{
std::vector<FuzzSeed> FuzzSeeds()
{
    std::vector<FuzzSeed> seeds;
    for (uint32_t type : {1u, 2u, 3u})
    {
        LightRecordFields fields;
        fields.type = type;
        seeds.push_back({"type" + std::to_string(type), LightRecord(fields)});
    }
    seeds.push_back({"short", LightRecord({}, 100)});
    seeds.push_back({"long", LightRecord({}, kLightRecordFullSize + 8)});
    return seeds;
}
} // namespace ferolt::test
