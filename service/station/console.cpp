#include "service/station/console.h"

#include <cmath>
#include <cstdio>

#include "service/config/settings_cmd.h"
#include "settings/edit_lock.h"
#include "settings/file_io.h"
#include "settings/settings_file.h"

namespace kelvane::svc {
namespace {

// A pick's worker waits this long at most for the main thread, whose one
// poll is bounded by the reply timeout.
constexpr std::chrono::seconds kPickAnswer{3};
// Far more than any settings file: twenty names of kMaxNameBytes and the blocks.
constexpr std::size_t kMaxSettingsBytes = 4u << 20;

// The settings file's bytes, read once, so that the tables and their ETag agree.
FileRead ReadSettingsBytes(const std::string& path, std::string& bytes, std::string& why) {
    const FileRead read = ReadFileBytes(path, kMaxSettingsBytes, bytes, why);
    if (read == FileRead::kFailed) why = "cannot read the settings file " + path + ": " + why;
    return read;
}

// The tables the bytes hold; false for a damaged file, which edits would keep damaged.
bool Parse(const std::string& path, FileRead read, const std::string& bytes, Station& station, std::string& why) {
    station = Station{};
    if (read == FileRead::kMissing) return true;
    const SettingsLoad load = ParseSettings(bytes, station.tables, station.bands);
    if (load.state != SettingsState::kDamaged) return true;
    why = Describe(path, load) + "; edits are refused until it is mended or removed";
    return false;
}

}  // namespace

WebConsole::WebConsole(const Options& options, Log& log)
    : m_options(options), m_log(log), m_settingsPath(options.settingsPath) {}

// The server's workers may still wake the main thread: they go before the wake does.
WebConsole::~WebConsole() { m_server.reset(); }

bool WebConsole::Start(std::string& error) {
    if (!m_wake.Open(error)) return false;
    m_statePath = StateFilePath(false);
    // systemd makes $RUNTIME_DIRECTORY; a user's run makes its own, once.
    const std::string dir = fileio::DirectoryOf(m_statePath);
    if (std::string why; !MakeFolder(dir, why))
        m_log.Warn("cannot make " + dir + " for the state file: " + why + "; kelvane status will not see this service");
    if (!m_options.web) return true;
    web::WebOptions o;
    std::string setup;
    if (!WebOptionsOf(o, setup, error) || !Serve(o, setup, error)) {
        error = "the web console cannot start: " + error;
        return false;
    }
    return true;
}

bool WebConsole::WebOptionsOf(web::WebOptions& o, std::string& setup, std::string& error) {
    o.listen = *m_options.web;
    o.certFile = m_options.webCert;
    o.keyFile = m_options.webKey;
    o.tokenFile = m_options.webTokenFile;
    o.hosts = m_options.webHosts;
    o.maxPerAddress = 16;  // a quarter: one client on the LAN cannot hold them all
    o.rules.name = NameRule;
    std::string why;
    if (!m_options.webPasswordFile.empty() && !web::LoadPasswordFile(m_options.webPasswordFile, o.passwordHash, why)) {
        error = "--web-password-file " + m_options.webPasswordFile + ": " + why;
        return false;
    }
    if (std::vector<web::TokenEntry> tokens; !o.tokenFile.empty() && !web::ReadTokenFile(o.tokenFile, tokens, why)) {
        error = "--web-token-file " + why;
        return false;
    }
    setup = o.listen.address + '\0' + std::to_string(o.listen.port) + '\0' + o.passwordHash + '\0' + o.tokenFile;
    for (const std::string& host : o.hosts) setup += '\0' + host;
    // A certificate renewed in place is a change too.
    for (const std::string& file : {o.certFile, o.keyFile}) {
        std::string bytes;
        if (!file.empty() && ReadFileBytes(file, 1 << 20, bytes, why) != FileRead::kOk) {
            error = "cannot read " + file + ": " + (why.empty() ? "it is not there" : why);
            return false;
        }
        setup += '\0' + file + '\0' + bytes;
    }
    return true;
}

bool WebConsole::Serve(const web::WebOptions& options, const std::string& setup, std::string& error) {
    m_webLog = std::make_unique<Log>(m_log, "web console: ");
    web::WebOptions o = options;
    o.warn = [log = m_webLog.get()](const std::string& line) { log->Warn(line); };
    o.verbose = [log = m_webLog.get()](const std::string& line) { log->Verbose(line); };
    m_server = std::make_unique<web::WebServer>(*this, o);
    if (!m_server->Start(error)) {
        m_server.reset();
        return false;
    }
    m_serving = options;
    m_setup = setup;
    const std::string& address = o.listen.address;
    const bool v6 = address.find(':') != std::string::npos;
    m_log.Info(std::string("web console at ") + (o.certFile.empty() ? "http" : "https") + "://" +
               (v6 ? "[" + address + "]" : address) + ":" + std::to_string(m_server->port()) + "/" +
               (o.passwordHash.empty() ? "" : ", with a password"));
    if (!IsLoopback(address) && o.certFile.empty())
        m_log.Warn("the web console on " + address +
                   " is not encrypted: its password and sessions cross the network as plain text; "
                   "give web-cert and web-key");
    return true;
}

void WebConsole::Reload() {
    web::WebOptions o;
    std::string setup, why;
    if (m_options.web && !WebOptionsOf(o, setup, why)) {
        m_log.Error("reload: " + why + "; the web console is left as it was");
        return;
    }
    if (setup == m_setup) return;
    // The old listener goes first: the new one may want its port.
    const web::WebOptions before = m_serving;
    const std::string beforeSetup = m_setup;
    const bool wasServing = m_server != nullptr;
    m_server.reset();
    m_setup.clear();
    if (!m_options.web) {
        m_log.Info("reload: the web console is stopped (no web option any more)");
        return;
    }
    if (Serve(o, setup, why)) {
        m_log.Info("reload: the web console restarted with the new settings; every session has ended");
        return;
    }
    std::string again;
    if (wasServing && Serve(before, beforeSetup, again))
        m_log.Error("reload: the web console cannot start with the new settings: " + why + "; it runs as before");
    else
        m_log.Error("reload: the web console cannot start: " + why + (again.empty() ? "" : "; as before: " + again) +
                    "; it is stopped until a reload that works");
}

void WebConsole::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_answered.notify_all();
    }
    m_server.reset();
    if (!m_statePath.empty()) std::remove(m_statePath.c_str());
}

