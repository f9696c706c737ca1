// X file objects: templates are checked and remembered, frames collapse into their meshes' vertices,
// meshes are read with their normals, texture coordinates, vertex colours and materials, and every
// other object (animation sets, skin weights, headers, unknown templates) is read past.
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "platform/d3dx9/d3dx9math.h"
#include "platform/d3dx9/d3dx9mesh.h"
#include "platform/d3dx9/xfile_lexer.h"
#include "platform/d3dx9/xfile_scene.h"

namespace ferolt::d3dx9::xfile
{
namespace
{
// Frames and materials nest; files nest them a few levels deep, damage arbitrarily deep.
constexpr int kMaxDepth = 64;
// Counts reserve at most this much ahead; the data itself decides how much is kept.
constexpr uint32_t kMaxReserve = 1u << 16;
constexpr uint32_t kMaxMissingMaterials = 256;

D3DCOLORVALUE Color(float r, float g, float b, float a)
{
    return D3DCOLORVALUE{r, g, b, a};
}

DWORD PackColor(const float c[4])
{
    auto byte = [](float v)
    {
        v = v < 0 ? 0 : (v > 1 ? 1 : v);
        return static_cast<DWORD>(v * 255.0f + 0.5f);
    };
    return (byte(c[3]) << 24) | (byte(c[0]) << 16) | (byte(c[1]) << 8) | byte(c[2]);
}

// Corners of a mesh's faces as the file gives them.
struct FaceList
{
    std::vector<uint32_t> counts;
    std::vector<uint32_t> corners;
};

class Parser
{
public:
    explicit Parser(Lexer& lexer) : lx_(lexer) {}

    HRESULT Run(Scene* scene)
    {
        scene_ = scene;
        for (;;)
        {
            Token t = lx_.Next();
            switch (t.kind)
            {
            case Tok::End:
                return S_OK;
            case Tok::Comma:
            case Tok::Semicolon:
                continue;
            case Tok::Template:
                if (!Template()) return D3DXERR_INVALIDDATA;
                continue;
            case Tok::Name:
                if (!TopObject(t.text)) return D3DXERR_INVALIDDATA;
                continue;
            default:
                return D3DXERR_INVALIDDATA;
            }
        }
    }

private:
    // ---- values ----------------------------------------------------------------------------------
    Token Value()
    {
        Token t = lx_.Next();
        while (t.kind == Tok::Comma || t.kind == Tok::Semicolon)
            t = lx_.Next();
        return t;
    }
    bool Int(uint32_t* v)
    {
        Token t = Value();
        if (t.kind != Tok::Integer || t.integer < 0 || t.integer > 0xFFFFFFFFll) return false;
        *v = static_cast<uint32_t>(t.integer);
        return true;
    }
    bool Float(float* v)
    {
        Token t = Value();
        if (t.kind != Tok::Integer && t.kind != Tok::Float) return false;
        *v = static_cast<float>(t.number);
        return true;
    }
    bool Floats(float* v, int n)
    {
        for (int i = 0; i < n; ++i)
            if (!Float(v + i)) return false;
        return true;
    }
    bool String(std::string_view* v)
    {
        Token t = Value();
        if (t.kind != Tok::String) return false;
        *v = t.text;
        return true;
    }

    // ---- structure -------------------------------------------------------------------------------
    // After an object's identifier: its optional name and GUID, then the opening brace.
    bool Open(std::string_view* name)
    {
        Token t = lx_.Next();
        if (t.kind == Tok::Name)
        {
            if (name) *name = t.text;
            t = lx_.Next();
        }
        if (t.kind == Tok::Guid) t = lx_.Next();
        return t.kind == Tok::OBrace;
    }

    // After an opening brace: everything up to its closing brace.
    bool SkipBody()
    {
        size_t depth = 1;
        for (;;)
        {
            Token t = lx_.Next();
            lx_.DropList();
            if (t.kind == Tok::OBrace)
                ++depth;
            else if (t.kind == Tok::CBrace)
            {
                if (--depth == 0) return true;
            }
            else if (t.kind == Tok::End || t.kind == Tok::Error)
                return false;
        }
    }

    bool SkipObject() { return Open(nullptr) && SkipBody(); }

