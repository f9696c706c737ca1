#include "viewer/image_props_dlg.h"

#include <algorithm>

#include "viewer/viewer_resource.h"

BEGIN_MESSAGE_MAP(CImagePropsDlg, CDialog)
ON_EN_KILLFOCUS(IDC_IMAGE_WIDTH, OnKillFocusWidth)
ON_EN_KILLFOCUS(IDC_IMAGE_HEIGHT, OnKillFocusHeight)
END_MESSAGE_MAP()

CImagePropsDlg::CImagePropsDlg(int width, int height, CWnd* parent)
    : CDialog(IDD_IMAGE_PROPS, parent), m_nWidth(width), m_nHeight(height),
      // An empty window has no aspect to keep; the fields then start square.
      m_fAspect(width > 0 && height > 0 ? static_cast<float>(height) / static_cast<float>(width) : 1.0f)
{
}

BOOL CImagePropsDlg::OnInitDialog()
{
    const BOOL result = CDialog::OnInitDialog();
    CString text;
    text.LoadString(IDS_FORMAT_BMP);
    m_formats.AddString(text);
    text.LoadString(IDS_FORMAT_JPEG);
    m_formats.AddString(text);
    text.LoadString(IDS_NO_ANTIALIASING);
    m_antiAliasing.AddString(text);
    m_antiAliasing.AddString("Einfache Kantenglättung");
    m_antiAliasing.AddString("Doppelte Kantenglättung");
    UpdateData(FALSE);
    return result;
}

void CImagePropsDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Control(dx, IDC_IMAGE_FORMAT, m_formats);
    DDX_Control(dx, IDC_IMAGE_ANTIALIASING, m_antiAliasing);
    DDX_Text(dx, IDC_IMAGE_WIDTH, m_nWidth);
    DDX_Text(dx, IDC_IMAGE_HEIGHT, m_nHeight);
    DDX_CBIndex(dx, IDC_IMAGE_FORMAT, m_nFormat);
    DDX_CBIndex(dx, IDC_IMAGE_ANTIALIASING, m_nOversampling);
    if (!dx->m_bSaveAndValidate) return;
    bool corrected = false;
    if (m_nWidth < kMinSide)
    {
        m_nWidth = std::max(kMinSide, static_cast<int>(static_cast<float>(m_nHeight) / m_fAspect));
        corrected = true;
    }
    if (m_nHeight < kMinSide)
    {
        m_nHeight = std::max(kMinSide, static_cast<int>(m_fAspect * static_cast<float>(m_nWidth)));
        corrected = true;
    }
    // Larger sides would wrap in the image record and save a different image than asked for.
    if (m_nWidth > kMaxSide || m_nHeight > kMaxSide)
    {
        m_nWidth = std::min(m_nWidth, kMaxSide);
        m_nHeight = std::min(m_nHeight, kMaxSide);
        corrected = true;
    }
    if (corrected) dx->Fail();
}

void CImagePropsDlg::OnKillFocusWidth()
{
    UpdateData(TRUE); // a refused value has been corrected already
    m_nHeight = static_cast<int>(static_cast<float>(m_nWidth) * m_fAspect);
    UpdateData(FALSE);
}

void CImagePropsDlg::OnKillFocusHeight()
{
    UpdateData(TRUE);
    m_nWidth = static_cast<int>(static_cast<float>(m_nHeight) / m_fAspect);
    UpdateData(FALSE);
}

LMK::SaveImageStruct_TYP CImagePropsDlg::SaveParams(const char* path) const
{
    LMK::SaveImageStruct_TYP p{};
    p.width = static_cast<uint16_t>(std::clamp(m_nWidth, 0, kMaxSide));
    p.height = static_cast<uint16_t>(std::clamp(m_nHeight, 0, kMaxSide));
    p.oversampling = static_cast<uint32_t>(m_nOversampling) * 4;
    p.fileName = path;
    // The list decides the format, whatever extension the file name has.
    p.format = m_nFormat != 0 ? LMK::SaveImageFormatJpeg : LMK::SaveImageFormatBmp;
    p.quality = 0.9f;
    return p;
}
