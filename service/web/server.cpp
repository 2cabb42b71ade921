#include "service/web/server.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <list>
#include <thread>
#include <utility>

#include "service/web/page.h"

namespace kelvane::web {

// What a handler sees of a request and gives back: the server library stays
// in WebServer::Glue.
struct Request {
    std::string method, path, body, remote_addr;
    std::vector<std::pair<std::string, std::string>> headers;

    // The first header of that name (case-insensitive); empty when none.
    std::string get_header_value(std::string_view name) const {
        for (const auto& [key, value] : headers)
            if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), name.size()) == 0) return value;
        return {};
    }
};

struct Response {
    int status = 200;
    std::string body, contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    bool close = false;  // no further request on this connection
    // An event stream: each call blocks until the next chunk; false ends it.
    std::function<bool(std::string& chunk)> stream;

    void set_header(std::string name, std::string value) { headers.emplace_back(std::move(name), std::move(value)); }
    void set_content(std::string text, std::string type) { body = std::move(text), contentType = std::move(type); }
};

namespace {

using nlohmann::json;
using Ms = std::chrono::milliseconds;

// Bytes that are not UTF-8 become U+FFFD rather than an exception.
std::string Text(const json& doc) { return doc.dump(-1, ' ', false, json::error_handler_t::replace); }

void Send(Response& res, int status, const json& body) {
    res.status = status;
    res.set_content(Text(body), "application/json");
}

void Refuse(Response& res, int status, const std::string& field, const std::string& rule, bool close = false) {
    json body = {{"error", field.empty() ? rule : field + ": " + rule}};
    if (!field.empty()) body["errors"] = json::array({{{"field", field}, {"rule", rule}}});
    Send(res, status, body);
    res.close = res.close || close;
}

std::string Cookie(const Request& req, const std::string& name) {
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

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The name a Host header gives, without its port or brackets, in lower case;
// empty when it gives none.
std::string HostName(const std::string& header) {
    svc::Endpoint named;
    if (svc::ParseEndpoint(header, {svc::EndpointForm::kHost}, named).kind != svc::EndpointFault::kNone) return {};
    return Lower(named.host);
}

bool ParseBody(const Request& req, Response& res, json& doc) {
    doc = json::parse(req.body, nullptr, false);
    if (doc.is_discarded()) return Refuse(res, 400, "(document)", "is not JSON"), false;
    return true;
}

// A JSON object holding no field but `names`.
bool ParseObject(const Request& req, Response& res, json& doc, std::initializer_list<const char*> names) {
    if (!ParseBody(req, res, doc)) return false;
    if (!doc.is_object()) return Refuse(res, 400, "(document)", "must be an object"), false;
    for (const auto& [key, value] : doc.items())
        if (std::none_of(names.begin(), names.end(), [&](const char* n) { return key == n; }))
            return Refuse(res, 400, key, "unknown field"), false;
    return true;
}

// Connections that fit under RLIMIT_NOFILE beside what is open now and what
// the main loop may still open.
std::size_t ConnectionBudget(std::size_t wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return wanted;
    std::error_code ec;
    const std::filesystem::directory_iterator fds("/proc/self/fd", ec);
    const std::size_t open = ec ? 0 : static_cast<std::size_t>(std::distance(fds, {}));
    const std::size_t taken = open + WebServer::kMainLoopFds + 2;  // the listener and the library's wake-up
    return limit.rlim_cur > taken ? std::min<std::size_t>(wanted, limit.rlim_cur - taken) : 0;
}

bool ReadAll(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
    return in.good() || in.eof();
}

}  // namespace

// The whole-request bound. The library's timeout counts silence only, so a
// request trickling in a byte at a time would hold its connection for hours:
// each connection has a deadline until its request is in, set again after
// each answer, and one past it is shut down (the library then closes it as
// the peer's doing).
class WebServer::Deadlines {
public:
    struct Watch {
        int fd;
        std::chrono::steady_clock::time_point deadline;
    };

