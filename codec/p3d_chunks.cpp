#include "codec/p3d_chunks.h"

#include "platform/bytes/byte_reader.h"

#include <cstring>

namespace
{

using ferolt::ByteCursor;

// `n` bytes at the cursor, as a pointer into the chunk (null for none).
[[nodiscard]] bool Take(ByteCursor& in, size_t n, const BYTE*& at)
{
    std::span<const uint8_t> bytes;
    if (!in.Take(n, &bytes)) return false;
    at = n ? bytes.data() : nullptr;
    return true;
}

// The rest of the chunk (null when nothing is left).
const BYTE* Rest(ByteCursor& in, size_t* length)
{
    *length = in.Remaining();
    const BYTE* at = nullptr;
    return Take(in, *length, at) ? at : nullptr;
}

// Without `keep` the records are only stepped over.
bool ReadRecords(ByteCursor& in, DWORD count, bool withLightGroup, size_t maxRecords, bool keep,
                 std::vector<P3DInstanceRecord>& out, bool& overBudget)
{
    const size_t stride = withLightGroup ? 76 : 72;
    if (count > in.Remaining() / stride) return false;
    if (count > maxRecords)
    {
        overBudget = true;
        return false;
    }
    if (!keep) return in.Skip(count * stride);
    out.reserve(count);
    for (DWORD i = 0; i < count; ++i)
    {
        P3DInstanceRecordFile file;
        P3DInstanceRecord record{};
        if (!in.Read(&file) || (withLightGroup && !in.U32(&record.lightGroup))) return false;
        std::memcpy(&record.matrix, file.matrix, sizeof record.matrix);
        record.materialSet = file.materialSet;
        record.outputIndex = file.outputIndex;
        out.push_back(record);
    }
    return true;
}

bool ParseModelChunk(DWORD type, const BYTE* data, size_t size, P3DModelChunk& out, size_t maxRecords,
                     bool keepRecords)
{
    out = {};
    ByteCursor in(data, size);
    DWORD modelSize = 0;
    DWORD count = 0;
    if (type == P3D_CHUNK_MODEL)
    {
        if (!in.U32(&modelSize) || !Take(in, modelSize, out.modelData) || !in.U32(&count) ||
            !ReadRecords(in, count, false, maxRecords, keepRecords, out.records, out.overBudget))
        {
            out = {nullptr, 0, {}, out.overBudget};
            return false;
        }
        out.modelSize = modelSize;
        return true;
    }
    if (type != P3D_CHUNK_MODEL_RECORDS_FIRST && type != P3D_CHUNK_MODEL_RECORD_SIZE) return false;
    DWORD recordSize = 72;
    if (!in.U32(&modelSize) || !in.U32(&count)) return false;
    if (type == P3D_CHUNK_MODEL_RECORD_SIZE && !in.U32(&recordSize)) return false;
    // The record size only says whether a light group follows; larger records are not supported.
    if (!ReadRecords(in, count, recordSize > 72, maxRecords, keepRecords, out.records, out.overBudget) ||
        !Take(in, modelSize, out.modelData))
    {
        out = {nullptr, 0, {}, out.overBudget};
        return false;
    }
    out.modelSize = modelSize;
    return true;
}

} // namespace

bool P3DParseModelChunk(DWORD type, const BYTE* data, size_t size, P3DModelChunk& out, size_t maxRecords)
{
    return ParseModelChunk(type, data, size, out, maxRecords, true);
}

bool P3DFindModelData(DWORD type, const BYTE* data, size_t size, const BYTE** modelData, size_t* modelSize)
{
    P3DModelChunk chunk;
    if (!ParseModelChunk(type, data, size, chunk, SIZE_MAX, false)) return false;
    *modelData = chunk.modelData;
    *modelSize = chunk.modelSize;
    return true;
}

bool P3DParseModelChunkItems(const BYTE* data, size_t size, std::vector<P3DModelChunkItem>& out)
{
    out.clear();
    ByteCursor in(data, size);
    while (in.Remaining() >= 12)
    {
        P3DModelChunkItem item{};
        if (!in.U32(&item.id) || !in.U32(&item.size) || !in.U32(&item.entryIndex) ||
            !Take(in, item.size, item.data))
            return false;
        out.push_back(item);
    }
    return true;
}

bool P3DParseLightItems(const BYTE* data, size_t size, std::vector<P3DLightItem>& out)
{
    out.clear();
    ByteCursor in(data, size);
    while (in.Remaining() > 0)
    {
        P3DLightItem item{};
        if (!in.U32(&item.lightPointIndex) || !in.U32(&item.size) || !Take(in, item.size, item.record))
            return false;
        out.push_back(item);
    }
    return true;
}

bool P3DParseAnimationChunk(const BYTE* data, size_t size, P3DAnimationChunk& out)
{
    out = {};
    ByteCursor in(data, size);
    if (!in.U32(&out.entryIndex)) return false;
    out.stream = Rest(in, &out.length);
    return true;
}

void P3DParseSpecialFlags(const BYTE* data, size_t size, std::vector<DWORD>& out)
{
    out.clear();
    ByteCursor in(data, size);
    out.reserve(in.Remaining() / 4);
    DWORD value = 0;
    while (in.U32(&value))
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
