#include "service/web/state.h"

#include <sodium.h>

#include <cmath>
#include <limits>

#include "service/base/text.h"

namespace kelvane::web {
namespace {

using nlohmann::json;

// Every string enters the JSON as UTF-8, so that dumping it cannot throw.
json Text(const std::string& s) { return svc::Utf8Text(s); }

json FrequencyJson(double hz) {
    // Rigs report whole hertz; "14074000" reads better than "14074000.0".
    if (std::isfinite(hz) && hz == std::floor(hz) && std::fabs(hz) < 9e15) return static_cast<std::int64_t>(hz);
    return std::isfinite(hz) ? json(hz) : json(nullptr);
}

// Collects refusals while walking a document; each check says whether the field passed.
class Reader {
public:
    explicit Reader(std::vector<FieldError>& errors) : m_errors(errors) {}

    bool Refuse(const std::string& field, const std::string& rule) {
        m_errors.push_back({field, rule});
        return false;
    }

    // Only the named members, each present.
    bool Members(const json& object, const std::string& field, std::initializer_list<const char*> names) {
        if (!object.is_object()) return Refuse(field.empty() ? "(document)" : field, "must be an object");
        bool ok = true;
        for (const auto& [key, value] : object.items()) {
            bool known = false;
            for (const char* n : names) known = known || key == n;
            if (!known) ok = Refuse(Join(field, key), "unknown field");
        }
        for (const char* n : names)
            if (!object.contains(n)) ok = Refuse(Join(field, n), "is missing");
        return ok;
    }

    bool Array(const json& value, const std::string& field, std::size_t size) {
        if (!value.is_array() || value.size() != size)
            return Refuse(field, "must be a list of " + std::to_string(size) + " entries");
        return true;
    }

    template <typename T>
    bool Integer(const json& value, const std::string& field, std::int64_t low, std::int64_t high, T& out) {
        const std::string rule = "a whole number from " + std::to_string(low) + " to " + std::to_string(high);
        if (!value.is_number_integer()) return Refuse(field, rule);
        // Unsigned and signed JSON integers both fit one of these.
        if (value.is_number_unsigned() ? value.get<std::uint64_t>() > static_cast<std::uint64_t>(high)
                                       : value.get<std::int64_t>() < low || value.get<std::int64_t>() > high)
            return Refuse(field, rule);
        out = static_cast<T>(value.get<std::int64_t>());
        return true;
    }

    bool Name(const json& value, const std::string& field, const FieldRules& rules, std::string& out) {
        if (!value.is_string()) return Refuse(field, "must be text");
        out = value.get<std::string>();
        if (rules.name)
            if (auto broken = rules.name(out)) return Refuse(field, *broken);
        return true;
    }

