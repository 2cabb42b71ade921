// Each device binding through a fake of its library: the calls and bytes that
// reach the library when absent, written, lost, reopened and released; and the
// log lines the channel makes of the hold's reports.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <set>

#include "service/platform/linux/devices/ftdi.h"
#include "service/platform/linux/devices/gpio.h"
#include "service/platform/linux/devices/hidrelay.h"
#include "service/platform/linux/devices/parport.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

struct Calls {
    std::vector<std::string> log;
    std::set<std::string> failing;  // call names that fail while listed
    bool Record(const std::string& name, const std::string& detail = "") {
        log.push_back(detail.empty() ? name : name + " " + detail);
        return failing.count(name) == 0;
    }
};

std::string Hex(unsigned v) {
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v);
    return b;
}
std::string UsbId(unsigned vendor, unsigned product) {
    char b[16];
    std::snprintf(b, sizeof b, "%04x:%04x", vendor, product);
    return b;
}

class FakePpdev final : public PpdevApi {
public:
    explicit FakePpdev(Calls& c) : m_c(c) {}
    int Open(const char* path, int) override {
        errno = ENOENT;
        return m_c.Record("open", path) ? 7 : -1;
    }
    int Ioctl(int, unsigned long request, void* arg) override {
        errno = EIO;
        if (request == PPWDATA) return m_c.Record("PPWDATA", Hex(*static_cast<unsigned char*>(arg))) ? 0 : -1;
        return m_c.Record(request == PPCLAIM ? "PPCLAIM" : request == PPRELEASE ? "PPRELEASE" : "ioctl?") ? 0 : -1;
    }
    int Close(int) override { return m_c.Record("close") ? 0 : -1; }

private:
    Calls& m_c;
};

class FakeGpiod final : public GpiodApi {
public:
    explicit FakeGpiod(Calls& c) : m_c(c) {}
    gpiod_chip* ChipOpenLookup(const char* descr) override {
        errno = ENOENT;
        return m_c.Record("chip_open_lookup", descr) ? reinterpret_cast<gpiod_chip*>(&m_tag) : nullptr;
    }
    int ChipGetLines(gpiod_chip*, unsigned* offsets, unsigned count, gpiod_line_bulk* bulk) override {
        std::string list;
        for (unsigned i = 0; i < count; ++i) list += (i ? "," : "") + std::to_string(offsets[i]);
        bulk->num_lines = count;
        return m_c.Record("get_lines", list) ? 0 : -1;
    }
    int LineRequestBulkOutput(gpiod_line_bulk* bulk, const char*, const int* values) override {
        return m_c.Record("request_output", Bits(bulk, values)) ? 0 : -1;
    }
    int LineSetValueBulk(gpiod_line_bulk* bulk, const int* values) override {
        return m_c.Record("set_values", Bits(bulk, values)) ? 0 : -1;
    }
    void LineReleaseBulk(gpiod_line_bulk*) override { m_c.Record("release"); }
    void ChipClose(gpiod_chip*) override { m_c.Record("chip_close"); }

private:
    static std::string Bits(const gpiod_line_bulk* bulk, const int* values) {
        std::string s;
        for (unsigned i = 0; i < bulk->num_lines; ++i) s += values[i] ? '1' : '0';
        return s;
    }
    Calls& m_c;
    int m_tag = 0;
};

class FakeFtdi final : public FtdiApi {
public:
    explicit FakeFtdi(Calls& c) : m_c(c) {}
    ftdi_context* New() override { return m_c.Record("new") ? &m_ctx : nullptr; }
    void Free(ftdi_context*) override { m_c.Record("free"); }
    int UsbOpenDesc(ftdi_context*, int vendor, int product, const char* serial) override {
        return m_c.Record("open", UsbId(static_cast<unsigned>(vendor), static_cast<unsigned>(product)) + " " + serial)
                   ? 0
                   : -3;
    }
    int UsbOpenDescIndex(ftdi_context*, int, int, unsigned index) override {
        return m_c.Record("open", "#" + std::to_string(index)) ? 0 : -3;
    }
    int SetBitmode(ftdi_context* ctx, unsigned char mask, unsigned char mode) override {
        // The USB timeouts bound a write to a lost board.
        return m_c.Record("bitmode", Hex(mask) + " " + Hex(mode) + " timeout " + std::to_string(ctx->usb_write_timeout))
                   ? 0
                   : -1;
    }
    int WriteData(ftdi_context*, const unsigned char* buf, int size) override {
        return m_c.Record("write", Hex(buf[0])) ? size : -666;
    }
    int UsbClose(ftdi_context*) override { return m_c.Record("usb_close") ? 0 : -1; }
    std::string ErrorString(ftdi_context*) override { return "device unavailable"; }

private:
    Calls& m_c;
    ftdi_context m_ctx{};
};

