// Dialogs, data exchange, controls and the file dialog.
#include "platform/mfc/afxwin.h"

#include <cstring>

namespace
{
// The dialog procedure of framework dialogs: initialisation goes to OnInitDialog; everything
// else reaches the object through its window procedure first.
INT_PTR CALLBACK AfxDlgProc(HWND hwnd, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG) return FALSE;
    auto* dlg = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(hwnd));
    return dlg ? dlg->OnInitDialog() : TRUE;
}

// Whole numbers with optional blanks around them and an optional sign, within the range given.
bool ParseInteger(const char* text, int64_t lo, int64_t hi, int64_t* out)
{
    const char* p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool neg = false;
    if (*p == '-' || *p == '+')
    {
        neg = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') return false;
    int64_t v = 0;
    while (*p >= '0' && *p <= '9')
    {
        v = v * 10 + (*p++ - '0');
        if (v > hi + 1) return false; // out of range: refused like any other non-number
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p) return false;
    v = neg ? -v : v;
    if (v < lo || v > hi) return false;
    *out = v;
    return true;
}
} // namespace

// ---------------------------------------------------------------------------------------------------
// Data exchange

CDataExchange::CDataExchange(CWnd* dialog, BOOL saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog)
{
}

HWND CDataExchange::PrepareCtrl(int id)
{
    HWND c = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    m_hWndLastControl = c;
    m_bEditLastControl = FALSE;
    return c;
}

HWND CDataExchange::PrepareEditCtrl(int id)
{
    HWND c = PrepareCtrl(id);
    m_bEditLastControl = TRUE;
    return c;
}

void CDataExchange::Fail()
{
    if (m_bSaveAndValidate && m_hWndLastControl)
    {
        ::SetFocus(m_hWndLastControl);
        if (m_bEditLastControl) ::SendMessageA(m_hWndLastControl, EM_SETSEL, 0, static_cast<LPARAM>(-1));
    }
    AfxThrowUserException();
}

static void TextToInteger(CDataExchange* dx, int id, int64_t lo, int64_t hi, int64_t* value, bool* ok)
{
    HWND c = dx->PrepareEditCtrl(id);
    char buf[64] = {};
    int n = ::GetWindowTextLengthA(c);
    *ok = false;
    if (n < static_cast<int>(sizeof buf))
    {
        ::GetWindowTextA(c, buf, sizeof buf);
        *ok = ParseInteger(buf, lo, hi, value);
    }
    if (!*ok)
    {
        AfxMessageBox("Enter an integer.", MB_OK | MB_ICONEXCLAMATION);
        dx->Fail();
    }
}

void DDX_Text(CDataExchange* dx, int id, int& value)
{
    if (dx->m_bSaveAndValidate)
    {
        int64_t v;
        bool ok;
        TextToInteger(dx, id, INT32_MIN, INT32_MAX, &v, &ok);
        value = static_cast<int>(v);
    }
    else
    {
        HWND c = dx->PrepareEditCtrl(id);
        ::SetWindowTextA(c, std::to_string(value).c_str());
    }
}

void DDX_Text(CDataExchange* dx, int id, UINT& value)
{
    if (dx->m_bSaveAndValidate)
    {
        int64_t v;
        bool ok;
        TextToInteger(dx, id, 0, UINT32_MAX, &v, &ok);
        value = static_cast<UINT>(v);
    }
    else
    {
        HWND c = dx->PrepareEditCtrl(id);
        ::SetWindowTextA(c, std::to_string(value).c_str());
    }
}

void DDX_Text(CDataExchange* dx, int id, CString& value)
{
    HWND c = dx->PrepareEditCtrl(id);
    if (dx->m_bSaveAndValidate)
        CWnd::FromHandle(c)->GetWindowText(value);
    else
        ::SetWindowTextA(c, value);
}

