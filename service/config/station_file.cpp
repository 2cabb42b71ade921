#include "service/config/station_file.h"

#include "service/base/platform.h"

namespace kelvane::svc {

SettingsLoad LoadStation(const std::string& path, Station& station) {
    std::string why;
    switch (KindOf(path, why)) {
    case PathKind::kFile:
        break;
    case PathKind::kMissing:
        station = Station{};
        return {SettingsState::kMissing, {}};
    case PathKind::kFailed:
        return {SettingsState::kUnreadable, why};
    case PathKind::kFolder:
    case PathKind::kOther:
        return {SettingsState::kUnreadable, "not a regular file"};
    }
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
