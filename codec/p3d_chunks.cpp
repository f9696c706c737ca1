#include "codec/p3d_chunks.h"

#include "platform/bytes/byte_reader.h"

#include <cstring>

namespace
{

// A bounds-checked view of one chunk.
class ChunkCursor
{
public:
    ChunkCursor(const BYTE* data, size_t size) : m_data(data), m_size(data ? size : 0) {}

    size_t Remaining() const { return m_size - m_position; }
    const BYTE* Current() const { return m_data ? m_data + m_position : nullptr; }

    bool U32(DWORD& value)
    {
        if (Remaining() < 4) return false;
        std::memcpy(&value, m_data + m_position, 4);
        m_position += 4;
        return true;
    }
    bool Take(size_t n, const BYTE*& at)
    {
        if (n > Remaining()) return false;
        at = Current();
        m_position += n;
        return true;
    }

private:
    const BYTE* m_data;
    size_t m_size;
    size_t m_position = 0;
};

bool ReadRecords(ChunkCursor& in, DWORD count, bool withLightGroup, size_t maxRecords,
                 std::vector<P3DInstanceRecord>& out, bool& overBudget)
{
    const size_t stride = withLightGroup ? 76 : 72;
    if (count > in.Remaining() / stride) return false;
    if (count > maxRecords)
    {
        overBudget = true;
        return false;
    }
    out.reserve(count);
    for (DWORD i = 0; i < count; ++i)
    {
        const BYTE* at = nullptr;
        in.Take(stride, at);
        P3DInstanceRecordFile file;
        std::memcpy(&file, at, sizeof file);
        P3DInstanceRecord record{};
        std::memcpy(&record.matrix, file.matrix, sizeof record.matrix);
        record.materialSet = file.materialSet;
        record.outputIndex = file.outputIndex;
        if (withLightGroup) std::memcpy(&record.lightGroup, at + sizeof file, 4);
        out.push_back(record);
    }
    return true;
}

} // namespace

bool P3DParseModelChunk(DWORD type, const BYTE* data, size_t size, P3DModelChunk& out, size_t maxRecords)
{
    out = {};
    ChunkCursor in(data, size);
    DWORD modelSize = 0;
    DWORD count = 0;
    if (type == P3D_CHUNK_MODEL)
    {
        if (!in.U32(modelSize) || !in.Take(modelSize, out.modelData) || !in.U32(count) ||
            !ReadRecords(in, count, false, maxRecords, out.records, out.overBudget))
        {
            out = {.overBudget = out.overBudget};
            return false;
        }
        out.modelSize = modelSize;
        return true;
    }
    if (type != P3D_CHUNK_MODEL_RECORDS_FIRST && type != P3D_CHUNK_MODEL_RECORD_SIZE) return false;
    DWORD recordSize = 72;
    if (!in.U32(modelSize) || !in.U32(count)) return false;
    if (type == P3D_CHUNK_MODEL_RECORD_SIZE && !in.U32(recordSize)) return false;
    // The record size only says whether a light group follows; larger records are not supported.
    if (!ReadRecords(in, count, recordSize > 72, maxRecords, out.records, out.overBudget) ||
        !in.Take(modelSize, out.modelData))
    {
        out = {.overBudget = out.overBudget};
        return false;
    }
    out.modelSize = modelSize;
    return true;
}

bool P3DParseModelChunkItems(const BYTE* data, size_t size, std::vector<P3DModelChunkItem>& out)
{
    out.clear();
    ChunkCursor in(data, size);
    while (in.Remaining() >= 12)
    {
        P3DModelChunkItem item{};
        in.U32(item.id);
        in.U32(item.size);
        in.U32(item.entryIndex);
        if (!in.Take(item.size, item.data)) return false;
        out.push_back(item);
    }
    return true;
}

bool P3DParseLightItems(const BYTE* data, size_t size, std::vector<P3DLightItem>& out)
{
    out.clear();
    ChunkCursor in(data, size);
    while (in.Remaining() > 0)
    {
        P3DLightItem item{};
        if (!in.U32(item.lightPointIndex) || !in.U32(item.size) || !in.Take(item.size, item.record))
            return false;
        out.push_back(item);
    }
    return true;
}

bool P3DParseAnimationChunk(const BYTE* data, size_t size, P3DAnimationChunk& out)
{
    out = {};
    ChunkCursor in(data, size);
    if (!in.U32(out.entryIndex)) return false;
    out.length = in.Remaining();
    out.stream = out.length ? in.Current() : nullptr;
    return true;
}

void P3DParseSpecialFlags(const BYTE* data, size_t size, std::vector<DWORD>& out)
{
    out.clear();
    ChunkCursor in(data, size);
    out.reserve(in.Remaining() / 4);
    DWORD value = 0;
    while (in.U32(value))
        out.push_back(value);
}

bool P3DParseTextureChunk(bool withoutFlags, const BYTE* data, size_t size, P3DTextureChunk& out)
{
    out = {};
    ferolt::ByteCursor in(data, size);
    uint32_t flags = 0, nameLength = 0;
    ferolt::ByteReader name;
    std::string_view text;
    // The name ends with a zero inside its declared length; a name without one is damaged.
    if ((!withoutFlags && !in.U32(&flags)) || !in.U32(&nameLength) || !in.Take(nameLength, &name) ||
        !name.CString(0, name.Size(), &text))
    {
        out = {};
        return false;
    }
    out.flags = flags;
    out.name.assign(text);
    out.imageSize = in.Remaining();
    std::span<const uint8_t> image;
    if (out.imageSize && in.Take(out.imageSize, &image)) out.image = image.data();
    return true;
}
