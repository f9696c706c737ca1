// The context menu: preparing it for the window's state, and what each of its commands does.
#include "engine/engine_api.h"
#include "viewer/tolvex_control.h"
#include "viewer/viewer_resource.h"

#include <algorithm>
#include <cmath>

namespace
{
// Display-mode commands and the mode values they set (the reflections bit aside).
struct DisplayModeCommand
{
    UINT id;
    uint32_t mode;
};
constexpr DisplayModeCommand kDisplayModes[] = {
    {ID_MODE_TEXTURED, LMK::DisplayModeTextured},
    {ID_MODE_COLOURED, LMK::DisplayModeColoured},
    {ID_MODE_WIREFRAME, LMK::DisplayModeWireframe},
    {ID_MODE_HIDDEN_LINES, LMK::DisplayModeHiddenLines},
    {ID_MODE_SHADED_WITH_EDGES, LMK::DisplayModeShadedWithEdges},
};

// Radians per second: 2.5 degrees.
constexpr float kRotationSpeed = 0.04363323f;

// Ids 600 to 799 are the viewpoints; more would reach other commands' ids.
constexpr size_t kMaxViewpointItems = ID_VIEWPOINT_LAST - ID_VIEWPOINT_FIRST + 1;

void Check(HMENU menu, UINT id, bool checked)
{
    ::CheckMenuItem(menu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}
} // namespace

void CTolvexControl3D::OnContextMenu(CWnd*, CPoint point)
{
    ShowContextMenu(point);
}

void CTolvexControl3D::OnCommandRange(UINT id)
{
    HandleCommand(id);
}

void CTolvexControl3D::ShowContextMenu(CPoint point)
{
    const bool running = m_bShadowsRunning;
    HMENU resource = ::LoadMenuA(::GetModuleHandleA(nullptr),
                                 MAKEINTRESOURCEA(running ? IDR_SHADOW_PROGRESS_MENU : IDR_CONTEXT_MENU));
    if (!resource) return;
    if (HMENU popup = ::GetSubMenu(resource, 0))
    {
        if (!running) PrepareContextMenu(popup);
        ::TrackPopupMenu(popup, 0, point.x, point.y, 0, m_hWnd, nullptr);
    }
    ::DestroyMenu(resource);
}

void CTolvexControl3D::PrepareContextMenu(HMENU popup) const
{
    if (m_nViewpointSwitch > 0 && !m_viewpoints.empty())
    {
        HMENU viewpoints = ::CreatePopupMenu();
        const size_t count = std::min(m_viewpoints.size(), kMaxViewpointItems);
        for (size_t i = 0; i < count; ++i)
        {
            const bool named = i < m_viewpointNames.size() && !m_viewpointNames[i].IsEmpty();
            ::AppendMenuA(viewpoints, MF_STRING, ID_VIEWPOINT_FIRST + i,
                          named ? static_cast<LPCSTR>(m_viewpointNames[i]) : "Sichtpunkt");
        }
        ::InsertMenuA(popup, 0, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(viewpoints),
                      "Sichtpunkte");
    }

    const uint32_t mode = m_renderView.modeFlags & ~LMK::ModeFlagReflections;
    for (const DisplayModeCommand& c : kDisplayModes)
        if (c.mode == mode) Check(popup, c.id, true);
    Check(popup, ID_NIGHT_VIEW, m_bNightView);
    Check(popup, ID_WALK_MODE, m_bWalkMode);
    Check(popup, ID_REFLECTIONS, (m_renderView.modeFlags & LMK::ModeFlagReflections) != 0);
    Check(popup, ID_SHADOWS, m_bShadows);

    if (m_lights.empty() || m_nSpecialLights < 6)
        ::EnableMenuItem(popup, ID_NIGHT_VIEW, MF_BYCOMMAND | MF_GRAYED);
    if (m_nSpecialLights < 6)
    {
        for (UINT id : {ID_LIGHT_SUN, ID_LIGHT_COUNTER_SUN, ID_LIGHT_CAMERA})
            ::EnableMenuItem(popup, id, MF_BYCOMMAND | MF_GRAYED);
    }
    else
    {
        const uint32_t base = m_bNightView ? 3 : 0;
        Check(popup, ID_LIGHT_CAMERA, m_dwLightMask & (1u << base));
        Check(popup, ID_LIGHT_SUN, m_dwLightMask & (1u << (base + 1)));
        Check(popup, ID_LIGHT_COUNTER_SUN, m_dwLightMask & (1u << (base + 2)));
    }

    const bool rotationOff = std::fabs(m_fRotationSpeed) < 0.0001f && std::fabs(m_fTiltSpeed) < 0.0001f;
    const UINT rotation = rotationOff            ? ID_ROTATION_OFF
                          : m_fRotationSpeed < 0 ? ID_ROTATION_LEFT
                                                 : ID_ROTATION_RIGHT;
    Check(popup, rotation, true);
}

void CTolvexControl3D::HandleCommand(UINT id)
{
    if (m_bShadowsRunning)
    {
        // Any other command could start a second computation or change the scene it works on.
        if (id == ID_SHADOWS && m_pShadowProgress) m_pShadowProgress->cancelled = true;
        return;
    }
    if (id >= ID_VIEWPOINT_FIRST && id <= ID_VIEWPOINT_LAST)
    {
        m_nPendingViewpoint = static_cast<int32_t>(id - ID_VIEWPOINT_FIRST);
        Invalidate();
        return;
    }
    for (const DisplayModeCommand& c : kDisplayModes)
        if (c.id == id) m_renderView.modeFlags = c.mode | (m_renderView.modeFlags & LMK::ModeFlagReflections);

    switch (id)
    {
    case ID_NIGHT_VIEW:
        if (m_lights.empty()) break;
        m_bNightView = !m_bNightView;
        if (m_bShadows) ComputeShadows();
        break;
    case ID_WALK_MODE:
        ToggleWalkMode();
        break;
    case ID_REFLECTIONS:
        m_renderView.modeFlags ^= LMK::ModeFlagReflections;
        break;
    case ID_SHADOWS:
        m_bShadows = !m_bShadows;
        if (m_bShadows)
            ComputeShadows();
        else
            ReleaseShadows();
        break;
    case ID_SHOW_ALL:
        ShowAll();
        break;
    case ID_OPEN_OBJECT:
        OpenObjectFile();
        break;
    case ID_SAVE_IMAGE:
        SaveImage();
        break;
    case ID_LIGHT_SUN:
    case ID_LIGHT_COUNTER_SUN:
    case ID_LIGHT_CAMERA:
    {
        const uint32_t light = id == ID_LIGHT_CAMERA ? 0 : id == ID_LIGHT_SUN ? 1 : 2;
        m_dwLightMask ^= 1u << ((m_bNightView ? 3 : 0) + light);
        if (m_bShadows) ComputeShadows();
        break;
    }
    case ID_ROTATION_OFF:
        m_fRotationSpeed = 0.0f;
        m_fTiltSpeed = 0.0f;
        break;
    case ID_ROTATION_LEFT:
    case ID_ROTATION_RIGHT:
        m_fRotationSpeed = id == ID_ROTATION_LEFT ? -kRotationSpeed : kRotationSpeed;
        m_fTiltSpeed = 0.0f;
        m_dwRotationTick = ::GetTickCount();
        break;
    case ID_INFO:
        ShowInfo();
        break;
    default:
        break;
    }
    Invalidate();
}
