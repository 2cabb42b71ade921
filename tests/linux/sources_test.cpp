// The sources through the loop: RadioInfo datagrams on loopback with an
// injected clock, and the config file under the command line.
#include <gtest/gtest.h>
#include <linux/sock_diag.h>
#include <poll.h>

#include <iostream>

#include "service/config/cli.h"
#include "service/station/poll_loop.h"
#include "service/station/switchboard.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

std::string RadioInfo(int radio, int freq, const std::string& more = "") {
    return "<?xml version=\"1.0\"?><RadioInfo><RadioNr>" + std::to_string(radio) + "</RadioNr><Freq>" +
           std::to_string(freq) + "</Freq>" + more + "</RadioInfo>";
}

TEST(UdpSource, BandsSplitRadioTransmitHoldAndSilence) {
    LogLines logs;
    std::vector<OutputEvent> writes;
    std::chrono::steady_clock::time_point now{};
    SourceSpec spec;
    spec.kind = SourceSpec::kUdp;
    spec.udp = UdpSpec{"127.0.0.1", FreeUdpPort(), 2};
    std::string why;
    const auto source = MakeSource(spec, logs.log, why, [&] { return now; });
    ASSERT_TRUE(source) << why;
    OutputChannel output(std::make_unique<Recorder>(writes), "recorder", logs.log);
    PollLoop loop(*source, output, logs.log, Interlock::kAuto, DemoStation());
    Loopback sender;
    const auto tx = [](bool on) {
        return std::string("<IsTransmitting>") + (on ? "True" : "false") + "</IsTransmitting>";
    };
    struct Step {
        int at;                // seconds on the injected clock
        std::string datagram;  // empty: none
        int antenna;           // the last written after the step (1-10; 0: none yet)
        const char* logged;    // a line that must now be in the log, or ""
    } steps[] = {
        {30, "", 0, "no RadioInfo for radio 2"},  // silent from the start
        {30, RadioInfo(2, 710000, tx(false)), 3, "RadioInfo for radio 2 arrives"},
        {31, RadioInfo(2, 1420000), 5, "do not say whether it transmits"},
        {32, RadioInfo(1, 2120000), 5, ""},                             // another radio
        {33, "<RadioInfo><Freq>1e9</Freq></RadioInfo>", 5, "refused"},  // no change
        {34, RadioInfo(2, 2120000, tx(false)), 7, "reports its transmit state"},
        // Split across the upper edge of 20 m: the transmit frequency decides.
        {35, RadioInfo(2, 1435100, "<TXFreq>1434900</TXFreq>"), 5, ""},
        {36, RadioInfo(2, 710000, tx(false)), 3, ""},
        {37, RadioInfo(2, 1434900, "<TXFreq>1435100</TXFreq>"), 3, ""},
        // Keyed by the logger: the change waits for receive.
        {38, RadioInfo(2, 2120000, tx(true)), 3, ""},
        {39, RadioInfo(2, 2850000, tx(true)), 3, "waits for receive"},
        {40, "", 3, ""},
        {41, RadioInfo(2, 2850000, tx(false)), 9, "the held change to antenna 9"},
        {50, RadioInfo(1, 710000), 9, ""},
        {70, "", 9, ""},
        {71, "", 9, "no RadioInfo for radio 2 on 127.0.0.1:"},
        {72, RadioInfo(2, 710000), 3, "arrives again"},
        {101, "", 3, ""},
        {102, "", 3, ""},  // lost again after it came back
    };
    for (const auto& s : steps) {
        now = std::chrono::steady_clock::time_point{} + std::chrono::seconds(s.at);
        if (!s.datagram.empty()) {
            sender.Send(spec.udp.port, s.datagram);
            pollfd p{source->Fd(), POLLIN, 0};
            ASSERT_EQ(::poll(&p, 1, 5000), 1) << "at " << s.at;
        }
        loop.PollOnce();
        EXPECT_EQ(writes.empty() ? 0 : writes.back().antenna + 1, s.antenna) << "at " << s.at;
        EXPECT_TRUE(logs.Has(s.logged)) << "at " << s.at << ": " << s.logged;
    }
    EXPECT_TRUE(logs.Has("(1 for other radios)"));
    EXPECT_EQ(std::count_if(logs.lines.begin(), logs.lines.end(),
                            [](const std::string& l) { return l.find("no RadioInfo") != std::string::npos; }),
              3)
        << "lost once per silence, not at every round";
    if (::testing::Test::HasFailure())
        for (const auto& line : logs.lines) std::cerr << "log: " << line << "\n";
}

