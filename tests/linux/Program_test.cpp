// The shipped Linux program end to end, through its external interfaces only: a copy of the
// executable in a folder of its own with its settings file and route list beside it, a peers
// folder served by the stand-in pppd, its command line, standard output and error, signals, the
// messages systemd would receive, and the kernel's routing table of a private network namespace.
// Then the Debian package: its control fields and files, its unit checked by systemd-analyze, and
// the program unpacked from it at work.

#include "common/linux/ChildProcess.h"
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
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::Lines;
using ::testing::MatchesRegex;
using ::testing::Not;
using ::testing::Pair;
using ::testing::SizeIs;

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
        // A shell sends standard output (unless it is start.Output) and error to their files, then
        // env(1) gives the program these variables and no others; both become the program.
        std::vector<std::string> argv{
            "/bin/sh",
            "-c",
            R"(if [ -n "$1" ]; then exec >"$1"; fi; exec 2>"$2"; shift 2; exec /usr/bin/env -i "$@")",
            "sh",
            start.Output >= 0 ? "" : FOut,
            FErr,
            "PATH=" + std::string(std::getenv("PATH") != nullptr ? std::getenv("PATH") : ""),
            "LC_ALL=C",
            "BRINDLECOVE_PPPD=" + testing::StandInPppd(),
            "BRINDLECOVE_PPP_PEERS=" + installation.Folder / "peers",
            "BRINDLECOVE_PPP_SECRETS=" + installation.Folder.Path().string(),
            "BRINDLECOVE_PPP_RUNDIR=" + installation.Folder / "run"};
        argv.insert(argv.end(), start.Environment.begin(), start.Environment.end());
        argv.push_back(installation.Program);
        argv.insert(argv.end(), start.Arguments.begin(), start.Arguments.end());
        if (auto child = TChildProcess::Spawn(argv, start.Output)) {
            FChild.emplace(std::move(*child));
        } else {
            ADD_FAILURE() << "could not start the shell: " << std::strerror(errno);
        }
    }

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
        return testing::WaitFor([&] { return std::ranges::count(Log(), line) >= times; }, limit);
    }

    // The exit status, or -1 when the program did not end by itself; fails the test and kills the
    // program when it has not ended after `limit`.
    int Wait(std::chrono::milliseconds limit = 10000ms) {
        if (FChild && !FStatus &&
            !testing::WaitFor([&] { return (FStatus = FChild->TryWait()).has_value(); }, limit)) {
            ADD_FAILURE() << "the program did not end";
            FChild->Signal(SIGKILL);
            FStatus = FChild->Wait();
        }
        return FStatus && WIFEXITED(*FStatus) ? WEXITSTATUS(*FStatus) : -1;
    }
    void Signal(int signal) const {
        if (FChild) {
            FChild->Signal(signal);
        }
    }
    // Sends `signal` and answers Wait().
    int Stop(int signal = SIGTERM) {
        Signal(signal);
        return Wait();
    }

private:
    std::string FOut;
    std::string FErr;
    std::optional<TChildProcess> FChild; // killed, if it still runs, when this goes
    std::optional<int> FStatus;
};

// The interface of a link the stand-in brought up, from its pid file.
std::string LinkOf(const TInstallation& installation, const std::string& entry) {
    const auto lines = Lines(ReadFile(installation.Folder / ("run/ppp-" + entry + ".pid")));
    return lines.size() >= 2 ? lines[1] : std::string();
}

// The kernel's main table, summed up: the default routes as `ip` shows them, and the other
// routes' destinations by "via GATEWAY dev INTERFACE".
struct TTableSummary {
    std::vector<std::string> Defaults;
    std::map<std::string, std::set<std::string>> Via;
};

TTableSummary KernelTable() {
    TTableSummary summary;
    static const std::regex route(R"(^(\S+) (via \S+ dev \S+).*$)");
    for (const std::string& line : testing::MainRoutes()) {
        std::smatch match;
        if (line.starts_with("default ")) {
            // The stand-in's links have no carrier (nobody reads them), which ip adds as
            // "linkdown"; the route is the same.
            summary.Defaults.push_back(line.substr(0, line.find(" linkdown")));
        } else if (std::regex_match(line, match, route)) {
            summary.Via[match[2]].insert(match[1]);
        }
    }
    return summary;
}

