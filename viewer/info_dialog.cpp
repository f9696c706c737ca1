// The information dialog, and the command that shows it with the auto-rotation held still.
#include "viewer/info_dialog.h"

#include <cmath>

#include "viewer/tolvex_control.h"
#include "viewer/viewer_resource.h"

BEGIN_MESSAGE_MAP(CInfoDlg, CDialog)
ON_STN_CLICKED(IDC_INFO_LINK, OnLinkClicked)
ON_STN_CLICKED(IDC_INFO_PICTURE, OnLinkClicked)
END_MESSAGE_MAP()

CInfoDlg::CInfoDlg(CWnd* parent) : CDialog(IDD_INFO, parent) {}

CInfoDlg::~CInfoDlg()
{
    if (m_hLinkFont) ::DeleteObject(m_hLinkFont);
}

BOOL CInfoDlg::OnInitDialog()
{
    const BOOL result = CDialog::OnInitDialog();
    if (m_bitmap.LoadBitmap(IDB_INFO_PICTURE)) m_picture.SetBitmap(m_bitmap);
    CWnd* link = GetDlgItem(IDC_INFO_LINK);
    if (CWnd* picture = GetDlgItem(IDC_INFO_PICTURE)) picture->ModifyStyle(0, SS_NOTIFY);
    if (link)
    {
        link->ModifyStyle(0, SS_NOTIFY);
        // The address shows underlined, as a link.
        LOGFONTA font{};
        HFONT shown = reinterpret_cast<HFONT>(link->SendMessage(WM_GETFONT));
        if (shown) ::GetObjectA(shown, sizeof font, &font);
        font.lfUnderline = TRUE;
        m_hLinkFont = ::CreateFontIndirectA(&font);
        link->SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(m_hLinkFont), TRUE);
    }
    m_version.SetWindowText(kVersion);
    return result;
}

void CInfoDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Control(dx, IDC_INFO_PICTURE, m_picture);
    DDX_Control(dx, IDC_INFO_VERSION, m_version);
}

void CInfoDlg::OnLinkClicked()
{
    ::ShellExecuteA(m_hWnd, "open", kWebAddress, nullptr, nullptr, SW_SHOWNORMAL);
}

void CTolvexControl3D::ShowInfo()
{
    const bool rotating = std::fabs(m_fRotationSpeed) >= 0.0001f || std::fabs(m_fTiltSpeed) >= 0.0001f;
    const float rotation = m_fRotationSpeed, tilt = m_fTiltSpeed;
    if (rotating) m_fRotationSpeed = m_fTiltSpeed = 0.0f;
    CInfoDlg dialog(this);
    dialog.DoModal();
    if (rotating)
    {
        m_fRotationSpeed = rotation;
        m_fTiltSpeed = tilt;
        // The rotation goes on from where it stood, without the time the dialog was open.
        m_dwRotationTick = ::GetTickCount();
    }
}
