// The shipped Linux program end to end, through its external interfaces only: a copy of the
// executable in a folder of its own with its settings file and route list beside it, a peers
// folder served by the stand-in pppd, its command line, standard output and error, signals, the
// messages systemd would receive, and the kernel's routing table of a private network namespace.
// Then the Debian package: its control fields and files, its unit checked by systemd-analyze, and
// the program unpacked from it at work.

#include "common/linux/UniqueFd.h"
#include "testing/linux/PrivateNamespace.h"
#include "testing/linux/PrivateNetwork.h"
#include "testing/linux/TestHelpers.h"
#include "tests/platform/TempFolder.h"

#include <arpa/inet.h>
#include <bit>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <poll.h>
#include <regex>
#include <set>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace brindlecove {
namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::Contains;
using testing::CountContaining;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::Lines;
using ::testing::Not;

// The program installed in a folder of its own, as a user would copy it, with a peers folder, a
// secrets folder and a run folder for pppd's pid files beside it. Its settings file is in
// ConfigFolder: the program's folder, unless a test moves it.
struct TInstallation {
    TInstallation() {
        std::filesystem::create_directories(Folder / "peers");
        std::filesystem::create_directories(Folder / "run");
        std::filesystem::copy_file(BRINDLECOVE_PROGRAM, Program);
    }
    ~TInstallation() { testing::StopStandInLinks(Folder / "run"); }
    void Peer(const std::string& name, const std::string& scenario) const {
        WriteFile(Folder / ("peers/" + name), "# standin: " + scenario + "\nnoauth\n");
    }
    std::string Settings() const { return ReadFile(ConfigFolder + "/brindlecove.ini"); }

    TempFolder Folder;
    std::string Program = Folder / "brindlecove";
    std::string ConfigFolder = Folder.Path().string();
};

// A whole settings file choosing the two connections, as the program saves it.
std::string SettingsFor(const std::string& local, const std::string& international,
                        bool redialLocal = true) {
    return "[CONFIG]\nENABLED=1\nLOCALCONNECTION=" + local +
           "\nAUTORECONNECTLOCAL=" + (redialLocal ? "1" : "0") +
           "\nINTCONNECTION=" + international + "\nAUTORECONNECTINT=1\nAUTOROUTE=1\nMINIMIZE=0\n";
}

// How a test starts the program: its arguments, variables added to its environment, and a
// descriptor for its standard output instead of a file.
struct TStart {
    std::vector<std::string> Arguments = {};
    std::vector<std::string> Environment = {};
    int Output = -1;
};

// The program running, its standard output and error going to files.
class TRunningProgram {
public:
    explicit TRunningProgram(const TInstallation& installation, const TStart& start = {})
        : FOut(installation.Folder / "stdout"), FErr(installation.Folder / "stderr") {
        std::vector<std::string> environment{
            "PATH=" + std::string(std::getenv("PATH") != nullptr ? std::getenv("PATH") : ""),
            "LC_ALL=C",
            "BRINDLECOVE_PPPD=" + testing::StandInPppd(),
            "BRINDLECOVE_PPP_PEERS=" + installation.Folder / "peers",
            "BRINDLECOVE_PPP_SECRETS=" + installation.Folder.Path().string(),
            "BRINDLECOVE_PPP_RUNDIR=" + installation.Folder / "run",
        };
        environment.insert(environment.end(), start.Environment.begin(), start.Environment.end());
        std::vector<char*> envp;
        for (const std::string& variable : environment) {
            envp.push_back(const_cast<char*>(variable.c_str()));
        }
        envp.push_back(nullptr);
        std::vector<std::string> arguments{installation.Program};
        arguments.insert(arguments.end(), start.Arguments.begin(), start.Arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (start.Output >= 0) {
            ::posix_spawn_file_actions_adddup2(&actions, start.Output, 1);
        } else {
            ::posix_spawn_file_actions_addopen(&actions, 1, FOut.c_str(), O_WRONLY | O_CREAT, 0600);
        }
        ::posix_spawn_file_actions_addopen(&actions, 2, FErr.c_str(), O_WRONLY | O_CREAT, 0600);
        const int error =
            ::posix_spawn(&FPid, argv[0], &actions, nullptr, argv.data(), envp.data());
        ::posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            ADD_FAILURE() << "could not start " << arguments[0] << ": " << std::strerror(error);
            FPid = -1;
        }
    }
    ~TRunningProgram() {
        if (FPid > 0 && !FStatus) {
            ::kill(FPid, SIGKILL);
            Wait();
        }
    }
    TRunningProgram(const TRunningProgram&) = delete;
    TRunningProgram& operator=(const TRunningProgram&) = delete;

    // The log lines so far without their date and time, which must have the log's form.
    std::vector<std::string> Log() const {
        static const std::regex stamped(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d (.*)$)");
        std::vector<std::string> log;
        for (const std::string& line : Lines(ReadFile(FOut))) {
            std::smatch match;
            if (std::regex_match(line, match, stamped)) {
                log.push_back(match[1]);
            }
        }
        return log;
    }
    std::string Out() const { return ReadFile(FOut); }
    std::vector<std::string> Errors() const { return Lines(ReadFile(FErr)); }

    // Waits until `line` has been logged `times` times; false after `limit`.
    bool WaitForLog(const std::string& line, int times = 1,
                    std::chrono::milliseconds limit = 20000ms) const {
        return testing::WaitFor(
            [&] {
                const auto log = Log();
                return std::count(log.begin(), log.end(), line) >= times;
            },
            limit);
    }

