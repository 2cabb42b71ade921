#include "ui_test.h"

#include <filesystem>

#include "settings/settings_file.h"
#include "ui/win32/dialog.h"

namespace kelvane::testing {

std::string Text(HWND dlg, int id) { return GetWindowTextString(Item(dlg, id)); }

void Type(HWND dlg, int id, const std::string& text) {
    const HWND edit = Item(dlg, id);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    if (text.empty()) {
        SendMessageA(edit, WM_KEYDOWN, VK_DELETE, 0);
        return;
    }
    for (char c : text) SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 0);
}

void Clear(HWND dlg, int id) { Type(dlg, id, ""); }

void Click(HWND dlg, int id) { PostMessageA(Item(dlg, id), BM_CLICK, 0, 0); }

void PressKey(HWND ctrl, UINT vk) {
    PostMessageA(ctrl, WM_KEYDOWN, vk, 1);
    PostMessageA(ctrl, WM_KEYUP, vk, 0xC0000001);
}

int Selection(HWND dlg, int comboId) { return static_cast<int>(SendMessageA(Item(dlg, comboId), CB_GETCURSEL, 0, 0)); }

std::vector<std::string> ListItems(HWND dlg, int comboId) {
    const HWND combo = Item(dlg, comboId);
    std::vector<std::string> items;
    const auto count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::string text(static_cast<std::size_t>(SendMessageA(combo, CB_GETLBTEXTLEN, i, 0)) + 1, '\0');
        text.resize(
            static_cast<std::size_t>(SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
        items.push_back(text);
    }
    return items;
}

bool HasFocus(HWND dlg, int id) { return GetFocus() == Item(dlg, id); }

namespace {

// The library's byte output, recording while bound.
struct RecordingDriver final : DriverByteOutput {
    void DriverOutPB(std::uint16_t port, std::uint8_t value) const override {
        if (bound) PortRecorder::writes.emplace_back(port, value);
    }
    bool bound = false;
};
RecordingDriver g_driver;

void RecordOutByte(std::uint16_t port, std::uint8_t value) {
    PortRecorder::events.push_back("out");
    PortRecorder::writes.emplace_back(port, value);
}
bool DetectRecorded() { return PortRecorder::isNT; }
bool BindRecorded() {
    PortRecorder::events.push_back("bind");
    g_driver.bound = true;
    return PortRecorder::bindResult;
}
void UnbindRecorded() {
    // Whether the settings file is there yet tells the order of unbind and save.
    PortRecorder::events.push_back(std::filesystem::exists(kSettingsFileName) ? "unbind after save" : "unbind");
    g_driver.bound = false;
}
void FailureRecorded() { PortRecorder::events.push_back("failure message"); }

}  // namespace

void PortRecorder::Reset() {
    writes.clear();
    events.clear();
    isNT = true;
    bindResult = true;
    g_driver.bound = false;
}

bool PortRecorder::DriverBound() { return g_driver.bound; }

PortPlatform PortRecorder::Platform() {
    return {&g_driver, &RecordOutByte, &DetectRecorded, &BindRecorded, &UnbindRecorded, &FailureRecorded};
}

void ScratchDirTest::SetUp() {
    namespace fs = std::filesystem;
    previous_ = fs::current_path().string();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path dir =
        fs::temp_directory_path() / "kelvane-ui-tests" / (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::current_path(dir);
    dir_ = dir.string();
    PortRecorder::Reset();
}

void ScratchDirTest::TearDown() {
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

bool ScratchDirTest::SettingsFileExists() const { return std::filesystem::exists(kSettingsFileName); }

}  // namespace kelvane::testing
