// The Linux program's costs over time, in a private user and network namespace of its own:
//
//  1. start-up: the shipped executable, copied alone into a folder with a settings file choosing
//     two network interfaces, from its start to the end of its first supervision pass (which
//     builds the routing table) and to its list of connections; beside the start of a process
//     that does nothing (/bin/true).
//  2. an hour of supervision on a virtual clock: the main window's logic with the real pppd and
//     rtnetlink adapters, two links up through the stand-in pppd, 3600 one-second ticks (a RAS
//     poll and a supervision pass each): CPU time per tick and resident memory before and after;
//     again with a third peer that is never dialled (so the processes are scanned for its pppd);
//     beside the same hour with the in-memory doubles.
#include "app/brindlecove1.h"
#include "ras/linux/PppdRas.h"
#include "routing/linux/NetlinkIpHelper.h"
#include "testing/FakeIpHelper.h"
#include "testing/FakeRas.h"
#include "testing/HeadlessWindow.h"
#include "testing/linux/PrivateNetwork.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace brindlecove;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

constexpr int StartRuns = 11;
constexpr int Hour = 3600; // one-second ticks

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "brindlecove_host_bench: %s\n", why.c_str());
    std::exit(1);
}

double Median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Write(const fs::path& path, const std::string& text) {
    std::ofstream(path) << text;
}

// Resident memory of this process, kB.
long ResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmRSS:")) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

// How many processes /proc shows.
int ProcessCount() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        count += std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
    }
    return count;
}

// CPU time (user and system) of this process so far, ms.
double CpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// A fresh private network with the two uplinks and a default route through each, from which the
// program learns their gateways.
void FreshNetwork() {
    std::string why;
    if (!testing::EnterFreshNetwork(why) || !testing::SetUpUplinks(why) ||
        !testing::IpBatch("route add default via 10.2.0.2 dev int0\n"
                          "route add default via 10.1.0.2 dev loc0 metric 100\n",
                          why)) {
        Fail(why);
    }
}

// ---- 1. Start-up of the shipped program --------------------------------------------------------

struct TStartTimes {
    double PassBegins = 0; // "Creating routing table" read
    double FirstPass = 0;  // "Finished creating routing table" read
    double Listed = 0;     // "Connections:" read
};

TStartTimes StartProgram(const fs::path& folder) {
    int ends[2];
    if (::pipe(ends) != 0) {
        Fail("pipe");
    }
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    ::posix_spawn_file_actions_addclose(&actions, ends[0]);
    const std::string program = (folder / "brindlecove").string();
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = 0;
    const auto start = Clock::now();
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) != 0) {
        Fail("could not start " + program);
    }
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);

    TStartTimes times;
    std::string output;
    char buffer[4096];
    while (times.Listed == 0) {
        pollfd p{ends[0], POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) {
            Fail("the program said nothing for 10 s; so far: " + output);
        }
        const ssize_t n = ::read(ends[0], buffer, sizeof buffer);
        if (n <= 0) {
            Fail("the program ended early: " + output);
        }
        output.append(buffer, static_cast<std::size_t>(n));
        if (times.PassBegins == 0 && output.find("Creating routing table\n") != std::string::npos) {
            times.PassBegins = MsSince(start);
        }
        if (times.FirstPass == 0 &&
            output.find("Finished creating routing table\n") != std::string::npos) {
            times.FirstPass = MsSince(start);
        }
        if (output.find("Connections:\n") != std::string::npos) {
            times.Listed = MsSince(start);
        }
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(ends[0]);
    if (times.FirstPass == 0 || output.find("ERROR") != std::string::npos) {
        Fail("the first pass did not build the routes cleanly: " + output);
    }
    return times;
}

double StartTrue() {
    const char* argv[] = {"/bin/true", nullptr};
    pid_t pid = 0;
    const auto start = Clock::now();
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        Fail("could not start /bin/true");
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return MsSince(start);
}

// ---- 2. An hour of supervision -----------------------------------------------------------------

struct THourFigures {
    double CpuPerTickUs = 0;
    long ResidentBeforeKb = 0;
    long ResidentAfterKb = 0;
    std::size_t LogLines = 0;
};

// The main window on headless controls with the given RAS and routing ports, the two links
// chosen, run for an hour of virtual time once it is up and its routes are built. `everyMinute`
// runs between the minutes (the doubles forget their call records there).
THourFigures RunHour(IRasPort& ras, IIpHelperPort& ipHelper, IRegistryPort& registry,
                     const std::function<void()>& everyMinute) {
    testing::THeadlessWindow window(ras, ipHelper, registry);
    window.ChooseInSettings("local-adsl", "international-adsl");
    TfrmBrindlecove& form = window.Form;
    testing::TVirtualClock& clock = window.Clock;
    form.FormCreate();
    for (int second = 0; second < 10 && !form.RoutesBuilt; ++second) {
        clock.Advance(1000);
    }
    if (!form.RoutesBuilt) {
        std::string log;
        for (const std::string& line : window.Log().Lines()) {
            log += "\n  " + line;
        }
        Fail("the routes were not built; the log:" + log);
    }
    clock.Advance(60000); // a minute to settle
    THourFigures figures;
    figures.ResidentBeforeKb = ResidentKb();
    const double cpu = CpuMs();
    for (int second = 0; second < Hour; ++second) {
        clock.Advance(1000);
        if (second % 60 == 59) {
            everyMinute();
        }
    }
    figures.CpuPerTickUs = (CpuMs() - cpu) * 1000.0 / Hour;
    figures.ResidentAfterKb = ResidentKb();
    figures.LogLines = static_cast<std::size_t>(form.Memo1->LineCount());
    return figures;
}

