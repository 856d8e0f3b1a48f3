// The pppd adapter against the real file system and real processes: the phonebook of a peers
// folder, pppd's option words, pid files and the processes behind them, dials through the
// stand-in pppd, and links in a private network namespace.

#include "common/linux/ChildProcess.h"
#include "common/linux/UniqueFd.h"
#include "ras/linux/PppdExit.h"
#include "ras/linux/PppdLinkAddresses.h"
#include "ras/linux/PppdPeers.h"
#include "ras/linux/PppdProcesses.h"
#include "ras/linux/PppdRas.h"
#include "testing/linux/PrivateNamespace.h"
#include "testing/linux/PrivateNetwork.h"
#include "testing/linux/TestHelpers.h"
#include "tests/platform/TempFolder.h"

#include <chrono>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <optional>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace brindlecove {
namespace {

using namespace std::chrono_literals;
using testing::TScopedEnvironment;
using testing::WaitFor;

void MakeExecutable(const std::string& path, const std::string& text) {
    WriteFile(path, text);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

std::string CommandLine(pid_t pid) {
    return ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
}

// A process running a script called `program` with the given arguments; killed at the end.
struct TFakeDaemon {
    TFakeDaemon(const TempFolder& folder, const std::string& program,
                const std::vector<std::string>& args) {
        const std::string path = folder / program;
        MakeExecutable(path, "#!/bin/sh\nwhile :; do sleep 1; done\n");
        std::vector<std::string> argv{path};
        argv.insert(argv.end(), args.begin(), args.end());
        Child.emplace(*TChildProcess::Spawn(argv, -1));
        // Until exec the child still shows this program's command line.
        EXPECT_TRUE(
            WaitFor([&] { return CommandLine(Child->Pid()).find(path) != std::string::npos; }));
    }
    std::optional<TChildProcess> Child;
};

// A peers folder, a secrets folder and a run folder of the test's own, with the stand-in as pppd.
struct TPppdSetup {
    TPppdSetup() {
        std::filesystem::create_directories(Folder / "peers");
        std::filesystem::create_directories(Folder / "run");
        Config.PppdPath = testing::StandInPppd();
        Config.PeersFolder = Folder / "peers";
        Config.SecretsFolder = Folder.Path().string();
        Config.RunFolders = {Folder / "run"};
        Config.DialTimeout = 10000ms;
        Config.StopGrace = 1000ms;
        Config.AddressWait = 2000ms;
        // The stand-in finds the folders the way the port does.
        Environment.Set("BRINDLECOVE_PPP_PEERS", Config.PeersFolder);
        Environment.Set("BRINDLECOVE_PPP_RUNDIR", Config.RunFolders[0]);
    }
    void Peer(const std::string& name, const std::string& text) const {
        WriteFile(Folder / ("peers/" + name), text);
    }
    TempFolder Folder;
    TScopedEnvironment Environment;
    TPppdConfig Config;
};

// How many connections the port finds with `config`; 1000 when it answers an error.
DWORD ConnectionCount(const TPppdConfig& config) {
    TPppdRas ras(config);
    std::vector<RASCONNA> connections(8);
    connections[0].dwSize = sizeof(RASCONNA);
    DWORD bytes = static_cast<DWORD>(connections.size() * sizeof(RASCONNA));
    DWORD count = 0;
    return ras.RasEnumConnections(connections.data(), &bytes, &count) == 0 ? count : 1000;
}

RASDIALPARAMSA DialParams(const std::string& name) {
    RASDIALPARAMSA params{};
    params.dwSize = sizeof(params);
    std::snprintf(params.szEntryName, sizeof(params.szEntryName), "%s", name.c_str());
    return params;
}

// --- The phonebook -------------------------------------------------------------------------

TEST(PppdRasPhonebook, NamesAreListedIgnoredOrSkipped) {
    using pppd::TNameVerdict;
    for (const char* name : {"dsl-provider", "isp_2", "a.b", "user@isp", "c++", "X"}) {
        EXPECT_EQ(pppd::ClassifyPeerName(name), TNameVerdict::Entry) << name;
    }
    for (const char* name : {".hidden", "dsl~", "dsl.bak", "dsl.orig", "dsl.old", "dsl.save",
                             "dsl.swp", "dsl.dpkg-old", "dsl.dpkg-dist", "dsl.ucf-new",
                             "dsl.rpmnew", "dsl.rpmsave", "README", "README.md", ""}) {
        EXPECT_EQ(pppd::ClassifyPeerName(name), TNameVerdict::Ignored) << name;
    }
    for (const char* name :
         {"with space", "semi;colon", "a..b", "quote\"", "tab\t", "ümlaut", "$(reboot)"}) {
        EXPECT_EQ(pppd::ClassifyPeerName(name), TNameVerdict::Unusable) << name;
    }
    EXPECT_EQ(pppd::ClassifyPeerName(std::string(64, 'a')), TNameVerdict::Entry);
    EXPECT_EQ(pppd::ClassifyPeerName(std::string(65, 'a')), TNameVerdict::Unusable);
}

TEST(PppdRasPhonebook, EnumEntriesListsRegularFilesSortedAndReportsSkippedNamesOnce) {
    TPppdSetup setup;
    for (const char* name : {"zeta", "alpha", "dsl.bak", ".secret", "bad name", "README"}) {
        setup.Peer(name, "noauth\n");
    }
    std::filesystem::create_directories(setup.Folder / "peers/folder");
    TPppdRas ras(setup.Config);

    std::vector<RASENTRYNAMEA> entries(1);
    entries[0].dwSize = sizeof(RASENTRYNAMEA);
    DWORD bytes = sizeof(RASENTRYNAMEA);
    DWORD count = 0;
    EXPECT_EQ(ras.RasEnumEntries(nullptr, nullptr, entries.data(), &bytes, &count), 603u);
    EXPECT_EQ(bytes, 2 * sizeof(RASENTRYNAMEA));
    entries.resize(2);
    EXPECT_EQ(ras.RasEnumEntries(nullptr, nullptr, entries.data(), &bytes, &count), 0u);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(entries[0].szEntryName, "alpha");
    EXPECT_STREQ(entries[1].szEntryName, "zeta");

    EXPECT_EQ(ras.SkippedNames(), std::vector<std::string>{"bad name"});
    EXPECT_EQ(ras.TakeNewSkippedNames(), std::vector<std::string>{"bad name"});
    ras.Entries();
    EXPECT_TRUE(ras.TakeNewSkippedNames().empty());

    entries[0].dwSize = 12;
    EXPECT_EQ(ras.RasEnumEntries(nullptr, nullptr, entries.data(), &bytes, &count), 632u);
}

TEST(PppdRasPhonebook, OfNamesDifferingOnlyInLetterCaseTheFirstIsTheEntry) {
    TPppdSetup setup;
    for (const char* name : {"dsl", "DSL", "Dsl", "other"}) {
        setup.Peer(name, "noauth\n");
    }
    TPppdRas ras(setup.Config);
    EXPECT_EQ(ras.Entries(), (std::vector<std::string>{"DSL", "other"}));
    EXPECT_EQ(ras.TakeNewSkippedNames(), (std::vector<std::string>{"Dsl", "dsl"}));
    // RAS would take "dsl" for "DSL": it is no entry of its own, not even to dial.
    RASDIALPARAMSA params = DialParams("dsl");
    HRASCONN conn = 0;
    EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 623u);
}

TEST(PppdRasPhonebook, MissingPeersFolderIsAnEmptyPhonebook) {
    TPppdSetup setup;
    setup.Config.PeersFolder = setup.Folder / "nowhere";
    TPppdRas ras(setup.Config);
    RASENTRYNAMEA entry{};
    entry.dwSize = sizeof(entry);
    DWORD bytes = sizeof(entry);
    DWORD count = 7;
    EXPECT_EQ(ras.RasEnumEntries(nullptr, nullptr, &entry, &bytes, &count), 0u);
    EXPECT_EQ(count, 0u);
}

TEST(PppdRasPhonebook, EnvironmentOverridesTheDefaults) {
    {
        TScopedEnvironment environment;
        for (const char* name : {"BRINDLECOVE_PPPD", "BRINDLECOVE_PPP_PEERS",
                                 "BRINDLECOVE_PPP_SECRETS", "BRINDLECOVE_PPP_RUNDIR"}) {
            environment.Set(name, "");
        }
        const TPppdConfig defaults = PppdConfigFromEnvironment();
        EXPECT_EQ(defaults.PppdPath, "/usr/sbin/pppd");
        EXPECT_EQ(defaults.PeersFolder, "/etc/ppp/peers");
        EXPECT_EQ(defaults.SecretsFolder, "/etc/ppp");
        EXPECT_EQ(defaults.RunFolders, (std::vector<std::string>{"/run", "/var/run", "/run/pppd"}));
    }
    TScopedEnvironment environment;
    environment.Set("BRINDLECOVE_PPPD", "/opt/pppd");
    environment.Set("BRINDLECOVE_PPP_PEERS", "/p");
    environment.Set("BRINDLECOVE_PPP_SECRETS", "/s");
    environment.Set("BRINDLECOVE_PPP_RUNDIR", "/r");
    const TPppdConfig config = PppdConfigFromEnvironment();
    EXPECT_EQ(config.PppdPath, "/opt/pppd");
    EXPECT_EQ(config.PeersFolder, "/p");
    EXPECT_EQ(config.SecretsFolder, "/s");
    EXPECT_EQ(config.RunFolders, std::vector<std::string>{"/r"});
}

// --- Option words and what the program reads from them -------------------------------------

TEST(PppdRasOptionWords, SplitLikePppd) {
    using Words = std::vector<std::string>;
    EXPECT_EQ(pppd::SplitOptionWords("  noauth\tdefaultroute\n\npersist "),
              (Words{"noauth", "defaultroute", "persist"}));
    EXPECT_EQ(pppd::SplitOptionWords("# a comment line\nuser bob # trailing\n"),
              (Words{"user", "bob"}));
    EXPECT_EQ(pppd::SplitOptionWords("user bob#comment ends the word\nmtu 1492"),
              (Words{"user", "bob", "mtu", "1492"}));
    EXPECT_EQ(pppd::SplitOptionWords("user \"bob smith\" name 'it''s' x\"a b\"y"),
              (Words{"user", "bob smith", "name", "its", "xa by"}));
    EXPECT_EQ(pppd::SplitOptionWords("user \"a # not a comment\""),
              (Words{"user", "a # not a comment"}));
    EXPECT_EQ(pppd::SplitOptionWords("password \"\""), (Words{"password", ""}));
    EXPECT_EQ(pppd::SplitOptionWords("a\\sb c\\td \\n\\r \\101\\x42\\x4a z\\\"q"),
              (Words{"a b", "c\td", "\n\r", "ABJ", "z\"q"}));
    EXPECT_EQ(pppd::SplitOptionWords("one\\\ntwo three\\ four"), (Words{"onetwo", "three four"}));
    // A line continued between words joins them and adds no word of its own.
    EXPECT_EQ(pppd::SplitOptionWords("user \\\n  bob \\\n"), (Words{"user", "bob"}));
    EXPECT_EQ(pppd::SplitOptionWords("\"unterminated quote"), (Words{"unterminated quote"}));
    EXPECT_TRUE(pppd::SplitOptionWords("   # only a comment").empty());
}

TEST(PppdRasOptionWords, PeerOptionsGiveUserAndDevice) {
    const auto read = [](const std::string& text) {
        return pppd::ReadPeerOptions(pppd::SplitOptionWords(text));
    };
    auto pppoe = read("noipdefault\nplugin rp-pppoe.so eth0\nuser \"alice@isp\"\npersist\n"
                      "mtu 1492\nlcp-echo-interval 20\n");
    EXPECT_EQ(pppoe.DeviceType, "PPPoE");
    EXPECT_EQ(pppoe.DeviceName, "eth0");
    EXPECT_EQ(pppoe.User, "alice@isp");

    auto plugin25 = read("plugin /usr/lib/pppd/2.5.0/pppoe.so nic-enp3s0 user a user b\n");
    EXPECT_EQ(plugin25.DeviceType, "PPPoE");
    EXPECT_EQ(plugin25.DeviceName, "enp3s0");
    EXPECT_EQ(plugin25.User, "b"); // the last value wins

    auto modem = read("/dev/ttyUSB0 115200 connect \"/usr/sbin/chat -f x\" user bob\n");
    EXPECT_EQ(modem.DeviceType, "modem");
    EXPECT_EQ(modem.DeviceName, "/dev/ttyUSB0");
    EXPECT_EQ(read("ttyS1 38400").DeviceName, "/dev/ttyS1");

    auto continued = read("plugin rp-pppoe.so \\\n  eth2\nuser \\\n  carol\n");
    EXPECT_EQ(continued.DeviceName, "eth2");
    EXPECT_EQ(continued.User, "carol");

    auto includes = read("file /etc/ppp/options.extra\ncall other\n");
    EXPECT_EQ(includes.IgnoredIncludes,
              (std::vector<std::string>{"file /etc/ppp/options.extra", "call other"}));
    EXPECT_TRUE(includes.DeviceType.empty());
}

TEST(PppdRasOptionWords, EntryPropertiesAndDialParamsComeFromThePeersFile) {
    TPppdSetup setup;
    setup.Peer("dsl", "plugin rp-pppoe.so eth1\nuser \"carol\"\n");
    setup.Peer("nosecret", "plugin rp-pppoe.so eth1\nuser dave\n");
    WriteFile(setup.Folder / "chap-secrets", "# client server secret\n\"carol\" * \"s3cret\"\n");
    TPppdRas ras(setup.Config);

    DWORD size = 0;
    DWORD deviceSize = 5;
    EXPECT_EQ(ras.RasGetEntryProperties(nullptr, "dsl", nullptr, &size, nullptr, &deviceSize),
              603u);
    EXPECT_EQ(size, sizeof(RASENTRYA));
    EXPECT_EQ(deviceSize, 0u);
    RASENTRYA entry{};
    entry.dwSize = sizeof(entry);
    EXPECT_EQ(ras.RasGetEntryProperties(nullptr, "dsl", &entry, &size, nullptr, &deviceSize), 0u);
    EXPECT_STREQ(entry.szDeviceType, "PPPoE");
    EXPECT_STREQ(entry.szDeviceName, "eth1");
    EXPECT_EQ(ras.RasGetEntryProperties(nullptr, "missing", nullptr, &size, nullptr, &deviceSize),
              623u);
    EXPECT_EQ(
        ras.RasGetEntryProperties(nullptr, "../peers/dsl", nullptr, &size, nullptr, &deviceSize),
        623u);

    RASDIALPARAMSA params = DialParams("dsl");
    BOOL password = 0;
    EXPECT_EQ(ras.RasGetEntryDialParams(nullptr, &params, &password), 0u);
    EXPECT_STREQ(params.szUserName, "carol");
    EXPECT_STREQ(params.szPassword, ""); // the secret stays in the secrets file
    EXPECT_EQ(password, 1);
    params = DialParams("nosecret");
    EXPECT_EQ(ras.RasGetEntryDialParams(nullptr, &params, &password), 0u);
    EXPECT_STREQ(params.szUserName, "dave");
    EXPECT_EQ(password, 0);
    params = DialParams("missing");
    EXPECT_EQ(ras.RasGetEntryDialParams(nullptr, &params, &password), 623u);
}

// --- Pid files and the processes behind them -----------------------------------------------

TEST(PppdRasPidFiles, ParsePidAndInterface) {
    auto both = pppd::ParsePidFile("1234\nppp0\n");
    ASSERT_TRUE(both);
    EXPECT_EQ(both->Pid, 1234);
    EXPECT_EQ(both->Interface, "ppp0");
    auto pidOnly = pppd::ParsePidFile("  987\n");
    ASSERT_TRUE(pidOnly);
    EXPECT_EQ(pidOnly->Pid, 987);
    EXPECT_TRUE(pidOnly->Interface.empty());
    for (const char* bad :
         {"", "\nppp0", "-1\n", "0\n", "1\n", "12ab\n", "99999999999\n", "2147483648\n"}) {
        EXPECT_FALSE(pppd::ParsePidFile(bad)) << bad;
    }
    auto badInterface = pppd::ParsePidFile("55\n../../etc\n");
    ASSERT_TRUE(badInterface);
    EXPECT_TRUE(badInterface->Interface.empty());
}

TEST(PppdRasPidFiles, LiveZombieAndForeignProcesses) {
    TempFolder folder;
    TFakeDaemon daemon(folder, "pppd", {"call", "dsl", "linkname", "dsl", "updetach"});
    const std::string pppd = std::filesystem::canonical(folder / "pppd").string();
    const pid_t pid = daemon.Child->Pid();
    const auto live = [&](pid_t which, const char* program, const char* option, const char* value) {
        return pppd::IsLiveProcessWith(which, program, pppd, option, value);
    };
    EXPECT_TRUE(live(pid, "pppd", "linkname", "dsl"));
    EXPECT_TRUE(live(pid, "pppd", "call", "dsl"));
    EXPECT_FALSE(live(pid, "pppd", "linkname", "other"));
    EXPECT_FALSE(live(pid, "notpppd", "linkname", "dsl"));
    EXPECT_FALSE(live(getpid(), "pppd", "linkname", "dsl"));
    EXPECT_FALSE(pppd::IsLiveProcessWith(pid, "pppd", "/usr/sbin/pppd", "linkname", "dsl"))
        << "another pppd program than the one configured";

    // Any user can start a shell that calls itself pppd and carries pppd's words.
    auto renamed = TChildProcess::Spawn({"/bin/bash", "-c",
                                         "exec -a pppd /bin/sh -c 'sleep 60; :' x call dsl "
                                         "linkname dsl"},
                                        -1);
    ASSERT_TRUE(renamed);
    ASSERT_TRUE(WaitFor([&] { return CommandLine(renamed->Pid()).starts_with("pppd"); }));
    EXPECT_FALSE(live(renamed->Pid(), "pppd", "linkname", "dsl"));

    // Killed but not reaped: a zombie still answers kill(pid, 0).
    daemon.Child->Signal(SIGKILL);
    ASSERT_TRUE(WaitFor([&] {
        const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
        return stat.find(") Z") != std::string::npos;
    }));
    EXPECT_EQ(kill(pid, 0), 0);
    EXPECT_FALSE(live(pid, "pppd", "linkname", "dsl"));
    daemon.Child->Wait();
    EXPECT_FALSE(live(pid, "pppd", "linkname", "dsl"));
}

// The configured pppd itself, started by another user with a peer's words: not that peer's link.
TEST(PppdRasPidFiles, APppdOfAnotherUserIsNoLink) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "starting a process as another user needs root and setpriv(1)";
    }
    TPppdSetup setup;
    std::filesystem::permissions(setup.Folder.Path(), std::filesystem::perms::all &
                                                          ~std::filesystem::perms::group_write &
                                                          ~std::filesystem::perms::others_write);
    setup.Config.PppdPath = setup.Folder / "pppd";
    MakeExecutable(setup.Config.PppdPath, "#!/bin/sh\nwhile :; do sleep 1; done\n");
    std::filesystem::permissions(setup.Config.PppdPath, std::filesystem::perms::owner_all |
                                                            std::filesystem::perms::group_exec |
                                                            std::filesystem::perms::group_read |
                                                            std::filesystem::perms::others_exec |
                                                            std::filesystem::perms::others_read);
    const std::string dsl = "dsl" + std::to_string(getpid());
    setup.Peer(dsl, "noauth\n");
    auto other = TChildProcess::Spawn({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                       "--clear-groups", setup.Config.PppdPath, "call", dsl},
                                      -1);
    ASSERT_TRUE(other);
    ASSERT_TRUE(WaitFor([&] { return CommandLine(other->Pid()).starts_with("/bin/sh"); }))
        << "the script runs as the other user";
    EXPECT_EQ(ConnectionCount(setup.Config), 0u);
    other->Signal(SIGKILL);
}

