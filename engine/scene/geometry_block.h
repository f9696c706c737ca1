#pragma once
// The compressed geometry block ("LKGY", "LKGX", "LKGE"): a header, optional light points and a list
// of compressed meshes. Each mesh is a bit stream of triangle strips whose vertex attributes are
// quantised against per-group bounds, mostly predicted from the previous vertices of the strip, with
// recently used vertices referenced through a small ring and whole strips repeated under a rigid
// transform. The decoder yields plain arrays; model building turns them into mesh parts.
#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "engine/scene/bit_reader.h"
#include "platform/bytes/byte_reader.h"
#include "engine/scene/model.h"
#include "platform/win32/crt.h"
#include "platform/win32/windef.h"
#include "platform/win32/winerror.h"

namespace LMK
{

constexpr DWORD kMeshListMagicY = 0x59474B4Cu; // "LKGY"
constexpr DWORD kMeshListMagicX = 0x58474B4Cu; // "LKGX"
constexpr DWORD kMeshListMagicE = 0x45474B4Cu; // "LKGE"
constexpr DWORD kMeshListHeaderSizeY = 64;
constexpr DWORD kMeshListHeaderSizeX = 20;
constexpr DWORD kMeshListHeaderSizeE = 12;
constexpr DWORD kLightPointRecordSize = 28;
constexpr DWORD kMaxCompressedMeshVersion = 2;
// 53-bit precision, round to nearest, the standard exceptions masked: every decode runs under this
// control so results do not depend on the caller's floating-point state.
constexpr unsigned kGeometryDecodeControl = 0x9001Fu;
constexpr unsigned kGeometryDecodeControlMask = 0xFFFFFu;

// The decode control word for one decode; the caller's is put back on every way out.
class FloatControlScope
{
public:
    FloatControlScope() : m_saved(_controlfp(0, 0))
    {
        _controlfp(kGeometryDecodeControl, kGeometryDecodeControlMask);
    }
    ~FloatControlScope() { _controlfp(m_saved, kGeometryDecodeControlMask); }
    FloatControlScope(const FloatControlScope&) = delete;
    FloatControlScope& operator=(const FloatControlScope&) = delete;

private:
    unsigned m_saved;
};

// Mesh flags: every group carries a no-texture bit; tables T0..T7 present.
constexpr DWORD kMeshFlagNoTextureBits = 0x1;
constexpr DWORD kMeshFlagTable0 = 0x2;
constexpr DWORD kMeshTableCount = 8;
// Value slots of a decoded vertex.
constexpr DWORD kDecodedPositionSlot = 0;
constexpr DWORD kDecodedBlendSlot = 4;
constexpr DWORD kDecodedTextureSlot = 9;
constexpr DWORD kDecodedValueCount = 41;

#pragma pack(push, 1)
struct CompressedMeshHeaderStruct_TYP
{
    DWORD version;
    DWORD flags;
    DWORD vertexFormat;
    DWORD longestStrip;
    DWORD runEntryCount;
    DWORD reserved0;
    WORD groupCount;
    WORD vertexCapacity;
    BYTE runEntryWidth;
    BYTE stripCountWidth; // also the width of a source-strip index
    BYTE stripEntryCountWidth;
    BYTE backReferenceWidth;
    BYTE positionBits;
    BYTE blendBits;
    BYTE textureBits;
    BYTE ringBits;
    BYTE reserved1[2];
};
#pragma pack(pop)
static_assert(sizeof(CompressedMeshHeaderStruct_TYP) == 38);

struct FVFDescriptionStruct_TYP
{
    DWORD format;
    DWORD positionCount;
    DWORD blendCount;
    DWORD textureFloatCount;
    DWORD textureSetCount;
    BYTE diffuse;
    BYTE specular;
    BYTE setSizes[8]; // floats per texture set
};

struct DecodedVertexStruct_TYP
{
    float values[kDecodedValueCount]; // position 0..3, blend 4..8, texture floats 9..40
    BYTE noTexture;
};

struct CompressedGroupStruct_TYP
{
    DWORD stripCount;
    DWORD stripEntryCount;
    BYTE noTexture;
    float minimum[kDecodedValueCount];
    float maximum[kDecodedValueCount];
};

// Allocates like std::allocator but leaves elements made without a value uninitialised, so that an
// array sized up front is written once, by the decoder, rather than zeroed first.
template <class T> struct UninitialisedAllocator : std::allocator<T>
{
    template <class U> struct rebind
    {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U> UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <class U, class... Args> void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
template <class T> using DecodedArray = std::vector<T, UninitialisedAllocator<T>>;

// The loader's three source indices of a group; 0xFFFFFFFF stands for none.
struct IndexTripleStruct_TYP
{
    DWORD index[3];
};

// Optional statistics of one mesh decode; nothing in the engine asks for them.
struct MeshStatisticsStruct_TYP
{
    enum : DWORD
    {
        kBitOffset = 0,
        kHeaderBits = 1,
        kFirstTableBits = 2, // eight entries, T0..T7
        kPositionBits = 10,
        kBlendBits = 11,
        kTextureBits = 12,
        kGroups = 13,
        kVertices = 14,
        kFaces = 15,
    };
    DWORD counters[58];
};

// One decoded compressed mesh. Faces are grouped by attribute: the faces of the mesh's group g carry
// attribute id firstAttribute + g and come before those of group g + 1.
struct DecodedMeshStruct_TYP
{
    FVFDescriptionStruct_TYP description{};
    // Vertices packed: position, blend and texture floats of the description, valueStride a vertex.
    DecodedArray<float> values;
    DecodedArray<BYTE> noTexture; // one a vertex
    DWORD valueStride = 0;
    DecodedArray<WORD> indices;     // three per face
    DecodedArray<DWORD> attributes; // one per face
    DWORD firstAttribute = 0;
    DWORD groupCount = 0; // groups that received an attribute id
    std::vector<DWORD> groupFaceCounts;

    size_t VertexCount() const { return noTexture.size(); }
    const float* VertexValues(size_t v) const { return values.data() + v * valueStride; }
    // One vertex spread over the value slots.
    DecodedVertexStruct_TYP Vertex(size_t v) const;
};

// One subset of the decoded list: a run of faces of one mesh with its group's source indices.
struct DecodedSubsetStruct_TYP
{
    DWORD mesh;
    DWORD firstFace; // within the mesh
    DWORD faceCount;
    IndexTripleStruct_TYP source;
};

struct DecodedMeshListStruct_TYP
{
    DWORD magic = 0;
    BYTE fileFlags[4] = {};
    float fileValue = 0.0f;
    BYTE fileByte = 0;
    float creaseAngle = 0.0f;
    std::vector<LightPointStruct_TYP> lightPoints;
    std::vector<DecodedMeshStruct_TYP> meshes;
    std::vector<IndexTripleStruct_TYP> triples; // one per group, in attribute order
    DWORD attributeCounter = 0;

    // One subset per attribute id, in order.
    std::vector<DecodedSubsetStruct_TYP> Subsets() const;
    size_t VertexTotal() const;
    size_t FaceTotal() const;
};

// Describes the vertex format. Only the XYZ position type with one- and two-float texture sets has
// decoding rules that match the vertex it describes; anything else is refused (false).
bool DescribeFVF(DWORD format, BYTE oneTextureSet, FVFDescriptionStruct_TYP* out);

// Decodes one compressed mesh of `size` bytes (its bit stream runs to the end of them). Faces get
// attribute ids from *attributeCounter on; each group decoded appends its triple.
bool DecodeCompressedMesh(DWORD maxVersion, const BYTE* data, size_t size, DecodedMeshStruct_TYP* mesh,
                          DWORD* attributeCounter, std::vector<IndexTripleStruct_TYP>* triples,
                          MeshStatisticsStruct_TYP* statistics);

// A block's header, light points and where each of its meshes begins, without decoding them: every mesh
// can be decoded on its own, and the list keeps them up to the first that fails.
class MeshListReader
{
public:
    // Fills the list's header fields and light points; the results are those of DecodeMeshList.
    HRESULT Open(const BYTE* data, size_t size, DecodedMeshListStruct_TYP* out);
    // The next mesh: from its start to the end of the block, as its bit stream may run. False after the
    // last mesh the block counts or holds.
    bool NextMesh(ferolt::ByteReader* mesh);

private:
    ferolt::ByteReader m_block;
    size_t m_offset = 0;
    DWORD m_meshesLeft = 0;
};

// Adds a mesh decoded on its own (attribute ids from 0, its groups' triples beside it) to the end of
// the list, its attribute ids moved on past the list's.
void AppendDecodedMesh(DecodedMeshListStruct_TYP* list, DecodedMeshStruct_TYP&& mesh,
                       const std::vector<IndexTripleStruct_TYP>& triples);

// Decodes a whole block. E_INVALIDARG for missing arguments; E_FAIL for a block under 12 bytes, an
// unknown magic, a buffer shorter than the declared size or a header and light points that do not fit
// in it. A mesh that fails ends the list: the meshes before it are kept and the result is S_OK.
HRESULT DecodeMeshList(DWORD maxVersion, const BYTE* data, size_t size, DecodedMeshListStruct_TYP* out);

// Writes a packed decoded vertex into a vertex of the format: the normal and point-size slots are
// skipped, diffuse and specular written as 0.
void WriteDecodedVertex(const float* values, BYTE* destination, const FVFDescriptionStruct_TYP& description);

void PushRecentIndex(WORD index, WORD* ring, DWORD slotCount, DWORD* position, WORD* counter, BYTE counted);

} // namespace LMK
