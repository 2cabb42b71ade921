#include "service/web/server.h"

#include <fcntl.h>
#include <httplib.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "service/platform/linux/unique_fd.h"
#include "service/web/page.h"

namespace kelvane::web {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using Ms = std::chrono::milliseconds;

// A handler that refused before reading the body leaves it unread on the
// socket, so the connection must not carry another request.
thread_local bool t_closeAfter = false, t_linger = false;

bool HasBody(const httplib::Request& req) {
    return req.has_header("Transfer-Encoding") || req.get_header_value<std::uint64_t>("Content-Length") > 0;
}

void Send(httplib::Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void Refuse(httplib::Response& res, int status, const std::string& field, const std::string& rule, bool close = false) {
    json body = {{"error", field.empty() ? rule : field + ": " + rule}};
    if (!field.empty()) body["errors"] = json::array({{{"field", field}, {"rule", rule}}});
    Send(res, status, body);
    t_closeAfter = t_closeAfter || close;
}

std::string Cookie(const httplib::Request& req, const std::string& name) {
    const std::string all = req.get_header_value("Cookie");
    for (std::size_t at = 0; at < all.size();) {
        std::size_t end = all.find(';', at);
        if (end == std::string::npos) end = all.size();
        std::string part = all.substr(at, end - at);
        part.erase(0, part.find_first_not_of(' '));
        if (part.rfind(name + "=", 0) == 0) return part.substr(name.size() + 1);
        at = end + 1;
    }
    return {};
}

bool HostIsLoopback(const std::string& host) {
    svc::Endpoint named;
    return svc::ParseEndpoint(host, {svc::EndpointForm::kHost}, named).kind == svc::EndpointFault::kNone &&
           IsLoopback(named.host);
}

// A socket of one connection, plain or TLS, non-blocking underneath so that no
// read or write outlasts its timeout and one request cannot outlast its deadline.
class Conn : public httplib::Stream {
public:
    Conn(int fd, SSL* ssl, const WebOptions& o) : m_fd(fd), m_ssl(ssl), m_o(o) {}

    void Arm() { m_deadline = std::chrono::steady_clock::now() + m_o.requestTimeout; }

    bool Handshake() {
        Arm();
        for (;;) {
            const int r = SSL_accept(m_ssl);
            if (r == 1) return true;
            if (!Await(SSL_get_error(m_ssl, r), m_o.readTimeout)) return false;
        }
    }

    // Waits for the next request of a kept-alive connection, waking to notice a stop.
    bool NextRequest(const httplib::Server& server) {
        if (Buffered()) return true;
        for (auto left = m_o.keepAlive; left > Ms(0) && server.is_running(); left -= Ms(100))
            if (Poll(POLLIN, std::min(left, Ms(100)))) return true;
        return false;
    }

    bool is_readable() const override { return Buffered() || const_cast<Conn*>(this)->Poll(POLLIN, ReadWait()); }
    bool is_writable() const override { return const_cast<Conn*>(this)->Poll(POLLOUT, m_o.writeTimeout); }

    ssize_t read(char* ptr, size_t size) override {
        if (m_at == m_end) {
            m_at = m_end = 0;
            for (;;) {
                if (ReadWait() <= Ms(0)) return -1;
                ssize_t n;
                if (m_ssl) {
                    const int r = SSL_read(m_ssl, m_buffer, sizeof m_buffer);
                    if (r > 0)
                        n = r;
                    else if (!Await(SSL_get_error(m_ssl, r), ReadWait()))
                        return -1;
                    else
                        continue;
                } else {
                    n = ::recv(m_fd, m_buffer, sizeof m_buffer, 0);
                    if (n == 0) return 0;
                    if (n < 0) {
                        if ((errno != EAGAIN && errno != EINTR) || !Poll(POLLIN, ReadWait())) return -1;
                        continue;
                    }
                }
                m_end = static_cast<std::size_t>(n);
                break;
            }
        }
        const std::size_t n = std::min(size, m_end - m_at);
        std::memcpy(ptr, m_buffer + m_at, n);
        m_at += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        for (;;) {
            if (m_ssl) {
                const int r = SSL_write(m_ssl, ptr, static_cast<int>(std::min<size_t>(size, 1 << 20)));
                if (r > 0) return r;
                if (!Await(SSL_get_error(m_ssl, r), m_o.writeTimeout)) return -1;
            } else {
                const ssize_t n = ::send(m_fd, ptr, size, MSG_NOSIGNAL);
                if (n >= 0) return n;
                if ((errno != EAGAIN && errno != EINTR) || !Poll(POLLOUT, m_o.writeTimeout)) return -1;
            }
        }
    }

    // Before closing on a request whose body was left unread: a close with
    // unread data resets the connection, and the client may lose the answer.
    void Linger() {
        if (m_ssl || ::shutdown(m_fd, SHUT_WR) != 0) return;
        m_deadline = std::chrono::steady_clock::now() + std::min(m_o.requestTimeout, Ms(2000));
        char sink[4096];
        for (std::size_t left = 1 << 20; left > 0;) {
            const ssize_t n = read(sink, sizeof sink);
            if (n <= 0) break;
            left -= std::min(left, static_cast<std::size_t>(n));
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(::getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Address(::getsockname, ip, port); }
    socket_t socket() const override { return m_fd; }

private:
    bool Buffered() const { return m_at < m_end || (m_ssl && SSL_pending(m_ssl) > 0); }

    Ms ReadWait() const {
        const auto left = std::chrono::duration_cast<Ms>(m_deadline - std::chrono::steady_clock::now());
        return std::min(left, m_o.readTimeout);
    }

    bool Poll(short events, Ms wait) {
        if (wait <= Ms(0)) return false;
        pollfd p{m_fd, events, 0};
        int r;
        do r = ::poll(&p, 1, static_cast<int>(wait.count()));
        while (r < 0 && errno == EINTR);
        return r > 0;
    }

    bool Await(int sslError, Ms wait) {
        if (sslError == SSL_ERROR_WANT_READ) return Poll(POLLIN, std::min(wait, ReadWait()));
        if (sslError == SSL_ERROR_WANT_WRITE) return Poll(POLLOUT, wait);
        return false;
    }

    template <typename F>
    void Address(F get, std::string& ip, int& port) const {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        ip.clear();
        port = -1;
        if (get(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return;
        char text[INET6_ADDRSTRLEN] = "";
        if (a.ss_family == AF_INET) {
            auto* in = reinterpret_cast<sockaddr_in*>(&a);
            ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
            port = ntohs(in->sin_port);
        } else if (a.ss_family == AF_INET6) {
            auto* in = reinterpret_cast<sockaddr_in6*>(&a);
            ::inet_ntop(AF_INET6, &in->sin6_addr, text, sizeof text);
            port = ntohs(in->sin6_port);
        }
        ip = text;
    }

    int m_fd;
    SSL* m_ssl;
    const WebOptions& m_o;
    std::chrono::steady_clock::time_point m_deadline{};
    char m_buffer[4096];
    std::size_t m_at = 0, m_end = 0;
};

bool ParseBody(const httplib::Request& req, httplib::Response& res, json& doc) {
    doc = json::parse(req.body, nullptr, false);
    if (doc.is_discarded()) return Refuse(res, 400, "(document)", "is not JSON"), false;
    return true;
}

// A JSON object holding no field but `names`.
bool ParseObject(const httplib::Request& req, httplib::Response& res, json& doc,
                 std::initializer_list<const char*> names) {
    if (!ParseBody(req, res, doc)) return false;
    if (!doc.is_object()) return Refuse(res, 400, "(document)", "must be an object"), false;
    for (const auto& [key, value] : doc.items())
        if (std::none_of(names.begin(), names.end(), [&](const char* n) { return key == n; }))
            return Refuse(res, 400, key, "unknown field"), false;
    return true;
}

void RefuseUnanswered(const httplib::Request& req, httplib::Response& res) {
    t_linger = t_linger || HasBody(req);
    if (res.body.empty())
        Refuse(res, res.status, "", res.status == 413 ? "the body is over 64 KiB" : "the request is refused", true);
}

}  // namespace

class WebServer::Http : public httplib::Server {
public:
    explicit Http(const WebOptions& options) : m_o(options) {}
    ~Http() override {
        if (m_ctx) SSL_CTX_free(m_ctx);
    }

    bool UseTls(std::string& error) {
        m_ctx = SSL_CTX_new(TLS_server_method());
        if (m_ctx && SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION) == 1 &&
            SSL_CTX_use_certificate_chain_file(m_ctx, m_o.certFile.c_str()) == 1 &&
            SSL_CTX_use_PrivateKey_file(m_ctx, m_o.keyFile.c_str(), SSL_FILETYPE_PEM) == 1 &&
            SSL_CTX_check_private_key(m_ctx) == 1)
            return true;
        char text[256] = "";
        ERR_error_string_n(ERR_get_error(), text, sizeof text);
        error = "cannot use --web-cert " + m_o.certFile + " with --web-key " + m_o.keyFile + ": " + text;
        return false;
    }
    bool tls() const { return m_ctx != nullptr; }
    // The library listens with a backlog of 5: a browser opening its
    // connections while streams reconnect would overflow it, and each
    // dropped connection waits a second for its retry.
    void Backlog(int n) { ::listen(svr_sock_, n); }

private:
    bool process_and_close_socket(socket_t sock) override {
        const svc::UniqueFd owned(sock);  // closed last, after TLS has said goodbye
        ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) | O_NONBLOCK);
        SSL* ssl = m_ctx ? SSL_new(m_ctx) : nullptr;
        Conn conn(sock, ssl, m_o);
        bool ok = !m_ctx || (ssl && SSL_set_fd(ssl, sock) == 1 && conn.Handshake());
        for (std::size_t left = 5; ok && left > 0 && conn.NextRequest(*this); --left) {
            conn.Arm();
            t_closeAfter = t_linger = false;
            bool closed = false;
            ok = process_request(conn, left == 1 || !is_running(), closed,
                                 [ssl](httplib::Request& req) { req.ssl = ssl; });
            if (closed) break;
            if (t_closeAfter) {
                if (t_linger) conn.Linger();
                break;
            }
        }
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        ::shutdown(sock, SHUT_RDWR);
        return ok;
    }

    const WebOptions& m_o;
    SSL_CTX* m_ctx = nullptr;
};

bool ParseWebSpec(std::string_view text, WebSpec& spec, std::string& error) {
    svc::Endpoint where{WebSpec{}.address, {}};
    const svc::EndpointFault fault = svc::ParseEndpoint(text, {svc::EndpointForm::kPort, true}, where);
    switch (fault.kind) {
    case svc::EndpointFault::kNone:
        spec = {where.host, std::stoi(where.port)};
        return true;
    case svc::EndpointFault::kShape:
        error = "expected [ADDRESS]:PORT for an IPv6 address";
        return false;
    case svc::EndpointFault::kNoHost:
    case svc::EndpointFault::kNotNumeric:
        error = "\"" + std::string(fault.part) + "\" is not an IP address";
        return false;
    case svc::EndpointFault::kPort:
        break;
    }
    error = "the port \"" + std::string(fault.part) + "\" is not a number from 1 to 65535";
    return false;
}

WebServer::WebServer(WebBackend& backend, WebOptions options)
    : m_backend(backend),
      m_options(std::move(options)),
      m_auth({m_options.passwordHash, m_options.tokenFile, m_options.clock, m_options.warn, m_options.verbose}) {}

WebServer::~WebServer() { Stop(); }

void WebServer::Notify() {
    {
        std::lock_guard lock(m_mutex);
        ++m_version;
    }
    m_changed.notify_all();
}

void WebServer::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_http) m_http->stop();
    if (m_thread.joinable()) m_thread.join();
}

