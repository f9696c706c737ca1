#include "engine/scene/model_constructor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "engine/core/material.h"

namespace LMK
{
namespace
{
constexpr DWORD kMaxIndexSpan = 0x100000;
constexpr float kChainJoinDistance2 = 1e-10f;
constexpr float kCapFaceArea2 = 5e-9f;
constexpr float kShortEdge2 = 1e-9f;
constexpr float kDegenerateNormal = 1e-6f;
constexpr float kPlanarDot = 0.9999f;
// Vertices weld when their positions and coordinates fall into the same cell of this grid. A grid
// keeps the order a strict weak one, which a plain tolerance would not be (a ~ b and b ~ c, yet a < c).
constexpr double kWeldCellsPerUnit = 1e5;

void AddRefMaterial(Material_* m)
{
    if (m) m->AddRef();
}

void ReleaseMaterial(Material_* m)
{
    if (m) m->Release();
}

D3DXVECTOR3 Position(const RawVertexStruct_TYP& v)
{
    return D3DXVECTOR3(v.position[0], v.position[1], v.position[2]);
}

float Length2(const D3DXVECTOR3& d)
{
    return D3DXVec3Dot(&d, &d);
}

D3DXVECTOR3 Normalized(const D3DXVECTOR3& d)
{
    const float length = std::sqrt(Length2(d));
    return length > 0.0f ? d / length : D3DXVECTOR3(0, 0, 0);
}

// NaN goes to one end, so that every value has a place in the order.
double Cell(float value)
{
    if (std::isnan(value)) return std::numeric_limits<double>::infinity();
    return std::floor(static_cast<double>(value) * kWeldCellsPerUnit);
}

int CompareUnsigned(uintptr_t a, uintptr_t b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

// The point where the edge from vj to vi crosses the plane, di and dj their plane values.
RawVertexStruct_TYP Crossing(const RawVertexStruct_TYP& vi, const RawVertexStruct_TYP& vj, float di, float dj)
{
    const float t = dj / (dj - di);
    RawVertexStruct_TYP p{};
    for (int k = 0; k < 3; ++k)
        p.position[k] = vj.position[k] + t * (vi.position[k] - vj.position[k]);
    p.u = vj.u + t * (vi.u - vj.u);
    p.v = vj.v + t * (vi.v - vj.v);
    return p;
}

// A subset with the record's material (one reference) and surface fields; no faces, no lines yet.
SubsetStruct_TYP SubsetFromRecord(const FaceAttributesStruct_TYP& r, DWORD sourceIndex)
{
    SubsetStruct_TYP s{};
    s.material = r.material;
    AddRefMaterial(r.material);
    s.surfaceType = r.surfaceType;
    s.sourceIndex = sourceIndex;
    s.sourceIndex2 = kNoSourceIndex;
    s.sourceIndex3 = kNoSourceIndex;
    s.specialSurface = r.specialSurface;
    s.backFace = r.backFace;
    std::copy(r.surfacePlane, r.surfacePlane + 4, s.surfacePlane);
    std::copy(r.backFacePlane, r.backFacePlane + 4, s.backFacePlane);
    return s;
}

bool EdgesLongEnough(const RawVertexStruct_TYP* t)
{
    for (int k = 0; k < 3; ++k)
        if (!(Length2(Position(t[(k + 1) % 3]) - Position(t[k])) > kShortEdge2)) return false;
    return true;
}
} // namespace

ModelConstructor_::ModelConstructor_() : positionMatrix(&matrices_[0]), textureMatrix(&matrices_[1])
{
    D3DXMatrixIdentity(positionMatrix);
    D3DXMatrixIdentity(textureMatrix);
    longestEdges[0] = D3DXVECTOR3(0, 0, 0);
}

ModelConstructor_::~ModelConstructor_()
{
    for (CapPlaneStruct_TYP& p : capPlanes)
        ReleaseMaterial(p.material);
    for (std::vector<CapPlaneStruct_TYP>& set : cutSets)
        for (CapPlaneStruct_TYP& p : set)
            ReleaseMaterial(p.material);
    ReleaseMaterial(current.material);
    // A model that was never created (or whose finalisation gave nothing) still holds face references.
    Clear();
}

void ModelConstructor_::SetCurrentMaterial(Material_* material)
{
    AddRefMaterial(material);
    ReleaseMaterial(current.material);
    current.material = material;
}

void ModelConstructor_::ReleaseRecords(std::vector<FaceAttributesStruct_TYP>* records)
{
    for (FaceAttributesStruct_TYP& r : *records)
        ReleaseMaterial(r.material);
    records->clear();
}

void ModelConstructor_::TransformVertex(const float position[3], const float texture[2],
                                        RawVertexStruct_TYP* out) const
{
    *out = {};
    std::copy(position, position + 3, out->position);
    out->u = texture ? texture[0] : position[0];
    out->v = texture ? texture[1] : 1.0f - position[1];
    float uv[2] = {out->u, out->v};
    if (vertexCallback)
    {
        vertexCallback(vertexCallbackUser, out->position, uv);
        out->u = uv[0];
        out->v = uv[1];
        return;
    }
    if (usePositionMatrix)
    {
        D3DXVECTOR3 p(out->position[0], out->position[1], out->position[2]);
        D3DXVec3TransformCoord(&p, &p, positionMatrix);
        out->position[0] = p.x;
        out->position[1] = p.y;
        out->position[2] = p.z;
    }
    if (useTextureMatrix)
    {
        D3DXVECTOR2 t(out->u, out->v);
        D3DXVec2TransformCoord(&t, &t, textureMatrix);
        out->u = t.x;
        out->v = t.y;
    }
}

void ModelConstructor_::UpdateLongestEdge(const RawVertexStruct_TYP* a, const RawVertexStruct_TYP* b)
{
    const D3DXVECTOR3 d = Position(*b) - Position(*a);
    D3DXVECTOR3& longest = longestEdges[current.group];
    if (Length2(d) > Length2(longest)) longest = d;
}

void ModelConstructor_::AppendFace(const RawVertexStruct_TYP& a, const RawVertexStruct_TYP& b,
                                   const RawVertexStruct_TYP& c)
{
    soup.push_back(a);
    soup.push_back(b);
    soup.push_back(c);
    faces.push_back(current);
    AddRefMaterial(current.material);
}

HRESULT ModelConstructor_::AddPolygon(const float* points, DWORD count, const float* texture)
{
    if (count < 3) return S_OK;
    if (!points) return E_FAIL;
    RawVertexStruct_TYP v0, v1, v2;
    TransformVertex(points, texture, &v0);
    TransformVertex(points + 3, texture ? texture + 2 : nullptr, &v1);
    UpdateLongestEdge(&v0, &v1);
    for (DWORD i = 2; i < count; ++i)
    {
        TransformVertex(points + 3 * size_t{i}, texture ? texture + 2 * size_t{i} : nullptr, &v2);
        if (!flipWinding)
        {
            AppendFace(v0, v1, v2);
            UpdateLongestEdge(&v1, &v2);
        }
        else
        {
            AppendFace(v2, v1, v0);
            UpdateLongestEdge(&v2, &v1);
        }
        v1 = v2;
    }
    return S_OK;
}

HRESULT ModelConstructor_::AddQuad(ModelConstructor_* constructor, const float corners[12])
{
    if (!constructor) return E_INVALIDARG;
    float points[12];
    std::copy(corners, corners + 12, points);
    static const float kTexture[8] = {1, 1, 1, 0, 0, 0, 0, 1};
    return constructor->AddPolygon(points, 4, kTexture);
}

HRESULT ModelConstructor_::AddIndexedTriangles(const float* positions, const DWORD* indices,
                                               DWORD triangleCount, const float* texture)
{
    return AddIndexed(positions, indices, triangleCount, 3, texture);
}

HRESULT ModelConstructor_::AddIndexedQuads(const float* positions, const DWORD* indices, DWORD quadCount,
                                           const float* texture)
{
    return AddIndexed(positions, indices, quadCount, 4, texture);
}

HRESULT ModelConstructor_::AddIndexed(const float* positions, const DWORD* indices, DWORD count,
                                      DWORD corners, const float* texture)
{
    if (count == 0) return S_OK;
    if (!positions || !indices) return E_INVALIDARG;
    const size_t total = size_t{count} * corners;
    const auto [low, high] = std::minmax_element(indices, indices + total);
    const DWORD first = *low;
    if (*high - first > kMaxIndexSpan) return E_FAIL;
    std::vector<DWORD> remap(size_t{*high - first} + 1, 0xFFFFFFFFu);

    for (size_t f = 0; f < count; ++f)
    {
        const DWORD* face = indices + f * corners;
        RawVertexStruct_TYP c[4];
        bool fresh[4] = {};
        DWORD index[4] = {};
        for (DWORD k = 0; k < corners; ++k)
        {
            index[k] = face[flipWinding ? corners - 1 - k : k];
            const DWORD slot = remap[index[k] - first];
            fresh[k] = slot == 0xFFFFFFFFu;
            if (fresh[k])
                TransformVertex(positions + 3 * size_t{index[k]},
                                texture ? texture + 2 * size_t{index[k]} : nullptr, &c[k]);
            else
                c[k] = soup[slot];
        }
        // Where each corner first lands in the soup: a quad's fourth corner is the second triangle's first.
        const size_t base = soup.size();
        const size_t landing[4] = {base, base + 1, base + 2, base + 3};
        AppendFace(c[0], c[1], c[2]);
        if (corners == 4) AppendFace(c[3], c[0], c[2]);
        for (DWORD k = 0; k < corners; ++k)
            if (fresh[k] && remap[index[k] - first] == 0xFFFFFFFFu)
                remap[index[k] - first] = static_cast<DWORD>(landing[k]);
        for (DWORD k = 0; k < corners; ++k)
            UpdateLongestEdge(&c[k], &c[(k + 1) % corners]);
    }
    return S_OK;
}

int ModelConstructor_::CompareVertices(const DWORD* a, const DWORD* b) const
{
    const FaceAttributesStruct_TYP& fa = faces[*a / 3];
    const FaceAttributesStruct_TYP& fb = faces[*b / 3];
    if (int c = CompareUnsigned(fa.group, fb.group)) return c;
    if (int c = CompareUnsigned(reinterpret_cast<uintptr_t>(fa.material),
                                reinterpret_cast<uintptr_t>(fb.material)))
        return c;
    if (int c = CompareUnsigned(fa.key, fb.key)) return c;
    const RawVertexStruct_TYP& va = soup[*a];
    const RawVertexStruct_TYP& vb = soup[*b];
    const float ka[5] = {va.position[0], va.position[1], va.position[2], va.u, va.v};
    const float kb[5] = {vb.position[0], vb.position[1], vb.position[2], vb.u, vb.v};
    for (int k = 0; k < 5; ++k)
    {
        const double ca = Cell(ka[k]), cb = Cell(kb[k]);
        if (ca < cb) return -1;
        if (ca > cb) return 1;
    }
    return 0;
}

bool ModelConstructor_::EmitFaces(const RawVertexStruct_TYP* t, const FaceAttributesStruct_TYP& record,
                                  const float plane[4], std::vector<RawVertexStruct_TYP>* kept,
                                  std::vector<FaceAttributesStruct_TYP>* keptRecords,
                                  std::vector<RawVertexStruct_TYP>* cuts)
{
    float d[3];
    int below = 0;
    for (int i = 0; i < 3; ++i)
    {
        d[i] = plane[0] * t[i].position[0] + plane[1] * t[i].position[1] + plane[2] * t[i].position[2] +
               plane[3];
        if (d[i] < 0.0f) below |= 1 << i;
    }
    auto keep = [&](const RawVertexStruct_TYP& a, const RawVertexStruct_TYP& b, const RawVertexStruct_TYP& c)
    {
        kept->insert(kept->end(), {a, b, c});
        keptRecords->push_back(record);
        AddRefMaterial(record.material);
    };
    // The crossing on the edge between corners a and b, always taken from the lower-numbered corner.
    auto e = [&](int a, int b)
    { return a < b ? Crossing(t[a], t[b], d[a], d[b]) : Crossing(t[b], t[a], d[b], d[a]); };
    if (below == 0)
    {
        keep(t[0], t[1], t[2]);
        return true;
    }
    if (below == 7) return false;
    // Corner i alone is below (or alone above); j and k follow it in winding order.
    const bool oneBelow = below == 1 || below == 2 || below == 4;
    const int i = oneBelow ? (below == 1 ? 0 : below == 2 ? 1 : 2) : (below == 6 ? 0 : below == 5 ? 1 : 2);
    const int j = (i + 1) % 3, k = (i + 2) % 3;
    const RawVertexStruct_TYP eij = e(i, j), eik = e(i, k);
    if (oneBelow)
    {
        keep(t[j], t[k], eik);
        keep(t[j], eik, eij);
        cuts->insert(cuts->end(), {eik, eij});
    }
    else
    {
        keep(t[i], eij, eik);
        cuts->insert(cuts->end(), {eij, eik});
    }
    return true;
}

bool ModelConstructor_::ProcessPart(Material_* defaultMaterial, const std::vector<CapPlaneStruct_TYP>* planes)
{
    if (planes)
        for (const CapPlaneStruct_TYP& p : *planes)
        {
            ++groupCounter;
            longestEdges[groupCounter] = D3DXVECTOR3(0, 0, 0);
            current.group = groupCounter;
            current.material = p.material ? p.material : defaultMaterial;
            current.attribute = p.attribute;
            current.surfaceType = p.surfaceType;
            current.specialSurface = 0;
            current.backFace = 0;

            std::vector<RawVertexStruct_TYP> kept, cuts;
            std::vector<FaceAttributesStruct_TYP> keptRecords;
            bool any = false;
            for (size_t f = 0; f < faces.size(); ++f)
                any |= EmitFaces(&soup[3 * f], faces[f], p.plane, &kept, &keptRecords, &cuts);
            if (!any)
            {
                current.material = defaultMaterial;
                return false;
            }

            // Join the cut segments into chains and close each chain with a fan.
            std::vector<RawVertexStruct_TYP> chain;
            size_t next = 0; // cuts before this have been used
            std::vector<bool> used(cuts.size() / 2, false);
            while (true)
            {
                while (next < used.size() && used[next])
                    ++next;
                if (next == used.size()) break;
                used[next] = true;
                chain.assign({cuts[2 * next], cuts[2 * next + 1]});
                for (bool grown = true; grown;)
                {
                    grown = false;
                    const D3DXVECTOR3 last = Position(chain.back());
                    for (size_t s = next + 1; s < used.size(); ++s)
                        if (!used[s] && Length2(Position(cuts[2 * s]) - last) <= kChainJoinDistance2)
                        {
                            used[s] = true;
                            chain.push_back(cuts[2 * s + 1]);
                            grown = true;
                            break;
                        }
                }
                if (chain.size() < 3) continue;
                for (RawVertexStruct_TYP& q : chain)
                {
                    D3DXVECTOR3 mapped;
                    const D3DXVECTOR3 at = Position(q);
                    D3DXVec3TransformCoord(&mapped, &at, &p.textureMatrix);
                    q.u = mapped.x;
                    q.v = mapped.y;
                }
                const D3DXVECTOR3 q0 = Position(chain[0]);
                for (size_t k = 2; k < chain.size(); ++k)
                {
                    D3DXVECTOR3 n;
                    const D3DXVECTOR3 a = Position(chain[k - 1]) - q0, b = Position(chain[k]) - q0;
                    D3DXVec3Cross(&n, &a, &b);
                    if (!(Length2(n) > kCapFaceArea2)) continue;
                    // The chain runs the way the cut faces' outlines run, so the cap turns the other way
                    // round to face out of the kept volume like its neighbours.
                    kept.insert(kept.end(), {chain[0], chain[k], chain[k - 1]});
                    keptRecords.push_back(current);
                    AddRefMaterial(current.material);
                }
            }

            ReleaseRecords(&faces);
            soup.clear();
            for (size_t f = 0; f < keptRecords.size(); ++f)
            {
                if (EdgesLongEnough(&kept[3 * f]))
                {
                    soup.insert(soup.end(), kept.begin() + 3 * f, kept.begin() + 3 * f + 3);
                    faces.push_back(keptRecords[f]);
                }
                else
                    ReleaseMaterial(keptRecords[f].material);
            }
        }
    current.material = defaultMaterial;
    return !soup.empty();
}

void ModelConstructor_::Finalize()
{
    if (soup.size() >= 3)
    {
        Material_* m = current.material;
        if (!ProcessPart(m, &capPlanes)) return;

        if (!cutSets.empty())
        {
            const std::vector<RawVertexStruct_TYP> copy = soup;
            const std::vector<FaceAttributesStruct_TYP> copyRecords = faces;
            for (const FaceAttributesStruct_TYP& r : copyRecords)
                AddRefMaterial(r.material);
            std::vector<RawVertexStruct_TYP> accumulated;
            std::vector<FaceAttributesStruct_TYP> accumulatedRecords;
            const bool several = cutSets.size() >= 2;
            for (size_t d = 0; d < cutSets.size(); ++d)
            {
                const bool ok = ProcessPart(m, &cutSets[d]);
                if (!several) break;
                if (ok)
                {
                    accumulated.insert(accumulated.end(), soup.begin(), soup.end());
                    accumulatedRecords.insert(accumulatedRecords.end(), faces.begin(), faces.end());
                    faces.clear(); // their references moved with them
                    soup.clear();
                }
                ReleaseRecords(&faces);
                if (d + 1 < cutSets.size())
                {
                    soup = copy;
                    faces = copyRecords;
                    for (const FaceAttributesStruct_TYP& r : faces)
                        AddRefMaterial(r.material);
                }
                else
                {
                    soup = std::move(accumulated);
                    faces = std::move(accumulatedRecords);
                }
            }
            for (const FaceAttributesStruct_TYP& r : copyRecords)
                ReleaseMaterial(r.material);
        }
        current.material = m;

        const DWORD n = static_cast<DWORD>(soup.size() / 3 * 3);
        std::vector<DWORD> order(n);
        std::iota(order.begin(), order.end(), 0u);
        std::stable_sort(order.begin(), order.end(),
                         [this](DWORD a, DWORD b) { return CompareVertices(&a, &b) < 0; });

        for (auto& [group, edge] : longestEdges)
            edge = Normalized(edge);

        // Weld: equal neighbours in sorted order share the output vertex the first of them opened.
        std::vector<DWORD> output(n);
        DWORD opener = 0;
        for (DWORD k = 0; k < n; ++k)
        {
            const DWORD v = order[k];
            if (k == 0 || CompareVertices(&v, &opener) != 0)
            {
                outVertices.push_back(soup[v]);
                opener = v;
            }
            output[v] = static_cast<DWORD>(outVertices.size() - 1);
        }

        for (DWORD start = 0; start < n;)
        {
            const FaceAttributesStruct_TYP& r = faces[order[start] / 3];
            DWORD end = start + 1;
            while (end < n && faces[order[end] / 3].material == r.material &&
                   faces[order[end] / 3].group == r.group)
                ++end;
            SubsetStruct_TYP s = SubsetFromRecord(r, r.group);
            s.firstFace = start / 3;
            s.faceCount = (end - start) / 3;
            const D3DXVECTOR3 axis = longestEdges[r.group];
            s.lightMapAxis[0] = axis.x;
            s.lightMapAxis[1] = axis.y;
            s.lightMapAxis[2] = axis.z;
            outSubsets.push_back(s);
            start = end;
        }

        for (DWORD k = 0; k < n; ++k)
            if (order[k] % 3 == 0)
                outIndices.insert(outIndices.end(),
                                  {output[order[k]], output[order[k] + 1], output[order[k] + 2]});

        for (SubsetStruct_TYP& s : outSubsets)
        {
            D3DXVECTOR3 n0(0, 0, 0), q(0, 0, 0);
            bool counted = false, planar = true;
            for (DWORD f = s.firstFace; f < s.firstFace + s.faceCount && planar; ++f)
            {
                const D3DXVECTOR3 p0 = Position(outVertices[outIndices[3 * f]]);
                const D3DXVECTOR3 p1 = Position(outVertices[outIndices[3 * f + 1]]);
                const D3DXVECTOR3 p2 = Position(outVertices[outIndices[3 * f + 2]]);
                D3DXVECTOR3 normal;
                const D3DXVECTOR3 a = p1 - p0, b = p2 - p0;
                D3DXVec3Cross(&normal, &a, &b);
                const float length = std::sqrt(Length2(normal));
                if (!(length > kDegenerateNormal)) continue;
                normal /= length;
                if (!counted)
                {
                    n0 = normal;
                    q = p0;
                    counted = true;
                }
                else if (D3DXVec3Dot(&normal, &n0) < kPlanarDot)
                    planar = false;
            }
            if (!counted || !planar) continue;
            const float d = -D3DXVec3Dot(&n0, &q);
            const float plane[4] = {n0.x, n0.y, n0.z, d};
            if (s.specialSurface == 0)
            {
                s.specialSurface = 1;
                std::copy(plane, plane + 4, s.surfacePlane);
            }
            if (s.backFace == 0)
            {
                s.backFace = 1;
                std::copy(plane, plane + 4, s.backFacePlane);
            }
            s.planeNormal[0] = n0.x;
            s.planeNormal[1] = n0.y;
            s.planeNormal[2] = n0.z;
        }
    }
    EmitLines();
}

void ModelConstructor_::EmitLines()
{
    if (lineInput.empty()) return;
    const size_t lines = std::min(lineInput.size() / 2, lineRecords.size());
    std::vector<std::vector<size_t>> perSubset(outSubsets.size());
    for (size_t l = 0; l < lines; ++l)
    {
        const FaceAttributesStruct_TYP& r = lineRecords[l];
        size_t target = outSubsets.size();
        for (size_t s = outSubsets.size(); s-- > 0;)
            if (outSubsets[s].material == r.material)
            {
                target = s;
                break;
            }
        if (target == outSubsets.size())
        {
            outSubsets.push_back(SubsetFromRecord(r, 0));
            perSubset.emplace_back();
        }
        perSubset[target].push_back(l);
    }
    for (size_t s = 0; s < outSubsets.size(); ++s)
    {
        outSubsets[s].firstLineVertex = static_cast<DWORD>(outLineVertices.size());
        outSubsets[s].lineSegmentCount = static_cast<DWORD>(perSubset[s].size());
        for (size_t l : perSubset[s])
            outLineVertices.insert(outLineVertices.end(), {lineInput[2 * l], lineInput[2 * l + 1]});
    }
    // Every subset holds its own reference, so each line gives its record's back.
    ReleaseRecords(&lineRecords);
}

// Every input and output emptied, their material references given back.
void ModelConstructor_::Clear()
{
    soup.clear();
    lineInput.clear();
    ReleaseRecords(&faces);
    ReleaseRecords(&lineRecords);
    for (SubsetStruct_TYP& s : outSubsets)
        ReleaseMaterial(s.material);
    outSubsets.clear();
    outVertices.clear();
    outIndices.clear();
    outLineVertices.clear();
}

HRESULT ModelConstructor_::CreateModel(Model_** model, bool, bool optimizeForVertexCache)
{
    if (!model) return E_INVALIDARG;
    *model = nullptr;
    if (soup.size() < 3 && lineInput.size() < 2) return E_FAIL;
    Finalize();
    if (outVertices.size() < 3 && outLineVertices.size() < 2)
    {
        Clear();
        return E_FAIL;
    }

    HRESULT result = E_FAIL;
    ModelBuildInputStruct_TYP input = MeshBuildInput(outVertices, outIndices, outSubsets);
    input.lineVertices = outLineVertices.empty() ? nullptr : outLineVertices.data();
    input.lineVertexCount = static_cast<DWORD>(outLineVertices.size());
    input.optimizeForVertexCache = optimizeForVertexCache;
    input.normalsGiven = normalsGiven;
    CountedPtr<Model_> built = BuildModel(input, &result);
    Clear();
    *model = built.release();
    return result;
}
} // namespace LMK
