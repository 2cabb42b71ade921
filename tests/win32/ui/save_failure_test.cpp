// A save at the end of a run that cannot reach the disk is reported once,
// after the window has gone; a temporary left by an interrupted save is not
// in the way.

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

std::string SystemText(DWORD error) {
    char text[512] = {};
    std::string s(text, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                       text, sizeof text, nullptr));
    return s.substr(0, s.find_last_not_of("\r\n ") + 1);
}

class SaveAtTheEnd : public SwitcherWindowTest {};

TEST_F(SaveAtTheEnd, FailureIsReportedOnceAfterTheWindowWithFileAndReason) {
    const std::string tmp = std::string(kSettingsFileName) + ".tmp";
    const struct {
        const char* what;
        std::function<HANDLE()> arrange;  // returns a handle to close afterwards, or null
        std::vector<DWORD> errors;        // the text of one is in the message; none: no message, the file saved
    } cases[] = {
        {"read-only-file", [] { return WriteReadOnly(kSettingsFileName, "old"), HANDLE{}; }, {ERROR_ACCESS_DENIED}},
        {"locked-file",
         [] {
             std::ofstream(kSettingsFileName, std::ios::binary) << "old";
             return CreateFileA(kSettingsFileName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
         },
         // Windows and Wine differ in which of the two they give.
         {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED}},
        {"stale-read-only-tmp", [&] { return WriteReadOnly(tmp, "stale"), HANDLE{}; }, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const HANDLE held = c.arrange();
        std::string shown;
        int boxes = 0;
        HWND main = nullptr;
        ModalScript script;
        script.On(kMainTitle, [&](HWND w) {
            main = w;
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
        if (held) CloseHandle(held);
        EXPECT_TRUE(script.Done());
        EXPECT_EQ(GetFileAttributesA(tmp.c_str()), INVALID_FILE_ATTRIBUTES) << "no temporary left";
        if (!c.errors.empty()) {
            char cwd[MAX_PATH] = {};
            GetCurrentDirectoryA(MAX_PATH, cwd);
            EXPECT_EQ(boxes, 1);
            EXPECT_NE(shown.find(std::string(cwd) + "\\" + kSettingsFileName + "\n"), std::string::npos) << shown;
            int reasons = 0;
            for (DWORD e : c.errors)
                reasons += shown.find(std::string("\n").append(SystemText(e)).append("\n")) != std::string::npos;
            EXPECT_EQ(reasons, 1) << shown;
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
