// The program's side of the port write under Wine: platform decision, program
// directory, binding real libraries, and the failure message.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "port/win32/port_driver.h"
#include "win32/module.h"
#include "port/win32/port_driver_detail.h"
#include "support.h"

using namespace kelvane;
using namespace porttest;

namespace {

DWORD g_sizeSeen;
template <BOOL Ok, DWORD Platform>
BOOL WINAPI FakeGetVersionExA(OSVERSIONINFOA* info) {
    g_sizeSeen = info->dwOSVersionInfoSize;
    info->dwPlatformId = Platform;
    return Ok;
}

bool IsUnbound(const PortDriverBinding& b) {
    for (const auto slot : b.slots)
        if (slot) return false;
    return !b.handle;
}

std::vector<std::string> Substituted(std::vector<std::string> lines, const std::string& dir) {
    for (auto& line : lines)
        if (const auto at = line.find("<dir>"); at != std::string::npos) line.replace(at, 5, dir);
    return lines;
}

}  // namespace

TEST(DetectPlatform, OnlyASuccessfulCallReportingNtCountsAsNt) {
    const struct {
        detail::GetVersionExAFn fn;
        bool nt;
    } cases[] = {
        {&FakeGetVersionExA<TRUE, VER_PLATFORM_WIN32_NT>, true},
        {&FakeGetVersionExA<TRUE, VER_PLATFORM_WIN32_WINDOWS>, false},
        {&FakeGetVersionExA<TRUE, VER_PLATFORM_WIN32s>, false},
        {&FakeGetVersionExA<FALSE, VER_PLATFORM_WIN32_NT>, false},  // a failed call says nothing
    };
    for (const auto& c : cases) {
        g_sizeSeen = 0;
        EXPECT_EQ(detail::DetectPlatform(c.fn), c.nt);
        EXPECT_EQ(g_sizeSeen, 148u);  // any other size makes the real call fail
    }
}