// The console's routes, one row per method and path, and the guards each row
// passes before its handler runs.
struct WebServer::Api {
    using Request = httplib::Request;
    using Response = httplib::Response;
    using Handler = void (*)(WebServer&, const Request&, Response&);
    enum Guard : unsigned {
        kLoopbackName = 1,  // without a password, a Host that names loopback
        kSameOrigin = 2,    // a change: from this console's own page, as JSON
        kSession = 4,       // logged in
    };
    struct Route {
        std::string_view method, path;
        unsigned guards;
        Handler handler;
    };
    static const Route kRoutes[];

    static httplib::Server::HandlerResponse Admit(WebServer& s, const Request& req, Response& res);
    static void Register(WebServer& s, Http& http);

    static void Page(WebServer& s, const Request& req, Response& res);
    static void State(WebServer& s, const Request& req, Response& res);
    static void Events(WebServer& s, const Request& req, Response& res);
    static void Antenna(WebServer& s, const Request& req, Response& res);
    static void Auto(WebServer& s, const Request& req, Response& res);
    static void GetTables(WebServer& s, const Request& req, Response& res);
    static void PutTables(WebServer& s, const Request& req, Response& res);
    static void Login(WebServer& s, const Request& req, Response& res);
    static void Logout(WebServer& s, const Request& req, Response& res);

private:
    static const Route* Match(const Request& req, Response& res);
    static bool Guarded(WebServer& s, const Route& route, const Request& req, Response& res);
    static bool Radio(WebServer& s, const json& doc, Response& res, std::string& name);
};

