#include "service/station/service.h"

#include <cctype>
#include <chrono>

#include "service/base/platform.h"
#include "service/bus/station_bus.h"
#include "service/station/radio.h"
#include "service/config/station_file.h"
#include "service/station/switchboard.h"
#include "service/station/console.h"

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

std::string Antenna(const OutputEvent& e) {
    return e.antenna < 0 ? "no antenna" : "antenna " + std::to_string(e.antenna + 1) + " (" + e.name + ")";
}

// What `systemctl status` shows: each radio's source and output as they are now.
std::string Status(const std::vector<Radio>& radios) {
    std::string all;
    for (const Radio& r : radios) {
        std::string s = r.source->Name() + " " + r.source->State();
        s += "; output " + r.options.outputText + " " + r.output->State();
        if (r.loop->SwitchingHeld()) s += "; switching held: no transmit state";
        if (!r.loop->TransmitKnown()) s += "; transmit state unknown";
        if (radios.size() > 1) {
            if (const auto by = r.loop->State().blockedBy) s += "; blocked by " + *by;
            s = r.options.name + ": " + s;
        }
        all += (all.empty() ? "" : " | ") + s;
    }
    return all;
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

std::unique_ptr<OutputChannel> MakeOutput(const RadioOptions& r, bool several, const OutputApis& apis, Log& log) {
    OutputSpec spec = r.output;
    if (several) spec.radio = r.name;
    return std::make_unique<OutputChannel>(MakeOutputDevice(spec, apis), r.outputText, log);
}

std::string Names(const std::vector<RadioOptions>& radios) {
    std::string s;
    for (const auto& r : radios) s += (s.empty() ? "" : ", ") + r.name;
    return s;
}

// What SIGHUP does: the config read again under the same command line, then
// the settings. A config that no longer reads changes nothing, nor one whose
// radios are not the running ones (that takes a restart). A new source or
// output is switched to as a restart would, but the tables, the wanted antenna
// and the transmit hold carry over; one that cannot start keeps the old. A
// new source's transmit state is unknown until its first reading.
struct Running {
    // Read by the polled sources' threads: a reload may change it.
    std::atomic<std::chrono::milliseconds> poll;
    Options options;
    std::shared_ptr<Station> station = std::make_shared<Station>();  // the one copy every radio reads
    std::unique_ptr<Switchboard> board;
    std::vector<Radio> radios;
};

// A polled source runs on a thread of its own; nothing, with the reason, when it cannot start.
std::unique_ptr<Source> StartSource(SourceSpec spec, const Running& run, bool firstNow, Log& log, std::string& why) {
    if (spec.kind == SourceSpec::kMqtt && run.options.mqtt)
        spec.broker = BrokerAccess{*run.options.mqtt, run.options.mqttCa, run.options.mqttPasswordFile};
    auto source = MakeSource(spec, log, why);
    return source ? OnOwnThread(std::move(source), run.poll, firstNow, why) : nullptr;
}

// The old output is given no antenna at the radio's receive before it closes,
// and the radio holds what it had until then: the old relays would otherwise
// keep an antenna the lockout no longer sees.
void MoveOutput(Radio& radio, bool several, const OutputApis& apis) {
    if (!radio.moveTo || !radio.loop->Release()) return;
    const RadioOptions& fresh = *radio.moveTo;
    Log& log = *radio.log;
    // The old device is released first: the new one may be the same board with other options.
    log.End(Condition::kOutput, "no longer driving output " + radio.options.outputText);
    radio.output.reset();
    radio.output = MakeOutput(fresh, several, apis, log);
    radio.loop->Drive(*radio.output);
    log.Info("output now " + fresh.outputText + " (was " + radio.options.outputText + ")");
    radio.options.output = fresh.output;
    radio.options.outputText = fresh.outputText;
    radio.moveTo.reset();
}

void ReloadRadio(Radio& radio, const RadioOptions& fresh, const Running& run, const OutputApis& apis) {
    const bool several = run.radios.size() > 1;
    Log& log = *radio.log;
    PollLoop& loop = *radio.loop;
    if (fresh.sourceText != radio.options.sourceText) {
        std::string why;
        if (auto source = StartSource(fresh.source, run, false, log, why)) {
            const std::string was = radio.source->Name();
            for (const Condition c : {Condition::kSource, Condition::kBadFrequency, Condition::kBadTransmit,
                                      Condition::kBadDatagram, Condition::kNoTransmitState})
                log.End(c, "no longer following " + was);
            loop.Follow(*source);
            radio.source = std::move(source);
            radio.options.source = fresh.source;
            radio.options.sourceText = fresh.sourceText;
            log.Info("now following " + radio.source->Name() + " (was " + was + ")");
            Caveat(*radio.source, fresh.interlock, log);
        } else {
            log.Error("reload: source " + fresh.sourceText + ": " + why + "; still following " + radio.source->Name());
        }
    }
    loop.SetInterlock(fresh.interlock);
    radio.moveTo.reset();
    if (fresh.outputText != radio.options.outputText) {
        radio.moveTo = fresh;
        MoveOutput(radio, several, apis);
        if (radio.moveTo)
            log.Info("output " + fresh.outputText + " is taken at the next receive reading; until then " +
                     radio.options.outputText + " keeps its antenna");
    }
    loop.SetInhibit(fresh.inhibit);
    radio.options.interlock = fresh.interlock;
    radio.options.inhibit = fresh.inhibit;
    radio.options.inhibitLine = fresh.inhibitLine;
}

// The station bus connects once, at start: a reload says so of changed mqtt
// options and keeps the ones in use, so that the next reload says it again.
void KeepBus(const Options& running, Options& fresh, Log& log) {
    const auto key = [](const Options& o) {
        const std::string broker = o.mqtt ? (o.mqtt->tls ? "mqtts://" : "mqtt://") + o.mqtt->user + "@" +
                                                o.mqtt->where.host + ":" + o.mqtt->where.port
                                          : "";
        return std::vector<std::string>{broker, o.mqttCa, o.mqttPasswordFile, o.mqttStation, o.mqttDiscovery};
    };
    if (key(running) == key(fresh)) return;
    log.Warn("reload: the mqtt options changed; they take a restart of kelvane, the station bus goes on as it was");
    fresh.mqtt = running.mqtt;
    fresh.mqttCa = running.mqttCa;
    fresh.mqttPasswordFile = running.mqttPasswordFile;
    fresh.mqttStation = running.mqttStation;
    fresh.mqttDiscovery = running.mqttDiscovery;
}

// True when the config was taken (the console's part is then the console's to apply).
bool Reload(Running& run, Log& log, const OutputApis& apis) {
    Options fresh;
    std::string error;
    if (!ParseCommandLine(run.options.commandLine, fresh, error)) {
        log.Error("reload: " + error + "; keeping everything as it was");
        return false;
    }
    const std::vector<RadioOptions> radios = RadiosOf(fresh);
    std::vector<RadioOptions> running;
    for (const Radio& r : run.radios) running.push_back(r.options);
    if (Names(radios) != Names(running) || (fresh.radios.empty() != run.options.radios.empty())) {
        log.Error("reload: the config now names the radios " + Names(radios) + " (running: " + Names(running) +
                  "); restart kelvane to change the radios; keeping everything as it was");
        return false;
    }
    Station station = *run.station;
    const bool reread = ReadStation(fresh.settingsPath, station, log, true);
    // An inhibit line an antenna uses would stop that radio transmitting on it.
    if (const std::string clash = InhibitClash(fresh, station); !clash.empty()) {
        log.Error("reload: " + clash + "; keeping everything as it was");
        return false;
    }
    if (reread) {
        *run.station = std::move(station);
        log.Info("settings reloaded from " + fresh.settingsPath);
    }
    run.board->SetAlternates(fresh.alternates);
    for (std::size_t i = 0; i < run.radios.size(); ++i) {
        ReloadRadio(run.radios[i], radios[i], run, apis);
        run.radios[i].log->verbose = fresh.verbose;
    }
    log.verbose = fresh.verbose;
    run.poll = fresh.poll;
    KeepBus(run.options, fresh, log);
    run.options = std::move(fresh);
    return true;
}

// Everything the start builds; false when the service cannot start.
bool StartRadios(Running& run, Log& log, const OutputApis& apis) {
    if (!ReadStation(run.options.settingsPath, *run.station, log, false)) return false;
    if (const std::string clash = InhibitClash(run.options, *run.station); !clash.empty()) {
        log.Error(clash + "; not starting");
        return false;
    }
    const std::vector<RadioOptions> configured = RadiosOf(run.options);
    const bool several = configured.size() > 1;
    std::vector<std::string> names;
    for (const auto& r : configured) names.push_back(r.name);
    run.board = std::make_unique<Switchboard>(names, run.options.alternates);
    for (std::size_t i = 0; i < configured.size(); ++i) {
        Radio radio{configured[i], std::make_unique<Log>(log, several ? "radio " + configured[i].name + ": " : ""),
                    nullptr,       nullptr,
                    nullptr,       std::nullopt};
        std::string why;
        // Each first exchange now, in the config's order, so that the first round meets them all.
        radio.source = StartSource(radio.options.source, run, true, *radio.log, why);
        if (!radio.source) {
            radio.log->Error("source " + radio.options.sourceText + ": " + why + "; not starting");
            return false;
        }
        radio.output = MakeOutput(radio.options, several, apis, *radio.log);
        radio.loop = std::make_unique<PollLoop>(*radio.source, *radio.output, *radio.log, radio.options.interlock,
                                                run.station, Seat{run.board.get(), i, radio.options.inhibit});
        run.radios.push_back(std::move(radio));
    }
    return true;
}

void LogStarted(const Running& run, Log& log) {
    const Options& options = run.options;
    const bool several = run.radios.size() > 1;
    const std::string config = options.configPath.empty() ? "" : ", config " + options.configPath;
    const std::string poll = std::to_string(options.poll.count()) + " ms";
    if (!several)
        log.Info("started: " + run.radios[0].source->Name() + ", poll " + poll + ", output " + options.outputText +
                 ", interlock " + InterlockName(options.interlock) + ", settings " + options.settingsPath + config);
    else
        log.Info("started: radios " + Names(RadiosOf(options)) + " sharing the antennas, poll " + poll + ", settings " +
                 options.settingsPath + config);
    for (const Radio& r : run.radios) {
        if (!several) {
            Caveat(*r.source, r.options.interlock, *r.log);
            continue;
        }
        std::string inhibit = r.options.inhibit ? ", inhibit line " + std::to_string(*r.options.inhibit) : "";
        r.log->Info("following " + r.source->Name() + ", output " + r.options.outputText + ", interlock " +
                    InterlockName(r.options.interlock) + inhibit);
        Caveat(*r.source, r.options.interlock, *r.log);
    }
}

BusOptions BusOptionsOf(const Options& o) {
    BusOptions bus{{*o.mqtt, o.mqttCa, o.mqttPasswordFile}, o.mqttStation, o.mqttDiscovery};
    if (bus.station.empty()) {
        // The host name as a topic level: what the option would refuse becomes '-'.
        bus.station = HostName();
        for (char& c : bus.station)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = '-';
        if (bus.station.empty()) bus.station = "station";
    }
    return bus;
}

// The main thread once started: the radios polled at each tick, and between
// ticks whatever wakes the wait first.
struct Loop {
    Running& run;
    WebConsole& console;
    StationBus* bus;  // nothing without the mqtt option
    OperatorRequests& requests;
    Log& log;
    const OutputApis& apis;
    bool ready = false;
    std::string status;
    std::vector<Handle> handles;
    std::vector<bool> readable;
};

void Poll(Loop& l, Radio& radio) {
    radio.loop->PollOnce();
    MoveOutput(radio, l.run.radios.size() > 1, l.apis);
}

// Ready once the first round has shown what the sources and the outputs do,
// so that the status given with it is true; a poll is bounded by the reply timeout.
std::vector<std::string> AntennaNames(const Station& station) {
    return {station.tables.m_antName.begin(), station.tables.m_antName.end()};
}

void Shown(Loop& l) {
    l.console.Publish(l.run.radios);
    if (l.bus) l.bus->Publish(l.console.State(), AntennaNames(*l.run.station));
    if (std::string now = Status(l.run.radios); now != l.status || !l.ready) {
        l.status = std::move(now);
        NotifyStatus(l.status, !l.ready);
        l.ready = true;
    }
}

void Stop(Loop& l, const std::string& request) {
    NotifyStopping();
    const bool several = l.run.radios.size() > 1;
    std::string last;
    for (const Radio& r : l.run.radios)
        last += "; " + std::string(several ? r.options.name + ": " : "") + LastState(*r.output) + "; " +
                r.source->Name() + " " + r.source->State();
    l.log.Info("stopping on " + request + last);
    if (l.bus) l.bus->Stop();
    l.console.Stop();
}

// Until `next`: a pushed source's datagram switches now, not at the next tick,
// and the console's commands are run at once too. False once stopped.
bool Between(Loop& l, std::chrono::steady_clock::time_point next) {
    std::vector<Radio>& radios = l.run.radios;
    for (;;) {
        constexpr std::size_t kFirstRadio = 3;
        l.handles.assign({l.requests.Ready(), l.console.WakeHandle(), l.bus ? l.bus->WakeHandle() : kNoHandle});
        for (const Radio& r : radios) l.handles.push_back(r.source->Fd());  // a polled source's kNoHandle is skipped
        if (!WaitReadable(l.handles, next, l.readable)) return true;
        bool pushed = false;
        for (std::size_t i = 0; i < radios.size(); ++i)
            if (l.readable[i + kFirstRadio]) {
                Poll(l, radios[i]);
                pushed = true;
            }
        if (pushed) Shown(l);
        if (l.readable[1]) {
            l.console.RunCommands(radios, *l.run.station);
            Shown(l);
        }
        if (l.readable[2]) {
            const StationBus::Backend backend{
                [&](const std::string& radio, int antenna) { return l.console.PickNow(radios, radio, antenna); },
                [&](const std::string& radio, bool on) { l.console.AutoNow(radios, radio, on); },
                [&] { return l.console.State(); }};
            l.bus->Run(backend, AntennaNames(*l.run.station));
            Shown(l);
        }
        if (!l.readable[0]) continue;
        const OperatorRequests::Request request = l.requests.Take();
        if (request.kind == OperatorRequests::Request::kNone) return true;
        if (request.kind == OperatorRequests::Request::kStop) {
            Stop(l, request.name);
            return false;
        }
        NotifyReloading();
        if (Reload(l.run, l.log, l.apis)) l.console.Reload();
        l.console.Publish(radios);
        NotifyReady();
    }
}

int Serve(Loop& l) {
    Running& run = l.run;
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now();
    for (;;) {
        // Radios in the config's order: a tie for an antenna goes to the one listed first.
        for (Radio& r : run.radios) Poll(l, r);
        Shown(l);
        next += run.options.poll;
        const auto now = Clock::now();
        if (next < now) next = now;  // a slow poll is not made up for with a burst
        if (!Between(l, next)) return 0;
    }
}

}  // namespace

int RunService(const Options& options, const OutputApis& apis) {
    Log log;
    log.verbose = options.verbose;
    OperatorRequests requests;
    if (std::string error; !requests.Start(error)) {
        log.Error(error);
        return 1;
    }
    Running run{{options.poll}, options, std::make_shared<Station>(), nullptr, {}};
    if (!StartRadios(run, log, apis)) return 1;
    LogStarted(run, log);
    WebConsole console(run.options, log);
    console.Publish(run.radios);
    if (std::string error; !console.Start(error)) {
        log.Error(error + "; not starting");
        return 1;
    }
    std::unique_ptr<StationBus> bus;
    if (run.options.mqtt) {
        std::string why;
        bus = std::make_unique<StationBus>(BusOptionsOf(run.options), log);
        std::vector<std::string> names;
        for (const Radio& r : run.radios) names.push_back(r.options.name);
        if (!bus->Start(names, why)) {
            log.Error(why + "; not starting");
            return 1;
        }
    }
    Loop loop{run, console, bus.get(), requests, log, apis, false, {}, {}, {}};
    return Serve(loop);
}

}  // namespace kelvane::svc