// Whether a stand-in pppd of `installation` (it carries the installation's peers folder in its
// environment) runs with `part` in its command line.
bool StandInRuns(const TInstallation& installation, const std::string& part) {
    const std::string peers =
        '\0' + ("BRINDLECOVE_PPP_PEERS=" + installation.Folder / "peers") + '\0';
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        if (ReadFile(entry.path() / "cmdline").find(part) != std::string::npos &&
            ('\0' + ReadFile(entry.path() / "environ")).find(peers) != std::string::npos) {
            return true;
        }
    }
    return false;
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

// The default routes of both links, the international one first.
std::vector<std::string> DefaultsOfBothLinks(const TInstallation& installation) {
    return {"default via 10.64.2.1 dev " + LinkOf(installation, "overseas") +
                " proto static metric 1",
            "default via 10.64.1.1 dev " + LinkOf(installation, "saix") + " proto static metric 2"};
}

constexpr int BuiltInRoutes = 877; // 878 pairs, one network listed twice

// Started with supervision off, the program lists the connections, dials nothing, and clears
// what a save killed half-way left beside the settings file (nothing else). SIGHUP then reloads
// the settings file, which chooses both links: they are dialled, and a list compiled by
// brindlecove-routes from delegation records (cut from the registry's file) replaces the built-in
// one: every network of it, and nothing else, goes through the local link. SIGINT ends the
// program; nothing changed, so nothing is saved.
TEST(ShippedProgram, SighupLoadsTheSettingsAndTheCompiledListIsRoutedThroughTheLocalLink) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    const std::string settings = ChooseTwoLinks(installation, "up 10.64.1.2 10.64.1.1");
    WriteFile(installation.Folder / "brindlecove.ini", "[CONFIG]\nENABLED=0\n");
    WriteFile(installation.Folder / ".brindlecove.ini.Ab3dEf9Z", "[CONFIG]\n");
    WriteFile(installation.Folder / ".brindlecove.ini.short", "kept\n");
    WriteFile(installation.Folder / ".other.ini.Ab3dEf9Z", "kept\n");
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
    ::poll(nullptr, 0, 1500); // a supervision pass or two
    EXPECT_THAT(program.Log(), IsEmpty()) << "supervision is off";
    EXPECT_THAT(Lines(program.Out()),
                AllOf(Contains("Connections:"), Contains("  overseas (pppd peer)"),
                      Contains("  saix (pppd peer)"), Contains("Local: (not chosen)"),
                      Contains("International: (not chosen)")));
    EXPECT_FALSE(std::filesystem::exists(installation.Folder / ".brindlecove.ini.Ab3dEf9Z"));
    EXPECT_TRUE(std::filesystem::exists(installation.Folder / ".brindlecove.ini.short"));
    EXPECT_TRUE(std::filesystem::exists(installation.Folder / ".other.ini.Ab3dEf9Z"));

    WriteFile(installation.Folder / "brindlecove.ini", settings);
    program.Signal(SIGHUP);
    ASSERT_TRUE(program.WaitForLog("Finished creating routing table")) << program.Out();
    EXPECT_THAT(program.Log(),
                ElementsAre("Attempting to connect to local connection saix", "Connected to saix",
                            "Attempting to connect to International connection overseas",
                            "Connected to overseas", "Creating routing table",
                            "Finished creating routing table"));
    const TTableSummary table = KernelTable();
    EXPECT_EQ(table.Defaults, DefaultsOfBothLinks(installation));
    EXPECT_THAT(table.Via,
                ElementsAre(Pair("via 10.64.1.1 dev " + LinkOf(installation, "saix"), compiled)));

    EXPECT_EQ(program.Stop(SIGINT), 0);
    EXPECT_EQ(installation.Settings(), settings) << "nothing changed, nothing is saved";
    EXPECT_EQ(program.Log().size(), 6u) << "the routes were built once";
    EXPECT_THAT(program.Errors(), IsEmpty());
}

constexpr const char* RefusedWarning =
    "Warning: Could not connect to saix (invalid username/password).   Make sure you connect "
    "manually and select the 'save password' option - this will enable Brindlecove to auto "
    "connect next time.  (Auto connect to LOCAL connection disabled due to connection error)";