    void Signal(int signal) const { ::kill(FPid, signal); }
    // The wait status; fails the test and kills the program when it has not ended after `limit`.
    int Wait(std::chrono::milliseconds limit = 10000ms) {
        const auto ended = [&] {
            int status = 0;
            if (FPid > 0 && !FStatus && ::waitpid(FPid, &status, WNOHANG) == FPid) {
                FStatus = status;
            }
            return FPid <= 0 || FStatus.has_value();
        };
        if (!testing::WaitFor(ended, limit)) {
            ADD_FAILURE() << "the program did not end";
            ::kill(FPid, SIGKILL);
            testing::WaitFor(ended, 60000ms);
        }
        return FStatus.value_or(-1);
    }

private:
    std::string FOut;
    std::string FErr;
    pid_t FPid = -1;
    std::optional<int> FStatus;
};

// The interface of a link the stand-in brought up, from its pid file.
std::string LinkOf(const TInstallation& installation, const std::string& entry) {
    const auto lines = Lines(ReadFile(installation.Folder / ("run/ppp-" + entry + ".pid")));
    return lines.size() >= 2 ? lines[1] : std::string();
}

// The kernel's main table, summed up: the default routes as `ip` shows them, and how many other
// routes each interface has through a gateway.
struct TTableSummary {
    std::vector<std::string> Defaults;
    std::map<std::string, int> ViaGateway;
};

TTableSummary KernelTable() {
    TTableSummary summary;
    static const std::regex route(R"(^(\S+) via \S+ dev (\S+).*$)");
    for (const std::string& line : testing::MainRoutes()) {
        std::smatch match;
        if (line.starts_with("default ")) {
            // The stand-in's links have no carrier (nobody reads them), which ip adds as
            // "linkdown"; the route is the same.
            summary.Defaults.push_back(line.substr(0, line.find(" linkdown")));
        } else if (std::regex_match(line, match, route)) {
            ++summary.ViaGateway[match[2]];
        }
    }
    return summary;
}

// The processes the stand-in pppd of `installation` runs (each carries the installation's peers
// folder in its environment) whose command line holds `part`.
std::vector<std::string> StandInProcesses(const TInstallation& installation,
                                          const std::string& part) {
    const std::string peers = "BRINDLECOVE_PPP_PEERS=" + installation.Folder / "peers";
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        std::string environment = ReadFile(entry.path() / "environ");
        std::replace(environment.begin(), environment.end(), '\0', '\n');
        if (ReadFile(entry.path() / "cmdline").find(part) != std::string::npos &&
            std::ranges::count(Lines(environment), peers) != 0) {
            found.push_back(entry.path().string());
        }
    }
    return found;
}

// The usual installation: "saix" as the local link playing `localScenario`, "overseas" as the
// international one (always up), and a settings file choosing them; answers that file's text.
std::string ChooseTwoLinks(const TInstallation& installation, const std::string& localScenario) {
    installation.Peer("saix", localScenario);
    installation.Peer("overseas", "up 10.64.2.2 10.64.2.1");
    const std::string settings = SettingsFor("saix", "overseas");
    WriteFile(installation.Folder / "brindlecove.ini", settings);
    return settings;
}

void ExpectUnchanged(const std::string& before, const TInstallation& installation) {
    EXPECT_EQ(installation.Settings(), before) << "nothing was changed, nothing is saved";
}

constexpr int BuiltInRoutes = 877; // 878 pairs, one network listed twice

TEST(ShippedProgram, DialsBothConnectionsAndRoutesTheBuiltInListThroughTheLocalOne) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    const std::string settings = ChooseTwoLinks(installation, "up 10.64.1.2 10.64.1.1");

    TRunningProgram program(installation);
    ASSERT_TRUE(program.WaitForLog("Finished creating routing table")) << program.Out();
    EXPECT_THAT(program.Log(),
                ElementsAre("Attempting to connect to local connection saix", "Connected to saix",
                            "Attempting to connect to International connection "
                            "overseas",
                            "Connected to overseas", "Creating routing table",
                            "Finished creating routing table"));
    EXPECT_THAT(Lines(program.Out()),
                AllOf(Contains("Connections:"), Contains("  overseas (pppd peer)"),
                      Contains("  saix (pppd peer)"), Contains("Local: saix"),
                      Contains("International: overseas")));
    EXPECT_THAT(program.Errors(), IsEmpty());

    const std::string local = LinkOf(installation, "saix");
    const std::string international = LinkOf(installation, "overseas");
    ASSERT_FALSE(local.empty());
    ASSERT_FALSE(international.empty());
    TTableSummary table = KernelTable();
    EXPECT_THAT(table.Defaults,
                ElementsAre("default via 10.64.2.1 dev " + international + " proto static metric 1",
                            "default via 10.64.1.1 dev " + local + " proto static metric 2"));
    EXPECT_EQ(table.ViaGateway[local], BuiltInRoutes);
    EXPECT_EQ(table.ViaGateway.count(international), 0u);

    program.Signal(SIGTERM);
    const int status = program.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ExpectUnchanged(settings, installation);
    EXPECT_EQ(program.Log().size(), 6u) << "the routes were built once";
}

