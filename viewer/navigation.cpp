// Navigation: mouse drags, the wheel, the keyboard, walk-through mode, and the fitting commands. Every
// operation edits m_viewParams, hands it to the camera and invalidates the window; the next paint draws
// the new view. The world is right-handed with Z up.
#include "viewer/navigation.h"

#include "engine/engine_api.h"
#include "viewer/tolvex_control.h"
#include "viewer/viewer_resource.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

using namespace ferolt::viewer;

namespace
{
constexpr float kPi = 3.1415927f;

D3DXVECTOR3 Vec(const float* f)
{
    return D3DXVECTOR3(f[0], f[1], f[2]);
}

void Store(float* f, const D3DXVECTOR3& v)
{
    f[0] = v.x;
    f[1] = v.y;
    f[2] = v.z;
}

D3DXVECTOR3 Cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b)
{
    D3DXVECTOR3 out;
    D3DXVec3Cross(&out, &a, &b);
    return out;
}

D3DXVECTOR3 Normalized(const D3DXVECTOR3& v)
{
    D3DXVECTOR3 out;
    D3DXVec3Normalize(&out, &v);
    return out;
}

float Length(const D3DXVECTOR3& v)
{
    return D3DXVec3Length(&v);
}

bool KeyDown(int vk)
{
    return ::GetAsyncKeyState(vk) < 0;
}

void SetWindow(LMK::ViewParamsStruct_TYP& p, float left, float right, float top, float bottom)
{
    const float window[4] = {left, right, top, bottom};
    for (int i = 0; i < 4; ++i)
        p.window[i] = p.secondWindow[i] = window[i];
}

float WindowWidth(const LMK::ViewParamsStruct_TYP& p)
{
    return p.window[1] - p.window[0];
}

float WindowHeight(const LMK::ViewParamsStruct_TYP& p)
{
    return p.window[2] - p.window[3];
}
} // namespace

namespace ferolt::viewer
{
D3DXVECTOR3 ViewRightAxis(const D3DXVECTOR3& up, const D3DXVECTOR3& d)
{
    D3DXVECTOR3 r = Cross(up, d);
    if (Length(r) > 1e-6f * Length(up) * Length(d)) return r;
    // Looking along the up direction: any horizontal axis across the view serves; take world X with its
    // share along the view removed (world Y when the view runs along X).
    D3DXVECTOR3 n = Normalized(d);
    for (const D3DXVECTOR3& axis : {D3DXVECTOR3(1, 0, 0), D3DXVECTOR3(0, 1, 0)})
    {
        D3DXVECTOR3 across = axis - n * D3DXVec3Dot(&axis, &n);
        if (Length(across) > 1e-3f) return Normalized(across) * (Length(d) > 0 ? Length(d) : 1.0f);
    }
    return D3DXVECTOR3(1, 0, 0);
}
} // namespace ferolt::viewer

D3DXVECTOR3* MinimumVector3(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b)
{
    return D3DXVec3Minimize(out, a, b);
}

D3DXVECTOR3* MaximumVector3(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b)
{
    return D3DXVec3Maximize(out, a, b);
}

// ---------------------------------------------------------------------------------------------------
// Camera operations

void CTolvexControl3D::CommitLookAt()
{
    if (m_renderView.camera)
    {
        D3DXVECTOR3 eye = Vec(m_viewParams.eye), target = Vec(m_viewParams.lookAt);
        LRSetViewLookAt(m_renderView.camera, &eye, &target, nullptr);
    }
    Invalidate();
}

void CTolvexControl3D::CommitViewParams()
{
    if (m_renderView.camera) LRSetViewParams(m_renderView.camera, &m_viewParams);
    Invalidate();
}

void CTolvexControl3D::Pan(float fx, float fy)
{
    D3DXVECTOR3 eye = Vec(m_viewParams.eye), target = Vec(m_viewParams.lookAt), up = Vec(m_viewParams.up);
    D3DXVECTOR3 d = eye - target;
    D3DXVECTOR3 r = Normalized(ViewRightAxis(up, d));
    D3DXVECTOR3 u = Normalized(Cross(d, r));
    D3DXVECTOR3 m = r * (fx * WindowWidth(m_viewParams)) + u * (fy * WindowHeight(m_viewParams));
    Store(m_viewParams.eye, eye + m);
    Store(m_viewParams.lookAt, target + m);
    CommitLookAt();
}

