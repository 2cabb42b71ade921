#include "service/bus/station_bus.h"

#include "core/ctext.h"
#include "core/tables.h"
#include "service/base/digits.h"
#include "service/base/text.h"

namespace kelvane::svc {
namespace {

using nlohmann::json;

constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";

// Home Assistant's select offers the names when they tell the antennas apart, else the numbers.
bool NamesUsable(const std::vector<std::string>& names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (Trim(names[i]).empty() || Trim(names[i]) != names[i] || !IsUtf8(names[i])) return false;
        for (std::size_t j = 0; j < i; ++j)
            if (names[j] == names[i]) return false;
    }
    return true;
}

// Whole-word answers the way Home Assistant's switch and people both write them.
std::optional<bool> OnOff(const std::string& text) {
    for (const char* yes : {"true", "ON", "on"})
        if (text == yes) return true;
    for (const char* no : {"false", "OFF", "off"})
        if (text == no) return false;
    return std::nullopt;
}

}  // namespace

StationBus::StationBus(BusOptions options, Log& log)
    : m_options(std::move(options)), m_log(log), m_root("kelvane/" + m_options.station + "/"), m_link([this] {
          LinkSetup setup{m_options.access,
                          "kelvane-" + m_options.station + "-" + std::to_string(ProcessId()),
                          LinkSetup::Will{m_root + "status", kOffline},
                          {m_root + "radio/+/antenna/set", m_root + "radio/+/auto/set"}};
          if (!m_options.discovery.empty())
              setup.subscriptions.push_back(m_options.discovery + "/+/kelvane_" + m_options.station + "/+/config");
          return setup;
      }()) {}

std::string StationBus::ConfigTopic(const char* component, const std::string& object) const {
    return m_options.discovery + "/" + component + "/kelvane_" + m_options.station + "/" + object + "/config";
}

bool StationBus::Start(const std::vector<std::string>& radios, std::string& why) {
    if (!m_options.discovery.empty())
        for (const std::string& r : radios)
            for (const char* c : {"select", "sensor", "binary_sensor", "switch"})
                m_configs.insert(ConfigTopic(c, r + "_" + c));
    if (!m_link.Start(why)) return why = "mqtt " + m_options.access.Where() + ": " + why, false;
    return true;
}

void StationBus::Run(const Backend& backend, const std::vector<std::string>& antennaNames) {
    Link::Taken taken = m_link.Take();
    const std::string where = "the MQTT broker " + m_options.access.Where();
    if (taken.went && !taken.up)
        m_log.Begin(Condition::kBroker, Log::kWarning,
                    where + " cannot be reached (" + taken.why + "); switching goes on, the bus is tried again");
    if (taken.came && taken.up) {
        if (!m_log.End(Condition::kBroker, where + " is reached again; the station's state is published again"))
            m_log.Info("on " + where + " as kelvane/" + m_options.station);
        m_link.Publish(Topic("status"), kOnline, true);
        m_shown.clear();
        m_announced = false;
    }
    m_up = taken.up;
    for (const Link::Message& m : taken.messages)
        if (!m_options.discovery.empty() && m.topic.starts_with(m_options.discovery + "/"))
            Forget(m);
        else
            Command(m, backend, antennaNames);
}

void StationBus::Command(const Link::Message& m, const Backend& backend, const std::vector<std::string>& antennaNames) {
    const std::string rest = m.topic.substr(Topic("radio/").size());
    const std::string radio = rest.substr(0, rest.find('/'));
    const bool isAuto = rest.ends_with("/auto/set");
    // A command kept by the broker would act again at every connect, long after it was meant.
    if (m.retained) return Bad({}, m.topic, "a retained command is never acted on");
    if (m.payload.size() > kMaxPayload) return Bad(radio, m.topic, "over 4 KiB");
    if (!IsUtf8(m.payload)) return Bad(radio, m.topic, "not UTF-8 text");
    bool known = false;
    for (const auto& r : backend.state()) known = known || r.name == radio;
    if (!known) return Bad(radio, m.topic, "no radio has that name");
    const std::string text(Trim(m.payload));
    if (isAuto) {
        const auto on = OnOff(text);
        if (!on) return Bad(radio, m.topic, "expected true, false, ON or OFF");
        backend.setAuto(radio, *on);
        m_link.Publish(Topic("radio/" + radio + "/result"), json{{"radio", radio}, {"auto", *on}}.dump(), false);
        return;
    }
    int antenna = 0;
    std::uint64_t number = 0;
    std::string why;
    if (ParseDigits(text, kAntennaCount, number, why) && number >= 1) antenna = static_cast<int>(number);
    for (std::size_t i = 0; antenna == 0 && i < antennaNames.size(); ++i)
        if (!text.empty() && antennaNames[i] == text) antenna = static_cast<int>(i) + 1;
    if (antenna == 0) return Bad(radio, m.topic, "no antenna has that number or name");
    const Picked done = backend.pick(radio, antenna);
    const web::Reply reply = web::PickReply(radio, antenna, done, backend.state());
    m_link.Publish(Topic("radio/" + radio + "/result"), reply.body.dump(), false);
}