// Allow lists a path's methods in this order.
const WebServer::Api::Route WebServer::Api::kRoutes[] = {
    {"GET", "/", kLoopbackName, &Api::Page},
    {"GET", "/api/state", kLoopbackName | kSession, &Api::State},
    {"GET", "/api/events", kLoopbackName | kSession, &Api::Events},
    {"POST", "/api/antenna", kLoopbackName | kSameOrigin | kSession, &Api::Antenna},
    {"POST", "/api/auto", kLoopbackName | kSameOrigin | kSession, &Api::Auto},
    {"GET", "/api/tables", kLoopbackName | kSession, &Api::GetTables},
    {"PUT", "/api/tables", kLoopbackName | kSameOrigin | kSession, &Api::PutTables},
    {"POST", "/api/login", kLoopbackName | kSameOrigin, &Api::Login},
    {"POST", "/api/logout", kLoopbackName | kSameOrigin, &Api::Logout},
};

const WebServer::Api::Route* WebServer::Api::Match(const Request& req, Response& res) {
    const std::string method = req.method == "HEAD" ? "GET" : req.method;
    std::string allow;
    for (const Route& route : kRoutes) {
        if (route.path != req.path) continue;
        if (route.method == method) return &route;
        allow += (allow.empty() ? "" : ", ") + std::string(route.method);
    }
    if (allow.empty()) return Refuse(res, 404, "", "no such page"), nullptr;
    res.set_header("Allow", allow);
    return Refuse(res, 405, "", req.method + " is not allowed here (" + allow + ")", true), nullptr;
}

