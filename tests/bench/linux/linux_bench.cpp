// The Linux edition's figures (not a test): latency from an F on rigctld to the
// journal line, CPU per poll and memory, beside the shell loop an operator
// would otherwise write; the same against the real flrig (rig.set_vfo), and
// from a RadioInfo datagram leaving its sender to the journal line. Prints
// Markdown tables. With `two-radios`, instead: one service following two
// rigctld (two radios sharing antennas) beside one following one, in one run,
// and radio A beside a B whose rigctld accepts and never answers. With `mqtt`,
// instead: the station bus through a mosquitto on loopback.
//
//   linux_bench KELVANE_PROGRAM WORK_DIR [CHANGES] [two-radios|mqtt]
#include <fcntl.h>
#include <httplib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>
#include <tuple>

#include "service/platform/linux/devices/devices.h"
#include "service/station/poll_loop.h"
#include "service/sources/rigctld/rigctld_link.h"
#include "settings/settings_file.h"
#include "tests/linux/helpers.h"

namespace kelvane::svc::test {
namespace {

constexpr int kPollMs = 100;
// One frequency inside each band, in Hz.
constexpr long kBandHz[] = {1840000,  3650000,  7100000,  10120000, 14200000,
                            18100000, 21200000, 24940000, 28500000, 50150000};

std::int64_t NowMicros() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

long RssKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

// The journal's lines from byte `from` on; `from` moves past the whole lines read.
std::vector<std::string> NewLines(const std::string& path, std::size_t& from) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(from));
    std::vector<std::string> out;
    std::string all((std::istreambuf_iterator<char>(in)), {});
    std::size_t start = 0;
    for (std::size_t nl; (nl = all.find('\n', start)) != std::string::npos; start = nl + 1)
        out.push_back(all.substr(start, nl - start));
    from += start;
    return out;
}

long LineCount(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return static_cast<long>(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
}

struct Run {
    std::vector<double> latencyMs;
    double cpuSeconds = 0, seconds = 0, polls = 0;
    long rssKiB = 0;
};

// The value at fraction `q` of the sorted values (nearest rank); 0 when none.
double At(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[std::min(v.size() - 1, static_cast<std::size_t>(q * (v.size() - 1) + 0.5))];
}

std::string Percentiles(const std::vector<double>& v, int decimals = 1) {
    if (v.empty()) return "- | - | - | -";
    auto at = [&](double q) { return At(v, q); };
    char buf[128];
    std::snprintf(buf, sizeof buf, "%.*f | %.*f | %.*f | %.*f", decimals, at(0.5), decimals, at(0.9), decimals,
                  at(0.99), decimals, at(1.0));
    return buf;
}

// Starts `argv`; with `out`, its standard output and error go to that file.
pid_t Start(const std::vector<std::string>& argv, const std::string& out = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!out.empty()) {
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

void Stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// User plus system CPU seconds so far, from /proc/PID/stat (fields 14 and 15).
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), {});
    std::istringstream after(stat.substr(stat.rfind(')') + 2));
    std::vector<std::string> fields{std::istream_iterator<std::string>(after), {}};
    if (fields.size() < 13) return 0;
    return static_cast<double>(std::stoll(fields[11]) + std::stoll(fields[12])) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// Sets the frequency on whatever is followed.
using Setter = std::function<void(long hertz)>;