// A list compiled by brindlecove-routes from delegation records (cut from the registry's file)
// replaces the built-in one: every network of it, and nothing else, goes through the local link.
TEST(ShippedProgram, RoutesAListCompiledFromRegistryDataThroughTheLocalLink) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    ChooseTwoLinks(installation, "up 10.64.1.2 10.64.1.1");
    const std::string list = installation.Folder / "localroutes.dat";
    testing::CommandOutput(std::string(BRINDLECOVE_ROUTES_PROGRAM) + " compile --country ZA -o " +
                           list + " " + BRINDLECOVE_SOURCE_DIR +
                           "/tests/data/delegated-afrinic-za-cut");
    std::set<std::string> compiled;
    for (const std::string& row : Lines(ReadFile(list))) {
        if (!row.starts_with("#")) {
            const std::size_t comma = row.find(',');
            compiled.insert(
                row.substr(0, comma) + "/" +
                std::to_string(std::popcount(::inet_addr(row.substr(comma + 1).c_str()))));
        }
    }
    ASSERT_GT(compiled.size(), 400u) << ReadFile(list);

    TRunningProgram program(installation);
    ASSERT_TRUE(program.WaitForLog("Finished creating routing table")) << program.Out();
    EXPECT_THAT(program.Errors(), IsEmpty());
    const std::string local = LinkOf(installation, "saix");
    std::set<std::string> routed;
    for (const std::string& line : testing::MainRoutes()) {
        if (line.find(" via 10.64.1.1 dev " + local) != std::string::npos &&
            !line.starts_with("default")) {
            routed.insert(line.substr(0, line.find(' ')));
        }
    }
    EXPECT_EQ(routed, compiled);
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
}

TEST(ShippedProgram, ALinkThatDropsIsRedialledAndTheRoutesOfItsOwnListRebuilt) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    const std::string settings = ChooseTwoLinks(installation, "drop-after 4 10.64.1.2 10.64.1.1");
    WriteFile(installation.Folder / "localroutes.dat", "# our own networks\r\n"
                                                       "198.51.100.0,255.255.255.0\r\n"
                                                       "10.20.30.0,255.255.0.0\r\n"
                                                       "203.0.113.0,255.255.255.0\r\n");

    TRunningProgram program(installation);
    ASSERT_TRUE(program.WaitForLog("Finished creating routing table")) << program.Out();
    const std::string firstLink = LinkOf(installation, "saix");
    TTableSummary table = KernelTable();
    EXPECT_EQ(table.ViaGateway[firstLink], 2);
    EXPECT_EQ(table.Defaults.size(), 2u);

    ASSERT_TRUE(program.WaitForLog("Finished creating routing table", 2)) << program.Out();
    const std::vector<std::string> build{
        "Creating routing table",
        "Bad IP/Mask: 10.20.30.0,255.255.0.0, IP and MASK = 10.20.0.0",
        "Finished creating routing table",
    };
    std::vector<std::string> expected{
        "Attempting to connect to local connection saix", "Connected to saix",
        "Attempting to connect to International connection overseas", "Connected to overseas"};
    expected.insert(expected.end(), build.begin(), build.end());
    expected.insert(expected.end(),
                    {"Disconnected from saix", "Attempting to connect to local connection saix",
                     "Connected to saix"});
    expected.insert(expected.end(), build.begin(), build.end());
    EXPECT_EQ(program.Log(), expected);

    const std::string local = LinkOf(installation, "saix");
    const std::string international = LinkOf(installation, "overseas");
    table = KernelTable();
    EXPECT_THAT(table.Defaults,
                ElementsAre("default via 10.64.2.1 dev " + international + " proto static metric 1",
                            "default via 10.64.1.1 dev " + local + " proto static metric 2"));
    EXPECT_EQ(table.ViaGateway[local], 2);
    EXPECT_THAT(testing::CommandOutput("ip -4 route show 198.51.100.0/24"),
                HasSubstr("dev " + local));
    EXPECT_THAT(testing::CommandOutput("ip -4 route show 203.0.113.0/24"),
                HasSubstr("dev " + local));

    program.Signal(SIGINT);
    const int status = program.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ExpectUnchanged(settings, installation);
}

// The provider stops accepting the password while saix is up (it drops after 4 s): the redial
// after the drop is refused and redial is switched off for saix, a change not saved yet.
void RefuseTheRedialOfSaix(const TInstallation& installation, const TRunningProgram& program) {
    ASSERT_TRUE(program.WaitForLog("Connected to saix")) << program.Out();
    installation.Peer("saix", "exit 19");
    ASSERT_TRUE(
        program.WaitForLog("Auto connect to LOCAL connection disabled due to connection error"))
        << program.Out();
}

// The provider stops accepting the password while the link is up: the redial after the drop is
// refused, redial is switched off for that connection, and SIGTERM saves that change.
TEST(ShippedProgram, ARedialRefusedForItsPasswordStopsRedialAndSigtermSavesThat) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    ChooseTwoLinks(installation, "drop-after 4 10.64.1.2 10.64.1.1");

    TRunningProgram program(installation);
    RefuseTheRedialOfSaix(installation, program);
    ::poll(nullptr, 0, 2500); // more supervision passes, which must not dial saix again
    EXPECT_THAT(program.Log(),
                ElementsAre("Attempting to connect to local connection saix", "Connected to saix",
                            "Attempting to connect to International connection overseas",
                            "Connected to overseas", "Creating routing table",
                            "Finished creating routing table", "Disconnected from saix",
                            "Attempting to connect to local connection saix",
                            "error: saix -> 691 The remote connection was denied because the user "
                            "name and password combination you provided is not recognized, or the "
                            "selected authentication protocol is not permitted on the remote "
                            "access server.",
                            "Auto connect to LOCAL connection disabled due to connection error"));
    EXPECT_THAT(program.Errors(),
                ElementsAre("Warning: Could not connect to saix (invalid username/password).   "
                            "Make sure you connect manually and select the 'save password' option "
                            "- this will enable Brindlecove to auto connect next time.  (Auto "
                            "connect to LOCAL connection disabled due to connection error)"));
    const TTableSummary table = KernelTable();
    EXPECT_THAT(table.Defaults, ElementsAre(HasSubstr("via 10.64.2.1"))) << "the routes of saix "
                                                                            "went with its link";

    program.Signal(SIGTERM);
    const int status = program.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(installation.Settings(), SettingsFor("saix", "overseas", false));
}

