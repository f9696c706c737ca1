#pragma once
// The object file codec that other programs use: the reader, which recognises a file by its header,
// reads its sections into tables and turns them into engine objects, and the data holders of the
// writing, preview and statistics sides, which this program never fills.
#include "codec/blob_storage_data.h"
#include "codec/codec_export.h"
#include "codec/p3d_budget.h"
#include "codec/p3d_file_format.h"
#include "platform/win32/windef.h"

#include <cstddef>
#include <map>
#include <memory>
#include <vector>

class IP3DChunksAhead;
struct IP3DBlobContainer;
struct k3dCompressionInfo;
namespace Gdiplus
{
class Bitmap;
}
namespace LMK
{
class Object_;
}

class FEROLT_CODEC_API CP3DCodec
{
public:
    CP3DCodec() = default;
    CP3DCodec(const CP3DCodec&) = default;
    CP3DCodec& operator=(const CP3DCodec&) = default;
    ~CP3DCodec() = default;

protected:
    std::vector<P3DChunkEntry> m_chunkEntries;
};

class FEROLT_CODEC_API CP3DReadCodec : public CP3DCodec
{
public:
    // Rows of each table (chunk entries, material sets, light groups) that a file may fill.
    static constexpr size_t kMaxTableRows = P3DBudget::kTableRows;
    // Largest output index that scene assembly honours. The index sizes the caller's object list, so
    // one stray value would otherwise ask for billions of slots; a record beyond it makes no object.
    static constexpr DWORD kMaxOutputIndex = 0xFFFFF;

    explicit CP3DReadCodec(IP3DBlobContainer** blobContainerHolder = nullptr);
    // The codec holds the only reference to what it created; a copy would release it twice.
    CP3DReadCodec(const CP3DReadCodec&) = delete;
    CP3DReadCodec& operator=(const CP3DReadCodec&) = delete;
    virtual ~CP3DReadCodec();

    virtual bool MaterialsMayHaveChanged() const { return false; }
    virtual void ClearMatChanges() {}
    virtual void SetMatChanges() {}

    // Full header check: size, signature, version, content type among acceptedTypes (ended by a
    // null pointer), revision. value3 is set to 0 before any check. Outputs may be null.
    bool IsReadable(const unsigned char* data, size_t size, DWORD* value1, DWORD* value2, GUID* secondGuid,
                    DWORD* value3, const GUID* const* acceptedTypes);
    // Recognises a file from a prefix of 40 bytes or more; the content type is not checked.
    bool MayBeReadable(const unsigned char* data, size_t size, DWORD* value1, DWORD* value2);
    // Reads every section into the tables, adding to what earlier calls read. Damaged sections and
    // chunks are dropped. False for a header that is not accepted, and for a file over one of the
    // budgets (P3DBudget) or one that memory does not suffice for: the codec then holds nothing
    // and Refusal() says why. The data stays the caller's.
    bool Read(const unsigned char* data, size_t size, DWORD* value1, DWORD* value2,
              const GUID* const* acceptedTypes);

    // Hands model chunks to their models, then makes one object per instance record at the record's
    // output index (the list is resized to the largest index + 1; empty slots are null), with the
    // materials of its material set (private copies when cloneMaterials is set) and the lights of its
    // light group. The objects go to the caller with their only reference. Always true.
    bool GetObjects(std::vector<LMK::Object_*>& objects, bool cloneMaterials);
    // The first light group that no instance record uses, each light with a reference for the
    // caller. False when there is none or it is empty.
    bool GetLights(std::vector<LMK::Light_*>& lights);
    // Takes the first model chunk of the first entry that has a model and chunks: the model (no
    // reference added), the chunk's id, size and data. The caller owns the data (free it with
    // delete[] as a BYTE array).
    bool GetChunk(LMK::Model_*& model, DWORD& type, DWORD& size, void*& data);
    bool HasChunks() const;
    // The special flags, null when the file has none; count receives how many there are. The
    // pointer stays valid while the codec lives and no further Read replaces the flags.
    const DWORD* GetQELSOSpecialFlags(DWORD* count = nullptr) const;
    // Why the last Read refused its file; None when it did not.
    P3DRefusal Refusal() const { return m_refusal; }

protected:
    bool DecodeTextureChunk(bool withoutFlags, BlobStorageData& chunk, size_t size, LMK::Texture_*& texture);

