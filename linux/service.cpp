#include "linux/service.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "linux/station_file.h"
#include "linux/web_backend.h"

namespace kelvane::svc {
namespace {

// At start a missing file means the first-start defaults; a damaged or
// unreadable one stops the program. A reload keeps the tables in use unless it
// finds a file to use: switching a station to defaults because its file went
// away would move the antenna under a transmitter. A short file is used either
// way, with a warning. One line each time.
bool ReadStation(const std::string& path, Station& station, Log& log, bool reload) {
    Station read;
    const SettingsLoad load = LoadStation(path, read);
    switch (load.state) {
    case SettingsState::kLoaded:
        break;
    case SettingsState::kShort:
        log.Warn(Describe(path, load) + "; using what it holds");
        break;
    case SettingsState::kMissing:
        if (reload) {
            log.Warn(Describe(path, load) + " any more; keeping the settings in use");
            return false;
        }
        log.Info(Describe(path, load) + ": using the first-start defaults");
        break;
    case SettingsState::kDamaged:
    case SettingsState::kUnreadable:
        if (reload)
            log.Warn(Describe(path, load) + "; keeping the settings in use");
        else
            log.Error(Describe(path, load) + "; not starting");
        return false;
    }
    station = std::move(read);
    return true;
}

const char* InterlockName(Interlock mode) {
    return mode == Interlock::kAuto ? "auto" : mode == Interlock::kOff ? "off" : "required";
}

std::string Antenna(const OutputEvent& e) { return "antenna " + std::to_string(e.antenna + 1) + " (" + e.name + ")"; }

// What `systemctl status` shows: the rig link and the output as they are now.
std::string Status(const RigLink& link, const PollLoop& loop, const OutputChannel& output, bool outputSeen,
                   const Log& log, const Options& options) {
    std::string s = "rigctld " + options.rigctld.host + ":" + options.rigctld.port;
    if (!link.Connected())
        s += link.EverConnected() ? " lost, reconnecting" : " not reached, retrying";
    else if (log.Active(Condition::kBadReplyF) || log.Active(Condition::kBadReplyT))
        s += " connected, its replies not understood";
    else
        s += " connected";
    s += "; output " + options.outputText;
    s += output.DeviceOpen() ? " open" : outputSeen ? " lost, retrying" : " absent, retrying";
    if (loop.SwitchingHeld()) s += "; switching held: the rig has no transmit state";
    return s;
}

std::string LastState(const OutputChannel& output) {
    const auto& last = output.LastWritten();
    const auto& wanted = output.Wanted();
    std::string s = !last                 ? "nothing was written to the output"
                    : output.DeviceOpen() ? "the output stays at " + Antenna(*last)
                                          : "the output was last set to " + Antenna(*last) + " before it was lost";
    if (wanted && wanted != last) s += "; " + Antenna(*wanted) + " was wanted";
    return s;
}

}  // namespace

int RunService(const Options& options, const OutputApis& apis) {
    Log log;
    log.verbose = options.verbose;

    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&signals, s);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    // A journal on a closed pipe is an output lost, not the end of the program.
    signal(SIGPIPE, SIG_IGN);
    const int sigfd = ::signalfd(-1, &signals, SFD_CLOEXEC);
    if (sigfd < 0) {
        log.Error(std::string("signalfd: ") + std::strerror(errno));
        return 1;
    }

    Station station;
    if (!ReadStation(options.settingsPath, station, log, false)) return 1;

    OutputChannel output(MakeOutputDevice(options.output, apis), options.outputText, log);
    RigLink link(LinkOptions{options.rigctld}, log);
    PollLoop loop(link, output, log, options.interlock, station);
    WebConsole console(options, log);
    console.Publish(link, loop, output, false);
    if (std::string error; !console.Start(error)) {
        log.Error(error + "; not starting");
        return 1;
    }

    log.Info("started: rigctld " + options.rigctld.host + ":" + options.rigctld.port + ", poll " +
             std::to_string(options.poll.count()) + " ms, output " + options.outputText + ", interlock " +
             InterlockName(options.interlock) + ", settings " + options.settingsPath);

    // Ready once the first poll has shown what the link and the output do, so
    // that the status given with it is true; a poll is bounded by the reply timeout.
    bool ready = false, outputSeen = false;
    std::string status;
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now();
    for (;;) {
        loop.PollOnce();
        outputSeen = outputSeen || output.DeviceOpen();
        console.Publish(link, loop, output, outputSeen);
        if (std::string current = Status(link, loop, output, outputSeen, log, options); current != status || !ready) {
            status = std::move(current);
            sd_notify(0, ((ready ? "" : "READY=1\n") + ("STATUS=" + status)).c_str());
            ready = true;
        }
        next += options.poll;
        const auto now = Clock::now();
        if (next < now) next = now;  // a slow poll is not made up for with a burst
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
            pollfd p[2] = {{sigfd, POLLIN, 0}, {console.WakeFd(), POLLIN, 0}};
            const int n = ::poll(p, 2, static_cast<int>(left > 0 ? left : 0));
            if (n <= 0) break;
            if (p[1].revents & POLLIN) {
                console.RunCommands(loop);
                console.Publish(link, loop, output, outputSeen);
                if (!(p[0].revents & POLLIN)) continue;
            }
            signalfd_siginfo info{};
            if (::read(sigfd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) break;
            if (info.ssi_signo == SIGHUP) {
                sd_notify(0, "RELOADING=1");
                if (ReadStation(options.settingsPath, station, log, true)) {
                    loop.Reload(station);
                    log.Info("settings reloaded from " + options.settingsPath);
                    console.Publish(link, loop, output, outputSeen);
                }
                sd_notify(0, "READY=1");
                continue;
            }
            sd_notify(0, "STOPPING=1");
            log.Info(std::string("stopping on ") + (info.ssi_signo == SIGTERM ? "SIGTERM" : "SIGINT") + "; " +
                     LastState(output));
            console.Stop();
            ::close(sigfd);
            return 0;
        }
    }
}

}  // namespace kelvane::svc
