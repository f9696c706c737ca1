// Building one model from a parsed 3D Studio file: every mesh placed by its keyframer node (or only
// scaled, without a keyframer) into one vertex array, one subset per face-material group, the
// materials, light points from the spotlights and the keyframer's animation.
#include <new>

#include "engine/core/material.h"
#include "engine/core/owned_array.h"
#include "engine/scene/animation.h"
#include "engine/scene/model.h"
#include "engine/scene/model_3ds.h"

namespace LMK
{
namespace
{
constexpr float kInchesToUnits = 0.0254f;
constexpr float kPi = 3.1415927410125732f;

struct Record3DS
{
    std::string name;
    D3DXMATRIX transform;
    const Mesh3DS* mesh;
    int node; // position in the object node list, or -1
    D3DXMATRIX inverseAxes;
    D3DXMATRIX scaling;
};

D3DXMATRIX AxesOf(const Mesh3DS& mesh)
{
    const float* a = mesh.axes;
    return D3DXMATRIX(a[0], a[1], a[2], 0, a[3], a[4], a[5], 0, a[6], a[7], a[8], 0, a[9], a[10], a[11], 1);
}

const Mesh3DS* Find3DSNode(const Parsed3DS& parsed, const std::string& name)
{
    for (const Mesh3DS& mesh : parsed.meshes)
        if (mesh.name == name) return &mesh;
    return nullptr;
}

int Find3DSNodeIndex(const Parsed3DS& parsed, WORD id)
{
    for (size_t i = 0; i < parsed.objectNodes.size(); ++i)
        if (parsed.objectNodes[i].id == id) return static_cast<int>(i);
    return -1;
}

const Material3DS* Find3DSMaterial(const Parsed3DS& parsed, const std::string& name, DWORD* position)
{
    for (size_t i = 0; i < parsed.materials.size(); ++i)
        if (parsed.materials[i].name == name)
        {
            *position = static_cast<DWORD>(i);
            return &parsed.materials[i];
        }
    return nullptr;
}

// Scaling(rest scale) x RotationAxis(rest axis, -rest angle) x Translation(rest position).
D3DXMATRIX RestMatrix(const Node3DS& node)
{
    D3DXMATRIX scale, rotation, translation;
    D3DXMatrixScaling(&scale, node.restScale[0], node.restScale[1], node.restScale[2]);
    const D3DXVECTOR3 axis(node.restRotation[1], node.restRotation[2], node.restRotation[3]);
    D3DXMatrixRotationAxis(&rotation, &axis, -node.restRotation[0]);
    D3DXMatrixTranslation(&translation, node.restPosition[0], node.restPosition[1], node.restPosition[2]);
    return scale * rotation * translation;
}

// The node's rest matrix times its ancestors'; a parent chain that returns to itself stops there.
D3DXMATRIX Compute3DSNodeMatrix(const Parsed3DS& parsed, int node)
{
    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    for (size_t steps = 0; node >= 0 && steps < parsed.objectNodes.size(); ++steps)
    {
        const Node3DS& n = parsed.objectNodes[node];
        m = m * RestMatrix(n);
        node = n.parent == 0xFFFF ? -1 : Find3DSNodeIndex(parsed, n.parent);
    }
    return m;
}

std::vector<Record3DS> Build3DSNodeTransforms(Parsed3DS* parsed, BYTE ignoreKeyframer)
{
    const float s = parsed->masterScale * kInchesToUnits;
    D3DXMATRIX scaling;
    D3DXMatrixScaling(&scaling, s, s, s);
    std::vector<Record3DS> records;
    if (parsed->objectNodes.empty() || ignoreKeyframer)
    {
        for (const Mesh3DS& mesh : parsed->meshes)
        {
            D3DXMATRIX inverseAxes, axes = AxesOf(mesh);
            D3DXMatrixInverse(&inverseAxes, nullptr, &axes);
            records.push_back({mesh.name, scaling, &mesh, -1, inverseAxes, scaling});
        }
        return records;
    }
    // Mirrored meshes: the axes turn right-handed and the winding turns with them.
    for (Mesh3DS& mesh : parsed->meshes)
    {
        const D3DXMATRIX axes = AxesOf(mesh);
        if (D3DXMatrixDeterminant(&axes) >= 0.0f) continue;
        for (int i = 0; i < 3; ++i)
            mesh.axes[i] = -mesh.axes[i];
        for (Face3DS& face : mesh.faces)
            std::swap(face.b, face.c);
    }
    for (size_t i = 0; i < parsed->objectNodes.size(); ++i)
    {
        const Node3DS& node = parsed->objectNodes[i];
        if (node.name == "$$$DUMMY") continue;
        const Mesh3DS* mesh = Find3DSNode(*parsed, node.name);
        if (!mesh) continue;
        Record3DS record{mesh->name, {}, mesh, static_cast<int>(i), {}, scaling};
        if (!node.instance.empty()) record.name += "." + node.instance;
        const D3DXMATRIX axes = AxesOf(*mesh);
        D3DXMatrixInverse(&record.inverseAxes, nullptr, &axes);
        D3DXMATRIX pivot;
        D3DXMatrixTranslation(&pivot, -node.pivot[0], -node.pivot[1], -node.pivot[2]);
        record.transform = record.inverseAxes * pivot * RestMatrix(node);
        const int parent = node.parent == 0xFFFF ? -1 : Find3DSNodeIndex(*parsed, node.parent);
        if (parent >= 0) record.transform = record.transform * Compute3DSNodeMatrix(*parsed, parent);
        record.transform = record.transform * scaling;
        records.push_back(std::move(record));
    }
    return records;
}

// RotationZ(rotation) x T(offsets) x Scaling(u, v, 1) when the map moves its texture at all.
void Compute3DSTextureMatrix(const Map3DS& map, BYTE* present, TextureTransformStruct_TYP* out)
{
    if (map.uScale == 1.0f && map.vScale == 1.0f && map.uOffset == 0.0f && map.vOffset == 0.0f &&
        map.rotation == 0.0f)
        return;
    D3DXMATRIX rotation, offset, scale;
    D3DXMatrixRotationZ(&rotation, map.rotation / 180.0f * kPi);
    D3DXMatrixIdentity(&offset);
    offset._31 = map.uOffset;
    offset._32 = map.vOffset;
    D3DXMatrixScaling(&scale, map.uScale, map.vScale, 1.0f);
    const D3DXMATRIX m = rotation * offset * scale;
    *out = TextureTransformStruct_TYP{};
    out->matrix = m;
    *present = 1;
}

char* MapFile(const Map3DS& map)
{
    return map.present && !map.file.empty() ? const_cast<char*>(map.file.c_str()) : nullptr;
}

CountedPtr<Material_> Build3DSMaterial(const Material3DS& source)
{
    MaterialDescriptionStruct_TYP d{};
    D3DMATERIAL9& m = d.material;
    m.Diffuse = {source.diffuse[0], source.diffuse[1], source.diffuse[2], 1.0f};
    float alpha = source.transparency < 0.0f ? -source.transparency : 1.0f - source.transparency;
    if (alpha < 0.1f) alpha = 0.1f;
    if (alpha > 0.9f) alpha = 1.0f;
    m.Diffuse.a = alpha;
    if (source.hasAmbient)
        m.Ambient = {source.ambient[0], source.ambient[1], source.ambient[2], 1.0f};
    else
    {
        m.Ambient = {0.3f * m.Diffuse.r, 0.3f * m.Diffuse.g, 0.3f * m.Diffuse.b, 1.0f};
        m.Diffuse.r *= 0.7f;
        m.Diffuse.g *= 0.7f;
        m.Diffuse.b *= 0.7f;
    }
    const float strength = source.shininessStrength;
    m.Specular = {strength * source.specular[0], strength * source.specular[1], strength * source.specular[2],
                  1.0f};
    m.Power = source.shininess * source.shininess * 100.0f;
    if (source.selfIlluminated && source.selfIllumination != 0.0f)
        m.Emissive = {source.selfIllumination * m.Diffuse.r, source.selfIllumination * m.Diffuse.g,
                      source.selfIllumination * m.Diffuse.b, source.selfIllumination * m.Diffuse.a};
    d.name = const_cast<char*>(source.name.c_str());
    d.baseFile = MapFile(source.texture);
    d.reflectionFile = MapFile(source.reflection);
    d.bumpFile = MapFile(source.bump);
    if (d.baseFile) Compute3DSTextureMatrix(source.texture, &d.baseTransformPresent, &d.baseTransform);
    if (d.reflectionFile)
        Compute3DSTextureMatrix(source.reflection, &d.reflectionTransformPresent, &d.reflectionTransform);
    if (d.bumpFile) Compute3DSTextureMatrix(source.bump, &d.bumpTransformPresent, &d.bumpTransform);
    const float texturePercent = source.texture.present ? source.texture.percent : 0.0f;
    const float reflectionPercent = source.reflection.present ? source.reflection.percent : 0.0f;
    const float sum = texturePercent + reflectionPercent;
    d.reflectionWeight = sum == 0.0f ? 0.5f : reflectionPercent / sum;
    d.bumpHeight = 1.0f;
    d.keepDiffuse = texturePercent <= 0.5f ? 1 : 0;
    d.alphaTest = source.texture.present && source.opacity.present && !source.texture.file.empty() &&
                          source.texture.file == source.opacity.file
                      ? 1
                      : 0;
    d.twoSided = source.twoSided ? 1 : 0;
    return NewCounted<Material_>(&d, nullptr);
}

struct SubsetFaces
{
    const FaceGroup3DS* group; // null: all faces
};
} // namespace

namespace
{
// The vertices, faces and subsets of the records, in record order: one subset per face group, or one
// of all faces for a mesh without groups.
class Geometry3DS
{
public:
    Geometry3DS(const Parsed3DS& parsed, const std::vector<CountedPtr<Material_>>& materials)
        : parsed_(parsed), materials_(materials)
    {
    }

