#pragma once
// A small dialog layer: modal dialogs from resource templates, a notification
// table per dialog, and two-way data exchange with validation. Strings are
// 8-bit in the ANSI code page, so every call uses the A forms.

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

namespace kelvane {

// Caption of the messages the program shows itself.
inline constexpr char kAppTitle[] = "Kelvane";

std::string GetWindowTextString(HWND hwnd);

class CDialog;

// One exchange between the controls and the members. A field that fails
// validation shows its message, takes the focus and abandons the exchange.
class CDataExchange {
public:
    CDataExchange(CDialog& dlg, bool saveAndValidate) : m_pDlg(&dlg), m_bSaveAndValidate(saveAndValidate) {}

    HWND PrepareCtrl(int id);
    [[noreturn]] void Fail(const char* message);

    CDialog* const m_pDlg;
    const bool m_bSaveAndValidate;

private:
    HWND m_lastCtrl = nullptr;
};

void DDX_Text(CDataExchange& dx, int id, std::string& value);
void DDX_Text(CDataExchange& dx, int id, std::int32_t& value);   // "Please enter an integer."
void DDX_Text(CDataExchange& dx, int id, std::uint32_t& value);  // "Please enter a positive integer."
void DDX_Check(CDataExchange& dx, int id, bool& value);
void DDX_CBIndex(CDataExchange& dx, int id, std::int32_t& index);  // -1: no selection

class CDialog {
public:
    CDialog(int templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    INT_PTR DoModal();
    void EndDialog(INT_PTR result);
    bool UpdateData(bool saveAndValidate);

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

protected:
    virtual void DoDataExchange(CDataExchange&) {}
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // Control notifications and commands; true when handled.
    virtual bool OnCommand(int id, int code);
    // Window messages a dialog may take over; returning false lets the
    // system's dialog processing run.
    virtual bool OnTimer(UINT_PTR) { return false; }
    virtual bool OnSysCommand(WPARAM) { return false; }
    virtual bool OnPaint() { return false; }
    virtual HICON OnQueryDragIcon() { return nullptr; }

    // The notification table of a dialog: control ids (a range for rows of
    // controls), the notification code and the member to call.
    template <class T>
    struct Notify {
        int idFirst;
        int idLast;
        int code;
        void (T::*handler)();
    };
    template <class T>
    static bool Dispatch(T& dlg, std::span<const Notify<std::type_identity_t<T>>> table, int id, int code) {
        for (const auto& n : table) {
            if (id >= n.idFirst && id <= n.idLast && code == n.code) {
                (dlg.*n.handler)();
                return true;
            }
        }
        return false;
    }

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);

    const int m_templateId;
    const HWND m_parent;
    // Set while data is exchanged: the controls' notifications are not dispatched then.
    int m_exchanging = 0;
};

}  // namespace kelvane
