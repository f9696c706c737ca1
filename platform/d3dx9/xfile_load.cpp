// D3DXLoadMeshFromXInMemory: the meshes of an X file joined into one D3DX mesh with its materials.
#include <cstring>

#include "platform/d3dx9/d3dx9mesh.h"
#include "platform/d3dx9/xfile_scene.h"
#include "platform/d3d9/validation.h"

using ferolt::validation::Refuse;

namespace
{
using ferolt::d3dx9::xfile::Material;
using ferolt::d3dx9::xfile::Scene;

// Strings and records of one buffer, laid out before it is made.
class BufferLayout
{
public:
    size_t Reserve(size_t bytes)
    {
        const size_t at = (size_ + 7) & ~size_t(7);
        size_ = at + bytes;
        return at;
    }
    size_t Size() const { return size_; }

private:
    size_t size_ = 0;
};

char* PutString(BYTE* base, size_t at, const std::string& text)
{
    char* p = reinterpret_cast<char*>(base + at);
    std::memcpy(p, text.c_str(), text.size() + 1);
    return p;
}

HRESULT MakeMaterials(const std::vector<const Material*>& materials, ID3DXBuffer** out)
{
    BufferLayout layout;
    const size_t records = layout.Reserve(materials.size() * sizeof(D3DXMATERIAL));
    std::vector<size_t> names(materials.size());
    for (size_t i = 0; i < materials.size(); ++i)
        if (!materials[i]->texture.empty()) names[i] = layout.Reserve(materials[i]->texture.size() + 1);
    HRESULT hr = D3DXCreateBuffer(static_cast<DWORD>(layout.Size()), out);
    if (FAILED(hr)) return hr;
    BYTE* base = static_cast<BYTE*>((*out)->GetBufferPointer());
    auto* record = reinterpret_cast<D3DXMATERIAL*>(base + records);
    for (size_t i = 0; i < materials.size(); ++i)
    {
        record[i].MatD3D = materials[i]->material;
        record[i].pTextureFilename =
            materials[i]->texture.empty() ? nullptr : PutString(base, names[i], materials[i]->texture);
    }
    return S_OK;
}

HRESULT MakeEffectInstances(const std::vector<const Material*>& materials, ID3DXBuffer** out)
{
    // A material without an effect instance describes its texture as the default effect's texture.
    std::vector<std::vector<ferolt::d3dx9::xfile::EffectDefault>> defaults(materials.size());
    for (size_t i = 0; i < materials.size(); ++i)
    {
        defaults[i] = materials[i]->defaults;
        if (!materials[i]->hasEffect && !materials[i]->texture.empty())
        {
            ferolt::d3dx9::xfile::EffectDefault d;
            d.name = "Texture0@Name";
            d.type = D3DXEDT_STRING;
            d.value.assign(materials[i]->texture.begin(), materials[i]->texture.end());
            d.value.push_back(0);
            defaults[i].push_back(std::move(d));
        }
    }
    BufferLayout layout;
    const size_t records = layout.Reserve(materials.size() * sizeof(D3DXEFFECTINSTANCE));
    struct Place
    {
        size_t file = 0, table = 0;
        std::vector<size_t> names, values;
    };
    std::vector<Place> places(materials.size());
    for (size_t i = 0; i < materials.size(); ++i)
    {
        Place& p = places[i];
        if (materials[i]->hasEffect) p.file = layout.Reserve(materials[i]->effectFile.size() + 1);
        p.table = layout.Reserve(defaults[i].size() * sizeof(D3DXEFFECTDEFAULT));
        for (const auto& d : defaults[i])
        {
            p.names.push_back(layout.Reserve(d.name.size() + 1));
            p.values.push_back(layout.Reserve(d.value.size()));
        }
    }
    HRESULT hr = D3DXCreateBuffer(static_cast<DWORD>(layout.Size()), out);
    if (FAILED(hr)) return hr;
    BYTE* base = static_cast<BYTE*>((*out)->GetBufferPointer());
    auto* record = reinterpret_cast<D3DXEFFECTINSTANCE*>(base + records);
    for (size_t i = 0; i < materials.size(); ++i)
    {
        const Place& p = places[i];
        record[i].pEffectFilename =
            materials[i]->hasEffect ? PutString(base, p.file, materials[i]->effectFile) : nullptr;
        record[i].NumDefaults = static_cast<DWORD>(defaults[i].size());
        record[i].pDefaults =
            defaults[i].empty() ? nullptr : reinterpret_cast<D3DXEFFECTDEFAULT*>(base + p.table);
        for (size_t k = 0; k < defaults[i].size(); ++k)
        {
            const auto& d = defaults[i][k];
            D3DXEFFECTDEFAULT& e = record[i].pDefaults[k];
            e.pParamName = PutString(base, p.names[k], d.name);
            e.Type = static_cast<D3DXEFFECTDEFAULTTYPE>(d.type);
            e.NumBytes = static_cast<DWORD>(d.value.size());
            e.pValue = base + p.values[k];
            if (!d.value.empty()) std::memcpy(e.pValue, d.value.data(), d.value.size());
        }
    }
    return S_OK;
}

HRESULT FillMesh(const Scene& scene, ID3DXMesh* mesh, const std::vector<DWORD>& materialBase)
{
    ferolt::d3dx9::FvfLayout layout;
    if (!ferolt::d3dx9::ParseFvf(mesh->GetFVF(), &layout)) return E_FAIL;
    BYTE* vertices = nullptr;
    HRESULT hr = mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&vertices));
    if (FAILED(hr)) return hr;
    for (const auto& m : scene.meshes)
    {
        for (size_t v = 0; v < m.positions.size(); ++v)
        {
            BYTE* out = vertices;
            vertices += layout.stride;
            std::memcpy(out + layout.position, &m.positions[v], 12);
            if (layout.normal >= 0)
            {
                const ferolt::d3dx9::Float3 n = m.hasNormals ? m.normals[v] : ferolt::d3dx9::Float3{0, 0, 0};
                std::memcpy(out + layout.normal, &n, 12);
            }
            if (layout.diffuse >= 0)
            {
                const DWORD c = m.hasColors ? m.colors[v] : 0xFFFFFFFFu;
                std::memcpy(out + layout.diffuse, &c, 4);
            }
            if (layout.texCount > 0)
            {
                const float uv[2] = {m.hasTexcoords ? m.texcoords[2 * v] : 0.0f,
                                     m.hasTexcoords ? m.texcoords[2 * v + 1] : 0.0f};
                std::memcpy(out + layout.texOffset[0], uv, 8);
            }
        }
    }
    mesh->UnlockVertexBuffer();

    void* indexData = nullptr;
    hr = mesh->LockIndexBuffer(0, &indexData);
    if (FAILED(hr)) return hr;
    const bool wide = (mesh->GetOptions() & D3DXMESH_32BIT) != 0;
    size_t at = 0;
    uint32_t base = 0;
    for (const auto& m : scene.meshes)
    {
        for (uint32_t index : m.indices)
        {
            if (wide)
                static_cast<uint32_t*>(indexData)[at++] = index + base;
            else
                static_cast<uint16_t*>(indexData)[at++] = static_cast<uint16_t>(index + base);
        }
        base += static_cast<uint32_t>(m.positions.size());
    }
    mesh->UnlockIndexBuffer();

    DWORD* ids = nullptr;
    hr = mesh->LockAttributeBuffer(0, &ids);
    if (FAILED(hr)) return hr;
    for (size_t i = 0; i < scene.meshes.size(); ++i)
    {
        const auto& m = scene.meshes[i];
        const size_t triangles = m.indices.size() / 3;
        for (size_t f = 0; f < triangles; ++f)
            *ids++ = materialBase[i] + (m.faceMaterials.empty() ? 0 : m.faceMaterials[f]);
    }
    mesh->UnlockAttributeBuffer();
    return S_OK;
}
} // namespace

