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

// RAS tells entries apart without regard to letter case, pppd does not: of names that differ only
// in case the first is the entry, the others are skipped.
TEST(PppdRasPhonebook, EntriesTheirPropertiesAndDialParamsComeFromThePeersFolder) {
    TPppdSetup setup;
    for (const char* name : {"dsl", "Dsl", "dsl.bak", ".secret", "bad name", "README"}) {
        setup.Peer(name, "noauth\n");
    }
    setup.Peer("zeta", "plugin rp-pppoe.so eth1\nuser \"carol\"\n");
    setup.Peer("DSL", "plugin rp-pppoe.so eth1\nuser dave\n");
    WriteFile(setup.Folder / "chap-secrets", "# client server secret\n\"carol\" * \"s3cret\"\n");
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
    EXPECT_STREQ(entries[0].szEntryName, "DSL");
    EXPECT_STREQ(entries[1].szEntryName, "zeta");

    const std::vector<std::string> skipped = {"Dsl", "bad name", "dsl"};
    EXPECT_EQ(ras.SkippedNames(), skipped);
    EXPECT_EQ(ras.TakeNewSkippedNames(), skipped);
    ras.Entries();
    EXPECT_TRUE(ras.TakeNewSkippedNames().empty());
    // RAS would take "dsl" for "DSL": it is no entry of its own, not even to dial.
    RASDIALPARAMSA params = DialParams("dsl");
    HRASCONN conn = 0;
    EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 623u);

    entries[0].dwSize = 12;
    EXPECT_EQ(ras.RasEnumEntries(nullptr, nullptr, entries.data(), &bytes, &count), 632u);

    DWORD size = 0;
    DWORD deviceSize = 5;
    EXPECT_EQ(ras.RasGetEntryProperties(nullptr, "zeta", nullptr, &size, nullptr, &deviceSize),
              603u);
    EXPECT_EQ(size, sizeof(RASENTRYA));
    EXPECT_EQ(deviceSize, 0u);
    RASENTRYA entry{};
    entry.dwSize = sizeof(entry);
    EXPECT_EQ(ras.RasGetEntryProperties(nullptr, "zeta", &entry, &size, nullptr, &deviceSize), 0u);
    EXPECT_STREQ(entry.szDeviceType, "PPPoE");
    EXPECT_STREQ(entry.szDeviceName, "eth1");
    for (const char* notAnEntry : {"missing", "../peers/zeta", "dsl"}) {
        EXPECT_EQ(ras.RasGetEntryProperties(nullptr, notAnEntry, nullptr, &size, nullptr, nullptr),
                  623u)
            << notAnEntry;
    }

    params = DialParams("zeta");
    BOOL password = 0;
    EXPECT_EQ(ras.RasGetEntryDialParams(nullptr, &params, &password), 0u);
    EXPECT_STREQ(params.szUserName, "carol");
    EXPECT_STREQ(params.szPassword, ""); // the secret stays in the secrets file
    EXPECT_EQ(password, 1);
    params = DialParams("DSL");
    EXPECT_EQ(ras.RasGetEntryDialParams(nullptr, &params, &password), 0u);
    EXPECT_STREQ(params.szUserName, "dave");
    EXPECT_EQ(password, 0);
    params = DialParams("dsl");
    EXPECT_EQ(ras.RasGetEntryDialParams(nullptr, &params, &password), 623u);

    // A missing peers folder is an empty phonebook.
    setup.Config.PeersFolder = setup.Folder / "nowhere";
    TPppdRas empty(setup.Config);
    entries[0].dwSize = sizeof(RASENTRYNAMEA);
    count = 7;
    EXPECT_EQ(empty.RasEnumEntries(nullptr, nullptr, entries.data(), &bytes, &count), 0u);
    EXPECT_EQ(count, 0u);
}