TEST(ShippedProgram, SighupReloadsTheSettingsFileAndAppliesIt) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    installation.Peer("saix", "up 10.64.1.2 10.64.1.1");
    installation.Peer("overseas", "up 10.64.2.2 10.64.2.1");
    WriteFile(installation.Folder / "brindlecove.ini", "[CONFIG]\nENABLED=0\n");

    TRunningProgram program(installation);
    ::poll(nullptr, 0, 1500); // a supervision pass or two
    EXPECT_THAT(program.Log(), IsEmpty()) << "supervision is off";
    EXPECT_THAT(Lines(program.Out()),
                AllOf(Contains("Local: (not chosen)"), Contains("International: (not chosen)")));

    const std::string settings = SettingsFor("saix", "overseas");
    WriteFile(installation.Folder / "brindlecove.ini", settings);
    program.Signal(SIGHUP);
    ASSERT_TRUE(program.WaitForLog("Finished creating routing table")) << program.Out();
    EXPECT_THAT(program.Log(), Contains("Connected to overseas"));

    program.Signal(SIGTERM);
    const int status = program.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ExpectUnchanged(settings, installation);
    EXPECT_THAT(program.Errors(), Not(Contains(HasSubstr("rror"))));
}

// Two network interfaces as the connections, each with a default route of its own before the
// program starts (as a DHCP client leaves them).
constexpr const char* InterfaceUplinks = "route add default via 10.2.0.2 dev int0\n"
                                         "route add default via 10.1.0.2 dev loc0 metric 100\n";

// Runs `commands` through ip -batch; fails the test with ip's words when one fails.
void Ip(const std::string& commands) {
    std::string why;
    ASSERT_TRUE(testing::IpBatch(commands, why)) << why;
}

TEST(ShippedProgram, TheRoutesOfTwoInterfacesComeBackAfterAFlapADeletionAndAGatewayChange) {
    RUN_IN_PRIVATE_NAMESPACE(std::string(testing::UplinkCommands) + InterfaceUplinks);
    TInstallation installation;
    WriteFile(installation.Folder / "brindlecove.ini", SettingsFor("loc0", "int0"));
    TRunningProgram program(installation);
    ASSERT_TRUE(program.WaitForLog("Finished creating routing table")) << program.Out();
    const auto expectBuilt = [](const char* localGateway) {
        TTableSummary table = KernelTable();
        EXPECT_THAT(table.Defaults,
                    ElementsAre("default via 10.2.0.2 dev int0 proto static metric 1",
                                "default via " + std::string(localGateway) +
                                    " dev loc0 proto static metric 2"));
        EXPECT_EQ(table.ViaGateway["loc0"], BuiltInRoutes);
    };
    expectBuilt("10.1.0.2");
    // Each change is noticed at once (the kernel tells), logged once and mended by one rebuild.
    int builds = 1;
    std::size_t seen = program.Log().size();
    const auto mended = [&](const std::string& change) {
        ++builds;
        EXPECT_TRUE(program.WaitForLog("Finished creating routing table", builds, 5000ms))
            << change << "\n"
            << program.Out();
        ::poll(nullptr, 0, 2500); // passes that must find the table right, and let it stand
        const auto log = program.Log();
        EXPECT_THAT(
            std::vector<std::string>(log.begin() + static_cast<std::ptrdiff_t>(seen), log.end()),
            ElementsAre("Routing table changed (" + change + "), rebuilding",
                        "Creating routing table", "Finished creating routing table"));
        seen = log.size();
    };
    ::poll(nullptr, 0, 1500); // a pass that finds the table as built

    // The local link goes down for half a second: the kernel drops every route through it.
    Ip("link set loc0 down\n");
    ::poll(nullptr, 0, 500);
    Ip("link set loc0 up\n");
    mended(std::to_string(BuiltInRoutes + 1) + " routes missing");
    expectBuilt("10.1.0.2");

    Ip("route del default via 10.2.0.2 dev int0 metric 1\n");
    mended("1 route missing");
    expectBuilt("10.1.0.2");

    Ip("route del 168.76.0.0/16 dev loc0\n");
    mended("1 route missing");
    expectBuilt("10.1.0.2");

    // The local provider moves its gateway: the routes follow it, none stays on the old one.
    Ip("route replace default via 10.1.0.3 dev loc0 metric 2\n");
    mended("local adapter changed, 1 route changed");
    expectBuilt("10.1.0.3");
    EXPECT_EQ(CountContaining(testing::MainRoutes(), "via 10.1.0.2"), 0u);

    program.Signal(SIGTERM);
    const int status = program.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_THAT(program.Errors(), IsEmpty());
}

