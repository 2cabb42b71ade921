#include "service/sources/flrig/flrig_client.h"

#include <pugixml.hpp>

#include <cstdint>
#include <cstring>
#include <optional>

namespace kelvane::svc {
namespace {

// 10 THz: above every band.
constexpr std::uint64_t kMaxHertz = 10'000'000'000'000;

XmlRpcValue Bad(std::string why) { return XmlRpcValue{XmlRpcValue::kBad, std::move(why), 0}; }

// The only element child of `node`, if it has exactly one and no text beside it.
pugi::xml_node OnlyChild(const pugi::xml_node& node, const char* name) {
    pugi::xml_node found;
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_comment) continue;
        if (child.type() != pugi::node_element || found || std::strcmp(child.name(), name) != 0) return {};
        found = child;
    }
    return found;
}

// A <value>: bare text or <string> is a string; <i4> or <int> an int; the rest is refused.
XmlRpcValue ReadValue(const pugi::xml_node& value) {
    pugi::xml_node typed;
    std::string_view text;
    for (const pugi::xml_node& child : value.children()) {
        if (child.type() == pugi::node_element) {
            if (typed) return Bad("a value with two types");
            typed = child;
        } else if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            text = child.value();
        }
    }
    if (!typed) return XmlRpcValue{XmlRpcValue::kString, std::string(text), 0};
    if (!text.empty()) return Bad("text beside a typed value");
    if (typed.first_child() && typed.first_child().type() == pugi::node_element)
        return Bad(std::string("<") + typed.name() + "> holds elements");
    const std::string_view inner = typed.child_value();
    if (std::strcmp(typed.name(), "string") == 0) return XmlRpcValue{XmlRpcValue::kString, std::string(inner), 0};
    if (std::strcmp(typed.name(), "i4") == 0 || std::strcmp(typed.name(), "int") == 0) {
        const bool negative = !inner.empty() && inner.front() == '-';
        std::uint64_t magnitude = 0;
        std::string why;
        if (!ParseDigits(inner.substr(negative ? 1 : 0), negative ? 2147483648u : 2147483647u, magnitude, why))
            return Bad("int '" + Printable(inner) + "': " + why);
        const auto signedMagnitude = static_cast<std::int64_t>(magnitude);
        return XmlRpcValue{XmlRpcValue::kInt, {}, negative ? -signedMagnitude : signedMagnitude};
    }
    return Bad(std::string("a value of type <") + Printable(typed.name()) + ">");
}

}  // namespace

bool ParseFlrigSpec(std::string_view text, Endpoint& out, std::string& why) {
    if (text.substr(0, 5) != "flrig" || (text.size() > 5 && text[5] != ':')) {
        why = "not a flrig source";
        return false;
    }
    Endpoint endpoint{"localhost", kFlrigPort};
    // A bare host (no port, or an IPv6 address in brackets alone) takes flrig's port.
    if (text.size() > 6 &&
        ParseEndpoint(text.substr(6), {EndpointForm::kHost}, endpoint).kind != EndpointFault::kNone) {
        why = "flrig:HOST:PORT expected, not '" + Printable(text) + "'";
        return false;
    }
    if (text.size() == 6) {
        why = "flrig: without a host";
        return false;
    }
    out = endpoint;
    why.clear();
    return true;
}

XmlRpcValue ReadXmlRpcResponse(std::string_view body) {
    // As for RadioInfo: no DOCTYPE, so no entity other than the predefined ones.
    if (body.find('\0') != std::string_view::npos) return Bad("byte 0 in the reply");
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed =
        doc.load_buffer(body.data(), body.size(), pugi::parse_default | pugi::parse_doctype, pugi::encoding_utf8);
    if (!parsed) return Bad(std::string("not XML (") + parsed.description() + ")");
    int roots = 0;
    for (const pugi::xml_node& node : doc.children()) {
        if (node.type() == pugi::node_doctype) return Bad("a reply with a DOCTYPE");
        if (node.type() == pugi::node_element) ++roots;
    }
    const pugi::xml_node response = doc.document_element();
    if (roots != 1 || std::strcmp(response.name(), "methodResponse") != 0) return Bad("no methodResponse");
    if (const pugi::xml_node fault = OnlyChild(response, "fault")) {
        const pugi::xml_node strukt = OnlyChild(OnlyChild(fault, "value"), "struct");
        for (const pugi::xml_node& member : strukt.children("member")) {
            if (std::string_view(member.child_value("name")) != "faultString") continue;
            const XmlRpcValue text = ReadValue(member.child("value"));
            if (text.kind == XmlRpcValue::kString) return XmlRpcValue{XmlRpcValue::kFault, text.text, 0};
        }
        return Bad("a fault without a faultString");
    }
    const pugi::xml_node value = OnlyChild(OnlyChild(OnlyChild(response, "params"), "param"), "value");
    if (!value) return Bad("not one params/param/value");
    return ReadValue(value);
}