    std::vector<P3DMaterialSet> m_materialSets;
    std::vector<std::vector<P3DLightSlot>> m_lightGroups;
    std::vector<LMK::Texture_*> m_textures;
    DWORD m_entryCounter = 0;
    IP3DBlobContainer** m_blobContainerHolder = nullptr;
    std::vector<DWORD> m_specialFlags;

private:
    // What the file has made so far, against P3DBudget.
    struct Counts
    {
        size_t chunks = 0, models = 0, records = 0, lights = 0, modelChunks = 0, vertices = 0, faces = 0;
    };
    Counts m_counts;
    P3DRefusal m_refusal = P3DRefusal::None;
    // Notes the first reason; reading stops at the next chunk.
    void Refuse(P3DRefusal reason);
    // False, after refusing, when `count` more would take `used` over `limit`.
    bool Spend(size_t& used, size_t count, size_t limit, P3DRefusal reason);
    void ReleaseAll();

    class ChunkDispatcher;
    void OnChunk(DWORD type, const BYTE* data, size_t size);
    void ReadModelChunk(DWORD type, const BYTE* data, size_t size);
    void ReadModelChunkItems(const BYTE* data, size_t size);
    void ReadLightGroup(const BYTE* data, size_t size);
    void ReadMaterialPack(const BYTE* data, size_t size);
    void ReadAnimation(const BYTE* data, size_t size);
    void ReadTexture(DWORD type, const BYTE* data, size_t size);
    P3DChunkEntry* EntryRow(DWORD index);
    void HandChunksToModel(P3DChunkEntry& entry);
    void ApplyMaterialSet(LMK::Object_* object, LMK::Model_* model, P3DMaterialSet& set, bool cloneMaterials);

    // Geometry blocks decoded ahead of their chunks, in file order, and the walk's chunks still to come
    // (p3d_read_codec_engine.cpp).
    struct DecodedBlocks;
    struct DecodedBlocksDeleter
    {
        void operator()(DecodedBlocks* blocks) const;
    };
    std::unique_ptr<DecodedBlocks, DecodedBlocksDeleter> m_decoded;
    IP3DChunksAhead* m_ahead = nullptr;
    void ForgetDecodedBlocks();
    void DecodeBlocksFrom(const BYTE* data, size_t size);

    // Engine calls, kept in one file so that the engine side plugs in there.
    // The model of a geometry block; null, after refusing the file, when the block decodes past the
    // budget of vertices or faces: that is known before any of its meshes is made.
    LMK::Model_* CreateModel(const BYTE* data, size_t size);
    void ReleaseModel(LMK::Model_* model);
    void CreateAndAttachAnimation(P3DChunkEntry* entry, const BYTE* stream, size_t length);
    void ReadMaterialNames(P3DMaterialSet& set);
    LMK::Light_* CreateLight(const BYTE* record, size_t size);
    void ReleaseLight(LMK::Light_* light);
    void ReleaseTexture(LMK::Texture_* texture);
    bool LoadMaterialPack(P3DMaterialSet& set);
    void MakeMaterialCopies(P3DMaterialSet& set);
    static void ReleaseMaterials(LMK::Material_**& array, DWORD count);
    void AddRefLight(LMK::Light_* light);
};

// The writing side exists as a data holder only: this program writes no object files.
class FEROLT_CODEC_API CP3DWriteCodec : public CP3DCodec
{
public:
    using ProgressCallback = bool(__stdcall*)(float done);

    explicit CP3DWriteCodec(ProgressCallback progress) : m_progress(progress) {}
    CP3DWriteCodec(const CP3DWriteCodec&) = default;
    CP3DWriteCodec& operator=(const CP3DWriteCodec&) = default;

protected:
    std::vector<std::vector<BYTE>> m_materialPacks;
    std::vector<std::vector<BYTE>> m_lightRecords;
    std::vector<std::vector<BYTE>> m_textureChunks;
    ProgressCallback m_progress = nullptr;
    std::map<CString, DWORD> m_textureNames;
};

// Holds a preview image for programs that show one; nothing here sets or deletes it.
class FEROLT_CODEC_API CP3DPreviewCodec : public CP3DCodec
{
public:
    CP3DPreviewCodec() = default;
    CP3DPreviewCodec(const CP3DPreviewCodec&) = default;
    CP3DPreviewCodec& operator=(const CP3DPreviewCodec&) = default;
    ~CP3DPreviewCodec() = default;

    Gdiplus::Bitmap* GetPreview() const { return m_preview; }

protected:
    Gdiplus::Bitmap* m_preview = nullptr;
};

// Carries a caller's compression figures; the codec never reads them.
class FEROLT_CODEC_API CP3DStatisticsCodec : public CP3DCodec
{
public:
    explicit CP3DStatisticsCodec(k3dCompressionInfo* info) : m_info(info) {}
    CP3DStatisticsCodec(const CP3DStatisticsCodec&) = default;
    CP3DStatisticsCodec& operator=(const CP3DStatisticsCodec&) = default;
    ~CP3DStatisticsCodec() = default;

protected:
    k3dCompressionInfo* m_info = nullptr;
};