TEST(ShippedProgram, TheFirstLinkUpGetsADefaultRouteWhileTheOtherCannotDial) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    ChooseTwoLinks(installation, "exit 8"); // the local provider does not answer

    TRunningProgram program(installation);
    ASSERT_TRUE(
        program.WaitForLog("Only the international connection is up: default route through it"))
        << program.Out();
    ::poll(nullptr, 0, 1500);
    const auto log = program.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(),
                         "Only the international connection is up: default route through it"),
              1);
    EXPECT_THAT(KernelTable().Defaults,
                ElementsAre("default via 10.64.2.1 dev " + LinkOf(installation, "overseas") +
                            " proto static metric 1"));
    program.Signal(SIGTERM);
    program.Wait();
}

// A log collector restarted: standard output is a pipe whose reader went away. Supervision goes
// on, the lines are dropped, and that is said once.
TEST(ShippedProgram, ALogReaderThatGoesAwayEndsNothing) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    ChooseTwoLinks(installation, "up 10.64.1.2 10.64.1.1");
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    TUniqueFd reader(ends[0]);
    TUniqueFd writer(ends[1]);
    TRunningProgram program(installation, {.Output = writer.Get()});
    writer.Reset();
    reader.Reset();
    ASSERT_TRUE(testing::WaitFor([] { return KernelTable().Defaults.size() == 2; }, 20000ms))
        << "the routes are built all the same";
    ::poll(nullptr, 0, 1500); // more passes, and their writes
    program.Signal(SIGTERM);
    const int status = program.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_THAT(program.Errors(), ElementsAre("brindlecove: log lines cannot be written (Broken "
                                              "pipe); they are dropped."));
}

TEST(ShippedProgram, ASaveThatFailsAtSigtermIsToldAndEndsWithAnError) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    ChooseTwoLinks(installation, "drop-after 4 10.64.1.2 10.64.1.1");
    TRunningProgram program(installation);
    RefuseTheRedialOfSaix(installation, program);
    const std::string settings = installation.Folder / "brindlecove.ini";
    std::filesystem::remove(settings);
    std::filesystem::create_directory(settings); // no file can be written there now

    program.Signal(SIGTERM);
    const int status = program.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_THAT(program.Errors(), Contains("brindlecove: Unable to write to " + settings +
                                           ": the settings changed since the last save are lost."));
}

// What a save killed half-way left beside the settings file goes at start-up (nothing else does),
// and a peers file named with control characters is reported with them escaped.
TEST(ShippedProgram, StartUpClearsUnfinishedSavesAndEscapesOddPeerNames) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    WriteFile(installation.Folder / "brindlecove.ini", "[CONFIG]\nENABLED=0\n");
    WriteFile(installation.Folder / ".brindlecove.ini.Ab3dEf9Z", "[CONFIG]\n");
    WriteFile(installation.Folder / ".brindlecove.ini.short", "kept\n");
    WriteFile(installation.Folder / ".other.ini.Ab3dEf9Z", "kept\n");
    installation.Peer("dsl\n\x1b[2Jx", "up 10.64.1.2 10.64.1.1");

    TRunningProgram program(installation);
    ASSERT_TRUE(testing::WaitFor(
        [&] { return program.Out().find("International: ") != std::string::npos; }, 20000ms));
    EXPECT_FALSE(std::filesystem::exists(installation.Folder / ".brindlecove.ini.Ab3dEf9Z"));
    EXPECT_TRUE(std::filesystem::exists(installation.Folder / ".brindlecove.ini.short"));
    EXPECT_TRUE(std::filesystem::exists(installation.Folder / ".other.ini.Ab3dEf9Z"));
    EXPECT_THAT(program.Errors(),
                ElementsAre("Skipped the peers file \"dsl\\x0A\\x1B[2Jx\": not a name pppd can "
                            "dial."));
    program.Signal(SIGTERM);
    program.Wait();
}

// SIGTERM while the redial still runs, and the provider refuses the password as pppd stops: the
// refusal handled after the signal was read (redial switched off) is what the file keeps.
TEST(ShippedProgram, SigtermDuringARefusedRedialSavesTheFinalState) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    ChooseTwoLinks(installation, "drop-after 4 10.64.1.2 10.64.1.1");
    TRunningProgram program(installation);
    ASSERT_TRUE(program.WaitForLog("Connected to saix")) << program.Out();
    installation.Peer("saix", "exit 19 10");
    ASSERT_TRUE(program.WaitForLog("Attempting to connect to local connection saix", 2))
        << program.Out();
    // The stand-in waits (its "sleep 10" runs) once it is ready to answer SIGTERM.
    const std::string sleepTen("sleep\0"
                               "10",
                               8);
    ASSERT_TRUE(testing::WaitFor([&] { return !StandInProcesses(installation, sleepTen).empty(); },
                                 10000ms));
    program.Signal(SIGTERM);
    const int status = program.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_THAT(program.Log(),
                Contains("Auto connect to LOCAL connection disabled due to connection error"));
    EXPECT_EQ(installation.Settings(), SettingsFor("saix", "overseas", false));
}

// SIGTERM while a dial hangs: the dial is stopped with its pppd, nothing new is started, and the
// program ends at once.
TEST(ShippedProgram, SigtermDuringAHangingDialEndsItAtOnce) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    ChooseTwoLinks(installation, "hang");
    TRunningProgram program(installation);
    ASSERT_TRUE(program.WaitForLog("Attempting to connect to local connection saix"));
    ::poll(nullptr, 0, 300); // pppd is waiting for its link
    const auto start = std::chrono::steady_clock::now();
    program.Signal(SIGTERM);
    const int status = program.Wait(5000ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_THAT(program.Log(), Not(Contains("Attempting to connect to International connection "
                                            "overseas")));
    EXPECT_THAT(StandInProcesses(installation, "pppd-standin"), IsEmpty())
        << "no pppd of this installation is left";
}