    // The rest of an object after its members: child objects (handed to onChild with their
    // identifier), references in braces (handed to onReference) and stray separators, up to the
    // closing brace.
    template <class Child, class Reference> bool Children(Child onChild, Reference onReference)
    {
        if (++depth_ > kMaxDepth) return false;
        for (;;)
        {
            Token t = lx_.Next();
            switch (t.kind)
            {
            case Tok::CBrace:
                --depth_;
                return true;
            case Tok::Name:
                if (!onChild(t.text)) return false;
                continue;
            case Tok::OBrace:
            {
                Token name = lx_.Next();
                if (name.kind != Tok::Name && name.kind != Tok::Guid) return false;
                Token next = lx_.Next();
                if (next.kind == Tok::Guid) next = lx_.Next();
                if (next.kind != Tok::CBrace) return false;
                if (name.kind == Tok::Name) onReference(name.text);
                continue;
            }
            case Tok::Comma:
            case Tok::Semicolon:
            case Tok::Integer:
            case Tok::Float:
            case Tok::String:
            case Tok::Guid:
                continue; // values past the ones a reader takes are read past
            default:
                return false;
            }
        }
    }
    bool NoChildren()
    {
        return Children([this](std::string_view) { return SkipObject(); }, [](std::string_view) {});
    }

    // ---- templates -------------------------------------------------------------------------------
    bool Template()
    {
        Token name = lx_.Next();
        if (name.kind != Tok::Name || lx_.Next().kind != Tok::OBrace) return false;
        std::vector<std::string> uses;
        bool memberStart = true;
        for (;;)
        {
            Token t = lx_.Next();
            switch (t.kind)
            {
            case Tok::CBrace:
            {
                std::string key(name.text);
                templates_[key] = std::move(uses);
                return !HasLoop(key);
            }
            case Tok::Semicolon:
                memberStart = true;
                continue;
            case Tok::Array:
            case Tok::Guid:
                continue; // the member's type follows the keyword; the GUID is not one
            case Tok::Name:
                if (memberStart) uses.emplace_back(t.text);
                memberStart = false;
                continue;
            case Tok::OBracket:
                for (Token r = lx_.Next(); r.kind != Tok::CBracket; r = lx_.Next())
                    if (r.kind == Tok::End || r.kind == Tok::Error) return false;
                continue;
            case Tok::End:
            case Tok::Error:
                return false;
            default:
                memberStart = false;
                continue;
            }
        }
    }

    // A template that contains itself, through its members, could never be read.
    bool HasLoop(const std::string& start)
    {
        std::vector<const std::string*> stack;
        std::unordered_set<std::string> seen;
        auto push = [&](const std::string& from)
        {
            auto it = templates_.find(from);
            if (it == templates_.end()) return;
            for (const std::string& use : it->second)
                stack.push_back(&use);
        };
        push(start);
        while (!stack.empty())
        {
            const std::string* next = stack.back();
            stack.pop_back();
            if (*next == start) return true;
            if (seen.insert(*next).second) push(*next);
        }
        return false;
    }

    // ---- objects ---------------------------------------------------------------------------------
    bool TopObject(std::string_view id)
    {
        if (id == "Frame") return Frame();
        if (id == "Mesh") return MeshObject();
        if (id == "Material")
        {
            std::string_view name;
            Material m;
            if (!Open(&name) || !MaterialBody(&m)) return false;
            if (!name.empty()) named_[std::string(name)] = std::move(m);
            return true;
        }
        return SkipObject();
    }

    bool Frame()
    {
        if (!Open(nullptr)) return false;
        const size_t firstMesh = scene_->meshes.size();
        D3DXMATRIX local;
        D3DXMatrixIdentity(&local);
        bool transformed = false;
        bool ok = Children(
            [&](std::string_view id)
            {
                if (id == "Frame") return Frame();
                if (id == "Mesh") return MeshObject();
                if (id == "FrameTransformMatrix")
                {
                    transformed = true;
                    return Open(nullptr) && Floats(&local.m[0][0], 16) && NoChildren();
                }
                return SkipObject();
            },
            [](std::string_view) {});
        if (!ok) return false;
        // A frame's transform applies to every mesh inside it, nested frames' meshes included, whatever
        // the order in which the file lists them.
        if (transformed)
            for (size_t i = firstMesh; i < scene_->meshes.size(); ++i)
                Transform(&scene_->meshes[i], local);
        return true;
    }

