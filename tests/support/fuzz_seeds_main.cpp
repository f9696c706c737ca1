// Writes a fuzz target's seed corpus into the folder named on the command line.
#include "tests/support/fuzz_seeds.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const auto seeds = ferolt::test::FuzzSeeds();
    for (const auto& seed : seeds)
    {
        std::ofstream out(dir / seed.name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(seed.bytes.data()), std::streamsize(seed.bytes.size()));
        if (!out)
        {
            std::fprintf(stderr, "cannot write %s\n", (dir / seed.name).c_str());
            return 1;
        }
    }
    std::printf("%zu seeds in %s\n", seeds.size(), dir.c_str());
    return 0;
}
