// Logins, sessions and tokens on the console's Auth alone, with a clock the
// test moves: the brake is decided before any hash is checked, per address
// (per /64 for IPv6) and for all addresses; sessions end when idle, when old
// and at logout; a token works until it is removed from its file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "service/web/auth.h"

namespace kelvane::web::test {
namespace {

using namespace std::chrono_literals;
using Login = Auth::Login;

struct Harness {
    std::atomic<std::chrono::steady_clock::time_point> now{};
    std::atomic<int> checks{0}, warnings{0};
    Auth Make(std::string tokenFile = "", int perMinute = 30) {
        return Auth({HashPassword("right"), std::move(tokenFile), [this] { return now.load(); },
                     [this](const std::string&) { ++warnings; }, [this](const std::string&) { ++checks; }, perMinute});
    }
    Login Try(Auth& auth, const std::string& address, const std::string& password) {
        std::string token;
        std::chrono::seconds retry{};
        return auth.TryLogin(address, password, token, retry);
    }
};

TEST(AuthBrake, ParallelTriesGetOneCheckAndTheBrakeHoldsPerAddressPer64AndForAll) {
    Harness h;
    Auth auth = h.Make("", 3);
    std::vector<std::thread> tries;
    std::atomic<int> slowed{0};
    for (int i = 0; i < 20; ++i)
        tries.emplace_back([&] { slowed += h.Try(auth, "192.0.2.1", "wrong") == Login::kSlowDown; });
    for (auto& t : tries) t.join();
    EXPECT_EQ(h.checks, 1);
    EXPECT_EQ(slowed, 19);
    EXPECT_EQ(h.warnings, 1);

    const struct {
        std::chrono::seconds later;
        const char *address, *password;
        Login expected;
    } rows[] = {
        {0s, "192.0.2.1", "right", Login::kSlowDown},
        {0s, "::ffff:192.0.2.1", "right", Login::kSlowDown},  // the same machine over IPv6's mapping
        {0s, "2001:db8:0:1::1", "wrong", Login::kWrong},
        {0s, "2001:db8:0:1:ffff::2", "right", Login::kSlowDown},  // the same /64
        {0s, "2001:db8:0:2::1", "right", Login::kOk},
        {0s, "192.0.2.2", "wrong", Login::kWrong},     // the third failure this minute
        {0s, "192.0.2.3", "right", Login::kSlowDown},  // the ceiling for all addresses
        {61s, "192.0.2.3", "right", Login::kOk},
        {0s, "192.0.2.1", "right", Login::kOk},
    };
    for (const auto& r : rows) {
        h.now = h.now.load() + r.later;
        EXPECT_EQ(h.Try(auth, r.address, r.password), r.expected) << r.address << " " << r.password;
    }
}

TEST(AuthSessions, EndWhenIdleWhenOldAndAtLogout) {
    Harness h;
    Auth auth = h.Make();
    const auto login = [&] {
        std::string token;
        std::chrono::seconds retry{};
        EXPECT_EQ(auth.TryLogin("192.0.2.9", "right", token, retry), Login::kOk);
        return token;
    };
    // Used every 11 h a session lasts its week, and no longer.
    const auto start = h.now.load();
    const std::string old = login();
    for (auto t = 11h; t <= Auth::kSessionLife + 11h; t += 11h) {
        h.now = start + t;
        EXPECT_EQ(auth.Valid(old), t < Auth::kSessionLife) << t.count();
    }
    const std::string idle = login();
    for (const auto& [later, valid] : {std::pair{11h + 59min, true}, {11h + 59min, true}, {12h + 0min, false}}) {
        h.now = h.now.load() + later;
        EXPECT_EQ(auth.Valid(idle), valid);
    }
    const std::string out = login();
    EXPECT_TRUE(auth.Admits(out, ""));
    auth.Logout(out);
    EXPECT_FALSE(auth.Admits(out, ""));
}

TEST(AuthTokens, TheCommandKeepsOnlyHashesAndARemovedTokenStopsAtOnce) {
    const std::string file = ::testing::TempDir() + "web-tokens-" + std::to_string(::getpid());
    std::remove(file.c_str());
    const auto run = [&](std::vector<std::string> args, int code) {
        args.insert(args.begin(), file);
        std::ostringstream out, err;
        EXPECT_EQ(RunWebTokenCommand(args, out, err), code) << args[1] << ": " << err.str();
        return out.str();
    };
    const std::string ha = run({"ha"}, 0), script = run({"script"}, 0);
    ASSERT_EQ(ha.size(), 65u);
    EXPECT_EQ(ha.back(), '\n');
    run({"ha"}, 1);
    run({"h a"}, 2);
    run({"--remove", "nobody"}, 1);
    EXPECT_EQ(run({"--list"}, 0), "ha\nscript\n");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::ifstream in(file);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(text.find(ha.substr(0, 64)), std::string::npos);

    Harness h;
    Auth auth = h.Make(file);
    const auto bearer = [](const std::string& line) { return "Bearer " + line.substr(0, line.size() - 1); };
    EXPECT_TRUE(auth.Admits("", bearer(ha)));
    EXPECT_TRUE(auth.Admits("", bearer(script)));
    EXPECT_FALSE(auth.Admits("", bearer(ha).substr(0, 60)));
    EXPECT_FALSE(auth.Admits("", "Basic " + ha.substr(0, 64)));
    run({"--remove", "ha"}, 0);
    EXPECT_FALSE(auth.Admits("", bearer(ha)));
    EXPECT_TRUE(auth.Admits("", bearer(script)));
    std::remove(file.c_str());
}

}  // namespace
}  // namespace kelvane::web::test
