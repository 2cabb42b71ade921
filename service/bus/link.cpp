#include "service/bus/link.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstring>

#include "service/sources/backoff.h"

namespace kelvane::svc {
namespace {

constexpr int kKeepaliveSeconds = 10;
constexpr std::chrono::seconds kStopLimit{1};

std::string Reason(int rc) { return rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc); }

// The password file's first line.
bool ReadPassword(const std::string& path, std::string& password, std::string& why) {
    std::string bytes;
    if (ReadFileBytes(path, 4096, bytes, why) != FileRead::kOk) {
        why = "cannot read " + path + (why.empty() ? ": it is not there" : ": " + why);
        return false;
    }
    password = bytes.substr(0, bytes.find_first_of("\r\n"));
    return true;
}

}  // namespace

bool ParseBrokerUrl(std::string_view text, BrokerSpec& out, std::string& why) {
    BrokerSpec spec;
    std::string_view rest;
    if (text.starts_with("mqtt://")) {
        rest = text.substr(7);
    } else if (text.starts_with("mqtts://")) {
        rest = text.substr(8);
        spec.tls = true;
        spec.where.port = "8883";
    } else {
        why = "expected mqtt://[USER@]HOST[:PORT] or mqtts://...";
        return false;
    }
    if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
        spec.user = std::string(rest.substr(0, at));
        rest.remove_prefix(at + 1);
        if (spec.user.empty()) return why = "the user before @ is empty", false;
    }
    const EndpointFault fault = ParseEndpoint(rest, {EndpointForm::kHost}, spec.where);
    if (fault.kind != EndpointFault::kNone) {
        why = fault.kind == EndpointFault::kPort ? "the port \"" + std::string(fault.part) + "\" is not 1 to 65535"
                                                 : "expected HOST[:PORT] after the scheme";
        return false;
    }
    out = spec;
    return true;
}

std::string BrokerAccess::Where() const {
    const bool v6 = broker.where.host.find(':') != std::string::npos;
    return std::string(broker.tls ? "mqtts://" : "mqtt://") + (v6 ? "[" + broker.where.host + "]" : broker.where.host) +
           ":" + broker.where.port;
}

Link::Link(LinkSetup setup) : m_setup(std::move(setup)) {}

Link::~Link() {
    Stop(std::nullopt);
    if (m_mosq) mosquitto_destroy(m_mosq);
}

bool Link::Start(std::string& why) {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
    if (!m_wake.Open(why)) return false;
    const BrokerAccess& a = m_setup.access;
    m_mosq = mosquitto_new(m_setup.clientId.empty() ? nullptr : m_setup.clientId.c_str(), true, this);
    if (!m_mosq) return why = std::string("cannot make an MQTT client: ") + std::strerror(errno), false;
    mosquitto_threaded_set(m_mosq, true);
    // Version 5 tells a retained message from a live one even to a subscriber that was there already.
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // A state is one small packet: Nagle would hold it for the broker's delayed ACK.
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    std::string password;
    if (!a.passwordFile.empty()) {
        if (a.broker.user.empty()) return why = "mqtt-password-file needs a USER@ in the mqtt URL", false;
        if (!ReadPassword(a.passwordFile, password, why)) return false;
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (!a.broker.user.empty())
        rc = mosquitto_username_pw_set(m_mosq, a.broker.user.c_str(),
                                       a.passwordFile.empty() ? nullptr : password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && a.broker.tls)
        rc = a.caFile.empty() ? mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                              : mosquitto_tls_set(m_mosq, a.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
    if (rc == MOSQ_ERR_SUCCESS && m_setup.will)
        rc = mosquitto_will_set(m_mosq, m_setup.will->topic.c_str(), static_cast<int>(m_setup.will->payload.size()),
                                m_setup.will->payload.data(), 1, true);
    if (rc != MOSQ_ERR_SUCCESS) return why = "the MQTT client refuses its setup: " + Reason(rc), false;
    mosquitto_connect_callback_set(m_mosq, &Link::OnConnect);
    mosquitto_disconnect_callback_set(m_mosq, &Link::OnDisconnect);
    mosquitto_message_callback_set(m_mosq, &Link::OnMessage);
    m_thread = std::thread(&Link::Run, this);
    return true;
}

void Link::Run() {
    Backoff backoff(std::chrono::milliseconds{100}, std::chrono::seconds{10});
    const Endpoint& where = m_setup.access.broker.where;
    std::unique_lock lock(m_mutex);
    std::chrono::steady_clock::time_point stopBy{};
    while (!m_stopping) {
        lock.unlock();
        int rc = mosquitto_connect_async(m_mosq, where.host.c_str(), std::stoi(where.port), kKeepaliveSeconds);
        bool answered = false;
        while (rc == MOSQ_ERR_SUCCESS) {
            rc = mosquitto_loop(m_mosq, 100, 1);
            lock.lock();
            answered = answered || m_taken.up;
            if (m_stopping && stopBy == std::chrono::steady_clock::time_point{})
                stopBy = std::chrono::steady_clock::now() + kStopLimit;
            const bool late = m_stopping && std::chrono::steady_clock::now() > stopBy;
            lock.unlock();
            if (late) break;
        }
        Changed(false, Reason(rc));
        if (answered) backoff.Answered();
        lock.lock();
        m_stopped.wait_for(lock, backoff.Failed(), [this] { return m_stopping; });
    }
}

void Link::Changed(bool up, std::string why) {
    {
        std::lock_guard lock(m_mutex);
        if (up && !m_taken.up) m_taken.came = true;
        if (!up) m_taken.went = true;
        m_taken.up = up;
        if (!up) m_taken.why = std::move(why);
    }
    m_wake.Signal();
}

void Link::OnConnect(mosquitto* m, void* self, int rc) {
    auto& link = *static_cast<Link*>(self);
    if (rc != 0) return link.Changed(false, mosquitto_connack_string(rc));
    for (const std::string& topic : link.m_setup.subscriptions)
        mosquitto_subscribe_v5(m, nullptr, topic.c_str(), 1, MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
    link.Changed(true, {});
}

void Link::OnDisconnect(mosquitto*, void* self, int rc) {
    static_cast<Link*>(self)->Changed(false, rc == 0 ? "disconnected" : Reason(rc));
}

void Link::OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
    auto& link = *static_cast<Link*>(self);
    {
        std::lock_guard lock(link.m_mutex);
        auto& queue = link.m_taken.messages;
        // A main thread far behind gets the newest: the older ones are superseded.
        if (queue.size() >= kMaxQueued) queue.erase(queue.begin());
        queue.push_back({m->topic,
                         std::string(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen)),
                         m->retain});
    }
    link.m_wake.Signal();
}

Link::Taken Link::Take() {
    m_wake.Clear();
    std::lock_guard lock(m_mutex);
    Taken taken = std::move(m_taken);
    m_taken = Taken{};
    m_taken.up = taken.up;
    m_taken.why = taken.why;
    return taken;
}

void Link::Publish(const std::string& topic, std::string_view payload, bool retain, int qos) {
    if (m_mosq)
        mosquitto_publish(m_mosq, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos,
                          retain);
}

void Link::Stop(const std::optional<LinkSetup::Will>& last) {
    if (!m_thread.joinable()) return;
    if (last) Publish(last->topic, last->payload, true);
    mosquitto_disconnect(m_mosq);
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    m_thread.join();
}

}  // namespace kelvane::svc