    explicit Deadlines(Ms limit) : m_limit(limit), m_thread([this] { Run(); }) {}
    ~Deadlines() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    Watch* Add(int fd) {
        std::lock_guard lock(m_mutex);
        m_watches.push_back({fd, std::chrono::steady_clock::now() + m_limit});
        m_changed.notify_all();
        return &m_watches.back();
    }
    // Before the library closes the descriptor, so that it is never shut down once reused.
    void Remove(Watch* watch) {
        std::lock_guard lock(m_mutex);
        m_watches.remove_if([watch](const Watch& w) { return &w == watch; });
    }
    void Renew(Watch* watch, bool forever = false) {
        std::lock_guard lock(m_mutex);
        watch->deadline =
            forever ? std::chrono::steady_clock::time_point::max() : std::chrono::steady_clock::now() + m_limit;
    }

private:
    void Run() {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            const auto now = std::chrono::steady_clock::now();
            auto next = std::chrono::steady_clock::time_point::max();
            for (Watch& w : m_watches) {
                if (w.deadline <= now) {
                    ::shutdown(w.fd, SHUT_RDWR);
                    w.deadline = std::chrono::steady_clock::time_point::max();
                }
                next = std::min(next, w.deadline);
            }
            if (next == std::chrono::steady_clock::time_point::max())
                m_changed.wait(lock);
            else
                m_changed.wait_until(lock, next);
        }
    }

    const Ms m_limit;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::list<Watch> m_watches;
    bool m_stopping = false;
    std::thread m_thread;  // last: it runs on the members above
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
      m_auth({m_options.passwordHash, m_options.tokenFile, m_options.clock, m_options.warn, m_options.verbose}) {
    for (std::string& host : m_options.hosts) host = Lower(host);
}

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
    if (m_daemon) MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    m_deadlines.reset();
}

// The console's routes, one row per method and path, and the guards each row
// passes before its handler runs.
struct WebServer::Api {
    using Handler = void (*)(WebServer&, const Request&, Response&);
    enum Guard : unsigned {
        kSameOrigin = 1,  // a change: from this console's own page, as JSON
        kSession = 2,     // logged in
    };
    struct Route {
        std::string_view method, path;
        unsigned guards;
        Handler handler;
    };
    static const Route kRoutes[];

