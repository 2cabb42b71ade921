#pragma once
// The web console: an HTTP server (cpp-httplib) with the page at / and a JSON
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
#include <thread>
#include <vector>

#include "service/base/endpoint.h"
#include "service/base/pick.h"
#include "service/web/auth.h"
#include "service/web/state.h"

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
    std::string passwordHash;       // from LoadPasswordFile; empty: no password
    std::string tokenFile;          // kelvane web-token's; empty: none
    LogLine warn, verbose;          // the service's log, from the workers
    std::string certFile, keyFile;  // both or neither: TLS
    FieldRules rules;
    std::size_t maxStreams = 16;  // open event streams; each holds a worker thread
    std::chrono::milliseconds readTimeout{5000}, writeTimeout{5000};
    // All of one request (headers and body) must arrive within this, however
    // steadily it trickles in.
    std::chrono::milliseconds requestTimeout{10000};
    std::chrono::milliseconds keepAlive{5000};
    std::chrono::milliseconds streamPing{15000};  // a comment line keeps idle streams honest
    Clock clock = std::chrono::steady_clock::now;
};

class WebServer {
public:
    WebServer(WebBackend& backend, WebOptions options);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds and serves on a thread of its own. Refuses a non-loopback address
    // without a password, and TLS files it cannot use.
    bool Start(std::string& error);
    int port() const { return m_port; }
    // Thread-safe; the event streams send the new state at once.
    void Notify();
    void Stop();

    static constexpr std::size_t kMaxBody = 64 * 1024;

    class Http;

private:
    friend class Http;
    struct Api;  // the routes and their handlers
    WebBackend& m_backend;
    WebOptions m_options;
    Auth m_auth;
    std::unique_ptr<Http> m_http;
    std::thread m_thread;
    int m_port = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_version = 0;
    bool m_stopping = false;
    std::atomic<std::size_t> m_streams{0};
};

}  // namespace kelvane::web
