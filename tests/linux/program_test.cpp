// The built kelvane program: its command line, and a run against rigctld with
// SIGHUP reloading the settings and SIGTERM ending it.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/un.h>

#include <cctype>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "service/config/cli.h"
#include "service/config/settings_cmd.h"
#include "settings/settings_file.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

class Program : public ::testing::Test {
protected:
    std::string Path(const char* name) { return ::testing::TempDir() + "kelvane-" + std::to_string(::getpid()) + name; }
    int Run(const std::vector<std::string>& args) { return WaitExit(SpawnKelvane(args, Path(".out"), Path(".err"))); }
    // The command line as main() takes it, in this process: the exit status a
    // run would end with short of the service, its error text in `m_error`.
    int Parse(std::vector<std::string> args) {
        args.insert(args.begin(), "kelvane");
        std::vector<const char*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        Options o;
        if (!ParseCommandLine(static_cast<int>(argv.size()), argv.data(), o, m_error)) return 2;
        std::ostringstream out, err;
        const int status = o.settingsCommand ? RunSettingsCommand(o.settingsPath, o.settingsArgs, out, err) : 0;
        m_error = err.str();
        return status;
    }
    std::string m_error;
    void TearDown() override {
        for (const char* f : {".out", ".err", ".ini", ".journal", ".notify", ".conf", ".journal2"})
            std::remove(Path(f).c_str());
    }
};

// The help names exactly the options the program takes: each one it names runs
// in a valid form, and any other, a single letter or a "--word" from the
// program's own bytes (where an option's name has to be), is refused as unknown.
TEST_F(Program, HelpNamesExactlyTheOptionsTakenAndUsageErrorsExitTwo) {
    std::ofstream(Path(".conf")) << "# all of them\nsource = flrig:shack:12345\nverbose = no\n";
    ASSERT_EQ(Run({"--help"}), 0);
    const std::string help = Slurp(Path(".out"));
    std::set<std::string> named;
    const std::regex option("(^|[\\s[|])(--?[a-z][a-z-]*)");
    for (std::sregex_iterator m(help.begin(), help.end(), option), end; m != end; ++m) named.insert((*m)[2]);
    const auto edit = [&](std::vector<std::string> words) {
        words.insert(words.begin(), {"--settings", Path(".ini"), "settings"});
        return words;
    };
    const std::map<std::string, std::vector<std::string>> valid = {
        {"--settings", {"--settings", Path(".ini")}},
        {"--rigctld", {"--rigctld", "[::1]:4532"}},
        {"--source", {"--source", "udp:127.0.0.1:12060,radio=2"}},
        {"--config", {"--config", Path(".conf")}},
        {"--poll", {"--poll", "5000"}},
        {"--output", {"--output", "gpio:0:1,2,invert"}},
        {"--interlock", {"--interlock", "required"}},
        {"--verbose", {"--verbose"}},
        {"-v", {"-v"}},
        {"--help", {"--help"}},
        {"-h", {"-h"}},
        {"--version", {"--version"}},
        {"--json", {"status", "--json"}},
        {"--web", {"--web", "[::1]:8080"}},
        {"--web-password-file", {"--web", "192.0.2.1:8080", "--web-password-file", Path(".pw")}},
        {"--web-cert", {"--web", "8443", "--web-cert", Path(".pem"), "--web-key", Path(".key")}},
        {"--web-key", {"--web", "8443", "--web-key", Path(".key"), "--web-cert", Path(".pem")}},
        {"--web-token-file", {"--web", "8080", "--web-token-file", Path(".tokens")}},
        {"--mqtt", {"--mqtt", "mqtts://ha@[::1]"}},
        {"--mqtt-ca", {"--mqtt", "mqtts://broker", "--mqtt-ca", Path(".pem")}},
        {"--mqtt-password-file", {"--mqtt", "mqtt://ha@broker:1884", "--mqtt-password-file", Path(".pw")}},
        {"--mqtt-station", {"--mqtt", "mqtt://broker", "--mqtt-station", "Shack_2-b"}},
        {"--mqtt-discovery", {"--mqtt", "mqtt://broker", "--mqtt-discovery", "no"}},
        {"--list", {"web-token", Path(".tokens"), "--list"}},
        {"--remove", {"web-token", Path(".tokens"), "--remove", "ha"}},
        {"--web-hosts", {"--web", "8080", "--web-hosts", "Shack.local, 192.168.1.20,[fe80::1]"}},
        {"--name", edit({"band", "2", "--name", "40 m"})},
        {"--value", edit({"antenna", "3", "--value", "200"})},
        {"--low", edit({"band", "1", "--low", "1800"})},
        {"--high", edit({"band", "1", "--high", "1900"})}};
    std::set<std::string> keys;
    for (const auto& [name, args] : valid) {
        keys.insert(name);
        EXPECT_EQ(Parse(args), 0) << name << ": " << m_error;
    }
    EXPECT_EQ(named, keys);

    std::set<std::string> others;
    for (char c = 'A'; c <= 'z'; ++c)
        if (std::isalpha(static_cast<unsigned char>(c))) others.insert(std::string("-") + c);
    const std::string bytes = Slurp(KELVANE_PROGRAM);
    for (std::size_t at = bytes.find("--"); at != std::string::npos; at = bytes.find("--", at + 2)) {
        std::size_t to = at + 2;
        while (to < bytes.size() &&
               (std::islower(static_cast<unsigned char>(bytes[to])) || (to > at + 2 && bytes[to] == '-')))
            ++to;
        if (to > at + 2) others.insert(bytes.substr(at, to - at));
    }
    for (const auto& o : others) {
        if (named.count(o)) continue;
        for (const auto& args :
             {std::vector<std::string>{o, "1"}, edit({"band", "1", o, "1"}), edit({"antenna", "1", o, "1"})}) {
            EXPECT_EQ(Parse(args), 2) << o;
            EXPECT_NE(m_error.find("unknown option \"" + o + "\""), std::string::npos) << o;
        }
    }

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--poll", "19"},
                                                {"--poll", "5001"},
                                                {"--poll", "1e2"},
                                                {"--interlock", "maybe"},
                                                {"--output", "usb:1"},
                                                {"--rigctld", "localhost"},
                                                {"--bogus"},
                                                {"--web", "0"},
                                                {"--web", "8443", "--web-cert", "c.pem"},
                                                {"--web-password-file", "pw"},
                                                {"status", "--xml"},
                                                {"--settings"},
                                                {"--output", "journal", "--output", "journal:x"}}) {
        EXPECT_EQ(Run(bad), 2) << bad[0];
        EXPECT_NE(Slurp(Path(".err")).find("see kelvane --help"), std::string::npos) << bad[0];
    }
}

