// Where the service's files go on Linux: the XDG folders for a user's run,
// systemd's runtime directory for the system service's.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "service/base/platform.h"
#include "settings/settings_file.h"

namespace kelvane::svc {

// $XDG_CONFIG_HOME/kelvane/Kelvaneer12.ini, or ~/.config/kelvane/Kelvaneer12.ini.
std::string DefaultSettingsPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    std::string path(xdg && *xdg ? xdg : home && *home ? home : ".");
    if (!(xdg && *xdg) && home && *home) path.append("/.config");
    path.append("/kelvane/");
    path.append(kSettingsFileName);
    return path;
}

// systemd's $RUNTIME_DIRECTORY; otherwise $XDG_RUNTIME_DIR/kelvane for a
// user's run, /run/kelvane for root's.
std::string StateFilePath(bool forStatus) {
    const auto env = [](const char* name) -> std::string {
        const char* v = std::getenv(name);
        return v && *v ? v : "";
    };
    // systemd may list several directories, separated by colons; ours is the one.
    if (std::string dir = env("RUNTIME_DIRECTORY"); !dir.empty()) return dir.substr(0, dir.find(':')) + "/state.json";
    const std::string system = "/run/kelvane/state.json";
    if (const std::string user = env("XDG_RUNTIME_DIR"); !user.empty() && (forStatus || ::geteuid() != 0)) {
        const std::string path = user + "/kelvane/state.json";
        if (!forStatus || ::access(path.c_str(), F_OK) == 0) return path;
    }
    return system;
}

bool MakeFolder(const std::string& path, std::string& why) {
    if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
    why = std::strerror(errno);
    return false;
}

}  // namespace kelvane::svc
