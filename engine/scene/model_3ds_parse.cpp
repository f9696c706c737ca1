// Reading a 3D Studio file's chunk tree into lists. A chunk is a u16 id and a u32 length that counts
// its 6-byte header; chunks the engine does not use are stepped over by their length. A chunk whose
// length does not fit the file ends the reading of its parent, so a damaged tail costs only itself.
#include <algorithm>
#include <cmath>

#include "engine/scene/model_3ds.h"
#include "platform/bytes/byte_reader.h"

namespace LMK
{
namespace
{
using ferolt::ByteCursor;
using ferolt::ByteReader;

constexpr size_t kChunkHeader = 6;
constexpr size_t kObjectNameLimit = 10;
constexpr size_t kNodeNameLimit = 10;
constexpr size_t kMaterialNameLimit = 16;
// Map names are 8.3 in the format, but tools write longer ones; those are kept up to a path's length.
constexpr size_t kMapNameLimit = 259;
constexpr DWORD kMaxTrackKeys = 0xFFFF;

struct Chunk
{
    WORD id;
    size_t data; // first byte after the header
    size_t end;
};

// Iterates the chunks in [begin, end) of the file.
class ChunkWalk
{
public:
    ChunkWalk(const ByteReader& file, size_t begin, size_t end) : file_(file), pos_(begin), end_(end) {}
    bool Next(Chunk* out)
    {
        DWORD length = 0;
        if (pos_ >= end_ || !file_.U16(pos_, &out->id) || !file_.U32(pos_ + 2, &length) ||
            length < kChunkHeader || length > file_.Size() - pos_)
            return false;
        out->data = pos_ + kChunkHeader;
        out->end = pos_ + length;
        pos_ = out->end;
        return true;
    }

private:
    const ByteReader& file_;
    size_t pos_;
    size_t end_;
};

// The bytes of a chunk's data (to its end, or the file's end where a child outgrows its parent).
ByteReader DataOf(const ByteReader& file, const Chunk& chunk)
{
    ByteReader data;
    if (!file.Sub(chunk.data, chunk.end - chunk.data, &data)) return ByteReader();
    return data;
}

// A NUL-terminated name; longer names than the limit are cut to it.
bool ReadName(ByteCursor& in, size_t limit, std::string* out)
{
    std::string_view name;
    if (!in.CString(in.Remaining(), &name)) return false;
    out->assign(name.substr(0, limit));
    return true;
}

bool ReadFloats(ByteCursor& in, float* out, int count)
{
    for (int i = 0; i < count; ++i)
        if (!in.F32(&out[i])) return false;
    return true;
}

class Parser
{
public:
    Parser(const ByteReader& file, Parsed3DS* parsed) : file_(file), parsed_(parsed) {}

    void ReadFile()
    {
        ChunkWalk walk(file_, 0, file_.Size());
        Chunk chunk;
        while (walk.Next(&chunk))
        {
            if (chunk.id == 0x4D4D || chunk.id == 0xC23D)
            {
                ChunkWalk inner(file_, chunk.data, chunk.end);
                Chunk sub;
                while (inner.Next(&sub))
                    ReadTopLevel(sub);
            }
            else
                ReadTopLevel(chunk);
        }
    }

private:
    void ReadTopLevel(const Chunk& chunk)
    {
        if (chunk.id == 0x3D3D) ReadEditorChunks(chunk);
        if (chunk.id == 0xB000) ReadKeyframerChunks(chunk);
    }

    void ReadEditorChunks(const Chunk& editor)
    {
        ChunkWalk walk(file_, editor.data, editor.end);
        Chunk chunk;
        while (walk.Next(&chunk))
        {
            ByteCursor in(DataOf(file_, chunk));
            if (chunk.id == 0x0100)
            {
                float scale = 1.0f;
                if (in.F32(&scale)) parsed_->masterScale = scale;
            }
            else if (chunk.id == 0x4000)
                ReadNamedObject(chunk);
            else if (chunk.id == 0xAFFF)
                ReadMaterial(chunk);
        }
    }

