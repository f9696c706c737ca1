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

// File dialog strings: the default extension and the filter ('|' separates).
#define IDS_OBJECT_EXTENSION 1500
#define IDS_OBJECT_FILTER 1501

// Menus: the context menu, and the one shown while the shadows are computed.
#define IDR_CONTEXT_MENU 2001
#define IDR_SHADOW_PROGRESS_MENU 541

// Commands of the context menu.
#define ID_MODE_TEXTURED 500
#define ID_MODE_COLOURED 501
#define ID_MODE_WIREFRAME 502
#define ID_MODE_HIDDEN_LINES 503
#define ID_MODE_SHADED_WITH_EDGES 504
#define ID_NIGHT_VIEW 510
#define ID_WALK_MODE 511
#define ID_REFLECTIONS 512
#define ID_SHADOWS 513 // also cancels a running shadow computation
#define ID_SHOW_ALL 515
#define ID_OPEN_OBJECT 516
#define ID_SAVE_IMAGE 518
#define ID_LIGHT_SUN 527
#define ID_LIGHT_COUNTER_SUN 528
#define ID_LIGHT_CAMERA 529
#define ID_ROTATION_OFF 530
#define ID_ROTATION_LEFT 531
#define ID_ROTATION_RIGHT 532
#define ID_INFO 533
#define ID_COMMAND_LAST 550
#define ID_VIEWPOINT_FIRST 600 // 600 + i: viewpoint i
#define ID_VIEWPOINT_LAST 799

// The save-image dialog, its controls and list texts.
#define IDD_IMAGE_PROPS 519
#define IDC_IMAGE_WIDTH 520
#define IDC_IMAGE_HEIGHT 521
#define IDC_IMAGE_FORMAT 522
#define IDC_IMAGE_ANTIALIASING 523
#define IDS_NO_ANTIALIASING 524
#define IDS_FORMAT_BMP 525
#define IDS_FORMAT_JPEG 526

// The information dialog, its controls and picture.
#define IDD_INFO 534
#define IDC_INFO_PICTURE 535
#define IDC_INFO_VERSION 536
#define IDC_INFO_LINK 537
#define IDB_INFO_PICTURE 539

// The help file (a Qt compressed help file of type "HelpFile").
#define IDR_HELP_FILE 542