// With `spare`, a third peer that is never dialled (as Debian's "provider"): every poll then
// scans the processes for a pppd of it started by other means.
THourFigures HourWithRealAdapters(const fs::path& folder, const std::string& standIn, bool spare) {
    fs::create_directories(folder / "peers");
    fs::create_directories(folder / "run");
    Write(folder / "peers/local-adsl", "# standin: up 10.64.1.2 10.64.1.1\n");
    Write(folder / "peers/international-adsl", "# standin: up 10.64.2.2 10.64.2.1\n");
    if (spare) {
        Write(folder / "peers/provider", "# standin: hang\n");
    }
    // The stand-in pppd learns its folders from the environment, as the program does.
    ::setenv("BRINDLECOVE_PPP_PEERS", (folder / "peers").c_str(), 1);
    ::setenv("BRINDLECOVE_PPP_RUNDIR", (folder / "run").c_str(), 1);
    TPppdConfig config;
    config.PppdPath = standIn;
    config.PeersFolder = (folder / "peers").string();
    config.SecretsFolder = folder.string();
    config.RunFolders = {(folder / "run").string()};
    TPppdRas ras(config);
    TNetlinkIpHelper ipHelper;
    TLinuxRegistry registry;
    const THourFigures figures = RunHour(ras, ipHelper, registry, [] {});
    testing::StopStandInLinks((folder / "run").string());
    return figures;
}

THourFigures HourWithDoubles() {
    testing::TFakeRas ras;
    ras.AddEntry("local-adsl");
    ras.AddEntry("international-adsl");
    ras.Connect("local-adsl", "10.64.1.2", "10.64.1.1");
    ras.Connect("international-adsl", "10.64.2.2", "10.64.2.1");
    testing::TFakeIpHelper ipHelper;
    ipHelper.Adapters = {{"ppp0", 5, "10.64.1.2", ""}, {"ppp1", 6, "10.64.2.2", ""}};
    testing::TFakeRegistry registry;
    return RunHour(ras, ipHelper, registry, [&] {
        ras.Calls = {};
        ipHelper.Calls = {};
    });
}

} // namespace

int main() {
    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path program = self.parent_path().parent_path() / "app/brindlecove";
    const std::string standIn = testing::StandInPppd();
    if (!fs::exists(program)) {
        Fail("build the program first: " + program.string());
    }
    std::string why;
    if (!testing::EnterPrivateNetwork(why)) {
        Fail("no private network namespace here: " + why);
    }
    char pattern[] = "/tmp/brindlecove-host-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        Fail("mkdtemp");
    }
    const fs::path folder = pattern;

    // 1. Start-up, a fresh network for every run.
    fs::create_directories(folder / "app");
    fs::create_directories(folder / "nopeers");
    fs::copy_file(program, folder / "app/brindlecove");
    Write(folder / "app/brindlecove.ini", std::string("[CONFIG]\nLOCALCONNECTION=") +
                                              testing::LocalLink +
                                              "\nINTCONNECTION=" + testing::IntLink + "\n");
    ::setenv("BRINDLECOVE_PPP_PEERS", (folder / "nopeers").c_str(), 1);
    ::setenv("BRINDLECOVE_PPP_RUNDIR", (folder / "nopeers").c_str(), 1);
    std::vector<double> passBegins;
    std::vector<double> firstPass;
    std::vector<double> listed;
    std::vector<double> nothing;
    for (int run = 0; run < StartRuns; ++run) {
        FreshNetwork();
        const TStartTimes times = StartProgram(folder / "app");
        passBegins.push_back(times.PassBegins);
        firstPass.push_back(times.FirstPass);
        listed.push_back(times.Listed);
        nothing.push_back(StartTrue());
    }

    // 2. An hour of supervision each way.
    FreshNetwork();
    const THourFigures real = HourWithRealAdapters(folder / "hour", standIn, false);
    FreshNetwork();
    const THourFigures spare = HourWithRealAdapters(folder / "spare", standIn, true);
    const THourFigures doubles = HourWithDoubles();
    fs::remove_all(folder);

    std::printf("Start-up of build/linux/app/brindlecove, two interfaces chosen, the built-in list "
                "(median of %d)\n",
                StartRuns);
    std::printf("  %-62s %9.2f ms\n",
                "start to \"Creating routing table\" (default routes swapped)", Median(passBegins));
    std::printf("  %-62s %9.2f ms\n", "start to the end of the first pass (877 routes built)",
                Median(firstPass));
    std::printf("  %-62s %9.2f ms\n", "start to the list of connections", Median(listed));
    std::printf("  %-62s %9.2f ms\n", "reference: start and end of /bin/true", Median(nothing));
    std::printf("An hour of supervision on a virtual clock (%d ticks: a RAS poll and a pass each), "
                "both links up\n",
                Hour);
    std::printf("  %-34s %14s %14s %14s %9s\n", "", "CPU per tick", "resident before",
                "resident after", "log lines");
    const auto row = [](const char* name, const THourFigures& f) {
        std::printf("  %-34s %11.1f us %11ld kB %11ld kB %9zu\n", name, f.CpuPerTickUs,
                    f.ResidentBeforeKb, f.ResidentAfterKb, f.LogLines);
    };
    row("pppd and rtnetlink adapters", real);
    row("the same, a third peer never dialled", spare);
    row("reference: in-memory doubles", doubles);
    std::printf("  CPU per tick against the one-second tick: %.4f %% (%.4f %% with the third peer; "
                "%d processes here)\n",
                real.CpuPerTickUs / 1e6 * 100, spare.CpuPerTickUs / 1e6 * 100, ProcessCount());
    return 0;
}
