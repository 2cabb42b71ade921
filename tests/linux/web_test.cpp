// The web console against a fake service: hostile requests change nothing,
// logins, cookies and origins are enforced, the stream bound and the request
// deadline hold under load, and `kelvane status` reads the state file.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include <httplib.h>

#include "service/web/server.h"
#include "service/web/status.h"
#include "tests/linux/web_fake.h"

namespace kelvane::web::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

int Dial(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    ::close(fd);
    return -1;
}

// Reads until `done` holds for what came, the peer closes, or 10 s pass.
std::string ReadUntil(int fd, const std::function<bool(const std::string&)>& done) {
    std::string got;
    char buffer[65536];
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (!done(got)) {
        pollfd p{fd, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
        if (left <= 0ms || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

int StatusOf(const std::string& head) {
    int status = 0;
    std::sscanf(head.c_str(), "HTTP/1.1 %d", &status);
    return status;
}

struct Reply {
    int status = 0;
    std::string head;
    json body;
};

Reply Request(int port, const std::string& method, const std::string& path, const std::string& body = "",
              const std::string& headers = "Content-Type: application/json\r\nOrigin: http://127.0.0.1\r\n") {
    const int fd = Dial(port);
    const std::string host = headers.find("Host:") == std::string::npos ? "Host: 127.0.0.1\r\n" : "";
    const std::string text = method + " " + path + " HTTP/1.1\r\n" + host + "Connection: close\r\n" + headers +
                             "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    (void)!::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    const std::string got = ReadUntil(fd, [](const std::string&) { return false; });
    ::close(fd);
    const auto split = got.find("\r\n\r\n");
    Reply r{StatusOf(got), got.substr(0, split), {}};
    if (split != std::string::npos) r.body = json::parse(got.substr(split + 4), nullptr, false);
    return r;
}

class Web : public ::testing::Test {
protected:
    // A short request deadline for the tests of it; others keep the server's,
    // since on a loaded machine a new connection's thread may start late.
    void Start(WebOptions o = {}, std::chrono::milliseconds requestTimeout = 300ms) {
        o.rules = OneLineNames();
        o.readTimeout = o.writeTimeout = 1000ms;
        o.requestTimeout = requestTimeout;
        o.streamPing = 50ms;
        o.clock = [this] { return m_now.load(); };
        m_server = std::make_unique<WebServer>(m_backend, o);
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;
        m_port = m_server->port();
    }
    json Tables() { return TablesJson(m_backend.station); }

    FakeBackend m_backend;
    std::atomic<std::chrono::steady_clock::time_point> m_now{};
    std::unique_ptr<WebServer> m_server;
    int m_port = 0;
};

TEST_F(Web, HostileRequestsAreRefusedNamingTheFieldAndChangeNothing) {
    Start();
    const std::string etag = m_backend.Etag();
    auto tables = [&](const std::function<void(json&)>& edit) {
        json t = Tables();
        edit(t);
        return t.dump();
    };
    const std::string json_ = "Content-Type: application/json\r\nOrigin: http://127.0.0.1\r\n";
    const std::string put = json_ + "If-Match: " + etag + "\r\n";
    const struct {
        const char *method, *path;
        std::string body, headers;
        int status;
        const char* field;
    } cases[] = {
        {"POST", "/api/antenna", "{\"antenna\":", json_, 400, "(document)"},
        {"POST", "/api/antenna", R"({"antenna":"3"})", json_, 400, "antenna"},
        {"POST", "/api/antenna", R"({"antenna":0})", json_, 400, "antenna"},
        {"POST", "/api/antenna", R"({"antenna":11})", json_, 400, "antenna"},
        {"POST", "/api/antenna", R"({"antenna":18446744073709551615})", json_, 400, "antenna"},
        {"POST", "/api/antenna", R"({"antenna":2,"force":true})", json_, 400, "force"},
        {"POST", "/api/antenna", R"({"antenna":2,"radio":"9"})", json_, 400, "radio"},
        {"POST", "/api/antenna", R"({"antenna":2})", "Content-Type: text/plain\r\nOrigin: http://127.0.0.1\r\n", 415,
         "Content-Type"},
        {"POST", "/api/auto", R"({"auto":1})", json_, 400, "auto"},
        {"POST", "/api/auto", R"([true])", json_, 400, "(document)"},
        {"GET", "/api/antenna", "", "", 405, nullptr},
        {"GET", "/api/nothing", "", "", 404, nullptr},
        {"GET", "/api/state", "", "Host: attacker.example\r\n", 421, "Host"},  // a rebound name, no password
        {"PUT", "/api/tables", std::string(1 << 20, ' '), put, 413, nullptr},
        {"PUT", "/api/tables", tables([](json&) {}), json_ + "If-Match: \"0\"\r\n", 409, "If-Match"},
        {"PUT", "/api/tables", tables([](json&) {}), json_, 428, "If-Match"},
        {"PUT", "/api/tables", tables([](json& t) { t["port"] = 1; }), put, 400, "port"},
        {"PUT", "/api/tables", tables([](json& t) { t["antennas"][0]["value"] = -1; }), put, 400, "antennas[1].value"},
        {"PUT", "/api/tables", tables([](json& t) { t["antennas"][9]["value"] = 4294967296; }), put, 400,
         "antennas[10].value"},
        {"PUT", "/api/tables", tables([](json& t) { t["bands"][1]["antenna"] = 11; }), put, 400, "bands[2].antenna"},
        {"PUT", "/api/tables", tables([](json& t) { t["bands"][0]["low_khz"] = "7000"; }), put, 400,
         "bands[1].low_khz"},
        {"PUT", "/api/tables", tables([](json& t) { t["bands"][0]["high_khz"] = 2147483648; }), put, 400,
         "bands[1].high_khz"},
        {"PUT", "/api/tables", tables([](json& t) { t["bands"][1]["low_khz"] = -1; }), put, 400, "bands[2].low_khz"},
        {"PUT", "/api/tables", tables([](json& t) { t["bands"].erase(9); }), put, 400, "bands"},
        {"PUT", "/api/tables", tables([](json& t) { t["bands"][4].erase("name"); }), put, 400, "bands[5].name"},
        {"PUT", "/api/tables", tables([](json& t) { t["antennas"][2]["name"] = "a\nb"; }), put, 400,
         "antennas[3].name"},
    };
    const json before = Tables();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.path + " " + c.body.substr(0, 80));
        const Reply r = Request(m_port, c.method, c.path, c.body, c.headers);
        EXPECT_EQ(r.status, c.status);
        ASSERT_TRUE(r.body.is_object() && r.body["error"].is_string()) << r.head;
        if (c.field) {
            EXPECT_EQ(r.body["errors"][0]["field"], c.field) << r.body.dump();
        }
    }
    EXPECT_EQ(m_backend.calls, 0);
    EXPECT_EQ(Tables(), before);

    // The same requests made right do reach the service, and a save makes the old ETag stale.
    json edited = Tables();
    edited["antennas"][0]["name"] = "Dipole";
    EXPECT_EQ(Request(m_port, "PUT", "/api/tables", edited.dump(), put).status, 200);
    EXPECT_EQ(m_backend.station.tables.m_antName[0], "Dipole");
    EXPECT_EQ(Request(m_port, "PUT", "/api/tables", edited.dump(), put).status, 409);
    EXPECT_EQ(Request(m_port, "POST", "/api/antenna", R"({"antenna":10})").status, 200);
    EXPECT_EQ(m_backend.State()[0].antenna->number, 10);
    EXPECT_FALSE(m_backend.State()[0].automatic);
}

// A path's Allow names exactly the methods it does not refuse with 405; HEAD goes as GET.
TEST_F(Web, AllowNamesExactlyTheMethodsAPathTakes) {
    Start();
    for (const char* path : {"/", "/api/state", "/api/antenna", "/api/auto", "/api/tables", "/api/login"}) {
        const Reply refused = Request(m_port, "DELETE", path);
        ASSERT_EQ(refused.status, 405) << path;
        const auto at = refused.head.find("\r\nAllow: ");
        ASSERT_NE(at, std::string::npos) << refused.head;
        const std::string allow = refused.head.substr(at + 9, refused.head.find("\r\n", at + 2) - at - 9);
        for (const std::string method : {"GET", "HEAD", "POST", "PUT"}) {
            const bool listed =
                (", " + allow + ",").find(" " + (method == "HEAD" ? "GET" : method) + ",") != std::string::npos;
            EXPECT_EQ(Request(m_port, method, path).status == 405, !listed) << method << " " << path << ": " << allow;
        }
    }
    EXPECT_EQ(m_backend.calls, 0);
}

TEST_F(Web, APickOfAnAntennaAnotherRadioHoldsIsRefusedNamingItAndChangesNothing) {
    m_backend.radios.push_back(m_backend.radios[0]);  // radio 1 on antenna 2
    m_backend.radios[1].name = "B";
    m_backend.Show(m_backend.radios[1], 5);
    Start();
    const json before = StateJson(m_backend.State());
    const Reply r = Request(m_port, "POST", "/api/antenna", R"({"radio":"B","antenna":2})");
    EXPECT_EQ(r.status, 409);
    EXPECT_EQ(r.body["errors"][0]["field"], "antenna") << r.body;
    EXPECT_EQ(r.body["error"], "antenna 2 (Ant #2) is held by radio 1") << r.body;
    EXPECT_EQ(StateJson(m_backend.State()), before);
    EXPECT_EQ(Request(m_port, "POST", "/api/antenna", R"({"radio":"B","antenna":3})").status, 200);
    EXPECT_EQ(m_backend.State()[1].antenna->number, 3);
    // Not yet confirmed by the device: neither switched nor refused, and where to see the outcome.
    m_backend.unconfirmed = true;
    const Reply pending = Request(m_port, "POST", "/api/antenna", R"({"radio":"B","antenna":4})");
    EXPECT_EQ(pending.status, 202) << pending.head;
    EXPECT_EQ(pending.body["pending"], true);
    EXPECT_EQ(pending.body["watch"], "/api/state");
}

TEST_F(Web, PasswordCookieAndOriginGuardEveryChange) {
    const std::string file = ::testing::TempDir() + "web-password-" + std::to_string(::getpid());
    std::istringstream typed("correct horse\n");
    std::ostringstream out, err;
    ASSERT_EQ(RunWebPasswordCommand({file}, typed, out, err), 0) << err.str();
    WebOptions o;
    std::string why;
    ASSERT_TRUE(LoadPasswordFile(file, o.passwordHash, why)) << why;
    std::ifstream written(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}).find("correct horse"), std::string::npos);
    std::remove(file.c_str());

    // A password is what lets it listen beyond loopback (a documentation address: never bound).
    WebOptions open;
    open.listen.address = "192.0.2.1";
    WebServer refused(m_backend, open);
    EXPECT_FALSE(refused.Start(why));
    EXPECT_NE(why.find("--web-password-file"), std::string::npos) << why;

    Start(o);
    const std::string json_ = "Content-Type: application/json\r\nOrigin: http://127.0.0.1\r\n";
    EXPECT_EQ(Request(m_port, "GET", "/api/state", "", "").status, 401);
    EXPECT_EQ(Request(m_port, "GET", "/", "", "").status, 200);
    EXPECT_EQ(Request(m_port, "POST", "/api/login", R"({"password":"wrong"})").status, 401);
    const Reply slowed = Request(m_port, "POST", "/api/login", R"({"password":"correct horse"})");
    EXPECT_EQ(slowed.status, 429);
    EXPECT_NE(slowed.head.find("Retry-After: 1"), std::string::npos);
    m_now = m_now.load() + 2s;
    const Reply in = Request(m_port, "POST", "/api/login", R"({"password":"correct horse"})");
    ASSERT_EQ(in.status, 200);
    const auto at = in.head.find("kelvane_session=");
    ASSERT_NE(at, std::string::npos);
    const std::string line = in.head.substr(at, in.head.find("\r\n", at) - at);
    EXPECT_NE(line.find("HttpOnly"), std::string::npos);
    EXPECT_NE(line.find("SameSite=Strict"), std::string::npos);
    EXPECT_EQ(line.find("Secure"), std::string::npos);  // no TLS here
    const std::string cookie = "Cookie: " + line.substr(0, line.find(';')) + "\r\n";

    const struct {
        std::string headers;
        int status;
    } changes[] = {
        {json_, 401},
        {cookie + "Content-Type: application/json\r\nOrigin: http://evil.example\r\n", 403},
        {cookie + "Content-Type: application/json\r\n", 200},  // a script's: no browser omits Origin
        {cookie + "Content-Type: application/json\r\nReferer: http://127.0.0.1.evil.example/\r\n", 403},
        {"Cookie: kelvane_session=forged\r\n" + json_, 401},
        {cookie + "Content-Type: application/json\r\nReferer: http://127.0.0.1/\r\n", 200},
        {cookie + json_, 200},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(c.headers);
        EXPECT_EQ(Request(m_port, "POST", "/api/auto", R"({"auto":false})", c.headers).status, c.status);
    }
    EXPECT_EQ(m_backend.calls, 3);
    EXPECT_EQ(Request(m_port, "GET", "/api/state", "", cookie).status, 200);
}

