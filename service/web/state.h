#pragma once
// What the web console and `kelvane status` show and edit, as JSON: the state
// of each radio, and the tables (antennas, bands, assignment) of the settings
// file. Reading tables is strict: a document with a wrong type, an unknown
// field or a value out of range is refused as a whole, each refusal naming its
// field and the rule, so the tables on disk never change on a refusal.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "service/base/pick.h"
#include "service/config/station_file.h"

namespace kelvane::web {

// Numbers count from 1, as on the page and in `kelvane settings`.
struct RadioState {
    struct Band {
        int number = 0;
        std::string name;
    };
    struct Antenna {
        int number = 0;
        std::string name;
        std::uint8_t byte = 0;
    };
    struct Link {
        std::string spec;
        std::string state;
    };
    std::string name = "1";
    double frequency_hz = 0;
    std::optional<Band> band;
    std::optional<Antenna> antenna;
    bool transmitting = false;
    bool transmitKnown = true;  // false: neither transmitting nor receive is known (first reading, source lost)
    bool automatic = true;
    std::optional<int> held;  // the antenna waiting for receive
    std::string heldWhy;      // why it waits, when not simply "transmitting"
    Link source, output;
    // With radios sharing antennas: the band's antennas in order of preference,
    // and, while the radio has none though it wants one, the radio holding its
    // first choice (empty when that one is free and waits for this radio's poll).
    std::vector<int> choices;
    std::optional<std::string> blockedBy;
    std::optional<int> inhibit;  // the output line set while it has no antenna
};

nlohmann::json StateJson(const std::vector<RadioState>& radios);
// One radio of StateJson's "radios".
nlohmann::json RadioJson(const RadioState& radio);

// The answer to a pick of `antenna` (from 1) for `radio`, as HTTP status and
// body, told from `state` as it is after the pick.
struct Reply {
    int status = 200;
    nlohmann::json body;
};
Reply PickReply(const std::string& radio, int antenna, svc::Picked done, const std::vector<RadioState>& state);
// The reverse, for `kelvane status`; false when the document is not one StateJson made.
// A radio without choices, blocked_by and inhibit (written before antennas were
// shared) is read as one sharing nothing; present, they must have their types.
bool ParseState(const nlohmann::json& doc, std::vector<RadioState>& radios);

nlohmann::json TablesJson(const svc::Station& station);

struct FieldError {
    std::string field;  // as the page names its inputs: "bands[3].low_khz"
    std::string rule;
};

// The rules `kelvane settings` applies to a typed field. A name check returns
// the rule it breaks, or nothing when the name is acceptable.
struct FieldRules {
    std::function<std::optional<std::string>(const std::string& name)> name;
};

// Reads a PUT tables document over `station` (whose port address and anything
// the document does not carry stay). On any refusal `station` is left as it
// was and every refusal found is in `errors`.
bool ReadTables(const nlohmann::json& doc, const FieldRules& rules, svc::Station& station,
                std::vector<FieldError>& errors);

// The tables' entity tag: BLAKE2b-128 (libsodium's generic hash) of the
// settings file's bytes, in hex and quoted as HTTP wants it.
std::string EtagOf(std::string_view fileBytes);

}  // namespace kelvane::web
