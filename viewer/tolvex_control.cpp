// The main window: creation, painting, resizing, the timer, cursors and destruction.
#include "viewer/tolvex_control.h"

#include "engine/engine_api.h"
#include "platform/d3dx9/d3dx9math.h"
#include "platform/win32/gdi_dc.h"
#include "viewer/viewer_resource.h"

#include <cmath>

BEGIN_MESSAGE_MAP(CTolvexControl3D, CWnd)
ON_WM_PAINT()
ON_WM_CREATE()
ON_WM_SIZE()
ON_WM_ERASEBKGND()
ON_WM_DESTROY()
ON_WM_TIMER()
ON_WM_SETCURSOR()
ON_WM_KEYDOWN()
ON_WM_SYSKEYDOWN()
ON_WM_MOUSEWHEEL()
ON_WM_MOUSEMOVE()
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONUP()
ON_WM_MBUTTONDOWN()
ON_WM_MBUTTONUP()
ON_WM_RBUTTONDOWN()
ON_WM_RBUTTONUP()
ON_WM_CONTEXTMENU()
ON_WM_CLOSE()
ON_COMMAND_RANGE(ID_MODE_TEXTURED, ID_COMMAND_LAST, OnCommandRange)
ON_COMMAND_RANGE(ID_VIEWPOINT_FIRST, ID_VIEWPOINT_LAST, OnCommandRange)
END_MESSAGE_MAP()

CTolvexControl3D::CTolvexControl3D()
{
    m_hCursors[0] = ::LoadCursorA(nullptr, IDC_ARROW);
    HINSTANCE module = ::GetModuleHandleA(nullptr);
    for (int id = IDC_VIEWER_FIRST_RESOURCE; id <= IDC_VIEWER_LAST; ++id)
        m_hCursors[id - IDC_VIEWER_ARROW] = ::LoadCursorA(module, MAKEINTRESOURCEA(id));

    m_renderView.lightIntensity = &m_fLightIntensity;
    m_renderView.edgeColor = 0xFF000000;
    m_renderView.surfaceColor = 0xFFFFFFFF;
    m_renderView.cameraLight = 1;
    m_renderView.animatedSubsetFlag = &m_bAnimatedSubsetDrawn;
    m_renderView.textureEffectFlag = &m_bTexEffectAnimating;
    m_renderView.reflectionLevel = 3;
    m_renderView.minimumReflectivity = 0.05f;
    m_renderView.modeFlags = LMK::DisplayModeTextured;
    LRInitEnvironmentStruct(&m_environmentDesc);

    BYTE transparentMirrors = 1;
    LRSwapTransparentMirrorsOption(&transparentMirrors);
}

CTolvexControl3D::~CTolvexControl3D()
{
    // A window that was never shown still owns the texture array of a record handed to it.
    ReleaseEnvironmentTextures();
}

int CTolvexControl3D::OnCreate(LPCREATESTRUCT)
{
    HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_FEROLT));
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SetTimer(kTimerId, kTimerMilliseconds);
    return 0;
}

void CTolvexControl3D::OnPaint()
{
    CPaintDC dc(this);
    if (!DrawScene(dc))
    {
        CRect client;
        GetClientRect(&client);
        dc.FillSolidRect(&client, 0xFFFFFF);
    }
}

BOOL CTolvexControl3D::OnEraseBkgnd(CDC*)
{
    return FALSE; // the frame covers the whole client area
}

bool CTolvexControl3D::DrawScene(HDC dc)
{
    if (!PrepareFrame(dc)) return false;
    std::vector<LMK::Light_*> lights;
    CollectActiveLights(lights);
    // The file's own camera lights replace the renderer's.
    m_renderView.cameraLight = m_nSpecialLights < 6 ? 1 : 0;
    RenderFrame(lights);
    AfterDraw();
    return true;
}

void CTolvexControl3D::RenderFrame(std::vector<LMK::Light_*>& lights)
{
    LRRenderView(&m_renderView, static_cast<DWORD>(m_objects.size()),
                 m_objects.empty() ? nullptr : m_objects.data(), static_cast<DWORD>(lights.size()),
                 lights.empty() ? nullptr : lights.data());
}