// The provider stops accepting the password while saix is up (it drops after 4 s), and SIGTERM
// comes while the redial still runs: the refusal, handled after the signal was read, switches
// redial off for saix, is told on standard error, and is what the settings file keeps.
TEST(ShippedProgram, ARedialRefusedForItsPasswordDuringSigtermSwitchesRedialOffAndIsSaved) {
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
    ASSERT_TRUE(testing::WaitFor([&] { return StandInRuns(installation, sleepTen); }, 10000ms));
    EXPECT_EQ(program.Stop(), 0);
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
    EXPECT_THAT(program.Errors(), ElementsAre(RefusedWarning));
    EXPECT_EQ(installation.Settings(), SettingsFor("saix", "overseas", false));
}

// Writes that fail are told on standard error, and only a lost save ends with an error: the
// reader of the log (a pipe) goes away, so log lines are dropped while supervision goes on
// through a drop and a refused redial; then the settings file cannot be written at SIGTERM.
TEST(ShippedProgram, WritesThatFailAreToldAndOnlyALostSaveEndsWithAnError) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    ChooseTwoLinks(installation, "drop-after 4 10.64.1.2 10.64.1.1");
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    TUniqueFd reader(ends[0]);
    TUniqueFd writer(ends[1]);
    TRunningProgram program(installation, {.Output = writer.Get()});
    writer.Reset();
    reader.Reset();
    ASSERT_TRUE(testing::WaitFor([&] { return !LinkOf(installation, "saix").empty(); }, 20000ms));
    installation.Peer("saix", "exit 19");
    ASSERT_TRUE(testing::WaitFor(
        [&] { return std::ranges::count(program.Errors(), RefusedWarning) == 1; }, 20000ms))
        << "supervision went on";
    const std::string settings = installation.Folder / "brindlecove.ini";
    std::filesystem::remove(settings);
    std::filesystem::create_directory(settings); // no file can be written there now

    EXPECT_EQ(program.Stop(), 1);
    EXPECT_THAT(program.Errors(),
                ElementsAre("brindlecove: log lines cannot be written (Broken pipe); they are "
                            "dropped.",
                            RefusedWarning,
                            "brindlecove: Unable to write to " + settings +
                                ": the settings changed since the last save are lost."));
}

// Two network interfaces as the connections, each with a default route of its own before the
// program starts (as a DHCP client leaves them).
constexpr const char* InterfaceUplinks = "route add default via 10.2.0.2 dev int0\n"
                                         "route add default via 10.1.0.2 dev loc0 metric 100\n";

// The table the program builds for the two interfaces: the built-in list through loc0.
void ExpectInterfaceRoutes(const std::string& localGateway) {
    const TTableSummary table = KernelTable();
    EXPECT_THAT(table.Defaults,
                ElementsAre("default via 10.2.0.2 dev int0 proto static metric 1",
                            "default via " + localGateway + " dev loc0 proto static metric 2"));
    EXPECT_THAT(table.Via,
                ElementsAre(Pair("via " + localGateway + " dev loc0", SizeIs(BuiltInRoutes))));
}

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
    ExpectInterfaceRoutes("10.1.0.2");
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
    ExpectInterfaceRoutes("10.1.0.2");

    Ip("route del default via 10.2.0.2 dev int0 metric 1\n");
    mended("1 route missing");
    ExpectInterfaceRoutes("10.1.0.2");

    Ip("route del 168.76.0.0/16 dev loc0\n");
    mended("1 route missing");
    ExpectInterfaceRoutes("10.1.0.2");

    // The local provider moves its gateway: the routes follow it, none stays on the old one.
    Ip("route replace default via 10.1.0.3 dev loc0 metric 2\n");
    mended("local adapter changed, 1 route changed");
    ExpectInterfaceRoutes("10.1.0.3");

    EXPECT_EQ(program.Stop(), 0);
    EXPECT_THAT(program.Errors(), IsEmpty());
}