void CTolvexControl3D::Orbit(float a, float b, bool aboutEye)
{
    D3DXVECTOR3 eye = Vec(m_viewParams.eye), target = Vec(m_viewParams.lookAt), up = Vec(m_viewParams.up);
    D3DXVECTOR3 d = eye - target;
    D3DXVECTOR3 r = ViewRightAxis(up, d);
    D3DXVECTOR3 u = Cross(d, r);
    D3DXMATRIX tilt, turn, m;
    D3DXMatrixRotationAxis(&tilt, &r, -b * kPi);
    D3DXMatrixRotationZ(&turn, a * kPi);
    D3DXMatrixMultiply(&m, &tilt, &turn);
    D3DXVECTOR3 turnedUp;
    D3DXVec3TransformCoord(&turnedUp, &u, &m);
    // The view does not tip over the top.
    if (turnedUp.z < 0.0f) return;
    D3DXVECTOR3 turned;
    D3DXVec3TransformCoord(&turned, &d, &m);
    if (aboutEye)
        Store(m_viewParams.lookAt, eye - turned);
    else
        Store(m_viewParams.eye, target + turned);
    CommitLookAt();
}

void CTolvexControl3D::MoveVertically(float f, bool moveTarget)
{
    float s = f * Length(Vec(m_viewParams.eye) - Vec(m_viewParams.lookAt));
    m_viewParams.eye[2] += s;
    if (moveTarget) m_viewParams.lookAt[2] += s;
    CommitLookAt();
}

void CTolvexControl3D::ScaleDistance(float f)
{
    D3DXVECTOR3 target = Vec(m_viewParams.lookAt);
    D3DXVECTOR3 eye = target + (Vec(m_viewParams.eye) - target) * f;
    Store(m_viewParams.eye, eye);
    if (m_renderView.camera) LRSetViewLookAt(m_renderView.camera, &eye, nullptr, nullptr);
    Invalidate();
}

void CTolvexControl3D::ZoomAboutCenter(float f)
{
    if (!(f > 0.01f && f < 100.0f)) return;
    D3DXVECTOR3 target = Vec(m_viewParams.lookAt);
    Store(m_viewParams.eye, target + (Vec(m_viewParams.eye) - target) * f);
    float cx = (m_viewParams.window[0] + m_viewParams.window[1]) / 2;
    float cy = (m_viewParams.window[2] + m_viewParams.window[3]) / 2;
    SetWindow(m_viewParams, cx + (m_viewParams.window[0] - cx) * f, cx + (m_viewParams.window[1] - cx) * f,
              cy + (m_viewParams.window[2] - cy) * f, cy + (m_viewParams.window[3] - cy) * f);
    CommitViewParams();
}

void CTolvexControl3D::ZoomTowardCursor(float f)
{
    if (!(f > 0.01f && f < 100.0f) || !m_renderView.camera) return;
    POINT cursor{0, 0};
    ::GetCursorPos(&cursor);
    BYTE hit = 0;
    float hitPoint[3] = {};
    LRPickAtScreenPoint(&m_renderView, static_cast<DWORD>(m_objects.size()),
                        m_objects.empty() ? nullptr : m_objects.data(), &cursor, true, &hit, nullptr, nullptr,
                        nullptr, nullptr, nullptr, nullptr, nullptr, hitPoint);

    D3DXVECTOR3 eye = Vec(m_viewParams.eye), target = Vec(m_viewParams.lookAt);
    const D3DXVECTOR3 towardTarget = target - eye;
    D3DXVECTOR3 pivot = target, direction = towardTarget;
    if (hit)
    {
        pivot = Vec(hitPoint);
        direction = pivot - eye;
        D3DXVECTOR3 onAxis;
        if (ViewAxisPointAtDepth(eye, target, pivot, &onAxis)) target = onAxis;
    }
    float reach = hit ? Length(direction) : 1.0f;
    float s = 0.15f * f;
    if (s > 0.99f) s = 0.8f;
    D3DXVECTOR3 step = Normalized(direction) * (s * reach * (f < 1.0f ? 1.0f : -1.0f));
    eye += step;
    target += step;
    Store(m_viewParams.eye, eye);
    Store(m_viewParams.lookAt, target);
    m_viewParams.zNear = 0.05f;
    m_viewParams.zFar = 1000.0f;
    LRSetViewParams(m_renderView.camera, &m_viewParams);

    D3DXVECTOR3 onAxis;
    if (hit && ViewAxisPointAtDepth(eye, target, pivot, &onAxis))
    {
        Store(m_viewParams.lookAt, onAxis);
        float width = WindowWidth(m_viewParams);
        if (Length(towardTarget) > 0.01f && width > 0.00001f)
        {
            // Keep the picked depth at the scale it had, so the point stays under the cursor.
            float hw = (width / 2 / Length(towardTarget)) * Length(onAxis - eye);
            float hh = hw * WindowHeight(m_viewParams) / width;
            SetWindow(m_viewParams, -hw, hw, hh, -hh);
        }
        LRSetViewParams(m_renderView.camera, &m_viewParams);
    }
    Invalidate();
}