bool WebServer::Api::Guarded(WebServer& s, const Route& route, const Request& req, Response& res) {
    const std::string host = req.get_header_value("Host");
    // Without a password only loopback names may reach it, so a page
    // elsewhere cannot rebind its own name to this address.
    if ((route.guards & kLoopbackName) && !s.m_auth.required() && !HostIsLoopback(host))
        return Refuse(res, 403, "Host", "only a loopback name reaches a console without a password", true), false;
    if (route.guards & kSameOrigin) {
        const std::string origin = std::string(s.m_http->tls() ? "https://" : "http://") + host;
        const std::string from = req.get_header_value("Origin"), referer = req.get_header_value("Referer");
        // No Origin and no Referer: no browser's cross-site request, which
        // carries an Origin (a script's, held to the JSON type below).
        const bool same = from.empty() ? referer.empty() || referer.rfind(origin + "/", 0) == 0 : from == origin;
        if (!same) return Refuse(res, 403, "Origin", "a change must come from this console's own page", true), false;
        const std::string type = req.get_header_value("Content-Type");
        if (type != "application/json" && type.rfind("application/json;", 0) != 0)
            return Refuse(res, 415, "Content-Type", "must be application/json", true), false;
    }
    if ((route.guards & kSession) &&
        !s.m_auth.Admits(Cookie(req, "kelvane_session"), req.get_header_value("Authorization")))
        return Refuse(res, 401, "", "log in first", true), false;
    return true;
}

httplib::Server::HandlerResponse WebServer::Api::Admit(WebServer& s, const Request& req, Response& res) {
    t_linger = HasBody(req);
    const Route* route = Match(req, res);
    if (!route || !Guarded(s, *route, req, res)) return httplib::Server::HandlerResponse::Handled;
    res.set_header("Cache-Control", "no-store");
    return httplib::Server::HandlerResponse::Unhandled;
}

void WebServer::Api::Register(WebServer& s, Http& http) {
    for (const Route& route : kRoutes) {
        const std::string path(route.path);
        auto run = [&s, handler = route.handler](const Request& req, Response& res) { handler(s, req, res); };
        if (route.method == "GET")
            http.Get(path, run);
        else if (route.method == "POST")
            http.Post(path, run);
        else if (route.method == "PUT")
            http.Put(path, run);
    }
}

