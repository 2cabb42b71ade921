#include "service/station/radio.h"

#include "core/lockout.h"
#include "service/station/output.h"

namespace kelvane::svc {

std::vector<RadioOptions> RadiosOf(const Options& o) {
    if (!o.radios.empty()) return o.radios;
    RadioOptions one;
    one.name = "1";
    one.sourceText = o.sourceText;
    one.source = o.source;
    one.outputText = o.outputText;
    one.output = o.output;
    one.interlock = o.interlock;
    return {one};
}

std::string InhibitClash(const Options& o, const Station& station) {
    for (const RadioOptions& r : o.radios) {
        if (!r.inhibit) continue;
        const auto a = AntennaOnLine(station.tables, o.alternates, *r.inhibit);
        if (!a) continue;
        const auto i = static_cast<std::size_t>(*a);
        return o.configPath + ": line " + std::to_string(r.inhibitLine) + ": radio " + r.name + "'s inhibit line " +
               std::to_string(*r.inhibit) + " is also set by antenna " + std::to_string(*a + 1) + " (" +
               station.tables.m_antName[i] + ", value " +
               HexByte(static_cast<std::uint8_t>(station.tables.m_antValue[i] & 0xFFu)) +
               "): it would inhibit the radio on that antenna";
    }
    return {};
}

}  // namespace kelvane::svc
