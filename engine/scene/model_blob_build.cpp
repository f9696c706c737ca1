// Building a model from the record layout: faces split by texture into materials of their own,
// vertices on hard edges split into smoothing groups, faces sorted into subsets by part and material,
// quads cut into triangles, the materials made with their textures (by name, or from the embedded
// texture table), and the animation block and other chunks handed to the model.
#include <algorithm>
#include <cstdlib>
#include <tuple>
#include <map>
#include <new>

#include "engine/core/lr_texture_api.h"
#include "engine/core/texture.h"
#include "engine/core/material.h"
#include "engine/core/owned_array.h"
#include "engine/scene/animation.h"
#include "engine/scene/model.h"
#include "engine/scene/model_blob.h"

namespace LMK
{
namespace
{
using ferolt::ByteCursor;
using ferolt::ByteReader;

constexpr DWORD kUnset = 0xFFFFFFFFu;

int CornerCount(const BlobFace& face)
{
    return (face.flags & kBlobFaceQuad) ? 4 : 3;
}

bool HardEdge(const BlobFace& face, int edge)
{
    return (face.flags & (kBlobFaceHardEdge0 << edge)) != 0;
}

// Every textured face's material must carry its texture; where one does not, materials are copied per
// texture so that each face's texture becomes its material's.
void SplitMaterialsByTexture(BlobRecordsStruct_TYP* r, DWORD stringCount)
{
    bool needed = false;
    for (const BlobFace& f : r->faces)
    {
        if (!(f.flags & kBlobFaceTextured) || f.material >= r->materials.size()) continue;
        const BlobMaterial& m = r->materials[f.material];
        needed = needed || !(m.flags & 1) || ((f.flags & kBlobFaceAlphaTest) && !(m.flags & 2)) ||
                 f.texture != m.texture;
    }
    if (!needed) return;
    for (BlobFace& f : r->faces)
    {
        if (f.texture >= stringCount) f.texture = 0;
        if (!(f.flags & kBlobFaceTextured) || f.material >= r->materials.size()) continue;
        BlobMaterial& m = r->materials[f.material];
        m.flags |= 1;
        if (f.flags & kBlobFaceAlphaTest) m.flags |= 2;
    }
    for (BlobMaterial& m : r->materials)
        if (m.texture >= stringCount) m.texture = 0;
    // Copies in order of texture, then material.
    std::map<std::pair<DWORD, DWORD>, WORD> copies;
    for (const BlobFace& f : r->faces)
        if ((f.flags & kBlobFaceTextured) && f.material < r->materials.size() &&
            f.texture != r->materials[f.material].texture)
            copies[{f.texture, f.material}] = 0;
    for (auto& [key, index] : copies)
    {
        if (r->materials.size() >= 0xFFFF) break;
        BlobMaterial copy = r->materials[key.second];
        copy.texture = key.first;
        index = static_cast<WORD>(r->materials.size());
        r->materials.push_back(copy);
    }
    for (BlobFace& f : r->faces)
    {
        if (!(f.flags & kBlobFaceTextured) || f.material >= r->materials.size()) continue;
        const auto found = copies.find({f.texture, f.material});
        if (found != copies.end() && found->second) f.material = found->second;
    }
}

// A quad with a repeated corner loses the corner after the first of the pair and becomes a triangle.
void CollapseQuads(std::vector<BlobFace>* faces)
{
    for (BlobFace& f : *faces)
    {
        if (!(f.flags & kBlobFaceQuad)) continue;
        int drop = -1;
        for (int k = 0; k < 3 && drop < 0; ++k)
            for (int j = k + 1; j < 4; ++j)
                if (f.corners[k] == f.corners[j])
                {
                    drop = k + 1;
                    break;
                }
        if (drop < 0) continue;
        WORD hard = static_cast<WORD>((f.flags >> 5) & 0xF);
        for (int k = drop; k < 3; ++k)
        {
            f.corners[k] = f.corners[k + 1];
            f.neighbours[k] = f.neighbours[k + 1];
        }
        const WORD low = hard & ((1 << drop) - 1);
        hard = low | ((hard >> (drop + 1)) << drop);
        f.flags = static_cast<WORD>((f.flags & ~(kBlobFaceQuad | (0xF << 5))) | (hard << 5));
    }
}

// The group of every face corner (face * 4 + corner) within its vertex, and each vertex's group count.
void GroupCorners(const BlobRecordsStruct_TYP& r, BYTE noResmooth, std::vector<DWORD>* cornerGroup,
                  std::vector<DWORD>* groupCount)
{
    const size_t vertexCount = r.vertices.size();
    // The face corners of each vertex, in face order.
    std::vector<DWORD> start(vertexCount + 1, 0);
    for (const BlobFace& f : r.faces)
        for (int k = 0; k < CornerCount(f); ++k)
            ++start[f.corners[k] + 1];
    for (size_t v = 0; v < vertexCount; ++v)
        start[v + 1] += start[v];
    std::vector<DWORD> corners(start[vertexCount]);
    std::vector<DWORD> fill(start.begin(), start.end() - 1);
    for (size_t fi = 0; fi < r.faces.size(); ++fi)
        for (int k = 0; k < CornerCount(r.faces[fi]); ++k)
            corners[fill[r.faces[fi].corners[k]]++] = static_cast<DWORD>(fi * 4 + k);

    cornerGroup->assign(r.faces.size() * 4, 0);
    groupCount->assign(vertexCount, 1);
    if (noResmooth) return;
    auto cornerOf = [&](DWORD face, DWORD vertex) -> int
    {
        const BlobFace& f = r.faces[face];
        for (int k = 0; k < CornerCount(f); ++k)
            if (f.corners[k] == vertex) return k;
        return -1;
    };
    for (size_t v = 0; v < vertexCount; ++v)
    {
        const BlobVertex& vertex = r.vertices[v];
        const DWORD first = start[v], last = start[v + 1];
        if (vertex.split == 0xFFFF)
        {
            for (DWORD i = first; i < last; ++i)
                (*cornerGroup)[corners[i]] = i - first;
            (*groupCount)[v] = std::max<DWORD>(last - first, 1);
            continue;
        }
        if ((vertex.flags & kBlobVertexOnHardEdges) != kBlobVertexOnHardEdges) continue;
        for (DWORD i = first; i < last; ++i)
            (*cornerGroup)[corners[i]] = kUnset;
        DWORD groups = 0;
        for (DWORD i = first; i < last; ++i)
        {
            const DWORD c = corners[i];
            if ((*cornerGroup)[c] != kUnset) continue;
            const DWORD g = groups++;
            (*cornerGroup)[c] = g;
            const DWORD fi = c / 4;
            const BlobFace& f = r.faces[fi];
            const int k = static_cast<int>(c % 4), n = CornerCount(f);
            const int before = (k + n - 1) % n;
            const bool hardAfter = HardEdge(f, k), hardBefore = HardEdge(f, before);
            const DWORD across = f.neighbours[k], acrossBefore = f.neighbours[before];
            bool joinAcross = false, joinBefore = false;
            if (!hardAfter && !hardBefore)
            {
                const BlobFace& a = r.faces[across];
                for (int e = 0; e < CornerCount(a); ++e)
                    if (!HardEdge(a, e) && a.neighbours[e] == acrossBefore) joinAcross = joinBefore = true;
            }
            else if (hardAfter != hardBefore)
            {
                joinAcross = !hardAfter;
                joinBefore = !hardBefore;
            }
            for (const auto& [join, face] :
                 {std::pair{joinAcross, across}, std::pair{joinBefore, acrossBefore}})
            {
                if (!join || face == fi) continue;
                const int corner = cornerOf(face, static_cast<DWORD>(v));
                if (corner >= 0) (*cornerGroup)[face * 4 + corner] = g;
            }
        }
        (*groupCount)[v] = std::max<DWORD>(groups, 1);
    }
}

struct TextureTableEntry
{
    WORD code;
    DWORD value;
    Texture_* texture = nullptr;
};

struct TextureTable
{
    std::vector<TextureTableEntry> entries;
    ~TextureTable()
    {
        for (TextureTableEntry& e : entries)
            if (e.texture) LRReleaseTexture(&e.texture);
    }
    const TextureTableEntry* Find(DWORD stringIndex) const
    {
        for (const TextureTableEntry& e : entries)
            if ((e.code & 0x7FFF) == stringIndex) return &e;
        return nullptr;
    }
};

void ReadTextureTable(const ByteReader& table, const std::vector<std::string>& names, TextureTable* out)
{
    ByteCursor in(table);
    WORD count = 0;
    if (!in.U16(&count) || count > in.Remaining() / 6) return;
    out->entries.resize(count);
    for (TextureTableEntry& e : out->entries)
        if (!in.U16(&e.code) || !in.U32(&e.value)) return;
    for (size_t i = 0; i < out->entries.size(); ++i)
    {
        TextureTableEntry& e = out->entries[i];
        if (e.code & 0x8000) continue;
        if (e.value & 0x80000000u)
        {
            const DWORD shared = e.value & 0x7FFFFFFFu;
            if (shared < i && out->entries[shared].texture)
            {
                e.texture = out->entries[shared].texture;
                e.texture->AddRef();
            }
            continue;
        }
        ByteReader image;
        if (!in.Take(e.value, &image)) return;
        const char* name = e.code < names.size() ? names[e.code].c_str() : nullptr;
        LRCreateTextureFromBitmapMemory(image.All().data(), static_cast<DWORD>(image.Size()), nullptr,
                                        &e.texture, name);
    }
}

struct MaterialMaker
{
    const BlobRecordsStruct_TYP& records;
    const std::vector<std::string>& names;
    const TextureTable& table;
    bool hasTable;
    BYTE noTextures;
    std::vector<bool> notLoaded;
    std::map<DWORD, CountedPtr<Material_>> made; // the subsets take references of their own

