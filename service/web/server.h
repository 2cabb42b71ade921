#pragma once
// The web console: an HTTP server (libmicrohttpd) with the page at / and a JSON
// API under /api/. It reaches the service only through WebBackend, and the
// service tells it of every change with Notify(), which wakes the event streams.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "service/base/endpoint.h"
#include "service/base/pick.h"
#include "service/web/auth.h"
#include "service/web/state.h"

struct MHD_Daemon;

namespace kelvane::web {

struct WebSpec {
    std::string address = "127.0.0.1";
    int port = 0;
};

// --web [ADDR:]PORT; an IPv6 address goes in brackets: [::1]:8080.
bool ParseWebSpec(std::string_view text, WebSpec& spec, std::string& error);
using svc::IsLoopback;

// What the service does for the console. Calls come from the server's worker
// threads, concurrently; the implementation locks what it shares.
class WebBackend {
public:
    virtual ~WebBackend() = default;

    virtual std::vector<RadioState> State() = 0;

    // `radio` is one State() named and `antenna` counts from 1 (both checked
    // before the call).
    virtual svc::Picked PickAntenna(const std::string& radio, int antenna) = 0;
    virtual void SetAuto(const std::string& radio, bool on) = 0;

    struct Tables {
        svc::Station station;
        std::string etag;  // EtagOf() the settings file's bytes
    };
    // False with the reason when the settings file cannot be read.
    virtual bool ReadTables(Tables& tables, std::string& why) = 0;

    // The locked, atomic save, only while the file's ETag is still `ifMatch`;
    // on kSaved `etag` is the new file's.
    enum class Put { kSaved, kStale, kFailed };
    virtual Put WriteTables(const svc::Station& station, const std::string& ifMatch, std::string& etag,
                            std::string& why) = 0;
};

struct WebOptions {
    WebSpec listen;
    // Names a request's Host may give besides the listen address and
    // loopback's (web-hosts), so that a page elsewhere cannot rebind its own.
    std::vector<std::string> hosts;
    std::string passwordHash;       // from LoadPasswordFile; empty: no password
    std::string tokenFile;          // kelvane web-token's; empty: none
    LogLine warn, verbose;          // the service's log, from the workers
    std::string certFile, keyFile;  // both or neither: TLS
    FieldRules rules;
    // Each connection holds a thread; fewer when the descriptors left are fewer.
    std::size_t maxConnections = 64;
    // Connections one address may hold; past it they are closed unanswered. 0: no such bound.
    std::size_t maxPerAddress = 0;
    std::size_t maxStreams = 16;  // open event streams, of those connections
    // Silence allowed, to the first byte and between any two (whole seconds).
    std::chrono::milliseconds readTimeout{5000}, writeTimeout{5000};
    // From a connection's start, or its last answer, to the last byte of the
    // next request, however steadily it trickles in.
    std::chrono::milliseconds requestTimeout{10000};
    std::chrono::milliseconds streamPing{15000};  // a comment line keeps idle streams honest
    Clock clock = std::chrono::steady_clock::now;
};

class WebServer {
public:
    WebServer(WebBackend& backend, WebOptions options);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds and serves on threads of its own. Refuses a non-loopback address
    // without a password, TLS files it cannot use, and too few descriptors.
    bool Start(std::string& error);
    int port() const { return m_port; }
    // Thread-safe; the event streams send the new state at once.
    void Notify();
    void Stop();

    static constexpr std::size_t kMaxBody = 64 * 1024;
    // A request's line and headers, with the server's own bookkeeping of them.
    static constexpr std::size_t kMaxHead = 16 * 1024;
    // Descriptors kept for the main loop (sources, outputs, files) when the
    // connection limit is fitted under RLIMIT_NOFILE.
    static constexpr std::size_t kMainLoopFds = 64;

private:
    struct Api;       // the routes and their handlers
    struct Glue;      // the server library's callbacks
    class Deadlines;  // the whole-request bound
    WebBackend& m_backend;
    WebOptions m_options;
    Auth m_auth;
    std::unique_ptr<Deadlines> m_deadlines;
    MHD_Daemon* m_daemon = nullptr;
    bool m_tls = false;
    int m_port = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_version = 0;
    bool m_stopping = false;
    std::atomic<std::size_t> m_streams{0};
};

}  // namespace kelvane::web