    static std::string Join(const std::string& a, const std::string& b) { return a.empty() ? b : a + "." + b; }

private:
    std::vector<FieldError>& m_errors;
};

}  // namespace

json RadioJson(const RadioState& r) {
    json band = nullptr, antenna = nullptr, held = nullptr;
    if (r.band) band = {{"number", r.band->number}, {"name", Text(r.band->name)}};
    if (r.antenna)
        antenna = {{"number", r.antenna->number}, {"name", Text(r.antenna->name)}, {"byte", r.antenna->byte}};
    if (r.held) held = *r.held;
    json radio = {{"name", Text(r.name)},
                  {"frequency_hz", FrequencyJson(r.frequency_hz)},
                  {"band", band},
                  {"antenna", antenna},
                  {"transmitting", r.transmitting},
                  {"auto", r.automatic},
                  {"held", held},
                  {"source", {{"spec", Text(r.source.spec)}, {"state", Text(r.source.state)}}},
                  {"output", {{"spec", Text(r.output.spec)}, {"state", Text(r.output.state)}}},
                  {"choices", r.choices},
                  {"blocked_by", r.blockedBy ? Text(*r.blockedBy) : json(nullptr)},
                  {"inhibit", r.inhibit ? json(*r.inhibit) : json(nullptr)}};
    // Only when they say something: the document stays as it was for a radio that knows.
    if (!r.transmitKnown) radio["transmit_known"] = false;
    if (!r.heldWhy.empty()) radio["held_why"] = r.heldWhy;
    return radio;
}

json StateJson(const std::vector<RadioState>& radios) {
    json list = json::array();
    for (const auto& r : radios) list.push_back(RadioJson(r));
    return {{"radios", list}};
}

Reply PickReply(const std::string& radio, int antenna, svc::Picked done, const std::vector<RadioState>& state) {
    if (done == svc::Picked::kTaken) {
        // The holder now; it may have let go since, and then a retry will do.
        std::string why = "antenna " + std::to_string(antenna) + " is held by another radio; try again";
        for (const auto& r : state)
            if (r.antenna && r.antenna->number == antenna && r.name != radio)
                why = "antenna " + std::to_string(antenna) + " (" + r.antenna->name + ") is held by radio " + r.name;
        return {409, {{"error", why}, {"errors", json::array({{{"field", "antenna"}, {"rule", why}}})}}};
    }
    if (done == svc::Picked::kPending)
        return {202, {{"radio", radio}, {"antenna", antenna}, {"pending", true}, {"watch", "/api/state"}}};
    json reply = {{"radio", radio}, {"antenna", antenna}, {"held", done == svc::Picked::kHeld}};
    if (done == svc::Picked::kHeld)
        for (const auto& r : state)
            if (r.name == radio) reply["why"] = r.heldWhy.empty() ? "transmitting" : r.heldWhy;
    return {200, reply};
}

bool ParseState(const json& doc, std::vector<RadioState>& radios) {
    try {
        std::vector<RadioState> out;
        for (const auto& r : doc.at("radios")) {
            RadioState s;
            s.name = r.at("name").get<std::string>();
            s.frequency_hz = r.at("frequency_hz").is_null() ? std::nan("") : r.at("frequency_hz").get<double>();
            if (!r.at("band").is_null())
                s.band = RadioState::Band{r["band"].at("number").get<int>(), r["band"].at("name").get<std::string>()};
            if (!r.at("antenna").is_null())
                s.antenna = RadioState::Antenna{r["antenna"].at("number").get<int>(),
                                                r["antenna"].at("name").get<std::string>(),
                                                r["antenna"].at("byte").get<std::uint8_t>()};
            s.transmitting = r.at("transmitting").get<bool>();
            s.automatic = r.at("auto").get<bool>();
            if (!r.at("held").is_null()) s.held = r["held"].get<int>();
            s.source = {r.at("source").at("spec").get<std::string>(), r["source"].at("state").get<std::string>()};
            s.output = {r.at("output").at("spec").get<std::string>(), r["output"].at("state").get<std::string>()};
            // Absent in a file a service from before shared antennas wrote, still
            // running while a newer `kelvane status` reads it: a radio of its own.
            if (r.contains("choices")) s.choices = r["choices"].get<std::vector<int>>();
            if (r.contains("blocked_by") && !r["blocked_by"].is_null())
                s.blockedBy = r["blocked_by"].get<std::string>();
            if (r.contains("inhibit") && !r["inhibit"].is_null()) s.inhibit = r["inhibit"].get<int>();
            if (r.contains("transmit_known")) s.transmitKnown = r["transmit_known"].get<bool>();
            if (r.contains("held_why")) s.heldWhy = r["held_why"].get<std::string>();
            out.push_back(std::move(s));
        }
        radios = std::move(out);
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

json TablesJson(const svc::Station& station) {
    json antennas = json::array(), bands = json::array();
    for (std::size_t a = 0; a < static_cast<std::size_t>(kAntennaCount); ++a)
        antennas.push_back({{"name", Text(station.tables.m_antName[a])}, {"value", station.tables.m_antValue[a]}});
    for (std::size_t b = 0; b < static_cast<std::size_t>(kBandCount); ++b) {
        const std::int32_t a = station.tables.m_bandAntenna[b];
        // A damaged index shows as none; sent back as none it is kept.
        bands.push_back({{"name", Text(station.bands.name[b])},
                         {"low_khz", station.bands.low[b]},
                         {"high_khz", station.bands.high[b]},
                         {"antenna", IsAntennaIndex(a) ? json(a + 1) : json(nullptr)}});
    }
    return {{"antennas", antennas}, {"bands", bands}};
}

bool ReadTables(const json& doc, const FieldRules& rules, svc::Station& station, std::vector<FieldError>& errors) {
    const std::size_t before = errors.size();
    Reader r(errors);
    svc::Station next = station;
    if (!r.Members(doc, "", {"antennas", "bands"})) return false;
    if (r.Array(doc["antennas"], "antennas", kAntennaCount))
        for (std::size_t a = 0; a < static_cast<std::size_t>(kAntennaCount); ++a) {
            const std::string field = "antennas[" + std::to_string(a + 1) + "]";
            const json& entry = doc["antennas"][a];
            if (!r.Members(entry, field, {"name", "value"})) continue;
            r.Name(entry["name"], field + ".name", rules, next.tables.m_antName[a]);
            r.Integer(entry["value"], field + ".value", 0, std::numeric_limits<std::uint32_t>::max(),
                      next.tables.m_antValue[a]);
        }
    if (r.Array(doc["bands"], "bands", kBandCount))
        for (std::size_t b = 0; b < static_cast<std::size_t>(kBandCount); ++b) {
            const std::string field = "bands[" + std::to_string(b + 1) + "]";
            const json& entry = doc["bands"][b];
            if (!r.Members(entry, field, {"name", "low_khz", "high_khz", "antenna"})) continue;
            r.Name(entry["name"], field + ".name", rules, next.bands.name[b]);
            // A negative edge would make the file one the service refuses to start with.
            constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
            r.Integer(entry["low_khz"], field + ".low_khz", 0, kMax, next.bands.low[b]);
            r.Integer(entry["high_khz"], field + ".high_khz", 0, kMax, next.bands.high[b]);
            std::int32_t number = 0;
            if (entry["antenna"].is_null()) continue;
            if (r.Integer(entry["antenna"], field + ".antenna", 1, kAntennaCount, number))
                next.tables.m_bandAntenna[b] = number - 1;
        }
    if (errors.size() != before) return false;
    station = std::move(next);
    return true;
}

std::string EtagOf(std::string_view fileBytes) {
    unsigned char hash[16];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(fileBytes.data()), fileBytes.size(),
                       nullptr, 0);
    char hex[sizeof hash * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
    return std::string("\"") + hex + "\"";
}

}  // namespace kelvane::web