TEST_F(Program, SwitchesReloadsOnHangupAndEndsOnTerm) {
    Rigctld rig(FreePort());
    const Station s = DemoStation();
    ASSERT_TRUE(SaveSettings(Path(".ini"), s.tables, s.bands));
    ASSERT_EQ(rig.Ask("F 7100000"), "RPRT 0");
    const pid_t pid = SpawnKelvane({"--settings", Path(".ini"), "--rigctld", "127.0.0.1:" + std::to_string(rig.port()),
                                    "--poll", "20", "--output", "journal:" + Path(".journal"), "--verbose"},
                                   Path(".out"), Path(".err"));
    auto journalHas = [&](const char* text) { return Slurp(Path(".journal")).find(text) != std::string::npos; };
    ASSERT_TRUE(Eventually([&] { return journalHas("byte=0x03 antenna=3 40m antenna\n"); }));
    EXPECT_TRUE(
        std::regex_search(Slurp(Path(".journal")), std::regex("^1[0-9]{15} byte=0x03 antenna=3 40m antenna\n$")));

    ASSERT_EQ(Run({"--settings", Path(".ini"), "settings", "antenna", "3", "--value", "200"}), 0);
    ::kill(pid, SIGHUP);
    EXPECT_TRUE(Eventually([&] { return journalHas("byte=0xC8 antenna=3 40m antenna\n"); }));

    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    const std::string err = Slurp(Path(".err"));
    EXPECT_NE(err.find("settings reloaded"), std::string::npos) << err;
    EXPECT_NE(err.find("wrote byte=0xC8 antenna=3"), std::string::npos) << err;
    EXPECT_NE(err.rfind("stopping on SIGTERM; the output stays at antenna 3 (40m antenna); rigctld 127.0.0.1:" +
                        std::to_string(rig.port()) + " connected\n"),
              std::string::npos)
        << err;
}

