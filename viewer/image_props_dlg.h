#pragma once
// Dialog 519: the size, file format and anti-aliasing of an image to save. The two size fields keep the
// aspect of the window the dialog was opened for.
#include "engine/engine_api.h"
#include "platform/mfc/afxwin.h"

class CImagePropsDlg : public CDialog
{
public:
    // The largest side the engine's image record holds.
    static constexpr int kMaxSide = 65535;
    static constexpr int kMinSide = 5;

    CImagePropsDlg(int width, int height, CWnd* parent = nullptr);

    int m_nWidth;
    int m_nHeight;
    int m_nFormat = 1;       // 0 BMP, 1 JPEG
    int m_nOversampling = 1; // index: none, simple, double
    float m_fAspect;

    // The save record for the answers given, writing to `path`.
    LMK::SaveImageStruct_TYP SaveParams(const char* path) const;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    afx_msg void OnKillFocusWidth();
    afx_msg void OnKillFocusHeight();

    CComboBox m_formats;
    CComboBox m_antiAliasing;

    DECLARE_MESSAGE_MAP()
};
