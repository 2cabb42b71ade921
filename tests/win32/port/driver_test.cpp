// KorvPortDll.dll itself, loaded for real: its exports, the config file, the
// journal a demo watches, and the hardware route through inpout32.dll.

#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "support.h"
#include "win32/port_driver_abi.h"

using namespace porttest;
using kelvane::ProcAs;

namespace {

// The library copied into a scratch directory with the given config (none when null).
class Driver {
public:
    explicit Driver(const char* config) {
        if (!CopyFixture("KorvPortDll.dll", dir / "KorvPortDll.dll")) return;
        if (config) WriteText(dir / "KorvPortDll.cfg", config);
        module = LoadLibraryA((dir / "KorvPortDll.dll").c_str());
        if (!module) return;
        load = ProcAs<int(__stdcall*)(const char*)>(module, "LoadPortDriver");
        isLoaded = ProcAs<int(__stdcall*)()>(module, "IsPortDriverLoaded");
        unload = ProcAs<void(__stdcall*)()>(module, "UnloadPortDriver");
        outB = ProcAs<void(__stdcall*)(unsigned short, unsigned char)>(module, "DriverOutPB");
        outW = ProcAs<void(__stdcall*)(unsigned short, unsigned short)>(module, "DriverOutPW");
        outD = ProcAs<void(__stdcall*)(unsigned short, unsigned long)>(module, "DriverOutPD");
        inB = ProcAs<unsigned char(__stdcall*)(unsigned short)>(module, "DriverInPB");
        inW = ProcAs<unsigned short(__stdcall*)(unsigned short)>(module, "DriverInPW");
        inD = ProcAs<unsigned long(__stdcall*)(unsigned short)>(module, "DriverInPD");
        beep = ProcAs<void(__stdcall*)(unsigned long, unsigned long)>(module, "DriverBeep");
    }
    ~Driver() {
        if (module) FreeLibrary(module);
    }
    bool Ready() const { return load && isLoaded && unload && outB && outW && outD && inB && inW && inD && beep; }

    ScratchDir dir;
    HMODULE module = nullptr;
    int(__stdcall* load)(const char*) = nullptr;
    int(__stdcall* isLoaded)() = nullptr;
    void(__stdcall* unload)() = nullptr;
    void(__stdcall* outB)(unsigned short, unsigned char) = nullptr;
    void(__stdcall* outW)(unsigned short, unsigned short) = nullptr;
    void(__stdcall* outD)(unsigned short, unsigned long) = nullptr;
    unsigned char(__stdcall* inB)(unsigned short) = nullptr;
    unsigned short(__stdcall* inW)(unsigned short) = nullptr;
    unsigned long(__stdcall* inD)(unsigned short) = nullptr;
    void(__stdcall* beep)(unsigned long, unsigned long) = nullptr;
};

// The journal line without its time stamp, which is checked on its own.
std::string Untimed(const std::string& line) {
    const auto space = line.find(' ');
    return space == std::string::npos ? line : line.substr(space + 1);
}

std::vector<std::string> Untimed(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(Untimed(l));
    return out;
}

}  // namespace

TEST(KorvPortDll, ExportsTheTenEntryPointsByTheirPlainNames) {
    Driver d(nullptr);
    ASSERT_NE(d.module, nullptr);
    for (const char* name : kelvane::kPortDriverExportNames) EXPECT_NE(GetProcAddress(d.module, name), nullptr) << name;
}