    static void Transform(Mesh* mesh, const D3DXMATRIX& m)
    {
        for (Float3& p : mesh->positions)
        {
            D3DXVECTOR3 v(p.x, p.y, p.z), r;
            D3DXVec3TransformCoord(&r, &v, &m);
            p = {r.x, r.y, r.z};
        }
        if (!mesh->hasNormals) return;
        D3DXMATRIX inverse, normalMatrix;
        if (D3DXMatrixInverse(&inverse, nullptr, &m))
            D3DXMatrixTranspose(&normalMatrix, &inverse);
        else
            normalMatrix = m;
        for (Float3& n : mesh->normals)
        {
            D3DXVECTOR3 v(n.x, n.y, n.z), r;
            D3DXVec3TransformNormal(&r, &v, &normalMatrix);
            D3DXVec3Normalize(&r, &r);
            n = {r.x, r.y, r.z};
        }
    }

    bool Faces(FaceList* faces, uint32_t indexLimit)
    {
        uint32_t count = 0;
        if (!Int(&count)) return false;
        faces->counts.reserve(std::min(count, kMaxReserve));
        faces->corners.reserve(std::min(count, kMaxReserve) * 3);
        for (uint32_t f = 0; f < count; ++f)
        {
            uint32_t n = 0;
            if (!Int(&n)) return false;
            faces->counts.push_back(n);
            for (uint32_t k = 0; k < n; ++k)
            {
                uint32_t index = 0;
                if (!Int(&index) || index >= indexLimit) return false;
                faces->corners.push_back(index);
            }
        }
        return true;
    }

    bool Vectors(std::vector<Float3>* out, uint32_t* count)
    {
        if (!Int(count)) return false;
        out->reserve(std::min(*count, kMaxReserve));
        for (uint32_t i = 0; i < *count; ++i)
        {
            Float3 v;
            if (!Float(&v.x) || !Float(&v.y) || !Float(&v.z)) return false;
            out->push_back(v);
        }
        return true;
    }

    bool MeshObject()
    {
        if (!Open(nullptr)) return false;
        std::vector<Float3> positions;
        uint32_t vertexCount = 0;
        FaceList faces;
        if (!Vectors(&positions, &vertexCount) || !Faces(&faces, vertexCount)) return false;

        std::vector<Float3> normals;
        FaceList normalFaces;
        bool hasNormals = false;
        std::vector<float> texcoords;
        std::vector<DWORD> colors;
        std::vector<uint32_t> materialIds;
        std::vector<Material> materials;
        bool hasMaterials = false;
        Declared declared;
        bool ok = Children(
            [&](std::string_view id)
            {
                // A second list of a kind replaces the first.
                if (id == "MeshNormals")
                {
                    uint32_t n = 0;
                    hasNormals = true;
                    normals.clear();
                    normalFaces = FaceList();
                    return Open(nullptr) && Vectors(&normals, &n) && Faces(&normalFaces, n) && NoChildren();
                }
                if (id == "MeshTextureCoords")
                {
                    uint32_t n = 0;
                    if (!Open(nullptr) || !Int(&n)) return false;
                    texcoords.assign(size_t(vertexCount) * 2, 0.0f);
                    for (uint32_t i = 0; i < n; ++i)
                    {
                        float uv[2];
                        if (!Floats(uv, 2)) return false;
                        if (i < vertexCount)
                        {
                            texcoords[2 * i] = uv[0];
                            texcoords[2 * i + 1] = uv[1];
                        }
                    }
                    return NoChildren();
                }
                if (id == "MeshVertexColors")
                {
                    uint32_t n = 0;
                    if (!Open(nullptr) || !Int(&n)) return false;
                    colors.assign(vertexCount, 0xFFFFFFFFu);
                    for (uint32_t i = 0; i < n; ++i)
                    {
                        uint32_t index = 0;
                        float c[4];
                        if (!Int(&index) || !Floats(c, 4)) return false;
                        if (index < vertexCount) colors[index] = PackColor(c);
                    }
                    return NoChildren();
                }
                if (id == "MeshMaterialList")
                {
                    hasMaterials = true;
                    return MaterialList(&materialIds, &materials);
                }
                if (id == "DeclData") return DeclData(vertexCount, &declared);
                return SkipObject();
            },
            [](std::string_view) {});
        if (!ok) return false;
        // Exporters that write vertex declarations may give normals, texture coordinates and colours
        // only there, one per vertex.
        if (!hasNormals && !declared.normals.empty())
        {
            hasNormals = true;
            normals = std::move(declared.normals);
            normalFaces = faces;
        }
        if (texcoords.empty()) texcoords = std::move(declared.texcoords);
        if (colors.empty()) colors = std::move(declared.colors);
        return BuildMesh(positions, faces, normals, normalFaces, hasNormals, texcoords, colors, materialIds,
                         std::move(materials), hasMaterials);
    }