// The bytes a socket holds unread: every datagram of a burst has arrived once they stop growing by one's.
std::uint32_t Queued(int fd) {
    std::uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    ::getsockopt(fd, SOL_SOCKET, SO_MEMINFO, memory, &length);
    return memory[SK_MEMINFO_RMEM_ALLOC];
}

// A burst of 50 datagrams over three bands, read at once: only the newest is
// applied (one write, its band's), and from a sender outside from= none is.
TEST(UdpSource, ABurstIsOneWriteAndSendersOutsideFromChangeNothing) {
    const struct {
        const char* from;
        bool admitted;
    } cases[] = {{"", true},
                 {",from=127.0.0.1", true},
                 {",radio=1,from=10.0.0.0/8,127.0.0.0/24", true},
                 {",from=0.0.0.0/0,radio=1", true},
                 {",from=127.0.0.2/31", false},
                 {",from=::1,from=192.0.2.1", false}};
    for (const auto& c : cases) {
        LogLines logs;
        std::vector<OutputEvent> writes;
        SourceSpec spec;
        std::string why;
        ASSERT_TRUE(ParseSourceSpec("udp:127.0.0.1:" + std::to_string(FreeUdpPort()) + c.from, spec, why)) << why;
        const auto source = MakeSource(spec, logs.log, why);
        ASSERT_TRUE(source) << why;
        OutputChannel output(std::make_unique<Recorder>(writes), "recorder", logs.log);
        PollLoop loop(*source, output, logs.log, Interlock::kAuto, DemoStation());
        Loopback sender;
        std::uint32_t one = 0;
        for (int i = 0; i < 50; ++i) {
            sender.Send(spec.udp.port, RadioInfo(1, i == 49 ? 2120000 : i % 2 ? 710000 : 1420000));
            if (i == 0) {
                ASSERT_TRUE(Eventually([&] { return (one = Queued(source->Fd())) > 0; })) << c.from;
            }
        }
        ASSERT_TRUE(Eventually([&] { return Queued(source->Fd()) == 50 * one; })) << c.from;
        loop.PollOnce();
        EXPECT_EQ(writes.size(), c.admitted ? 1u : 0u) << c.from;
        EXPECT_EQ(writes.empty() ? 0 : writes[0].antenna + 1, c.admitted ? 7 : 0) << c.from;
        EXPECT_EQ(logs.Has("dropped 50 datagrams from senders outside from="), !c.admitted) << c.from;
    }
}