TEST(KorvPortDllJournal, EveryCallIsOneParsableLineAsSoonAsItIsMade) {
    Driver d("backend=journal\njournal=port.log\n");
    ASSERT_TRUE(d.Ready());
    const std::string journal = d.dir / "port.log";
    ASSERT_EQ(d.load("C:\\Radio\\"), 1);

    // Each call is on disk before the next one: a reader tailing the file sees it at once.
    const struct {
        void (*call)(Driver&);
        const char* line;
    } steps[] = {
        {[](Driver& x) { EXPECT_EQ(x.isLoaded(), 1); }, "IsPortDriverLoaded - - loaded=1"},
        {[](Driver& x) { x.outB(0x378, 0xAB); }, "DriverOutPB 0x0378 0xAB"},
        {[](Driver& x) { x.outW(0x378, 0x1234); }, "DriverOutPW 0x0378 0x1234"},
        {[](Driver& x) { x.outD(0x3BC, 0xDEADBEEF); }, "DriverOutPD 0x03BC 0xDEADBEEF"},
        {[](Driver& x) { EXPECT_EQ(x.inB(0x379), 0xFF); }, "DriverInPB 0x0379 0xFF"},
        {[](Driver& x) { EXPECT_EQ(x.inW(0x379), 0xFFFF); }, "DriverInPW 0x0379 0xFFFF"},
        {[](Driver& x) { EXPECT_EQ(x.inD(0x379), 0xFFFFFFFFul); }, "DriverInPD 0x0379 0xFFFFFFFF"},
        {[](Driver& x) { x.beep(880, 150); }, "DriverBeep - - hz=880 ms=150"},
        {[](Driver& x) { x.unload(); }, "UnloadPortDriver - -"},
    };
    std::vector<std::string> expected = {"LoadPortDriver - - backend=journal dir=C:\\Radio\\"};
    EXPECT_EQ(Untimed(ReadLines(journal)), expected);
    for (const auto& s : steps) {
        s.call(d);
        expected.push_back(s.line);
        EXPECT_EQ(Untimed(ReadLines(journal)), expected);
    }

    // Unloaded, the library ignores calls and says so.
    d.outB(0x378, 1);
    EXPECT_EQ(d.isLoaded(), 0);
    EXPECT_EQ(d.inB(0x379), 0);
    const auto lines = ReadLines(journal);
    EXPECT_EQ(lines.size(), expected.size());

    const std::regex stamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3})");
    for (const auto& line : lines) {
        const auto f = Fields(line);
        ASSERT_GE(f.size(), 4u) << line;
        EXPECT_TRUE(std::regex_match(f[0], stamp)) << line;
        EXPECT_EQ(line.find('\r'), std::string::npos);
    }
}

TEST(KorvPortDllJournal, ALaterRunAppendsToTheSameJournal) {
    Driver d("backend=journal\n");
    ASSERT_TRUE(d.Ready());
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(d.load("C:\\Radio\\"), 1);
        d.outB(0x278, static_cast<unsigned char>(run));
        d.unload();
    }
    EXPECT_EQ(Untimed(ReadLines(d.dir / "KorvPortDll.log")),
              (std::vector<std::string>{"LoadPortDriver - - backend=journal dir=C:\\Radio\\", "DriverOutPB 0x0278 0x00",
                                        "UnloadPortDriver - -", "LoadPortDriver - - backend=journal dir=C:\\Radio\\",
                                        "DriverOutPB 0x0278 0x01", "UnloadPortDriver - -"}));
}

// The counter stamp is what lets a benchmark set port writes against the
// simulated host's "change" lines, so it must be QueryPerformanceCounter in
// microseconds, taken at the call, after the line's usual fields.
TEST(KorvPortDllJournal, QpcStampsAreMicrosecondsOfThePerformanceCounter) {
    const auto nowUs = [] {
        LARGE_INTEGER c, f;
        QueryPerformanceCounter(&c);
        QueryPerformanceFrequency(&f);
        const auto n = static_cast<unsigned long long>(c.QuadPart), hz = static_cast<unsigned long long>(f.QuadPart);
        return n / hz * 1000000ull + n % hz * 1000000ull / hz;
    };
    Driver d("backend=journal\nqpc=on\n");
    ASSERT_TRUE(d.Ready());
    const unsigned long long before = nowUs();
    ASSERT_EQ(d.load("C:\\Radio\\"), 1);
    d.outB(0x278, 0x08);
    Sleep(20);
    d.outB(0x278, 0x09);
    d.unload();
    const unsigned long long after = nowUs();

    const std::vector<std::string> expected = {"LoadPortDriver - - backend=journal dir=C:\\Radio\\",
                                               "DriverOutPB 0x0278 0x08", "DriverOutPB 0x0278 0x09",
                                               "UnloadPortDriver - -"};
    const auto lines = Untimed(ReadLines(d.dir / "KorvPortDll.log"));
    ASSERT_EQ(lines.size(), expected.size());
    const std::regex stamped(R"((.*) qpc=(\d+))");
    std::vector<unsigned long long> stamps;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, stamped)) << lines[i];
        EXPECT_EQ(m[1].str(), expected[i]);
        stamps.push_back(std::stoull(m[2].str()));
    }
    EXPECT_LE(before, stamps.front());
    EXPECT_LE(stamps.back(), after);
    for (std::size_t i = 1; i < stamps.size(); ++i) EXPECT_LE(stamps[i - 1], stamps[i]);
    // The sleep between the two writes shows in the stamps: microseconds, not ticks or milliseconds.
    EXPECT_GE(stamps[2] - stamps[1], 15000u);
    EXPECT_LT(stamps[2] - stamps[1], 2000000u);
}