HRESULT D3DXLoadMeshFromXInMemory(const void* Memory, DWORD SizeOfMemory, DWORD Options,
                                  IDirect3DDevice9* pD3DDevice, LPD3DXBUFFER* ppAdjacency,
                                  LPD3DXBUFFER* ppMaterials, LPD3DXBUFFER* ppEffectInstances,
                                  DWORD* pNumMaterials, LPD3DXMESH* ppMesh)
{
    if (ppAdjacency) *ppAdjacency = nullptr;
    if (ppMaterials) *ppMaterials = nullptr;
    if (ppEffectInstances) *ppEffectInstances = nullptr;
    if (pNumMaterials) *pNumMaterials = 0;
    if (ppMesh) *ppMesh = nullptr;
    if (!Memory || !SizeOfMemory || !pD3DDevice || !ppMesh)
        return Refuse("D3DXLoadMeshFromXInMemory.NullPointer");

    Scene scene;
    HRESULT hr = ferolt::d3dx9::xfile::ParseXFile(ferolt::ByteReader(Memory, SizeOfMemory), &scene);
    if (FAILED(hr)) return hr;

    // The joined mesh's layout and material list. Meshes without a material list share one default
    // material, so every face has one.
    size_t vertexCount = 0, faceCount = 0;
    bool normals = false, colors = false, texcoords = false, anyWithout = false;
    for (const auto& m : scene.meshes)
    {
        vertexCount += m.positions.size();
        faceCount += m.indices.size() / 3;
        normals |= m.hasNormals;
        colors |= m.hasColors;
        texcoords |= m.hasTexcoords;
        anyWithout |= m.materials.empty();
    }
    if (faceCount == 0 || vertexCount == 0) return D3DXERR_LOADEDMESHASNODATA;
    if (vertexCount > 0xFFFFFFFEu || faceCount > 0xFFFFFFFFu / 3) return D3DXERR_INVALIDDATA;

    std::vector<const Material*> materials;
    std::vector<DWORD> materialBase(scene.meshes.size(), 0);
    const Material fallback = ferolt::d3dx9::xfile::DefaultMaterial();
    for (size_t i = 0; i < scene.meshes.size(); ++i)
    {
        materialBase[i] = static_cast<DWORD>(materials.size());
        for (const Material& m : scene.meshes[i].materials)
            materials.push_back(&m);
    }
    if (anyWithout)
    {
        for (size_t i = 0; i < scene.meshes.size(); ++i)
            if (scene.meshes[i].materials.empty()) materialBase[i] = static_cast<DWORD>(materials.size());
        materials.push_back(&fallback);
    }

    DWORD fvf = D3DFVF_XYZ;
    if (normals) fvf |= D3DFVF_NORMAL;
    if (colors) fvf |= D3DFVF_DIFFUSE;
    if (texcoords) fvf |= D3DFVF_TEX1;
    // Indices widen when the vertices do not fit 16 bits.
    if (vertexCount > 0xFFFF) Options |= D3DXMESH_32BIT;

    ID3DXMesh* mesh = nullptr;
    hr = D3DXCreateMeshFVF(static_cast<DWORD>(faceCount), static_cast<DWORD>(vertexCount), Options, fvf,
                           pD3DDevice, &mesh);
    if (FAILED(hr)) return hr;
    hr = FillMesh(scene, mesh, materialBase);

    ID3DXBuffer* adjacency = nullptr;
    ID3DXBuffer* materialBuffer = nullptr;
    ID3DXBuffer* effects = nullptr;
    if (SUCCEEDED(hr) && ppAdjacency)
    {
        hr = D3DXCreateBuffer(static_cast<DWORD>(faceCount * 3 * sizeof(DWORD)), &adjacency);
        if (SUCCEEDED(hr))
            hr = mesh->GenerateAdjacency(0.0f, static_cast<DWORD*>(adjacency->GetBufferPointer()));
    }
    if (SUCCEEDED(hr) && ppMaterials) hr = MakeMaterials(materials, &materialBuffer);
    if (SUCCEEDED(hr) && ppEffectInstances) hr = MakeEffectInstances(materials, &effects);
    if (FAILED(hr))
    {
        for (IUnknown* p : {static_cast<IUnknown*>(mesh), static_cast<IUnknown*>(adjacency),
                            static_cast<IUnknown*>(materialBuffer), static_cast<IUnknown*>(effects)})
            if (p) p->Release();
        return hr;
    }
    if (ppAdjacency) *ppAdjacency = adjacency;
    if (ppMaterials) *ppMaterials = materialBuffer;
    if (ppEffectInstances) *ppEffectInstances = effects;
    if (pNumMaterials) *pNumMaterials = static_cast<DWORD>(materials.size());
    *ppMesh = mesh;
    return S_OK;
}
