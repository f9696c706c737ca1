// Object file reading (section walk, CRC-32, bzip2, chunk framing and records) and the geometry
// bit reader.
#include "codec/p3d_read_codec.h"
#include "engine/scene/bit_reader.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "tests/support/geometry_bits_writer.h"
#include "tests/support/object_file_writer.h"

#include <benchmark/benchmark.h>
#include <bzlib.h>

#include <cstdlib>
#include <string>
#include <thread>

#include <unistd.h>

using namespace ferolt::test;

namespace
{

constexpr GUID kType = {0x1A2B3C4D, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID* const kAccepted[] = {&kType, nullptr};

struct Bzip2Stream
{
    Bytes packed;
    size_t unpackedSize;
};
std::vector<Bzip2Stream> g_streams; // the bzip2 file's sections, for unpacking on their own

// About 50 MB of content: sections of 4 MB, each holding model chunks of 64 KB with four records.
const Bytes& FiftyMegabyteFile(bool bzip2)
{
    static Bytes files[2];
    Bytes& file = files[bzip2];
    if (!file.empty()) return file;
    ObjectFileHeaderFields header;
    header.contentType = kType;
    ObjectFileWriter writer(header);
    uint32_t seed = 12345;
    Bytes model(64 * 1024);
    for (int section = 0; section < 12; ++section)
    {
        ChunkWriter chunks;
        for (int i = 0; i < 64; ++i)
        {
            for (uint8_t& b : model) // mildly compressible, like quantised geometry
            {
                seed = seed * 1664525u + 1013904223u;
                b = static_cast<uint8_t>((seed >> 24) & 0x3F);
            }
            ByteWriter chunk;
            chunk.U32(static_cast<uint32_t>(model.size())).U32(4);
            for (uint32_t r = 0; r < 4; ++r)
                chunk.Raw(InstanceRecord(r, 1, TestMatrix(static_cast<float>(r))));
            chunk.Raw(model);
            chunks.Chunk(5, chunk.Data());
        }
        if (bzip2)
        {
            g_streams.push_back({Bzip2(chunks.Data()), chunks.Data().size()});
            writer.Section(kSectionBzip2, static_cast<uint32_t>(chunks.Data().size()),
                           g_streams.back().packed);
        }
        else
            writer.StoredSection(chunks.Data());
    }
    file = writer.Data();
    return file;
}

// Reads on state.range(0) threads; 0: one per core. Bytes processed are the file's.
void ReadObjectFile(benchmark::State& state, bool bzip2)
{
    const Bytes& file = FiftyMegabyteFile(bzip2);
    const unsigned threads =
        state.range(0) ? static_cast<unsigned>(state.range(0)) : std::thread::hardware_concurrency();
    ferolt::hooks::SetD3D9WorkerThreads(threads);
    for (auto _ : state)
    {
        CP3DReadCodec codec;
        bool ok = codec.Read(file.data(), file.size(), nullptr, nullptr, kAccepted);
        benchmark::DoNotOptimize(ok);
    }
    ferolt::hooks::SetD3D9WorkerThreads(0);
    state.counters["threads"] = threads;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}

void BM_ReadObjectFileStored(benchmark::State& state)
{
    ReadObjectFile(state, false);
}
BENCHMARK(BM_ReadObjectFileStored)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadObjectFileBzip2(benchmark::State& state)
{
    ReadObjectFile(state, true);
}
BENCHMARK(BM_ReadObjectFileBzip2)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The yardstick for the read above: libbz2 alone unpacking the same sections, one after another on
// one thread, into one buffer. Bytes processed are the file's, so the rates compare directly.
void BM_Bzip2SameStreamsOneThread(benchmark::State& state)
{
    const Bytes& file = FiftyMegabyteFile(true);
    size_t total = 0;
    for (const Bzip2Stream& s : g_streams)
        total += s.unpackedSize;
    Bytes out(total);
    for (auto _ : state)
    {
        size_t at = 0;
        for (const Bzip2Stream& s : g_streams)
        {
            unsigned int size = static_cast<unsigned int>(s.unpackedSize);
            const int result =
                BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data() + at), &size,
                                           const_cast<char*>(reinterpret_cast<const char*>(s.packed.data())),
                                           static_cast<unsigned int>(s.packed.size()), 0, 0);
            if (result != BZ_OK) state.SkipWithError("a section does not unpack");
            at += size;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_Bzip2SameStreamsOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// The other yardstick: the bzip2 command unpacking the same sections, written one after another into
// a file (it reads concatenated streams), with its output thrown away. The time includes starting
// the process, as opening a file in the viewer includes reading it.
void BM_Bzip2CommandSameStreams(benchmark::State& state)
{
    const Bytes& file = FiftyMegabyteFile(true);
    char path[] = "/tmp/bench_codec_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
    {
        state.SkipWithError("no temporary file");
        return;
    }
    bool written = true;
    for (const Bzip2Stream& s : g_streams)
        written =
            written && write(fd, s.packed.data(), s.packed.size()) == static_cast<ssize_t>(s.packed.size());
    close(fd);
    const std::string command = std::string("bzip2 -dc ") + path + " > /dev/null";
    for (auto _ : state)
        if (!written || std::system(command.c_str()) != 0) state.SkipWithError("bzip2 -dc fails");
    unlink(path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_Bzip2CommandSameStreams)->Unit(benchmark::kMillisecond)->UseRealTime();

// One million 16-bit fields through a byte-symbol prefix code with escapes.
void BM_ReadFieldPrefixCoded(benchmark::State& state)
{
    const PrefixCode code{
        8, 16, 0xFF, {{0x00, "0"}, {0x01, "100"}, {0x02, "101"}, {0x03, "110"}, {0xFF, "111"}}};
    BitWriter stream;
    uint32_t seed = 7;
    constexpr int kFields = 1000000;
    for (int i = 0; i < kFields; ++i)
    {
        seed = seed * 1664525u + 1013904223u;
        PutCodedField(stream, code, (seed >> 16) % 5 == 0 ? (seed & 0xFFFF) : ((seed >> 8) & 0x0303));
    }
    const Bytes block = PrefixTableBlock(code);
    LMK::HuffmanTable* table = nullptr;
    LMK::HuffmanTable::Create(block.data(), static_cast<DWORD>(block.size()), &table);
    for (auto _ : state)
    {
        LMK::BitReader reader;
        reader.Init(stream.Bytes().data(), stream.Bytes().size());
        DWORD value = 0, sum = 0;
        for (int i = 0; i < kFields && LMK::BitReader::ReadField(value, 16, table, reader); ++i)
            sum += value;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFields);
    LMK::HuffmanTable::Free(&table);
}
BENCHMARK(BM_ReadFieldPrefixCoded)->Unit(benchmark::kMillisecond);

void BM_ReadBits(benchmark::State& state)
{
    Bytes bytes(4 * 1024 * 1024);
    uint32_t seed = 3;
    for (uint8_t& b : bytes)
    {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    for (auto _ : state)
    {
        LMK::BitReader reader;
        reader.Init(bytes.data(), bytes.size());
        DWORD value = 0, sum = 0, n = 1;
        while (LMK::BitReader::ReadBits(value, n, reader))
        {
            sum += value;
            n = n % 17 + 1;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ReadBits)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