TEST(ShippedProgram, TheFirstLinkUpGetsADefaultRouteWhileTheOtherCannotDial) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    ChooseTwoLinks(installation, "exit 8"); // the local provider does not answer

    TRunningProgram program(installation);
    const std::string onlyInternational =
        "Only the international connection is up: default route through it";
    ASSERT_TRUE(program.WaitForLog(onlyInternational)) << program.Out();
    ::poll(nullptr, 0, 1500);
    EXPECT_EQ(std::ranges::count(program.Log(), onlyInternational), 1);
    EXPECT_THAT(KernelTable().Defaults,
                ElementsAre("default via 10.64.2.1 dev " + LinkOf(installation, "overseas") +
                            " proto static metric 1"));
    EXPECT_EQ(program.Stop(), 0);
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
    EXPECT_EQ(program.Stop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_THAT(program.Log(), Not(Contains("Attempting to connect to International connection "
                                            "overseas")));
    EXPECT_FALSE(StandInRuns(installation, "pppd-standin"))
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
    TFinished finished{program.Wait(), program.Out(), program.Errors()};
    std::filesystem::remove(installation.Folder / "stdout"); // for a run as another user
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
    const std::string missing = installation.Folder / "missing";
    const std::string unusable = "brindlecove: the settings folder ";
    const std::map<std::vector<std::string>, TFinished> refusals{
        {{"--verbose"}, {2, "", {"brindlecove: unknown option --verbose" + seeHelp}}},
        {{"-x"}, {2, "", {"brindlecove: unknown option -x" + seeHelp}}},
        {{"--config-dir"},
         {2, "", {"brindlecove: the option --config-dir needs a value" + seeHelp}}},
        {{"/etc/brindlecove"},
         {2, "", {"brindlecove: unexpected argument /etc/brindlecove" + seeHelp}}},
        {{"--config-dir", missing},
         {1, "", {unusable + missing + " cannot be used: No such file or directory"}}},
        {{"--config-dir=" + folderFile},
         {1, "", {unusable + folderFile + " cannot be used: Not a directory"}}},
    };
    for (const auto& [arguments, expected] : refusals) {
        const TFinished refused = RunToEnd(installation, arguments);
        EXPECT_EQ(refused.Status, expected.Status) << arguments[0];
        EXPECT_EQ(refused.Out, "");
        EXPECT_EQ(refused.Errors, expected.Errors);
    }

    // A folder its user may not read, tried as an unprivileged user (root reads every folder).
    const std::string locked = installation.Folder / "locked";
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    std::filesystem::permissions(installation.Folder.Path(), std::filesystem::perms::all);
    const int unreadable = testing::RunUnprivileged([&] {
        const TFinished refused = RunToEnd(installation, {"--config-dir", locked});
        return refused.Status == 1 &&
               refused.Errors == std::vector<std::string>{unusable + locked +
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
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = "\0brindlecove-notify"};
        EXPECT_EQ(::bind(FSocket.Get(), reinterpret_cast<const sockaddr*>(&address),
                         offsetof(sockaddr_un, sun_path) + 1 + Name.size()),
                  0)
            << std::strerror(errno);
    }
    static constexpr std::string_view Name = "brindlecove-notify";

    // Every message received so far but the watchdog's (which are counted), one assignment
    // ("READY=1") an element.
    const std::vector<std::string>& States() {
        char buffer[4096];
        for (ssize_t n; (n = ::recv(FSocket.Get(), buffer, sizeof buffer, 0)) > 0;) {
            for (const std::string& line :
                 Lines(std::string(buffer, static_cast<std::size_t>(n)))) {
                if (line == "WATCHDOG=1") {
                    ++FWatchdogs;
                } else {
                    FStates.push_back(line);
                }
            }
        }
        return FStates;
    }
    int Watchdogs() {
        States();
        return FWatchdogs;
    }

private:
    TUniqueFd FSocket;
    std::vector<std::string> FStates;
    int FWatchdogs = 0;
};

// Started as systemd starts a notify service with a watchdog, under the journal, with a route list
// of its own: the local link drops, is redialled, and the routes of the list are built again on
// it. The program says when its first pass is done, how its links stand whenever that changes,
// that it stops at SIGTERM, keeps the watchdog fed, and marks its warnings (a peers file named
// with control characters is skipped and named with them escaped).
TEST(ShippedProgram, RedialsADroppedLinkRebuildsItsRoutesAndTellsSystemdHowItStands) {
    RUN_IN_PRIVATE_NAMESPACE();
    TInstallation installation;
    const std::string settings = ChooseTwoLinks(installation, "drop-after 4 10.64.1.2 10.64.1.1");
    installation.Peer("dsl\n\x1b[2Jx", "up 10.64.3.2 10.64.3.1");
    WriteFile(installation.Folder / "localroutes.dat", "# our own networks\r\n"
                                                       "198.51.100.0,255.255.255.0\r\n"
                                                       "10.20.30.0,255.255.0.0\r\n"
                                                       "203.0.113.0,255.255.255.0\r\n");
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
        notify.States();
        return std::ranges::count(program.Log(), "Finished creating routing table") == 2;
    };
    ASSERT_TRUE(testing::WaitFor(built, 20000ms)) << program.Out();
    testing::WaitFor([&] { return notify.States().size() == 6; }, 2000ms); // the pass's last word

    const std::vector<std::string> build{
        "Creating routing table", "Bad IP/Mask: 10.20.30.0,255.255.0.0, IP and MASK = 10.20.0.0",
        "Finished creating routing table"};
    std::vector<std::string> expected{
        "Attempting to connect to local connection saix", "Connected to saix",
        "Attempting to connect to International connection overseas", "Connected to overseas"};
    expected.insert(expected.end(), build.begin(), build.end());
    expected.insert(expected.end(),
                    {"Disconnected from saix", "Attempting to connect to local connection saix",
                     "Connected to saix"});
    expected.insert(expected.end(), build.begin(), build.end());
    EXPECT_EQ(program.Log(), expected);
    const TTableSummary table = KernelTable();
    EXPECT_EQ(table.Defaults, DefaultsOfBothLinks(installation));
    EXPECT_THAT(table.Via,
                ElementsAre(Pair("via 10.64.1.1 dev " + LinkOf(installation, "saix"),
                                 std::set<std::string>{"198.51.100.0/24", "203.0.113.0/24"})));

    EXPECT_EQ(program.Stop(), 0);
    EXPECT_EQ(installation.Settings(), settings) << "nothing changed, nothing is saved";
    const std::string routes = ", routes built [0-9]{2}:[0-9]{2}:[0-9]{2}";
    EXPECT_THAT(
        notify.States(),
        ElementsAre("STATUS=local saix down (redialling), international overseas down (redialling)",
                    "STATUS=local saix up, international overseas down (redialling)",
                    MatchesRegex("STATUS=local saix up, international overseas up" + routes),
                    "READY=1", "STATUS=local saix down (redialling), international overseas up",
                    MatchesRegex("STATUS=local saix up, international overseas up" + routes),
                    "STOPPING=1"));
    // Fed every 100 ms while the loop runs: the redial of saix holds it up less than a second.
    EXPECT_GE(notify.Watchdogs(), 20);
    EXPECT_THAT(program.Errors(),
                ElementsAre("<4>Skipped the peers file \"dsl\\x0A\\x1B[2Jx\": not a name pppd can "
                            "dial."));
}