bool CTolvexControl3D::GetSceneBoundingBox(D3DXVECTOR3* minimum, D3DXVECTOR3* maximum) const
{
    bool found = false;
    D3DXVECTOR3 lo, hi;
    for (LMK::Object_* object : m_objects)
    {
        D3DXVECTOR3 objectLo, objectHi;
        if (!object || FAILED(LRGetObjectBoundingBox(object, &objectLo, &objectHi))) continue;
        // An object without geometry keeps the grown-from-nothing box; it has no extent to fit.
        if (objectLo.x > objectHi.x || objectLo.y > objectHi.y || objectLo.z > objectHi.z) continue;
        if (found)
        {
            MinimumVector3(&lo, &lo, &objectLo);
            MaximumVector3(&hi, &hi, &objectHi);
        }
        else
        {
            lo = objectLo;
            hi = objectHi;
            found = true;
        }
    }
    if (!found) return false;
    *minimum = lo;
    *maximum = hi;
    return true;
}

void CTolvexControl3D::ShowAll()
{
    D3DXVECTOR3 lo, hi;
    if (!GetSceneBoundingBox(&lo, &hi)) return;
    D3DXVECTOR3 back = Normalized(Vec(m_viewParams.eye) - Vec(m_viewParams.lookAt));
    // An eye on its look-at point has no direction to keep; the standard one serves.
    if (Length(back) == 0.0f) back = Normalized(D3DXVECTOR3(-3, 0, 2));
    D3DXVECTOR3 target = (lo + hi) * 0.5f;
    float g = Length(hi - lo);
    // A scene of one point still gets a window to look through.
    if (!(g > 0.0f)) g = 1.0f;
    Store(m_viewParams.lookAt, target);
    Store(m_viewParams.eye, target + back * (1.5f * g));
    float width = WindowWidth(m_viewParams), height = WindowHeight(m_viewParams);
    // A window without height (a client area of zero height) has no ratio to keep.
    float q = width > 0.0f && height > 0.0f ? width / height : 1.0f;
    if (width <= height)
        SetWindow(m_viewParams, -g / 2, g / 2, g / (2 * q), -g / (2 * q));
    else
        SetWindow(m_viewParams, -g * q / 2, g * q / 2, g / 2, -g / 2);
    CommitViewParams();
}

void CTolvexControl3D::StandardOrientation()
{
    D3DXVECTOR3 lo, hi;
    if (!GetSceneBoundingBox(&lo, &hi)) return;
    std::memset(&m_viewParams, 0, sizeof(m_viewParams));
    const D3DXVECTOR3 target = (lo + hi) * 0.5f;
    const D3DXVECTOR3 eye = target + D3DXVECTOR3(-3, 0, 2);
    Store(m_viewParams.up, D3DXVECTOR3(0, 0, 1));
    Store(m_viewParams.lookAt, target);
    Store(m_viewParams.eye, eye);
    m_viewParams.zFar = 1.25f * Length(hi - eye);
    m_viewParams.zNear = 0.5f * Length(lo - eye);
    m_viewParams.orthographic = 0;
    m_viewParams.autoNearFar = 1;
    float h = 0.75f * Length(target - eye);
    RECT client{0, 0, 0, 0};
    if (m_hWnd) GetClientRect(&client);
    LONG cw = client.right - client.left, ch = client.bottom - client.top;
    // A minimised window has a client area of zero height: no aspect to keep.
    float aspect = cw > 0 && ch > 0 ? static_cast<float>(cw) / static_cast<float>(ch) : 1.0f;
    SetWindow(m_viewParams, -h, h, h / aspect, -h / aspect);
    ShowAll();
}

// ---------------------------------------------------------------------------------------------------
// Walk-through mode