    bool ValidTexture(const BlobMaterial& m) const
    {
        return (m.flags & 1) && m.texture < names.size() && !names[m.texture].empty();
    }

    Material_* Get(DWORD index)
    {
        const auto found = made.find(index);
        if (found != made.end()) return found->second.get();
        CountedPtr<Material_>& material = made[index];
        if (index < records.materials.size()) material = Make(records.materials[index]);
        return material.get();
    }

    CountedPtr<Material_> Make(const BlobMaterial& m)
    {
        D3DMATERIAL9 look{};
        look.Ambient = {m.color1[0] * m.ambient, m.color1[1] * m.ambient, m.color1[2] * m.ambient, 1.0f};
        look.Diffuse = {m.color1[0] * m.diffuse, m.color1[1] * m.diffuse, m.color1[2] * m.diffuse,
                        m.transparency == 0.0f ? 1.0f : 1.0f - m.transparency};
        look.Specular = {m.color2[0] * m.specular, m.color2[1] * m.specular, m.color2[2] * m.specular, 1.0f};
        Texture_* texture = nullptr;
        if (ValidTexture(m))
        {
            if (notLoaded.size() < names.size()) notLoaded.resize(names.size(), false);
            if (!noTextures && !notLoaded[m.texture] &&
                FAILED(LRLoadTexture(names[m.texture].c_str(), nullptr, &texture)))
                texture = nullptr;
            if (!texture)
            {
                notLoaded[m.texture] = true;
                const TextureTableEntry* entry = hasTable ? table.Find(m.texture) : nullptr;
                if (entry)
                {
                    look.Specular = {0, 0, 0, look.Specular.a};
                    if (!(entry->code & 0x8000))
                    {
                        texture = entry->texture;
                        if (texture) texture->AddRef();
                    }
                    else
                    {
                        float* channels[3] = {&look.Diffuse.r, &look.Diffuse.g, &look.Diffuse.b};
                        for (int c = 0; c < 3; ++c)
                        {
                            const float base = (m.flags & 8) ? *channels[c] : m.diffuse;
                            *channels[c] = ((entry->value >> (8 * c)) & 0xFF) / 255.0f * base;
                        }
                    }
                }
            }
        }
        look.Power = m.power <= 1.0f ? 5.0f : m.power * m.power;
        if (m.flags & 4) look.Emissive = look.Diffuse;
        const bool reflection = (m.flags & 0x20) != 0;
        if (reflection && texture && !(m.flags & 8))
        {
            look.Diffuse.r = look.Diffuse.g = look.Diffuse.b = 1.0f;
            look.Ambient = {0, 0, 0, 0};
            look.Specular = {0, 0, 0, 0};
        }
        CountedPtr<Material_> material(new (std::nothrow) Material_(
            &look, reflection ? nullptr : texture, reflection ? texture : nullptr, nullptr,
            (m.flags & 8) != 0, (m.flags & 0x10) != 0, (m.flags & 2) != 0, 1.0f, 1.0f, true,
            reflection ? 1 : 0));
        if (texture) LRReleaseTexture(&texture);
        return material;
    }
};

struct SortedFace
{
    DWORD index;
    DWORD partFlag;
    DWORD partKey;
    DWORD material;
};

// The chunks sorted by what the build does with them.
struct BlobChunkParts
{
    ByteReader animationBlock, textureBlock;
    bool hasAnimation = false, hasTable = false;
    // Copied: building the model gives the loader's data back.
    std::vector<std::pair<DWORD, std::vector<BYTE>>> modelChunks;
};

// An animation chunk or the animated marker makes the model animated.
BlobChunkParts SortChunks(const BlobChunksStruct_TYP* chunks, BYTE* animated)
{
    BlobChunkParts parts;
    if (!chunks) return parts;
    for (const BlobChunkStruct_TYP& c : chunks->table)
    {
        if (c.id == kBlobAnimationChunk || c.id == kBlobAnimatedChunk) *animated = 1;
        ByteReader data;
        // A chunk outside its base is left out.
        if (!chunks->base.Sub(c.offset, c.size, &data)) continue;
        if (c.id == kBlobAnimationChunk)
            parts.animationBlock = data, parts.hasAnimation = true;
        else if (c.id == kBlobTextureTableChunk)
            parts.textureBlock = data, parts.hasTable = true;
        else if (c.id != kBlobAnimatedChunk)
            parts.modelChunks.emplace_back(c.id, std::vector<BYTE>(data.All().begin(), data.All().end()));
    }
    return parts;
}

// Faces whose corners are not vertices are left out; neighbours and normals out of range fall back.
// Each kept face's part and lamp flag (a part with a negative face count) go into faceParts, faceFlags.
void KeepValidFaces(BlobRecordsStruct_TYP* r, std::vector<DWORD>* faceParts, std::vector<DWORD>* faceFlags)
{
    const DWORD vertexCount = static_cast<DWORD>(r->vertices.size());
    std::vector<BlobFace> kept;
    size_t part = 0, partEnd = r->parts.empty() ? 0 : std::abs(int64_t{r->parts[0].faceCount});
    for (size_t fi = 0; fi < r->faces.size(); ++fi)
    {
        while (part < r->parts.size() && fi >= partEnd)
            if (++part < r->parts.size()) partEnd += std::abs(int64_t{r->parts[part].faceCount});
        const BlobFace& f = r->faces[fi];
        bool ok = true;
        for (int k = 0; k < CornerCount(f); ++k)
            ok = ok && f.corners[k] < vertexCount;
        if (!ok) continue;
        kept.push_back(f);
        faceParts->push_back(static_cast<DWORD>(part));
        faceFlags->push_back(part < r->parts.size() && r->parts[part].faceCount < 0 ? 1 : 0);
    }
    r->faces.swap(kept);
    const DWORD faceCount = static_cast<DWORD>(r->faces.size());
    for (BlobFace& f : r->faces)
    {
        for (DWORD& n : f.neighbours)
            if (n >= faceCount) n = static_cast<DWORD>(&f - r->faces.data());
        if (f.normal >= r->normals.size()) f.normal = 0;
    }
}

// One vertex per smoothing group of each vertex; the face corners are renumbered onto them.
std::vector<RawVertexStruct_TYP> SplitVerticesByGroup(BlobRecordsStruct_TYP* r, BYTE noResmooth)
{
    const DWORD vertexCount = static_cast<DWORD>(r->vertices.size());
    std::vector<DWORD> cornerGroup, groupCount;
    GroupCorners(*r, noResmooth, &cornerGroup, &groupCount);
    std::vector<DWORD> firstNew(vertexCount + 1, 0);
    for (DWORD v = 0; v < vertexCount; ++v)
        firstNew[v + 1] = firstNew[v] + groupCount[v];
    std::vector<RawVertexStruct_TYP> renumbered(firstNew[vertexCount]);
    for (DWORD v = 0; v < vertexCount; ++v)
        for (DWORD g = 0; g < groupCount[v]; ++g)
        {
            RawVertexStruct_TYP& out = renumbered[firstNew[v] + g];
            out = RawVertexStruct_TYP{};
            out.position[0] = r->vertices[v].x;
            out.position[1] = r->vertices[v].y;
            out.position[2] = r->vertices[v].z;
            out.u = r->vertices[v].u;
            out.v = r->vertices[v].v;
        }
    for (size_t fi = 0; fi < r->faces.size(); ++fi)
        for (int k = 0; k < CornerCount(r->faces[fi]); ++k)
        {
            DWORD& c = r->faces[fi].corners[k];
            c = firstNew[c] + std::min(cornerGroup[fi * 4 + k], groupCount[c] - 1);
        }
    return renumbered;
}

// Lamp faces last; within that, by part when animated, then by material; stable otherwise.
std::vector<SortedFace> SortFaces(const BlobRecordsStruct_TYP& r, const std::vector<DWORD>& faceParts,
                                  const std::vector<DWORD>& faceFlags, BYTE animated)
{
    const DWORD faceCount = static_cast<DWORD>(r.faces.size());
    std::vector<SortedFace> order(faceCount);
    for (DWORD fi = 0; fi < faceCount; ++fi)
        order[fi] = {fi, faceFlags[fi], animated ? faceParts[fi] : 0, r.faces[fi].material};
    std::stable_sort(order.begin(), order.end(),
                     [](const SortedFace& a, const SortedFace& b) {
                         return std::tie(a.partFlag, a.partKey, a.material) <
                                std::tie(b.partFlag, b.partKey, b.material);
                     });
    return order;
}

// Appends a triangle unless it is degenerate; in the file form it is turned to face its face's normal.
void AppendTriangle(const BlobRecordsStruct_TYP& r, const BlobFace& f, bool fileForm,
                    const std::vector<RawVertexStruct_TYP>& vertices, DWORD a, DWORD b, DWORD c,
                    std::vector<DWORD>* indices)
{
    if (a == b || b == c || a == c) return;
    if (fileForm && !r.normals.empty())
    {
        const float* p0 = vertices[a].position;
        const float* p1 = vertices[b].position;
        const float* p2 = vertices[c].position;
        const D3DXVECTOR3 e1(p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]);
        const D3DXVECTOR3 e2(p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]);
        D3DXVECTOR3 cross;
        D3DXVec3Cross(&cross, &e1, &e2);
        const auto& n = r.normals[f.normal];
        if (cross.x * n[0] + cross.y * n[1] + cross.z * n[2] < 0.0f) std::swap(b, c);
    }
    indices->insert(indices->end(), {a, b, c});
}

