#pragma once
// The object file reader that other programs use: recognises a file by its header and reads its
// sections into tables that scene assembly later turns into objects.
#include "codec/blob_storage_data.h"
#include "codec/codec_export.h"
#include "codec/p3d_file_format.h"
#include "platform/win32/windef.h"

#include <cstddef>
#include <vector>

struct IP3DBlobContainer;

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
    // Rows of each table (chunk entries, material sets, light groups) that a file may fill. Real
    // files hold one row per model, pack or group; the bound keeps an index from the file, or a
    // flood of tiny chunks, from growing a table without limit.
    static constexpr size_t kMaxTableRows = 65536;

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
    // Reads every section into the tables, adding to what earlier calls read. Only the header
    // decides the result; damaged sections and chunks are dropped. The data stays the caller's.
    bool Read(const unsigned char* data, size_t size, DWORD* value1, DWORD* value2,
              const GUID* const* acceptedTypes);

protected:
    bool DecodeTextureChunk(bool withoutFlags, BlobStorageData& chunk, size_t size, LMK::Texture_*& texture);

    std::vector<P3DMaterialSet> m_materialSets;
    std::vector<std::vector<P3DLightSlot>> m_lightGroups;
    std::vector<LMK::Texture_*> m_textures;
    DWORD m_entryCounter = 0;
    IP3DBlobContainer** m_blobContainerHolder = nullptr;
    std::vector<DWORD> m_specialFlags;

private:
    class ChunkDispatcher;
    void OnChunk(DWORD type, const BYTE* data, size_t size);
    void ReadModelChunk(DWORD type, const BYTE* data, size_t size);
    void ReadModelChunkItems(const BYTE* data, size_t size);
    void ReadLightGroup(const BYTE* data, size_t size);
    void ReadMaterialPack(const BYTE* data, size_t size);
    void ReadAnimation(const BYTE* data, size_t size);
    void ReadTexture(DWORD type, const BYTE* data, size_t size);
    P3DChunkEntry* EntryRow(DWORD index);

    // Engine calls, kept in one file so that the engine side plugs in there.
    LMK::Model_* CreateModel(const BYTE* data, size_t size);
    void ReleaseModel(LMK::Model_* model);
    void CreateAndAttachAnimation(P3DChunkEntry* entry, const BYTE* stream, size_t length);
    void ReadMaterialNames(P3DMaterialSet& set);
    LMK::Light_* CreateLight(const BYTE* record, size_t size);
    void ReleaseLight(LMK::Light_* light);
    void ReleaseTexture(LMK::Texture_* texture);
};
