// The USB relay backends of the real KorvPortDll.dll, on fixture libraries
// that record every call and fail on demand: ftd2xx.dll beside the program,
// and hid.dll and setupapi.dll replacing the system's in the program's folder
// (Wine loads them native-first when told so).

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support.h"
#include "win32/module.h"
#include "win32/port_driver_abi.h"

using namespace porttest;
using kelvane::ProcAs;

namespace {

// The status log's lines without their time stamps.
std::vector<std::string> Status(const ScratchDir& dir) {
    std::vector<std::string> out;
    for (const auto& line : ReadLines(dir / "KorvPortDll-status.log")) out.push_back(line.substr(line.find(' ') + 1));
    return out;
}

// KorvPortDll.dll in a scratch directory that is also the program's, with a config.
struct UsbDriver {
    explicit UsbDriver(const std::string& config) {
        if (!CopyFixture("KorvPortDll.dll", dir / "KorvPortDll.dll")) return;
        WriteText(dir / "KorvPortDll.cfg", config);
        module = LoadLibraryA((dir / "KorvPortDll.dll").c_str());
        if (!module) return;
        load = ProcAs<kelvane::LoadPortDriverFn>(module, "LoadPortDriver");
        unload = ProcAs<kelvane::UnloadPortDriverFn>(module, "UnloadPortDriver");
        out = ProcAs<kelvane::DriverOutPBFn>(module, "DriverOutPB");
    }
    ~UsbDriver() {
        if (module) FreeLibrary(module);
    }
    // Writes until the status log tells something new: a bounded poll on what
    // the library reports, never a wait for its retry second.
    bool WriteUntilStatusChanges(unsigned char value) {
        const std::size_t before = Status(dir).size();
        for (int i = 0; i < 1000; ++i) {
            out(0x378, value);
            if (Status(dir).size() != before) return true;
            Sleep(10);
        }
        return false;
    }
    std::vector<std::string> Calls() const { return ReadLines(dir / "ftdi.log"); }

    ScratchDir dir;
    HMODULE module = nullptr;
    kelvane::LoadPortDriverFn load = nullptr;
    kelvane::UnloadPortDriverFn unload = nullptr;
    kelvane::DriverOutPBFn out = nullptr;
};

std::vector<std::string> Tail(const std::vector<std::string>& lines, std::size_t from) {
    return from < lines.size() ? std::vector<std::string>(lines.begin() + static_cast<long>(from), lines.end())
                               : std::vector<std::string>{};
}

}  // namespace

TEST(KorvPortDllFtdi, SwitchesD0ToD7AndSurvivesABoardThatComesAndGoes) {
    UsbDriver d("backend=ftdi\nserial=FT1BBB02\ninvert=on\n");
    ASSERT_TRUE(d.out);
    ASSERT_TRUE(CopyFixture("fake_ftd2xx.dll", d.dir / "ftd2xx.dll"));
    WriteText(d.dir / "ftdi.state", "absent");

    // Absent at start: the library loads all the same, and a write costs one failed open.
    ASSERT_EQ(d.load(d.dir.path().c_str()), 1);
    d.out(0x378, 0x05);
    EXPECT_EQ(d.Calls(), (std::vector<std::string>{"FT_OpenEx FT1BBB02 1 -> 2"}));

    // Plugged in: found by itself on a later write, set up for bit-bang with
    // bounded timeouts, and the byte reaches D0-D7 (inverted, as configured).
    WriteText(d.dir / "ftdi.state", "");
    ASSERT_TRUE(d.WriteUntilStatusChanges(0x05));
    auto calls = d.Calls();
    const std::size_t absentTries = calls.size() - 4;
    for (std::size_t i = 0; i < absentTries; ++i) EXPECT_EQ(calls[i], "FT_OpenEx FT1BBB02 1 -> 2");
    EXPECT_EQ(Tail(calls, absentTries), (std::vector<std::string>{"FT_OpenEx FT1BBB02 1 -> 0", "FT_SetBitMode 1 FF 01",
                                                                  "FT_SetTimeouts 1 50 50", "FT_Write 1 FA -> 0"}));
    d.out(0x378, 0x80);
    EXPECT_EQ(d.Calls().back(), "FT_Write 1 7F -> 0");

    // A write error closes the board; the next write does not touch it.
    WriteText(d.dir / "ftdi.state", "write-error");
    std::size_t mark = d.Calls().size();
    d.out(0x378, 0x01);
    d.out(0x378, 0x02);
    EXPECT_EQ(Tail(d.Calls(), mark), (std::vector<std::string>{"FT_Write 1 FE -> 4", "FT_Close 1"}));

    // Back by itself, with the byte the program is writing now.
    WriteText(d.dir / "ftdi.state", "");
    ASSERT_TRUE(d.WriteUntilStatusChanges(0x03));
    EXPECT_EQ(Tail(d.Calls(), d.Calls().size() - 4),
              (std::vector<std::string>{"FT_OpenEx FT1BBB02 1 -> 0", "FT_SetBitMode 1 FF 01", "FT_SetTimeouts 1 50 50",
                                        "FT_Write 1 FC -> 0"}));

    // Unplugged mid-run, then plugged back.
    WriteText(d.dir / "ftdi.state", "absent write-error");
    d.out(0x378, 0x04);
    ASSERT_TRUE(d.WriteUntilStatusChanges(0x04));  // the retry finds nothing, and says so once
    WriteText(d.dir / "ftdi.state", "");
    ASSERT_TRUE(d.WriteUntilStatusChanges(0x04));
    EXPECT_EQ(d.Calls().back(), "FT_Write 1 FB -> 0");

    mark = d.Calls().size();
    d.unload();
    EXPECT_EQ(Tail(d.Calls(), mark), (std::vector<std::string>{"FT_Close 1"}));
    d.out(0x378, 0x04);
    EXPECT_EQ(d.Calls().size(), mark + 1);

    // Fewer opens than writes while the board was away: writes do not each look for it.
    EXPECT_EQ(Status(d.dir), (std::vector<std::string>{
                                 "configured: backend=ftdi, serial FT1BBB02, invert on",
                                 "not found: no FTDI device with serial FT1BBB02 (status 2)", "found: FT1BBB02",
                                 "lost: FT1BBB02, write failed", "back: FT1BBB02", "lost: FT1BBB02, write failed",
                                 "not found: no FTDI device with serial FT1BBB02 (status 2)", "back: FT1BBB02"}));
}

