#include "linux/station_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "settings/settings_file.h"

namespace kelvane::svc {

StationFile LoadStation(const std::string& path, Station& station, std::string& why) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            station = Station{};
            return StationFile::kMissing;
        }
        why = std::strerror(errno);
        return StationFile::kFailed;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "not a regular file";
        return StationFile::kFailed;
    }
    Station loaded;
    if (!LoadSettings(path, loaded.tables, loaded.bands)) {
        why = std::strerror(errno);
        return StationFile::kFailed;
    }
    station = std::move(loaded);
    return StationFile::kLoaded;
}

}  // namespace kelvane::svc