    void AddRecord(const Record3DS& r, DWORD recordIndex)
    {
        const Mesh3DS& mesh = *r.mesh;
        const DWORD base = static_cast<DWORD>(vertices.size());
        if (mesh.groups.empty())
        {
            OpenSubset(nullptr, kNoSourceIndex, recordIndex);
            for (size_t f = 0; f < mesh.faces.size(); ++f)
                AddFace(mesh, f, base);
            CloseSubset();
        }
        for (const FaceGroup3DS& group : mesh.groups)
        {
            DWORD position = kNoSourceIndex;
            const Material3DS* material = Find3DSMaterial(parsed_, group.material, &position);
            OpenSubset(material ? materials_[position].get() : nullptr, position, recordIndex);
            for (WORD f : group.faces)
                AddFace(mesh, f, base);
            CloseSubset();
        }
        AddVertices(mesh, r.transform);
    }

    std::vector<RawVertexStruct_TYP> vertices;
    std::vector<DWORD> indices;
    std::vector<SubsetStruct_TYP> subsets;

private:
    // A face whose corner is not a vertex, or a group entry that is not a face, is left out.
    void AddFace(const Mesh3DS& mesh, size_t f, DWORD base)
    {
        const size_t vertexCount = mesh.vertices.size() / 3;
        if (f >= mesh.faces.size()) return;
        const Face3DS& face = mesh.faces[f];
        if (face.a >= vertexCount || face.b >= vertexCount || face.c >= vertexCount) return;
        indices.insert(indices.end(), {base + face.a, base + face.b, base + face.c});
    }

