// Malformed replies from a small fake rigctld, and the strict reply reader.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "service/station/poll_loop.h"
#include "service/sources/rigctld/rigctld_link.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

// Answers 'f' with `freq` (raw bytes, newline included or not) and 't' with
// `tx`. `closeAfterF` hangs up right after the 'f' answer.
class FakeRigctld {
public:
    FakeRigctld() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 8);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~FakeRigctld() {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    void Answer(std::string freq, bool closeAfterF = false) {
        std::lock_guard lock(m_mutex);
        m_freq = std::move(freq);
        m_closeAfterF = closeAfterF;
    }
    void AnswerT(std::string tx) {
        std::lock_guard lock(m_mutex);
        m_tx = std::move(tx);
    }
    int port() const { return m_port; }

private:
    void Serve() {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) Talk(fd);
        }
    }
    void Talk(int fd) {
        std::string pending;
        char buf[64];
        while (!m_stop) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) break;
            pending.append(buf, static_cast<std::size_t>(n));
            for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1)) {
                std::lock_guard lock(m_mutex);
                const bool f = pending.compare(0, nl, "f") == 0;
                const std::string reply = f ? m_freq : m_tx;
                // The peer may have hung up on a long reply: that is what is expected of it.
                (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
                if (f && m_closeAfterF) {
                    ::close(fd);
                    return;
                }
            }
        }
        ::close(fd);
    }

    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::string m_freq = "7100000\n";
    std::string m_tx = "0\n";
    bool m_closeAfterF = false;
};

TEST(Wire, MalformedRepliesChangeNothingAndTheLinkCarriesOn) {
    FakeRigctld fake;
    LogLines logs;
    std::vector<OutputEvent> writes;
    auto source = MakeRigctldSource(LinkOptions{Endpoint{"127.0.0.1", std::to_string(fake.port())}, 500ms}, logs.log);
    OutputChannel output(std::make_unique<Recorder>(writes), "recorder", logs.log);
    PollLoop loop(*source, output, logs.log, Interlock::kAuto, DemoStation());

    // Each bad reply reads, leniently, as a 20 m frequency; the good one between cases is 40 m or 15 m.
    struct Case {
        const char* name;
        std::string reply;
        bool closes = false;
    } cases[] = {
        {"letters", "14100000abc\n"},
        {"words", "hello\n"},
        {"error report", "RPRT -1\n"},
        {"empty line", "\n"},
        {"1 MB line", std::string(1 << 20, '1') + "\n"},
        {"partial line, then close", "141000", true},
        {"nan", "nan\n"},
        {"negative", "-14100000\n"},
        {"1e400", "1e400\n"},
        {"exponent", "1.41e7\n"},
        {"comma decimal", "14100000,5\n"},
        {"blank before", " 14100000\n"},
        {"carriage return", "14100000\r\n"},
        {"two numbers", "14100000 7100000\n"},
        {"thirty nines", "-" + std::string(30, '9') + "\n"},
    };
    int good = 0;
    for (const auto& c : cases) {
        const int antenna = good++ % 2 ? 7 : 3;
        fake.Answer(antenna == 3 ? "7100000\n" : "21100000\n");
        ASSERT_TRUE(Eventually([&] { return !writes.empty() && writes.back().antenna + 1 == antenna; },
                               [&] { loop.PollOnce(); }))
            << "before " << c.name;
        const std::size_t before = writes.size();
        fake.Answer(c.reply, c.closes);
        for (int i = 0; i < 3; ++i) loop.PollOnce();
        EXPECT_EQ(writes.size(), before) << c.name;
    }
    for (const char* kind : {"(not a number)", "RPRT -1", "(empty line)", "(line too long)",
                             "closed in the middle of a reply", "(negative frequency)", "(comma in a number)"})
        EXPECT_TRUE(logs.Has(kind)) << kind;
    // A beginning and an end for each bad case and the link's losses: far fewer lines than bad polls.
    EXPECT_LE(logs.lines.size(), 2 * std::size(cases) + 6);
}

