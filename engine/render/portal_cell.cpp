#include "engine/render/portal_cell.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "engine/core/view.h"
#include "engine/scene/object.h"

namespace LMK
{
namespace
{
constexpr size_t kFirstSidePlane = 2;

float Distance(const D3DXPLANE& p, const D3DXVECTOR3& v)
{
    return p.a * v.x + p.b * v.y + p.c * v.z + p.d;
}

// A plane from three points, turned so that the inside point lies in front of it. The order of the
// points alone cannot be trusted: a portal's vertices may wind either way round its plane, and a portal
// is seen from both sides.
D3DXPLANE PlaneFacing(const D3DXVECTOR3& a, const D3DXVECTOR3& b, const D3DXVECTOR3& c,
                      const D3DXVECTOR3& inside)
{
    D3DXPLANE p;
    D3DXPlaneFromPoints(&p, &a, &b, &c);
    if (Distance(p, inside) < 0.0f) p = D3DXPLANE(-p.a, -p.b, -p.c, -p.d);
    return p;
}

bool SamePlanes(const std::vector<D3DXPLANE>& a, const std::vector<D3DXPLANE>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(D3DXPLANE)) == 0;
}
} // namespace

struct PortalCell_::Walk_
{
    D3DXVECTOR3 eye;
    Object_** objects;
    DWORD count;
    DWORD walks = 0;
    // The plane lists each cell was walked with. Paths that meet again through a portal seen whole
    // arrive with the same list, and walking it again would find nothing new; without this a graph with
    // many paths is walked once per path, exponentially often.
    std::map<PortalCell_*, std::vector<std::vector<D3DXPLANE>>> walked;
};

DWORD PortalCell_::ComputeVisibility(View_* camera, Object_** objects, DWORD count)
{
    for (DWORD i = 0; i < count; ++i)
        if (objects[i]) objects[i]->visible = 0;
    if (!camera) return 0;

    // The part's projection when one is current, else the whole view's.
    D3DXMATRIX m;
    if (FAILED(camera->GetViewPartProjectionMatrix(&m)) || !D3DXMatrixInverse(&m, nullptr, &m))
        if (FAILED(camera->GetInverseViewProjectionMatrix(&m))) return 0;
    D3DXVECTOR3 c[2][2][2]; // [x][y][z]: -1 or 1 in x and y, 0 or 1 in z
    D3DXVECTOR3 centre(0, 0, 0);
    for (int x = 0; x < 2; ++x)
        for (int y = 0; y < 2; ++y)
            for (int z = 0; z < 2; ++z)
            {
                const D3DXVECTOR3 clip(x ? 1.0f : -1.0f, y ? 1.0f : -1.0f, static_cast<float>(z));
                D3DXVec3TransformCoord(&c[x][y][z], &clip, &m);
                centre += c[x][y][z] * 0.125f;
            }
    // Every plane faces into the frustum: what lies behind one is outside. The corners alone would give
    // some of them facing out, and then everything would be culled.
    const std::vector<D3DXPLANE> planes = {
        PlaneFacing(c[0][1][0], c[1][0][0], c[0][0][0], centre), // near
        PlaneFacing(c[1][0][1], c[1][1][1], c[0][1][1], centre), // far
        PlaneFacing(c[0][0][1], c[0][1][1], c[0][1][0], centre), // x = -1
        PlaneFacing(c[1][0][1], c[1][1][0], c[1][1][1], centre), // x = +1
        PlaneFacing(c[0][1][1], c[1][1][0], c[0][1][0], centre), // y = +1
        PlaneFacing(c[0][0][1], c[0][0][0], c[1][0][0], centre), // y = -1
    };

    Walk_ walk;
    camera->GetLookAt(&walk.eye, nullptr, nullptr);
    walk.objects = objects;
    walk.count = count;
    MarkVisible(walk, planes);
    return walk.walks;
}

void PortalCell_::MarkVisible(Walk_& walk, const std::vector<D3DXPLANE>& planes)
{
    if (visited || planes.size() == kFirstSidePlane) return;
    std::vector<std::vector<D3DXPLANE>>& seen = walk.walked[this];
    for (const std::vector<D3DXPLANE>& earlier : seen)
        if (SamePlanes(earlier, planes)) return;
    seen.push_back(planes);
    ++walk.walks;

    visited = 1;
    for (Object_* o : objects)
        if (o) o->portalVisited = 1;
    for (DWORD i = 0; i < walk.count; ++i)
    {
        Object_* o = walk.objects[i];
        if (!o || o->visible || !o->portalVisited || !o->model) continue;
        if (!o->boundsValid) o->ComputeBounds(nullptr, nullptr);
        const float* lo = o->boundsMin;
        const float* hi = o->boundsMax;
        bool outside = false;
        for (const D3DXPLANE& p : planes)
        {
            int behind = 0;
            for (int k = 0; k < 8; ++k)
            {
                const D3DXVECTOR3 corner((k & 1) ? hi[0] : lo[0], (k & 2) ? hi[1] : lo[1],
                                         (k & 4) ? hi[2] : lo[2]);
                behind += Distance(p, corner) < 0.0f;
            }
            if (behind == 8)
            {
                outside = true;
                break;
            }
        }
        if (!outside) o->visible = 1;
    }
    for (Object_* o : objects)
        if (o) o->portalVisited = 0;

    const D3DXVECTOR3& eye = walk.eye;
    for (PortalConnectionStruct_TYP* connection : connections)
    {
        if (!connection) continue;
        const bool fromFirst = connection->firstCell == this;
        PortalCell_* far = fromFirst ? connection->secondCell : connection->firstCell;
        if (!far) continue;
        for (PortalStruct_TYP* portal : connection->portals)
        {
            if (!portal || portal->kind == PortalKindClosed || !portal->vertices || portal->vertexCount < 3)
                continue;
            const bool front = Distance(portal->plane, eye) >= 0.0f;
            if (fromFirst && portal->kind == PortalKindOneWay && front) continue;

            const D3DXVECTOR3* v = portal->vertices;
            const DWORD n = portal->vertexCount;
            D3DXVECTOR3 middle(0, 0, 0);
            for (DWORD k = 0; k < n; ++k)
                middle += v[k];
            middle /= static_cast<float>(n);

            std::vector<D3DXPLANE> narrowed(planes.begin(), planes.begin() + kFirstSidePlane);
            for (DWORD k = 0; k < n; ++k)
            {
                const D3DXVECTOR3& a = v[k];
                const D3DXVECTOR3& b = v[(k + 1) % n];
                const bool dropped = std::any_of(planes.begin() + kFirstSidePlane, planes.end(),
                                                 [&](const D3DXPLANE& p)
                                                 { return Distance(p, a) < 0.0f && Distance(p, b) < 0.0f; });
                if (!dropped) narrowed.push_back(PlaneFacing(eye, a, b, middle));
            }
            if (narrowed.size() == kFirstSidePlane) continue;
            for (size_t s = kFirstSidePlane; s < planes.size(); ++s)
            {
                DWORD behind = 0;
                for (DWORD k = 0; k < n; ++k)
                    behind += Distance(planes[s], v[k]) < 0.0f;
                if (behind != 0 && behind != n) narrowed.push_back(planes[s]);
            }
            far->MarkVisible(walk, narrowed);
        }
    }
    visited = 0;
}
} // namespace LMK
