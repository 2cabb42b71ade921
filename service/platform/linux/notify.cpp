// The service manager on Linux: systemd's notify socket, when it gave one.
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include "service/base/platform.h"

namespace kelvane::svc {

void NotifyStatus(const std::string& status, bool ready) {
    sd_notify(0, ((ready ? "READY=1\n" : "") + ("STATUS=" + status)).c_str());
}

void NotifyReloading() { sd_notify(0, "RELOADING=1"); }
void NotifyReady() { sd_notify(0, "READY=1"); }
void NotifyStopping() { sd_notify(0, "STOPPING=1"); }

int ProcessId() { return static_cast<int>(::getpid()); }

}  // namespace kelvane::svc
