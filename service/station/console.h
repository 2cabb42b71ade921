#pragma once
// The service's side of the web console and of `kelvane status`.
//
// Threads: the console's workers call the WebBackend methods; the poll loop,
// the output and the rig link stay on the main thread alone. Picks, Auto and
// saved tables go to the main thread through a queue whose Wake wakes its
// wait; the state the workers show is a copy the main thread publishes. One
// mutex guards the queue and that copy and is held only to copy or to push,
// so the main thread never waits on a client. A pick's worker waits (bounded)
// for the main thread's answer, never the other way round.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "service/config/cli.h"
#include "service/base/log.h"
#include "service/base/platform.h"
#include "service/station/output.h"
#include "service/station/poll_loop.h"
#include "service/station/radio.h"
#include "service/sources/source.h"
#include "service/config/station_file.h"
#include "service/web/server.h"
#include "service/web/status.h"

namespace kelvane::svc {

class WebConsole : public web::WebBackend {
public:
    WebConsole(const Options& options, Log& log);
    ~WebConsole() override;

    // Starts the console when --web is given and takes the state file's
    // place. False with the reason when the console cannot start.
    bool Start(std::string& error);
    // Main thread, after SIGHUP has read the config: a changed web option,
    // password file or TLS file restarts the console (ending every session);
    // one that cannot be used leaves it as it was, with a line that says so.
    void Reload();
    // Readable when commands wait; RunCommands clears it.
    Handle WakeHandle() const { return m_wake.Ready(); }

    // Main thread: the commands waiting, applied to the radios' loops.
    // A saved table replaces `station`, the tables every radio reads.
    void RunCommands(std::vector<Radio>& radios, Station& station);
    // Main thread: a pick (antenna from 1) and Auto as a console command does
    // them, for the station bus's commands.
    Picked PickNow(std::vector<Radio>& radios, const std::string& radio, int antenna);
    void AutoNow(std::vector<Radio>& radios, const std::string& radio, bool on);
    // Main thread, after every poll and command: tells the console and the
    // state file when anything shown changed, and rewrites the file at least
    // every web::kStateRefresh.
    void Publish(const std::vector<Radio>& radios);
    // A clean stop: the console closes and the state file goes.
    void Stop();

    // web::WebBackend, on the console's workers.
    std::vector<web::RadioState> State() override;
    Picked PickAntenna(const std::string& radio, int antenna) override;
    void SetAuto(const std::string& radio, bool on) override;
    bool ReadTables(Tables& tables, std::string& why) override;
    Put WriteTables(const Station& station, const std::string& ifMatch, std::string& etag, std::string& why) override;

private:
    struct Command {
        enum Kind { kPick, kAuto, kTables } kind;
        std::string radio;
        int antenna = 0;  // from 0
        bool on = false;
        Station station;
        std::shared_ptr<std::optional<Picked>> done;  // kPick: the answer
    };
    void Push(Command command);
    // The console's options from m_options, and in `setup` all they depend
    // on (the password's hash and the TLS files' bytes among them).
    bool WebOptionsOf(web::WebOptions& o, std::string& setup, std::string& error);
    bool Serve(const web::WebOptions& o, const std::string& setup, std::string& error);
    std::string SettingsPath();

    const Options& m_options;
    Log& m_log;
    std::unique_ptr<Log> m_webLog;  // the workers' lines; replaced only while no server runs
    std::unique_ptr<web::WebServer> m_server;
    web::WebOptions m_serving;  // what m_server runs with
    std::string m_setup;        // and all it depends on; empty when none runs
    Wake m_wake;
    std::string m_statePath;
    bool m_stateFileOk = true;
    std::chrono::steady_clock::time_point m_stateWritten{};

    std::mutex m_mutex;
    std::condition_variable m_answered;
    bool m_stopping = false;
    std::deque<Command> m_commands;
    std::vector<web::RadioState> m_state;
    std::string m_shown;  // m_state as JSON, to see a change
    // The settings file the workers edit: the main thread's options change
    // under a reload, so the workers see this copy, taken under the mutex.
    std::string m_settingsPath;
    // What a save is checked against, copied like the path: the radios' inhibit lines.
    Options m_inhibits;
};

}  // namespace kelvane::svc
