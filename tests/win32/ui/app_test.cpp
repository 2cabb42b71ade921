// The start-up routine: what it prepares, what it refuses to start without,
// and what it leaves behind.

#include <objbase.h>

#include <clocale>
#include <string>
#include <thread>

#include "modal_script.h"
#include "ui/win32/resource.h"
#include "ui/win32/switcher_app.h"
#include "ui_test.h"

namespace kelvane::testing {
namespace {

class Application : public ScratchDirTest {
protected:
    BandTable bands;
};

// OLE cannot start on a thread that already joined the multithreaded
// apartment: the switcher must say so and leave at once.
TEST_F(Application, OleFailureIsReportedAndNothingElseRuns) {
    std::string message;
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            ModalScript script;
            script.On(kAppTitle, [&](HWND box) {
                message = MessageBoxText(box);
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            });
            CSwitcherApp app(bands, PortRecorder::Platform());
            app.InitInstance();
            app.ExitInstance();
        }
        CoUninitialize();
    }).join();
    EXPECT_EQ(message, "OLE INIT FAILED");
    EXPECT_TRUE(PortRecorder::events.empty()) << "no window object, so no driver";
    EXPECT_FALSE(SettingsFileExists());
}

TEST_F(Application, RunsTheSwitcherInTheCLocaleAndSavesAtTheEnd) {
    std::string locale;
    ModalScript script;
    script.On(kMainTitle, [&](HWND w) {
        locale = std::setlocale(LC_ALL, nullptr);
        PressKey(Item(w, IDC_FREQ), VK_ESCAPE);
    });
    CSwitcherApp app(bands, PortRecorder::Platform());
    app.InitInstance();
    app.ExitInstance();
    std::setlocale(LC_ALL, "German_Germany.1252");
    EXPECT_EQ(locale, "C");
    EXPECT_EQ(PortRecorder::events, (std::vector<std::string>{"bind", "unbind"}));
    EXPECT_TRUE(SettingsFileExists());
}

}  // namespace
}  // namespace kelvane::testing
