#pragma once
// A service for the web console's tests: one radio on 20 m, tables in memory
// with the ETag of their JSON, a manual pick held while transmitting.

#include <mutex>

#include "linux/web/server.h"

namespace kelvane::web::test {

class FakeBackend : public WebBackend {
public:
    FakeBackend() {
        radio.frequency_hz = 14074000;
        radio.band = RadioState::Band{5, station.bands.name[4]};
        radio.source = {"rigctld 127.0.0.1:4532", "connected"};
        radio.output = {"parport:/dev/parport0", "ok"};
        Show(2);
    }
    std::vector<RadioState> State() override {
        std::lock_guard lock(mutex);
        return {radio};
    }
    Pick PickAntenna(const std::string&, int a) override {
        std::lock_guard lock(mutex);
        ++calls;
        radio.automatic = false;
        if (radio.transmitting) return radio.held = a, Pick::kHeld;
        Show(a);
        return Pick::kSwitched;
    }
    void SetAuto(const std::string&, bool on) override {
        std::lock_guard lock(mutex);
        ++calls;
        radio.automatic = on;
    }
    bool ReadTables(Tables& t, std::string&) override {
        std::lock_guard lock(mutex);
        t = {station, Etag()};
        return true;
    }
    Put WriteTables(const svc::Station& s, const std::string& ifMatch, std::string& etag, std::string&) override {
        std::lock_guard lock(mutex);
        if (ifMatch != Etag()) return Put::kStale;
        ++calls;
        station = s;
        Show(radio.antenna->number);
        etag = Etag();
        return Put::kSaved;
    }
    void Transmit(bool on) {
        std::lock_guard lock(mutex);
        radio.transmitting = on;
        if (!on && radio.held) Show(*radio.held), radio.held.reset();
    }
    std::string Etag() const { return EtagOf(TablesJson(station).dump()); }

    std::mutex mutex;
    svc::Station station;
    RadioState radio;
    int calls = 0;

private:
    void Show(int a) {
        const auto i = static_cast<std::size_t>(a - 1);
        radio.antenna = RadioState::Antenna{a, station.tables.m_antName[i],
                                            static_cast<std::uint8_t>(station.tables.m_antValue[i])};
    }
};

// The name rule of `kelvane settings`, as the service passes it in.
inline FieldRules OneLineNames() {
    return {[](const std::string& n) -> std::optional<std::string> {
        if (n.find_first_of("\r\n") != std::string::npos) return "a name is one line, without line breaks";
        return std::nullopt;
    }};
}

}  // namespace kelvane::web::test