// One radio the service follows: how to set its frequency, where its lines go,
// and the bands its changes go round (indices into kBandHz).
struct Channel {
    Setter set;
    std::string journal;
    std::vector<int> bands{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
};

// Starts `argv`; changes the band `changes` times per channel at random
// moments (`pauseMs` apart), the channels in turn, and times each change,
// from just before its `set`, to its channel's journal line. One Run per
// channel; CPU, polls and memory are the process's.
std::vector<Run> MeasureEach(const std::vector<Channel>& channels, const std::vector<std::string>& argv, int changes,
                             int countFd = -1, std::pair<int, int> pauseRange = {250, 600}) {
    for (const auto& c : channels) {
        std::remove(c.journal.c_str());
        ::close(::open(c.journal.c_str(), O_CREAT | O_WRONLY, 0644));
        c.set(1000000);  // no band: the first change below is a switch
    }
    const pid_t pid = Start(argv);
    Run run;
    std::vector<std::vector<double>> latencyMs(channels.size());
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pauseMs(pauseRange.first, pauseRange.second);
    ::usleep(500000);  // let it connect before the clock starts; not part of any figure
    std::vector<std::size_t> offset(channels.size());
    for (std::size_t c = 0; c < channels.size(); ++c) NewLines(channels[c].journal, offset[c]);  // not a change's
    const auto started = std::chrono::steady_clock::now();
    for (int k = 0; k < changes * static_cast<int>(channels.size()); ++k) {
        const std::size_t c = static_cast<std::size_t>(k) % channels.size();
        const auto& bands = channels[c].bands;
        ::usleep(static_cast<useconds_t>(pauseMs(random)) * 1000);
        const std::int64_t sent = NowMicros();
        channels[c].set(kBandHz[bands[static_cast<std::size_t>(k) / channels.size() % bands.size()]]);
        std::vector<std::string> lines;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (lines.empty() && std::chrono::steady_clock::now() < deadline) {
            ::usleep(1000);
            lines = NewLines(channels[c].journal, offset[c]);
        }
        if (!lines.empty()) latencyMs[c].push_back(static_cast<double>(std::stoll(lines.back()) - sent) / 1000.0);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.rssKiB = RssKiB(pid);
    ::kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    if (countFd >= 0) {
        char buf[4096];
        for (ssize_t n; (n = ::read(countFd, buf, sizeof buf)) > 0;) run.polls += static_cast<double>(n);
    } else {
        run.polls = run.seconds * 1000.0 / kPollMs;
    }
    std::vector<Run> runs(channels.size(), run);
    for (std::size_t c = 0; c < channels.size(); ++c) runs[c].latencyMs = std::move(latencyMs[c]);
    return runs;
}

Run Measure(const Setter& set, const std::vector<std::string>& argv, const std::string& journal, int changes,
            int countFd = -1, std::pair<int, int> pauseRange = {250, 600}) {
    return MeasureEach({Channel{set, journal}}, argv, changes, countFd, pauseRange).front();
}

// One service, two radios on their own rigctld, each changing among bands of
// its own so that every change is a switch; beside one service on one rigctld.
int TwoRadios(const std::string& program, const std::string& dir, int changes, const Rigctld& rig) {
    Rigctld second(FreePort());
    const std::string settings = dir + "/Kelvaneer12.ini", config = dir + "/two-radios.conf";
    const Run one = Measure([&](long hz) { rig.Ask("F " + std::to_string(hz)); },
                            {program, "--settings", settings, "--rigctld", "127.0.0.1:" + std::to_string(rig.port()),
                             "--poll", std::to_string(kPollMs), "--output", "journal:" + dir + "/kelvane.journal"},
                            dir + "/kelvane.journal", changes);
    std::ofstream(config) << "poll = " << kPollMs << "\n[radio A]\nsource = rigctld:127.0.0.1:" << rig.port()
                          << "\noutput = journal:" << dir
                          << "/a.journal\n[radio B]\nsource = rigctld:127.0.0.1:" << second.port()
                          << "\noutput = journal:" << dir << "/b.journal\n";
    const std::vector<Run> two = MeasureEach(
        {Channel{[&](long hz) { rig.Ask("F " + std::to_string(hz)); }, dir + "/a.journal", {0, 1, 2, 3, 4}},
         Channel{[&](long hz) { second.Ask("F " + std::to_string(hz)); }, dir + "/b.journal", {5, 6, 7, 8, 9}}},
        {program, "--config", config, "--settings", settings}, changes);
    // B's rigctld replaced by a listener that accepts and never answers: A alone is measured.
    const int hung = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof where;
    ::bind(hung, reinterpret_cast<sockaddr*>(&where), sizeof where);
    ::listen(hung, 16);
    ::getsockname(hung, reinterpret_cast<sockaddr*>(&where), &length);
    std::thread holder([hung] {
        std::vector<int> held;
        for (int fd; (fd = ::accept(hung, nullptr, nullptr)) >= 0;) held.push_back(fd);
        for (const int fd : held) ::close(fd);
    });
    std::ofstream(config) << "poll = " << kPollMs << "\n[radio A]\nsource = rigctld:127.0.0.1:" << rig.port()
                          << "\noutput = journal:" << dir
                          << "/a.journal\n[radio B]\nsource = rigctld:127.0.0.1:" << ntohs(where.sin_port)
                          << "\noutput = journal:" << dir << "/b.journal\n";
    const Run beside =
        MeasureEach(
            {Channel{[&](long hz) { rig.Ask("F " + std::to_string(hz)); }, dir + "/a.journal", {0, 1, 2, 3, 4}}},
            {program, "--config", config, "--settings", settings}, changes)
            .front();
    ::shutdown(hung, SHUT_RDWR);
    holder.join();
    ::close(hung);
    std::printf(
        "Latency from F on rigctld to the radio's journal line, %d band changes per radio at random moments, "
        "poll %d ms:\n\n"
        "| service | radio | changes seen | median ms | p90 ms | p99 ms | max ms | CPU per poll round | RSS |\n"
        "|---|---|---|---|---|---|---|---|---|\n",
        changes, kPollMs);
    for (const auto& [name, radio, r] : {std::tuple<const char*, const char*, const Run&>{"one radio", "-", one},
                                         {"two radios", "A", two[0]},
                                         {"two radios", "B", two[1]},
                                         {"two radios, B hung", "A", beside}})
        std::printf("| %s | %s | %zu | %s | %.0f us | %ld KiB |\n", name, radio, r.latencyMs.size(),
                    Percentiles(r.latencyMs).c_str(), r.cpuSeconds * 1e6 / r.polls, r.rssKiB);
    for (const auto& [radio, r] : {std::pair<const char*, const Run&>{"A", two[0]}, {"B", two[1]}})
        std::printf("\nRadio %s / one radio: median x%.2f, p99 x%.2f", radio,
                    At(r.latencyMs, 0.5) / At(one.latencyMs, 0.5), At(r.latencyMs, 0.99) / At(one.latencyMs, 0.99));
    std::printf(
        "\nRadio A beside a hung B / one radio: median x%.2f, p99 x%.2f; p99 %.1f ms, within poll + 50 ms: %s\n",
        At(beside.latencyMs, 0.5) / At(one.latencyMs, 0.5), At(beside.latencyMs, 0.99) / At(one.latencyMs, 0.99),
        At(beside.latencyMs, 0.99), At(beside.latencyMs, 0.99) <= kPollMs + 50 ? "yes" : "no");
    return 0;
}

// The poll loop in process, 100 000 polls back to back: CPU per poll and memory.
void PollsInProcess(const Rigctld& rig, const std::string& journal) {
    LogLines logs;
    auto source = MakeRigctldSource(LinkOptions{Endpoint{"127.0.0.1", std::to_string(rig.port())}}, logs.log);
    OutputSpec spec;
    std::string error;
    ParseOutputSpec("journal:" + journal, spec, error);
    OutputChannel output(MakeOutputDevice(spec, RealApis()), "journal", logs.log);
    PollLoop loop(*source, output, logs.log, Interlock::kAuto, DemoStation());
    auto cpu = [] {
        rusage u{};
        ::getrusage(RUSAGE_SELF, &u);
        return Seconds(u.ru_utime) + Seconds(u.ru_stime);
    };
    long rssAt1k = 0;
    const double cpu0 = cpu();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 1; i <= 100000; ++i) {
        if (i % 1000 == 0) rig.Ask("F " + std::to_string(kBandHz[(i / 1000) % 10]));
        loop.PollOnce();
        if (i == 1000) rssAt1k = RssKiB(::getpid());
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf(
        "\n100 000 polls back to back, in process (f and t each poll, a band change every 1 000):\n\n"
        "| polls answered | wall per poll | CPU per poll | RSS after 1 000 | RSS after 100 000 |\n"
        "|---|---|---|---|---|\n| %llu | %.1f us | %.1f us | %ld KiB | %ld KiB |\n",
        static_cast<unsigned long long>(loop.AnsweredPolls()), wall * 1e6 / 100000, (cpu() - cpu0) * 1e6 / 100000,
        rssAt1k, RssKiB(::getpid()));
}

// The real flrig (no radio, under Xvfb, on its fixed port 12345) at poll 100 ms;
// its frequency set by rig.set_vfo, as a logger would.
Run MeasureFlrig(const std::string& program, const std::string& dir, int changes) {
    const std::string config = dir + "/flrig";
    ::mkdir(config.c_str(), 0755);
    const pid_t flrig = ::fork();
    if (flrig == 0) {
        ::setpgid(0, 0);
        ::execlp("xvfb-run", "xvfb-run", "-a", "flrig", "--config-dir", config.c_str(), "--test", nullptr);
        ::_exit(127);
    }
    httplib::Client client("127.0.0.1", 12345);
    client.set_keep_alive(true);
    const auto call = [&](const std::string& method, const std::string& params) {
        const auto r = client.Post("/RPC2",
                                   "<?xml version=\"1.0\"?><methodCall><methodName>" + method +
                                       "</methodName><params>" + params + "</params></methodCall>",
                                   "text/xml");
        return r && r->status == 200;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!call("rig.get_vfo", "") && std::chrono::steady_clock::now() < deadline) ::usleep(100000);
    const Setter set = [&](long hz) {
        call("rig.set_vfo", "<param><value><double>" + std::to_string(hz) + ".0</double></value></param>");
    };
    const Run run = Measure(set,
                            {program, "--settings", dir + "/Kelvaneer12.ini", "--source", "flrig:127.0.0.1:12345",
                             "--poll", std::to_string(kPollMs), "--output", "journal:" + dir + "/flrig.journal"},
                            dir + "/flrig.journal", changes);
    ::kill(-flrig, SIGKILL);
    ::waitpid(flrig, nullptr, 0);
    return run;
}

std::string RadioInfo(long hz) {
    return "<?xml version=\"1.0\"?><RadioInfo><RadioNr>1</RadioNr><Freq>" + std::to_string(hz / 10) +
           "</Freq><TXFreq>0</TXFreq><IsTransmitting>False</IsTransmitting></RadioInfo>";
}

// RadioInfo datagrams to 127.0.0.1, stamped as they leave.
Run MeasureUdp(const std::string& program, const std::string& dir, int changes) {
    const int port = FreeUdpPort();
    Loopback sender;
    const Setter set = [&](long hz) { sender.Send(port, RadioInfo(hz)); };
    return Measure(
        set,
        {program, "--settings", dir + "/Kelvaneer12.ini", "--source", "udp:127.0.0.1:" + std::to_string(port), "--poll",
         std::to_string(kPollMs), "--output", "journal:" + dir + "/udp.journal"},
        dir + "/udp.journal", changes, -1, {20, 80});
}

// The station bus on loopback: a mosquitto, an agent kelvane (no output)
// following RadioInfo datagrams and publishing, and a switching kelvane
// following the agent's radio through the broker. First the latency from a
// datagram at the agent to the switching kelvane's journal line, beside the
// same datagrams straight to a kelvane; then the agent fed 1 000 datagrams a
// second for 10 s, a new frequency in each and a new band every tenth.
int Bus(const std::string& program, const std::string& dir, int changes) {
    const int broker = FreePort(), udp = FreeUdpPort();
    std::ofstream(dir + "/mosquitto.conf")
        << "listener " << broker << " 127.0.0.1\nallow_anonymous true\nset_tcp_nodelay true\n";
    const pid_t mosquitto = Start({"mosquitto", "-c", dir + "/mosquitto.conf"}, dir + "/mosquitto.log");
    if (!Eventually([&] {
            const int fd = Dial(broker);
            if (fd >= 0) ::close(fd);
            return fd >= 0;
        })) {
        std::fprintf(stderr, "mosquitto did not start; see %s/mosquitto.log\n", dir.c_str());
        return 1;
    }
    const std::string url = "mqtt://127.0.0.1:" + std::to_string(broker), settings = dir + "/Kelvaneer12.ini";
    const pid_t agent = Start({program, "--settings", settings, "--source", "udp:127.0.0.1:" + std::to_string(udp),
                               "--output", "none", "--mqtt", url, "--mqtt-station", "agent", "--mqtt-discovery", "no"},
                              dir + "/agent.log");
    const std::string sub = "mosquitto_sub -p " + std::to_string(broker) + " -C 1 -W 10 -t kelvane/agent/status";
    if (std::system((sub + " >/dev/null").c_str()) != 0) {
        std::fprintf(stderr, "the agent did not come online; see %s/agent.log\n", dir.c_str());
        return 1;
    }
    // Every state the agent publishes, to count how many datagrams became one.
    const pid_t states = Start({"mosquitto_sub", "-p", std::to_string(broker), "-t", "kelvane/agent/radio/1/state"},
                               dir + "/states.txt");
    Loopback sender;
    const auto shack = [&](const std::string& journal) {
        return std::vector<std::string>{
            program,    "--settings",         settings, "--source", "mqtt:kelvane/agent/radio/1/state",
            "--output", "journal:" + journal, "--mqtt", url,        "--mqtt-station",
            "shack",    "--mqtt-discovery",   "no"};
    };
    const Run direct = MeasureUdp(program, dir, changes);
    const Run through = Measure([&](long hz) { sender.Send(udp, RadioInfo(hz)); }, shack(dir + "/bus.journal"),
                                dir + "/bus.journal", changes, -1, {20, 80});

    const std::string journal = dir + "/flood.journal";
    ::close(::open(journal.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644));
    const pid_t switching = Start(shack(journal), dir + "/shack.log");
    std::size_t read = 0;
    const bool ready = Eventually([&] { return !NewLines(journal, read).empty(); },
                                  [&] { sender.Send(udp, RadioInfo(kBandHz[9])); }, 20s);
    constexpr int kRate = 1000, kSeconds = 10, kSent = kRate * kSeconds;
    const auto bandOf = [](int i) { return (i / 10 + 1) % 10; };  // the first differs from the band above
    const auto statesBefore = LineCount(dir + "/states.txt");
    const double cpu0 = CpuSeconds(switching), agentCpu0 = CpuSeconds(agent);
    const auto t0 = std::chrono::steady_clock::now();
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (int i = 0; i < kSent; ++i) {
        sender.Send(udp, RadioInfo(kBandHz[bandOf(i)] + 10L * (i % 10)));
        next.tv_nsec += 1000000000L / kRate;
        if (next.tv_nsec >= 1000000000L) next = {next.tv_sec + 1, next.tv_nsec - 1000000000L};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const std::string wanted = " antenna=" + std::to_string(bandOf(kSent - 1) + 1) + " ";
    std::vector<std::string> lines;
    const auto settled = [&] {
        for (auto& l : NewLines(journal, read)) lines.push_back(std::move(l));
        return !lines.empty() && lines.back().find(wanted) != std::string::npos;
    };
    const bool last = Eventually(
        settled, [] {}, 5s);
    const double cpu = CpuSeconds(switching) - cpu0, agentCpu = CpuSeconds(agent) - agentCpu0;
    const long rss = RssKiB(switching), agentRss = RssKiB(agent);
    for (const pid_t p : {switching, states, agent, mosquitto}) Stop(p);
    const auto published = LineCount(dir + "/states.txt") - statesBefore;

    std::printf(
        "Latency from a RadioInfo datagram leaving its sender to the switching kelvane's journal line, %d band "
        "changes 20-80 ms apart, mosquitto on loopback:\n\n"
        "| path | changes seen | median ms | p90 ms | p99 ms | max ms | p99 under 10 ms |\n"
        "|---|---|---|---|---|---|---|\n",
        changes);
    for (const auto& [name, r] : {std::pair<const char*, const Run&>{"datagram -> kelvane (no broker)", direct},
                                  {"datagram -> agent -> broker -> kelvane", through}})
        std::printf("| %s | %zu | %s | %s |\n", name, r.latencyMs.size(), Percentiles(r.latencyMs, 3).c_str(),
                    At(r.latencyMs, 0.99) < 10 ? "yes" : "no");
    std::printf(
        "\nThe agent fed %d datagrams a second for %d s (%.1f s measured), a new frequency in each, a new band "
        "every tenth (%d band changes):%s\n\n"
        "| process | CPU | RSS | states published | switches written | last line is the last datagram's band |\n"
        "|---|---|---|---|---|---|\n"
        "| agent (udp -> mqtt) | %.1f %% | %ld KiB | %ld | - | - |\n"
        "| switching kelvane (mqtt -> journal) | %.1f %% | %ld KiB | - | %zu | %s |\n",
        kRate, kSeconds, wall, kSent / 10, ready ? "" : " (the switching kelvane never wrote its first line)",
        agentCpu * 100 / wall, agentRss, published, cpu * 100 / wall, rss, lines.size(), last ? "yes" : "no");
    return 0;
}

int Main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: linux_bench KELVANE_PROGRAM WORK_DIR [CHANGES] [two-radios|mqtt]\n");
        return 2;
    }
    const std::string program = argv[1], dir = argv[2];
    const int changes = argc > 3 ? std::atoi(argv[3]) : 200;
    Rigctld rig(FreePort());
    const std::string where = "127.0.0.1:" + std::to_string(rig.port());
    const Station station = DemoStation();
    SaveSettings(dir + "/Kelvaneer12.ini", station.tables, station.bands);
    if (argc > 4 && std::string(argv[4]) == "two-radios") return TwoRadios(program, dir, changes, rig);
    if (argc > 4 && std::string(argv[4]) == "mqtt") return Bus(program, dir, changes);

    const Setter setRig = [&](long hz) { rig.Ask("F " + std::to_string(hz)); };
    const Run kelvane = Measure(setRig,
                                {program, "--settings", dir + "/Kelvaneer12.ini", "--rigctld", where, "--poll",
                                 std::to_string(kPollMs), "--output", "journal:" + dir + "/kelvane.journal"},
                                dir + "/kelvane.journal", changes);

    // The operator's loop: ask rigctl, find the band, write the byte once it changes.
    std::ostringstream script;
    int counter[2];
    if (::pipe2(counter, O_CLOEXEC) != 0) return 1;
    ::fcntl(counter[0], F_SETFL, O_NONBLOCK);
    ::fcntl(counter[1], F_SETFD, 0);  // the loop counts its rounds on it
    script << "exec 2>/dev/null; last=; while :; do printf . >&" << counter[1] << "; f=$(rigctl -m 2 -r " << where
           << " f); k=$((f / 1000)); b=0; ";
    for (int i = 0; i < 10; ++i)
        script << "[ $k -ge " << station.bands.low[static_cast<std::size_t>(i)] << " ] && [ $k -le "
               << station.bands.high[static_cast<std::size_t>(i)] << " ] && b=" << i + 1 << "; ";
    script << "if [ $b != 0 ] && [ \"$b\" != \"$last\" ]; then echo \"$(date +%s%6N) byte=$b\" >> " << dir
           << "/shell.journal; last=$b; fi; sleep " << kPollMs / 1000.0 << "; done";
    const Run shell = Measure(setRig, {"bash", "-c", script.str()}, dir + "/shell.journal", changes, counter[0]);
    const Run flrig = MeasureFlrig(program, dir, changes);
    const Run udp = MeasureUdp(program, dir, changes);
    ::close(counter[1]);

    std::printf(
        "Latency from F on rigctld to the output line, %d band changes at random moments, poll %d ms:\n\n"
        "| loop | changes seen | median ms | p90 ms | p99 ms | max ms | CPU per poll | polls | RSS |\n"
        "|---|---|---|---|---|---|---|---|---|\n",
        changes, kPollMs);
    for (const auto& [name, r] : {std::pair<const char*, const Run&>{"kelvane, rigctld", kelvane},
                                  {"shell + rigctl", shell},
                                  {"kelvane, flrig", flrig}})
        std::printf("| %s | %zu | %s | %.0f us | %.0f | %ld KiB |\n", name, r.latencyMs.size(),
                    Percentiles(r.latencyMs).c_str(), r.cpuSeconds * 1e6 / r.polls, r.polls, r.rssKiB);
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("\nShell loop / kelvane: CPU per poll x%.0f, median latency x%.2f\n",
                (shell.cpuSeconds / shell.polls) / (kelvane.cpuSeconds / kelvane.polls),
                median(shell.latencyMs) / median(kelvane.latencyMs));
    std::printf(
        "\nLatency from a RadioInfo datagram leaving its sender to the output line, %d band changes "
        "20-80 ms apart (no poll: the datagram wakes the service):\n\n"
        "| source | changes seen | median ms | p90 ms | p99 ms | max ms | CPU per change, ticks included | RSS |\n"
        "|---|---|---|---|---|---|---|---|\n"
        "| kelvane, udp | %zu | %s | %.0f us | %ld KiB |\n",
        changes, udp.latencyMs.size(), Percentiles(udp.latencyMs, 3).c_str(),
        udp.cpuSeconds * 1e6 / static_cast<double>(std::max<std::size_t>(1, udp.latencyMs.size())), udp.rssKiB);
    PollsInProcess(rig, dir + "/inprocess.journal");
    return 0;
}

}  // namespace
}  // namespace kelvane::svc::test

int main(int argc, char** argv) { return kelvane::svc::test::Main(argc, argv); }