void WebConsole::Push(Command command) {
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back(std::move(command));
    }
    m_wake.Signal();
}

void WebConsole::RunCommands(std::vector<Radio>& radios, Station& station) {
    m_wake.Clear();
    std::deque<Command> commands;
    {
        std::lock_guard lock(m_mutex);
        commands.swap(m_commands);
    }
    for (auto& c : commands) switch (c.kind) {
        case Command::kPick: {
            const Picked answer = PickNow(radios, c.radio, c.antenna + 1);
            std::lock_guard lock(m_mutex);
            *c.done = answer;
            m_answered.notify_all();
            break;
        }
        case Command::kAuto:
            AutoNow(radios, c.radio, c.on);
            break;
        case Command::kTables:
            station = c.station;  // the one copy: the radios and the next reload's checks read it
            m_log.Info("settings saved from the web console to " + m_options.settingsPath + "; switching by them");
            break;
        }
}

// The server checked the name against the state; a reload may have renamed nothing since, but be sure.
static PollLoop* Find(std::vector<Radio>& radios, const std::string& name) {
    for (Radio& r : radios)
        if (r.options.name == name) return r.loop.get();
    return nullptr;
}

Picked WebConsole::PickNow(std::vector<Radio>& radios, const std::string& radio, int antenna) {
    PollLoop* loop = Find(radios, radio);
    if (!loop) return Picked::kTaken;
    const Picked answer = loop->Pick(antenna - 1);
    std::lock_guard lock(m_mutex);
    // The reply says why it waits before the next Publish shows it.
    for (auto& s : m_state)
        if (s.name == radio) s.heldWhy = loop->State().heldWhy;
    return answer;
}

void WebConsole::AutoNow(std::vector<Radio>& radios, const std::string& radio, bool on) {
    if (PollLoop* loop = Find(radios, radio)) loop->SetAuto(on);
}