// What the config says and what LoadPortDriver makes of it. Problems a journal
// can carry are written there; anything else refuses, so the program warns, and
// the status log names the line.
TEST(KorvPortDllConfig, GoodBadAndOddFiles) {
    ScratchDir other, program;
    ASSERT_TRUE(CopyFixture("fake_inpout32.dll", program / "inpout32.dll"));
    const std::string absoluteJournal = other / "abs.log";
    const struct {
        std::string config;
        int loaded;
        std::string journal;  // relative to the library's directory unless absolute; none for hardware
        std::vector<std::string> notes;
        std::vector<std::string> status = {};
    } cases[] = {
        {"backend=journal\n", 1, "KorvPortDll.log", {}},
        {"# demo\n\n  Backend = JOURNAL \r\n; comment\r\njournal = sub\\j.log\r\n", 1, "sub\\j.log", {}},
        {"backend=journal\njournal=" + absoluteJournal + "\n", 1, absoluteJournal, {}},
        {"backend=journal\ncolour=blue\nnonsense\njournal=\n\x01\xFF=\n",
         1,
         "KorvPortDll.log",
         {"config - - KorvPortDll.cfg line 2: unknown key \"colour\"",
          "config - - KorvPortDll.cfg line 3: expected key=value, got \"nonsense\"",
          "config - - KorvPortDll.cfg line 4: empty journal path, keeping \"KorvPortDll.log\"",
          "config - - KorvPortDll.cfg line 5: unknown key \"??\""}},
        {"backend=journal\n" + std::string(70000, '#') + "\n",
         1,
         "KorvPortDll.log",
         {"config - - KorvPortDll.cfg file longer than 65536 bytes; the rest was ignored"}},
        {"backend=journal\nqpc=maybe\n",
         1,
         "KorvPortDll.log",
         {"config - - KorvPortDll.cfg line 2: qpc takes on or off, got \"maybe\""}},
        {"backend=journal\n qpc = ON \nQPC=Off\n", 1, "KorvPortDll.log", {}},  // the last word counts
        {"backend=bogus\n",
         0,
         "",
         {},
         {"config error: KorvPortDll.cfg line 1: unknown backend \"bogus\" (hardware, journal, ftdi or hidrelay)"}},
        {"backend=journal\njournal=missing\\j.log\n", 0, "", {}},
        {"backend=journal\njournal=NUL\n", 0, "", {}},  // a device could block; only files are journals
        {"backend=hardware\ncolour=blue\n",
         0,
         "",
         {},
         {"config error: KorvPortDll.cfg line 2: unknown key \"colour\""}},
        {"invert=on\nbackend=hardware\nx\n",
         0,
         "",
         {},
         {"config error: KorvPortDll.cfg line 1: invert applies to the ftdi and hidrelay backends, not hardware",
          "config error: KorvPortDll.cfg line 3: expected key=value, got \"x\""}},
        {"", 1, "", {}},  // an empty file means hardware
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config.substr(0, 80));
        Driver d(c.config.c_str());
        ASSERT_TRUE(d.Ready());
        CreateDirectoryA((d.dir / "sub").c_str(), nullptr);
        EXPECT_EQ(d.load(program.path().c_str()), c.loaded);
        EXPECT_EQ(d.isLoaded(), c.loaded);
        d.unload();
        EXPECT_EQ(Untimed(ReadLines(d.dir / "KorvPortDll-status.log")), c.status);
        if (!c.loaded || c.journal.empty()) continue;
        const std::string journal = c.journal.find(':') != std::string::npos ? c.journal : d.dir / c.journal;
        auto lines = Untimed(ReadLines(journal));
        ASSERT_EQ(lines.size(), c.notes.size() + 3) << journal;  // notes, load, query, unload
        // No case here ends with the counter stamp switched on.
        for (const auto& line : lines) EXPECT_EQ(line.find(" qpc="), std::string::npos) << line;
        lines.resize(c.notes.size());
        EXPECT_EQ(lines, c.notes);
    }
}

