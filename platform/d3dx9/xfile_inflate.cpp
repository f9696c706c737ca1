// The compressed X file body: MSZIP blocks, each a raw deflate stream that may refer back into the
// previous block's output.
#include <zlib.h>

#include <algorithm>

#include "platform/d3dx9/d3dx9mesh.h"
#include "platform/d3dx9/xfile_lexer.h"

namespace ferolt::d3dx9::xfile
{
namespace
{
constexpr size_t kWindow = 32768;

class Inflater
{
public:
    Inflater() { ok_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK; }
    ~Inflater()
    {
        if (ok_) inflateEnd(&z_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // One block into out[at, at + size), the bytes before `at` serving as its dictionary.
    bool Block(std::span<const uint8_t> packed, std::vector<uint8_t>* out, size_t at, size_t size)
    {
        if (!ok_ || inflateReset(&z_) != Z_OK) return false;
        if (at > 0)
        {
            const size_t dictionary = std::min(at, kWindow);
            if (inflateSetDictionary(&z_, out->data() + at - dictionary, static_cast<uInt>(dictionary)) !=
                Z_OK)
                return false;
        }
        z_.next_in = const_cast<Bytef*>(packed.data());
        z_.avail_in = static_cast<uInt>(packed.size());
        z_.next_out = out->data() + at;
        z_.avail_out = static_cast<uInt>(size);
        const int result = inflate(&z_, Z_SYNC_FLUSH);
        // A block need not end its deflate stream; it must fill exactly its declared size.
        return (result == Z_STREAM_END || result == Z_OK || result == Z_BUF_ERROR) && z_.avail_out == 0;
    }

private:
    z_stream z_{};
    bool ok_ = false;
};
} // namespace

HRESULT InflateBody(const ByteReader& body, std::vector<uint8_t>* out)
{
    ByteCursor cursor(body);
    uint32_t total = 0;
    if (!cursor.U32(&total)) return D3DXERR_INVALIDDATA;
    // The total is meant to count the header in front of the body; a total without it is taken too.
    if (total > kMaxInflatedBytes) return D3DXERR_INVALIDDATA;
    const size_t expected = total;
    out->clear();
    Inflater inflater;
    while (!cursor.AtEnd())
    {
        uint16_t unpacked = 0, packedSize = 0;
        std::span<const uint8_t> packed;
        if (!cursor.U16(&unpacked) || !cursor.U16(&packedSize) || packedSize < 2 ||
            !cursor.Take(packedSize, &packed))
            return D3DXERR_INVALIDDATA;
        if (packed[0] != 'C' || packed[1] != 'K') return D3DXERR_INVALIDDATA;
        const size_t at = out->size();
        if (unpacked > expected - at) return D3DXERR_INVALIDDATA;
        out->resize(at + unpacked);
        if (!inflater.Block(packed.subspan(2), out, at, unpacked)) return D3DXERR_INVALIDDATA;
    }
    const bool whole = out->size() + kHeaderSize == expected || (out->size() == expected && expected > 0);
    return whole ? S_OK : D3DXERR_INVALIDDATA;
}
} // namespace ferolt::d3dx9::xfile
