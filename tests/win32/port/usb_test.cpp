// The USB relay backends of the real KorvPortDll.dll, on fixture libraries
// that record every call and fail on demand: ftd2xx.dll beside the program,
// and hid.dll and setupapi.dll replacing the system's in the program's folder
// (Wine loads them native-first when told so).

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
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

template <class Done>
bool WaitFor(Done done) {
    for (int i = 0; i < 1000; ++i) {
        if (done()) return true;
        Sleep(10);
    }
    return done();
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
    // The library reaches the board from a thread of its own: these wait, boundedly,
    // for what it reports, never for its retry second.
    bool StatusReaches(std::size_t lines) const {
        return WaitFor([&] { return Status(dir).size() >= lines; });
    }
    bool LastCallIs(const std::string& call) const {
        return WaitFor([&] {
            const auto calls = Calls();
            return !calls.empty() && calls.back() == call;
        });
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

    // Absent at start: the library loads all the same, and the byte waits for the board.
    ASSERT_EQ(d.load(d.dir.path().c_str()), 1);
    d.out(0x378, 0x05);
    ASSERT_TRUE(d.StatusReaches(2));

    // Plugged in: found by itself with no further write, set up for bit-bang
    // with bounded timeouts, and the byte reaches D0-D7 (inverted, as configured).
    WriteText(d.dir / "ftdi.state", "");
    ASSERT_TRUE(d.LastCallIs("FT_Write 1 FA -> 0"));
    auto calls = d.Calls();
    const std::size_t absentTries = calls.size() - 4;
    for (std::size_t i = 0; i < absentTries; ++i) EXPECT_EQ(calls[i], "FT_OpenEx FT1BBB02 1 -> 2");
    EXPECT_EQ(Tail(calls, absentTries), (std::vector<std::string>{"FT_OpenEx FT1BBB02 1 -> 0", "FT_SetBitMode 1 FF 01",
                                                                  "FT_SetTimeouts 1 50 50", "FT_Write 1 FA -> 0"}));
    d.out(0x378, 0x80);
    ASSERT_TRUE(d.LastCallIs("FT_Write 1 7F -> 0"));

    // A write error closes the board, which is opened again by itself and gets the byte.
    WriteText(d.dir / "ftdi.state", "write-once");
    std::size_t mark = d.Calls().size();
    d.out(0x378, 0x01);
    ASSERT_TRUE(d.LastCallIs("FT_Write 1 FE -> 0"));
    EXPECT_EQ(Tail(d.Calls(), mark),
              (std::vector<std::string>{"FT_Write 1 FE -> 4", "FT_Close 1", "FT_OpenEx FT1BBB02 1 -> 0",
                                        "FT_SetBitMode 1 FF 01", "FT_SetTimeouts 1 50 50", "FT_Write 1 FE -> 0"}));

    // Unplugged mid-run, then plugged back: of the bytes written meanwhile, the latest arrives.
    WriteText(d.dir / "ftdi.state", "absent write-error");
    d.out(0x378, 0x04);
    ASSERT_TRUE(d.StatusReaches(7));  // lost, then the retry finds nothing and says so once
    d.out(0x378, 0x06);
    WriteText(d.dir / "ftdi.state", "");
    ASSERT_TRUE(d.LastCallIs("FT_Write 1 F9 -> 0"));
    calls = d.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "FT_Write 1 FB -> 0"), 0);

    mark = d.Calls().size();
    d.unload();
    ASSERT_TRUE(d.LastCallIs("FT_Close 1"));
    EXPECT_EQ(Tail(d.Calls(), mark), (std::vector<std::string>{"FT_Close 1"}));
    d.out(0x378, 0x04);
    EXPECT_EQ(d.Calls().size(), mark + 1);

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
    ASSERT_TRUE(d.LastCallIs("FT_Write 1 05 -> 0"));
    EXPECT_EQ(d.Calls(), (std::vector<std::string>{"FT_Open 1 -> 0", "FT_SetBitMode 1 FF 01", "FT_SetTimeouts 1 50 50",
                                                   "FT_GetDeviceInfo 1", "FT_Write 1 05 -> 0"}));
    d.unload();
    EXPECT_EQ(Status(d.dir),
              (std::vector<std::string>{"configured: backend=ftdi, device 1, invert off", "found: FT1BBB02"}));
}