    void OpenSubset(Material_* material, DWORD materialPosition, DWORD recordIndex)
    {
        SubsetStruct_TYP subset{};
        subset.firstFace = static_cast<DWORD>(indices.size() / 3);
        subset.material = material;
        subset.sourceIndex = recordIndex;
        subset.sourceIndex2 = kNoSourceIndex;
        subset.sourceIndex3 = materialPosition;
        subsets.push_back(subset);
    }

    void CloseSubset()
    {
        SubsetStruct_TYP& subset = subsets.back();
        subset.faceCount = static_cast<DWORD>(indices.size() / 3) - subset.firstFace;
        if (subset.faceCount == 0) subsets.pop_back();
    }

    void AddVertices(const Mesh3DS& mesh, const D3DXMATRIX& transform)
    {
        const size_t vertexCount = mesh.vertices.size() / 3;
        const bool textured = !mesh.texture.empty();
        const size_t textureCount = mesh.texture.size() / 2;
        for (size_t v = 0; v < vertexCount; ++v)
        {
            RawVertexStruct_TYP vertex{};
            const D3DXVECTOR3 position(mesh.vertices[3 * v], mesh.vertices[3 * v + 1],
                                       mesh.vertices[3 * v + 2]);
            D3DXVECTOR3 placed;
            D3DXVec3TransformCoord(&placed, &position, &transform);
            vertex.position[0] = placed.x;
            vertex.position[1] = placed.y;
            vertex.position[2] = placed.z;
            // Fewer coordinates than vertices (read before the vertices) leave the rest at 0.
            if (textured && v < textureCount)
            {
                vertex.u = mesh.texture[2 * v];
                vertex.v = mesh.texture[2 * v + 1];
            }
            vertices.push_back(vertex);
        }
    }

