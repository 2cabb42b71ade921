// A rigctld that accepts and never answers, listed first, beside a live real
// rigctld in one service: the live radio's changes are written while the hung
// one's exchange is still open, which no loop that waits for it could do.
#include <gtest/gtest.h>
#include <poll.h>

#include "settings/settings_file.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

TEST(HungSource, TheLiveRadioSwitchesWhileItsNeighboursExchangeHangs) {
    const std::string path = ::testing::TempDir() + "kelvane-hung-" + std::to_string(::getpid());
    const Station demo = DemoStation();
    ASSERT_TRUE(SaveSettings(path + ".ini", demo.tables, demo.bands));
    const int hung = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof a;
    ASSERT_EQ(::bind(hung, reinterpret_cast<sockaddr*>(&a), sizeof a) | ::listen(hung, 4) |
                  ::getsockname(hung, reinterpret_cast<sockaddr*>(&a), &length),
              0);
    Rigctld live(FreePort());
    live.Ask("F 1000000");  // no band: every change below is a switch
    std::ofstream(path + ".conf") << "poll = 20\n[radio A]\nsource = rigctld:127.0.0.1:" << ntohs(a.sin_port)
                                  << "\noutput = journal:" << path << "-a.journal\n[radio B]\nsource = "
                                  << "rigctld:127.0.0.1:" << live.port() << "\noutput = journal:" << path
                                  << "-b.journal\n";
    const pid_t pid =
        SpawnKelvane({"--config", path + ".conf", "--settings", path + ".ini"}, path + ".out", path + ".err");
    const auto lines = [&] {
        const std::string j = Slurp(path + "-b.journal");
        return std::count(j.begin(), j.end(), '\n');
    };
    int written = 0, whileHung = 0;
    for (const long hertz : {14200000, 7100000, 21200000, 3650000, 28500000}) {
        // A's next exchange: connected, asked, never answered.
        const int peer = ::accept4(hung, nullptr, nullptr, SOCK_CLOEXEC);
        char asked = 0;
        while (asked != '\n') ASSERT_EQ(::read(peer, &asked, 1), 1);
        ASSERT_EQ(live.Ask("F " + std::to_string(hertz)), "RPRT 0");
        ++written;
        // B's line, or A's exchange given up (the peer sees it closed), whichever comes first;
        // a loop that waits for A can write B's line only after that close.
        pollfd gaveUp{peer, POLLIN, 0};
        while (lines() < written && ::poll(&gaveUp, 1, 5) == 0) {}
        const bool line = lines() == written;
        whileHung += line && ::poll(&gaveUp, 1, 0) == 0;
        ::close(peer);
        EXPECT_TRUE(Eventually([&] { return lines() == written; })) << hertz;
    }
    EXPECT_GT(whileHung, 0) << "no change of B was written while A's exchange hung";
    ::kill(pid, SIGTERM);
    EXPECT_EQ(WaitExit(pid), 0);
    if (::testing::Test::HasFailure()) std::cerr << Slurp(path + ".err");
    ::close(hung);
    for (const char* f : {".ini", ".conf", ".out", ".err", "-a.journal", "-b.journal"}) std::remove((path + f).c_str());
}

}  // namespace
}  // namespace kelvane::svc::test