void WebConsole::Publish(const std::vector<Radio>& radios) {
    std::vector<web::RadioState> state;
    for (const Radio& radio : radios) {
        const PollLoop& loop = *radio.loop;
        const PollLoop::View view = loop.State();
        web::RadioState r;
        r.name = radio.options.name;
        r.frequency_hz = view.hertz ? *view.hertz : std::nan("");
        if (view.band) r.band = web::RadioState::Band{*view.band + 1, view.bandName};
        if (const auto& e = radio.output->Wanted(); e && e->antenna >= 0)
            r.antenna = web::RadioState::Antenna{e->antenna + 1, e->name, e->byte};
        r.transmitting = loop.Transmitting();
        r.transmitKnown = loop.TransmitKnown();
        r.heldWhy = view.heldWhy;
        r.automatic = view.automatic;
        if (view.held) r.held = *view.held + 1;
        r.source = {radio.options.sourceText, radio.source->State()};
        r.output = {radio.options.outputText, radio.output->State()};
        // A radio of its own has no one to share with: its page and status stay as they were.
        if (radios.size() > 1)
            for (const int a : view.choices) r.choices.push_back(a + 1);
        r.blockedBy = view.blockedBy;
        r.inhibit = radio.options.inhibit;
        state.push_back(std::move(r));
    }
    std::string shown = web::StateJson(state).dump();

    const auto now = std::chrono::steady_clock::now();
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        m_settingsPath = m_options.settingsPath;
        m_inhibits.configPath = m_options.configPath;
        m_inhibits.radios = m_options.radios;
        m_inhibits.alternates = m_options.alternates;
        if (shown != m_shown) {
            m_shown = std::move(shown);
            m_state = state;
            changed = true;
        }
    }
    if (changed && m_server) m_server->Notify();
    // Not before Start: a service that does not start leaves no state behind.
    if (m_statePath.empty() || (!changed && now - m_stateWritten < web::kStateRefresh)) return;
    m_stateWritten = now;
    std::string why;
    const bool ok = web::WriteStateFile(m_statePath, state, ProcessId(), std::chrono::system_clock::now(), why);
    if (!ok && m_stateFileOk) m_log.Warn("cannot write the state file for kelvane status: " + why);
    if (ok && !m_stateFileOk) m_log.Info("the state file " + m_statePath + " is written again");
    m_stateFileOk = ok;
}

std::vector<web::RadioState> WebConsole::State() {
    std::lock_guard lock(m_mutex);
    return m_state;
}

Picked WebConsole::PickAntenna(const std::string& radio, int antenna) {
    auto done = std::make_shared<std::optional<Picked>>();
    Push({Command::kPick, radio, antenna - 1, false, {}, done});
    std::unique_lock lock(m_mutex);
    if (m_answered.wait_for(lock, kPickAnswer, [&] { return done->has_value() || m_stopping; }) && done->has_value())
        return **done;
    // Still queued: the main thread decides at its next turn; the state shows what it did.
    return Picked::kPending;
}

void WebConsole::SetAuto(const std::string& radio, bool on) { Push({Command::kAuto, radio, 0, on, {}, nullptr}); }

std::string WebConsole::SettingsPath() {
    std::lock_guard lock(m_mutex);
    return m_settingsPath;
}

bool WebConsole::ReadTables(Tables& tables, std::string& why) {
    std::string bytes;
    const std::string path = SettingsPath();
    const FileRead read = ReadSettingsBytes(path, bytes, why);
    if (read == FileRead::kFailed || !Parse(path, read, bytes, tables.station, why)) return false;
    tables.etag = web::EtagOf(bytes);
    return true;
}

web::WebBackend::Put WebConsole::WriteTables(const Station& station, const std::string& ifMatch, std::string& etag,
                                             std::string& why) {
    const std::string path = SettingsPath();
    // From the check to the save, so that `kelvane settings` cannot slip an edit in between.
    const SettingsEditLock lock(path);
    if (!lock.Held()) {
        why = "cannot lock " + path + " for the edit: " + lock.Reason();
        return Put::kFailed;
    }
    std::string bytes;
    Station onDisk;
    const FileRead read = ReadSettingsBytes(path, bytes, why);
    if (read == FileRead::kFailed) return Put::kFailed;
    if (web::EtagOf(bytes) != ifMatch) return Put::kStale;
    if (!Parse(path, read, bytes, onDisk, why)) return Put::kFailed;
    {
        std::lock_guard guard(m_mutex);
        if (const std::string clash = InhibitClash(m_inhibits, station); !clash.empty()) {
            why = "the config's " + clash.substr(clash.find("line")) + "; nothing was saved";
            return Put::kFailed;
        }
    }
    std::string reason;
    if (!SaveSettings(path, station.tables, station.bands, &reason)) {
        why = "cannot save " + path + ": " + reason + "; the file is unchanged";
        return Put::kFailed;
    }
    etag = web::EtagOf(SerializeSettings(station.tables, station.bands));
    Push({Command::kTables, {}, 0, false, station, nullptr});
    return Put::kSaved;
}

}  // namespace kelvane::svc