class FakeHid final : public HidApi {
public:
    explicit FakeHid(Calls& c) : m_c(c) {}
    std::vector<DeviceInfo> Enumerate(unsigned short vendor, unsigned short product) override {
        if (!m_c.Record("enumerate", UsbId(vendor, product))) return {};
        return {{"/dev/hidraw0", "Keyboard"}, {"/dev/hidraw2", "USBRelay8"}, {"/dev/hidraw1", "USBRelay2"}};
    }
    hid_device* OpenPath(const char* path) override {
        m_path = path;
        return m_c.Record("open", path) ? reinterpret_cast<hid_device*>(&m_tag) : nullptr;
    }
    int GetFeatureReport(hid_device*, unsigned char* data, std::size_t) override {
        if (!m_c.Record("get_feature", Hex(data[0]))) return -1;
        const char* serial = m_path == "/dev/hidraw1" ? "QWERT" : "ZZZZZ";
        for (int i = 0; i < 5; ++i) data[i] = static_cast<unsigned char>(serial[i]);
        data[7] = 0;
        return 8;
    }
    int SendFeatureReport(hid_device*, const unsigned char* data, std::size_t length) override {
        return m_c.Record("report", Hex(data[1]) + " " + Hex(data[2])) ? static_cast<int>(length) : -1;
    }
    void Close(hid_device*) override { m_c.Record("close"); }

private:
    Calls& m_c;
    std::string m_path;
    int m_tag = 0;
};

struct DeviceCase {
    const char* spec;
    const char* absentCall;  // fails while the device is absent
    const char* writeCall;   // fails when the device is lost
    std::vector<std::string> opened, first, second, lost, reopened, atExit;
};