bool CTolvexControl3D::PrepareFrame(HDC dc)
{
    if (!HasObjects()) return false;

    m_bAnimatedSubsetDrawn = 0;
    m_bTexEffectAnimating = 0;
    if (m_dwRotationTick == 0) m_dwRotationTick = ::GetTickCount();
    if (m_dwAnimationStart == 0) m_dwAnimationStart = ::GetTickCount();

    RECT clip{0, 0, 0, 0};
    if (dc) ::GetClipBox(dc, &clip);
    // A partly covered window paints a smaller box; the back buffer follows the box being painted.
    if (m_renderView.backBuffer && !::EqualRect(&clip, &m_rcClip))
        LRReleaseBackBuffer(&m_renderView.backBuffer);
    if (!m_renderView.backBuffer)
    {
        LRCreateBackBuffer(m_hWnd, &m_renderView.backBuffer, nullptr);
        m_rcClip = clip;
    }
    if (!m_renderView.camera) LRCreateViewFromParams(&m_viewParams, &m_renderView.camera);
    if (!m_renderView.environment) LRCreateEnvironment(&m_environmentDesc, &m_renderView.environment);

    ApplyPendingViewpoint();
    uint32_t now = ::GetTickCount();
    AdvanceAnimations(now);
    AdvanceAutoRotation(now);
    AimCameraLights();
    return true;
}

void CTolvexControl3D::ApplyPendingViewpoint()
{
    if (m_nPendingViewpoint < 0) return;
    size_t index = static_cast<size_t>(m_nPendingViewpoint);
    m_nPendingViewpoint = -1;
    if (m_nViewpointSwitch == 0 || index >= m_viewpoints.size()) return;
    const P3DViewpointRecord& r = m_viewpoints[index];
    D3DXVECTOR3 eye(r.eye[0], r.eye[1], r.eye[2]);
    D3DXVECTOR3 target(r.target[0], r.target[1], r.target[2]);
    D3DXVECTOR3 d = target - eye;
    float w = 2.0f * D3DXVec3Length(&d) * std::atan(r.field);
    UINT bw = 0, bh = 0;
    if (m_renderView.backBuffer) LRGetBackBufferSize(m_renderView.backBuffer, &bw, &bh);
    if (bw == 0) return;
    float h = static_cast<float>(bh) * w / static_cast<float>(bw);
    for (int i = 0; i < 3; ++i)
    {
        m_viewParams.eye[i] = r.eye[i];
        m_viewParams.lookAt[i] = r.target[i];
    }
    const float window[4] = {-w / 2, w / 2, h / 2, -h / 2};
    for (int i = 0; i < 4; ++i)
        m_viewParams.window[i] = m_viewParams.secondWindow[i] = window[i];
    if (m_renderView.camera) LRSetViewParams(m_renderView.camera, &m_viewParams);
}

float CTolvexControl3D::AnimationTime(uint32_t elapsedMs, float start, float end)
{
    float length = end - start;
    if (!(length > 0.0f)) return 0.0f;
    return static_cast<float>(std::fmod(elapsedMs / 1000.0, static_cast<double>(length)));
}

void CTolvexControl3D::AdvanceAnimations(uint32_t now)
{
    for (LMK::Object_* object : m_objects)
    {
        LMK::Model_* model = nullptr;
        if (FAILED(LRGetObjectModel(object, &model)) || !model) continue;
        LMK::Animation_* animation = nullptr;
        LRGetModelAnimation(model, &animation);
        float start = 0.0f, end = 0.0f;
        if (animation && SUCCEEDED(LRGetModelAnimationRange(animation, &start, &end)))
            LRSetObjectAnimationTime(object, AnimationTime(now - m_dwAnimationStart, start, end));
        LRReleaseAnimation(&animation);
        LMK::LoadedPart_* part = model;
        LRReleaseLoadedPart(&part);
    }
}

void CTolvexControl3D::AdvanceAutoRotation(uint32_t now)
{
    if (m_fRotationSpeed == 0.0f && m_fTiltSpeed == 0.0f) return;
    float t = static_cast<float>((now - m_dwRotationTick) / 1000.0);
    D3DXVECTOR3 eye(m_viewParams.eye[0], m_viewParams.eye[1], m_viewParams.eye[2]);
    D3DXVECTOR3 target(m_viewParams.lookAt[0], m_viewParams.lookAt[1], m_viewParams.lookAt[2]);
    D3DXVECTOR3 v = eye - target;
    D3DXMATRIX turn;
    D3DXMatrixRotationYawPitchRoll(&turn, 0.0f, m_fTiltSpeed * t, m_fRotationSpeed * t);
    D3DXVec3TransformCoord(&v, &v, &turn);
    eye = target + v;
    m_viewParams.eye[0] = eye.x;
    m_viewParams.eye[1] = eye.y;
    m_viewParams.eye[2] = eye.z;
    if (m_renderView.camera) LRSetViewLookAt(m_renderView.camera, &eye, nullptr, nullptr);
    m_dwRotationTick = now;
}

void CTolvexControl3D::AimCameraLights()
{
    if (m_nSpecialLights < 6 || m_lights.size() < 6) return;
    D3DXVECTOR3 direction(m_viewParams.lookAt[0] - m_viewParams.eye[0],
                          m_viewParams.lookAt[1] - m_viewParams.eye[1],
                          m_viewParams.lookAt[2] - m_viewParams.eye[2]);
    D3DXVec3Normalize(&direction, &direction);
    for (size_t i : {size_t(0), size_t(3)})
        if (m_lights[i]) LRSetLightPositionDirection(m_lights[i], &direction);
}