// inpout32.dll from the directory the program names does the port access; it
// moves bytes only, so wider accesses become consecutive byte accesses.
TEST(KorvPortDllHardware, ForwardsEveryAccessToInpout32) {
    Driver d(nullptr);
    ASSERT_TRUE(d.Ready());
    ScratchDir program;
    ASSERT_TRUE(CopyFixture("fake_inpout32.dll", program / "inpout32.dll"));
    ASSERT_EQ(d.load(program.path().c_str()), 1);
    EXPECT_EQ(d.isLoaded(), 1);

    const struct {
        void (*call)(Driver&);
        std::vector<std::string> forwarded;
    } steps[] = {
        {[](Driver& x) { x.outB(0x378, 0xAB); }, {"Out32 0378 AB"}},
        {[](Driver& x) { x.outW(0x378, 0x1234); }, {"Out32 0378 34", "Out32 0379 12"}},
        {[](Driver& x) { x.outD(0x378, 0x11223344); },
         {"Out32 0378 44", "Out32 0379 33", "Out32 037A 22", "Out32 037B 11"}},
        {[](Driver& x) { EXPECT_EQ(x.inB(0x379), 0x79 ^ 0xA5); }, {"Inp32 0379"}},
        {[](Driver& x) { EXPECT_EQ(x.inW(0x379), ((0x7A ^ 0xA5) << 8) | (0x79 ^ 0xA5)); },
         {"Inp32 0379", "Inp32 037A"}},
        // Ports 03FE..0401 answer 5B 5A A5 A4, lowest byte first.
        {[](Driver& x) { EXPECT_EQ(x.inD(0x3FE), 0xA4A55A5Bul); },
         {"Inp32 03FE", "Inp32 03FF", "Inp32 0400", "Inp32 0401"}},
        // 1193182 / 1000 = 0x04A9; the speaker gate reads 0x61 ^ 0xA5 = 0xC4.
        {[](Driver& x) { x.beep(1000, 0); },
         {"Out32 0043 B6", "Out32 0042 A9", "Out32 0042 04", "Inp32 0061", "Out32 0061 C7", "Out32 0061 C4"}},
        {[](Driver& x) { x.beep(0, 0); }, {}},  // no tone the timer can make
    };
    std::vector<std::string> expected;
    for (const auto& s : steps) {
        s.call(d);
        expected.insert(expected.end(), s.forwarded.begin(), s.forwarded.end());
        EXPECT_EQ(ReadLines(program / "inpout.log"), expected);
    }

    d.unload();
    EXPECT_EQ(GetModuleHandleA((program / "inpout32.dll").c_str()), nullptr) << "inpout32.dll still loaded";
    d.outB(0x378, 0xAB);
    EXPECT_EQ(d.isLoaded(), 0);
    EXPECT_EQ(ReadLines(program / "inpout.log"), expected);
}

TEST(KorvPortDllHardware, Inpout32IsTakenOnlyFromTheProgramsDirectory) {
    ScratchDir program, empty;
    ASSERT_TRUE(CopyFixture("fake_inpout32.dll", program / "inpout32.dll"));
    std::string noSeparator = program.path();
    noSeparator.pop_back();
    const struct {
        const char* dir;
        int loaded;
    } cases[] = {
        {program.path().c_str(), 1}, {noSeparator.c_str(), 1}, {empty.path().c_str(), 0}, {"", 0}, {nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dir ? c.dir : "(null)");
        Driver d(nullptr);
        ASSERT_TRUE(d.Ready());
        // One beside the library itself must not count.
        ASSERT_TRUE(CopyFixture("fake_inpout32.dll", d.dir / "inpout32.dll"));
        EXPECT_EQ(d.load(c.dir), c.loaded);
        d.outB(0x378, 1);
        d.unload();
        EXPECT_FALSE(Exists(d.dir / "inpout.log"));
    }
}