    void ReadNamedObject(const Chunk& object)
    {
        ByteCursor in(DataOf(file_, object));
        std::string_view name;
        if (!in.CString(kObjectNameLimit + 1, &name)) return;
        BYTE flags = 0;
        ChunkWalk walk(file_, object.data + in.Position(), object.end);
        Chunk chunk;
        std::vector<Mesh3DS> meshes;
        while (walk.Next(&chunk))
        {
            if (chunk.id == 0x4012)
            {
                uint8_t value = 0;
                if (DataOf(file_, chunk).U8(0, &value)) flags = value;
            }
            else if (chunk.id == 0x4100)
            {
                Mesh3DS mesh;
                mesh.name.assign(name);
                if (ReadMesh(chunk, &mesh)) meshes.push_back(std::move(mesh));
            }
            else if (chunk.id == 0x4600)
                ReadLight(chunk, name);
        }
        for (Mesh3DS& mesh : meshes)
        {
            mesh.objectFlags = flags;
            parsed_->meshes.push_back(std::move(mesh));
        }
    }

    bool ReadMesh(const Chunk& meshChunk, Mesh3DS* mesh)
    {
        bool haveVertices = false, haveFaces = false, haveTexture = false;
        ChunkWalk walk(file_, meshChunk.data, meshChunk.end);
        Chunk chunk;
        while (walk.Next(&chunk))
        {
            ByteCursor in(DataOf(file_, chunk));
            WORD count = 0;
            switch (chunk.id)
            {
            case 0x4110:
                if (haveVertices || !in.U16(&count) || !in.ReadArray(size_t{count} * 3, &mesh->vertices))
                    break;
                haveVertices = true;
                break;
            case 0x4120:
            {
                if (haveFaces || !in.U16(&count) || count > in.Remaining() / sizeof(Face3DS)) break;
                mesh->faces.resize(count);
                for (Face3DS& face : mesh->faces)
                    if (!in.U16(&face.a) || !in.U16(&face.b) || !in.U16(&face.c) || !in.U16(&face.flags))
                        return false;
                haveFaces = true;
                ChunkWalk inner(file_, chunk.data + in.Position(), chunk.end);
                Chunk sub;
                while (inner.Next(&sub))
                {
                    if (sub.id == 0x4130) ReadFaceMaterials(sub, mesh);
                    if (sub.id == 0x4150)
                    {
                        ByteCursor groups(DataOf(file_, sub));
                        if (!groups.ReadArray(mesh->faces.size(), &mesh->smoothing)) mesh->smoothing.clear();
                    }
                }
                break;
            }
            case 0x4130:
                ReadFaceMaterials(chunk, mesh);
                break;
            case 0x4140:
            {
                const size_t vertexCount = mesh->vertices.size() / 3;
                if (haveTexture || !in.U16(&count) || count == 0 || (haveVertices && count != vertexCount) ||
                    !in.ReadArray(size_t{count} * 2, &mesh->texture))
                    break;
                for (size_t i = 1; i < mesh->texture.size(); i += 2)
                    mesh->texture[i] = 1.0f - mesh->texture[i];
                haveTexture = true;
                break;
            }
            case 0x4160:
            {
                float axes[12];
                if (ReadFloats(in, axes, 12)) std::copy(axes, axes + 12, mesh->axes);
                break;
            }
            default:
                break;
            }
        }
        return haveVertices && haveFaces && !mesh->vertices.empty() && !mesh->faces.empty();
    }

    void ReadFaceMaterials(const Chunk& chunk, Mesh3DS* mesh)
    {
        ByteCursor in(DataOf(file_, chunk));
        FaceGroup3DS group;
        WORD count = 0;
        if (!ReadName(in, kMaterialNameLimit, &group.material) || !in.U16(&count) ||
            !in.ReadArray(count, &group.faces))
            return;
        mesh->groups.push_back(std::move(group));
    }

    void ReadLight(const Chunk& lightChunk, std::string_view name)
    {
        Light3DS light;
        light.name.assign(name);
        ByteCursor in(DataOf(file_, lightChunk));
        if (!ReadFloats(in, light.position, 3)) return;
        ChunkWalk walk(file_, lightChunk.data + in.Position(), lightChunk.end);
        Chunk chunk;
        while (walk.Next(&chunk))
        {
            ByteCursor sub(DataOf(file_, chunk));
            if (chunk.id == 0x0010)
            {
                float color[3];
                if (ReadFloats(sub, color, 3)) std::copy(color, color + 3, light.color);
            }
            else if (chunk.id == 0x4610)
                light.spot = ReadFloats(sub, light.target, 3);
            else if (chunk.id == 0x4620)
                light.off = true;
            else if (chunk.id == 0x465B)
            {
                float multiplier = 1.0f;
                if (sub.F32(&multiplier)) light.multiplier = multiplier;
            }
        }
        parsed_->lights.push_back(std::move(light));
    }