void WebServer::Api::Page(WebServer&, const Request&, Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                   "connect-src 'self'; img-src data:; form-action 'self'; frame-ancestors 'none'");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_content(kPage.data(), kPage.size(), "text/html; charset=utf-8");
}

void WebServer::Api::State(WebServer& s, const Request&, Response& res) {
    Send(res, 200, StateJson(s.m_backend.State()));
}

void WebServer::Api::Events(WebServer& s, const Request&, Response& res) {
    if (s.m_streams.fetch_add(1) >= s.m_options.maxStreams) {
        --s.m_streams;
        return Refuse(res, 503, "", "too many open event streams", true);
    }
    // Released with the response, however the stream ends.
    auto slot = std::shared_ptr<void>(nullptr, [&s](void*) { --s.m_streams; });
    std::uint64_t seen = 0;
    bool first = true;
    res.set_chunked_content_provider(
        "text/event-stream", [&s, slot, seen, first](std::size_t, httplib::DataSink& sink) mutable {
            std::unique_lock lock(s.m_mutex);
            if (!first)
                s.m_changed.wait_for(lock, s.m_options.streamPing, [&] { return s.m_version != seen || s.m_stopping; });
            if (s.m_stopping) return false;
            const bool fresh = first || s.m_version != seen;
            first = false;
            seen = s.m_version;
            lock.unlock();
            const std::string chunk = fresh ? "data: " + StateJson(s.m_backend.State()).dump() + "\n\n" : ": ping\n\n";
            return sink.write(chunk.data(), chunk.size());
        });
}

// The radio a request names, or the only one; false when there is none such.
bool WebServer::Api::Radio(WebServer& s, const json& doc, Response& res, std::string& name) {
    const auto radios = s.m_backend.State();
    if (!doc.contains("radio")) {
        if (radios.size() == 1) return name = radios[0].name, true;
        return Refuse(res, 400, "radio", "is missing: there is more than one radio"), false;
    }
    if (!doc["radio"].is_string()) return Refuse(res, 400, "radio", "must be text"), false;
    name = doc["radio"].get<std::string>();
    for (const auto& r : radios)
        if (r.name == name) return true;
    return Refuse(res, 400, "radio", "no radio has that name"), false;
}

void WebServer::Api::Antenna(WebServer& s, const Request& req, Response& res) {
    json doc;
    std::string name;
    if (!ParseObject(req, res, doc, {"antenna", "radio"})) return;
    const json& a = doc.contains("antenna") ? doc["antenna"] : json();
    if (!a.is_number_integer() || a.get<std::int64_t>() < 1 || a.get<std::int64_t>() > kAntennaCount ||
        (a.is_number_unsigned() && a.get<std::uint64_t>() > static_cast<std::uint64_t>(kAntennaCount)))
        return Refuse(res, 400, "antenna", "a whole number from 1 to " + std::to_string(kAntennaCount));
    if (!Radio(s, doc, res, name)) return;
    const int asked = a.get<int>();
    const auto done = s.m_backend.PickAntenna(name, asked);
    if (done != svc::Picked::kTaken) s.Notify();
    const Reply reply = PickReply(name, asked, done, s.m_backend.State());
    Send(res, reply.status, reply.body);
}

void WebServer::Api::Auto(WebServer& s, const Request& req, Response& res) {
    json doc;
    std::string name;
    if (!ParseObject(req, res, doc, {"auto", "radio"})) return;
    if (!doc.contains("auto") || !doc["auto"].is_boolean()) return Refuse(res, 400, "auto", "must be true or false");
    if (!Radio(s, doc, res, name)) return;
    s.m_backend.SetAuto(name, doc["auto"].get<bool>());
    s.Notify();
    Send(res, 200, {{"radio", name}, {"auto", doc["auto"]}});
}

void WebServer::Api::GetTables(WebServer& s, const Request&, Response& res) {
    WebBackend::Tables t;
    std::string why;
    if (!s.m_backend.ReadTables(t, why)) return Refuse(res, 500, "", why);
    res.set_header("ETag", t.etag);
    Send(res, 200, TablesJson(t.station));
}