// Two radios of one logger on one port, sharing antennas: each loop takes an
// antenna only at its own receive reading, and no sooner than the relays of the
// radio that left it have opened; a blocked radio sets its inhibit line and
// says who blocks it, and a pick of the other's antenna is refused.
TEST(UdpSource, TwoRadiosOnOnePortShareTheAntennas) {
    LogLines logs;
    const std::uint16_t port = FreeUdpPort();
    Alternates alternates;
    alternates[4] = {6};  // 20 m: antenna 5, then 7
    std::chrono::steady_clock::time_point now{};
    Switchboard board({"A", "B"}, alternates, [&] { return now; });
    std::vector<OutputEvent> writes[2];
    std::unique_ptr<Source> sources[2];
    std::unique_ptr<OutputChannel> outputs[2];
    std::unique_ptr<PollLoop> loops[2];
    for (std::size_t i = 0; i < 2; ++i) {
        SourceSpec spec;
        spec.kind = SourceSpec::kUdp;
        spec.udp = UdpSpec{"127.0.0.1", port, static_cast<int>(i) + 1};
        std::string why;
        sources[i] = MakeSource(spec, logs.log, why);
        ASSERT_TRUE(sources[i]) << why;
        outputs[i] = std::make_unique<OutputChannel>(std::make_unique<Recorder>(writes[i]), "recorder", logs.log);
        loops[i] = std::make_unique<PollLoop>(*sources[i], *outputs[i], logs.log, Interlock::kAuto, DemoStation(),
                                              Seat{&board, i, i == 1 ? std::optional<int>(8) : std::nullopt});
    }
    ASSERT_EQ(sources[0]->Fd(), sources[1]->Fd()) << "one socket for the port";
    Loopback sender;
    struct Step {
        int radio;  // the datagram's RadioNr; 0: a hand pick of `freq` on B; -1: a poll alone
        int freq;   // tens of Hz, or the antenna picked
        bool tx;
        int a, b;  // the bytes last written; -1: none yet
    } steps[] = {
        {1, 1420000, false, 5, -1},  {2, 1420000, false, 5, 7},  // 20 m taken: B gets the alternate
        {2, 1420000, true, 5, 7},    {1, 710000, false, 3, 7},   // A leaves while B transmits: B stays
        {1, 2120000, false, 0, 7},                               // 15 m's antenna is the one B transmits on: A has none
        {1, 1420000, false, 5, 7},                               // and B still holds 7 until its receive: A gets 5 back
        {2, 1420000, false, 5, 7},                               // B's receive: 5 is A's, 7 stays
        {1, 710000, false, 3, 7},     // A leaves: B, in receive, waits for the relays to open
        {-1, 0, false, 3, 5},         // and moves at its next poll
        {2, 710000, false, 3, 0x80},  // 40 m has one antenna, A's: B blocked, inhibit line 8
        {0, 3, false, 3, 0x80},       // picking A's antenna is refused
        {0, 2, false, 3, 2},
    };
    for (const auto& s : steps) {
        now += Switchboard::kBreakBeforeMake;
        if (s.radio == 0) {
            EXPECT_EQ(loops[1]->Pick(s.freq - 1), s.freq == 3 ? Picked::kTaken : Picked::kMade);
        } else if (s.radio > 0) {
            sender.Send(port,
                        RadioInfo(s.radio, s.freq,
                                  std::string("<IsTransmitting>") + (s.tx ? "true" : "false") + "</IsTransmitting>"));
            pollfd p{sources[0]->Fd(), POLLIN, 0};
            ASSERT_EQ(::poll(&p, 1, 5000), 1);
        }
        for (auto& loop : loops) loop->PollOnce();
        EXPECT_EQ(writes[0].empty() ? -1 : writes[0].back().byte, s.a) << "radio " << s.radio << " at " << s.freq;
        EXPECT_EQ(writes[1].empty() ? -1 : writes[1].back().byte, s.b) << "radio " << s.radio << " at " << s.freq;
        EXPECT_EQ(loops[1]->State().blockedBy, s.b == 0x80 ? std::optional<std::string>("A") : std::nullopt);
    }
    EXPECT_TRUE(logs.Has("blocked: every antenna of the band is held by another radio"));
}