    const Parsed3DS& parsed_;
    const std::vector<CountedPtr<Material_>>& materials_;
};

// The spot lights that are on, as light points in model units.
std::vector<RawLightPointStruct_TYP> Build3DSLightPoints(const Parsed3DS& parsed)
{
    const float s = parsed.masterScale * kInchesToUnits;
    std::vector<RawLightPointStruct_TYP> lightPoints;
    for (const Light3DS& light : parsed.lights)
    {
        if (light.off || !light.spot) continue;
        RawLightPointStruct_TYP point{};
        for (int i = 0; i < 3; ++i)
        {
            point.color[i] = light.color[i] * light.multiplier;
            point.position[i] = light.position[i] * s;
        }
        lightPoints.push_back(point);
    }
    return lightPoints;
}

// The keyframer's animation of the records' nodes, or null when it cannot be made.
Animation_* Build3DSAnimation(const Parsed3DS& parsed, const std::vector<Record3DS>& records,
                              const std::vector<DWORD>& recordNodes)
{
    std::vector<Placement3DS> placements(parsed.objectNodes.size());
    for (const Record3DS& r : records)
    {
        Placement3DS& placement = placements[r.node];
        D3DXMATRIX inverse;
        D3DXMatrixInverse(&inverse, nullptr, &r.transform);
        placement.present = true;
        placement.pre = inverse * r.inverseAxes;
        placement.post = r.scaling;
    }
    AnimationReference made(new Animation_());
    if (FAILED(made.get()->CreateFrom3DS(parsed.objectNodes.data(),
                                         static_cast<DWORD>(parsed.objectNodes.size()), placements.data(),
                                         recordNodes.data(), static_cast<DWORD>(recordNodes.size()))))
        return nullptr;
    return made.Take();
}
} // namespace

HRESULT Build3DSModel(Parsed3DS* parsed, BYTE ignoreKeyframer, LoadRecordStruct_TYP* record, Model_** out)
{
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!parsed) return E_INVALIDARG;
    const std::vector<Record3DS> records = Build3DSNodeTransforms(parsed, ignoreKeyframer);
    if (records.empty()) return E_FAIL;

    // One reference of each material made for the build; the subsets take their own.
    std::vector<CountedPtr<Material_>> materials;
    materials.reserve(parsed->materials.size()); // so that no material is made without its owner
    for (const Material3DS& material : parsed->materials)
        materials.emplace_back(Build3DSMaterial(material));

    Geometry3DS geometry(*parsed, materials);
    // The node of each record: subsets look their node up by their source index, the record's.
    std::vector<DWORD> recordNodes;
    const bool withNodes = !ignoreKeyframer && !parsed->objectNodes.empty();
    for (size_t j = 0; j < records.size(); ++j)
    {
        recordNodes.push_back(withNodes && records[j].node >= 0 ? static_cast<DWORD>(records[j].node) : 0);
        geometry.AddRecord(records[j], static_cast<DWORD>(j));
    }
    if (geometry.vertices.empty() || geometry.indices.empty() || geometry.subsets.empty()) return E_FAIL;

    const std::vector<RawLightPointStruct_TYP> lightPoints = Build3DSLightPoints(*parsed);
    AnimationReference animation(withNodes ? Build3DSAnimation(*parsed, records, recordNodes) : nullptr);

    HRESULT hr = E_FAIL;
    ModelBuildInputStruct_TYP input = MeshBuildInput(geometry.vertices, geometry.indices, geometry.subsets);
    input.keepNormals = 1;
    input.animation = animation.get();
    input.lightPointCount = static_cast<DWORD>(lightPoints.size());
    input.lightPoints = lightPoints.empty() ? nullptr : lightPoints.data();
    input.optimizeForVertexCache = 1;
    CountedPtr<Model_> model = NewCounted<Model_>(input, record, &hr);
    if (!model) return E_OUTOFMEMORY;
    *out = model.release();
    return hr;
}
} // namespace LMK
