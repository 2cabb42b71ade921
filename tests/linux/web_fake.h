#pragma once
// A service for the web console's tests: radios on 20 m (one unless named),
// tables in memory with the ETag of their JSON, a manual pick held while
// transmitting and refused when another radio holds the antenna.

#include <algorithm>
#include <mutex>

#include "service/web/server.h"

namespace kelvane::web::test {

class FakeBackend : public WebBackend {
public:
    explicit FakeBackend(const std::vector<std::string>& names = {"1"}) {
        for (const auto& name : names) {
            RadioState r;
            r.name = name;
            r.frequency_hz = 14074000;
            r.band = RadioState::Band{5, station.bands.name[4]};
            r.source = {"rigctld 127.0.0.1:4532", "connected"};
            r.output = {"parport:/dev/parport0", "ok"};
            radios.push_back(r);
        }
        Show(radios[0], 2);
    }
    std::vector<RadioState> State() override {
        std::lock_guard lock(mutex);
        return radios;
    }
    svc::Picked PickAntenna(const std::string& name, int a) override {
        std::lock_guard lock(mutex);
        ++calls;
        if (std::any_of(radios.begin(), radios.end(),
                        [&](const RadioState& o) { return o.name != name && o.antenna && o.antenna->number == a; }))
            return svc::Picked::kTaken;
        RadioState& r = Named(name);
        r.automatic = false;
        if (r.transmitting) return r.held = a, svc::Picked::kHeld;
        if (unconfirmed) return svc::Picked::kPending;
        Show(r, a);
        return svc::Picked::kMade;
    }
    void SetAuto(const std::string& name, bool on) override {
        std::lock_guard lock(mutex);
        ++calls;
        Named(name).automatic = on;
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
        for (auto& r : radios)
            if (r.antenna) Show(r, r.antenna->number);
        etag = Etag();
        return Put::kSaved;
    }
    void Transmit(bool on) {
        std::lock_guard lock(mutex);
        RadioState& r = radios[0];
        r.transmitting = on;
        if (!on && r.held) Show(r, *r.held), r.held.reset();
    }
    std::string Etag() const { return EtagOf(TablesJson(station).dump()); }
    // Under the lock: `r` takes antenna `a` as the service would have granted
    // it; a radio it blocked, leaving, now waits for its own poll.
    void Show(RadioState& r, int a) {
        for (auto& o : radios)
            if (o.blockedBy == r.name && r.antenna && r.antenna->number != a) o.blockedBy.reset();
        const auto i = static_cast<std::size_t>(a - 1);
        r.antenna = RadioState::Antenna{a, station.tables.m_antName[i],
                                        static_cast<std::uint8_t>(station.tables.m_antValue[i])};
        r.blockedBy.reset();
    }

    std::mutex mutex;
    svc::Station station;
    std::vector<RadioState> radios;
    int calls = 0;
    bool unconfirmed = false;  // the device has not confirmed a write yet

private:
    RadioState& Named(const std::string& name) {
        return *std::find_if(radios.begin(), radios.end(), [&](const RadioState& r) { return r.name == name; });
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
