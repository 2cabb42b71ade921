#include "service/sources/flrig/flrig_client.h"

#include <httplib.h>
#include <pugixml.hpp>

#include <cstring>

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

// To the address found for the host, every wait bounded by the reply timeout.
std::unique_ptr<httplib::Client> Connection(const FlrigOptions& options, const std::string& numeric) {
    std::uint64_t port = 0;
    std::string why;
    ParseDigits(options.endpoint.port, 65535, port, why);
    auto http = std::make_unique<httplib::Client>(options.endpoint.host, static_cast<int>(port));
    http->set_hostname_addr_map({{options.endpoint.host, numeric}});
    http->set_keep_alive(true);
    http->set_connection_timeout(options.replyTimeout);
    http->set_read_timeout(options.replyTimeout);
    http->set_write_timeout(options.replyTimeout);
    return http;
}

httplib::Request MethodCall(const char* method) {
    httplib::Request request;
    request.method = "POST";
    request.path = "/RPC2";
    request.set_header("Content-Type", "text/xml");
    request.body = std::string("<?xml version=\"1.0\"?><methodCall><methodName>") + method +
                   "</methodName><params></params></methodCall>";
    return request;
}

}  // namespace

FlrigClient::FlrigClient(FlrigOptions options, std::function<Clock::time_point()> now)
    : m_options(std::move(options)), m_now(std::move(now)) {}

FlrigClient::~FlrigClient() = default;

FlrigAnswer FlrigClient::Lost(std::string why) {
    if (m_http) m_http->stop();
    m_http.reset();
    m_down = true;
    m_nextAttempt = m_now() + m_backoff.Failed();
    return FlrigAnswer{FlrigAnswer::kDown, 0, std::move(why)};
}

FlrigAnswer FlrigClient::Call(const char* method, XmlRpcValue& value) {
    if (!m_http) {
        if (m_now() < m_nextAttempt) return FlrigAnswer{FlrigAnswer::kDown, 0, "waiting to reconnect"};
        // httplib would call getaddrinfo without a bound: it gets the address
        // from the bounded lookup, so a poll never waits longer than a reply.
        std::string why;
        Resolved found;
        if (!m_lookup.Addresses(m_options.endpoint, m_options.replyTimeout, found, why))
            return Lost("cannot connect (" + why + ")");
        const std::string numeric = NumericHost(found.addresses.front());
        if (numeric.empty()) return Lost("cannot connect (no numeric address for " + m_options.endpoint.host + ")");
        m_http = Connection(m_options, numeric);
    }
    httplib::Request request = MethodCall(method);
    // The read timeout bounds each wait; this bounds the whole body, so a peer
    // that trickles bytes or sends too many cannot hold the poll.
    const auto deadline = m_now() + m_options.replyTimeout;
    std::string body;
    std::string cut;
    request.content_receiver = [&](const char* data, std::size_t length, std::uint64_t, std::uint64_t) {
        if (body.size() + length > m_options.maxReply) {
            cut = "reply longer than " + std::to_string(m_options.maxReply) + " bytes";
            return false;
        }
        if (m_now() > deadline) {
            cut = "reply not complete within " + std::to_string(m_options.replyTimeout.count()) + " ms";
            return false;
        }
        body.append(data, length);
        return true;
    };
    httplib::Response response;
    httplib::Error error = httplib::Error::Success;
    if (!m_http->send(request, response, error)) {
        if (!cut.empty()) return Lost(cut + " to " + method);
        return Lost(httplib::to_string(error) + " on " + method);
    }
    // Any HTTP reply means flrig is there, even one that is refused below.
    if (m_down) ++m_connections;
    m_down = false;
    if (response.status != 200)
        return FlrigAnswer{FlrigAnswer::kBad, 0, "HTTP status " + std::to_string(response.status) + " to " + method};
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
