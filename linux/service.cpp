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

std::string Antenna(const OutputEvent& e) { return "antenna " + std::to_string(e.antenna + 1) + " (" + e.name + ")"; }

// What `systemctl status` shows: the source and the output as they are now.
std::string Status(const Source& source, const PollLoop& loop, const OutputChannel& output, const Options& options) {
    std::string s = source.Name() + " " + source.State();
    s += "; output " + options.outputText + " " + output.State();
    if (loop.SwitchingHeld()) s += "; switching held: no transmit state";
    return s;
}

void Caveat(const Source& source, Interlock mode, Log& log) {
    if (const std::string caveat = source.InterlockCaveat(); mode != Interlock::kOff && !caveat.empty())
        log.Warn(caveat);
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

// What SIGHUP does: the config read again under the same command line, then
// the settings. A config that no longer reads changes nothing. A new source or
// output is switched to as a restart would, but the tables, the wanted antenna
// and the transmit hold carry over; one that cannot start keeps the old.
struct Running {
    Options options;
    Station station;
    std::unique_ptr<Source> source;
    std::unique_ptr<OutputChannel> output;
};

void Reload(Running& run, PollLoop& loop, Log& log, const OutputApis& apis) {
    Options fresh;
    std::string error;
    if (!ParseCommandLine(run.options.commandLine, fresh, error)) {
        log.Error("reload: " + error + "; keeping everything as it was");
        return;
    }
    if (ReadStation(fresh.settingsPath, run.station, log, true)) {
        loop.Reload(run.station);
        log.Info("settings reloaded from " + fresh.settingsPath);
    }
    if (fresh.sourceText != run.options.sourceText) {
        std::string why;
        if (auto source = MakeSource(fresh.source, log, why)) {
            const std::string was = run.source->Name();
            for (const Condition c : {Condition::kSource, Condition::kBadFrequency, Condition::kBadTransmit,
                                      Condition::kBadDatagram, Condition::kNoTransmitState})
                log.End(c, "no longer following " + was);
            loop.Follow(*source);
            run.source = std::move(source);
            log.Info("now following " + run.source->Name() + " (was " + was + ")");
            Caveat(*run.source, fresh.interlock, log);
        } else {
            log.Error("reload: source " + fresh.sourceText + ": " + why + "; still following " + run.source->Name());
            fresh.source = run.options.source;
            fresh.sourceText = run.options.sourceText;
        }
    }
    if (fresh.outputText != run.options.outputText) {
        // The old device is released first: the new one may be the same board with other options.
        log.End(Condition::kOutput, "no longer driving output " + run.options.outputText);
        run.output.reset();
        run.output = std::make_unique<OutputChannel>(MakeOutputDevice(fresh.output, apis), fresh.outputText, log);
        loop.Drive(*run.output);
        log.Info("output now " + fresh.outputText + " (was " + run.options.outputText + ")");
    }
    loop.SetInterlock(fresh.interlock);
    log.verbose = fresh.verbose;
    run.options = std::move(fresh);
}

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

    Running run{options, {}, nullptr, nullptr};
    if (!ReadStation(options.settingsPath, run.station, log, false)) return 1;
    std::string why;
    run.source = MakeSource(options.source, log, why);
    if (!run.source) {
        log.Error("source " + options.sourceText + ": " + why + "; not starting");
        return 1;
    }
    run.output = std::make_unique<OutputChannel>(MakeOutputDevice(options.output, apis), options.outputText, log);
    PollLoop loop(*run.source, *run.output, log, options.interlock, run.station);

    log.Info("started: " + run.source->Name() + ", poll " + std::to_string(options.poll.count()) + " ms, output " +
             options.outputText + ", interlock " + InterlockName(options.interlock) + ", settings " +
             options.settingsPath + (options.configPath.empty() ? "" : ", config " + options.configPath));
    Caveat(*run.source, options.interlock, log);
    WebConsole console(run.options, log);
    console.Publish(*run.source, loop, *run.output);
    if (std::string error; !console.Start(error)) {
        log.Error(error + "; not starting");
        return 1;
    }

    // Ready once the first round has shown what the source and the output do,
    // so that the status given with it is true; a poll is bounded by the reply timeout.
    bool ready = false;
    std::string status;
    const auto round = [&] {
        loop.PollOnce();
        console.Publish(*run.source, loop, *run.output);
        if (std::string now = Status(*run.source, loop, *run.output, run.options); now != status || !ready) {
            status = std::move(now);
            sd_notify(0, ((ready ? "" : "READY=1\n") + ("STATUS=" + status)).c_str());
            ready = true;
        }
    };
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now();
    for (;;) {
        round();
        next += run.options.poll;
        const auto now = Clock::now();
        if (next < now) next = now;  // a slow poll is not made up for with a burst
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
            // A pushed source wakes the loop: its datagram switches now, not at the next tick;
            // the console's commands are run at once too.
            pollfd p[3] = {{sigfd, POLLIN, 0}, {console.WakeFd(), POLLIN, 0}, {run.source->Fd(), POLLIN, 0}};
            const int n = ::poll(p, 3, static_cast<int>(left > 0 ? left : 0));  // a polled source's -1 is skipped
            if (n <= 0) break;
            if (p[2].fd >= 0 && (p[2].revents & POLLIN) != 0) round();
            if ((p[1].revents & POLLIN) != 0) {
                console.RunCommands(loop);
                console.Publish(*run.source, loop, *run.output);
            }
            if ((p[0].revents & POLLIN) == 0) continue;
            signalfd_siginfo info{};
            if (::read(sigfd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) break;
            if (info.ssi_signo == SIGHUP) {
                sd_notify(0, "RELOADING=1");
                Reload(run, loop, log, apis);
                console.Publish(*run.source, loop, *run.output);
                sd_notify(0, "READY=1");
                continue;
            }
            sd_notify(0, "STOPPING=1");
            log.Info(std::string("stopping on ") + (info.ssi_signo == SIGTERM ? "SIGTERM" : "SIGINT") + "; " +
                     LastState(*run.output) + "; " + run.source->Name() + " " + run.source->State());
            console.Stop();
            ::close(sigfd);
            return 0;
        }
    }
}

}  // namespace kelvane::svc
