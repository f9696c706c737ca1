#include "engine/scene/model_formats.h"

#include <zlib.h>

#include <cstring>

#include "platform/bytes/byte_reader.h"

namespace LMK
{
namespace
{
bool MagicAt0(const void* data, DWORD size, DWORD minimum, DWORD magic)
{
    const ferolt::ByteReader file(data, size);
    DWORD value = 0;
    return size >= minimum && file.U32(0, &value) && value == magic;
}
} // namespace

bool IsLK3DContainer(const void* data, DWORD size)
{
    return MagicAt0(data, size, kModelFileHeaderSize, kLK3DMagic);
}

bool IsK3DDContainer(const void* data, DWORD size)
{
    return MagicAt0(data, size, kModelFileHeaderSize, kK3DDMagic) ||
           MagicAt0(data, size, kModelFileHeaderSize, kK3dDMagic);
}

bool IsXFile(const void* data, DWORD size)
{
    std::span<const uint8_t> head;
    return ferolt::ByteReader(data, size).Bytes(0, 4, &head) && std::memcmp(head.data(), "xof ", 4) == 0;
}

bool Is3DSFile(const void* data, DWORD size)
{
    const ferolt::ByteReader file(data, size);
    uint16_t chunk = 0;
    DWORD length = 0;
    return size >= 6 && file.U16(0, &chunk) && (chunk == 0x4D4D || chunk == 0xC23D) && file.U32(2, &length) &&
           length <= size;
}

bool IsV7QContainer(DWORD size, const void* data)
{
    const ferolt::ByteReader file(data, size);
    DWORD magic = 0, second = 1, bodyOffset = 0, method = 0;
    if (!file.U32(0, &magic) || magic != kV7QMagic || !file.U32(4, &second) || second != 0 ||
        !file.U32(8, &bodyOffset) || !file.U32(12, &method))
        return false;
    ferolt::ByteReader body;
    if (!file.Tail(bodyOffset, &body)) return false;
    uint8_t head[40] = {};
    if (method == 0)
    {
        std::span<const uint8_t> stored;
        if (!body.Bytes(0, sizeof(head), &stored)) return false;
        std::memcpy(head, stored.data(), sizeof(head));
    }
    else if (method == 1)
    {
        z_stream z{};
        if (inflateInit(&z) != Z_OK) return false;
        z.next_in = const_cast<Bytef*>(body.All().data());
        z.avail_in = static_cast<uInt>(body.Size());
        z.next_out = head;
        z.avail_out = sizeof(head);
        const int result = inflate(&z, Z_SYNC_FLUSH);
        inflateEnd(&z);
        if (result != Z_OK) return false;
    }
    else
        return false;
    const ferolt::ByteReader stream(head, sizeof(head));
    DWORD streamMagic = 0, third = 0;
    return stream.U32(0, &streamMagic) && streamMagic == 0x31513756 && stream.U32(8, &third) && third == 1;
}

bool IsModelBlob(const void* data, DWORD size)
{
    std::span<const uint8_t> tag;
    if (size < 256 || !ferolt::ByteReader(data, size).Bytes(1, 8, &tag)) return false;
    for (const char* known : {"ACO V1.0", "ACO V1.1", "LMO V1.0", "LMO V1.1"})
        if (std::memcmp(tag.data(), known, 8) == 0) return true;
    return false;
}

bool IsPackedModelContainer(const void* data, DWORD size)
{
    const ferolt::ByteReader file(data, size);
    DWORD second = 1;
    return MagicAt0(data, size, 48, kPackedModelMagic) && file.U32(4, &second) && second == 0;
}
} // namespace LMK
