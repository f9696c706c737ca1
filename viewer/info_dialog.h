#pragma once
// Dialog 534: product name, version and the product's web address, which opens in the browser.
#include "platform/mfc/afxwin.h"

class CInfoDlg : public CDialog
{
public:
    static constexpr const char* kVersion = "Ferolt v1.1.0.0";
    static constexpr const char* kWebAddress = "https://ferolt.example.org/";

    explicit CInfoDlg(CWnd* parent);
    ~CInfoDlg() override;

    CBitmap m_bitmap;
    CStatic m_version;
    CStatic m_picture;
    HFONT m_hLinkFont = nullptr;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    afx_msg void OnLinkClicked();

    DECLARE_MESSAGE_MAP()
};
