// The Linux edition's figures (not a test): latency from an F on rigctld to the
// journal line, CPU per poll and memory, beside the shell loop an operator
// would otherwise write; the same against the real flrig (rig.set_vfo), and
// from a RadioInfo datagram leaving its sender to the journal line. Prints
// Markdown tables. With `two-radios`, instead: one service following two
// rigctld (two radios sharing antennas) beside one following one, in one run,
// and radio A beside a B whose rigctld accepts and never answers.
//
//   linux_bench KELVANE_PROGRAM WORK_DIR [CHANGES] [two-radios]
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
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
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

// RadioInfo datagrams to 127.0.0.1, stamped as they leave.
Run MeasureUdp(const std::string& program, const std::string& dir, int changes) {
    const int port = FreeUdpPort();
    Loopback sender;
    const Setter set = [&](long hz) {
        sender.Send(port, "<?xml version=\"1.0\"?><RadioInfo><RadioNr>1</RadioNr><Freq>" + std::to_string(hz / 10) +
                              "</Freq><TXFreq>0</TXFreq><IsTransmitting>False</IsTransmitting></RadioInfo>");
    };
    return Measure(
        set,
        {program, "--settings", dir + "/Kelvaneer12.ini", "--source", "udp:127.0.0.1:" + std::to_string(port), "--poll",
         std::to_string(kPollMs), "--output", "journal:" + dir + "/udp.journal"},
        dir + "/udp.journal", changes, -1, {20, 80});
}

int Main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: linux_bench KELVANE_PROGRAM WORK_DIR [CHANGES] [two-radios]\n");
        return 2;
    }
    const std::string program = argv[1], dir = argv[2];
    const int changes = argc > 3 ? std::atoi(argv[3]) : 200;
    Rigctld rig(FreePort());
    const std::string where = "127.0.0.1:" + std::to_string(rig.port());
    const Station station = DemoStation();
    SaveSettings(dir + "/Kelvaneer12.ini", station.tables, station.bands);
    if (argc > 4 && std::string(argv[4]) == "two-radios") return TwoRadios(program, dir, changes, rig);

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
