#pragma once
// What the dialog tests share: control access as a user acts, a recording
// port platform, and a scratch working directory for the settings file.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ui/win32/switcher_app.h"
#include "ui/win32/switcher_dlg.h"

namespace kelvane::testing {

inline constexpr char kMainTitle[] = "Antenna switcher";

inline HWND Item(HWND dlg, int id) { return GetDlgItem(dlg, id); }
std::string Text(HWND dlg, int id);
// Replaces a field's text one typed character at a time, as the keyboard
// would: each character raises its own change notification.
void Type(HWND dlg, int id, const std::string& text);
// Clears a field with the Delete key.
void Clear(HWND dlg, int id);
// A click that is handled once the current action returns (the click may
// open a modal window, which the script then meets as its next step).
void Click(HWND dlg, int id);
// A key pressed in a control: it goes through the dialog's own key handling.
void PressKey(HWND ctrl, UINT vk);
int Selection(HWND dlg, int comboId);
std::vector<std::string> ListItems(HWND dlg, int comboId);
bool HasFocus(HWND dlg, int id);

// The port side of the main window, recording instead of reaching hardware.
struct PortRecorder {
    using Write = std::pair<std::uint16_t, std::uint8_t>;
    static inline std::vector<Write> writes;
    static inline std::vector<std::string> events;
    static inline bool isNT = true;
    static inline bool bindResult = true;

    static void Reset();
    static bool DriverBound();
    static PortPlatform Platform();
};
using Writes = std::vector<PortRecorder::Write>;

// Each test starts in an empty working directory of its own, where the
// switcher reads and writes its settings file.
class ScratchDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    bool SettingsFileExists() const;
    std::string m_dir;

private:
    std::string m_previous;
};

// A main window object in the scratch directory, started up and shut down
// by the application object as the program does. Shutting down saves, so it
// happens before the directory is left.
class SwitcherWindowTest : public ScratchDirTest {
protected:
    void TearDown() override {
        Close();
        ScratchDirTest::TearDown();
    }
    CSwitcherDlg& Open(BandTable& table) {
        dlg.emplace(table, PortRecorder::Platform());
        m_app.emplace(table, PortRecorder::Platform());
        m_app->StartUp(*dlg);
        return *dlg;
    }
    CSwitcherDlg& Open() { return Open(bands); }
    void Close() {
        if (dlg) m_app->ShutDown(*dlg);
        dlg.reset();
    }
    BandTable bands;
    std::optional<CSwitcherDlg> dlg;

private:
    // One object from start-up to shutdown, as in the program: what the
    // start found decides what the end does.
    std::optional<CSwitcherApp> m_app;
};

}  // namespace kelvane::testing