// ---- Command line --------------------------------------------------------------------------

// The program run to its end with `arguments`: its exit status and what it wrote.
struct TFinished {
    int Status = -1;
    std::string Out;
    std::vector<std::string> Errors;
};

TFinished RunToEnd(const TInstallation& installation, const std::vector<std::string>& arguments) {
    TRunningProgram program(installation, {.Arguments = arguments});
    const int status = program.Wait();
    TFinished finished{WIFEXITED(status) ? WEXITSTATUS(status) : -1, program.Out(),
                       program.Errors()};
    std::filesystem::remove(installation.Folder / "stdout");
    std::filesystem::remove(installation.Folder / "stderr");
    return finished;
}

TEST(ShippedProgram, AnswersItsOptionsAndRefusesWrongOnesWithoutTouchingAnySettingsFile) {
    TInstallation installation;
    const std::string folderFile = installation.Folder / "a-file";
    WriteFile(folderFile, "not a folder\n");

    TFinished help = RunToEnd(installation, {"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_THAT(Lines(help.Out), AllOf(Contains("Usage: brindlecove [--config-dir DIR]"),
                                       Contains(HasSubstr("--config-dir DIR  the folder of"))));
    EXPECT_THAT(help.Errors, IsEmpty());
    TFinished version = RunToEnd(installation, {"--version"});
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out, "brindlecove " BRINDLECOVE_VERSION "\n");

    const std::string seeHelp = " (brindlecove --help lists the options)";
    const std::map<std::vector<std::string>, std::string> usageErrors{
        {{"--verbose"}, "brindlecove: unknown option --verbose" + seeHelp},
        {{"-x"}, "brindlecove: unknown option -x" + seeHelp},
        {{"--config-dir"}, "brindlecove: the option --config-dir needs a value" + seeHelp},
        {{"/etc/brindlecove"}, "brindlecove: unexpected argument /etc/brindlecove" + seeHelp},
    };
    for (const auto& [arguments, message] : usageErrors) {
        TFinished refused = RunToEnd(installation, arguments);
        EXPECT_EQ(refused.Status, 2) << arguments[0];
        EXPECT_THAT(refused.Errors, ElementsAre(message));
        EXPECT_EQ(refused.Out, "");
    }

    const std::string missing = installation.Folder / "missing";
    TFinished absent = RunToEnd(installation, {"--config-dir", missing});
    EXPECT_EQ(absent.Status, 1);
    EXPECT_THAT(absent.Errors, ElementsAre("brindlecove: the settings folder " + missing +
                                           " cannot be used: No such file or directory"));
    TFinished file = RunToEnd(installation, {"--config-dir=" + folderFile});
    EXPECT_EQ(file.Status, 1);
    EXPECT_THAT(file.Errors, ElementsAre("brindlecove: the settings folder " + folderFile +
                                         " cannot be used: Not a directory"));

    // A folder its user may not read, tried as an unprivileged user (root reads every folder).
    const std::string locked = installation.Folder / "locked";
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    std::filesystem::permissions(installation.Folder.Path(), std::filesystem::perms::all);
    const int unreadable = testing::RunUnprivileged([&] {
        const TFinished refused = RunToEnd(installation, {"--config-dir", locked});
        return refused.Status == 1 &&
               refused.Errors ==
                   std::vector<std::string>{"brindlecove: the settings folder " + locked +
                                            " cannot be used: Permission denied"};
    });
    EXPECT_NE(unreadable, 1) << "a folder it cannot read is refused with status 1";

    EXPECT_FALSE(std::filesystem::exists(installation.Folder / "brindlecove.ini"));
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(ReadFile(folderFile), "not a folder\n");
    if (unreadable == testing::CannotSwitchUser) {
        GTEST_SKIP() << "the unreadable folder was not tried: no user to switch to";
    }
}

// ---- Under systemd ---------------------------------------------------------------------------

// A datagram socket standing in for systemd's notify socket: what the program sends to it. It is
// named in the abstract namespace of the test's own network namespace ("@name" in NOTIFY_SOCKET).
class TNotifySocket {
public:
    TNotifySocket() : FSocket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + 1, Name.data(), Name.size());
        EXPECT_EQ(::bind(FSocket.Get(), reinterpret_cast<const sockaddr*>(&address),
                         static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + Name.size())),
                  0)
            << std::strerror(errno);
    }
    static constexpr std::string_view Name = "brindlecove-notify";

    // Every message received so far, one assignment ("READY=1") an element.
    const std::vector<std::string>& Messages() {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(FSocket.Get(), buffer, sizeof buffer, 0)) > 0;) {
            for (const std::string& line :
                 Lines(std::string(buffer, static_cast<std::size_t>(n)))) {
                FMessages.push_back(line);
            }
        }
        return FMessages;
    }
    // The messages but the watchdog's.
    std::vector<std::string> States() {
        std::vector<std::string> states;
        std::ranges::copy_if(Messages(), std::back_inserter(states),
                             [](const std::string& m) { return m != "WATCHDOG=1"; });
        return states;
    }

private:
    TUniqueFd FSocket;
    std::vector<std::string> FMessages;
};