void CTolvexControl3D::CollectActiveLights(std::vector<LMK::Light_*>& out) const
{
    out.clear();
    size_t first = 0;
    if (m_nSpecialLights >= 6)
    {
        size_t base = m_bNightView ? 3 : 0;
        for (size_t i = base; i < base + 3 && i < m_lights.size(); ++i)
            if (m_dwLightMask & (1u << i)) out.push_back(m_lights[i]);
        first = m_nSpecialLights;
    }
    for (size_t i = first; i < m_lights.size(); ++i)
        out.push_back(m_lights[i]);
}

void CTolvexControl3D::OnSize(UINT type, int cx, int cy)
{
    CWnd::OnSize(type, cx, cy);
    if (m_pOwnerRect) GetWindowRect(m_pOwnerRect);
    RecreateBackBuffer();
}

void CTolvexControl3D::RecreateBackBuffer()
{
    LRReleaseBackBuffer(&m_renderView.backBuffer);
    if (!m_renderView.camera || !m_hWnd) return;
    LRCreateBackBuffer(m_hWnd, &m_renderView.backBuffer, nullptr);
    float w = m_viewParams.window[1] - m_viewParams.window[0];
    float h = 0.0f;
    // A client area of zero height (a minimised window) has no aspect to keep.
    if (FAILED(LRComputeViewHeight(m_renderView.camera, m_renderView.backBuffer, w, &h))) return;
    float c = (m_viewParams.window[2] + m_viewParams.window[3]) / 2;
    m_viewParams.window[2] = c + h / 2;
    m_viewParams.window[3] = c - h / 2;
    for (int i = 0; i < 4; ++i)
        m_viewParams.secondWindow[i] = m_viewParams.window[i];
    LRSetViewParams(m_renderView.camera, &m_viewParams);
    Invalidate();
}

void CTolvexControl3D::OnTimer(UINT_PTR id)
{
    if (!m_strStartFile.IsEmpty() && !HasObjects())
    {
        KillTimer(kTimerId);
        if (!LoadObjectFile(m_strStartFile))
        {
            m_startFailure = m_loadFailure;
            DestroyWindow();
            return;
        }
        SetTimer(kTimerId, kTimerMilliseconds);
    }
    if (id == kTimerId) WalkTick();
    if (m_bAnimatedSubsetDrawn || m_bTexEffectAnimating || m_fRotationSpeed != 0.0f || m_fTiltSpeed != 0.0f)
        Invalidate();
}

BOOL CTolvexControl3D::OnSetCursor(CWnd* wnd, UINT hitTest, UINT message)
{
    if (hitTest == HTCLIENT)
        ApplyCursor();
    else
        CWnd::OnSetCursor(wnd, hitTest, message);
    return TRUE;
}

void CTolvexControl3D::ApplyCursor()
{
    if (m_bShadowsRunning) return;
    if (m_nCursorId >= IDC_VIEWER_ARROW && m_nCursorId <= IDC_VIEWER_LAST)
        ::SetCursor(m_hCursors[m_nCursorId - IDC_VIEWER_ARROW]);
    else
        ::SetCursor(m_hCursors[0]);
}

void CTolvexControl3D::OnDestroy()
{
    KillTimer(kTimerId);
    ReleaseViewResources();
    ReleaseObjects();
    ReleaseLights();
    CWnd::OnDestroy();
}

void CTolvexControl3D::ReleaseViewResources()
{
    for (int i = 1; i < kCursorCount; ++i)
    {
        if (m_hCursors[i]) ::DestroyCursor(m_hCursors[i]);
        m_hCursors[i] = nullptr;
    }
    LRReleaseBackBuffer(&m_renderView.backBuffer);
    LRReleaseView(&m_renderView.camera);
    LRReleaseEnvironment(&m_renderView.environment);
    ReleaseEnvironmentTextures();
}

void CTolvexControl3D::ReleaseEnvironmentTextures()
{
    if (m_environmentTextures)
        for (DWORD i = 0; i < m_environmentDesc.textureCount; ++i)
            LMK::ReleaseMaterialTexture(&m_environmentTextures[i]);
    m_environmentDesc.textures = nullptr;
    m_environmentTextures.reset();
}

bool CTolvexControl3D::HasObjects() const
{
    for (LMK::Object_* object : m_objects)
        if (object) return true;
    return false;
}

void CTolvexControl3D::ReleaseObjects()
{
    ReleaseShadows();
    for (LMK::Object_*& object : m_objects)
        if (object) LRReleaseObject(&object);
    m_objects.clear();
}

void CTolvexControl3D::ReleaseLights()
{
    for (LMK::Light_*& light : m_lights)
        if (light) LRReleaseLight(&light);
    m_lights.clear();
}
