#pragma once
// Navigation helpers that need no window: the walk zones of the client area, the component-wise box
// helpers and the fallback axes for a view that looks straight along the world's up direction.
#include "platform/d3dx9/d3dx9math.h"
#include "platform/win32/windef.h"

namespace ferolt::viewer
{
// Cursor id of each walk zone (0 to 8, row value + column value).
constexpr UINT kWalkZoneCursors[9] = {803, 809, 806, 807, 804, 808, 802, 801, 805};

constexpr UINT kCursorPan = 811;
constexpr UINT kCursorNavigate = 812;
constexpr UINT kCursorTurnAboutEye = 815;

// The camera's right-hand axis for the view vector d = eye - look-at point and up vector `up`:
// up x d, or, when the view runs along `up` and that product vanishes, a horizontal axis
// perpendicular to d, so that a view straight down still pans and orbits.
D3DXVECTOR3 ViewRightAxis(const D3DXVECTOR3& up, const D3DXVECTOR3& d);
} // namespace ferolt::viewer

D3DXVECTOR3* MinimumVector3(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* MaximumVector3(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