TEST(KorvPortDllFtdi, ByIndexTheLogNamesTheBoardsSerial) {
    UsbDriver d("backend=ftdi\nindex=1\n");
    ASSERT_TRUE(d.out);
    ASSERT_TRUE(CopyFixture("fake_ftd2xx.dll", d.dir / "ftd2xx.dll"));
    ASSERT_EQ(d.load(d.dir.path().c_str()), 1);
    d.out(0x378, 0x05);
    EXPECT_EQ(d.Calls(), (std::vector<std::string>{"FT_Open 1 -> 0", "FT_SetBitMode 1 FF 01", "FT_SetTimeouts 1 50 50",
                                                   "FT_GetDeviceInfo 1", "FT_Write 1 05 -> 0"}));
    d.unload();
    EXPECT_EQ(Status(d.dir),
              (std::vector<std::string>{"configured: backend=ftdi, device 1, invert off", "found: FT1BBB02"}));
}

// Without FTDI's driver the config is still valid: the status log says what is missing.
TEST(KorvPortDllFtdi, WithoutFtd2xxTheLibraryLoadsAndSaysWhy) {
    UsbDriver d("backend=ftdi\n");
    ASSERT_TRUE(d.out);
    ASSERT_EQ(d.load(d.dir.path().c_str()), 1);
    d.out(0x378, 0x05);
    d.unload();
    EXPECT_EQ(Status(d.dir), (std::vector<std::string>{"configured: backend=ftdi, first board found, invert off",
                                                       "not found: ftd2xx.dll (FTDI's D2XX driver) is not installed"}));
}