TEST(OutputDevices, RightCallsAbsentLostReopenedReleased) {
    const std::vector<std::string> hidOpen = {"enumerate 16c0:05df", "open /dev/hidraw2", "get_feature 0x01",
                                              "open /dev/hidraw1",   "get_feature 0x01",  "close"};
    auto hidReopen = hidOpen;
    hidReopen.insert(hidReopen.end(), {"report 0xFF 0x01", "report 0xFF 0x02"});
    const DeviceCase cases[] = {
        {"parport:/dev/parport0",
         "open",
         "PPWDATA",
         {"open /dev/parport0", "PPCLAIM"},
         {"PPWDATA 0x05"},
         {"PPWDATA 0x0A"},
         {"PPWDATA 0x03", "PPRELEASE", "close"},
         {"open /dev/parport0", "PPCLAIM", "PPWDATA 0x03"},
         {"PPRELEASE", "close"}},
        {"parport:/dev/parport1,invert",
         "PPCLAIM",
         "PPWDATA",
         {"open /dev/parport1", "PPCLAIM"},
         {"PPWDATA 0xFA"},
         {"PPWDATA 0xF5"},
         {"PPWDATA 0xFC", "PPRELEASE", "close"},
         {"open /dev/parport1", "PPCLAIM", "PPWDATA 0xFC"},
         {"PPRELEASE", "close"}},
        {"gpio:gpiochip0:4,5,6,7,8,9,10,11",
         "chip_open_lookup",
         "set_values",
         {"chip_open_lookup gpiochip0", "get_lines 4,5,6,7,8,9,10,11"},
         {"request_output 10100000"},
         {"set_values 01010000"},
         {"set_values 11000000", "release", "chip_close"},
         {"chip_open_lookup gpiochip0", "get_lines 4,5,6,7,8,9,10,11", "request_output 11000000"},
         {"release", "chip_close"}},
        {"gpio:1:17,27,22,invert",
         "get_lines",
         "set_values",
         {"chip_open_lookup 1", "get_lines 17,27,22"},
         {"request_output 010"},
         {"set_values 101"},
         {"set_values 001", "release", "chip_close"},
         {"chip_open_lookup 1", "get_lines 17,27,22", "request_output 001"},
         {"release", "chip_close"}},
        {"ftdi:#1",
         "open",
         "write",
         {"new", "open #1"},
         {"bitmode 0xFF 0x01 timeout 200", "write 0x05"},
         {"write 0x0A"},
         {"write 0x03", "usb_close", "free"},
         {"new", "open #1", "bitmode 0xFF 0x01 timeout 200", "write 0x03"},
         {"usb_close", "free"}},
        {"ftdi:A9XY12,invert",
         "open",
         "write",
         {"new", "open 0403:6001 A9XY12"},
         {"bitmode 0xFF 0x01 timeout 200", "write 0xFA"},
         {"write 0xF5"},
         {"write 0xFC", "usb_close", "free"},
         {"new", "open 0403:6001 A9XY12", "bitmode 0xFF 0x01 timeout 200", "write 0xFC"},
         {"usb_close", "free"}},
        // USBRelay2: bit 0 is relay 1, bit 1 relay 2; every relay after an open, then only changes.
        {"hidrelay:QWERT",
         "enumerate",
         "report",
         hidOpen,
         {"report 0xFF 0x01", "report 0xFD 0x02"},
         {"report 0xFD 0x01", "report 0xFF 0x02"},
         {"report 0xFF 0x01", "close"},
         hidReopen,
         {"close"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spec);
        OutputSpec spec;
        std::string why;
        ASSERT_TRUE(ParseOutputSpec(c.spec, spec, why)) << why;
        Calls calls;
        FakePpdev ppdev(calls);
        FakeGpiod gpiod(calls);
        FakeFtdi ftdi(calls);
        FakeHid hid(calls);
        const auto device = MakeOutputDevice(spec, {&ppdev, &gpiod, &ftdi, &hid});
        std::vector<std::string> expected;
        auto expect = [&](const std::vector<std::string>& more, const char* when) {
            expected.insert(expected.end(), more.begin(), more.end());
            EXPECT_EQ(calls.log, expected) << when;
        };
        calls.failing = {c.absentCall};
        EXPECT_FALSE(device->Open(why));
        EXPECT_FALSE(why.empty());
        calls.failing.clear();
        expected = calls.log;
        ASSERT_TRUE(device->Open(why));
        expect(c.opened, "opened");
        EXPECT_TRUE(device->Write({0x05, 0, "a"}, why));
        expect(c.first, "first write");
        EXPECT_TRUE(device->Write({0x0A, 1, "b"}, why));
        expect(c.second, "second write");
        calls.failing = {c.writeCall};
        why.clear();
        EXPECT_FALSE(device->Write({0x03, 2, "c"}, why));
        EXPECT_FALSE(why.empty());
        device->Close();
        expect(c.lost, "lost");
        calls.failing.clear();
        ASSERT_TRUE(device->Open(why));
        EXPECT_TRUE(device->Write({0x03, 2, "c"}, why));
        expect(c.reopened, "reopened");
        device->Close();
        expect(c.atExit, "closed");
    }
}

// The hold's reports as log lines: one per change, none for a device there from the start.
TEST(OutputChannel, LogsAbsenceLossAndReturnOnce) {
    const struct {
        bool presentAtStart;
        std::vector<std::string> parts;  // what each line says, in order
    } cases[] = {
        {true,
         {"wrote byte=0x05 antenna=1 a to relay", "output relay lost (", "output relay is back",
          "wrote byte=0x0A antenna=2 b to relay"}},
        {false,
         {"output relay is not available (", "output relay is back", "wrote byte=0x05 antenna=1 a to relay",
          "output relay lost (", "output relay is back", "wrote byte=0x0A antenna=2 b to relay"}},
    };
    for (const auto& c : cases) {
        std::vector<OutputEvent> writes;
        bool present = c.presentAtStart;
        LogLines logs;
        logs.log.verbose = true;
        OutputChannel channel(std::make_unique<Recorder>(writes, &present), "relay", logs.log, 0ms);
        channel.Service();  // still absent: not logged again
        present = true;
        channel.Set({0x05, 0, "a"});
        present = false;
        channel.Set({0x0A, 1, "b"});
        channel.Service();
        EXPECT_EQ(channel.LastWritten(), (OutputEvent{0x05, 0, "a"}));
        present = true;
        channel.Service();
        EXPECT_EQ(channel.LastWritten(), channel.Wanted());
        ASSERT_EQ(logs.lines.size(), c.parts.size()) << testing::PrintToString(logs.lines);
        for (std::size_t i = 0; i < c.parts.size(); ++i)
            EXPECT_EQ(logs.lines[i].rfind(c.parts[i], 0), 0u) << logs.lines[i];
    }
}

// A FIFO would make the poll wait for a reader, or for room in the pipe.
TEST(OutputDevices, AJournalRefusesAFifo) {
    const std::string fifo = ::testing::TempDir() + "kelvane-fifo-" + std::to_string(::getpid());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const auto journal = MakeJournal(fifo, false);
    std::string why;
    EXPECT_FALSE(journal->Open(why));
    EXPECT_NE(why.find("not a regular file or a terminal"), std::string::npos) << why;
    ::close(reader);
    EXPECT_FALSE(journal->Open(why));  // without a reader: refused too, and at once
    std::remove(fifo.c_str());
}

TEST(OutputSpec, Refusals) {
    for (const char* bad :
         {"parport", "parport:", "gpio:gpiochip0", "gpio:gpiochip0:", "gpio:gpiochip0:1,,2", "gpio:gpiochip0:1,2,1",
          "gpio:c:0,1,2,3,4,5,6,7,8", "gpio::1", "ftdi:#", "ftdi:#x", "hidrelay", "usb:1", "gpio:c:1,"}) {
        OutputSpec spec;
        std::string error;
        EXPECT_FALSE(ParseOutputSpec(bad, spec, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace kelvane::svc::test
