// The save-image command: the size and format dialog, the file dialog, then the engine's image save.
#include "engine/engine_api.h"
#include "viewer/image_props_dlg.h"
#include "viewer/tolvex_control.h"

void CTolvexControl3D::SaveImage()
{
    CRect client;
    GetClientRect(&client);
    // Both dialogs are owned by the window, so it takes no input while they are open.
    CImagePropsDlg props(client.Width(), client.Height(), this);
    if (props.DoModal() != IDOK) return;
    CFileDialog files(FALSE, props.m_nFormat != 0 ? "jpg" : "bmp", nullptr,
                      OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr, this, 0, TRUE);
    if (files.DoModal() != IDOK) return;
    const CString path = files.GetPathName();
    LMK::SaveImageStruct_TYP params = props.SaveParams(path);

    HDC dc = ::GetDC(m_hWnd);
    if (PrepareFrame(dc))
    {
        BeginWaitCursor();
        std::vector<LMK::Light_*> lights;
        CollectActiveLights(lights);
        LRSaveImage(&m_renderView, static_cast<DWORD>(m_objects.size()),
                    m_objects.empty() ? nullptr : m_objects.data(), static_cast<DWORD>(lights.size()),
                    lights.empty() ? nullptr : lights.data(), &params);
        AfterDraw();
        EndWaitCursor();
    }
    ::ReleaseDC(m_hWnd, dc);
}
