#include "codec/p3d_read_codec.h"

#include "codec/p3d_chunks.h"
#include "codec/p3d_sections.h"
#include "platform/bytes/byte_reader.h"
#include "platform/win32/out_of_memory.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <crypto++/md5.h>

#include <cstring>
#include <memory>
#include <new>

namespace
{

// The signature is the MD5 digest of four zero bytes.
bool SignatureMatches(const BYTE* signature)
{
    static_assert(CryptoPP::Weak::MD5::DIGESTSIZE == 16);
    const BYTE zeros[4] = {};
    BYTE digest[CryptoPP::Weak::MD5::DIGESTSIZE];
    CryptoPP::Weak::MD5().CalculateDigest(digest, zeros, sizeof zeros);
    return std::memcmp(signature, digest, sizeof digest) == 0;
}

bool ContentTypeAccepted(const GUID& type, const GUID* const* acceptedTypes)
{
    if (!acceptedTypes) return false;
    for (const GUID* const* accepted = acceptedTypes; *accepted; ++accepted)
        if (**accepted == type) return true;
    return false;
}

bool HeaderAccepted(const P3DFileHeader& header, const GUID* const* acceptedTypes)
{
    return SignatureMatches(header.signature) && header.version == P3D_FORMAT_VERSION &&
           ContentTypeAccepted(header.contentType, acceptedTypes) && header.revision == P3D_FORMAT_REVISION;
}

} // namespace

class CP3DReadCodec::ChunkDispatcher final : public IP3DChunkHandler
{
public:
    explicit ChunkDispatcher(CP3DReadCodec& codec) : m_codec(codec) {}
    void BeforeHandOver(IP3DChunksAhead& ahead) override { m_codec.m_ahead = &ahead; }
    void OnChunk(DWORD type, const BYTE* data, size_t size) override { m_codec.OnChunk(type, data, size); }
    void OnSectionDropped(P3DSectionDrop reason) override
    {
        if (reason == P3DSectionDrop::OverBudget) m_codec.Refuse(P3DRefusal::UnpackedBytes);
    }
    bool Stopped() const override { return m_codec.m_refusal != P3DRefusal::None; }

private:
    CP3DReadCodec& m_codec;
};

CP3DReadCodec::CP3DReadCodec(IP3DBlobContainer** blobContainerHolder)
    : m_blobContainerHolder(blobContainerHolder)
{
}

CP3DReadCodec::~CP3DReadCodec()
{
    ReleaseAll();
}

void CP3DReadCodec::ReleaseAll()
{
    for (P3DChunkEntry& entry : m_chunkEntries)
        if (entry.model) ReleaseModel(entry.model);
    for (P3DMaterialSet& set : m_materialSets)
    {
        ReleaseMaterials(set.materials, set.slotCount);
        ReleaseMaterials(set.copies, set.copyCount);
    }
    for (auto& group : m_lightGroups)
        for (P3DLightSlot& slot : group)
            if (slot.light) ReleaseLight(slot.light);
    for (LMK::Texture_* texture : m_textures)
        if (texture) ReleaseTexture(texture);
    m_chunkEntries.clear();
    m_materialSets.clear();
    m_lightGroups.clear();
    m_textures.clear();
    m_specialFlags.clear();
    m_entryCounter = 0;
}

void CP3DReadCodec::Refuse(P3DRefusal reason)
{
    if (m_refusal == P3DRefusal::None) m_refusal = reason;
}

bool CP3DReadCodec::Spend(size_t& used, size_t count, size_t limit, P3DRefusal reason)
{
    if (count > limit - used)
    {
        Refuse(reason);
        return false;
    }
    used += count;
    return true;
}

bool CP3DReadCodec::IsReadable(const unsigned char* data, size_t size, DWORD* value1, DWORD* value2,
                               GUID* secondGuid, DWORD* value3, const GUID* const* acceptedTypes)
{
    if (value3) *value3 = 0;
    P3DFileHeader header;
    if (!data || !ferolt::ByteReader(data, size).Read(0, &header)) return false;
    if (!HeaderAccepted(header, acceptedTypes)) return false;
    if (value2) *value2 = header.value2;
    if (value1) *value1 = header.value1;
    if (secondGuid) *secondGuid = header.secondGuid;
    if (value3) *value3 = header.value3;
    return true;
}

