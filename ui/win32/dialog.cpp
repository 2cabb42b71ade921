#include "ui/win32/dialog.h"

#include "core/ctext.h"

namespace kelvane {
namespace {

// Thrown by a failed field and caught by UpdateData: the rest of the exchange
// is skipped, as the user has to mend that field first.
struct ExchangeAbandoned {};

}  // namespace

std::string GetWindowTextString(HWND hwnd) {
    const int length = GetWindowTextLengthA(hwnd);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    text.resize(static_cast<std::size_t>(GetWindowTextA(hwnd, text.data(), length + 1)));
    return text;
}

HWND CDataExchange::PrepareCtrl(int id) {
    m_lastCtrl = m_pDlg->GetDlgItem(id);
    return m_lastCtrl;
}

void CDataExchange::Fail(const char* message) {
    MessageBoxA(m_pDlg->GetSafeHwnd(), message, kAppTitle, MB_OK | MB_ICONEXCLAMATION);
    if (m_lastCtrl) {
        SetFocus(m_lastCtrl);
        SendMessageA(m_lastCtrl, EM_SETSEL, 0, -1);
    }
    throw ExchangeAbandoned{};
}

void DDX_Text(CDataExchange& dx, int id, std::string& value) {
    const HWND ctrl = dx.PrepareCtrl(id);
    if (dx.m_bSaveAndValidate)
        value = GetWindowTextString(ctrl);
    else
        SetWindowTextA(ctrl, value.c_str());
}

void DDX_Text(CDataExchange& dx, int id, std::int32_t& value) {
    const HWND ctrl = dx.PrepareCtrl(id);
    if (!dx.m_bSaveAndValidate) {
        SetWindowTextA(ctrl, FormatInt(value).c_str());
        return;
    }
    std::int32_t parsed = 0;
    if (!ParseSignedField(GetWindowTextString(ctrl), parsed)) dx.Fail("Please enter an integer.");
    value = parsed;
}

void DDX_Text(CDataExchange& dx, int id, std::uint32_t& value) {
    const HWND ctrl = dx.PrepareCtrl(id);
    if (!dx.m_bSaveAndValidate) {
        SetWindowTextA(ctrl, FormatUnsigned(value).c_str());
        return;
    }
    std::uint32_t parsed = 0;
    if (!ParseUnsignedField(GetWindowTextString(ctrl), parsed)) dx.Fail("Please enter a positive integer.");
    value = parsed;
}

void DDX_Check(CDataExchange& dx, int id, bool& value) {
    const HWND ctrl = dx.PrepareCtrl(id);
    if (dx.m_bSaveAndValidate)
        value = SendMessageA(ctrl, BM_GETCHECK, 0, 0) != BST_UNCHECKED;
    else
        SendMessageA(ctrl, BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

void DDX_CBIndex(CDataExchange& dx, int id, std::int32_t& index) {
    const HWND ctrl = dx.PrepareCtrl(id);
    if (dx.m_bSaveAndValidate)
        index = static_cast<std::int32_t>(SendMessageA(ctrl, CB_GETCURSEL, 0, 0));
    else
        SendMessageA(ctrl, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

INT_PTR CDialog::DoModal() {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_templateId), m_parent, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR result) { ::EndDialog(m_hWnd, result); }

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange dx(*this, saveAndValidate);
    ++m_exchanging;
    bool ok = true;
    try {
        DoDataExchange(dx);
    } catch (const ExchangeAbandoned&) {
        ok = false;
    }
    --m_exchanging;
    return ok;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(false);
    return TRUE;
}

void CDialog::OnOK() {
    if (UpdateData(true)) EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnCommand(int id, int code) {
    if (code != BN_CLICKED) return false;
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->m_hWnd = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, lParam);
    } else {
        self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    }
    // Messages sent before WM_INITDIALOG (fonts, sizes) have no object yet.
    if (!self) return FALSE;
    const INT_PTR result = self->HandleMessage(msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}

INT_PTR CDialog::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND: {
        // lParam names the control; commands from keys and menus have none.
        if (lParam != 0 && m_exchanging) return TRUE;
        // Enter belongs to the push button that has the focus. Wine's dialog
        // manager sends IDOK instead while that button is not the default
        // one, as after the initial focus assignment.
        const HWND focus = GetFocus();
        if (LOWORD(wParam) == IDOK && HIWORD(wParam) == BN_CLICKED && focus &&
            focus != reinterpret_cast<HWND>(lParam) && IsChild(m_hWnd, focus) &&
            (SendMessageA(focus, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON))
            return OnCommand(GetDlgCtrlID(focus), BN_CLICKED);
        return OnCommand(LOWORD(wParam), HIWORD(wParam));
    }
    case WM_TIMER:
        return OnTimer(wParam);
    case WM_SYSCOMMAND:
        return OnSysCommand(wParam);
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    default:
        return FALSE;
    }
}

}  // namespace kelvane