// A board stuck in a call holds the library's worker, never the writer: the
// writes return while the fixture still holds the call, the log says so, and
// when the call comes back the board is closed, opened again and given the
// latest byte. The fixture lets go only when the test removes its word.
TEST(KorvPortDllFtdi, AStuckBoardNeverHoldsTheWriterAndRecoversWithTheLatestByte) {
    const std::vector<std::string> reopen = {"FT_OpenEx FT0AAA01 1 -> 0", "FT_SetBitMode 0 FF 01",
                                             "FT_SetTimeouts 0 50 50"};
    const struct {
        const char* hang;
        bool openFirst;
        const char* held;
        std::vector<std::string> after, status;
    } cases[] = {
        {"hang-write",
         true,
         "FT_Write 0 01 hanging",
         {"FT_Write 0 01 -> 0", "FT_Close 0"},
         {"found: FT0AAA01", "not answering: FT0AAA01, a write took over 250 ms", "back: FT0AAA01"}},
        {"hang-open",
         false,
         "FT_OpenEx FT0AAA01 hanging",
         {"FT_OpenEx FT0AAA01 1 -> 0", "FT_SetBitMode 0 FF 01", "FT_SetTimeouts 0 50 50", "FT_Write 0 01 -> 0",
          "FT_Close 0"},
         {"not answering: the search for the board took over 250 ms", "found: FT0AAA01", "back: FT0AAA01"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hang);
        UsbDriver d("backend=ftdi\nserial=FT0AAA01\n");
        ASSERT_TRUE(d.out);
        ASSERT_TRUE(CopyFixture("fake_ftd2xx.dll", d.dir / "ftd2xx.dll"));
        ASSERT_EQ(d.load(d.dir.path().c_str()), 1);
        if (c.openFirst) {
            d.out(0x378, 0x00);
            ASSERT_TRUE(d.LastCallIs("FT_Write 0 00 -> 0"));
        }
        WriteText(d.dir / "ftdi.state", c.hang);
        d.out(0x378, 0x01);
        ASSERT_TRUE(d.LastCallIs(c.held));
        const std::size_t held = d.Calls().size();
        d.out(0x378, 0x02);
        d.out(0x378, 0x03);
        ASSERT_TRUE(WaitFor([&] { return Status(d.dir).back().rfind("not answering: ", 0) == 0; }));
        // Still held: every write above returned while the call was in the fixture.
        EXPECT_EQ(d.Calls().size(), held);
        EXPECT_EQ(d.Calls().back(), c.held);

        WriteText(d.dir / "ftdi.state", "");
        ASSERT_TRUE(d.LastCallIs("FT_Write 0 03 -> 0"));
        auto expected = c.after;
        expected.insert(expected.end(), reopen.begin(), reopen.end());
        expected.push_back("FT_Write 0 03 -> 0");
        EXPECT_EQ(Tail(d.Calls(), held), expected);  // 02 never reached the board: the latest won
        d.unload();
        const auto status = Status(d.dir);
        EXPECT_EQ(Tail(status, 1), c.status);
    }
}

// Unloading does not wait for ever on a stuck board, and the worker keeps its
// own hold on the library, so freeing it leaves the code the worker runs mapped
// until the call comes back and the worker has closed the board.
TEST(KorvPortDllFtdi, UnloadLeavesAStuckWorkerTheLibraryUntilItFinishes) {
    auto d = std::make_unique<UsbDriver>("backend=ftdi\nserial=FT0AAA01\n");
    ASSERT_TRUE(d->out);
    ASSERT_TRUE(CopyFixture("fake_ftd2xx.dll", d->dir / "ftd2xx.dll"));
    ASSERT_EQ(d->load(d->dir.path().c_str()), 1);
    d->out(0x378, 0x00);
    ASSERT_TRUE(d->LastCallIs("FT_Write 0 00 -> 0"));
    WriteText(d->dir / "ftdi.state", "hang-write");
    d->out(0x378, 0x01);
    ASSERT_TRUE(d->LastCallIs("FT_Write 0 01 hanging"));

    const std::string path = d->dir / "KorvPortDll.dll";
    d->unload();
    FreeLibrary(d->module);
    d->module = nullptr;
    EXPECT_EQ(d->Calls().back(), "FT_Write 0 01 hanging");
    EXPECT_NE(GetModuleHandleA(path.c_str()), nullptr);

    WriteText(d->dir / "ftdi.state", "");
    ASSERT_TRUE(d->LastCallIs("FT_Close 0"));
    EXPECT_EQ(Tail(d->Calls(), d->Calls().size() - 2), (std::vector<std::string>{"FT_Write 0 01 -> 0", "FT_Close 0"}));
    EXPECT_TRUE(WaitFor([&] { return GetModuleHandleA(path.c_str()) == nullptr; }));
}

// Without FTDI's driver the config is still valid: the status log says what is missing.
TEST(KorvPortDllFtdi, WithoutFtd2xxTheLibraryLoadsAndSaysWhy) {
    UsbDriver d("backend=ftdi\n");
    ASSERT_TRUE(d.out);
    ASSERT_EQ(d.load(d.dir.path().c_str()), 1);
    d.out(0x378, 0x05);
    ASSERT_TRUE(d.StatusReaches(2));
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

    // The listing first hangs (the board is looked for while the writes go on),
    // then a report fails once, then the board is unplugged and plugged back;
    // each step waits, boundedly, for the last line it should produce.
    const auto report = [](const char* what) {  // "+3" relay 3 on, "-3" off; the last line's words
        return std::string(what[0] == '+' ? "FF_0" : "FD_0") + what[1] + "_00_00_00_00_00_00";
    };
    std::string command = "\"";
    command += program / "usb_probe.exe";
    command +=
        "\" load state:hid.state=hang-list out:05 wait:hid.log=SetupDiGetClassDevs_hanging out:01 out:0D "
        "wait:KorvPortDll-status.log=took_over_250_ms state:hid.state= wait:hid.log=" +
        report("+4") + " out:05 wait:hid.log=" + report("-4") + " out:05 out:14 wait:hid.log=" + report("-1") +
        " state:hid.state=fail-once out:0C wait:hid.log=" + report("+4") +
        " state:hid.state=absent out:08 wait:KorvPortDll-status.log=present) state:hid.state= wait:hid.log=" +
        report("+4") + " unload";
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
    EXPECT_EQ(ReadLines(program / "probe.out"), (std::vector<std::string>{"load=1"}));

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
    std::vector<std::string> expected = {"SetupDiGetClassDevs hanging"};
    const auto add = [&](std::initializer_list<const char*> reports) {
        for (const char* r : reports) expected.push_back(set(r));
    };
    // 05, taken before the listing hung, sets all four; the board that hung is
    // closed and found again, and gets 0D, the latest.
    expected.insert(expected.end(), find.begin(), find.end());
    add({"+1", "-2", "+3", "-4"});
    expected.insert(expected.end(), find.begin(), find.end());
    add({"+1", "-2", "+3", "+4"});
    // 05 changes relay 4 only; 05 again sends nothing; 14 changes relay 1 only
    // (bit 4 is beyond the board's four); 0C fails once, and the board, found
    // again, gets every relay.
    add({"-4", "-1", "+4!"});
    expected.insert(expected.end(), find.begin(), find.end());
    add({"-1", "-2", "+3", "+4"});
    // 08 while unplugged; the board is looked for (once or more) until it is back.
    add({"-3!"});
    expected.push_back("SetupDiGetClassDevs 12 -> 0");
    expected.push_back("SetupDiDestroyDeviceInfoList");
    expected.insert(expected.end(), find.begin(), find.end());
    add({"-1", "-2", "-3", "+4"});
    auto log = ReadLines(program / "hid.log");
    for (std::size_t i = 2; i + 1 < log.size();)  // the repeated looks while unplugged, as one
        if (log[i] == "SetupDiGetClassDevs 12 -> 0" && log[i - 2] == log[i] && log[i + 1] == log[i - 1])
            log.erase(log.begin() + static_cast<long>(i), log.begin() + static_cast<long>(i) + 2);
        else
            ++i;
    EXPECT_EQ(log, expected);
    EXPECT_EQ(
        Status(program),
        (std::vector<std::string>{"configured: backend=hidrelay, serial ABCDE, invert off",
                                  "not answering: the search for the board took over 250 ms", "found: ABCDE (4 relays)",
                                  "back: ABCDE (4 relays)", "lost: ABCDE (4 relays), write failed",
                                  "back: ABCDE (4 relays)", "lost: ABCDE (4 relays), write failed",
                                  "not found: no USBRelay board with serial ABCDE (0 other boards present)",
                                  "back: ABCDE (4 relays)"}));
}
