#include "ui/win32/save_report.h"

#include <windows.h>

#include "ui/win32/dialog.h"

namespace kelvane {
namespace {

std::string FullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? std::string(full, n) : path;
}

void Warn(const std::string& text) { MessageBoxA(nullptr, text.c_str(), kAppTitle, MB_OK | MB_ICONWARNING); }

}  // namespace

void ReportSaveFailure(const std::string& path, const std::string& reason) {
    Warn("The settings could not be saved to\n" + FullPath(path) + "\n\n" + reason +
         "\n\nThe changes made in this session are lost. Make sure the file and its folder are "
         "not read-only and that no other program has the file open.");
}

void ReportUnreadSettings(const std::string& path, const std::string& reason) {
    Warn("The settings could not be read from\n" + FullPath(path) + "\n\n" + reason +
         "\n\nThis session ran with the first-start settings, and the changes made in it were not saved over "
         "the file, which is left as it was. Make sure no other program has the file open and that it may be "
         "read, then start the switcher again.");
}

}  // namespace kelvane