void StationBus::Bad(const std::string& radio, const std::string& topic, const std::string& why) {
    m_lastBad = std::chrono::steady_clock::now();
    m_log.Begin(Condition::kBadCommand, Log::kWarning,
                "MQTT " + Utf8Text(topic) + ": " + why + "; such commands change nothing");
    if (!radio.empty()) m_link.Publish(Topic("radio/" + radio + "/result"), json{{"error", why}}.dump(), false);
}

void StationBus::Forget(const Link::Message& m) {
    // A radio gone from the config: its entities go with an empty config.
    if (!m.payload.empty() && !m_configs.contains(m.topic)) m_link.Publish(m.topic, "", true);
}

void StationBus::Discovery(const std::vector<web::RadioState>& radios, const std::vector<std::string>& antennaNames) {
    const bool byName = NamesUsable(antennaNames);
    json options = json::array();
    for (std::size_t i = 0; i < antennaNames.size(); ++i)
        options.push_back(byName ? antennaNames[i] : std::to_string(i + 1));
    const json device = {{"identifiers", json::array({"kelvane_" + m_options.station})},
                         {"name", "Kelvane " + m_options.station},
                         {"model", "antenna switch"},
                         {"manufacturer", "Kelvane"}};
    for (const web::RadioState& r : radios) {
        const std::string base = Topic("radio/" + r.name + "/");
        const auto entity = [&](const char* component, const std::string& what, json extra) {
            const std::string object = r.name + "_" + component;
            extra.update({{"name", r.name + " " + what},
                          {"unique_id", "kelvane_" + m_options.station + "_" + object},
                          {"object_id", "kelvane_" + m_options.station + "_" + object},
                          {"state_topic", base + "state"},
                          {"availability_topic", Topic("status")},
                          {"payload_available", kOnline},
                          {"payload_not_available", kOffline},
                          {"device", device}});
            m_link.Publish(ConfigTopic(component, object), extra.dump(), true);
        };
        entity("select", "antenna",
               {{"command_topic", base + "antenna/set"},
                {"options", options},
                {"value_template", byName ? "{{ value_json.antenna.name if value_json.antenna else None }}"
                                          : "{{ value_json.antenna.number if value_json.antenna else None }}"}});
        entity("sensor", "frequency",
               {{"device_class", "frequency"},
                {"unit_of_measurement", "Hz"},
                {"state_class", "measurement"},
                {"value_template", "{{ value_json.frequency_hz }}"}});
        entity(
            "binary_sensor", "transmitting",
            {{"value_template",
              "{{ None if value_json.transmit_known is defined else ('ON' if value_json.transmitting else 'OFF') }}"}});
        entity("switch", "auto",
               {{"command_topic", base + "auto/set"},
                {"payload_on", "ON"},
                {"payload_off", "OFF"},
                {"value_template", "{{ 'ON' if value_json.auto else 'OFF' }}"}});
    }
    m_namesSent = antennaNames;
    m_announced = true;
}

void StationBus::Publish(const std::vector<web::RadioState>& radios, const std::vector<std::string>& antennaNames) {
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastBad >= Log::kRemindEvery) m_log.End(Condition::kBadCommand, "MQTT commands are read again");
    if (!m_up) return;
    const bool due = now - m_sent >= kRefresh;
    if (due) m_sent = now;
    for (const web::RadioState& r : radios) {
        std::string shown = web::RadioJson(r).dump();
        std::string& last = m_shown[r.name];
        if (!due && shown == last) continue;
        m_link.Publish(Topic("radio/" + r.name + "/state"), shown, true, 0);
        last = std::move(shown);
    }
    if (!m_options.discovery.empty() && (!m_announced || antennaNames != m_namesSent)) Discovery(radios, antennaNames);
}

void StationBus::Stop() { m_link.Stop(LinkSetup::Will{Topic("status"), kOffline}); }

}  // namespace kelvane::svc
