// Writes the bundled example object file: make_example <output path>.
#include "examples/example_object.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s <output.tolvex>\n", argv[0]);
        return 2;
    }
    const ferolt::test::Bytes bytes = ferolt::example::HouseObjectFile();
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out ? 0 : 1;
}
