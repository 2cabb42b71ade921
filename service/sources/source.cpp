#include "service/sources/source.h"

#include "service/sources/rigctld/rigctld_link.h"
#include "service/sources/flrig/flrig_client.h"

namespace kelvane::svc {

std::unique_ptr<Source> MakeUdpSource(const UdpSpec& spec, Log& log, std::string& why, const SteadyNow& now);
std::unique_ptr<Source> MakeFlrigSource(const Endpoint& where, Log& log);
std::unique_ptr<Source> MakeMqttSource(const SourceSpec& spec, Log& log, std::string& why, const SteadyNow& now);

namespace {

// NAME, NAME:HOST or NAME:HOST:PORT ([IPv6] in brackets), the port defaulting to `port`.
bool ParseHostSource(std::string_view text, std::string_view name, const char* port, Endpoint& out, std::string& why) {
    Endpoint endpoint{"localhost", port};
    const std::string_view rest = text.substr(name.size());
    if (!rest.empty() && ParseEndpoint(rest.substr(1), {EndpointForm::kHost}, endpoint).kind != EndpointFault::kNone) {
        why = std::string(name) + ":HOST:PORT expected, not '" + Printable(text) + "'";
        return false;
    }
    out = endpoint;
    return true;
}

bool Named(std::string_view text, std::string_view name) {
    return text.substr(0, name.size()) == name && (text.size() == name.size() || text[name.size()] == ':');
}

}  // namespace

bool ParseSourceSpec(std::string_view text, SourceSpec& out, std::string& why) {
    SourceSpec spec;
    bool ok = false;
    if (Named(text, "rigctld")) {
        ok = ParseHostSource(text, "rigctld", kRigctldPort, spec.endpoint, why);
    } else if (Named(text, "flrig")) {
        spec.kind = SourceSpec::kFlrig;
        ok = ParseFlrigSpec(text, spec.endpoint, why);
    } else if (Named(text, "udp")) {
        spec.kind = SourceSpec::kUdp;
        ok = ParseUdpSpec(text, spec.udp, why);
    } else if (text.starts_with("mqtt:")) {
        spec.kind = SourceSpec::kMqtt;
        spec.topic = std::string(text.substr(5));
        ok = !spec.topic.empty() && spec.topic.find_first_of("+#") == std::string::npos;
        if (!ok) why = "mqtt:TOPIC needs one topic, without + or #";
    } else {
        why = "expected rigctld:HOST:PORT, udp:[ADDR:]PORT[,radio=N], flrig:HOST:PORT or mqtt:TOPIC";
    }
    if (ok) out = spec;
    return ok;
}

std::unique_ptr<Source> MakeSource(const SourceSpec& spec, Log& log, std::string& why, const SteadyNow& now) {
    switch (spec.kind) {
    case SourceSpec::kUdp:
        return MakeUdpSource(spec.udp, log, why, now);
    case SourceSpec::kFlrig:
        return MakeFlrigSource(spec.endpoint, log);
    case SourceSpec::kMqtt:
        return MakeMqttSource(spec, log, why, now);
    case SourceSpec::kRigctld:
        break;
    }
    return MakeRigctldSource(LinkOptions{spec.endpoint}, log);
}

}  // namespace kelvane::svc