void CTolvexControl3D::WalkMove(float a, float b)
{
    D3DXVECTOR3 eye = Vec(m_viewParams.eye), target = Vec(m_viewParams.lookAt), up = Vec(m_viewParams.up);
    D3DXVECTOR3 back(eye.x - target.x, eye.y - target.y, 0.0f);
    // Looking straight down or up there is no horizontal way to walk.
    if (Length(back) < 1e-6f) return;
    back = Normalized(back);
    D3DXVECTOR3 m = (Cross(up, back) * a + back * b) * 20.0f;
    Store(m_viewParams.eye, eye + m);
    Store(m_viewParams.lookAt, target + m);
    CommitLookAt();
}

int CTolvexControl3D::ClassifyWalkCursorZone(const RECT& client, POINT point, float* fx, float* fy)
{
    const float w = static_cast<float>(client.right - client.left);
    const float h = static_cast<float>(client.bottom - client.top);
    const float x = static_cast<float>(point.x - client.left), y = static_cast<float>(point.y - client.top);
    int row = 0, column = 0;
    float refY = 0.5f * h, spanY = 0.5f * h, refX = 0.39f * w, spanX = 0.39f * w;
    if (y >= 0.7f * h)
    {
        row = 6;
        refY = 0.7f * h;
        spanY = 0.3f * h;
    }
    else if (y >= 0.5f * h)
    {
        row = 3;
        refY = 0.7f * h;
        spanY = 0.2f * h;
    }
    if (x >= 0.71f * w)
    {
        column = 2;
        refX = 0.71f * w;
        spanX = 0.29f * w;
    }
    else if (x >= 0.39f * w)
    {
        column = 1;
        refX = 0.71f * w;
        spanX = 0.32f * w;
    }
    *fx = spanX > 0.0f ? std::fabs(x - refX) / spanX : 0.0f;
    *fy = spanY > 0.0f ? std::fabs(y - refY) / spanY : 0.0f;
    return row + column;
}

void CTolvexControl3D::ToggleWalkMode()
{
    m_bWalkMode = !m_bWalkMode;
    m_dwWalkTick = ::GetTickCount();
    if (!m_bWalkMode)
    {
        m_nCursorId = kCursorNavigate;
        ApplyCursor();
    }
}

void CTolvexControl3D::WalkTick()
{
    if (!m_bWalkMode) return;
    const uint32_t now = ::GetTickCount();
    float dt = static_cast<float>(now - m_dwWalkTick) / 1000.0f;
    m_dwWalkTick = now;
    bool active = true;

    int zone = -1;
    if (KeyDown('A') || KeyDown(VK_LEFT))
        zone = 6;
    else if (KeyDown('S') || KeyDown(VK_DOWN))
        zone = 7;
    else if (KeyDown('D') || KeyDown(VK_RIGHT))
        zone = 8;
    else if (KeyDown('W') || KeyDown(VK_UP))
        zone = 1;
    else
        active = KeyDown(VK_LBUTTON);
    if (::GetFocus() != m_hWnd) active = false;

    float fx = 0.9f, fy = 0.75f;
    if (zone < 0)
    {
        POINT cursor{0, 0};
        ::GetCursorPos(&cursor);
        ScreenToClient(&cursor);
        RECT client{0, 0, 0, 0};
        GetClientRect(&client);
        if (!::PtInRect(&client, cursor)) return;
        zone = ClassifyWalkCursorZone(client, cursor, &fx, &fy);
    }
    SetCursorId(kWalkZoneCursors[zone]);
    if (!active) return;

    float speed = dt * 0.1f * (KeyDown(VK_SHIFT) ? 3.0f : 1.0f);
    fx *= speed;
    fy *= speed;
    switch (zone)
    {
    case 0:
        WalkMove(0, -1.5f * fy);
        Orbit(1.5f * fx, 0, true);
        break;
    case 1:
        WalkMove(0, -3.0f * fy);
        break;
    case 2:
        WalkMove(0, -1.5f * fy);
        Orbit(-1.5f * fx, 0, true);
        break;
    case 3:
        Orbit(1.5f * fx, 0, true);
        break;
    case 5:
        Orbit(-1.5f * fx, 0, true);
        break;
    case 6:
        WalkMove(-3.0f * fx, 0);
        break;
    case 7:
        WalkMove(0, 3.0f * fy);
        break;
    case 8:
        WalkMove(3.0f * fx, 0);
        break;
    default:
        break;
    }
}

