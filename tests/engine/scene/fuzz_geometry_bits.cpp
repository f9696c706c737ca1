// Fuzzes the entropy tables and the bit reader: the input's first byte splits it into a table block
// and a bit stream, which is then read as fields through the table and as plain bit fields. Every
// field is also decoded bit by bit into memory, and the two must agree.
#include "engine/scene/bit_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const size_t split = 1 + (data[0] * (size - 1)) / 256;
    const BYTE* block = data + 1;
    const DWORD blockSize = static_cast<DWORD>(split - 1);
    const BYTE* stream = data + split;
    const size_t streamSize = size - split;

    LMK::HuffmanTable* table = nullptr;
    if (blockSize && SUCCEEDED(LMK::HuffmanTable::Create(block, blockSize, &table)))
    {
        LMK::BitReader reader;
        reader.Init(stream, streamSize);
        DWORD value = 0;
        DWORD n = 1;
        // A one-leaf tree decodes without consuming bits, so the reads are counted too.
        for (size_t reads = 0; reads <= streamSize * 8; ++reads)
        {
            const DWORD at = static_cast<DWORD>(streamSize * 8 - reader.BitsLeft());
            DWORD position = at, consumed = 0;
            BYTE field[4] = {};
            const bool generic = SUCCEEDED(LMK::HuffmanTable::DecodeField(
                table, field, 0, n, stream, static_cast<DWORD>(streamSize), &position, &consumed));
            if (!LMK::BitReader::ReadField(value, n, table, reader))
            {
                if (generic && at < streamSize * 8) std::abort();
                break;
            }
            DWORD expected = 0;
            std::memcpy(&expected, field, sizeof expected);
            if (!generic || value != expected || reader.lastCount != consumed) std::abort();
            n = n % 32 + 1;
            if (!LMK::BitReader::ReadBits(value, n % 5, reader)) break;
        }
        LMK::HuffmanTable::Free(&table);
    }
    LMK::BitReader reader;
    reader.Init(stream, streamSize);
    DWORD value = 0;
    for (DWORD n = 0; LMK::BitReader::ReadBits(value, n, reader); n = (n + 7) % 33)
    {
    }
    return 0;
}
