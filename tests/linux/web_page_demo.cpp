// The console's page against a fake service, for the browser check
// (web_page_check.py): prints its port, then takes "tx 1" / "tx 0" on stdin.
#include <iostream>
#include <mutex>

#include "linux/web/server.h"

using namespace kelvane;
using namespace kelvane::web;

class Demo : public WebBackend {
public:
    Demo() {
        m_radio.frequency_hz = 14074000;
        m_radio.band = RadioState::Band{5, m_station.bands.name[4]};
        m_radio.source = {"rigctld 127.0.0.1:4532", "connected"};
        m_radio.output = {"parport:/dev/parport0", "ok"};
        Show(1);
    }
    std::vector<RadioState> State() override {
        std::lock_guard lock(m_mutex);
        return {m_radio};
    }
    Pick PickAntenna(const std::string&, int a) override {
        std::lock_guard lock(m_mutex);
        m_radio.automatic = false;
        if (m_radio.transmitting) return m_radio.held = a, Pick::kHeld;
        Show(a);
        return Pick::kSwitched;
    }
    void SetAuto(const std::string&, bool on) override {
        std::lock_guard lock(m_mutex);
        m_radio.automatic = on;
    }
    bool ReadTables(Tables& t, std::string&) override {
        std::lock_guard lock(m_mutex);
        t = {m_station, EtagOf(TablesJson(m_station).dump())};
        return true;
    }
    Put WriteTables(const svc::Station& s, const std::string& ifMatch, std::string& etag, std::string&) override {
        std::lock_guard lock(m_mutex);
        if (ifMatch != EtagOf(TablesJson(m_station).dump())) return Put::kStale;
        m_station = s;
        Show(m_radio.antenna->number);
        etag = EtagOf(TablesJson(m_station).dump());
        return Put::kSaved;
    }
    void Transmit(bool on) {
        std::lock_guard lock(m_mutex);
        m_radio.transmitting = on;
        if (!on && m_radio.held) Show(*m_radio.held), m_radio.held.reset();
    }

private:
    void Show(int a) {
        const auto i = static_cast<std::size_t>(a - 1);
        m_radio.antenna = RadioState::Antenna{a, m_station.tables.m_antName[i],
                                              static_cast<std::uint8_t>(m_station.tables.m_antValue[i])};
    }
    std::mutex m_mutex;
    svc::Station m_station;
    RadioState m_radio;
};

int main() {
    Demo demo;
    WebOptions o;
    o.rules.name = [](const std::string& n) -> std::optional<std::string> {
        if (n.find_first_of("\r\n") != std::string::npos) return "a name is one line, without line breaks";
        return std::nullopt;
    };
    WebServer server(demo, o);
    std::string error;
    if (!server.Start(error)) return std::cerr << error << "\n", 1;
    std::cout << server.port() << std::endl;
    for (std::string command, value; std::cin >> command >> value;) {
        if (command == "tx") demo.Transmit(value == "1");
        server.Notify();
        std::cout << "ok" << std::endl;
    }
}