bool CP3DReadCodec::MayBeReadable(const unsigned char* data, size_t size, DWORD* value1, DWORD* value2)
{
    if (!data || size < 40) return false;
    P3DFileHeader header{};
    std::memcpy(&header, data, size < sizeof header ? size : sizeof header);
    if (!SignatureMatches(header.signature) || header.version != P3D_FORMAT_VERSION ||
        header.revision != P3D_FORMAT_REVISION)
        return false;
    if (value2) *value2 = header.value2;
    if (value1) *value1 = header.value1;
    return true;
}

bool CP3DReadCodec::Read(const unsigned char* data, size_t size, DWORD* value1, DWORD* value2,
                         const GUID* const* acceptedTypes)
{
    if (!data || size < sizeof(P3DFileHeader)) return false;
    BlobStorageData file;
    if (!file.Append(data, size)) return false;
    file.Rewind();
    P3DFileHeader header;
    file.ReadHeader(header);
    if (!HeaderAccepted(header, acceptedTypes)) return false;
    if (value2) *value2 = header.value2;
    if (value1) *value1 = header.value1;

    m_refusal = P3DRefusal::None;
    const bool allocated = ferolt::Allocated(
        [&]
        {
            ChunkDispatcher dispatcher(*this);
            P3DWalkSections(file, dispatcher, P3DBudget::kUnpackedBytes);
        });
    ForgetDecodedBlocks();
    if (!allocated) Refuse(P3DRefusal::OutOfMemory);
    if (m_refusal == P3DRefusal::None) return true;
    // Nothing of a refused file is kept: no half-built scene comes of it.
    ReleaseAll();
    return false;
}

void CP3DReadCodec::OnChunk(DWORD type, const BYTE* data, size_t size)
{
    if (!Spend(m_counts.chunks, 1, P3DBudget::kChunks, P3DRefusal::Chunks)) return;
    switch (type)
    {
    case P3D_CHUNK_MODEL:
    case P3D_CHUNK_MODEL_RECORDS_FIRST:
    case P3D_CHUNK_MODEL_RECORD_SIZE:
        ReadModelChunk(type, data, size);
        break;
    case P3D_CHUNK_MATERIAL_PACK:
        ReadMaterialPack(data, size);
        break;
    case P3D_CHUNK_ANIMATION:
        ReadAnimation(data, size);
        break;
    case P3D_CHUNK_TEXTURE:
    case P3D_CHUNK_TEXTURE_FLAGS:
        ReadTexture(type, data, size);
        break;
    case P3D_CHUNK_MODEL_CHUNKS:
        ReadModelChunkItems(data, size);
        break;
    case P3D_CHUNK_LIGHTS:
        ReadLightGroup(data, size);
        break;
    case P3D_CHUNK_SPECIAL_FLAGS:
        P3DParseSpecialFlags(data, size, m_specialFlags);
        break;
    default: // type 10 and unknown types carry nothing for the reader
        break;
    }
}

P3DChunkEntry* CP3DReadCodec::EntryRow(DWORD index)
{
    if (index >= kMaxTableRows) return nullptr;
    if (m_chunkEntries.size() <= index) m_chunkEntries.resize(size_t{index} + 1);
    return &m_chunkEntries[index];
}

