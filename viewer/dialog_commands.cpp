// The commands that open dialogs: opening an object file, saving an image, the information dialog.
#include "viewer/tolvex_control.h"
#include "viewer/viewer_resource.h"

void CTolvexControl3D::OpenObjectFile()
{
    CString extension, filter;
    extension.LoadString(IDS_OBJECT_EXTENSION);
    filter.LoadString(IDS_OBJECT_FILTER);
    CFileDialog dialog(TRUE, extension, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, filter, nullptr, 0,
                       TRUE);
    if (dialog.DoModal() == IDOK) LoadObjectFile(dialog.GetPathName());
}

// Image saving and its dialog are not built yet: the command only redraws the window.
void CTolvexControl3D::SaveImage() {}

// The information dialog is not built yet: the command only redraws the window.
void CTolvexControl3D::ShowInfo() {}
