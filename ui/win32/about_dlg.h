#pragma once
// The About box: the icon, the name and version, and OK.

#include "ui/win32/dialog.h"
#include "ui/win32/resource.h"

namespace kelvane {

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(HWND parent) : CDialog(IDD_ABOUTBOX, parent) {}
};

}  // namespace kelvane