// Started as systemd starts a notify service with a watchdog, under the journal: it says when
// its first pass is done, how its links stand whenever that changes (the local one drops and is
// redialled), that it stops at SIGTERM, keeps the watchdog fed, and marks its warnings.
TEST(ShippedProgram, TellsSystemdWhenItIsReadyHowItsLinksStandAndWhenItStops) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    ChooseTwoLinks(installation, "drop-after 4 10.64.1.2 10.64.1.1");
    installation.Peer("odd\x01name", "up 10.64.3.2 10.64.3.1"); // skipped, with a warning
    TNotifySocket notify;
    // Standard error is the journal's stream, as systemd names it.
    WriteFile(installation.Folder / "stderr", "");
    struct stat err {};
    ASSERT_EQ(::stat((installation.Folder / "stderr").c_str(), &err), 0);

    TRunningProgram program(
        installation,
        {.Environment = {
             "NOTIFY_SOCKET=@" + std::string(TNotifySocket::Name), "WATCHDOG_USEC=200000",
             "JOURNAL_STREAM=" + std::to_string(err.st_dev) + ":" + std::to_string(err.st_ino)}});
    // Read as it comes, as systemd does: a full socket would hold the program up.
    const auto built = [&] {
        notify.Messages();
        const auto log = program.Log();
        return std::ranges::count(log, "Finished creating routing table") == 2;
    };
    ASSERT_TRUE(testing::WaitFor(built, 20000ms)) << program.Out();
    testing::WaitFor([&] { return notify.States().size() == 6; }, 2000ms); // the pass's last word
    program.Signal(SIGTERM);
    const int status = program.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    const std::string routes = R"(, routes built \d\d:\d\d:\d\d)";
    const std::vector<std::string> expected{
        "STATUS=local saix down \\(redialling\\), international overseas down \\(redialling\\)",
        "STATUS=local saix up, international overseas down \\(redialling\\)",
        "STATUS=local saix up, international overseas up" + routes,
        "READY=1",
        "STATUS=local saix down \\(redialling\\), international overseas up",
        "STATUS=local saix up, international overseas up" + routes,
        "STOPPING=1",
    };
    const std::vector<std::string> states = notify.States();
    ASSERT_EQ(states.size(), expected.size()) << ::testing::PrintToString(states);
    for (std::size_t i = 0; i < states.size(); ++i) {
        EXPECT_TRUE(std::regex_match(states[i], std::regex(expected[i]))) << states[i];
    }
    // Fed every 100 ms while the loop runs: the redial of saix holds it up less than a second.
    EXPECT_GE(std::ranges::count(notify.Messages(), "WATCHDOG=1"), 20);
    EXPECT_THAT(program.Errors(),
                ElementsAre("<4>Skipped the peers file \"odd\\x01name\": not a name pppd can "
                            "dial."));
}

// ---- The Debian package ----------------------------------------------------------------------

// The package that `cmake --build --preset linux-package` made, as scripts/test.sh names it.
std::string PackageFile() {
    const char* path = std::getenv("BRINDLECOVE_PACKAGE");
    return path != nullptr && std::filesystem::exists(path) ? path : "";
}

constexpr const char* NoPackage =
    "no package to test: BRINDLECOVE_PACKAGE names none (scripts/test.sh builds it with "
    "`cmake --build --preset linux-package` and names it)";

// The package unpacked as dpkg would install it, under `root`.
void Unpack(const std::string& package, const std::string& root) {
    ASSERT_EQ(std::system(("dpkg -x '" + package + "' '" + root + "'").c_str()), 0);
}

TEST(DebianPackage, NamesItsDependenciesAndHoldsTheProgramItsUnitAndItsDocumentation) {
    const std::string package = PackageFile();
    if (package.empty()) {
        GTEST_SKIP() << NoPackage;
    }
    const std::string architecture = testing::CommandOutput("dpkg --print-architecture");
    const auto info = Lines(testing::CommandOutput("dpkg-deb -I '" + package + "'"));
    EXPECT_THAT(info,
                AllOf(Contains(" Package: brindlecove"), Contains(" Version: " BRINDLECOVE_VERSION),
                      Contains(" Architecture: " + architecture.substr(0, architecture.find('\n'))),
                      Contains(" Section: net"), Contains(" Recommends: ppp")));
    EXPECT_THAT(info, Contains(AllOf(HasSubstr(" Depends: "), HasSubstr("libc6"),
                                     HasSubstr("libsystemd0"), HasSubstr("libstdc++6"))));
    for (const char* script : {"preinst", "postinst", "prerm", "postrm"}) {
        EXPECT_THAT(info, Not(Contains(HasSubstr(script)))) << "nothing runs on install";
    }

    // "-rwxr-xr-x root/root 1234 2025-01-01 12:00 ./usr/sbin/brindlecove": mode and path.
    std::map<std::string, std::string> files;
    static const std::regex entry(R"(^(\S+) root/root +\d+ \S+ \S+ (\S+)$)");
    for (const std::string& line : Lines(testing::CommandOutput("dpkg-deb -c '" + package + "'"))) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, entry)) << line;
        files[match[2]] = match[1];
    }
    const std::map<std::string, std::string> shipped{
        {"./usr/sbin/brindlecove", "-rwxr-xr-x"},
        {"./usr/bin/brindlecove-routes", "-rwxr-xr-x"},
        {"./lib/systemd/system/brindlecove.service", "-rw-r--r--"},
        {"./usr/share/man/man8/brindlecove.8.gz", "-rw-r--r--"},
        {"./usr/share/doc/brindlecove/README.md", "-rw-r--r--"},
        {"./usr/share/doc/brindlecove/brindlecove.ini.example", "-rw-r--r--"},
        {"./etc/brindlecove/", "drwxr-xr-x"},
    };
    for (const auto& [path, mode] : shipped) {
        EXPECT_EQ(files[path], mode) << path;
    }
    for (const auto& [path, mode] : files) {
        EXPECT_TRUE(mode.starts_with('d') || shipped.contains(path))
            << "unexpected in the package: " << path;
    }
    const auto settingsFiles = std::ranges::count_if(files, [](const auto& f) {
        return f.first.starts_with("./etc/") && !f.second.starts_with('d');
    });
    EXPECT_EQ(settingsFiles, 0) << "no settings file is shipped: the first save writes it";

    TempFolder root;
    Unpack(package, root.Path());
    EXPECT_THAT(
        testing::CommandOutput("zcat '" + root / "usr/share/man/man8/brindlecove.8.gz" + "'"),
        AllOf(HasSubstr(".TH BRINDLECOVE 8"), HasSubstr(R"(\-\-config\-dir)")));
    EXPECT_THAT(
        ReadFile(root / "lib/systemd/system/brindlecove.service"),
        AllOf(HasSubstr("\nType=notify\n"),
              HasSubstr("\nExecStart=/usr/sbin/brindlecove --config-dir /etc/brindlecove\n"),
              HasSubstr("\nExecReload=/bin/kill -HUP $MAINPID\n"),
              HasSubstr("\nRestart=on-failure\n")));
}