namespace {

std::string MethodCall(const char* method, const Endpoint& where) {
    const std::string body = std::string("<?xml version=\"1.0\"?><methodCall><methodName>") + method +
                             "</methodName><params></params></methodCall>";
    return "POST /RPC2 HTTP/1.1\r\nHost: " + where.host + ":" + where.port +
           "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The value of header `name` (lower case) in `head`, blanks trimmed; nothing when absent.
std::optional<std::string_view> Header(std::string_view head, std::string_view name) {
    for (std::size_t at = head.find("\r\n"); at != std::string_view::npos; at = head.find("\r\n", at + 2)) {
        const std::string_view line = head.substr(at + 2, head.find("\r\n", at + 2) - at - 2);
        const std::size_t colon = line.find(':');
        if (colon != name.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < colon; ++i) same = same && Lower(line[i]) == name[i];
        if (!same) continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
        return value;
    }
    return std::nullopt;
}

}  // namespace

FlrigClient::FlrigClient(FlrigOptions options, std::function<Clock::time_point()> now)
    : m_options(std::move(options)), m_now(std::move(now)) {}

FlrigClient::~FlrigClient() = default;

FlrigAnswer FlrigClient::Lost(std::string why) {
    m_stream.Close();
    m_down = true;
    m_nextAttempt = m_now() + m_backoff.Failed();
    return FlrigAnswer{FlrigAnswer::kDown, 0, std::move(why)};
}

// A kept connection the peer has closed, or that holds bytes nobody asked
// for, is given up before it is used: one more connect, in the same exchange.
bool FlrigClient::Usable() {
    if (!m_stream.Connected()) return false;
    char byte;
    std::size_t got = 0;
    std::string error;
    if (m_stream.Receive(&byte, 1, got, Clock::now(), error) == StreamSocket::Io::kTimeout) return true;
    m_stream.Close();
    return false;
}

// One HTTP/1.1 POST, its connect, headers and body all within one deadline:
// httplib bounds each read alone, so a peer that trickles its header bytes
// would hold the caller for as long as it trickles.
FlrigAnswer FlrigClient::Exchange(const char* method, int& status, std::string& body) {
    const auto deadline = Clock::now() + m_options.replyTimeout;
    const std::string late = "reply not complete within " + std::to_string(m_options.replyTimeout.count()) + " ms to ";
    std::string error;
    if (!Usable()) {
        if (m_now() < m_nextAttempt) return FlrigAnswer{FlrigAnswer::kDown, 0, "waiting to reconnect"};
        Resolved found;
        if (!m_lookup.Addresses(m_options.endpoint, m_options.replyTimeout, found, error) ||
            !m_stream.Connect(found, deadline, error))
            return Lost("cannot connect (" + error + ")");
    }
    switch (m_stream.Send(MethodCall(method, m_options.endpoint), deadline, error)) {
    case StreamSocket::Io::kDone:
        break;
    case StreamSocket::Io::kTimeout:
        return Lost(late + method);
    case StreamSocket::Io::kClosed:
    case StreamSocket::Io::kFailed:
        return Lost("connection lost (" + error + ") on " + method);
    }
    std::string got;
    std::size_t headEnd = std::string::npos, length = std::string::npos;
    bool close = false;
    for (char buf[4096];;) {
        if (headEnd != std::string::npos && length != std::string::npos && got.size() >= headEnd + length) break;
        std::size_t n = 0;
        const StreamSocket::Io io = m_stream.Receive(buf, sizeof buf, n, deadline, error);
        if (io == StreamSocket::Io::kTimeout) return Lost(late + method);
        if (io == StreamSocket::Io::kFailed) return Lost("connection lost (" + error + ") on " + method);
        if (io == StreamSocket::Io::kClosed) {
            // Without a length, a body ends where the connection does.
            if (headEnd != std::string::npos && length == std::string::npos) break;
            return Lost("connection closed before the reply to " + std::string(method));
        }
        got.append(buf, n);
        if (headEnd == std::string::npos) {
            const std::size_t blank = got.find("\r\n\r\n");
            if (blank == std::string::npos) {
                if (got.size() > m_options.maxReply)
                    return Lost("reply headers longer than " + std::to_string(m_options.maxReply) + " bytes to " +
                                method);
                continue;
            }
            headEnd = blank + 4;
            const std::string_view head(got.data(), blank);
            if (head.substr(0, 7) != "HTTP/1." || head.size() < 12 || head[8] != ' ')
                return Lost("no HTTP reply to " + std::string(method));
            std::uint64_t code = 0;
            if (!ParseDigits(head.substr(9, 3), 999, code, error))
                return Lost("no HTTP status in the reply to " + std::string(method));
            status = static_cast<int>(code);
            close = head[7] == '0' || Header(head, "connection") == "close";
            if (Header(head, "transfer-encoding")) return Lost("a chunked reply to " + std::string(method));
            if (const auto value = Header(head, "content-length")) {
                std::uint64_t bytes = 0;
                if (!ParseDigits(*value, UINT32_MAX, bytes, error))
                    return Lost("a bad Content-Length in the reply to " + std::string(method));
                length = static_cast<std::size_t>(bytes);
            }
        }
        if (got.size() - headEnd > m_options.maxReply || (length != std::string::npos && length > m_options.maxReply))
            return Lost("reply longer than " + std::to_string(m_options.maxReply) + " bytes to " + method);
    }
    body = got.substr(headEnd, length);
    // Bytes past the reply belong to no question: the connection is not kept.
    if (close || (length != std::string::npos && got.size() > headEnd + length)) m_stream.Close();
    return FlrigAnswer{FlrigAnswer::kValue, 0, {}};
}

FlrigAnswer FlrigClient::Call(const char* method, XmlRpcValue& value) {
    int status = 0;
    std::string body;
    if (FlrigAnswer sent = Exchange(method, status, body); sent.kind != FlrigAnswer::kValue) return sent;
    // Any HTTP reply means flrig is there, even one that is refused below.
    if (m_down) ++m_connections;
    m_down = false;
    if (status != 200)
        return FlrigAnswer{FlrigAnswer::kBad, 0, "HTTP status " + std::to_string(status) + " to " + method};
    value = ReadXmlRpcResponse(body);
    if (value.kind == XmlRpcValue::kBad)
        return FlrigAnswer{FlrigAnswer::kBad, 0, value.text + " in the reply to " + method};
    if (value.kind == XmlRpcValue::kFault)
        return FlrigAnswer{FlrigAnswer::kBad, 0, "fault '" + Printable(value.text) + "' to " + method};
    m_backoff.Answered();
    return FlrigAnswer{FlrigAnswer::kValue, 0, {}};
}

FlrigAnswer FlrigClient::Frequency() {
    XmlRpcValue value;
    FlrigAnswer answer = Call("rig.get_vfo", value);
    if (answer.kind != FlrigAnswer::kValue) return answer;
    std::string why;
    if (value.kind != XmlRpcValue::kString)
        return FlrigAnswer{FlrigAnswer::kBad, 0, "rig.get_vfo answered an int, not a string of hertz"};
    if (!ParseDigits(value.text, kMaxHertz, answer.value, why))
        return FlrigAnswer{FlrigAnswer::kBad, 0, "rig.get_vfo '" + Printable(value.text) + "': " + why};
    return answer;
}

FlrigAnswer FlrigClient::Ptt() {
    XmlRpcValue value;
    FlrigAnswer answer = Call("rig.get_ptt", value);
    if (answer.kind != FlrigAnswer::kValue) return answer;
    if (value.kind != XmlRpcValue::kInt)
        return FlrigAnswer{FlrigAnswer::kBad, 0, "rig.get_ptt answered a string, not an int"};
    if (value.number != 0 && value.number != 1)
        return FlrigAnswer{FlrigAnswer::kBad, 0, "rig.get_ptt answered " + std::to_string(value.number)};
    answer.value = static_cast<std::uint64_t>(value.number);
    return answer;
}

}  // namespace kelvane::svc