// ---- The Debian package ----------------------------------------------------------------------

// The package that `cmake --build --preset linux-package` made (scripts/test.sh names it): its
// control fields and files; its unit, checked by systemd-analyze against this machine's units with
// the packaged program and manual page in the places the unit names (a private mount namespace
// lends them /usr/sbin and the manual path) and its sandbox scored offline; and the program
// unpacked from it routing two interfaces with the example settings in a folder of their own.
TEST(DebianPackage, HoldsItsFilesItsUnitPassesSystemdAnalyzeAndItsProgramRoutes) {
    RUN_IN_PRIVATE_NAMESPACE(std::string(testing::UplinkCommands) + InterfaceUplinks);
    const char* variable = std::getenv("BRINDLECOVE_PACKAGE");
    if (variable == nullptr || !std::filesystem::exists(variable)) {
        GTEST_SKIP() << "no package to test: BRINDLECOVE_PACKAGE names none (scripts/test.sh "
                        "builds it with `cmake --build --preset linux-package` and names it)";
    }
    const std::string package = variable;
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

    // "-rwxr-xr-x root/root 1234 2025-01-01 12:00 ./usr/sbin/brindlecove": mode and path of
    // every file and of the settings folder, which is shipped empty (the first save writes it).
    std::map<std::string, std::string> files;
    static const std::regex entry(R"(^(\S+) root/root +\d+ \S+ \S+ (\S+)$)");
    for (const std::string& line : Lines(testing::CommandOutput("dpkg-deb -c '" + package + "'"))) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, entry)) << line;
        if (!match[1].str().starts_with('d') || match[2].str().starts_with("./etc/")) {
            files[match[2]] = match[1];
        }
    }
    EXPECT_EQ(files, (std::map<std::string, std::string>{
                         {"./usr/sbin/brindlecove", "-rwxr-xr-x"},
                         {"./usr/bin/brindlecove-routes", "-rwxr-xr-x"},
                         {"./lib/systemd/system/brindlecove.service", "-rw-r--r--"},
                         {"./usr/share/man/man8/brindlecove.8.gz", "-rw-r--r--"},
                         {"./usr/share/doc/brindlecove/README.md", "-rw-r--r--"},
                         {"./usr/share/doc/brindlecove/brindlecove.ini.example", "-rw-r--r--"},
                         {"./etc/", "drwxr-xr-x"},
                         {"./etc/brindlecove/", "drwxr-xr-x"},
                     }));

    TInstallation installation;
    const std::string root = installation.Folder / "root";
    ASSERT_EQ(std::system(("dpkg -x '" + package + "' '" + root + "'").c_str()), 0);
    EXPECT_THAT(testing::CommandOutput("zcat '" + root + "/usr/share/man/man8/brindlecove.8.gz'"),
                AllOf(HasSubstr(".TH BRINDLECOVE 8"), HasSubstr(R"(\-\-config\-dir)")));
    const std::string unit = root + "/lib/systemd/system/brindlecove.service";
    EXPECT_THAT(
        ReadFile(unit),
        AllOf(HasSubstr("\nType=notify\n"),
              HasSubstr("\nExecStart=/usr/sbin/brindlecove --config-dir /etc/brindlecove\n"),
              HasSubstr("\nExecReload=/bin/kill -HUP $MAINPID\n"),
              HasSubstr("\nRestart=on-failure\n")));

    const bool analyze = !testing::CommandOutput("command -v systemd-analyze").empty();
    if (analyze) {
        const auto verify = [&](const std::string& unitFile) {
            return testing::CommandOutput("unshare -m sh -c \"mount --bind '" + root +
                                          "/usr/sbin' /usr/sbin && MANPATH='" + root +
                                          "/usr/share/man' systemd-analyze verify '" + unitFile +
                                          "'\" 2>&1; echo status $?");
        };
        EXPECT_EQ(verify(unit), "status 0\n")
            << "the unit as shipped: no word from systemd-analyze";
        // The check finds faults: here a program that is not there.
        WriteFile(root + "/broken.service",
                  std::regex_replace(ReadFile(unit), std::regex("brindlecove --config"),
                                     "brindlecov --config"));
        EXPECT_THAT(verify(root + "/broken.service"), HasSubstr("is not executable"));
        // Its sandbox is no weaker than it was made: systemd's exposure score at most 4.4 of 10.
        const std::string security = testing::CommandOutput(
            "systemd-analyze security --offline=true --threshold=44 --root='" + root +
            "' brindlecove.service 2>&1; echo status $?");
        EXPECT_THAT(security, AllOf(HasSubstr("Overall exposure level for brindlecove.service"),
                                    HasSubstr("status 0\n")))
            << security;
    }

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
    ExpectInterfaceRoutes("10.1.0.2");
    EXPECT_EQ(program.Stop(), 0);
    EXPECT_THAT(program.Errors(), IsEmpty());
    EXPECT_EQ(installation.Settings(), settings) << "nothing changed, nothing is saved";
    EXPECT_FALSE(std::filesystem::exists(root + "/usr/sbin/brindlecove.ini"));
    if (!analyze) {
        GTEST_SKIP() << "the unit was not checked: systemd-analyze is not installed (Debian "
                        "package systemd)";
    }
}

} // namespace
} // namespace brindlecove