    // Before the body is read: the route, or false with the refusal in `res`.
    static const Route* Admit(WebServer& s, const Request& req, Response& res);

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
    {"GET", "/", 0, &Api::Page},
    {"GET", "/api/state", kSession, &Api::State},
    {"GET", "/api/events", kSession, &Api::Events},
    {"POST", "/api/antenna", kSameOrigin | kSession, &Api::Antenna},
    {"POST", "/api/auto", kSameOrigin | kSession, &Api::Auto},
    {"GET", "/api/tables", kSession, &Api::GetTables},
    {"PUT", "/api/tables", kSameOrigin | kSession, &Api::PutTables},
    {"POST", "/api/login", kSameOrigin, &Api::Login},
    {"POST", "/api/logout", kSameOrigin, &Api::Logout},
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
    if (route.guards & kSameOrigin) {
        const std::string origin = std::string(s.m_tls ? "https://" : "http://") + host;
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

const WebServer::Api::Route* WebServer::Api::Admit(WebServer& s, const Request& req, Response& res) {
    // Only this console's own names, with or without a password: a page
    // elsewhere that rebinds its name to this address is refused.
    const std::string name = HostName(req.get_header_value("Host"));
    const auto& known = s.m_options.hosts;
    if (name.empty() || !(svc::IsLoopback(name) || name == Lower(s.m_options.listen.address) ||
                          std::find(known.begin(), known.end(), name) != known.end()))
        return Refuse(res, 421, "Host", "not a name of this console (web-hosts lists others)", true), nullptr;
    const Route* route = Match(req, res);
    if (!route || !Guarded(s, *route, req, res)) return nullptr;
    return route;
}

void WebServer::Api::Page(WebServer&, const Request&, Response& res) {
    res.set_header("Content-Security-Policy",
                   "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                   "connect-src 'self'; img-src data:; form-action 'self'; frame-ancestors 'none'");
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_content(std::string(kPage), "text/html; charset=utf-8");
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
    res.contentType = "text/event-stream";
    res.stream = [&s, slot, seen, first](std::string& chunk) mutable {
        std::unique_lock lock(s.m_mutex);
        if (!first)
            s.m_changed.wait_for(lock, s.m_options.streamPing, [&] { return s.m_version != seen || s.m_stopping; });
        if (s.m_stopping) return false;
        const bool fresh = first || s.m_version != seen;
        first = false;
        seen = s.m_version;
        lock.unlock();
        chunk = fresh ? "data: " + Text(StateJson(s.m_backend.State())) + "\n\n" : ": ping\n\n";
        return true;
    };
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
                                         (s.m_tls ? "; Secure" : ""));
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

// The server library's side: a request's headers, then its body in pieces,
// become a Request; a Response goes back as the library's.
struct WebServer::Glue {
    struct Exchange {
        Request req;
        const Api::Route* route = nullptr;
        bool answered = false;
    };
    struct Stream {
        std::function<bool(std::string&)> next;
        std::string pending;
        std::size_t at = 0;
    };

    static unsigned Seconds(Ms wait) {
        return static_cast<unsigned>(std::max<Ms::rep>(1, (wait.count() + 999) / 1000));
    }

    static Deadlines::Watch* WatchOf(MHD_Connection* c) {
        const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<Deadlines::Watch*>(info->socket_context) : nullptr;
    }

    static std::string Address(const sockaddr* a) {
        char text[INET6_ADDRSTRLEN] = "";
        if (a && a->sa_family == AF_INET)
            ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
        else if (a && a->sa_family == AF_INET6)
            ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text, sizeof text);
        return text;
    }

    static MHD_Result Answer(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                             const char* data, size_t* size, void** slot) {
        WebServer& s = *static_cast<WebServer*>(cls);
        auto* x = static_cast<Exchange*>(*slot);
        if (!x) {
            *slot = x = new Exchange;
            x->req.method = method;
            x->req.path = url;
            MHD_get_connection_values(
                c, MHD_HEADER_KIND,
                [](void* to, MHD_ValueKind, const char* key, const char* value) {
                    static_cast<Request*>(to)->headers.emplace_back(key, value ? value : "");
                    return MHD_YES;
                },
                &x->req);
            const MHD_ConnectionInfo* peer = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
            x->req.remote_addr = Address(peer ? peer->client_addr : nullptr);
            Response res;
            const char* length = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (length && std::strtoull(length, nullptr, 10) > kMaxBody)
                Refuse(res, 413, "", "the body is over 64 KiB", true);
            else
                x->route = Api::Admit(s, x->req, res);
            // Refused before its body was read: the answer closes the
            // connection, so that body is never read as a request.
            return x->route ? MHD_YES : Queue(s, c, *x, res);
        }
        if (!x->route || x->answered) return MHD_NO;
        if (*size > 0) {
            // A chunked body past the bound: no answer can be queued mid-body, so the connection ends.
            if (x->req.body.size() + *size > kMaxBody) return MHD_NO;
            x->req.body.append(data, *size);
            *size = 0;
            return MHD_YES;
        }
        // All of it came in time; the handler's own time (a password's hash) is not the client's.
        if (Deadlines::Watch* watch = WatchOf(c)) s.m_deadlines->Renew(watch, true);
        Response res;
        res.set_header("Cache-Control", "no-store");
        x->route->handler(s, x->req, res);
        return Queue(s, c, *x, res);
    }

    static MHD_Result Queue(WebServer& s, MHD_Connection* c, Exchange& x, Response& res) {
        x.answered = true;
        MHD_Response* r = nullptr;
        if (res.stream) {
            auto stream = std::make_unique<Stream>(Stream{std::move(res.stream), {}, 0});
            r = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, Read, stream.get(), Free);
            if (r) stream.release();
            // Its pings are its life: exempt from the request's deadline, and
            // silent for at most a ping's interval and a write.
            if (Deadlines::Watch* watch = WatchOf(c)) s.m_deadlines->Renew(watch, true);
            MHD_set_connection_option(c, MHD_CONNECTION_OPTION_TIMEOUT,
                                      Seconds(s.m_options.streamPing + s.m_options.writeTimeout));
        } else {
            r = MHD_create_response_from_buffer(res.body.size(), res.body.data(), MHD_RESPMEM_MUST_COPY);
        }
        if (!r) return MHD_NO;
        if (!res.contentType.empty()) MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, res.contentType.c_str());
        for (const auto& [name, value] : res.headers) MHD_add_response_header(r, name.c_str(), value.c_str());
        if (res.close) MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
        const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(res.status), r);
        MHD_destroy_response(r);
        return queued;
    }

    static ssize_t Read(void* cls, uint64_t, char* buffer, size_t max) {
        Stream& st = *static_cast<Stream*>(cls);
        if (st.at == st.pending.size()) {
            st.pending.clear();
            st.at = 0;
            if (!st.next(st.pending)) return MHD_CONTENT_READER_END_OF_STREAM;
        }
        const std::size_t n = std::min(max, st.pending.size() - st.at);
        std::memcpy(buffer, st.pending.data() + st.at, n);
        st.at += n;
        return static_cast<ssize_t>(n);
    }
    static void Free(void* cls) { delete static_cast<Stream*>(cls); }

    static void Completed(void* cls, MHD_Connection* c, void** slot, MHD_RequestTerminationCode) {
        delete static_cast<Exchange*>(*slot);
        *slot = nullptr;
        if (Deadlines::Watch* watch = WatchOf(c)) static_cast<WebServer*>(cls)->m_deadlines->Renew(watch);
    }

    static void Connection(void* cls, MHD_Connection* c, void** context, MHD_ConnectionNotificationCode code) {
        Deadlines& deadlines = *static_cast<WebServer*>(cls)->m_deadlines;
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo* fd = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
            if (fd) *context = deadlines.Add(fd->connect_fd);
        } else if (*context) {
            deadlines.Remove(static_cast<Deadlines::Watch*>(*context));
            *context = nullptr;
        }
    }
};