TEST(KorvPortDllUsb, ABadConfigRefusesTheLoadAndLogsEachErrorWithItsLine) {
    const struct {
        const char* config;
        std::vector<std::string> status;
    } cases[] = {
        {"backend=ftdi\nserial=FT 1\ninvert=maybe\n",
         {"config error: KorvPortDll.cfg line 2: bad serial \"FT 1\" for ftdi (1 to 15 letters and digits)",
          "config error: KorvPortDll.cfg line 3: invert takes on or off, got \"maybe\""}},
        {"backend=hidrelay\nindex=2\n",
         {"config error: KorvPortDll.cfg line 2: index applies to ftdi only; hidrelay boards are chosen by serial"}},
        {"backend=usbrelay\n",
         {"config error: KorvPortDll.cfg line 1: unknown backend \"usbrelay\" (hardware, journal, ftdi or hidrelay)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        UsbDriver d(c.config);
        ASSERT_TRUE(d.out);
        ASSERT_TRUE(CopyFixture("fake_ftd2xx.dll", d.dir / "ftd2xx.dll"));
        EXPECT_EQ(d.load(d.dir.path().c_str()), 0);
        d.out(0x378, 1);
        EXPECT_FALSE(Exists(d.dir / "ftdi.log"));
        EXPECT_EQ(Status(d.dir), c.status);
    }
}

// hid.dll and setupapi.dll are system libraries: the fixtures replace them only
// in a process of its own, started with Wine told to load them native-first.
TEST(KorvPortDllHidRelay, SwitchesOnlyChangedRelaysAndReopensTheBoard) {
    ScratchDir program;
    for (const auto& [fixture, name] : {std::pair{"usb_probe.exe", "usb_probe.exe"},
                                        {"KorvPortDll.dll", "KorvPortDll.dll"},
                                        {"fake_hid.dll", "hid.dll"},
                                        {"fake_setupapi.dll", "setupapi.dll"}})
        ASSERT_TRUE(CopyFixture(fixture, program / name)) << fixture;
    WriteText(program / "KorvPortDll.cfg", "backend=hidrelay\nserial=ABCDE\n");
    WriteText(program / "hiddev-0.dev", "046D C52B Mouse 00000");  // not a relay board
    WriteText(program / "hiddev-1.dev", "16C0 05DF USBRelay2 ZZZZZ");
    WriteText(program / "hiddev-2.dev", "16C0 05DF USBRelay4 ABCDE");

    std::string command = "\"";
    command += program / "usb_probe.exe";
    command +=
        "\" load out:05 out:05 out:14 state:hid.state=fail-set out:0C state:hid.state= until:0C "
        "state:hid.state=absent out:08 until:08 state:hid.state= until:08 unload";
    // Wine's per-program DLL overrides: native (the program folder's) first for these two.
    const char* const kOverrides = "Software\\Wine\\AppDefaults\\usb_probe.exe\\DllOverrides";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kOverrides, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    for (const char* dll : {"hid", "setupapi"})
        RegSetValueExA(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>("native"), 7);
    RegCloseKey(key);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const BOOL started =
        CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, program.path().c_str(), &si, &pi);
    ASSERT_TRUE(started);
    const DWORD waited = WaitForSingleObject(pi.hProcess, 60000);
    if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (waited != WAIT_OBJECT_0 || code != 0)  // what the probe got through, to tell where it stopped
        for (const char* name : {"probe.out", "hid.log", "KorvPortDll-status.log"})
            for (const auto& line : ReadLines(program / name)) std::printf("%s: %s\n", name, line.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, kOverrides);
    ASSERT_EQ(waited, WAIT_OBJECT_0);
    ASSERT_EQ(code, 0u);
    EXPECT_EQ(ReadLines(program / "probe.out"),
              (std::vector<std::string>{"load=1", "until:0C ok", "until:08 ok", "until:08 ok"}));

    // "+3" is relay 3 on, "-3" off; "!" marks a report the board failed.
    const auto set = [](const char* what) {
        std::string line = "SetFeature ABCDE 00 ";
        line += what[0] == '+' ? "FF 0" : "FD 0";
        line += what[1];
        line += " 00 00 00 00 00 00";
        if (what[2] == '!') line += " -> fail";
        return line;
    };
    const std::vector<std::string> find = {"SetupDiGetClassDevs 12 -> 3", "GetFeature ZZZZZ 01", "GetFeature ABCDE 01",
                                           "SetupDiDestroyDeviceInfoList"};
    std::vector<std::string> expected = find;
    // 05 sets all four; 05 again sends nothing; 14 changes relay 1 only (bit 4 is
    // beyond the board's four); 0C fails.
    for (const char* r : {"+1", "-2", "+3", "-4", "-1", "+4!"}) expected.push_back(set(r));
    expected.insert(expected.end(), find.begin(), find.end());
    // Back: every relay again; then 08 while unplugged.
    for (const char* r : {"-1", "-2", "+3", "+4", "-3!"}) expected.push_back(set(r));
    expected.push_back("SetupDiGetClassDevs 12 -> 0");
    expected.push_back("SetupDiDestroyDeviceInfoList");
    expected.insert(expected.end(), find.begin(), find.end());
    for (const char* r : {"-1", "-2", "-3", "+4"}) expected.push_back(set(r));
    EXPECT_EQ(ReadLines(program / "hid.log"), expected);
    EXPECT_EQ(
        Status(program),
        (std::vector<std::string>{
            "configured: backend=hidrelay, serial ABCDE, invert off", "found: ABCDE (4 relays)",
            "lost: ABCDE (4 relays), write failed", "back: ABCDE (4 relays)", "lost: ABCDE (4 relays), write failed",
            "not found: no USBRelay board with serial ABCDE (0 other boards present)", "back: ABCDE (4 relays)"}));
}
