#pragma once
// Cells joined by portals. When a view names a start cell, the render pass and picking find the visible
// objects by walking the cell graph from it through the camera frustum, narrowed at each portal to the
// planes through the eye and the portal's edges. The caller builds and owns the whole graph.
#include <vector>

#include "platform/d3dx9/d3dx9math.h"
#include "platform/win32/windef.h"

namespace LMK
{
class Object_;
class View_;
class PortalCell_;

// Portal kinds: closed, or open from the first cell only while the eye is behind the portal's plane
// (always from the second cell). Any other kind is open both ways.
constexpr DWORD PortalKindOneWay = 0;
constexpr DWORD PortalKindClosed = 1;

struct PortalStruct_TYP
{
    D3DXVECTOR3* vertices; // a convex polygon
    DWORD vertexCount;
    DWORD kind;
    D3DXPLANE plane;
};

struct PortalConnectionStruct_TYP
{
    PortalCell_* firstCell;
    PortalCell_* secondCell;
    std::vector<PortalStruct_TYP*> portals;
};

class PortalCell_
{
public:
    // Sets the visible byte of every listed object: 1 for those in a reached cell that intersect the
    // frustum they were reached through. Returns how many cell walks it took.
    DWORD ComputeVisibility(View_* camera, Object_** objects, DWORD count);

    std::vector<PortalConnectionStruct_TYP*> connections;
    std::vector<Object_*> objects;
    BYTE visited = 0; // 1 while the walk is inside this cell: no cycles along one path

private:
    struct Walk_;
    // One step: this cell's objects against the plane list (near, far, then the sides), then each open
    // portal that the list sees, with the list narrowed to it.
    void MarkVisible(Walk_& walk, const std::vector<D3DXPLANE>& planes);
};
} // namespace LMK