bool CTolvexControl3D::ViewAxisPointAtDepth(const D3DXVECTOR3& eye, const D3DXVECTOR3& target,
                                            const D3DXVECTOR3& point, D3DXVECTOR3* out)
{
    D3DXVECTOR3 normal = Normalized(target - eye);
    D3DXPLANE plane;
    D3DXPlaneFromPointNormal(&plane, &point, &normal);
    return D3DXPlaneIntersectLine(out, &plane, &eye, &target) != nullptr;
}

// ---------------------------------------------------------------------------------------------------
// Mouse

void CTolvexControl3D::StopAutoRotation()
{
    m_fRotationSpeed = 0.0f;
    m_fTiltSpeed = 0.0f;
}

void CTolvexControl3D::SetCursorId(UINT id)
{
    if (id == m_nCursorId) return;
    m_nCursorId = id;
    ApplyCursor();
}

void CTolvexControl3D::OnLButtonDown(UINT flags, CPoint point)
{
    if (m_bDragging || m_bWalkMode) return;
    m_ptDragStart = point;
    StopAutoRotation();
    SetCursorId((flags & MK_SHIFT) ? kCursorPan : kCursorNavigate);
}

void CTolvexControl3D::OnMButtonDown(UINT, CPoint point)
{
    if (m_bWalkMode || m_bDragging) return;
    m_ptDragStart = point;
    StopAutoRotation();
    SetCursorId(kCursorPan);
    m_bPickHit = false;
    if (!HasObjects()) return;
    POINT screen = point;
    ClientToScreen(&screen);
    BYTE hit = 0;
    float hitPoint[3] = {};
    LRPickAtScreenPoint(&m_renderView, static_cast<DWORD>(m_objects.size()), m_objects.data(), &screen, false,
                        &hit, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, hitPoint);
    m_bPickHit = hit != 0;
    if (m_bPickHit) m_fPickDepth = Length(Vec(hitPoint) - Vec(m_viewParams.eye));
}

void CTolvexControl3D::OnRButtonDown(UINT, CPoint point)
{
    if (m_bDragging) return;
    m_ptDragStart = point;
    if (KeyDown(VK_MENU))
    {
        StopAutoRotation();
        SetCursorId(kCursorTurnAboutEye);
    }
}

bool CTolvexControl3D::EndDragOnButtonUp(UINT flags)
{
    if (!m_bDragging || (flags & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON))) return false;
    ::ReleaseCapture();
    m_bDragging = false;
    m_bPickHit = false;
    return true;
}

void CTolvexControl3D::OnLButtonUp(UINT flags, CPoint)
{
    if (!m_bWalkMode) SetCursorId(kCursorNavigate);
    EndDragOnButtonUp(flags);
}

void CTolvexControl3D::OnMButtonUp(UINT flags, CPoint)
{
    SetCursorId(kCursorNavigate);
    EndDragOnButtonUp(flags);
}

void CTolvexControl3D::OnRButtonUp(UINT flags, CPoint point)
{
    SetCursorId(kCursorNavigate);
    // A right button that ends a drag (an Alt+right turn) raises no context menu.
    if (!EndDragOnButtonUp(flags)) CWnd::OnRButtonUp(flags, point);
}

void CTolvexControl3D::OnMouseMove(UINT flags, CPoint point)
{
    const bool left = flags & MK_LBUTTON, middle = flags & MK_MBUTTON, right = flags & MK_RBUTTON;
    if ((left || middle) && !m_bDragging)
    {
        if (std::abs(point.x - m_ptDragStart.x) <= ::GetSystemMetrics(SM_CXDRAG) &&
            std::abs(point.y - m_ptDragStart.y) <= ::GetSystemMetrics(SM_CYDRAG))
            return;
        StopAutoRotation();
        m_bDragging = true;
        SetCapture();
    }
    if (m_bWalkMode) return;

    RECT client{0, 0, 0, 0};
    GetClientRect(&client);
    const LONG cw = client.right - client.left, ch = client.bottom - client.top;
    // A client area without width or height gives no fraction of it to move by.
    if (cw <= 0 || ch <= 0) return;
    const float dx = static_cast<float>(point.x - m_ptDragStart.x) / static_cast<float>(cw);
    const float dy = static_cast<float>(point.y - m_ptDragStart.y) / static_cast<float>(ch);

    UINT cursor;
    if (middle || (left && (flags & MK_SHIFT)))
    {
        float fx = -dx, fy = dy;
        float distance = Length(Vec(m_viewParams.eye) - Vec(m_viewParams.lookAt));
        // The picked point moves with the cursor rather than the look-at point.
        if (m_bPickHit && distance > 0.0f)
        {
            fx *= m_fPickDepth / distance;
            fy *= m_fPickDepth / distance;
        }
        Pan(fx, fy);
        cursor = kCursorPan;
    }
    else if (left)
    {
        Orbit(-dx, dy, false);
        cursor = kCursorNavigate;
    }
    else if (right && KeyDown(VK_MENU))
    {
        Orbit(-dx * 0.5f, dy * 0.5f, true);
        cursor = kCursorTurnAboutEye;
        // The turn is a drag of its own, so that releasing the button does not open the context menu.
        if (!m_bDragging && (dx != 0.0f || dy != 0.0f))
        {
            m_bDragging = true;
            SetCapture();
        }
    }
    else
    {
        return;
    }
    m_ptDragStart = point;
    SetCursorId(cursor);
}

