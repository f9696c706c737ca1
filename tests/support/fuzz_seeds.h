#pragma once
// Seed corpora for the fuzz targets, written by the fixture writers so that every seed is a file
// the tests know how to build. A seed writer defines FuzzSeeds(); fuzz_seeds_main.cpp stores them.
#include <cstdint>
#include <string>
#include <vector>

namespace ferolt::test
{
struct FuzzSeed
{
    std::string name; // file name within the corpus folder
    std::vector<uint8_t> bytes;
};

std::vector<FuzzSeed> FuzzSeeds();

// Targets that read a selector byte before their input.
inline std::vector<uint8_t> Prefixed(uint8_t first, const std::vector<uint8_t>& rest)
{
    std::vector<uint8_t> bytes{first};
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}
} // namespace ferolt::test
