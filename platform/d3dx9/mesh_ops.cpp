// Mesh algorithms: vertex formats, point representatives and adjacency, attribute sorting,
// cleaning, normals, bounds and ray tests.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_map>

#include "platform/d3dx9/mesh_object.h"
#include "platform/win32/out_of_memory.h"
#include "platform/d3d9/validation.h"

using ferolt::validation::Refuse;

namespace ferolt::d3dx9
{
bool ParseFvf(DWORD fvf, FvfLayout* out)
{
    FvfLayout l;
    if (fvf & (D3DFVF_RESERVED0 | 0x2000)) return false;
    UINT offset = 0;
    switch (fvf & D3DFVF_POSITION_MASK)
    {
    case D3DFVF_XYZ:
        l.positionBytes = 12;
        break;
    case D3DFVF_XYZRHW:
    case D3DFVF_XYZW:
        l.positionBytes = 16;
        break;
    case D3DFVF_XYZB1:
    case D3DFVF_XYZB2:
    case D3DFVF_XYZB3:
    case D3DFVF_XYZB4:
    case D3DFVF_XYZB5:
        l.positionBytes = 12 + 4 * (((fvf & D3DFVF_POSITION_MASK) - D3DFVF_XYZRHW) / 2);
        break;
    default:
        return false;
    }
    l.position = 0;
    offset = l.positionBytes;
    if (fvf & D3DFVF_NORMAL)
    {
        l.normal = static_cast<int>(offset);
        offset += 12;
    }
    if (fvf & D3DFVF_PSIZE)
    {
        l.psize = static_cast<int>(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_DIFFUSE)
    {
        l.diffuse = static_cast<int>(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR)
    {
        l.specular = static_cast<int>(offset);
        offset += 4;
    }
    l.texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (l.texCount > 8) return false;
    for (UINT t = 0; t < l.texCount; ++t)
    {
        static constexpr UINT kFloats[4] = {2, 3, 4, 1};
        l.texOffset[t] = static_cast<int>(offset);
        l.texBytes[t] = 4 * kFloats[(fvf >> (16 + 2 * t)) & 3];
        offset += l.texBytes[t];
    }
    l.stride = offset;
    *out = l;
    return true;
}

std::vector<DWORD> PointReps(const std::vector<Float3>& p, float epsilon)
{
    const size_t n = p.size();
    std::vector<DWORD> reps(n);
    auto key = [](float f)
    {
        f += 0.0f; // -0 and +0 are the same point
        uint32_t u;
        std::memcpy(&u, &f, 4);
        return u;
    };
    if (!(epsilon > 0.0f))
    {
        struct Hash
        {
            size_t operator()(const std::array<uint32_t, 3>& k) const
            {
                return (size_t(k[0]) * 73856093u) ^ (size_t(k[1]) * 19349663u) ^ (size_t(k[2]) * 83492791u);
            }
        };
        std::unordered_map<std::array<uint32_t, 3>, DWORD, Hash> first;
        first.reserve(n);
        for (size_t i = 0; i < n; ++i)
        {
            auto [it, inserted] = first.try_emplace({key(p[i].x), key(p[i].y), key(p[i].z)}, DWORD(i));
            reps[i] = std::isnan(p[i].x) || std::isnan(p[i].y) || std::isnan(p[i].z) ? DWORD(i) : it->second;
        }
        return reps;
    }
    // Grid of cells one epsilon wide: a point within epsilon lies in one of the 27 cells around.
    auto cell = [epsilon](float f) -> int64_t
    {
        double c = std::floor(double(f) / double(epsilon));
        if (!(c > -1e15)) return -(int64_t(1) << 50);
        if (!(c < 1e15)) return int64_t(1) << 50;
        return int64_t(c);
    };
    struct CellHash
    {
        size_t operator()(const std::array<int64_t, 3>& k) const
        {
            return size_t(k[0] * 73856093) ^ size_t(k[1] * 19349663) ^ size_t(k[2] * 83492791);
        }
    };
    std::unordered_map<std::array<int64_t, 3>, std::vector<DWORD>, CellHash> grid;
    grid.reserve(n);
    for (size_t i = 0; i < n; ++i)
    {
        const std::array<int64_t, 3> c = {cell(p[i].x), cell(p[i].y), cell(p[i].z)};
        DWORD best = DWORD(i);
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                for (int dz = -1; dz <= 1; ++dz)
                {
                    auto it = grid.find({c[0] + dx, c[1] + dy, c[2] + dz});
                    if (it == grid.end()) continue;
                    for (DWORD j : it->second) // ascending, so the first match is the lowest there
                    {
                        if (j >= best) break;
                        if (std::fabs(p[i].x - p[j].x) <= epsilon && std::fabs(p[i].y - p[j].y) <= epsilon &&
                            std::fabs(p[i].z - p[j].z) <= epsilon)
                        {
                            best = j;
                            break;
                        }
                    }
                }
        reps[i] = best == DWORD(i) ? best : reps[best];
        grid[c].push_back(DWORD(i));
    }
    return reps;
}

std::vector<DWORD> AdjacencyFromIndices(const std::vector<uint32_t>& indices, const std::vector<DWORD>& reps)
{
    const size_t faces = indices.size() / 3;
    std::vector<DWORD> adjacency(faces * 3, UNUSED32);
    struct Edge
    {
        DWORD lo, hi;
        DWORD face;
        uint8_t edge;
        bool forward; // lo -> hi in the face's winding
    };
    // Edges ordered by (lo, hi, face, edge): a counting sort on lo keeps the face order that the walk
    // below produced, and each lo's few edges are then put in hi order without disturbing it.
    std::vector<Edge> unordered;
    unordered.reserve(faces * 3);
    DWORD highestLo = 0;
    for (size_t f = 0; f < faces; ++f)
        for (int k = 0; k < 3; ++k)
        {
            DWORD a = reps[indices[f * 3 + k]];
            DWORD b = reps[indices[f * 3 + (k + 1) % 3]];
            if (a == b) continue;
            unordered.push_back({std::min(a, b), std::max(a, b), DWORD(f), uint8_t(k), a < b});
            highestLo = std::max(highestLo, std::min(a, b));
        }
    std::vector<size_t> start(unordered.empty() ? 1 : size_t(highestLo) + 2, 0);
    for (const Edge& e : unordered)
        ++start[size_t(e.lo) + 1];
    for (size_t i = 1; i < start.size(); ++i)
        start[i] += start[i - 1];
    std::vector<Edge> edges(unordered.size());
    {
        std::vector<size_t> next(start.begin(), start.end() - 1);
        for (const Edge& e : unordered)
            edges[next[e.lo]++] = e;
    }
    for (size_t lo = 0; lo + 1 < start.size(); ++lo)
    {
        auto first = edges.begin() + static_cast<std::ptrdiff_t>(start[lo]);
        auto last = edges.begin() + static_cast<std::ptrdiff_t>(start[lo + 1]);
        if (last - first > 16)
        {
            std::stable_sort(first, last, [](const Edge& x, const Edge& y) { return x.hi < y.hi; });
            continue;
        }
        for (auto i = first + 1; i < last; ++i)
        {
            const Edge moving = *i;
            auto j = i;
            for (; j > first && (j - 1)->hi > moving.hi; --j)
                *j = *(j - 1);
            *j = moving;
        }
    }
    std::vector<bool> used(edges.size(), false);
    for (size_t begin = 0; begin < edges.size();)
    {
        size_t end = begin;
        while (end < edges.size() && edges[end].lo == edges[begin].lo && edges[end].hi == edges[begin].hi)
            ++end;
        // Consistently wound neighbours run the edge in opposite directions; pair those first.
        for (int pass = 0; pass < 2; ++pass)
            for (size_t i = begin; i < end; ++i)
            {
                if (used[i]) continue;
                for (size_t j = i + 1; j < end; ++j)
                {
                    if (used[j] || edges[j].face == edges[i].face) continue;
                    if (pass == 0 && edges[j].forward == edges[i].forward) continue;
                    used[i] = used[j] = true;
                    adjacency[size_t(edges[i].face) * 3 + edges[i].edge] = edges[j].face;
                    adjacency[size_t(edges[j].face) * 3 + edges[j].edge] = edges[i].face;
                    break;
                }
            }
        begin = end;
    }
    return adjacency;
}

AttributeSortPlan PlanAttributeSort(const std::vector<uint32_t>& indices,
                                    const std::vector<DWORD>& attributes, DWORD vertexCount,
                                    const DWORD* adjacency, bool cacheOrder, bool compact, DWORD maxVertices)
{
    AttributeSortPlan plan;
    const DWORD faces = static_cast<DWORD>(attributes.size());
    plan.faceRemap.resize(faces);
    for (DWORD f = 0; f < faces; ++f)
        plan.faceRemap[f] = f;
    std::stable_sort(plan.faceRemap.begin(), plan.faceRemap.end(),
                     [&](DWORD a, DWORD b) { return attributes[a] < attributes[b]; });

    // Group boundaries in the sorted order.
    std::vector<std::pair<DWORD, DWORD>> groups; // [first, end) in new face order
    for (DWORD f = 0; f < faces;)
    {
        DWORD g = f;
        while (g < faces && attributes[plan.faceRemap[g]] == attributes[plan.faceRemap[f]])
            ++g;
        groups.push_back({f, g});
        f = g;
    }

    if (cacheOrder && adjacency)
    {
        // Walk each group breadth-first along shared edges so that neighbouring faces, which share
        // vertices, are drawn close together.
        std::vector<uint8_t> visited(faces, 0);
        std::vector<DWORD> order;
        order.reserve(faces);
        for (auto [first, end] : groups)
        {
            const DWORD id = attributes[plan.faceRemap[first]];
            for (DWORD s = first; s < end; ++s)
            {
                DWORD start = plan.faceRemap[s];
                if (visited[start]) continue;
                visited[start] = 1;
                size_t head = order.size();
                order.push_back(start);
                while (head < order.size())
                {
                    DWORD f = order[head++];
                    for (int k = 0; k < 3; ++k)
                    {
                        DWORD g = adjacency[size_t(f) * 3 + k];
                        if (g < faces && !visited[g] && attributes[g] == id)
                        {
                            visited[g] = 1;
                            order.push_back(g);
                        }
                    }
                }
            }
        }
        plan.faceRemap = std::move(order);
    }

    plan.attributes.resize(faces);
    for (DWORD f = 0; f < faces; ++f)
        plan.attributes[f] = attributes[plan.faceRemap[f]];

    std::vector<uint8_t> usedAny(vertexCount, 0);
    for (uint32_t i : indices)
        usedAny[i] = 1;
    DWORD unused = 0;
    for (DWORD v = 0; v < vertexCount; ++v)
        unused += usedAny[v] ? 0 : 1;

    // Vertices each group needs when every group gets its own copies.
    uint64_t splitCount = compact ? 0 : unused;
    {
        std::vector<DWORD> stamp(vertexCount, UNUSED32);
        for (DWORD g = 0; g < groups.size(); ++g)
            for (DWORD f = groups[g].first; f < groups[g].second; ++f)
                for (int k = 0; k < 3; ++k)
                {
                    uint32_t v = indices[size_t(plan.faceRemap[f]) * 3 + k];
                    if (stamp[v] != g)
                    {
                        stamp[v] = g;
                        ++splitCount;
                    }
                }
    }
    const bool split = splitCount <= maxVertices;

    plan.indices.resize(indices.size());
    std::vector<DWORD> stamp(vertexCount, UNUSED32);
    std::vector<DWORD> newIndex(vertexCount, UNUSED32);
    for (DWORD g = 0; g < groups.size(); ++g)
    {
        D3DXATTRIBUTERANGE r{};
        r.AttribId = plan.attributes[groups[g].first];
        r.FaceStart = groups[g].first;
        r.FaceCount = groups[g].second - groups[g].first;
        DWORD lo = UNUSED32, hi = 0;
        for (DWORD f = groups[g].first; f < groups[g].second; ++f)
            for (int k = 0; k < 3; ++k)
            {
                uint32_t v = indices[size_t(plan.faceRemap[f]) * 3 + k];
                if (split ? stamp[v] != g : newIndex[v] == UNUSED32)
                {
                    stamp[v] = g;
                    newIndex[v] = static_cast<DWORD>(plan.vertexRemap.size());
                    plan.vertexRemap.push_back(v);
                }
                plan.indices[size_t(f) * 3 + k] = newIndex[v];
                lo = std::min(lo, newIndex[v]);
                hi = std::max(hi, newIndex[v]);
            }
        r.VertexStart = lo;
        r.VertexCount = hi - lo + 1;
        plan.table.push_back(r);
    }
    if (!compact)
        for (DWORD v = 0; v < vertexCount; ++v)
            if (!usedAny[v]) plan.vertexRemap.push_back(v);
    return plan;
}

bool RayTriangle(const Float3& o, const Float3& d, const Float3& p0, const Float3& p1, const Float3& p2,
                 float* u, float* v, float* dist)
{
    const double e1[3] = {double(p1.x) - p0.x, double(p1.y) - p0.y, double(p1.z) - p0.z};
    const double e2[3] = {double(p2.x) - p0.x, double(p2.y) - p0.y, double(p2.z) - p0.z};
    const double pv[3] = {d.y * e2[2] - d.z * e2[1], d.z * e2[0] - d.x * e2[2], d.x * e2[1] - d.y * e2[0]};
    const double det = e1[0] * pv[0] + e1[1] * pv[1] + e1[2] * pv[2];
    if (det == 0.0 || !std::isfinite(det)) return false;
    const double inv = 1.0 / det;
    const double t[3] = {double(o.x) - p0.x, double(o.y) - p0.y, double(o.z) - p0.z};
    const double uu = (t[0] * pv[0] + t[1] * pv[1] + t[2] * pv[2]) * inv;
    if (uu < 0.0 || uu > 1.0) return false;
    const double q[3] = {t[1] * e1[2] - t[2] * e1[1], t[2] * e1[0] - t[0] * e1[2],
                         t[0] * e1[1] - t[1] * e1[0]};
    const double vv = (d.x * q[0] + d.y * q[1] + d.z * q[2]) * inv;
    if (vv < 0.0 || uu + vv > 1.0) return false;
    const double tt = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) * inv;
    if (tt < 0.0) return false;
    *u = float(uu);
    *v = float(vv);
    *dist = float(tt);
    return true;
}

namespace
{
Float3 Sub(const Float3& a, const Float3& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Float3 Cross(const Float3& a, const Float3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
bool Normalise(Float3* v)
{
    double len = std::sqrt(double(v->x) * v->x + double(v->y) * v->y + double(v->z) * v->z);
    if (!(len > 0.0) || !std::isfinite(len)) return false;
    v->x = float(v->x / len);
    v->y = float(v->y / len);
    v->z = float(v->z / len);
    return true;
}

HRESULT IntersectMesh(LPD3DXBASEMESH pMesh, bool subset, DWORD attribId, const D3DXVECTOR3* pRayPos,
                      const D3DXVECTOR3* pRayDir, BOOL* pHit, DWORD* pFaceIndex, FLOAT* pU, FLOAT* pV,
                      FLOAT* pDist, LPD3DXBUFFER* ppAllHits, DWORD* pCountOfHits)
{
    if (ppAllHits) *ppAllHits = nullptr;
    Mesh* mesh = AsMesh(pMesh);
    if (!mesh || !pRayPos || !pRayDir) return Refuse("IntersectMesh.NullPointer");
    std::vector<Float3> positions;
    std::vector<uint32_t> indices;
    HRESULT hr = mesh->ReadPositions(&positions);
    if (SUCCEEDED(hr)) hr = mesh->ReadIndices(&indices);
    if (FAILED(hr)) return hr;
    const Float3 o{pRayPos->x, pRayPos->y, pRayPos->z};
    const Float3 d{pRayDir->x, pRayDir->y, pRayDir->z};
    const std::vector<DWORD>& attributes = mesh->Attributes();
    std::vector<D3DXINTERSECTINFO> hits;
    D3DXINTERSECTINFO best{0, 0, 0, 0};
    bool any = false;
    for (DWORD f = 0; f < mesh->GetNumFaces(); ++f)
    {
        if (subset && attributes[f] != attribId) continue;
        float u, v, t;
        if (!RayTriangle(o, d, positions[indices[size_t(f) * 3]], positions[indices[size_t(f) * 3 + 1]],
                         positions[indices[size_t(f) * 3 + 2]], &u, &v, &t))
            continue;
        D3DXINTERSECTINFO info{f, u, v, t};
        if (!any || t < best.Dist) best = info;
        any = true;
        if (ppAllHits || pCountOfHits) hits.push_back(info);
    }
    if (pHit) *pHit = any ? TRUE : FALSE;
    if (pFaceIndex) *pFaceIndex = best.FaceIndex;
    if (pU) *pU = best.U;
    if (pV) *pV = best.V;
    if (pDist) *pDist = best.Dist;
    if (pCountOfHits) *pCountOfHits = static_cast<DWORD>(hits.size());
    if (ppAllHits && !hits.empty())
        return CreateBufferFrom(hits.data(), hits.size() * sizeof(D3DXINTERSECTINFO), ppAllHits);
    return S_OK;
}
// The vertices of a mesh being cleaned: where each one's data comes from, growing as corners are split.
struct VertexSources
{
    explicit VertexSources(DWORD count) : source(count)
    {
        for (DWORD v = 0; v < count; ++v)
            source[v] = v;
    }
    // A new vertex with the data of v.
    DWORD Duplicate(uint32_t v)
    {
        source.push_back(source[v]);
        return DWORD(source.size() - 1);
    }
    DWORD Count() const { return DWORD(source.size()); }
    std::vector<DWORD> source;
};

HRESULT ReadCleanAdjacency(Mesh* in, const DWORD* given, const std::vector<uint32_t>& indices,
                           std::vector<DWORD>* adjacency)
{
    const DWORD faces = in->GetNumFaces();
    if (given)
    {
        adjacency->assign(given, given + size_t(faces) * 3);
        for (DWORD& a : *adjacency)
            if (a >= faces) a = UNUSED32;
        return S_OK;
    }
    std::vector<Float3> positions;
    const HRESULT hr = in->ReadPositions(&positions);
    if (FAILED(hr)) return hr;
    *adjacency = AdjacencyFromIndices(indices, PointReps(positions, 0.0f));
    return S_OK;
}

void SplitBackFaces(DWORD faces, std::vector<uint32_t>& indices, std::vector<DWORD>& adjacency,
                    VertexSources& vertices)
{
    auto duplicate = [&](uint32_t v) { return vertices.Duplicate(v); };
    // A face lying back to back on the corners of an earlier face gets corners of its own.
    std::unordered_map<uint64_t, DWORD> seen;
    seen.reserve(faces);
    for (DWORD f = 0; f < faces; ++f)
    {
        uint32_t c[3] = {indices[f * 3], indices[f * 3 + 1], indices[f * 3 + 2]};
        if (c[0] == c[1] || c[1] == c[2] || c[0] == c[2]) continue;
        uint32_t s[3] = {c[0], c[1], c[2]};
        std::sort(s, s + 3);
        const uint64_t key = (uint64_t(s[0]) << 42) ^ (uint64_t(s[1]) << 21) ^ s[2];
        auto [it, inserted] = seen.try_emplace(key, f);
        if (inserted) continue;
        const DWORD g = it->second;
        // Same winding is a duplicate, not a back face.
        int r = 0;
        while (indices[g * 3 + r] != c[0])
            ++r;
        if (indices[g * 3 + (r + 1) % 3] == c[1]) continue;
        for (int k = 0; k < 3; ++k)
            indices[f * 3 + k] = duplicate(c[k]);
        for (int k = 0; k < 3; ++k)
        {
            if (adjacency[f * 3 + k] == g) adjacency[f * 3 + k] = UNUSED32;
            if (adjacency[g * 3 + k] == f) adjacency[g * 3 + k] = UNUSED32;
        }
    }
}

void SplitBowties(DWORD faces, std::vector<uint32_t>& indices, const std::vector<DWORD>& adjacency,
                  VertexSources& vertices)
{
    auto duplicate = [&](uint32_t v) { return vertices.Duplicate(v); };
    const DWORD count = vertices.Count();
    // Faces around a vertex that are not joined through edges at that vertex form separate
    // fans; every fan after the first gets its own copy of the vertex.
    // The faces at each vertex, in face order, as one array with a start per vertex.
    std::vector<size_t> first(size_t(count) + 1, 0);
    for (size_t i = 0; i < size_t(faces) * 3; ++i)
        ++first[size_t(indices[i]) + 1];
    for (size_t v = 1; v < first.size(); ++v)
        first[v] += first[v - 1];
    std::vector<DWORD> incident(size_t(faces) * 3);
    {
        std::vector<size_t> next(first.begin(), first.end() - 1);
        for (DWORD f = 0; f < faces; ++f)
            for (int k = 0; k < 3; ++k)
                incident[next[indices[f * 3 + k]]++] = f;
    }
    std::vector<DWORD> parent, copyOf;
    const DWORD original = count;
    for (DWORD v = 0; v < original; ++v)
    {
        DWORD* const fsBegin = incident.data() + first[v];
        DWORD* const fsEnd = std::unique(fsBegin, incident.data() + first[size_t(v) + 1]);
        const size_t n = size_t(fsEnd - fsBegin);
        if (n < 2) continue;
        parent.resize(n);
        for (size_t i = 0; i < n; ++i)
            parent[i] = DWORD(i);
        auto find = [&](DWORD i)
        {
            while (parent[i] != i)
                i = parent[i] = parent[parent[i]];
            return i;
        };
        for (size_t i = 0; i < n; ++i)
        {
            const DWORD f = fsBegin[i];
            for (int k = 0; k < 3; ++k)
            {
                if (indices[f * 3 + k] != v && indices[f * 3 + (k + 1) % 3] != v) continue;
                const DWORD g = adjacency[f * 3 + k];
                const DWORD* it = std::lower_bound(fsBegin, fsEnd, g);
                if (g == UNUSED32 || it == fsEnd || *it != g) continue;
                DWORD a = find(DWORD(i)), b = find(DWORD(it - fsBegin));
                if (a != b) parent[std::max(a, b)] = std::min(a, b);
            }
        }
        copyOf.assign(n, UNUSED32);
        for (size_t i = 0; i < n; ++i)
        {
            const DWORD root = find(DWORD(i));
            if (root == find(0)) continue;
            if (copyOf[root] == UNUSED32) copyOf[root] = duplicate(v);
            for (int k = 0; k < 3; ++k)
                if (indices[fsBegin[i] * 3 + k] == v) indices[fsBegin[i] * 3 + k] = copyOf[root];
        }
    }
}

// Writes the cleaned vertices (when there are new ones) and indices into the copy.
HRESULT FillCleanCopy(Mesh* out, const std::vector<uint8_t>& grown, DWORD count,
                      const std::vector<uint32_t>& indices)
{
    HRESULT hr = S_OK;
    if (!grown.empty())
    {
        hr = out->ResizeVertices(count);
        if (SUCCEEDED(hr)) hr = out->WriteVertices(grown);
        out->Table().clear(); // its vertex ranges no longer cover the mesh
    }
    return SUCCEEDED(hr) ? out->WriteIndices(indices) : hr;
}

// The cleaned copy of in: its vertices taken from their sources, its indices replaced.
HRESULT WriteCleanMesh(Mesh* in, const std::vector<uint8_t>& vertices, const VertexSources& sources,
                       const std::vector<uint32_t>& indices, Mesh** result)
{
    const DWORD count = sources.Count();
    const bool index32 = (in->GetOptions() & D3DXMESH_32BIT) != 0;
    if (!index32 && count > kMaxVertices16) return D3DXERR_INVALIDMESH;

    // The vertices are gathered before the copy exists, so that running out of memory leaves none behind.
    std::vector<uint8_t> grown; // empty: the vertices stay as they are
    if (count != in->GetNumVertices())
    {
        const UINT stride = in->GetNumBytesPerVertex();
        grown.resize(size_t(count) * stride);
        for (DWORD v = 0; v < count; ++v)
            std::memcpy(grown.data() + size_t(v) * stride,
                        vertices.data() + size_t(sources.source[v]) * stride, stride);
    }
    ID3DXMesh* outIface = nullptr;
    HRESULT hr = in->CloneMeshFVF(in->GetOptions(), in->GetFVF(), in->Device(), &outIface);
    if (FAILED(hr)) return hr;
    Mesh* out = AsMesh(outIface);
    hr = CatchOutOfMemory(E_OUTOFMEMORY, [&] { return FillCleanCopy(out, grown, count, indices); });
    if (FAILED(hr))
    {
        out->Release();
        return hr;
    }
    *result = out;
    return S_OK;
}

HRESULT CleanMesh(D3DXCLEANTYPE type, Mesh* in, const DWORD* adjacencyIn, LPD3DXMESH* meshOut,
                  DWORD* adjacencyOut)
{
    std::vector<uint8_t> vertices;
    std::vector<uint32_t> indices;
    std::vector<DWORD> adjacency;
    HRESULT hr = in->ReadVertices(&vertices);
    if (SUCCEEDED(hr)) hr = in->ReadIndices(&indices);
    if (SUCCEEDED(hr)) hr = ReadCleanAdjacency(in, adjacencyIn, indices, &adjacency);
    if (FAILED(hr)) return hr;

    const DWORD faces = in->GetNumFaces();
    VertexSources sources(in->GetNumVertices());
    if (type & D3DXCLEAN_BACKFACING) SplitBackFaces(faces, indices, adjacency, sources);
    if (type & D3DXCLEAN_BOWTIES) SplitBowties(faces, indices, adjacency, sources);

    Mesh* out = nullptr;
    hr = WriteCleanMesh(in, vertices, sources, indices, &out);
    if (FAILED(hr)) return hr;
    if (adjacencyOut) std::memcpy(adjacencyOut, adjacency.data(), adjacency.size() * sizeof(DWORD));
    *meshOut = out;
    return S_OK;
}
} // namespace
} // namespace ferolt::d3dx9

using namespace ferolt::d3dx9;

UINT D3DXGetFVFVertexSize(DWORD FVF)
{
    FvfLayout l;
    if (!ParseFvf(FVF, &l))
    {
        // No position: the remaining components still have a size.
        if ((FVF & D3DFVF_POSITION_MASK) != 0 || !ParseFvf(FVF | D3DFVF_XYZ, &l)) return 0;
        return l.stride - 12;
    }
    return l.stride;
}

HRESULT D3DXDeclaratorFromFVF(DWORD FVF, D3DVERTEXELEMENT9 pDeclarator[MAX_FVF_DECL_SIZE])
{
    FvfLayout l;
    if (!pDeclarator) return Refuse("D3DXDeclaratorFromFVF.NullPointer");
    if (!ParseFvf(FVF, &l)) return Refuse("D3DXDeclaratorFromFVF.WrongType");
    DWORD n = 0;
    auto add = [&](int offset, BYTE type, BYTE usage, BYTE index)
    { pDeclarator[n++] = {0, WORD(offset), type, D3DDECLMETHOD_DEFAULT, usage, index}; };
    const DWORD pos = FVF & D3DFVF_POSITION_MASK;
    if (pos == D3DFVF_XYZRHW)
        add(0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITIONT, 0);
    else if (pos == D3DFVF_XYZW)
        add(0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION, 0);
    else
    {
        add(0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION, 0);
        UINT weights = (l.positionBytes - 12) / 4;
        bool lastBeta = (FVF & (D3DFVF_LASTBETA_UBYTE4 | D3DFVF_LASTBETA_D3DCOLOR)) != 0;
        UINT floats = lastBeta ? weights - 1 : weights;
        if (floats) add(12, BYTE(D3DDECLTYPE_FLOAT1 + floats - 1), D3DDECLUSAGE_BLENDWEIGHT, 0);
        if (lastBeta)
            add(12 + 4 * floats, (FVF & D3DFVF_LASTBETA_UBYTE4) ? D3DDECLTYPE_UBYTE4 : D3DDECLTYPE_D3DCOLOR,
                D3DDECLUSAGE_BLENDINDICES, 0);
    }
    if (l.normal >= 0) add(l.normal, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL, 0);
    if (l.psize >= 0) add(l.psize, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE, 0);
    if (l.diffuse >= 0) add(l.diffuse, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 0);
    if (l.specular >= 0) add(l.specular, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR, 1);
    for (UINT t = 0; t < l.texCount; ++t)
        add(l.texOffset[t], BYTE(D3DDECLTYPE_FLOAT1 + l.texBytes[t] / 4 - 1), D3DDECLUSAGE_TEXCOORD, BYTE(t));
    pDeclarator[n] = D3DDECL_END();
    return S_OK;
}

HRESULT D3DXCleanMesh(D3DXCLEANTYPE CleanType, LPD3DXMESH pMeshIn, const DWORD* pAdjacencyIn,
                      LPD3DXMESH* ppMeshOut, DWORD* pAdjacencyOut, LPD3DXBUFFER* ppErrorsAndWarnings)
{
    if (ppErrorsAndWarnings) *ppErrorsAndWarnings = nullptr;
    if (!ppMeshOut) return Refuse("D3DXCleanMesh.NullPointer");
    *ppMeshOut = nullptr;
    Mesh* in = AsMesh(pMeshIn);
    if (!in) return Refuse("D3DXCleanMesh.NullPointer");
    return ferolt::CatchOutOfMemory(
        E_OUTOFMEMORY, [&] { return CleanMesh(CleanType, in, pAdjacencyIn, ppMeshOut, pAdjacencyOut); });
}

HRESULT D3DXComputeNormals(LPD3DXBASEMESH pMesh, const DWORD*)
{
    Mesh* mesh = AsMesh(pMesh);
    if (!mesh) return Refuse("D3DXComputeNormals.NullPointer");
    if (mesh->Layout().normal < 0) return Refuse("D3DXComputeNormals.NoNormals");
    std::vector<uint8_t> vertices;
    std::vector<uint32_t> indices;
    std::vector<Float3> positions;
    HRESULT hr = mesh->ReadVertices(&vertices);
    if (SUCCEEDED(hr)) hr = mesh->ReadIndices(&indices);
    if (SUCCEEDED(hr)) hr = mesh->ReadPositions(&positions);
    if (FAILED(hr)) return hr;
    std::vector<Float3> sums(positions.size(), Float3{0, 0, 0});
    for (size_t f = 0; f < indices.size() / 3; ++f)
    {
        const Float3& p0 = positions[indices[f * 3]];
        Float3 n = Cross(Sub(positions[indices[f * 3 + 1]], p0), Sub(positions[indices[f * 3 + 2]], p0));
        if (!Normalise(&n)) continue; // degenerate faces have no direction to give
        for (int k = 0; k < 3; ++k)
        {
            Float3& s = sums[indices[f * 3 + k]];
            s = {s.x + n.x, s.y + n.y, s.z + n.z};
        }
    }
    const UINT stride = mesh->GetNumBytesPerVertex();
    for (size_t v = 0; v < sums.size(); ++v)
    {
        Float3 n = sums[v];
        if (!Normalise(&n)) n = {0, 0, 0};
        std::memcpy(vertices.data() + v * stride + mesh->Layout().normal, &n, sizeof n);
    }
    return mesh->WriteVertices(vertices);
}

HRESULT D3DXComputeBoundingBox(const D3DXVECTOR3* pFirstPosition, DWORD NumVertices, DWORD dwStride,
                               D3DXVECTOR3* pMin, D3DXVECTOR3* pMax)
{
    if (!pFirstPosition || !pMin || !pMax) return Refuse("D3DXComputeBoundingBox.NullPointer");
    if (NumVertices == 0) return Refuse("D3DXComputeBoundingBox.NoVertices");
    if (dwStride < sizeof(D3DXVECTOR3)) return Refuse("D3DXComputeBoundingBox.StrideBelowPosition");
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pFirstPosition);
    Float3 lo, hi;
    std::memcpy(&lo, p, sizeof lo);
    hi = lo;
    for (DWORD i = 1; i < NumVertices; ++i)
    {
        Float3 v;
        std::memcpy(&v, p + size_t(i) * dwStride, sizeof v);
        lo = {std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
        hi = {std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
    }
    *pMin = D3DXVECTOR3(lo.x, lo.y, lo.z);
    *pMax = D3DXVECTOR3(hi.x, hi.y, hi.z);
    return S_OK;
}

HRESULT D3DXComputeBoundingSphere(const D3DXVECTOR3* pFirstPosition, DWORD NumVertices, DWORD dwStride,
                                  D3DXVECTOR3* pCenter, FLOAT* pRadius)
{
    if (!pFirstPosition || !pCenter || !pRadius) return Refuse("D3DXComputeBoundingSphere.NullPointer");
    if (NumVertices == 0) return Refuse("D3DXComputeBoundingSphere.NoVertices");
    if (dwStride < sizeof(D3DXVECTOR3)) return Refuse("D3DXComputeBoundingSphere.StrideBelowPosition");
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pFirstPosition);
    double c[3] = {0, 0, 0};
    for (DWORD i = 0; i < NumVertices; ++i)
    {
        Float3 v;
        std::memcpy(&v, p + size_t(i) * dwStride, sizeof v);
        c[0] += v.x;
        c[1] += v.y;
        c[2] += v.z;
    }
    for (double& x : c)
        x /= NumVertices;
    double r2 = 0;
    for (DWORD i = 0; i < NumVertices; ++i)
    {
        Float3 v;
        std::memcpy(&v, p + size_t(i) * dwStride, sizeof v);
        double d = (v.x - c[0]) * (v.x - c[0]) + (v.y - c[1]) * (v.y - c[1]) + (v.z - c[2]) * (v.z - c[2]);
        r2 = std::max(r2, d);
    }
    *pCenter = D3DXVECTOR3(float(c[0]), float(c[1]), float(c[2]));
    *pRadius = float(std::sqrt(r2));
    return S_OK;
}

HRESULT D3DXIntersect(LPD3DXBASEMESH pMesh, const D3DXVECTOR3* pRayPos, const D3DXVECTOR3* pRayDir,
                      BOOL* pHit, DWORD* pFaceIndex, FLOAT* pU, FLOAT* pV, FLOAT* pDist,
                      LPD3DXBUFFER* ppAllHits, DWORD* pCountOfHits)
{
    return IntersectMesh(pMesh, false, 0, pRayPos, pRayDir, pHit, pFaceIndex, pU, pV, pDist, ppAllHits,
                         pCountOfHits);
}

HRESULT D3DXIntersectSubset(LPD3DXBASEMESH pMesh, DWORD AttribId, const D3DXVECTOR3* pRayPos,
                            const D3DXVECTOR3* pRayDir, BOOL* pHit, DWORD* pFaceIndex, FLOAT* pU, FLOAT* pV,
                            FLOAT* pDist, LPD3DXBUFFER* ppAllHits, DWORD* pCountOfHits)
{
    return IntersectMesh(pMesh, true, AttribId, pRayPos, pRayDir, pHit, pFaceIndex, pU, pV, pDist, ppAllHits,
                         pCountOfHits);
}

BOOL D3DXIntersectTri(const D3DXVECTOR3* p0, const D3DXVECTOR3* p1, const D3DXVECTOR3* p2,
                      const D3DXVECTOR3* pRayPos, const D3DXVECTOR3* pRayDir, FLOAT* pU, FLOAT* pV,
                      FLOAT* pDist)
{
    if (!p0 || !p1 || !p2 || !pRayPos || !pRayDir) return FALSE;
    auto f3 = [](const D3DXVECTOR3* v) { return Float3{v->x, v->y, v->z}; };
    float u, v, t;
    if (!RayTriangle(f3(pRayPos), f3(pRayDir), f3(p0), f3(p1), f3(p2), &u, &v, &t)) return FALSE;
    if (pU) *pU = u;
    if (pV) *pV = v;
    if (pDist) *pDist = t;
    return TRUE;
}

BOOL D3DXBoxBoundProbe(const D3DXVECTOR3* pMin, const D3DXVECTOR3* pMax, const D3DXVECTOR3* pRayPosition,
                       const D3DXVECTOR3* pRayDirection)
{
    if (!pMin || !pMax || !pRayPosition || !pRayDirection) return FALSE;
    const float lo[3] = {pMin->x, pMin->y, pMin->z};
    const float hi[3] = {pMax->x, pMax->y, pMax->z};
    const float o[3] = {pRayPosition->x, pRayPosition->y, pRayPosition->z};
    const float d[3] = {pRayDirection->x, pRayDirection->y, pRayDirection->z};
    double tNear = 0.0, tFar = std::numeric_limits<double>::infinity();
    for (int a = 0; a < 3; ++a)
    {
        if (d[a] == 0.0f)
        {
            if (o[a] < lo[a] || o[a] > hi[a]) return FALSE;
            continue;
        }
        double t1 = (double(lo[a]) - o[a]) / d[a];
        double t2 = (double(hi[a]) - o[a]) / d[a];
        if (t1 > t2) std::swap(t1, t2);
        tNear = std::max(tNear, t1);
        tFar = std::min(tFar, t2);
        if (!(tNear <= tFar)) return FALSE;
    }
    return TRUE;
}

BOOL D3DXSphereBoundProbe(const D3DXVECTOR3* pCenter, FLOAT Radius, const D3DXVECTOR3* pRayPosition,
                          const D3DXVECTOR3* pRayDirection)
{
    if (!pCenter || !pRayPosition || !pRayDirection) return FALSE;
    const double m[3] = {double(pRayPosition->x) - pCenter->x, double(pRayPosition->y) - pCenter->y,
                         double(pRayPosition->z) - pCenter->z};
    const double d[3] = {pRayDirection->x, pRayDirection->y, pRayDirection->z};
    const double a = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    const double b = m[0] * d[0] + m[1] * d[1] + m[2] * d[2];
    const double c = m[0] * m[0] + m[1] * m[1] + m[2] * m[2] - double(Radius) * Radius;
    if (c <= 0.0) return TRUE; // starts inside
    if (b > 0.0 || a == 0.0) return FALSE;
    return b * b - a * c >= 0.0 ? TRUE : FALSE;
}
