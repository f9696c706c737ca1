// The open-file command. Saving an image and the information dialog have files of their own.
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