TEST(PppdRasPidFiles, EnumConnectionsTrustsOnlyLivePppdOfThatLink) {
    TPppdSetup setup;
    setup.Config.PppdPath = setup.Folder / "pppd";
    // Names of this process's own, so that another test run's processes never match.
    const std::string dsl = "dsl" + std::to_string(getpid());
    const std::string pon = "pon" + std::to_string(getpid());
    for (const std::string& name : {dsl, pon, std::string("stale"), std::string("foreign")}) {
        setup.Peer(name, "plugin rp-pppoe.so eth0\n");
    }
    TFakeDaemon linked(setup.Folder, "pppd", {"call", dsl, "linkname", dsl});
    TFakeDaemon unlinked(setup.Folder, "pppd", {"call", pon, "nopersist"});
    const std::string run = setup.Folder / "run";
    WriteFile(run + "/ppp-" + dsl + ".pid", std::to_string(linked.Child->Pid()) + "\nlo\n");
    WriteFile(run + "/ppp-foreign.pid", std::to_string(getpid()) + "\nppp7\n");
    WriteFile(run + "/ppp-stale.pid", "999999999\n");
    TPppdRas ras(setup.Config);

    std::vector<RASCONNA> connections(1);
    connections[0].dwSize = sizeof(RASCONNA);
    DWORD bytes = sizeof(RASCONNA);
    DWORD count = 0;
    EXPECT_EQ(ras.RasEnumConnections(connections.data(), &bytes, &count), 603u);
    ASSERT_EQ(bytes, 2 * sizeof(RASCONNA));
    connections.resize(2);
    ASSERT_EQ(ras.RasEnumConnections(connections.data(), &bytes, &count), 0u);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(connections[0].szEntryName, dsl);
    EXPECT_EQ(connections[0].hrasconn, static_cast<HRASCONN>(linked.Child->Pid()));
    EXPECT_STREQ(connections[0].szDeviceType, "PPPoE");
    EXPECT_STREQ(connections[0].szDeviceName, "eth0");
    EXPECT_EQ(connections[1].szEntryName, pon);
    EXPECT_EQ(connections[1].hrasconn, static_cast<HRASCONN>(unlinked.Child->Pid()));

    // The projection reads the addresses of the pid file's interface (here the loopback).
    RASPPPIP ip{};
    ip.dwSize = sizeof(ip);
    DWORD ipBytes = sizeof(ip);
    EXPECT_EQ(ras.RasGetProjectionInfo(connections[0].hrasconn, RASP_PppIp, &ip, &ipBytes), 0u);
    EXPECT_STREQ(ip.szIpAddress, "127.0.0.1");
    EXPECT_EQ(ras.RasGetProjectionInfo(static_cast<HRASCONN>(getpid()), RASP_PppIp, &ip, &ipBytes),
              6u);
    EXPECT_EQ(ras.RasGetProjectionInfo(connections[1].hrasconn, RASP_PppIp, &ip, &ipBytes),
              730u); // no interface known for it

    // Hang-up signals only a pppd of a link, never this process or a process group.
    EXPECT_EQ(ras.RasHangUp(static_cast<HRASCONN>(getpid())), 6u);
    EXPECT_EQ(ras.RasHangUp(0), 6u);
    EXPECT_EQ(ras.RasHangUp(static_cast<HRASCONN>(UINT_MAX)), 6u);
    EXPECT_EQ(ras.RasHangUp(connections[0].hrasconn), 0u);
    const int status = linked.Child->Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    count = 0;
    ASSERT_EQ(ras.RasEnumConnections(connections.data(), &bytes, &count), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(connections[0].szEntryName, pon);
}

// --- Exit codes and texts ------------------------------------------------------------------

TEST(PppdRasExitCodes, ExitStatusesOfRealProcessesBecomeRasCodes) {
    const auto statusOf = [](const std::string& script) {
        auto child = TChildProcess::Spawn({"/bin/sh", "-c", script}, -1);
        return child ? child->Wait() : -1;
    };
    // pppd's "we failed to authenticate to the peer" is the authentication failure.
    EXPECT_EQ(pppd::RasCodeFromWaitStatus(statusOf("exit 19")), 691u);
    EXPECT_EQ(pppd::RasCodeFromWaitStatus(statusOf("exit 0")), 0u);
    // A status pppd does not document, and a run killed by a signal, are the generic failure.
    EXPECT_EQ(pppd::RasCodeFromWaitStatus(statusOf("exit 99")), 635u);
    EXPECT_EQ(pppd::RasCodeFromWaitStatus(statusOf("kill -KILL $$")), 635u);
    EXPECT_EQ(pppd::RasCodeFromPppdExit(-1), 635u);
}

TEST(PppdRasExitCodes, EveryCodeTheAdapterCanAnswerHasItsText) {
    for (int exitCode = 1; exitCode < 256; ++exitCode) {
        const DWORD code = pppd::RasCodeFromPppdExit(exitCode);
        EXPECT_NE(code, 0u) << exitCode; // only a link that came up is a success
        EXPECT_FALSE(pppd::RasErrorText(code).empty()) << exitCode;
    }
    // The codes the adapter answers besides pppd's exits.
    for (DWORD code :
         {raserror::PortAlreadyOpen, raserror::BufferTooSmall, raserror::CannotFindPhonebookEntry,
          raserror::InvalidSize, raserror::NoAnswer, raserror::RasmanCannotInitialize,
          raserror::ProjectionNotComplete}) {
        EXPECT_FALSE(pppd::RasErrorText(code).empty()) << code;
    }
}

TEST(PppdRasExitCodes, ErrorStringsAreTheWindowsTextsCutToTheBuffer) {
    TPppdSetup setup;
    TPppdRas ras(setup.Config);
    char text[512];
    ASSERT_EQ(ras.RasGetErrorString(691, text, sizeof(text)), 0u);
    EXPECT_STREQ(text, "The remote connection was denied because the user name and password "
                       "combination you provided is not recognized, or the selected "
                       "authentication protocol is not permitted on the remote access server.");
    ASSERT_EQ(ras.RasGetErrorString(623, text, sizeof(text)), 0u);
    EXPECT_STREQ(text, "The system could not find the phone book entry for this connection.");
    ASSERT_EQ(ras.RasGetErrorString(678, text, 8), 0u);
    EXPECT_STREQ(text, "The rem");
    EXPECT_EQ(ras.RasGetErrorString(0, text, sizeof(text)), 87u);
    EXPECT_EQ(ras.RasGetErrorString(691, nullptr, 10), 87u);
}

TEST(PppdRasPidFiles, AFifoInTheRunFolderIsNotReadAndHoldsNothingUp) {
    TPppdSetup setup;
    setup.Peer("foo", "noauth\n");
    const std::string run = setup.Folder / "run";
    // Named like pid files, with and without the interface line pppd would write.
    ASSERT_EQ(::mkfifo((run + "/ppp-foo.pid").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((run + "/ppp7.pid").c_str(), 0600), 0);
    EXPECT_EQ(ConnectionCount(setup.Config), 0u);
}

// --- Dialling with the stand-in ------------------------------------------------------------

TEST(PppdRasDial, FailuresBecomeRasCodes) {
    TPppdSetup setup;
    setup.Peer("auth", "# standin: exit 19\n");
    setup.Peer("nodial", "# standin: exit 8\n");
    setup.Peer("negotiate", "# standin: exit 10\n");
    setup.Peer("hangup", "# standin: exit 16\n");
    setup.Peer("opterr", "# standin: exit 2\n");
    TPppdRas ras(setup.Config);
    const std::vector<std::pair<std::string, DWORD>> cases = {
        {"auth", 691}, {"nodial", 678}, {"negotiate", 720}, {"hangup", 628}, {"opterr", 625}};
    for (const auto& [name, code] : cases) {
        RASDIALPARAMSA params = DialParams(name);
        HRASCONN conn = 0;
        EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), code) << name;
        EXPECT_EQ(conn, 0u) << name;
        EXPECT_NE(ras.LastDialOutput().find("pppd-standin: " + name), std::string::npos) << name;
    }
}

