#pragma once
// Reading the settings file for the service and for `kelvane settings` alike.

#include <string>

#include "core/tables.h"
#include "settings/settings_file.h"

namespace kelvane::svc {

// What the settings file holds.
struct Station {
    SwitcherTables tables;
    BandTable bands;
};

// The settings layer's outcome. `station` then holds the first-start defaults
// for a missing file, what was read for a loaded, short or damaged one, and is
// untouched for an unreadable one (anything that is not a regular file, too:
// a pipe would hold the read forever). Whether a damaged file is used is the
// caller's choice; the service never does.
SettingsLoad LoadStation(const std::string& path, Station& station);

// One line for the log or the terminal: the file and what the load found.
std::string Describe(const std::string& path, const SettingsLoad& load);

}  // namespace kelvane::svc