// systemd-analyze checks the unit against this machine's units, with the packaged program and
// manual page in the places the unit names (a private mount namespace lends them /usr/sbin and
// the manual path), and scores its sandbox offline.
TEST(DebianPackage, ItsUnitPassesSystemdAnalyzeVerifyAndKeepsItsSandbox) {
    RUN_IN_PRIVATE_NAMESPACE();
    const std::string package = PackageFile();
    if (package.empty()) {
        GTEST_SKIP() << NoPackage;
    }
    if (testing::CommandOutput("command -v systemd-analyze").empty()) {
        GTEST_SKIP() << "systemd-analyze is not installed (Debian package systemd)";
    }
    TempFolder root;
    Unpack(package, root.Path());
    const std::string unit = root / "lib/systemd/system/brindlecove.service";
    const auto verify = [&](const std::string& unitFile) {
        return testing::CommandOutput("unshare -m sh -c \"mount --bind '" + root / "usr/sbin" +
                                      "' /usr/sbin && MANPATH='" + root / "usr/share/man" +
                                      "' systemd-analyze verify '" + unitFile +
                                      "'\" 2>&1; echo status $?");
    };
    EXPECT_EQ(verify(unit), "status 0\n") << "the unit as shipped: no word from systemd-analyze";
    // The check finds faults: here a program that is not there.
    WriteFile(root / "broken.service",
              std::regex_replace(ReadFile(unit), std::regex("brindlecove --config"),
                                 "brindlecov --config"));
    EXPECT_THAT(verify(root / "broken.service"), HasSubstr("is not executable"));

    // Its sandbox is no weaker than it was made: systemd's exposure score at most 4.4 of 10.
    const std::string security =
        testing::CommandOutput("systemd-analyze security --offline=true --threshold=44 --root='" +
                               root.Path().string() + "' brindlecove.service 2>&1; echo status $?");
    EXPECT_THAT(security, AllOf(HasSubstr("Overall exposure level for brindlecove.service"),
                                HasSubstr("status 0\n")))
        << security;
}

TEST(DebianPackage, TheUnpackedProgramRoutesTwoInterfacesWithTheExampleSettings) {
    RUN_IN_PRIVATE_NAMESPACE(std::string(testing::UplinkCommands) + InterfaceUplinks);
    const std::string package = PackageFile();
    if (package.empty()) {
        GTEST_SKIP() << NoPackage;
    }
    TInstallation installation;
    const std::string root = installation.Folder / "root";
    Unpack(package, root);
    installation.Program = root + "/usr/sbin/brindlecove";
    installation.ConfigFolder = root + "/etc/brindlecove";
    std::string settings = ReadFile(root + "/usr/share/doc/brindlecove/brindlecove.ini.example");
    settings =
        std::regex_replace(settings, std::regex("\nLOCALCONNECTION=.*"), "\nLOCALCONNECTION=loc0");
    settings =
        std::regex_replace(settings, std::regex("\nINTCONNECTION=.*"), "\nINTCONNECTION=int0");
    WriteFile(installation.ConfigFolder + "/brindlecove.ini", settings);

    TRunningProgram program(installation,
                            {.Arguments = {"--config-dir", installation.ConfigFolder}});
    ASSERT_TRUE(program.WaitForLog("Finished creating routing table")) << program.Out();
    TTableSummary table = KernelTable();
    EXPECT_THAT(table.Defaults, ElementsAre("default via 10.2.0.2 dev int0 proto static metric 1",
                                            "default via 10.1.0.2 dev loc0 proto static metric 2"));
    EXPECT_EQ(table.ViaGateway["loc0"], BuiltInRoutes);
    program.Signal(SIGTERM);
    const int status = program.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_THAT(program.Errors(), IsEmpty());
    ExpectUnchanged(settings, installation);
    EXPECT_FALSE(std::filesystem::exists(root + "/usr/sbin/brindlecove.ini"));
}

} // namespace
} // namespace brindlecove
