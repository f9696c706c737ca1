#include "tests/support/geometry_bits_writer.h"

#include <map>
#include <memory>
#include <stdexcept>

namespace ferolt::test
{

void BitWriter::Put(uint64_t value, unsigned n)
{
    for (unsigned i = 0; i < n; ++i)
    {
        if (m_bits % 8 == 0) m_bytes.push_back(0);
        if ((value >> i) & 1u) m_bytes.back() |= static_cast<uint8_t>(1u << (m_bits % 8));
        ++m_bits;
    }
}

void BitWriter::PutCode(const std::string& bits)
{
    for (char c : bits)
        Put(c == '1' ? 1 : 0, 1);
}

void BitWriter::PadToByte()
{
    m_bits = m_bytes.size() * 8;
}

namespace
{

void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

struct Trie
{
    std::unique_ptr<Trie> child[2];
    bool leaf = false;
    uint32_t symbol = 0;
};

void Emit(const Trie& node, unsigned width, BitWriter& out, uint32_t& count)
{
    ++count;
    if (node.leaf)
    {
        out.Put(0, 1);
        out.Put(node.symbol, width);
        return;
    }
    if (!node.child[0] || !node.child[1]) throw std::invalid_argument("prefix code is not complete");
    out.Put(1, 1);
    Emit(*node.child[0], width, out, count);
    Emit(*node.child[1], width, out, count);
}

} // namespace

BitWriter PrefixTreeBits(const PrefixCode& code, uint32_t* nodeCount)
{
    Trie root;
    for (const auto& [symbol, bits] : code.codes)
    {
        Trie* node = &root;
        for (char c : bits)
        {
            auto& next = node->child[c == '1' ? 1 : 0];
            if (!next) next = std::make_unique<Trie>();
            node = next.get();
        }
        node->leaf = true;
        node->symbol = symbol;
    }
    BitWriter out;
    uint32_t count = 0;
    Emit(root, code.symbolWidth, out, count);
    if (nodeCount) *nodeCount = count;
    return out;
}

std::vector<uint8_t> UncodedTableBlock(uint16_t rawWidth)
{
    std::vector<uint8_t> out = {'L', 'K', 'H', 'N'};
    PutLe(out, rawWidth, 2);
    return out;
}

std::vector<uint8_t> PrefixTableBlockRaw(uint8_t version, uint8_t symbolWidth, uint16_t codedLength,
                                         uint32_t nodeCount, uint32_t escape, const BitWriter& tree)
{
    std::vector<uint8_t> out = {'L', 'K', 'H', 'F', version, symbolWidth};
    PutLe(out, codedLength, 2);
    PutLe(out, nodeCount, 4);
    PutLe(out, escape, 4);
    out.insert(out.end(), tree.Bytes().begin(), tree.Bytes().end());
    return out;
}

std::vector<uint8_t> PrefixTableBlock(const PrefixCode& code, std::optional<uint32_t> nodeCount,
                                      uint8_t version)
{
    uint32_t count = 0;
    const BitWriter tree = PrefixTreeBits(code, &count);
    return PrefixTableBlockRaw(version, code.symbolWidth, code.codedLength, nodeCount.value_or(count),
                               code.escape, tree);
}

void PutCodedField(BitWriter& out, const PrefixCode& code, uint64_t value)
{
    std::map<uint32_t, std::string> codes(code.codes.begin(), code.codes.end());
    const unsigned w = code.symbolWidth;
    for (unsigned written = 0; written < code.codedLength; written += w)
    {
        const unsigned carried = written + w > code.codedLength ? code.codedLength - written : w;
        const uint64_t shifted = written < 64 ? value >> written : 0;
        const uint32_t symbol = static_cast<uint32_t>(shifted & ((uint64_t{1} << carried) - 1));
        auto it = codes.find(symbol);
        if (it != codes.end() && symbol != code.escape)
        {
            out.PutCode(it->second);
            continue;
        }
        out.PutCode(codes.at(code.escape));
        out.Put(symbol, w);
    }
}

} // namespace ferolt::test