TEST(ConfigFile, LinesUnderTheCommandLine) {
    const std::string conf = ::testing::TempDir() + "kelvane-config-" + std::to_string(::getpid());
    const std::string all =
        "# station\nsource = udp:12070,radio=2\noutput = journal:/tmp/j\ninterlock = required\n# ftdi:#1 is a value, "
        "not a comment\n"
        "poll = 250\nsettings = /srv/k.ini\nverbose = yes\n";
    struct Case {
        std::string text;
        std::vector<std::string> args;
        std::string want;  // source|output|interlock|poll|settings|verbose, or a part of the error
    } cases[] = {
        {all, {}, "udp:12070,radio=2|journal:/tmp/j|required|250|/srv/k.ini|1"},
        {all,
         {"--rigctld", "shack:4532", "--poll", "50", "--interlock=off", "--settings", "/k.ini"},
         "rigctld:shack:4532|journal:/tmp/j|off|50|/k.ini|1"},
        {"rigctld = shack:4000\n", {"--source", "flrig", "-v"}, "flrig|journal|auto|100||1"},
        {"output = ftdi:#1\n", {}, "rigctld:localhost:4532|ftdi:#1|auto|100||0"},
        {"verbose = no\n", {"--verbose"}, "rigctld:localhost:4532|journal|auto|100||1"},
        {"source = udp\nrigctld = shack:4000\n", {}, "line 2: source and rigctld both name the source"},
        {"\n\npoll = 19\n", {}, "line 3: --poll \"19\""},
        {"config = other.conf\n", {}, "line 1: unknown option 'config'"},
        {"source = udp:0\n", {}, "line 1: --source \"udp:0\""},
        {"source = serial:/dev/ttyS0\n", {}, "line 1: --source \"serial:/dev/ttyS0\": expected rigctld:HOST:PORT"},
        {"verbose = maybe\n", {}, "line 1: verbose \"maybe\": expected yes or no"},
        {"source = udp\n", {"--source", "flrig", "--rigctld", "h:1"}, "the source is given twice"},
        {"", {"--config", "/nonexistent/kelvane.conf"}, "--config is given twice"},
    };
    for (const auto& c : cases) {
        std::ofstream(conf, std::ios::trunc) << c.text;
        std::vector<std::string> args{"--config", conf};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Options o;
        std::string error;
        const bool ok = ParseCommandLine(args, o, error);
        const std::string got = ok ? o.sourceText + "|" + o.outputText + "|" + InterlockName(o.interlock) + "|" +
                                         std::to_string(o.poll.count()) + "|" +
                                         (o.settingsPath == DefaultSettingsPath() ? "" : o.settingsPath) + "|" +
                                         std::to_string(o.verbose)
                                   : error;
        EXPECT_NE(got.find(c.want), std::string::npos) << c.text << " -> " << got;
        EXPECT_EQ(ok, c.want.find('|') != std::string::npos) << c.text << " -> " << got;
    }
    Options o;
    std::string error;
    EXPECT_FALSE(ParseCommandLine(std::vector<std::string>{"--config", conf + ".missing"}, o, error));
    EXPECT_NE(error.find("cannot read it"), std::string::npos) << error;
    // The package's example, as shipped.
    EXPECT_TRUE(ParseCommandLine({"--config", KELVANE_SOURCE_DIR "/packaging/linux/kelvane.conf"}, o, error)) << error;
    EXPECT_EQ(o.settingsPath, "/etc/kelvane/Kelvaneer12.ini");
    std::remove(conf.c_str());
}