// One subset per run of sorted faces with the same part and material, its quads cut into triangles;
// a run whose faces all collapse makes none.
std::vector<SubsetStruct_TYP> BuildSubsets(const BlobRecordsStruct_TYP& r,
                                           const std::vector<SortedFace>& order,
                                           const std::vector<RawVertexStruct_TYP>& vertices, bool fileForm,
                                           BYTE animated, MaterialMaker* materials,
                                           std::vector<DWORD>* indices)
{
    std::vector<SubsetStruct_TYP> subsets;
    for (size_t i = 0; i < order.size();)
    {
        size_t end = i;
        while (end < order.size() && order[end].partFlag == order[i].partFlag &&
               order[end].partKey == order[i].partKey && order[end].material == order[i].material)
            ++end;
        SubsetStruct_TYP subset{};
        subset.firstFace = static_cast<DWORD>(indices->size() / 3);
        for (size_t j = i; j < end; ++j)
        {
            const BlobFace& f = r.faces[order[j].index];
            AppendTriangle(r, f, fileForm, vertices, f.corners[0], f.corners[1], f.corners[2], indices);
            if (f.flags & kBlobFaceQuad)
                AppendTriangle(r, f, fileForm, vertices, f.corners[0], f.corners[2], f.corners[3], indices);
        }
        subset.faceCount = static_cast<DWORD>(indices->size() / 3) - subset.firstFace;
        const DWORD m = order[i].material;
        if (subset.faceCount)
        {
            subset.material = materials->Get(m);
            const bool valid = m < r.materials.size() && materials->ValidTexture(r.materials[m]);
            subset.sourceIndex = animated ? order[i].partKey : static_cast<DWORD>(subsets.size());
            subset.sourceIndex2 = valid ? r.materials[m].texture : kNoSourceIndex;
            subset.sourceIndex3 = m;
            subset.lampSurface = static_cast<BYTE>(order[i].partFlag);
            subsets.push_back(subset);
        }
        i = end;
    }
    return subsets;
}