void WebServer::Api::PutTables(WebServer& s, const Request& req, Response& res) {
    const std::string ifMatch = req.get_header_value("If-Match");
    if (ifMatch.empty()) return Refuse(res, 428, "If-Match", "give the ETag of the tables this edit started from");
    json doc;
    if (!ParseBody(req, res, doc)) return;
    WebBackend::Tables t;
    std::string why, etag;
    if (!s.m_backend.ReadTables(t, why)) return Refuse(res, 500, "", why);
    if (t.etag != ifMatch)
        return Refuse(res, 409, "If-Match", "the tables changed since this page read them; reload them");
    std::vector<FieldError> errors;
    if (!ReadTables(doc, s.m_options.rules, t.station, errors)) {
        json list = json::array();
        for (const auto& e : errors) list.push_back({{"field", e.field}, {"rule", e.rule}});
        return Send(res, 400, {{"error", errors[0].field + ": " + errors[0].rule}, {"errors", list}});
    }
    switch (s.m_backend.WriteTables(t.station, ifMatch, etag, why)) {
    case WebBackend::Put::kSaved:
        res.set_header("ETag", etag);
        Send(res, 200, TablesJson(t.station));
        s.Notify();
        return;
    case WebBackend::Put::kStale:
        return Refuse(res, 409, "If-Match", "the tables changed since this page read them; reload them");
    case WebBackend::Put::kFailed:
        return Refuse(res, 500, "", "cannot save the settings file: " + why);
    }
}

void WebServer::Api::Login(WebServer& s, const Request& req, Response& res) {
    json doc;
    if (!ParseObject(req, res, doc, {"password"})) return;
    if (!doc.contains("password") || !doc["password"].is_string()) return Refuse(res, 400, "password", "must be text");
    if (!s.m_auth.required()) return Send(res, 200, {{"login", "no password is set"}});
    std::string token;
    std::chrono::seconds retry{0};
    switch (s.m_auth.TryLogin(req.remote_addr, doc["password"].get<std::string>(), token, retry)) {
    case Auth::Login::kOk:
        res.set_header("Set-Cookie", "kelvane_session=" + token + "; Path=/; HttpOnly; SameSite=Strict" +
                                         (s.m_http->tls() ? "; Secure" : ""));
        return Send(res, 200, {{"login", "ok"}});
    case Auth::Login::kWrong:
        return Refuse(res, 401, "password", "wrong password");
    case Auth::Login::kSlowDown:
        res.set_header("Retry-After", std::to_string(retry.count()));
        return Refuse(res, 429, "password",
                      "too many wrong passwords from this address; wait " + std::to_string(retry.count()) + " s");
    }
}

void WebServer::Api::Logout(WebServer& s, const Request& req, Response& res) {
    s.m_auth.Logout(Cookie(req, "kelvane_session"));
    res.set_header("Set-Cookie", "kelvane_session=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict");
    Send(res, 200, {{"logout", "ok"}});
}

bool WebServer::Start(std::string& error) {
    const WebOptions& o = m_options;
    if (!IsLoopback(o.listen.address) && o.passwordHash.empty()) {
        error = "--web on " + o.listen.address + " is reachable from other machines: give --web-password-file";
        return false;
    }
    if (o.certFile.empty() != o.keyFile.empty()) {
        error = "TLS needs both --web-cert and --web-key";
        return false;
    }
    m_http = std::make_unique<Http>(o);
    Http& http = *m_http;
    if (!o.certFile.empty() && !http.UseTls(error)) return false;

    // Every stream holds a worker; the spare ones keep the page and the API answering.
    const std::size_t workers = o.maxStreams + 8;
    http.new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    http.set_payload_max_length(kMaxBody);
    http.set_read_timeout(std::chrono::duration_cast<std::chrono::microseconds>(o.readTimeout));
    http.set_write_timeout(std::chrono::duration_cast<std::chrono::microseconds>(o.writeTimeout));
    http.set_pre_routing_handler(
        [this](const httplib::Request& req, httplib::Response& res) { return Api::Admit(*this, req, res); });
    http.set_error_handler(RefuseUnanswered);
    Api::Register(*this, http);

    // Port 0 takes any free port (the tests use it).
    m_port = o.listen.port == 0 ? http.bind_to_any_port(o.listen.address)
                                : (http.bind_to_port(o.listen.address, o.listen.port) ? o.listen.port : -1);
    if (m_port <= 0) {
        error =
            "cannot listen on " + o.listen.address + ":" + std::to_string(o.listen.port) + ": " + std::strerror(errno);
        return false;
    }
    http.Backlog(128);
    m_thread = std::thread([&http] { http.listen_after_bind(); });
    return true;
}

}  // namespace kelvane::web