TEST(ConfigFile, RadioAndBandSections) {
    const std::string conf = ::testing::TempDir() + "kelvane-sections-" + std::to_string(::getpid());
    const auto radio = [](const std::string& name, const std::string& output) {
        return "[radio " + name + "]\nsource = udp\noutput = " + output + "\n";
    };
    const std::string one = radio("A", "journal"),
                      two = radio("A", "ftdi:A1") + "inhibit = 8\ninterlock = off\n" + radio("B", "hidrelay:Q");
    struct Case {
        std::string text;
        std::string want;  // NAME=source>output,interlock,inhibit@line;...|band>alternate;... or a part of the error
        std::vector<std::string> args = {};
    } cases[] = {
        {"interlock = required\n" + two + "[band 3]\nalternates = 7  6\t10\n",
         "A=udp>ftdi:A1,off,8@5;B=udp>hidrelay:Q,required,;|3>6;3>5;3>9;"},
        {radio("a", "ftdi:#0") + radio("b", "ftdi:#1") + radio("c", "gpio:0:1") + radio("d-_9", "gpio:0:2"),
         "a=udp>ftdi:#0,auto,;b=udp>ftdi:#1,auto,;c=udp>gpio:0:1,auto,;d-_9=udp>gpio:0:2,auto,;|"},
        {"[radio A]\nrigctld = h:1\noutput = journal\n", "A=rigctld:h:1>journal,off,;|", {"--interlock", "off"}},
        {"rigctld = h:1\n[band 10]\nalternates = 1\n", "|10>0;", {"--output", "parport:/dev/parport0"}},
        {"output = journal\n" + two, "line 1: output before the sections"},
        {one + radio("B", "journal:-"), "line 6: output \"journal:-\" is radio A's output too (line 3)"},
        {radio("A", "gpio:gpiochip0:1,2") + radio("B", "gpio:0:2,3"), "line 6: output \"gpio:0:2,3\" is radio A's"},
        {radio("A", "hidrelay:first") + radio("B", "hidrelay:Q,invert"),
         "line 6: output \"hidrelay:Q,invert\" is radio A's"},
        {two + "[radio A]\n", "line 9: [radio A] given again (first on line 1)"},
        {two, "--rigctld with a config that has radios", {"--rigctld", "h:1"}},
        {"[radio A.B]\n", "line 1: [radio A.B]: a radio's name"},
        {"\n[radio A]\noutput = journal\n", "line 2: [radio A] has no source"},
        {"[radio A]\nsource = udp\n", "line 1: [radio A] has no output"},
        {one + "rigctld = h:1\n", "line 4: source and rigctld both name the source"},
        {one + "output = journal\n", "line 4: output given again (first on line 3)"},
        {one + "poll = 50\n", "line 4: 'poll' is not taken in [radio A] (options for the whole"},
        {one + "inhibit = 9\n", "line 4: inhibit \"9\""},
        {one + "interlock = maybe\n", "line 4: --interlock \"maybe\""},
        {"[band 11]\nalternates = 1\n", "line 1: [band 11]: bands are 1 to 10"},
        {"[band 03]\nalternates = 1\n", "line 1: [band 03]: bands"},
        {"[band 3]\n#\n", "line 1: [band 3] without alternates"},
        {"[band 3]\nalternates = 7 6 7\n", "line 2: alternates: antenna 7 is given twice"},
        {"[band 3]\nalternates = 7,6\n", "line 2: alternates \"7,6\": antennas are 1 to 10"},
        {"[band 3]\noutput = journal\n", "line 2: 'output' is not taken in [band 3]"},
        {"[mode cw]\n", "line 1: [mode cw] is not a section: expected [radio NAME] or [band N]"},
    };
    for (const auto& c : cases) {
        std::ofstream(conf, std::ios::trunc) << c.text;
        std::vector<std::string> args{"--config", conf};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Options o;
        std::string got;
        if (ParseCommandLine(args, o, got)) {
            for (const auto& r : o.radios)
                got += r.name + "=" + r.sourceText + ">" + r.outputText + "," + InterlockName(r.interlock) + "," +
                       (r.inhibit ? std::to_string(*r.inhibit) + "@" + std::to_string(r.inhibitLine) : "") + ";";
            got += "|";
            for (int b = 0; b < kBandCount; ++b)
                for (const int a : o.alternates[b]) got += std::to_string(b + 1) + ">" + std::to_string(a) + ";";
        }
        // The summary holds '|' and an error does not: the wrong one cannot match.
        EXPECT_NE(got.find(c.want), std::string::npos) << c.text << " -> " << got;
    }
    std::remove(conf.c_str());
}

}  // namespace
}  // namespace kelvane::svc::test