bool WebServer::Start(std::string& error) {
    WebOptions& o = m_options;
    const std::string where = o.listen.address + ":" + std::to_string(o.listen.port);
    if (!IsLoopback(o.listen.address) && o.passwordHash.empty()) {
        error = "--web on " + o.listen.address + " is reachable from other machines: give --web-password-file";
        return false;
    }
    if (o.certFile.empty() != o.keyFile.empty()) {
        error = "TLS needs both --web-cert and --web-key";
        return false;
    }
    m_tls = !o.certFile.empty();
    std::string cert, key;
    if (m_tls && !(ReadAll(o.certFile, cert) && ReadAll(o.keyFile, key))) {
        error = "cannot read --web-cert " + o.certFile + " or --web-key " + o.keyFile + ": " + std::strerror(errno);
        return false;
    }
    const std::size_t connections = ConnectionBudget(o.maxConnections);
    if (connections < 8) {
        error =
            "too few file descriptors are left for the web console's connections: raise RLIMIT_NOFILE "
            "(LimitNOFILE= under systemd)";
        return false;
    }
    o.maxStreams = std::min(o.maxStreams, connections / 2);

    sockaddr_storage address{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    const auto port = htons(static_cast<std::uint16_t>(o.listen.port));  // 0: any free port (the tests use it)
    if (::inet_pton(AF_INET, o.listen.address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET, v4->sin_port = port;
    } else if (::inet_pton(AF_INET6, o.listen.address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6, v6->sin6_port = port;
    } else {
        error = "\"" + o.listen.address + "\" is not an IP address";
        return false;
    }

    // Each connection gets a thread of its own, and MHD_USE_POLL keeps
    // descriptors past FD_SETSIZE usable.
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL;
    if (address.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
    if (m_tls) flags |= MHD_USE_TLS;
    const auto callback = [](auto f) { return reinterpret_cast<intptr_t>(f); };
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(connections), nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(std::min(o.maxPerAddress, connections / 2)),
         nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kMaxHead), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(Glue::Seconds(o.readTimeout)), nullptr},
        // Room for a browser opening its connections while streams reconnect.
        {MHD_OPTION_LISTEN_BACKLOG_SIZE, 128, nullptr},
        {MHD_OPTION_SOCK_ADDR, 0, &address},
        {MHD_OPTION_NOTIFY_COMPLETED, callback(&Glue::Completed), this},
        {MHD_OPTION_NOTIFY_CONNECTION, callback(&Glue::Connection), this},
    };
    if (m_tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, cert.data()});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, key.data()});
        options.push_back(
            {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>("NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2")});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});

    m_deadlines = std::make_unique<Deadlines>(o.requestTimeout);
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Glue::Answer, this, MHD_OPTION_ARRAY, options.data(),
                                MHD_OPTION_END);
    const MHD_DaemonInfo* bound = m_daemon ? MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
    if (bound) {
        m_port = bound->port;
        return true;
    }
    // The library does not say why: a bind of our own does, when it is the address.
    const int probe = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const bool free = probe >= 0 && ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const int why = errno;
    if (probe >= 0) ::close(probe);
    if (!free)
        error = "cannot listen on " + where + ": " + std::strerror(why);
    else if (m_tls)
        error = "cannot use --web-cert " + o.certFile + " with --web-key " + o.keyFile +
                ": not a PEM certificate and its private key";
    else
        error = "cannot serve on " + where;
    Stop();
    return false;
}

}  // namespace kelvane::web