TEST(PppdRasDial, MissingEntryOrPppdAndBadArguments) {
    TPppdSetup setup;
    setup.Peer("dsl", "# standin: exit 0\n");
    TPppdRas ras(setup.Config);
    HRASCONN conn = 0;
    RASDIALPARAMSA params = DialParams("missing");
    EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 623u);
    params = DialParams("../peers/dsl");
    EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 623u);
    params = DialParams("dsl");
    EXPECT_EQ(ras.RasDial(nullptr, "book", &params, 0, nullptr, &conn), 87u);
    EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, nullptr), 87u);

    setup.Config.PppdPath = setup.Folder / "no-pppd";
    TPppdRas noPppd(setup.Config);
    EXPECT_EQ(noPppd.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 711u);
    EXPECT_TRUE(noPppd.LastDialOutput().empty());
}

TEST(PppdRasDial, PppdInheritsNoDescriptorButItsStandardOnes) {
    TPppdSetup setup;
    setup.Peer("dsl", "noauth\n");
    setup.Config.PppdPath = setup.Folder / "pppd";
    MakeExecutable(setup.Config.PppdPath, "#!/bin/sh\nls /proc/$$/fd >\"$0.fds\"\nexit 8\n");
    // A descriptor the program inherited from its caller, without close-on-exec.
    const TUniqueFd inherited(::open("/dev/null", O_RDONLY));
    ASSERT_EQ(::dup2(inherited.Get(), 37), 37);
    TPppdRas ras(setup.Config);
    RASDIALPARAMSA params = DialParams("dsl");
    HRASCONN conn = 0;
    EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 678u);
    ::close(37);
    const auto fds = testing::Lines(ReadFile(setup.Config.PppdPath + ".fds"));
    EXPECT_THAT(fds, ::testing::IsSupersetOf({"0", "1", "2"}));
    EXPECT_THAT(fds, ::testing::Not(::testing::Contains("37")));
}