    // The colour of a colour chunk's sub-chunks; false when it has none.
    bool ReadColor(const Chunk& parent, float* out)
    {
        ChunkWalk walk(file_, parent.data, parent.end);
        Chunk chunk;
        bool found = false;
        while (walk.Next(&chunk))
        {
            ByteCursor in(DataOf(file_, chunk));
            if (chunk.id == 0x0010 || chunk.id == 0x0013)
            {
                float c[3];
                if (ReadFloats(in, c, 3)) std::copy(c, c + 3, out), found = true;
            }
            else if (chunk.id == 0x0011 || chunk.id == 0x0012)
            {
                uint8_t c[3];
                if (in.U8(&c[0]) && in.U8(&c[1]) && in.U8(&c[2]))
                {
                    for (int i = 0; i < 3; ++i)
                        out[i] = c[i] / 255.0f;
                    found = true;
                }
            }
        }
        return found;
    }

    // An amount sub-chunk: a percentage as i16 hundredths (or, as some tools write it, an f32).
    bool ReadAmount(const Chunk& parent, float* out)
    {
        ChunkWalk walk(file_, parent.data, parent.end);
        Chunk chunk;
        while (walk.Next(&chunk))
        {
            const ByteReader data = DataOf(file_, chunk);
            int16_t hundredths = 0;
            float value = 0.0f;
            if (chunk.id == 0x0030 && data.Read(0, &hundredths))
            {
                *out = hundredths * 0.01f;
                return true;
            }
            if (chunk.id == 0x0031 && data.F32(0, &value))
            {
                *out = value * 0.01f;
                return true;
            }
        }
        return false;
    }

    void ReadMapChunk(const Chunk& parent, Map3DS* map)
    {
        map->present = true;
        ReadAmount(parent, &map->percent);
        ChunkWalk walk(file_, parent.data, parent.end);
        Chunk chunk;
        while (walk.Next(&chunk))
        {
            ByteCursor in(DataOf(file_, chunk));
            switch (chunk.id)
            {
            case 0xA300:
                if (!ReadName(in, kMapNameLimit, &map->file)) map->file.clear();
                break;
            case 0xA351:
                (void)in.U16(&map->tiling);
                break;
            case 0xA354:
                (void)in.F32(&map->uScale);
                break;
            case 0xA356:
                (void)in.F32(&map->vScale);
                break;
            case 0xA358:
                (void)in.F32(&map->uOffset);
                break;
            case 0xA35A:
                (void)in.F32(&map->vOffset);
                break;
            case 0xA35C:
                (void)in.F32(&map->rotation);
                break;
            default:
                break;
            }
        }
    }

    void ReadMaterial(const Chunk& materialChunk)
    {
        Material3DS material;
        ChunkWalk walk(file_, materialChunk.data, materialChunk.end);
        Chunk chunk;
        while (walk.Next(&chunk))
        {
            ByteCursor in(DataOf(file_, chunk));
            switch (chunk.id)
            {
            case 0xA000:
                (void)ReadName(in, kMaterialNameLimit, &material.name);
                break;
            case 0xA010:
                material.hasAmbient = ReadColor(chunk, material.ambient) || material.hasAmbient;
                break;
            case 0xA020:
                ReadColor(chunk, material.diffuse);
                break;
            case 0xA030:
                ReadColor(chunk, material.specular);
                break;
            case 0xA040:
                ReadAmount(chunk, &material.shininess);
                break;
            case 0xA041:
                ReadAmount(chunk, &material.shininessStrength);
                break;
            case 0xA050:
                ReadAmount(chunk, &material.transparency);
                break;
            case 0xA080:
                material.selfIlluminated = true;
                break;
            case 0xA081:
                material.twoSided = true;
                break;
            case 0xA084:
                ReadAmount(chunk, &material.selfIllumination);
                break;
            case 0xA200:
                ReadMapChunk(chunk, &material.texture);
                break;
            case 0xA210:
                ReadMapChunk(chunk, &material.opacity);
                break;
            case 0xA220:
                ReadMapChunk(chunk, &material.reflection);
                break;
            case 0xA230:
                ReadMapChunk(chunk, &material.bump);
                break;
            default:
                break;
            }
        }
        parsed_->materials.push_back(std::move(material));
    }