// What systemd is told: ready with the output's true state, the status as
// the link changes, and a stop line that claims no write that never was.
TEST_F(Program, StatusTellsWhatTheLinkAndTheOutputDo) {
    const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{AF_UNIX, {}};
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", Path(".notify").c_str());
    ASSERT_EQ(::bind(notify, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    auto next = [&] {  // the next message; empty when none comes in time
        pollfd p{notify, POLLIN, 0};
        char buf[512];
        const ssize_t n = ::poll(&p, 1, 10000) == 1 ? ::recv(notify, buf, sizeof buf, 0) : 0;
        return std::string(buf, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    };
    Rigctld rig(FreePort());
    const Station s = DemoStation();
    ASSERT_TRUE(SaveSettings(Path(".ini"), s.tables, s.bands));
    ASSERT_EQ(rig.Ask("F 7100000"), "RPRT 0");
    const std::string where = "127.0.0.1:" + std::to_string(rig.port()),
                      absent = "journal:" + ::testing::TempDir() + "no-such-dir/journal";
    ::setenv("NOTIFY_SOCKET", addr.sun_path, 1);
    const pid_t pid = SpawnKelvane({"--settings", Path(".ini"), "--rigctld", where, "--poll", "20", "--output", absent},
                                   Path(".out"), Path(".err"));
    ::unsetenv("NOTIFY_SOCKET");
    EXPECT_EQ(next(), "READY=1\nSTATUS=rigctld " + where + " connected; output " + absent + " absent, retrying");
    rig.Kill();
    EXPECT_EQ(next(), "STATUS=rigctld " + where + " lost, reconnecting; output " + absent +
                          " absent, retrying; transmit state unknown");
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    const std::string err = Slurp(Path(".err"));
    EXPECT_NE(err.find("; nothing was written to the output; antenna 3 (40m antenna) was wanted; rigctld " + where +
                       " lost, reconnecting\n"),
              err.npos)
        << err;
    ::close(notify);
}

// The config file under SIGHUP: one that no longer reads keeps everything; a
// new output and then a new source (RadioInfo datagrams) are switched to.
TEST_F(Program, HangupRereadsTheConfigAndKeepsAllWhenItIsBroken) {
    Rigctld rig(FreePort());
    const Station s = DemoStation();
    ASSERT_TRUE(SaveSettings(Path(".ini"), s.tables, s.bands));
    ASSERT_EQ(rig.Ask("F 7100000"), "RPRT 0");
    const int udp = FreeUdpPort();
    const std::string common = "settings = " + Path(".ini") + "\npoll = 20\n";
    const auto config = [&](const std::string& lines) { std::ofstream(Path(".conf"), std::ios::trunc) << lines; };
    const auto last = [&](const char* journal) {  // the last antenna written there
        const std::string j = Slurp(Path(journal));
        const auto at = j.rfind(" antenna=");
        return at == std::string::npos ? 0 : std::atoi(j.c_str() + at + 9);
    };
    config(common + "source = rigctld:127.0.0.1:" + std::to_string(rig.port()) +
           "\noutput = journal:" + Path(".journal") + "\n");
    const pid_t pid = SpawnKelvane({"--config", Path(".conf")}, Path(".out"), Path(".err"));
    ASSERT_TRUE(Eventually([&] { return last(".journal") == 3; }));
    struct Step {
        std::string config;  // what the file holds at this SIGHUP
        const char* logged;  // the reload's line
        std::string change;  // then: "F hz" to rigctld, or a frequency in tens of Hz by datagram
        const char* journal;
        int antenna;
    } steps[] = {
        {common + "source = rigctld:127.0.0.1:" + std::to_string(rig.port()) + "\nsorce = udp\n",
         "line 4: unknown option 'sorce'; keeping everything as it was", "F 14100000", ".journal", 5},
        {common + "poll = 30\n", "line 3: poll given again", "F 21100000", ".journal", 7},
        {common + "source = rigctld:127.0.0.1:" + std::to_string(rig.port()) +
             "\noutput = journal:" + Path(".journal2") + "\n",
         "output now journal:", "F 28500000", ".journal2", 9},
        {common + "source = udp:127.0.0.1:" + std::to_string(udp) + "\noutput = journal:" + Path(".journal2") + "\n",
         "now following udp 127.0.0.1:", "710000", ".journal2", 3},
    };
    Loopback sender;
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step& step = steps[i];
        config(step.config);
        ::kill(pid, SIGHUP);
        ASSERT_TRUE(Eventually([&] { return Slurp(Path(".err")).find(step.logged) != std::string::npos; }))
            << step.logged << "\n"
            << Slurp(Path(".err"));
        if (step.change[0] == 'F')
            ASSERT_EQ(rig.Ask(step.change), "RPRT 0");
        else
            sender.Send(udp, "<RadioInfo><Freq>" + step.change + "</Freq></RadioInfo>");
        EXPECT_TRUE(Eventually([&] { return last(step.journal) == step.antenna; })) << step.logged;
    }
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    const std::string err = Slurp(Path(".err"));
    EXPECT_NE(err.find("antenna 3 (40m antenna); udp 127.0.0.1:" + std::to_string(udp) + " radio 1 receiving\n"),
              err.npos)
        << err;
}

}  // namespace
}  // namespace kelvane::svc::test