TEST(PppdRasDial, OutputHeldOpenByAHelperDoesNotBlockTheDial) {
    TPppdSetup setup;
    setup.Peer("linger", "# standin: linger 8\n");
    TPppdRas ras(setup.Config);
    RASDIALPARAMSA params = DialParams("linger");
    HRASCONN conn = 0;
    // The helper lives 30 s; the bound leaves room for a loaded machine.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 678u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    EXPECT_NE(ras.LastDialOutput().find("linger 8"), std::string::npos);
}

TEST(PppdRasDial, WatchdogStopsAPppdThatNeverFinishes) {
    TPppdSetup setup;
    setup.Peer("hang", "# standin: hang\n");
    setup.Peer("stubborn", "# standin: stubborn\n");
    setup.Config.DialTimeout = 300ms;
    setup.Config.StopGrace = 300ms;
    TPppdRas ras(setup.Config);
    // Without the watchdog these dials never return; the bound leaves room for a loaded machine.
    for (const char* name : {"hang", "stubborn"}) {
        RASDIALPARAMSA params = DialParams(name);
        HRASCONN conn = 0;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 678u) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << name;
        EXPECT_EQ(conn, 0u) << name;
    }
}

// --- Links in a private network namespace --------------------------------------------------

TEST(PppdRasLinks, DialEnumerateProjectAndHangUp) {
    RUN_IN_PRIVATE_NAMESPACE();
    TPppdSetup setup;
    TScopedEnvironment environment;
    environment.Set("BRINDLECOVE_PPPD", testing::StandInPppd());
    environment.Set("BRINDLECOVE_PPP_SECRETS", setup.Config.SecretsFolder);
    setup.Peer("first", "# standin: up 10.1.0.2 10.1.0.1 1\nplugin rp-pppoe.so eth0\n");
    setup.Peer("second", "# standin: up 10.2.0.2 10.2.0.1\nplugin rp-pppoe.so eth1\n");
    TPppdRas ras(PppdConfigFromEnvironment());

    RASDIALPARAMSA params = DialParams("first");
    HRASCONN first = 0;
    ASSERT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &first), 0u)
        << ras.LastDialOutput();
    ASSERT_NE(first, 0u);
    EXPECT_NE(ras.LastDialOutput().find("local  IP address 10.1.0.2"), std::string::npos);
    params = DialParams("second");
    HRASCONN second = 0;
    ASSERT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &second), 0u);
    HRASCONN again = 0;
    EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &again), 602u);
    EXPECT_EQ(again, second);

    std::vector<RASCONNA> connections(4);
    connections[0].dwSize = sizeof(RASCONNA);
    DWORD bytes = static_cast<DWORD>(4 * sizeof(RASCONNA));
    DWORD count = 0;
    ASSERT_EQ(ras.RasEnumConnections(connections.data(), &bytes, &count), 0u);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(connections[0].szEntryName, "first");
    EXPECT_EQ(connections[0].hrasconn, first);
    EXPECT_STREQ(connections[1].szEntryName, "second");
    EXPECT_STREQ(connections[1].szDeviceName, "eth1");

    const auto projection = [&](HRASCONN conn) {
        RASPPPIP ip{};
        ip.dwSize = sizeof(ip);
        DWORD ipBytes = sizeof(ip);
        const DWORD result = ras.RasGetProjectionInfo(conn, RASP_PppIp, &ip, &ipBytes);
        return result == 0 ? std::string(ip.szIpAddress) + " " + ip.szServerIpAddress
                           : std::to_string(result);
    };
    EXPECT_EQ(projection(first), "10.1.0.2 10.1.0.1");
    EXPECT_EQ(projection(second), "10.2.0.2 10.2.0.1");

    // The first link's interface is renamed, and another one takes the name its pid file still
    // gives: the link keeps its own interface, found by index.
    const std::string firstLink =
        testing::Lines(ReadFile(setup.Folder / "run/ppp-first.pid")).at(1);
    std::string why;
    ASSERT_TRUE(testing::IpBatch("link set " + firstLink + " down\nlink set " + firstLink +
                                     " name renamed0\nlink set renamed0 up\n"
                                     "link add " +
                                     firstLink +
                                     " type veth peer name spare0\n"
                                     "addr add 10.9.0.2 peer 10.9.0.1/32 dev " +
                                     firstLink +
                                     "\n"
                                     "link set " +
                                     firstLink + " up\n",
                                 why))
        << why;
    ASSERT_EQ(ras.RasEnumConnections(connections.data(), &bytes, &count), 0u);
    EXPECT_EQ(projection(first), "10.1.0.2 10.1.0.1");
    ASSERT_TRUE(testing::IpBatch("link del " + firstLink +
                                     "\nlink set renamed0 down\n"
                                     "link set renamed0 name " +
                                     firstLink + "\nlink set " + firstLink + " up\n",
                                 why))
        << why;

    EXPECT_EQ(ras.RasHangUp(first), 0u);
    EXPECT_TRUE(WaitFor([&] { return ras.ActiveLinks().size() == 1; }));
    EXPECT_EQ(projection(first), "6");
    EXPECT_EQ(::if_nametoindex("ppp0"), 0u); // the stand-in removed its link
    EXPECT_FALSE(std::filesystem::exists(setup.Folder / "run/ppp-first.pid"));
    EXPECT_EQ(ras.RasHangUp(second), 0u);
    EXPECT_TRUE(WaitFor([&] { return ras.ActiveLinks().empty(); }));
}

