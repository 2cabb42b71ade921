#include "service/config/station_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace kelvane::svc {

SettingsLoad LoadStation(const std::string& path, Station& station) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return {SettingsState::kUnreadable, std::strerror(errno)};
        station = Station{};
        return {SettingsState::kMissing, {}};
    }
    if (!S_ISREG(st.st_mode)) return {SettingsState::kUnreadable, "not a regular file"};
    Station read;
    SettingsLoad load = ReadSettingsFile(path, read.tables, read.bands);
    if (load.state == SettingsState::kMissing) read = Station{};  // removed since the stat
    if (load.state != SettingsState::kUnreadable) station = std::move(read);
    return load;
}

std::string Describe(const std::string& path, const SettingsLoad& load) {
    switch (load.state) {
    case SettingsState::kMissing:
        return "no settings file at " + path;
    case SettingsState::kLoaded:
        return "settings read from " + path;
    case SettingsState::kShort:
        return "the settings file " + path + " is cut short: " + load.reason;
    case SettingsState::kDamaged:
        return "the settings file " + path + " is damaged: " + load.reason;
    case SettingsState::kUnreadable:
        break;
    }
    return "cannot read the settings file " + path + ": " + load.reason;
}

}  // namespace kelvane::svc