BOOL CTolvexControl3D::OnMouseWheel(UINT flags, short delta, CPoint)
{
    const float step = static_cast<float>(delta) / WHEEL_DELTA;
    if (flags & MK_CONTROL)
    {
        Pan(0, step * 0.025f);
    }
    else if (flags & MK_SHIFT)
    {
        StopAutoRotation();
        ZoomTowardCursor(step > 0 ? 0.5f : 2.0f);
    }
    else if (KeyDown(VK_MENU))
    {
        Pan(step * 0.025f, 0);
    }
    else
    {
        StopAutoRotation();
        ZoomTowardCursor(step > 0 ? 0.9f : 1.1f);
    }
    return TRUE;
}

// ---------------------------------------------------------------------------------------------------
// Keyboard

void CTolvexControl3D::OnKeyDown(UINT key, UINT, UINT)
{
    NavigationKey(key);
}

void CTolvexControl3D::OnSysKeyDown(UINT key, UINT, UINT flags)
{
    if (key == VK_F4 && (flags & KF_ALTDOWN))
    {
        PostMessage(WM_CLOSE);
        return;
    }
    NavigationKey(key);
}

void CTolvexControl3D::NavigationKey(UINT key)
{
    const bool ctrl = KeyDown(VK_CONTROL), shift = KeyDown(VK_SHIFT), alt = KeyDown(VK_MENU);
    if (key >= VK_NUMPAD1 && key <= VK_NUMPAD9 && key != VK_NUMPAD5)
    {
        // The numpad's layout: 7 8 9 on top, 1 2 3 at the bottom.
        int index = static_cast<int>(key - VK_NUMPAD1);
        Pan(0.05f * static_cast<float>(index % 3 - 1), 0.05f * static_cast<float>(index / 3 - 1));
        return;
    }
    const float s = shift ? 0.1f : 0.03f;
    float x = 0, y = 0;
    switch (key)
    {
    case VK_HOME:
        StandardOrientation();
        return;
    case '0':
    case VK_NUMPAD0:
        ShowAll();
        return;
    case VK_MULTIPLY:
        ZoomTowardCursor(0.95f);
        return;
    case VK_DIVIDE:
        ZoomTowardCursor(1.05f);
        return;
    case VK_ADD:
        ZoomAboutCenter(0.95f);
        return;
    case VK_SUBTRACT:
        ZoomAboutCenter(1.05f);
        return;
    case VK_F1:
        ShowHelp();
        return;
    case VK_F2:
        ToggleWalkMode();
        return;
    case VK_F3:
        HandleCommand(ID_NIGHT_VIEW);
        return;
    case VK_OEM_102:
        if (ctrl) ScaleDistance(shift ? 1.1f : 0.90909f);
        return;
    case VK_PRIOR:
    case VK_NEXT:
        if (m_bWalkMode) MoveVertically(key == VK_PRIOR ? s : -s, true);
        return;
    case VK_LEFT:
        x = -1;
        break;
    case VK_RIGHT:
        x = 1;
        break;
    case VK_UP:
        y = 1;
        break;
    case VK_DOWN:
        y = -1;
        break;
    default:
        return;
    }
    if (m_bWalkMode)
    {
        // Walking by the arrows is the timer's; Ctrl with Up or Down climbs.
        if (ctrl && y != 0) MoveVertically(y * s, false);
        return;
    }
    if (alt)
    {
        float k = shift ? 4.0f : 1.0f;
        Pan(x * 0.05f * k, y * 0.05f * k);
    }
    else
    {
        float k = ctrl ? 0.5f : 1.0f;
        Orbit(x * k / 72, y * k / 72, ctrl);
    }
}
