#include "codec/mapped_file.h"
#include "codec/p3d_read_codec.h"
#include "tests/support/object_file_writer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace
{

TEST(MappedFile, MapsWholeFilesAndRefusesTheRest)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("ferolt_mapped_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string full = (dir / "scene.tolvex").string();
    const std::string empty = (dir / "empty.tolvex").string();
    std::ofstream(full, std::ios::binary) << std::string("ab\0cd", 5);
    std::ofstream(empty, std::ios::binary);

    struct Case
    {
        const char* name;
        const char* path;
        std::string content; // empty: the mapping fails
    };
    const std::string missing = (dir / "missing.tolvex").string();
    const Case cases[] = {
        {"a file", full.c_str(), std::string("ab\0cd", 5)},
        {"an empty file", empty.c_str(), {}},
        {"a missing file", missing.c_str(), {}},
        {"no path", nullptr, {}},
    };
    for (const Case& c : cases)
    {
        CMappedFile file;
        ASSERT_EQ(file.Open(c.path), !c.content.empty()) << c.name;
        if (c.content.empty()) continue;
        ASSERT_EQ(file.GetSize(), c.content.size()) << c.name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.GetData()), file.GetSize()), c.content);
        file.Close();
        EXPECT_EQ(file.GetData(), nullptr);
        EXPECT_EQ(file.GetSize(), 0u);
    }
    // A sparse object file past 4 GiB: cut to its low 32 bits, its size would be too small for a
    // header and the file would be refused.
    constexpr GUID kType = {0x1A2B3C4D, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    const GUID* const accepted[] = {&kType, nullptr};
    ferolt::test::ObjectFileHeaderFields header;
    header.contentType = kType;
    const ferolt::test::Bytes headerBytes = ferolt::test::ObjectFileWriter(header).Data();
    const std::string large = (dir / "large.tolvex").string();
    std::ofstream(large, std::ios::binary)
        .write(reinterpret_cast<const char*>(headerBytes.data()),
               static_cast<std::streamsize>(headerBytes.size()));
    const uintmax_t largeSize = (uintmax_t{1} << 32) + 5;
    std::filesystem::resize_file(large, largeSize);
    {
        CMappedFile file(large.c_str(), true);
        ASSERT_NE(file.GetData(), nullptr);
        ASSERT_EQ(file.GetSize(), largeSize);
        EXPECT_EQ(file.GetData()[largeSize - 1], 0);
        CP3DReadCodec codec;
        EXPECT_TRUE(
            codec.IsReadable(file.GetData(), file.GetSize(), nullptr, nullptr, nullptr, nullptr, accepted));
        EXPECT_TRUE(codec.MayBeReadable(file.GetData(), file.GetSize(), nullptr, nullptr));
    }

    CMappedFile openedAtOnce(full.c_str(), true);
    EXPECT_EQ(openedAtOnce.GetSize(), 5u);
    CMappedFile notOpened(full.c_str(), false);
    EXPECT_EQ(notOpened.GetData(), nullptr);
    std::filesystem::remove_all(dir);
}

} // namespace