    struct Declared
    {
        std::vector<Float3> normals;
        std::vector<float> texcoords;
        std::vector<DWORD> colors;
    };

    // DeclData: vertex elements {type, method, usage, usage index}, then the vertices' DWORDs. The
    // per-vertex normal (FLOAT3), first texture coordinate (FLOAT2) and first colour (D3DCOLOR) are
    // taken; everything else is read past.
    bool DeclData(uint32_t vertexCount, Declared* out)
    {
        struct Element
        {
            uint32_t type, usage, index, offset;
        };
        // DWORDs per element type, FLOAT1 (0) to FLOAT16_4 (16).
        static constexpr uint8_t kWidth[] = {1, 2, 3, 4, 1, 1, 1, 2, 1, 1, 2, 1, 2, 1, 1, 1, 2};
        uint32_t elementCount = 0;
        if (!Open(nullptr) || !Int(&elementCount) || elementCount > 64) return false;
        std::vector<Element> elements;
        uint32_t stride = 0;
        for (uint32_t i = 0; i < elementCount; ++i)
        {
            uint32_t type = 0, method = 0, usage = 0, index = 0;
            if (!Int(&type) || !Int(&method) || !Int(&usage) || !Int(&index) || type >= std::size(kWidth))
                return false;
            elements.push_back({type, usage, index, stride});
            stride += kWidth[type];
        }
        uint32_t count = 0;
        if (!Int(&count)) return false;
        std::vector<uint32_t> data;
        data.reserve(std::min(count, kMaxReserve));
        for (uint32_t i = 0; i < count; ++i)
        {
            uint32_t v = 0;
            if (!Int(&v)) return false;
            data.push_back(v);
        }
        if (!NoChildren()) return false;
        if (stride == 0 || uint64_t(stride) * vertexCount != count) return true;
        auto value = [&](uint32_t vertex, const Element& e, int k)
        {
            float f = 0;
            std::memcpy(&f, &data[size_t(vertex) * stride + e.offset + k], 4);
            return std::isfinite(f) ? f : 0.0f;
        };
        for (const Element& e : elements)
        {
            if (e.usage == 3 && e.type == 2 && out->normals.empty()) // NORMAL, FLOAT3
                for (uint32_t v = 0; v < vertexCount; ++v)
                    out->normals.push_back({value(v, e, 0), value(v, e, 1), value(v, e, 2)});
            if (e.usage == 5 && e.index == 0 && e.type == 1 && out->texcoords.empty()) // TEXCOORD0, FLOAT2
                for (uint32_t v = 0; v < vertexCount; ++v)
                {
                    out->texcoords.push_back(value(v, e, 0));
                    out->texcoords.push_back(value(v, e, 1));
                }
            if (e.usage == 10 && e.index == 0 && e.type == 4 && out->colors.empty()) // COLOR0, D3DCOLOR
                for (uint32_t v = 0; v < vertexCount; ++v)
                    out->colors.push_back(data[size_t(v) * stride + e.offset]);
        }
        return true;
    }

