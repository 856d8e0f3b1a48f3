// The shipped Linux program end to end, through its external interfaces only: a copy of the
// executable in a folder of its own with its settings file and route list beside it, a peers
// folder served by the stand-in pppd, its standard output and error, signals, and the kernel's
// routing table of a private network namespace.

#include "common/linux/UniqueFd.h"
#include "testing/linux/PrivateNamespace.h"
#include "testing/linux/PrivateNetwork.h"
#include "testing/linux/TestHelpers.h"
#include "tests/platform/TempFolder.h"

#include <arpa/inet.h>
#include <bit>
#include <chrono>
#include <csignal>
#include <cstdio>
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
// secrets folder and a run folder for pppd's pid files beside it.
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
    std::string Settings() const { return ReadFile(Folder / "brindlecove.ini"); }

    TempFolder Folder;
    const std::string Program = Folder / "brindlecove";
};

// A whole settings file choosing the two connections, as the program saves it.
std::string SettingsFor(const std::string& local, const std::string& international,
                        bool redialLocal = true) {
    return "[CONFIG]\nENABLED=1\nLOCALCONNECTION=" + local +
           "\nAUTORECONNECTLOCAL=" + (redialLocal ? "1" : "0") +
           "\nINTCONNECTION=" + international + "\nAUTORECONNECTINT=1\nAUTOROUTE=1\nMINIMIZE=0\n";
}

// The program running, its standard output and error going to files (standard output to
// `output` instead when that is given).
class TRunningProgram {
public:
    explicit TRunningProgram(const TInstallation& installation, int output = -1)
        : FOut(installation.Folder / "stdout"), FErr(installation.Folder / "stderr") {
        const std::vector<std::string> environment{
            "PATH=" + std::string(std::getenv("PATH") != nullptr ? std::getenv("PATH") : ""),
            "LC_ALL=C",
            "BRINDLECOVE_PPPD=" + testing::StandInPppd(),
            "BRINDLECOVE_PPP_PEERS=" + installation.Folder / "peers",
            "BRINDLECOVE_PPP_SECRETS=" + installation.Folder.Path().string(),
            "BRINDLECOVE_PPP_RUNDIR=" + installation.Folder / "run",
        };
        std::vector<char*> envp;
        for (const std::string& variable : environment) {
            envp.push_back(const_cast<char*>(variable.c_str()));
        }
        envp.push_back(nullptr);
        std::string program = installation.Program;
        char* argv[] = {program.data(), nullptr};
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (output >= 0) {
            ::posix_spawn_file_actions_adddup2(&actions, output, 1);
        } else {
            ::posix_spawn_file_actions_addopen(&actions, 1, FOut.c_str(), O_WRONLY | O_CREAT, 0600);
        }
        ::posix_spawn_file_actions_addopen(&actions, 2, FErr.c_str(), O_WRONLY | O_CREAT, 0600);
        const int error = ::posix_spawn(&FPid, argv[0], &actions, nullptr, argv, envp.data());
        ::posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            ADD_FAILURE() << "could not start " << program << ": " << std::strerror(error);
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
    TRunningProgram program(installation, writer.Get());
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

} // namespace
} // namespace brindlecove