TEST(GetProgramDir, KeepsDriveAndDirectoryWithTheirSeparator) {
    const struct {
        const char* path;
        const char* dir;
    } cases[] = {
        {"D:\\Ham\\switch.exe", "D:\\Ham\\"},
        {"C:\\switch.exe", "C:\\"},
        {"\\\\server\\share\\radio\\switch.exe", "\\\\server\\share\\radio\\"},
        {"/opt/radio/switch.exe", "/opt/radio/"},
        {"D:\\Ham/bin/switch.exe", "D:\\Ham/bin/"},
        {"D:\\Ham\\", "D:\\Ham\\"},
        {"switch.exe", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(DirectoryOf(c.path), c.dir) << c.path;
}

TEST(GetProgramDir, IsTheExecutablesDirectoryWhateverTheCurrentOne) {
    ScratchDir elsewhere;
    char before[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, before);
    SetCurrentDirectoryA(elsewhere.path().c_str());
    const std::string dir = GetProgramDir();
    SetCurrentDirectoryA(before);
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '\\');
    EXPECT_TRUE(Exists(dir + "port_win32_tests.exe")) << dir;
}

// Every way the library can disappoint: the binding keeps what it found,
// writes go to DriverOutPB when it exists, and the unbind always runs.
TEST(BindPortDriver, FailurePathsKeepTheBindingAndUnloadAtExit) {
    const struct {
        const char* fixture;
        bool bound;
        std::vector<std::string> calls;
    } cases[] = {
        {"fake_driver_ok.dll",
         true,
         {"attach", "LoadPortDriver <dir>", "DriverOutPB 0278 08", "UnloadPortDriver", "detach"}},
        {"fake_driver_load_fails.dll",
         false,
         {"attach", "LoadPortDriver <dir>", "DriverOutPB 0278 08", "UnloadPortDriver", "detach"}},
        {"fake_driver_no_load.dll", false, {"attach", "DriverOutPB 0278 08", "UnloadPortDriver", "detach"}},
        {"fake_driver_no_out.dll", true, {"attach", "LoadPortDriver <dir>", "UnloadPortDriver", "detach"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        ScratchDir dir;
        ASSERT_TRUE(CopyFixture(c.fixture, dir / kPortDriverLibraryName));
        PortDriverBinding binding;
        EXPECT_EQ(BindPortDriver(binding, dir.path()), c.bound);
        ASSERT_TRUE(binding.handle);
        PortWriter writer(binding, nullptr);
        writer.m_bNT = true;
        writer.WritePortByte(0x278, 8);
        EXPECT_TRUE(UnbindPortDriver(binding));
        EXPECT_TRUE(IsUnbound(binding));
        EXPECT_EQ(ReadLines(dir / "calls.log"), Substituted(c.calls, dir.path()));
    }
}

TEST(BindPortDriver, ResolvesTheTenSlotsInOrder) {
    ScratchDir dir;
    ASSERT_TRUE(CopyFixture("fake_driver_ok.dll", dir / kPortDriverLibraryName));
    PortDriverBinding binding;
    ASSERT_TRUE(BindPortDriver(binding, dir.path()));
    const HMODULE module = binding.handle.Get();
    for (int s = 0; s < kPortDriverSlotCount; ++s) {
        EXPECT_NE(binding.slots[s], nullptr) << kPortDriverExportNames[s];
        EXPECT_EQ(binding.slots[s], ProcAs<AnyProc>(module, kPortDriverExportNames[s])) << kPortDriverExportNames[s];
    }
    UnbindPortDriver(binding);
}

namespace {
std::vector<std::pair<std::uint16_t, std::uint8_t>> g_outs;
void __stdcall RecordOut(std::uint16_t port, std::uint8_t value) { g_outs.emplace_back(port, value); }
}  // namespace

// A slot without the library it came from must not be called: its code may be gone.
TEST(PortDriverBinding, WritesThroughTheSlotOnlyWhileItsLibraryIsHeld) {
    PortDriverBinding binding;
    binding.slots[kDriverOutPB] = reinterpret_cast<AnyProc>(&RecordOut);
    binding.DriverOutPB(0x378, 0x01);
    EXPECT_TRUE(g_outs.empty());
    binding.handle.Reset(LoadLibraryA("kernel32.dll"));
    binding.DriverOutPB(0x378, 0x02);
    EXPECT_EQ(g_outs, (std::vector<std::pair<std::uint16_t, std::uint8_t>>{{0x378, 0x02}}));
}

TEST(BindPortDriver, WithoutALibraryNothingIsBoundAndNothingUnloaded) {
    ScratchDir empty;
    PortDriverBinding binding;
    EXPECT_FALSE(BindPortDriver(binding, empty.path()));
    EXPECT_TRUE(IsUnbound(binding));
    EXPECT_FALSE(UnbindPortDriver(binding));
}

TEST(BindPortDriver, AnUnknownDirectoryNeverFallsBackToTheSearchPath) {
    ScratchDir cwd;
    ASSERT_TRUE(CopyFixture("fake_driver_ok.dll", cwd / kPortDriverLibraryName));
    char before[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, before);
    SetCurrentDirectoryA(cwd.path().c_str());
    PortDriverBinding binding;
    const bool bound = BindPortDriver(binding, "");
    SetCurrentDirectoryA(before);
    EXPECT_FALSE(bound);
    EXPECT_TRUE(IsUnbound(binding));
    EXPECT_FALSE(Exists(cwd / "calls.log"));
}

// The real library with its journal: what the program writes is exactly what
// reaches the library, masked, and binding or unbinding writes no byte.
TEST(BindPortDriver, EndToEndThroughTheJournalMasksPortAndValue) {
    ScratchDir dir;
    ASSERT_TRUE(CopyFixture("KorvPortDll.dll", dir / kPortDriverLibraryName));
    WriteText(dir / "KorvPortDll.cfg", "backend=journal\njournal=port.log\n");
    PortDriverBinding binding;
    ASSERT_TRUE(BindPortDriver(binding, dir.path()));
    PortWriter writer(binding, &OutPortByte);
    writer.m_bNT = DetectPlatform();
    ASSERT_TRUE(writer.m_bNT);  // the `out` route would fault under Wine
    const struct {
        std::int32_t addr;
        std::uint32_t value;
        const char* port;
        const char* byte;
    } writes[] = {
        {0x278, 0x1FF, "0x0278", "0xFF"},
        {0x12378, 0x08, "0x2378", "0x08"},
        {-1, 0xFFFFFF80, "0xFFFF", "0x80"},
    };
    for (const auto& w : writes) writer.WritePortByte(w.addr, w.value);
    UnbindPortDriver(binding);

    const auto lines = ReadLines(dir / "port.log");
    ASSERT_EQ(lines.size(), 2 + std::size(writes));
    EXPECT_EQ(Fields(lines.front())[1], "LoadPortDriver");
    EXPECT_EQ(Fields(lines.back())[1], "UnloadPortDriver");
    for (std::size_t i = 0; i < std::size(writes); ++i) {
        const auto f = Fields(lines[i + 1]);
        ASSERT_EQ(f.size(), 4u) << lines[i + 1];
        EXPECT_EQ(f[1], "DriverOutPB");
        EXPECT_EQ(f[2], writes[i].port);
        EXPECT_EQ(f[3], writes[i].byte);
    }
}

// The program started by its bare name from another directory, as from a
// command prompt: the library beside it is used, one planted in the current
// directory is never even loaded.
TEST(BindPortDriver, BareNameStartFindsTheLibraryBesideTheProgram) {
    const struct {
        bool besideProgram;
        int bound;
    } cases[] = {{true, 1}, {false, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.besideProgram ? "library beside the program" : "library only in the current directory");
        ScratchDir home, cwd;
        ASSERT_TRUE(CopyFixture("bind_probe.exe", home / "bind_probe.exe"));
        if (c.besideProgram) {
            ASSERT_TRUE(CopyFixture("fake_driver_ok.dll", home / kPortDriverLibraryName));
        }
        ASSERT_TRUE(CopyFixture("fake_driver_ok.dll", cwd / kPortDriverLibraryName));

        std::string commandLine = "bind_probe.exe report.txt";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessA((home / "bind_probe.exe").c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                                   nullptr, cwd.path().c_str(), &startup, &process));
        const DWORD waited = WaitForSingleObject(process.hProcess, 60000);
        DWORD exitCode = 1;
        GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        ASSERT_EQ(waited, WAIT_OBJECT_0);
        ASSERT_EQ(exitCode, 0u);

        const auto report = ReadLines(cwd / "report.txt");
        ASSERT_EQ(report.size(), 5u);
        EXPECT_EQ(report[0].rfind("commandline=bind_probe.exe ", 0), 0u) << report[0];
        EXPECT_EQ(report[1], "bound=" + std::to_string(c.bound));
        EXPECT_EQ(report[4], "programdir=" + home.path());
        EXPECT_FALSE(Exists(cwd / "calls.log")) << "the planted library was loaded";
        if (c.besideProgram) {
            EXPECT_EQ(lstrcmpiA(report[3].c_str(), ("module=" + home / kPortDriverLibraryName).c_str()), 0)
                << report[3];
            EXPECT_EQ(ReadLines(home / "calls.log"), Substituted({"attach", "LoadPortDriver <dir>",
                                                                  "DriverOutPB 0378 5A", "UnloadPortDriver", "detach"},
                                                                 home.path()));
        } else {
            EXPECT_EQ(report[2], "unbound=0");
        }
    }
}

namespace {

HWND WaitForWindow(const char* className, const char* caption) {
    // Polls for the box itself; the bound only stops a broken run from hanging.
    for (int i = 0; i < 1000; ++i) {
        if (const HWND w = FindWindowA(className, caption)) return w;
        Sleep(10);
    }
    return nullptr;
}

BOOL CALLBACK CollectVisibleButton(HWND child, LPARAM found) {
    char cls[32] = "";
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button") == 0 && IsWindowVisible(child))
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(child);
    return TRUE;
}

}  // namespace

TEST(ShowPortDriverFailure, ShowsTheExactTextWithOnlyAnOkButton) {
    std::thread shower([] { ShowPortDriverFailure(); });
    const HWND box = WaitForWindow("#32770", "Kelvane");
    if (!box) {
        shower.detach();
        FAIL() << "no message box appeared";
    }
    char text[1024] = "";
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    const std::string expected =
        "Korvel port driver cannot be loaded!\n\nWindows 2000/XP:\n\n"
        "1) Copy KorvPortDriver.sys file to your \\WINNT\\system32\\drivers directory\n"
        "2) Run KorvPortDriver.reg file\n"
        "3) Reboot the machine";
    EXPECT_EQ(std::string(kPortDriverFailureMessage), expected);
    EXPECT_EQ(std::string(text), expected);

    std::vector<HWND> buttons;
    EnumChildWindows(box, &CollectVisibleButton, reinterpret_cast<LPARAM>(&buttons));
    EXPECT_EQ(buttons.size(), 1u);
    if (buttons.empty()) {
        PostMessageA(box, WM_CLOSE, 0, 0);
    } else {
        char label[32] = "";
        GetWindowTextA(buttons[0], label, sizeof label);
        EXPECT_EQ(std::string(label), "OK");
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(buttons[0]), BN_CLICKED),
                     reinterpret_cast<LPARAM>(buttons[0]));
    }
    shower.join();  // the OK button ends the box and the program carries on
}