    bool MaterialList(std::vector<uint32_t>* ids, std::vector<Material>* materials)
    {
        uint32_t materialCount = 0, idCount = 0;
        ids->clear();
        materials->clear();
        if (!Open(nullptr) || !Int(&materialCount) || !Int(&idCount)) return false;
        ids->reserve(std::min(idCount, kMaxReserve));
        for (uint32_t i = 0; i < idCount; ++i)
        {
            uint32_t id = 0;
            if (!Int(&id)) return false;
            if (id >= materialCount) return false; // a face of a material the list does not have
            ids->push_back(id);
        }
        bool ok = Children(
            [&](std::string_view id)
            {
                if (id != "Material") return SkipObject();
                std::string_view name;
                Material m;
                if (!Open(&name) || !MaterialBody(&m)) return false;
                if (!name.empty()) named_[std::string(name)] = m;
                materials->push_back(std::move(m));
                return true;
            },
            [&](std::string_view name)
            {
                auto it = named_.find(std::string(name));
                materials->push_back(it != named_.end() ? it->second : DefaultMaterial());
            });
        if (!ok) return false;
        // The declared count rules: missing materials are default ones, extra ones are dropped. A
        // count far past the materials given is damage, not a list.
        if (materials->size() > materialCount) materials->resize(materialCount);
        if (materialCount - materials->size() > kMaxMissingMaterials) return false;
        while (materials->size() < materialCount)
            materials->push_back(DefaultMaterial());
        return true;
    }

    bool MaterialBody(Material* m)
    {
        float face[4], power = 0, specular[3], emissive[3];
        if (!Floats(face, 4) || !Float(&power) || !Floats(specular, 3) || !Floats(emissive, 3)) return false;
        m->material.Diffuse = Color(face[0], face[1], face[2], face[3]);
        m->material.Power = power;
        m->material.Specular = Color(specular[0], specular[1], specular[2], 1.0f);
        m->material.Emissive = Color(emissive[0], emissive[1], emissive[2], 1.0f);
        return Children(
            [&](std::string_view id)
            {
                if (id == "TextureFilename" || id == "TextureFileName")
                {
                    std::string_view name;
                    if (!Open(nullptr) || !String(&name)) return false;
                    m->texture.assign(name);
                    return NoChildren();
                }
                if (id == "EffectInstance") return EffectInstance(m);
                return SkipObject();
            },
            [](std::string_view) {});
    }

    bool EffectInstance(Material* m)
    {
        std::string_view file;
        if (!Open(nullptr) || !String(&file)) return false;
        m->hasEffect = true;
        m->effectFile.assign(file);
        return Children(
            [&](std::string_view id)
            {
                EffectDefault d;
                std::string_view name;
                if (id == "EffectParamString")
                {
                    std::string_view value;
                    if (!Open(nullptr) || !String(&name) || !String(&value)) return false;
                    d.type = 1; // D3DXEDT_STRING
                    d.value.assign(value.begin(), value.end());
                    d.value.push_back(0);
                }
                else if (id == "EffectParamFloats")
                {
                    uint32_t n = 0;
                    if (!Open(nullptr) || !String(&name) || !Int(&n)) return false;
                    d.type = 2; // D3DXEDT_FLOATS
                    for (uint32_t i = 0; i < n; ++i)
                    {
                        float f = 0;
                        if (!Float(&f)) return false;
                        const auto* b = reinterpret_cast<const uint8_t*>(&f);
                        d.value.insert(d.value.end(), b, b + 4);
                    }
                }
                else if (id == "EffectParamDWord")
                {
                    uint32_t v = 0;
                    if (!Open(nullptr) || !String(&name) || !Int(&v)) return false;
                    d.type = 3; // D3DXEDT_DWORD
                    const auto* b = reinterpret_cast<const uint8_t*>(&v);
                    d.value.assign(b, b + 4);
                }
                else
                    return SkipObject();
                d.name.assign(name);
                m->defaults.push_back(std::move(d));
                return NoChildren();
            },
            [](std::string_view) {});
    }