void DDX_CBIndex(CDataExchange* dx, int id, int& index)
{
    HWND c = dx->PrepareCtrl(id);
    if (dx->m_bSaveAndValidate)
        index = static_cast<int>(::SendMessageA(c, CB_GETCURSEL, 0, 0));
    else
        ::SendMessageA(c, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control)
{
    if (control.m_hWnd) return;
    HWND c = dx->PrepareCtrl(id);
    if (!c || !control.SubclassWindow(c)) AfxThrowUserException(); // a missing control is a programming error
}

// ---------------------------------------------------------------------------------------------------
// CDialog

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_nIDHelp(templateId), m_lpszTemplateName(MAKEINTRESOURCEA(templateId)), m_pParentWnd(parent)
{
}

CDialog::CDialog(LPCSTR templateName, CWnd* parent) : m_lpszTemplateName(templateName), m_pParentWnd(parent)
{
}

CDialog::~CDialog()
{
    if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

INT_PTR CDialog::DoModal()
{
    HWND parent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!parent)
        if (CWnd* main = AfxGetMainWnd()) parent = main->m_hWnd;
    if (!parent) parent = ::GetActiveWindow();
    AfxHookWindowCreate(this);
    INT_PTR r = ::DialogBoxParamA(AfxGetResourceHandle(), m_lpszTemplateName, parent, AfxDlgProc,
                                  reinterpret_cast<LPARAM>(this));
    AfxUnhookWindowCreate();
    if (m_hWnd) Detach(); // a dialog that never got its WM_NCDESTROY through us
    return r;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE)) return; // a refused field keeps the dialog open
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::EndDialog(int result)
{
    ::EndDialog(m_hWnd, result);
}

void CDialog::GotoDlgCtrl(CWnd* control)
{
    if (control) ::SetFocus(control->m_hWnd);
}

void CDialog::NextDlgCtrl() const
{
    if (HWND next = ::GetNextDlgTabItem(m_hWnd, ::GetFocus(), FALSE)) ::SetFocus(next);
}

// ---------------------------------------------------------------------------------------------------
// Controls

void CComboBox::GetLBText(int index, CString& text) const
{
    LRESULT n = SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (n < 0)
    {
        text = "";
        return;
    }
    std::string buf(static_cast<size_t>(n) + 1, '\0');
    SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buf.data()));
    text = buf.c_str();
}

// ---------------------------------------------------------------------------------------------------
// CFileDialog

CFileDialog::CFileDialog(BOOL openFileDialog, LPCSTR defaultExtension, LPCSTR fileName, DWORD flags,
                         LPCSTR filter, CWnd* parent, DWORD, BOOL)
    : open_(openFileDialog)
{
    m_pParentWnd = parent;
    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.Flags = flags | OFN_EXPLORER;
    if (defaultExtension) defExt_ = defaultExtension;
    m_ofn.lpstrDefExt = defExt_.empty() ? nullptr : defExt_.c_str();
    if (fileName) std::strncpy(file_, fileName, sizeof file_ - 1);
    m_ofn.lpstrFile = file_;
    m_ofn.nMaxFile = sizeof file_;
    m_ofn.lpstrFileTitle = title_;
    m_ofn.nMaxFileTitle = sizeof title_;
    if (filter)
    {
        filter_ = filter;
        for (char& c : filter_)
            if (c == '|') c = '\0';
        filter_.push_back('\0');
        filter_.push_back('\0');
        m_ofn.lpstrFilter = filter_.data();
        m_ofn.nFilterIndex = 1;
    }
}

INT_PTR CFileDialog::DoModal()
{
    m_ofn.hwndOwner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    BOOL ok = open_ ? ::GetOpenFileNameA(&m_ofn) : ::GetSaveFileNameA(&m_ofn);
    return ok ? IDOK : IDCANCEL;
}

CString CFileDialog::GetPathName() const
{
    return CString(m_ofn.lpstrFile);
}

CString CFileDialog::GetFileName() const
{
    std::string p = m_ofn.lpstrFile;
    size_t slash = p.find_last_of("/\\");
    return CString(slash == std::string::npos ? p.c_str() : p.c_str() + slash + 1);
}

CString CFileDialog::GetFileExt() const
{
    std::string name = static_cast<LPCSTR>(GetFileName());
    size_t dot = name.find_last_of('.');
    return CString(dot == std::string::npos ? "" : name.c_str() + dot + 1);
}