// rigctld without a PTT type answers 't' from a cache at first, then "not
// available": no transmit state from then on, even if numbers come back.
TEST(Wire, NotAvailableAfterANumberMeansNoTransmitState) {
    const std::tuple<Interlock, std::vector<int>, const char*> cases[] = {
        {Interlock::kAuto, {3, 5, 7}, "switching without the transmit interlock"},
        {Interlock::kRequired, {3}, "switching is held"},
    };
    for (const auto& [mode, expected, says] : cases) {
        FakeRigctld fake;
        LogLines logs;
        std::vector<OutputEvent> writes;
        // A name, not an address: looked up off the poll thread.
        auto source =
            MakeRigctldSource(LinkOptions{Endpoint{"localhost", std::to_string(fake.port())}, 500ms}, logs.log);
        OutputChannel output(std::make_unique<Recorder>(writes), "recorder", logs.log);
        PollLoop loop(*source, output, logs.log, mode, DemoStation());
        ASSERT_TRUE(Eventually([&] { return !writes.empty(); }, [&] { loop.PollOnce(); }));
        EXPECT_EQ(loop.HasTransmitState(), true);
        for (const auto& [freq, tx] : {std::pair{"14100000\n", "RPRT -11\n"}, {"21100000\n", "1\n"}}) {
            fake.Answer(freq);
            fake.AnswerT(tx);
            const auto answered = loop.AnsweredPolls();
            ASSERT_TRUE(Eventually([&] { return loop.AnsweredPolls() >= answered + 3; }, [&] { loop.PollOnce(); }));
        }
        std::vector<int> antennas, said;
        for (const auto& w : writes) antennas.push_back(w.antenna + 1);
        for (const auto& l : logs.lines) said.push_back(l.find(says) != l.npos);
        EXPECT_EQ(antennas, expected);
        EXPECT_EQ(std::count(said.begin(), said.end(), 1), 1);  // once, not per poll
        EXPECT_EQ(loop.HasTransmitState(), false);
        EXPECT_EQ(loop.SwitchingHeld(), mode == Interlock::kRequired);
    }
}

TEST(Wire, ReplyGrammar) {
    struct Case {
        const char* line;
        Reply::Kind kind;
        double number;
        int report;
    } cases[] = {
        {"14074000", Reply::kNumber, 14074000, 0},
        {"14074000.5", Reply::kNumber, 14074000.5, 0},
        {"-5", Reply::kNumber, -5, 0},
        {"RPRT 0", Reply::kReport, 0, 0},
        {"RPRT -11", Reply::kReport, 0, -11},
        {"RPRT", Reply::kBad, 0, 0},
        {"RPRT -", Reply::kBad, 0, 0},
        {"RPRT 1x", Reply::kBad, 0, 0},
        {"RPRT 99999999999", Reply::kBad, 0, 0},
        {"-999999999999999.25", Reply::kNumber, -999999999999999.25, 0},
        {"-9999999999999999", Reply::kBad, 0, 0},
        {"-999999999999999999999999999999", Reply::kBad, 0, 0},
        {"14074000.", Reply::kBad, 0, 0},
        {".5", Reply::kBad, 0, 0},
        {"+5", Reply::kBad, 0, 0},
        {"inf", Reply::kBad, 0, 0},
    };
    for (const auto& c : cases) {
        const Reply r = ParseReply(c.line);
        EXPECT_EQ(r.kind, c.kind) << c.line;
        EXPECT_EQ(r.number, c.number) << c.line;
        EXPECT_EQ(r.report, c.report) << c.line;
    }
}

TEST(Wire, Endpoints) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        const char* port;
    } cases[] = {
        {"localhost:4532", true, "localhost", "4532"},
        {"[::1]:4532", true, "::1", "4532"},
        {"shack.lan:1", true, "shack.lan", "1"},
        {"localhost", false, "", ""},
        {":4532", false, "", ""},
        {"localhost:0", false, "", ""},
        {"localhost:65536", false, "", ""},
        {"localhost:45x", false, "", ""},
        {"[::1]4532", false, "", ""},
    };
    for (const auto& c : cases) {
        Endpoint e;
        EXPECT_EQ(ParseEndpoint(c.text, e), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(e.host + " " + e.port, std::string(c.host) + " " + c.port) << c.text;
        }
    }
}

}  // namespace
}  // namespace kelvane::svc::test
