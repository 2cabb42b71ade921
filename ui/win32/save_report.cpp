#include "ui/win32/save_report.h"

#include <windows.h>

#include "ui/win32/dialog.h"

namespace kelvane {
namespace {

std::string SaveFailureText(const std::string& fullPath, const std::string& reason) {
    return "The settings could not be saved to\n" + fullPath + "\n\n" + reason +
           "\n\nThe changes made in this session are lost. Make sure the file and its folder are "
           "not read-only and that no other program has the file open.";
}

}  // namespace

void ReportSaveFailure(const std::string& path, const std::string& reason) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    const std::string shown = n > 0 && n < MAX_PATH ? std::string(full, n) : path;
    MessageBoxA(nullptr, SaveFailureText(shown, reason).c_str(), kAppTitle, MB_OK | MB_ICONWARNING);
}

}  // namespace kelvane