TEST(PppdRasPhonebook, EnvironmentOverridesTheDefaults) {
    TScopedEnvironment environment;
    const char* const names[] = {"BRINDLECOVE_PPPD", "BRINDLECOVE_PPP_PEERS",
                                 "BRINDLECOVE_PPP_SECRETS", "BRINDLECOVE_PPP_RUNDIR"};
    for (const char* name : names) {
        environment.Set(name, ""); // an empty value overrides nothing
    }
    const TPppdConfig defaults = PppdConfigFromEnvironment();
    EXPECT_EQ(defaults.PppdPath, "/usr/sbin/pppd");
    EXPECT_EQ(defaults.PeersFolder, "/etc/ppp/peers");
    EXPECT_EQ(defaults.SecretsFolder, "/etc/ppp");
    EXPECT_EQ(defaults.RunFolders, (std::vector<std::string>{"/run", "/var/run", "/run/pppd"}));
    for (const char* name : names) {
        environment.Set(name, std::string("/") + name);
    }
    const TPppdConfig config = PppdConfigFromEnvironment();
    EXPECT_EQ(config.PppdPath, "/BRINDLECOVE_PPPD");
    EXPECT_EQ(config.PeersFolder, "/BRINDLECOVE_PPP_PEERS");
    EXPECT_EQ(config.SecretsFolder, "/BRINDLECOVE_PPP_SECRETS");
    EXPECT_EQ(config.RunFolders, std::vector<std::string>{"/BRINDLECOVE_PPP_RUNDIR"});
}

// --- Option words and what the program reads from them -------------------------------------

TEST(PppdRasOptionWords, SplitLikePppdAndGiveUserAndDevice) {
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

    auto includes = read("file /etc/ppp/options.extra\ncall other\n");
    EXPECT_EQ(includes.IgnoredIncludes,
              (std::vector<std::string>{"file /etc/ppp/options.extra", "call other"}));
    EXPECT_TRUE(includes.DeviceType.empty());
}

// --- Pid files and the processes behind them -----------------------------------------------

TEST(PppdRasPidFiles, ParsePidAndInterface) {
    const auto parsed = [](const char* text) {
        const auto file = pppd::ParsePidFile(text);
        return file ? std::to_string(file->Pid) + " " + file->Interface : "nothing";
    };
    EXPECT_EQ(parsed("1234\nppp0\n"), "1234 ppp0");
    EXPECT_EQ(parsed("  987\n"), "987 ");
    EXPECT_EQ(parsed("55\n../../etc\n"), "55 ") << "no interface name";
    for (const char* bad :
         {"", "\nppp0", "-1\n", "0\n", "1\n", "12ab\n", "99999999999\n", "2147483648\n"}) {
        EXPECT_EQ(parsed(bad), "nothing") << bad;
    }
}

