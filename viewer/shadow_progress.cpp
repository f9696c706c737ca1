// The viewer's shadow computation: the engine bakes the light maps while the window stays alive through
// the progress callback, which takes the window's messages and shows the progress in the title.
#include "engine/engine_api.h"
#include "viewer/tolvex_control.h"
#include "viewer/viewer_resource.h"

namespace
{
constexpr DWORD kRedrawMilliseconds = 500;
constexpr float kDirectWeight = 0.8f;
} // namespace

void CTolvexControl3D::ReleaseShadows()
{
    if (!m_objects.empty()) LRReleaseShadows(static_cast<DWORD>(m_objects.size()), m_objects.data());
}

void CTolvexControl3D::ComputeShadows()
{
    // The callback takes the window's messages: nothing may start a second computation inside this one.
    if (m_bShadowsRunning) return;
    BeginWaitCursor();
    if (m_objects.empty())
    {
        EndWaitCursor();
        return;
    }
    m_fRotationSpeed = 0.0f;
    m_fTiltSpeed = 0.0f;
    ReleaseShadows();
    std::vector<LMK::Light_*> lights;
    CollectActiveLights(lights);

    LMK::ShadowOptionsStruct_TYP options{};
    LRInitShadowOptions(&options);
    options.directWeight = kDirectWeight;
    options.skyTerm = 0;

    ShadowProgressContext context;
    context.window = this;
    m_bShadowsRunning = true;
    m_pShadowProgress = &context;
    BeginProgress();
    LRComputeShadows(static_cast<DWORD>(m_objects.size()), m_objects.data(),
                     static_cast<DWORD>(lights.size()), lights.empty() ? nullptr : lights.data(),
                     &m_fLightIntensity, &options, ShadowProgressCallback, &context, false, nullptr, 0);
    EndProgress();
    m_pShadowProgress = nullptr;
    m_bShadowsRunning = false;
    if (context.cancelled)
    {
        ReleaseShadows();
        m_bShadows = false;
    }
    EndWaitCursor();
    if (context.closeRequested && m_hWnd) PostMessage(WM_CLOSE);
}

void CTolvexControl3D::OnClose()
{
    // Closing releases the objects that the computation works on: it ends first, and the window after.
    if (m_bShadowsRunning && m_pShadowProgress)
    {
        m_pShadowProgress->cancelled = true;
        m_pShadowProgress->closeRequested = true;
        return;
    }
    CWnd::OnClose();
}

void CTolvexControl3D::BeginProgress()
{
    GetWindowText(m_strSavedTitle);
}

void CTolvexControl3D::ShowProgress(float fraction)
{
    CString title;
    title.Format("%s (%.02f%%)", static_cast<LPCSTR>(m_strSavedTitle), fraction * 100.0f);
    SetWindowText(title);
}

void CTolvexControl3D::EndProgress()
{
    SetWindowText(m_strSavedTitle);
}

bool __stdcall ShadowProgressCallback(float fraction, void* user)
{
    auto* context = static_cast<ShadowProgressContext*>(user);
    CTolvexControl3D* window = context->window;
    const HWND hwnd = window->m_hWnd;
    if (!::IsWindow(hwnd)) return false;

    const DWORD now = ::GetTickCount();
    if (now - context->lastRedraw >= kRedrawMilliseconds)
    {
        // The frame shows the light maps baked so far.
        context->lastRedraw = now;
        window->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    }

    MSG msg;
    while (!context->cancelled && ::PeekMessageA(&msg, hwnd, 0, 0, PM_REMOVE))
    {
        if ((msg.message == WM_COMMAND && LOWORD(msg.wParam) == ID_SHADOWS) ||
            (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE))
        {
            context->cancelled = true;
            break;
        }
        ::DispatchMessageA(&msg);
        if (!::IsWindow(hwnd)) return false;
    }
    window->ShowProgress(fraction);
    return !context->cancelled;
}
