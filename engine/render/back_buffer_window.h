#pragma once
// A hidden window whose client area is exactly a given size: it gives the frame pass one back-buffer
// part of that size for off-screen renders (light maps, visibility images, image tiles).
#include <cstdint>

#include "platform/mfc/afxwin.h"

namespace LMK
{
class CBackBWnd : public CWnd
{
public:
    CBackBWnd(uint32_t width, uint32_t height);
    ~CBackBWnd() override;

    afx_msg void OnNcCalcSize(BOOL calcValidRects, NCCALCSIZE_PARAMS* params);

    uint32_t width;
    uint32_t height;

    DECLARE_MESSAGE_MAP()
};
} // namespace LMK