// Only the vertices the triangles use, in order of first use; the indices are renumbered onto them.
std::vector<RawVertexStruct_TYP> UsedVertices(const std::vector<RawVertexStruct_TYP>& all,
                                              std::vector<DWORD>* indices)
{
    std::vector<DWORD> remap(all.size(), kUnset);
    std::vector<RawVertexStruct_TYP> vertices;
    for (DWORD& index : *indices)
    {
        if (remap[index] == kUnset)
        {
            remap[index] = static_cast<DWORD>(vertices.size());
            vertices.push_back(all[index]);
        }
        index = remap[index];
    }
    return vertices;
}

std::vector<RawLightPointStruct_TYP> LightPointsOf(const BlobRecordsStruct_TYP& r)
{
    std::vector<RawLightPointStruct_TYP> lights(r.lightPoints.size());
    for (size_t i = 0; i < lights.size(); ++i)
    {
        lights[i] = RawLightPointStruct_TYP{};
        std::copy(r.lightPoints[i].color, r.lightPoints[i].color + 3, lights[i].color);
        std::copy(r.lightPoints[i].position, r.lightPoints[i].position + 3, lights[i].position);
    }
    return lights;
}

// The file's options, the names up to the first empty one, and the chunks the model keeps.
void HandOverToModel(Model_* model, const BlobOptionsStruct_TYP* options,
                     const std::vector<std::string>& names, const BlobChunkParts& chunks)
{
    if (options)
    {
        model->fileFlags[0] = options->valid;
        for (int i = 0; i < 3; ++i)
            model->fileFlags[1 + i] = options->flags[i];
        model->fileValue = static_cast<float>(options->value);
    }
    if (!names.empty())
    {
        std::string list;
        for (const std::string& name : names)
        {
            if (name.empty()) break;
            list += name;
            list.push_back('\0');
        }
        list.push_back('\0');
        if (list.size() > 1) SetModelNameList(model, list.c_str());
    }
    for (const auto& [id, data] : chunks.modelChunks)
    {
        ModelChunkStruct_TYP chunk{id, const_cast<BYTE*>(data.data()), static_cast<DWORD>(data.size())};
        model->SetChunk(&chunk);
    }
}
} // namespace

