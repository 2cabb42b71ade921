// bench_idle.exe: the smallest modal dialog, titled "Bench idle", that closes
// on Escape. What Wine costs a program that only waits for messages.

#include <windows.h>

#include <cstring>

namespace {

INT_PTR CALLBACK IdleProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK)) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // DLGTEMPLATE, then menu, class and title as WORD arrays; DWORD-aligned.
    alignas(4) WORD buffer[64] = {};
    auto* tmpl = reinterpret_cast<DLGTEMPLATE*>(buffer);
    tmpl->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME | DS_CENTER;
    tmpl->cx = 160;
    tmpl->cy = 60;
    WORD* p = reinterpret_cast<WORD*>(tmpl + 1);
    *p++ = 0;  // no menu
    *p++ = 0;  // the standard dialog class
    for (const char* c = "Bench idle"; *c; ++c) *p++ = static_cast<WORD>(*c);
    *p++ = 0;
    return static_cast<int>(DialogBoxIndirectParamW(instance, tmpl, nullptr, IdleProc, 0));
}