void CP3DReadCodec::ReadModelChunk(DWORD type, const BYTE* data, size_t size)
{
    P3DChunkEntry* row = nullptr;
    if (type == P3D_CHUNK_MODEL)
    {
        if (m_chunkEntries.size() >= kMaxTableRows) return Refuse(P3DRefusal::TableRows);
    }
    else
    {
        // Types 5 and 8 fill rows in order; a damaged chunk still uses up its row so that the
        // rows named by later chunks stay where the file put them.
        row = EntryRow(m_entryCounter++);
        if (!row) return Refuse(P3DRefusal::TableRows);
    }

    P3DModelChunk chunk;
    const size_t recordsLeft = P3DBudget::kInstanceRecords - m_counts.records;
    if (!P3DParseModelChunk(type, data, size, chunk, recordsLeft))
    {
        // Refused before the records were allocated.
        if (chunk.overBudget) Refuse(P3DRefusal::InstanceRecords);
        return;
    }
    if (!Spend(m_counts.records, chunk.records.size(), P3DBudget::kInstanceRecords,
               P3DRefusal::InstanceRecords) ||
        (chunk.modelSize && !Spend(m_counts.models, 1, P3DBudget::kModels, P3DRefusal::Models)))
        return;
    if (type == P3D_CHUNK_MODEL)
    {
        m_chunkEntries.push_back({nullptr, std::move(chunk.records), {}});
        row = &m_chunkEntries.back();
    }
    else
        row->records.insert(row->records.end(), chunk.records.begin(), chunk.records.end());
    // A row filled twice keeps the later model; the earlier one is released, not leaked.
    if (row->model) ReleaseModel(row->model);
    row->model = nullptr;
    row->model = CreateModel(chunk.modelData, chunk.modelSize);
}

void CP3DReadCodec::ReadModelChunkItems(const BYTE* data, size_t size)
{
    std::vector<P3DModelChunkItem> items;
    P3DParseModelChunkItems(data, size, items);
    if (!Spend(m_counts.modelChunks, items.size(), P3DBudget::kModelChunks, P3DRefusal::ModelChunks)) return;
    for (const P3DModelChunkItem& item : items)
    {
        // An index past every row a file may have names nothing: the item alone is dropped.
        P3DChunkEntry* row = EntryRow(item.entryIndex);
        if (!row) continue;
        row->chunks.reserve(row->chunks.size() + 1);
        std::unique_ptr<BYTE[]> block;
        if (item.size)
        {
            block.reset(new BYTE[item.size]);
            std::memcpy(block.get(), item.data, item.size);
        }
        row->chunks.push_back({item.id, std::move(block), item.size});
    }
}

void CP3DReadCodec::ReadLightGroup(const BYTE* data, size_t size)
{
    if (m_lightGroups.size() >= kMaxTableRows) return Refuse(P3DRefusal::TableRows);
    std::vector<P3DLightItem> items;
    P3DParseLightItems(data, size, items);
    if (!Spend(m_counts.lights, items.size(), P3DBudget::kLights, P3DRefusal::Lights)) return;
    // The group is in the table before its lights are made, so that none is lost to a failed allocation.
    std::vector<P3DLightSlot>& group = m_lightGroups.emplace_back();
    group.reserve(items.size());
    for (const P3DLightItem& item : items)
        group.push_back({CreateLight(item.record, item.size), item.lightPointIndex});
}

void CP3DReadCodec::ReadMaterialPack(const BYTE* data, size_t size)
{
    // Every chunk of this type makes a set, so the 1-based set numbers of the records stay right.
    if (m_materialSets.size() >= kMaxTableRows) return Refuse(P3DRefusal::TableRows);
    P3DMaterialSet set;
    if (size) set.pack.assign(data, data + size);
    ReadMaterialNames(set);
    m_materialSets.push_back(std::move(set));
}

void CP3DReadCodec::ReadAnimation(const BYTE* data, size_t size)
{
    P3DAnimationChunk chunk;
    if (!P3DParseAnimationChunk(data, size, chunk)) return;
    P3DChunkEntry* entry =
        chunk.entryIndex < m_chunkEntries.size() ? &m_chunkEntries[chunk.entryIndex] : nullptr;
    CreateAndAttachAnimation(entry, chunk.stream, chunk.length);
}

void CP3DReadCodec::ReadTexture(DWORD type, const BYTE* data, size_t size)
{
    BlobStorageData chunk;
    if (size) chunk.Append(data, size);
    chunk.Rewind();
    LMK::Texture_* texture = nullptr;
    m_textures.reserve(m_textures.size() + 1);
    if (DecodeTextureChunk(type == P3D_CHUNK_TEXTURE, chunk, size, texture) && texture)
        m_textures.push_back(texture);
}
