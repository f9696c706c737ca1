#pragma once
// Writers for bit streams and entropy table blocks of the compressed geometry, built from first
// principles (not from the reader's code) so that tests state every bit they feed the reader.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ferolt::test
{

// Bits go into each byte from bit 0 up; a value is written least significant bit first.
class BitWriter
{
public:
    void Put(uint64_t value, unsigned n);
    // A code written bit by bit in reading order, e.g. "110" puts 1, 1, 0.
    void PutCode(const std::string& bits);
    void PadToByte();
    size_t BitCount() const { return m_bits; }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_bits = 0;
};

// "LKHN" block: magic and raw width.
std::vector<uint8_t> UncodedTableBlock(uint16_t rawWidth);

// A prefix code given as symbol -> code bits in reading order ("0", "10", "11"). The escape symbol
// must have a code of its own; symbols without one are written as the escape plus a literal.
struct PrefixCode
{
    uint8_t symbolWidth = 8;
    uint16_t codedLength = 8;
    uint32_t escape = 0;
    std::vector<std::pair<uint32_t, std::string>> codes;
};

// Pre-order tree bits of the code: 1 for an inner node (0-child first), 0 + symbol for a leaf.
BitWriter PrefixTreeBits(const PrefixCode& code, uint32_t* nodeCount = nullptr);

// "LKHF" block for the code; the node count and version may be overridden to build hostile blocks.
std::vector<uint8_t> PrefixTableBlock(const PrefixCode& code,
                                      std::optional<uint32_t> nodeCount = std::nullopt, uint8_t version = 1);

// "LKHF" block around arbitrary tree bits.
std::vector<uint8_t> PrefixTableBlockRaw(uint8_t version, uint8_t symbolWidth, uint16_t codedLength,
                                         uint32_t nodeCount, uint32_t escape, const BitWriter& tree);

// Writes a field of codedLength bits as its w-bit symbols, least significant symbol first.
void PutCodedField(BitWriter& out, const PrefixCode& code, uint64_t value);

} // namespace ferolt::test