    void ReadKeyframerChunks(const Chunk& keyframer)
    {
        ChunkWalk walk(file_, keyframer.data, keyframer.end);
        Chunk chunk;
        while (walk.Next(&chunk))
        {
            if (chunk.id == 0xB002)
            {
                Node3DS node;
                node.id = static_cast<WORD>(parsed_->objectNodes.size());
                ReadNode(chunk, &node);
                parsed_->objectNodes.push_back(std::move(node));
            }
            else if (chunk.id == 0xB007)
            {
                Node3DS node;
                node.id = static_cast<WORD>(parsed_->spotNodes.size());
                ReadNode(chunk, &node);
                parsed_->spotNodes.push_back(std::move(node));
            }
        }
    }

    static bool ReadKeyHeader(ByteCursor& in, Key3DS* key)
    {
        *key = Key3DS{};
        if (!in.U32(&key->frame) || !in.U16(&key->flags)) return false;
        float ease = 0.0f;
        float* slots[5] = {&key->tension, &key->continuity, &key->bias, &ease, &ease};
        for (int bit = 0; bit < 5; ++bit)
            if ((key->flags & (1u << bit)) && !in.F32(slots[bit])) return false;
        return true;
    }

    // A track and its rest value (that of its earliest key, the first among equals).
    static void ReadTrack(const ByteReader& data, int components, Track3DS* track, float* rest)
    {
        ByteCursor in(data);
        DWORD count = 0;
        if (!in.U16(&track->flags) || !in.Skip(8) || !in.U32(&count)) return;
        if (count > kMaxTrackKeys) count = 0;
        // Each key takes at least its 6-byte header and its values.
        if (count > in.Remaining() / (6 + 4 * size_t(components))) return;
        track->keys.reserve(count);
        for (DWORD i = 0; i < count; ++i)
        {
            Key3DS key;
            if (!ReadKeyHeader(in, &key) || !ReadFloats(in, key.value, components)) break;
            track->keys.push_back(key);
        }
        const Key3DS* earliest = nullptr;
        for (const Key3DS& key : track->keys)
            if (!earliest || key.frame < earliest->frame) earliest = &key;
        if (earliest) std::copy(earliest->value, earliest->value + components, rest);
    }

    void ReadNode(const Chunk& nodeChunk, Node3DS* node)
    {
        ChunkWalk walk(file_, nodeChunk.data, nodeChunk.end);
        Chunk chunk;
        while (walk.Next(&chunk))
        {
            const ByteReader data = DataOf(file_, chunk);
            ByteCursor in(data);
            switch (chunk.id)
            {
            case 0xB030:
                (void)in.U16(&node->id);
                break;
            case 0xB010:
            {
                std::string name;
                WORD parent = 0xFFFF;
                if (ReadName(in, kNodeNameLimit, &name) && in.Skip(4) && in.U16(&parent))
                {
                    node->name = std::move(name);
                    node->parent = parent;
                }
                break;
            }
            case 0xB011:
                (void)ReadName(in, kNodeNameLimit, &node->instance);
                break;
            case 0xB013:
            {
                float pivot[3];
                if (ReadFloats(in, pivot, 3)) std::copy(pivot, pivot + 3, node->pivot);
                break;
            }
            case 0xB020:
                ReadTrack(data, 3, &node->position, node->restPosition);
                break;
            case 0xB021:
                ReadTrack(data, 4, &node->rotation, node->restRotation);
                break;
            case 0xB022:
                ReadTrack(data, 3, &node->scale, node->restScale);
                break;
            case 0xB025:
            {
                float roll = 0.0f;
                ReadTrack(data, 1, &node->roll, &roll);
                break;
            }
            default:
                break;
            }
        }
        // A rotation about no axis turns about Z.
        for (Key3DS& key : node->rotation.keys)
            if (key.value[1] == 0.0f && key.value[2] == 0.0f && key.value[3] == 0.0f) key.value[3] = 1.0f;
        if (node->restRotation[1] == 0.0f && node->restRotation[2] == 0.0f && node->restRotation[3] == 0.0f)
            node->restRotation[3] = 1.0f;
    }

    const ByteReader& file_;
    Parsed3DS* parsed_;
};
} // namespace

bool Parse3DS(const void* data, DWORD size, Parsed3DS* parsed)
{
    if (!parsed) return false;
    *parsed = Parsed3DS{};
    if (!data) return false;
    const ByteReader file(data, size);
    Parser(file, parsed).ReadFile();
    if (parsed->meshes.empty())
    {
        Free3DS(parsed);
        return false;
    }
    return true;
}

void Free3DS(Parsed3DS* parsed)
{
    if (parsed) *parsed = Parsed3DS{};
}
} // namespace LMK