    // ---- building ---------------------------------------------------------------------------------
    bool BuildMesh(const std::vector<Float3>& positions, const FaceList& faces,
                   const std::vector<Float3>& normals, const FaceList& normalFaces, bool hasNormals,
                   const std::vector<float>& texcoords, const std::vector<DWORD>& colors,
                   const std::vector<uint32_t>& materialIds, std::vector<Material> materials,
                   bool hasMaterials)
    {
        const uint32_t vertexCount = static_cast<uint32_t>(positions.size());
        const size_t faceCount = faces.counts.size();
        // Normals are indexed per face corner; they must describe the same faces.
        if (hasNormals && normalFaces.counts != faces.counts) return false;

        Mesh mesh;
        mesh.positions = positions;
        mesh.hasNormals = hasNormals;
        mesh.hasTexcoords = !texcoords.empty();
        mesh.hasColors = !colors.empty();
        mesh.texcoords = texcoords;
        mesh.colors = colors;
        if (hasNormals) mesh.normals.assign(vertexCount, Float3{0, 0, 0});

        // A vertex used with two normals becomes two vertices.
        constexpr uint32_t kUnset = 0xFFFFFFFF;
        std::vector<uint32_t> firstNormal(hasNormals ? vertexCount : 0, kUnset);
        std::unordered_map<uint64_t, uint32_t> splits;
        auto corner = [&](size_t c) -> uint32_t
        {
            const uint32_t v = faces.corners[c];
            if (!hasNormals) return v;
            const uint32_t n = normalFaces.corners[c];
            if (firstNormal[v] == kUnset)
            {
                firstNormal[v] = n;
                mesh.normals[v] = normals[n];
                return v;
            }
            if (firstNormal[v] == n) return v;
            auto [it, added] = splits.try_emplace((uint64_t(v) << 32) | n, uint32_t(mesh.positions.size()));
            if (added)
            {
                mesh.positions.push_back(positions[v]);
                mesh.normals.push_back(normals[n]);
                if (mesh.hasTexcoords)
                {
                    mesh.texcoords.push_back(texcoords[2 * v]);
                    mesh.texcoords.push_back(texcoords[2 * v + 1]);
                }
                if (mesh.hasColors) mesh.colors.push_back(colors[v]);
            }
            return it->second;
        };

        mesh.indices.reserve(std::min<size_t>(faces.corners.size(), kMaxReserve) * 3);
        size_t c = 0;
        for (size_t f = 0; f < faceCount; ++f)
        {
            const uint32_t n = faces.counts[f];
            // Polygons become fans around their first corner; points and lines draw nothing.
            if (n >= 3)
            {
                const uint32_t first = corner(c);
                uint32_t previous = corner(c + 1);
                for (uint32_t k = 2; k < n; ++k)
                {
                    const uint32_t next = corner(c + k);
                    mesh.indices.insert(mesh.indices.end(), {first, previous, next});
                    previous = next;
                    if (hasMaterials)
                    {
                        // Faces past the list take its last entry.
                        uint32_t id = 0;
                        if (!materialIds.empty()) id = materialIds[std::min(f, materialIds.size() - 1)];
                        mesh.faceMaterials.push_back(id);
                    }
                }
            }
            c += n;
        }
        if (hasMaterials)
        {
            if (materials.empty()) materials.push_back(DefaultMaterial());
            mesh.materials = std::move(materials);
        }
        scene_->meshes.push_back(std::move(mesh));
        return true;
    }

    Lexer& lx_;
    Scene* scene_ = nullptr;
    int depth_ = 0;
    std::unordered_map<std::string, std::vector<std::string>> templates_;
    std::unordered_map<std::string, Material> named_;
};
} // namespace

Material DefaultMaterial()
{
    Material m;
    m.material.Diffuse = Color(0.5f, 0.5f, 0.5f, 1.0f);
    m.material.Specular = Color(0.5f, 0.5f, 0.5f, 1.0f);
    return m;
}

HRESULT ParseXFile(const ByteReader& file, Scene* out)
{
    Header header;
    if (!ReadHeader(file, &header)) return D3DXERR_INVALIDDATA;
    ByteReader body;
    if (!file.Tail(kHeaderSize, &body)) return D3DXERR_INVALIDDATA;
    std::vector<uint8_t> inflated;
    if (header.compressed)
    {
        HRESULT hr = InflateBody(body, &inflated);
        if (FAILED(hr)) return hr;
        body = ByteReader(inflated.data(), inflated.size());
    }
    Lexer lexer(body, header.binary, header.doubles);
    Parser parser(lexer);
    return parser.Run(out);
}
} // namespace ferolt::d3dx9::xfile