HRESULT BuildModelFromBlobData(BYTE optimise, BYTE noTextures, BYTE noResmooth,
                               BlobRecordsStruct_TYP* records, const BlobOptionsStruct_TYP* options,
                               bool fileForm, BYTE animated, const std::vector<std::string>* nameList,
                               const BlobChunksStruct_TYP* chunks, LoadRecordStruct_TYP* record, Model_** out)
{
    if (!out || !records) return E_INVALIDARG;
    *out = nullptr;
    BlobRecordsStruct_TYP& r = *records;
    const BlobChunkParts chunkParts = SortChunks(chunks, &animated);
    const std::vector<std::string>& names = nameList && !nameList->empty() ? *nameList : r.strings;

    std::vector<DWORD> faceParts, faceFlags;
    KeepValidFaces(&r, &faceParts, &faceFlags);
    if (fileForm) SplitMaterialsByTexture(&r, static_cast<DWORD>(names.size()));
    CollapseQuads(&r.faces);
    const std::vector<RawVertexStruct_TYP> split = SplitVerticesByGroup(&r, noResmooth);
    const std::vector<SortedFace> order = SortFaces(r, faceParts, faceFlags, animated);

    TextureTable table;
    if (chunkParts.hasTable) ReadTextureTable(chunkParts.textureBlock, names, &table);
    MaterialMaker materials{r, names, table, chunkParts.hasTable, noTextures, {}, {}};
    std::vector<DWORD> indices;
    const std::vector<SubsetStruct_TYP> subsets =
        BuildSubsets(r, order, split, fileForm, animated, &materials, &indices);
    if (indices.empty()) return E_FAIL;
    const std::vector<RawVertexStruct_TYP> vertices = UsedVertices(split, &indices);

    Animation_* animation = nullptr;
    if (chunkParts.hasAnimation)
        CreateAnimationFromBlock(chunkParts.animationBlock.All().data(),
                                 static_cast<DWORD>(chunkParts.animationBlock.Size()), &animation);
    AnimationReference animationReference(animation);
    const std::vector<RawLightPointStruct_TYP> lights = LightPointsOf(r);

    HRESULT hr = E_FAIL;
    ModelBuildInputStruct_TYP input = MeshBuildInput(vertices, indices, subsets);
    input.keepNormals = noResmooth;
    input.animation = animation;
    input.turned = 1;
    input.lightPointCount = static_cast<DWORD>(lights.size());
    input.lightPoints = lights.empty() ? nullptr : lights.data();
    input.optimizeForVertexCache = optimise;
    CountedPtr<Model_> model(new (std::nothrow) Model_(input, record, &hr));
    if (!model) return E_OUTOFMEMORY;
    HandOverToModel(model.get(), options, names, chunkParts);
    *out = model.release();
    return hr;
}
} // namespace LMK
