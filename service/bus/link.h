#pragma once
// One connection to an MQTT broker through libmosquitto, on a thread of its
// own: what arrives is queued for the main thread and wakes its wait, and what
// the main thread publishes goes out from that thread. A lost connection is
// tried again after 100 ms, doubling to 10 s.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "service/base/endpoint.h"
#include "service/base/platform.h"

struct mosquitto;
struct mosquitto_message;

namespace kelvane::svc {

// mqtt://[USER@]HOST[:PORT] or mqtts://...
struct BrokerSpec {
    bool tls = false;
    std::string user;
    Endpoint where{"", "1883"};
};
bool ParseBrokerUrl(std::string_view text, BrokerSpec& out, std::string& why);

// How to reach the broker, from the options.
struct BrokerAccess {
    BrokerSpec broker;
    std::string caFile;        // empty: the system's CAs (mqtts)
    std::string passwordFile;  // its first line is the password
    std::string Where() const;
};

struct LinkSetup {
    BrokerAccess access;
    std::string clientId;  // empty: the library makes one
    struct Will {
        std::string topic, payload;
    };
    std::optional<Will> will;
    std::vector<std::string> subscriptions;
};

class Link {
public:
    struct Message {
        std::string topic, payload;
        bool retained = false;
    };
    // What changed since the last Take: the messages, whether the link came
    // up, and whether a connection or an attempt failed; `up` is the state now.
    struct Taken {
        std::vector<Message> messages;
        bool up = false, came = false, went = false;
        std::string why;  // of the last loss
    };

    explicit Link(LinkSetup setup);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Starts the thread; false with the reason when the setup cannot be used.
    bool Start(std::string& why);
    Handle WakeHandle() const { return m_wake.Ready(); }
    Taken Take();
    // Any thread; dropped while the link is down (what is retained is sent again on return).
    void Publish(const std::string& topic, std::string_view payload, bool retain, int qos = 1);
    // Publishes `last` (retained) and closes the connection, at most a second later.
    void Stop(const std::optional<LinkSetup::Will>& last);

    static constexpr std::size_t kMaxQueued = 4096;  // messages held for the main thread

private:
    void Run();
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* m);
    void Changed(bool up, std::string why);

    LinkSetup m_setup;
    mosquitto* m_mosq = nullptr;
    Wake m_wake;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_stopping = false;
    bool m_connectedOnce = false;
    Taken m_taken;
};

}  // namespace kelvane::svc
