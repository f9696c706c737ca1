#pragma once
// Resource ids of the viewer (resources/viewer/viewer.resources).

// The application icon.
#define IDI_FEROLT 100

// Strings.
#define IDS_DIRECTX_MISSING 101
#define IDS_DIRECTX_DOWNLOAD 102

// Cursors: the id minus 800 indexes CTolvexControl3D::m_hCursors; 800 is the system arrow.
#define IDC_VIEWER_ARROW 800
#define IDC_WALK_FIRST 801 // 801 to 809: the walk directions
#define IDC_WALK_LAST 809
#define IDC_PAN 811
#define IDC_NAVIGATE 812
#define IDC_ROTATE_EYE 815
#define IDC_VIEWER_FIRST_RESOURCE 801
#define IDC_VIEWER_LAST 815
