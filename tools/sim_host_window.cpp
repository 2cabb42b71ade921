#include "tools/sim_host_window.h"

#include <string>

#include "core/ctext.h"

namespace kelvane::simhost {

namespace {

const wchar_t kClassName[] = L"KorvSimHostWindow";

struct WindowState {
    SimHostObject* object;
    double hertz;
};

void ShowServed(HWND window, double hertz) {
    const std::string text = "Serving " + FormatKHz(hertz * 0.001) + " kHz";
    SetDlgItemTextA(window, kStatusId, text.c_str());
}

// Selected, so what is typed next replaces it.
void SelectTyping(HWND window) {
    HWND edit = GetDlgItem(window, kFrequencyEditId);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SetFocus(edit);
}

// Whatever the person typed, in kHz; anything that is not a number is refused.
void TakeTypedFrequency(HWND window, const WindowState& state) {
    char typed[64] = {};
    GetDlgItemTextA(window, kFrequencyEditId, typed, sizeof typed);
    double kHz = 0.0;
    if (ParseNumber(typed, kHz)) {
        Value value;
        value.hertz = kHz * 1000.0;
        state.object->Serve(value);
        ShowServed(window, value.hertz);
    } else {
        SetDlgItemTextA(window, kStatusId, "Not a frequency in kHz");
    }
    SelectTyping(window);
}

HWND AddControl(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id) {
    HWND control =
        CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return control;
}

LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wp, LPARAM lp) {
    auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (msg) {
    case WM_NCCREATE:
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
        break;
    case WM_CREATE: {
        AddControl(window, L"STATIC", L"Frequency (kHz):", 0, 10, 14, 90, 20, -1);
        HWND edit = AddControl(window, L"EDIT", L"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 104, 11, 110, 22,
                               kFrequencyEditId);
        AddControl(window, L"BUTTON", L"Set", WS_TABSTOP | BS_DEFPUSHBUTTON, 222, 10, 60, 24, IDOK);
        AddControl(window, L"STATIC", L"", 0, 10, 44, 272, 20, kStatusId);
        const auto* initial = reinterpret_cast<WindowState*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowTextA(edit, FormatKHz(initial->hertz * 0.001).c_str());
        ShowServed(window, initial->hertz);
        SelectTyping(window);
        return 0;
    }
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK && state != nullptr) TakeTypedFrequency(window, *state);
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, msg, wp, lp);
}

}  // namespace

HWND CreateHostWindow(SimHostObject& object, double hertz) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);

    // One window per process; it lives as long as the process does.
    static WindowState state;
    state = WindowState{&object, hertz};
    RECT frame = {0, 0, 292, 72};
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    AdjustWindowRect(&frame, style, FALSE);
    HWND window =
        CreateWindowExW(0, kClassName, kWindowTitle, style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                        frame.bottom - frame.top, nullptr, nullptr, wc.hInstance, &state);
    if (window == nullptr) return nullptr;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    return window;
}

}  // namespace kelvane::simhost
