#pragma once
// Reading the settings file for the service and for `kelvane settings` alike.

#include <string>

#include "core/tables.h"

namespace kelvane::svc {

// What the settings file holds.
struct Station {
    SwitcherTables tables;
    BandTable bands;
};

enum class StationFile { kMissing, kLoaded, kFailed };

// Only a file that is not there means the first-start defaults (then in
// `station`); a file that is there but cannot be read is kFailed with the
// system's reason in `why`, never silently replaced by defaults.
StationFile LoadStation(const std::string& path, Station& station, std::string& why);

}  // namespace kelvane::svc