TEST(PppdRasPidFiles, APppdOfAnotherUserIsNoLink) {
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "starting a process as another user needs root and setpriv(1)";
    }
    TPppdSetup setup;
    // Readable and runnable by the other user, writable by none but this one.
    setup.Config.PppdPath = setup.Folder / "pppd";
    WriteFile(setup.Config.PppdPath, "#!/bin/sh\nwhile :; do sleep 1; done\n");
    for (const std::string& path : {setup.Folder.Path().string(), setup.Config.PppdPath}) {
        std::filesystem::permissions(path, std::filesystem::perms(0755));
    }
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
    const std::string fifo = "fifo";
    for (const std::string& name : {dsl, pon, fifo, std::string("stale"), std::string("foreign")}) {
        setup.Peer(name, "plugin rp-pppoe.so eth0\n");
    }
    TFakeDaemon linked(setup.Folder, "pppd", {"call", dsl, "linkname", dsl});
    TFakeDaemon unlinked(setup.Folder, "pppd", {"call", pon, "nopersist"});
    const std::string run = setup.Folder / "run";
    WriteFile(run + "/ppp-" + dsl + ".pid", std::to_string(linked.Child->Pid()) + "\nlo\n");
    WriteFile(run + "/ppp-foreign.pid", std::to_string(getpid()) + "\nppp7\n");
    WriteFile(run + "/ppp-stale.pid", "999999999\n");
    // FIFOs named like pid files, with and without the interface line: reading one would block.
    ASSERT_EQ(::mkfifo((run + "/ppp-" + fifo + ".pid").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((run + "/ppp7.pid").c_str(), 0600), 0);
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

    // A link's pppd: a live process of the configured program, with the link's words.
    const std::string pppd = std::filesystem::canonical(setup.Config.PppdPath).string();
    const pid_t pid = linked.Child->Pid();
    const auto live = [&pppd](pid_t which, const char* program, const char* option,
                              const std::string& value) {
        return pppd::IsLiveProcessWith(which, program, pppd, option, value);
    };
    EXPECT_TRUE(live(pid, "pppd", "linkname", dsl));
    EXPECT_TRUE(live(pid, "pppd", "call", dsl));
    EXPECT_FALSE(live(pid, "pppd", "linkname", "other"));
    EXPECT_FALSE(live(pid, "notpppd", "linkname", dsl));
    EXPECT_FALSE(pppd::IsLiveProcessWith(pid, "pppd", "/usr/sbin/pppd", "linkname", dsl))
        << "another pppd program than the one configured";
    // Any user can start a shell that calls itself pppd and carries pppd's words.
    auto renamed = TChildProcess::Spawn(
        {"/bin/bash", "-c",
         "exec -a pppd /bin/sh -c 'sleep 60; :' x call " + dsl + " linkname " + dsl},
        -1);
    ASSERT_TRUE(renamed);
    ASSERT_TRUE(WaitFor([&] { return CommandLine(renamed->Pid()).starts_with("pppd"); }));
    EXPECT_FALSE(live(renamed->Pid(), "pppd", "linkname", dsl));

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
    // Ended but not reaped: a zombie still answers kill(pid, 0), yet is no link.
    ASSERT_TRUE(WaitFor([&] {
        return ReadFile("/proc/" + std::to_string(pid) + "/stat").find(") Z") != std::string::npos;
    }));
    EXPECT_EQ(kill(pid, 0), 0);
    EXPECT_FALSE(live(pid, "pppd", "linkname", dsl));
    const int status = linked.Child->Wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    count = 0;
    ASSERT_EQ(ras.RasEnumConnections(connections.data(), &bytes, &count), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(connections[0].szEntryName, pon);
}

// --- Exit codes and texts ------------------------------------------------------------------

TEST(PppdRasExitCodes, WaitStatusesBecomeRasCodesWithTheWindowsTextsCutToTheBuffer) {
    const auto statusOf = [](const std::string& script) {
        auto child = TChildProcess::Spawn({"/bin/sh", "-c", script}, -1);
        return child ? child->Wait() : -1;
    };
    EXPECT_EQ(pppd::RasCodeFromWaitStatus(statusOf("exit 0")), 0u);
    // A status pppd does not document, and a run killed by a signal, are the generic failure.
    EXPECT_EQ(pppd::RasCodeFromWaitStatus(statusOf("exit 99")), 635u);
    EXPECT_EQ(pppd::RasCodeFromWaitStatus(statusOf("kill -KILL $$")), 635u);

    TPppdSetup setup;
    TPppdRas ras(setup.Config);
    char text[512];
    ASSERT_EQ(ras.RasGetErrorString(691, text, sizeof(text)), 0u);
    EXPECT_STREQ(text, "The remote connection was denied because the user name and password "
                       "combination you provided is not recognized, or the selected "
                       "authentication protocol is not permitted on the remote access server.");
    ASSERT_EQ(ras.RasGetErrorString(678, text, 8), 0u);
    EXPECT_STREQ(text, "The rem");
    EXPECT_EQ(ras.RasGetErrorString(0, text, sizeof(text)), 87u);
    EXPECT_EQ(ras.RasGetErrorString(691, nullptr, 10), 87u);

    // Every code the adapter answers has its text: pppd's exits (only a link that came up is a
    // success) and its own.
    for (int exitCode = 1; exitCode < 256; ++exitCode) {
        const DWORD code = pppd::RasCodeFromPppdExit(exitCode);
        EXPECT_EQ(ras.RasGetErrorString(code, text, sizeof(text)), 0u) << exitCode;
    }
    for (DWORD code :
         {raserror::PortAlreadyOpen, raserror::BufferTooSmall, raserror::CannotFindPhonebookEntry,
          raserror::InvalidSize, raserror::NoAnswer, raserror::RasmanCannotInitialize,
          raserror::ProjectionNotComplete}) {
        EXPECT_EQ(ras.RasGetErrorString(code, text, sizeof(text)), 0u) << code;
    }
}

// --- Dialling with the stand-in ------------------------------------------------------------

TEST(PppdRasDial, FailuresBecomeRasCodesAndNoDialOutlivesItsBounds) {
    TPppdSetup setup;
    setup.Peer("auth", "# standin: exit 19\n");
    setup.Peer("opterr", "# standin: exit 2\n");
    setup.Peer("linger", "# standin: linger 8\n");
    setup.Peer("hang", "# standin: hang\n");
    setup.Peer("stubborn", "# standin: stubborn\n");
    TPppdRas ras(setup.Config);
    for (const auto& [name, code] : {std::pair<std::string, DWORD>{"auth", 691}, {"opterr", 625}}) {
        RASDIALPARAMSA params = DialParams(name);
        HRASCONN conn = 0;
        EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), code) << name;
        EXPECT_EQ(conn, 0u) << name;
        EXPECT_NE(ras.LastDialOutput().find("pppd-standin: " + name), std::string::npos) << name;
    }

    HRASCONN conn = 0;
    RASDIALPARAMSA params = DialParams("missing");
    EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 623u);
    params = DialParams("../peers/auth");
    EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 623u);
    params = DialParams("auth");
    EXPECT_EQ(ras.RasDial(nullptr, "book", &params, 0, nullptr, &conn), 87u);
    EXPECT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, nullptr), 87u);

    // Without these bounds the dials below never return; they leave room for a loaded machine.
    const auto dial = [](TPppdRas& port, const char* entry) {
        RASDIALPARAMSA bounded = DialParams(entry);
        HRASCONN handle = 0;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(port.RasDial(nullptr, nullptr, &bounded, 0, nullptr, &handle), 678u) << entry;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 20s) << entry;
        return handle;
    };
    // pppd ends, but a helper it started holds its output open for 30 s.
    dial(ras, "linger");
    EXPECT_NE(ras.LastDialOutput().find("linger 8"), std::string::npos);
    // The watchdog stops a pppd that never finishes, and kills one that ignores being stopped.
    TPppdConfig hastyConfig = setup.Config;
    hastyConfig.DialTimeout = 300ms;
    hastyConfig.StopGrace = 300ms;
    TPppdRas hasty(hastyConfig);
    EXPECT_EQ(dial(hasty, "hang"), 0u);
    EXPECT_EQ(dial(hasty, "stubborn"), 0u);

    setup.Config.PppdPath = setup.Folder / "no-pppd";
    TPppdRas noPppd(setup.Config);
    EXPECT_EQ(noPppd.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 711u);
    EXPECT_TRUE(noPppd.LastDialOutput().empty());

    // pppd inherits no descriptor but its standard ones, not even one the program inherited from
    // its caller without close-on-exec.
    setup.Config.PppdPath = setup.Folder / "pppd";
    MakeExecutable(setup.Config.PppdPath, "#!/bin/sh\nls /proc/$$/fd >\"$0.fds\"\nexit 8\n");
    const TUniqueFd inherited(::open("/dev/null", O_RDONLY));
    ASSERT_EQ(::dup2(inherited.Get(), 37), 37);
    TPppdRas listing(setup.Config);
    EXPECT_EQ(listing.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn), 678u);
    ::close(37);
    const auto fds = testing::Lines(ReadFile(setup.Config.PppdPath + ".fds"));
    EXPECT_THAT(fds, ::testing::IsSupersetOf({"0", "1", "2"}));
    EXPECT_THAT(fds, ::testing::Not(::testing::Contains("37")));
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
    setup.Peer("flaky", "# standin: drop-after 1\n");
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
    // The `ip -batch` commands, with the first link's interface for each %; "" when they worked.
    const auto onFirstLink = [&firstLink](std::string commands) {
        for (auto at = commands.find('%'); at != std::string::npos; at = commands.find('%', at)) {
            commands.replace(at, 1, firstLink);
        }
        std::string why;
        return testing::IpBatch(commands, why) ? std::string() : why;
    };
    ASSERT_EQ(onFirstLink("link set % down\nlink set % name renamed0\nlink set renamed0 up\n"
                          "link add % type veth peer name spare0\n"
                          "addr add 10.9.0.2 peer 10.9.0.1/32 dev %\nlink set % up\n"),
              "");
    ASSERT_EQ(ras.RasEnumConnections(connections.data(), &bytes, &count), 0u);
    EXPECT_EQ(projection(first), "10.1.0.2 10.1.0.1");
    ASSERT_EQ(onFirstLink("link del %\nlink set renamed0 down\nlink set renamed0 name %\n"
                          "link set % up\n"),
              "");

    EXPECT_EQ(ras.RasHangUp(first), 0u);
    EXPECT_TRUE(WaitFor([&] { return ras.ActiveLinks().size() == 1; }));
    EXPECT_EQ(projection(first), "6");
    EXPECT_EQ(::if_nametoindex("ppp0"), 0u); // the stand-in removed its link
    EXPECT_FALSE(std::filesystem::exists(setup.Folder / "run/ppp-first.pid"));
    EXPECT_EQ(ras.RasHangUp(second), 0u);
    EXPECT_TRUE(WaitFor([&] { return ras.ActiveLinks().empty(); }));

    // A link that drops by itself leaves the connection list, and its pid no longer is a link.
    params = DialParams("flaky");
    HRASCONN flaky = 0;
    ASSERT_EQ(ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &flaky), 0u)
        << ras.LastDialOutput();
    EXPECT_EQ(ras.ActiveLinks().size(), 1u);
    EXPECT_TRUE(WaitFor([&] { return ras.ActiveLinks().empty(); }, 5000ms));
    EXPECT_EQ(ras.RasHangUp(flaky), 6u);

    // pppd writes its pid files where the port does not look (or they were removed): its link is
    // still found by its pppd, so a dial succeeds and a second dial starts no second pppd.
    TPppdConfig blindConfig = setup.Config;
    blindConfig.RunFolders = {setup.Folder / "elsewhere"};
    blindConfig.AddressWait = 200ms; // its interface is not known without the pid file
    TPppdRas blind(blindConfig);
    params = DialParams("first");
    HRASCONN unseen = 0;
    ASSERT_EQ(blind.RasDial(nullptr, nullptr, &params, 0, nullptr, &unseen), 0u)
        << blind.LastDialOutput();
    ASSERT_NE(unseen, 0u);
    EXPECT_EQ(blind.RasDial(nullptr, nullptr, &params, 0, nullptr, &again), 602u);
    EXPECT_EQ(again, unseen);
    EXPECT_EQ(ConnectionCount(blindConfig), 1u);
    EXPECT_EQ(blind.RasHangUp(unseen), 0u);
    EXPECT_TRUE(WaitFor([&] { return ConnectionCount(blindConfig) == 0; }));
}

} // namespace
} // namespace brindlecove
