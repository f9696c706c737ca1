#include "engine/render/back_buffer_window.h"

namespace LMK
{
namespace
{
// Registered on first use and kept for every later window of the process.
LPCSTR BackBufferWindowClass = nullptr;
} // namespace

BEGIN_MESSAGE_MAP(CBackBWnd, CWnd)
ON_WM_NCCALCSIZE()
END_MESSAGE_MAP()

CBackBWnd::CBackBWnd(uint32_t width, uint32_t height) : width(width), height(height)
{
    if (!BackBufferWindowClass) BackBufferWindowClass = AfxRegisterWndClass(0, nullptr, nullptr, nullptr);
    const RECT rect{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    if (!CreateEx(0, BackBufferWindowClass, "LIGTHBUFFER", WS_POPUP | WS_BORDER, rect, nullptr, 0))
    {
        LPCSTR again = AfxRegisterWndClass(0, nullptr, nullptr, nullptr);
        CreateEx(0, again, "LIGTHBUFFER", WS_POPUP | WS_BORDER, rect, nullptr, 0);
    }
    if (m_hWnd) MoveWindow(0, 0, static_cast<int>(width), static_cast<int>(height), TRUE);
}

CBackBWnd::~CBackBWnd()
{
    if (m_hWnd) DestroyWindow();
}

// The client area covers the whole window, border included, so that it has exactly the stored size.
void CBackBWnd::OnNcCalcSize(BOOL calcValidRects, NCCALCSIZE_PARAMS* params)
{
    CWnd::OnNcCalcSize(calcValidRects, params);
    if (params) params->rgrc[0] = RECT{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
}
} // namespace LMK
