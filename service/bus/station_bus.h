#pragma once
// The station on MQTT, under kelvane/STATION/: `status` (online, and the last
// will offline, retained), each radio's `state` (the console's JSON of one
// radio, retained, on change and at least every kRefresh), the commands
// `antenna/set` and `auto/set` answered on `result`, and Home Assistant's
// discovery. Commands reach the radios on the main thread, the console's way.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "service/base/log.h"
#include "service/base/pick.h"
#include "service/bus/link.h"
#include "service/web/state.h"

namespace kelvane::svc {

struct BusOptions {
    BrokerAccess access;
    std::string station;
    std::string discovery = "homeassistant";  // the discovery prefix; empty: none
};

class StationBus {
public:
    // What the commands do, on the main thread.
    struct Backend {
        std::function<Picked(const std::string& radio, int antenna)> pick;  // antenna from 1
        std::function<void(const std::string& radio, bool on)> setAuto;
        std::function<std::vector<web::RadioState>()> state;  // as the console shows it now
    };
    static constexpr std::chrono::seconds kRefresh{10};
    static constexpr std::size_t kMaxPayload = 4096;

    StationBus(BusOptions options, Log& log);
    bool Start(const std::vector<std::string>& radios, std::string& why);
    Handle WakeHandle() const { return m_link.WakeHandle(); }
    // Main thread, when woken: the link's news and the commands waiting.
    void Run(const Backend& backend, const std::vector<std::string>& antennaNames);
    // Main thread, after every round: what changed, and what is due again.
    void Publish(const std::vector<web::RadioState>& radios, const std::vector<std::string>& antennaNames);
    // Says offline and leaves.
    void Stop();

    std::string Topic(const std::string& rest) const { return m_root + rest; }

private:
    void Command(const Link::Message& m, const Backend& backend, const std::vector<std::string>& antennaNames);
    void Bad(const std::string& radio, const std::string& topic, const std::string& why);
    void Discovery(const std::vector<web::RadioState>& radios, const std::vector<std::string>& antennaNames);
    void Forget(const Link::Message& m);
    std::string ConfigTopic(const char* component, const std::string& object) const;

    BusOptions m_options;
    Log& m_log;
    std::string m_root;  // kelvane/STATION/
    Link m_link;
    bool m_up = false;
    bool m_announced = false;                    // discovery sent on this connection with these names
    std::vector<std::string> m_namesSent;        // the antenna names it declared
    std::set<std::string> m_configs;             // the discovery topics this station declares now
    std::map<std::string, std::string> m_shown;  // per radio, its state as last published
    std::chrono::steady_clock::time_point m_sent{}, m_lastBad{};
};

}  // namespace kelvane::svc
