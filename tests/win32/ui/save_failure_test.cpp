// A save at the end of a run that cannot reach the disk is reported once,
// after the window has gone; a temporary left by an interrupted save is not
// in the way; a file that could not be read at start is not saved over.

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "modal_script.h"
#include "screenshot.h"
#include "settings/settings_file.h"
#include "ui/win32/resource.h"
#include "ui_test.h"

namespace kelvane::testing {
namespace {

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteReadOnly(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
}

HANDLE Lock(const char* path) { return CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr); }

std::string SystemText(DWORD error) {
    char text[512] = {};
    std::string s(text, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                       text, sizeof text, nullptr));
    return s.substr(0, s.find_last_not_of("\r\n ") + 1);
}

class SaveAtTheEnd : public SwitcherWindowTest {};

TEST_F(SaveAtTheEnd, FailureIsReportedOnceAfterTheWindowWithFileAndReason) {
    const std::string tmp = std::string(kSettingsFileName) + ".tmp";
    const auto old = [] { std::ofstream(kSettingsFileName, std::ios::binary) << "old"; };
    // Windows and Wine differ in which of the two they give for a file held open.
    const std::vector<DWORD> held{ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED};
    enum Hold { kNone, kInRun, kAtStartOnly };  // when the file is held open without sharing
    const struct {
        const char* what;
        std::function<void()> arrange;
        Hold hold;
        std::vector<DWORD> errors;  // the text of one is in the message; none: no message, the file saved
        const char* says;
    } cases[] = {
        {"read-only-file", [] { WriteReadOnly(kSettingsFileName, "old"); }, kNone, {ERROR_ACCESS_DENIED}, "are lost"},
        {"locked-file", old, kInRun, held, "are lost"},
        {"unreadable-at-start", old, kAtStartOnly, held, "were not saved over the file"},
        {"stale-read-only-tmp", [&] { WriteReadOnly(tmp, "stale"); }, kNone, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        HANDLE lock = c.hold == kAtStartOnly ? Lock(kSettingsFileName) : nullptr;
        std::string shown;
        int boxes = 0;
        HWND main = nullptr;
        ModalScript script;
        script.On(kMainTitle, [&](HWND w) {
            main = w;
            if (c.hold == kAtStartOnly) CloseHandle(lock);
            lock = c.hold == kInRun ? Lock(kSettingsFileName) : nullptr;
            Type(w, IDC_FREQ, "14200");  // a session that changed something
            PressKey(Item(w, IDC_FREQ), VK_ESCAPE);
        });
        if (!c.errors.empty()) {
            script.On(kAppTitle, [&](HWND box) {
                ++boxes;
                EXPECT_FALSE(IsWindow(main)) << "the message comes after the window has closed";
                shown = MessageBoxText(box);
                EXPECT_NE(SaveWindowPng(box, std::string("save-failed-") + c.what), "");
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            });
        }
        Open().DoModal();
        Close();
        if (lock) CloseHandle(lock);
        EXPECT_TRUE(script.Done());
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 1) << "no temporary left";
        if (!c.errors.empty()) {
            char cwd[MAX_PATH] = {};
            GetCurrentDirectoryA(MAX_PATH, cwd);
            EXPECT_EQ(boxes, 1);
            EXPECT_NE(shown.find(std::string(cwd) + "\\" + kSettingsFileName + "\n"), std::string::npos) << shown;
            int reasons = 0;
            for (DWORD e : c.errors)
                reasons += shown.find(std::string("\n").append(SystemText(e)).append("\n")) != std::string::npos;
            EXPECT_EQ(reasons, 1) << shown;
            EXPECT_NE(shown.find(c.says), std::string::npos) << shown;
            EXPECT_EQ(FileText(kSettingsFileName), "old") << "the previous file stays whole";
        } else {
            EXPECT_EQ(FileText(kSettingsFileName), SerializeSettings(SwitcherTables{}, bands));
            EXPECT_EQ(GetFileAttributesA(kSettingsFileName) & FILE_ATTRIBUTE_READONLY, 0u)
                << "the stale file's mark would refuse the next save";
        }
        SetFileAttributesA(kSettingsFileName, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(kSettingsFileName);
    }
}

}  // namespace
}  // namespace kelvane::testing