// pppd writes its pid files where the port does not look (or they were removed): its link is
// still found by its pppd, so a dial succeeds and a second dial starts no second pppd.
TEST(PppdRasLinks, ALinkWithoutAPidFileIsFoundByItsPppd) {
    RUN_IN_PRIVATE_NAMESPACE();
    TPppdSetup setup;
    setup.Peer("first", "# standin: up 10.1.0.2 10.1.0.1\n");
    setup.Config.RunFolders = {setup.Folder / "elsewhere"};
    std::filesystem::create_directories(setup.Config.RunFolders[0]);
    setup.Config.AddressWait = 200ms; // its interface is not known without the pid file
    TPppdRas ras(setup.Config);

    RASDIALPARAMSA params = DialParams("first");
    HRASCONN conn = 0;
    ASSERT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 0u)
        << ras.LastDialOutput();
    ASSERT_NE(conn, 0u);
    HRASCONN again = 0;
    EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &again), 602u);
    EXPECT_EQ(again, conn);
    EXPECT_EQ(ConnectionCount(setup.Config), 1u);

    EXPECT_EQ(ras.RasHangUp(conn), 0u);
    EXPECT_TRUE(WaitFor([&] { return ConnectionCount(setup.Config) == 0; }));
}

TEST(PppdRasLinks, ALinkThatDropsLeavesTheConnectionList) {
    RUN_IN_PRIVATE_NAMESPACE();
    TPppdSetup setup;
    setup.Peer("flaky", "# standin: drop-after 1\n");
    TPppdRas ras(setup.Config);
    RASDIALPARAMSA params = DialParams("flaky");
    HRASCONN conn = 0;
    ASSERT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 0u)
        << ras.LastDialOutput();
    EXPECT_EQ(ras.ActiveLinks().size(), 1u);
    EXPECT_TRUE(WaitFor([&] { return ras.ActiveLinks().empty(); }, 5000ms));
    EXPECT_EQ(ras.RasHangUp(conn), 6u); // that pid no longer is the link's pppd
}

} // namespace
} // namespace brindlecove