TEST_F(Web, OverTlsTheCookieIsSecureAndAStalledHandshakeIsDropped) {
    const std::string dir = ::testing::TempDir() + "web-tls-" + std::to_string(::getpid());
    const std::string make = "mkdir -p " + dir +
                             " && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 -keyout " +
                             dir + "/key.pem -out " + dir + "/cert.pem 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0);
    WebOptions o;
    o.passwordHash = HashPassword("pw");
    o.certFile = dir + "/cert.pem";
    o.keyFile = dir + "/cert.pem";  // not a key: refused at start
    std::string why;
    EXPECT_FALSE(WebServer(m_backend, o).Start(why));
    EXPECT_NE(why.find("--web-key"), std::string::npos) << why;
    o.keyFile = dir + "/key.pem";
    Start(o);

    const int stalled = Dial(m_port);  // connects and never says hello
    httplib::SSLClient client("127.0.0.1", m_port);
    client.enable_server_certificate_verification(false);
    const std::string origin = "https://127.0.0.1:" + std::to_string(m_port);
    auto res = client.Post("/api/login", {{"Origin", origin}}, R"({"password":"pw"})", "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_NE(res->get_header_value("Set-Cookie").find("; Secure"), std::string::npos);
    EXPECT_EQ(ReadUntil(stalled, [](const std::string&) { return false; }), "");  // closed, not left waiting
    pollfd p{stalled, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    ::close(stalled);
    std::system(("rm -r " + dir).c_str());
}

int OpenStream(int port) {
    const int fd = Dial(port);
    const std::string text = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    (void)!::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    return fd;
}

TEST_F(Web, EventStreamsAreBoundedAndCarryEachChange) {
    WebOptions o;
    o.maxStreams = 4;
    o.maxConnections = 32;
    Start(o, WebOptions{}.requestTimeout);
    // A flood far past the connection limit: the connections within it are
    // all answered, a stream or 503; past it the library may close one
    // unanswered (how many depends on how fast the answered ones close).
    std::vector<int> fds;
    for (int i = 0; i < 200; ++i) fds.push_back(OpenStream(m_port));
    int open = 0, first = -1;
    for (std::size_t i = 0; i < fds.size(); ++i) {
        const std::string head = ReadUntil(fds[i], [](const std::string& s) { return s.find("\r\n\r\n") != s.npos; });
        const int status = StatusOf(head);
        open += status == 200;
        if (status == 200 && first < 0) first = fds[i];
        if (i < o.maxConnections)
            EXPECT_TRUE(status == 200 || status == 503) << "connection " << i << ": " << head;
        else
            EXPECT_TRUE(status == 200 || status == 503 || head.empty()) << "connection " << i << ": " << head;
    }
    EXPECT_EQ(open, 4);
    // Once the refused ones are closed, a plain request is answered.
    int plain = 0;
    for (int attempt = 0; attempt < 200 && plain != 200; ++attempt) {
        plain = Request(m_port, "GET", "/api/state", "", "").status;
        if (plain != 200) ::usleep(5000);  // pacing the retries, not waiting for something to happen
    }
    EXPECT_EQ(plain, 200);

    // A change reaches an open stream as the next event.
    ASSERT_GE(first, 0);
    {
        std::lock_guard lock(m_backend.mutex);
        m_backend.radios[0].antenna->name = "Beverage";
    }
    m_server->Notify();
    EXPECT_NE(ReadUntil(first, [](const std::string& s) { return s.find("\"Beverage\"") != s.npos; }).find("Beverage"),
              std::string::npos);

    // Streams whose readers left free their places.
    for (int fd : fds) ::close(fd);
    int again = 0;
    for (int attempt = 0; attempt < 200 && again != 200; ++attempt) {
        const int fd = OpenStream(m_port);
        again = StatusOf(ReadUntil(fd, [](const std::string& s) { return s.find("\r\n\r\n") != s.npos; }));
        ::close(fd);
        if (again != 200) ::usleep(5000);  // pacing the retries, not waiting for something to happen
    }
    EXPECT_EQ(again, 200);
}

TEST_F(Web, ARequestTricklingInIsDroppedWhileOthersAreServed) {
    Start();
    const int slow = Dial(m_port);
    const std::string start = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: ";
    ASSERT_GT(::send(slow, start.data(), start.size(), MSG_NOSIGNAL), 0);
    // One byte every 50 ms: each read is well within the read timeout, but
    // the whole request is not within the request deadline.
    bool dropped = false;
    for (int i = 0; i < 200 && !dropped; ++i) {
        EXPECT_EQ(Request(m_port, "GET", "/api/state", "", "").status, 200);
        pollfd p{slow, POLLIN, 0};
        dropped = ::poll(&p, 1, 50) > 0 || ::send(slow, "x", 1, MSG_NOSIGNAL) < 0;
    }
    EXPECT_TRUE(dropped);
    ::close(slow);
}

TEST(WebSpecs, AddressAndPort) {
    const struct {
        const char* text;
        bool ok;
        const char* address;
        int port;
    } cases[] = {
        {"8080", true, "127.0.0.1", 8080}, {"0.0.0.0:80", true, "0.0.0.0", 80}, {"[::1]:8080", true, "::1", 8080},
        {"::1:8080", true, "::1", 8080},   {"host.example:80", false, "", 0},   {"127.0.0.1:0", false, "", 0},
        {"127.0.0.1:65536", false, "", 0}, {"127.0.0.1:", false, "", 0},        {"127.0.0.1:80x", false, "", 0},
        {"[::1]8080", false, "", 0},
    };
    for (const auto& c : cases) {
        WebSpec spec;
        std::string error;
        EXPECT_EQ(ParseWebSpec(c.text, spec, error), c.ok) << c.text;
        if (c.ok)
            EXPECT_EQ(spec.address + ":" + std::to_string(spec.port),
                      std::string(c.address) + ":" + std::to_string(c.port));
        else
            EXPECT_FALSE(error.empty()) << c.text;
    }
    EXPECT_TRUE(IsLoopback("127.3.2.1"));
    EXPECT_TRUE(IsLoopback("::1"));
    EXPECT_FALSE(IsLoopback("0.0.0.0"));
}

TEST(WebState, TheDocumentShapeCountsFromOne) {
    RadioState r;
    r.frequency_hz = 7074000;
    r.band = RadioState::Band{2, "40 m"};
    r.antenna = RadioState::Antenna{1, "Dipole", 0xA5};
    r.transmitting = true;
    r.automatic = false;
    r.held = 3;
    r.source = {"rigctld", "connected"};
    r.output = {"journal", "ok"};
    r.choices = {1, 3};
    r.inhibit = 4;
    RadioState idle;
    idle.choices = {1};
    idle.blockedBy = "A";
    const json doc = StateJson({r, idle});
    EXPECT_EQ(doc, json::parse(R"({"radios":[
        {"name":"1","frequency_hz":7074000,"band":{"number":2,"name":"40 m"},
         "antenna":{"number":1,"name":"Dipole","byte":165},"transmitting":true,"auto":false,"held":3,
         "source":{"spec":"rigctld","state":"connected"},"output":{"spec":"journal","state":"ok"},
         "choices":[1,3],"blocked_by":null,"inhibit":4},
        {"name":"1","frequency_hz":0,"band":null,"antenna":null,"transmitting":false,"auto":true,"held":null,
         "source":{"spec":"","state":""},"output":{"spec":"","state":""},
         "choices":[1],"blocked_by":"A","inhibit":null}]})"));
    std::vector<RadioState> back;
    ASSERT_TRUE(ParseState(doc, back));
    EXPECT_EQ(StateJson(back), doc);

    // Absent (a service from before radios shared antennas wrote it) they
    // share nothing; present, they must have their types.
    json old = doc;
    for (auto& radio : old["radios"]) radio.erase("choices"), radio.erase("blocked_by"), radio.erase("inhibit");
    ASSERT_TRUE(ParseState(old, back));
    EXPECT_TRUE(back[0].choices.empty() && !back[0].inhibit && !back[1].blockedBy);
    for (const auto& [field, value] :
         {std::pair<const char*, json>{"choices", {"1"}}, {"blocked_by", 2}, {"inhibit", "3"}}) {
        json edited = doc;
        edited["radios"][0][field] = value;
        EXPECT_FALSE(ParseState(edited, back)) << field;
    }
}

TEST(Status, SaysWhetherTheServiceRunsAndWhetherItsStateIsFresh) {
    const std::string path = ::testing::TempDir() + "kelvane-state-" + std::to_string(::getpid()) + ".json";
    const WallClock written = WallClock(std::chrono::seconds(1'700'000'000));
    RadioState r;
    r.frequency_hz = 14074000;
    r.antenna = RadioState::Antenna{2, "Yagi", 2};
    const struct {
        const char* content;  // nullptr: no file; "" : the writer's file
        int pid;
        std::chrono::seconds age;
        int code;
        const char* says;
    } cases[] = {
        {nullptr, 0, 0s, 3, "no service is running"},
        {"", 4242, 2s, 0, "Radio 1: 14.074000 MHz, no band, antenna 2 (Yagi, 0x02)"},
        {"", 4242, 16s, 4, "STALE"},
        {"", 4243, 2s, 3, "has ended"},
        {"{\"radios\":", 4242, 2s, 1, "not a state file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        std::remove(path.c_str());
        std::string why;
        if (c.content && *c.content) {
            std::ofstream(path) << c.content;
        } else if (c.content) {
            ASSERT_TRUE(WriteStateFile(path, {r}, 4242, written, why)) << why;
        }
        const StatusEnv env{written + c.age, [&](int pid) { return pid == c.pid; }};
        for (bool asJson : {false, true}) {
            std::ostringstream out, err;
            EXPECT_EQ(RunStatusCommand(path, asJson, env, out, err), c.code);
            if (!asJson) {
                EXPECT_NE((out.str() + err.str()).find(c.says), std::string::npos) << out.str() << err.str();
            } else if (c.code != 1) {
                EXPECT_EQ(json::parse(out.str())["running"], c.code != 3) << out.str();
            }
        }
    }

    // Radios sharing antennas: A on its first choice, B on an alternate, C blocked by A, D waiting for its poll.
    std::vector<RadioState> shared(4, r);
    for (std::size_t i = 0; i < shared.size(); ++i) shared[i].name = std::string(1, static_cast<char>('A' + i));
    shared[0].choices = shared[1].choices = {2, 4};
    shared[1].antenna = RadioState::Antenna{4, "Dipole", 8};
    shared[2].antenna = shared[3].antenna = std::nullopt;
    shared[2].choices = {2};
    shared[2].blockedBy = "A";
    shared[2].inhibit = 7;
    shared[3].choices = {5};
    std::string why;
    ASSERT_TRUE(WriteStateFile(path, shared, 4242, written, why)) << why;
    std::ostringstream out, err;
    EXPECT_EQ(RunStatusCommand(path, false, {written, [](int) { return true; }}, out, err), 0);
    for (const char* says :
         {"Radio B: 14.074000 MHz, no band, antenna 4 (Dipole, 0x08), an alternate (first choice 2 (Yagi), held by "
          "A)\n",
          "Radio C: 14.074000 MHz, no band, no antenna, blocked by A, which holds its first choice 2 (Yagi)\n"
          "  receiving, Auto on\n  inhibit: output line 7, set\n",
          "Radio D: 14.074000 MHz, no band, no antenna, waiting for its next receive poll\n"})
        EXPECT_NE(out.str().find(says), std::string::npos) << out.str();
    std::remove(path.c_str());
}

}  // namespace
}  // namespace kelvane::web::test
