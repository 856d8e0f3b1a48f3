// The shipped Windows program end to end: a copy of brindlecove.exe in a folder of its own with
// its settings file, the project's stand-in rasapi32.dll and iphlpapi.dll beside it (the second
// keeps a routing table in a file), the persistent routes of the test prefix's registry, and its
// window and message boxes read from this process. Needs a display (Xvfb under Wine).
// clang-format off
#include <winsock2.h> // before <windows.h>, which would bring in the older winsock.h
#include <windows.h>
// clang-format on

#include "app/brindlecove1.h"
#include "app/win32/Win32System.h"
#include "common/win32/Handles.h"
#include "routing/LocalRouteList.h"
#include "tests/platform/TempFolder.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>
#include <windows.h>
#include <winsock2.h>

namespace brindlecove {
namespace {

using namespace std::chrono_literals;

// Two dial-up connections up, each on a network of its own adapter, and a LAN adapter whose
// default route the build replaces.
constexpr const char* Phonebook = "entry Home|PPPoE|WAN Miniport (PPPOE)|0860|011|27|alice\n"
                                  "entry Office|modem|Standard Modem|555|021|27|bob\n"
                                  "connection Home|0x101|10.1.0.7|10.1.0.1\n"
                                  "connection Office|0x102|10.2.0.9|10.2.0.1\n";
constexpr const char* Adapters =
    "adapter 2|Realtek PCIe GbE Family Controller|192.168.1.20|255.255.255.0|192.168.1.1\n"
    "adapter 7|WAN (PPP/SLIP) Interface|10.1.0.7|255.255.255.0|\n"
    "adapter 8|WAN (PPP/SLIP) Interface|10.2.0.9|255.255.255.0|\n";
// The table before the program runs: two default routes and the adapters' own networks.
const std::vector<std::string> OtherRows = {
    "route 10.1.0.0|255.255.255.0|10.1.0.7|7|3|2|20|0|0|0|4294967295|4294967295|4294967295|"
    "4294967295",
    "route 10.2.0.0|255.255.255.0|10.2.0.9|8|3|2|20|0|0|0|4294967295|4294967295|4294967295|"
    "4294967295",
    "route 192.168.1.0|255.255.255.0|192.168.1.20|2|3|2|20|0|0|0|4294967295|4294967295|"
    "4294967295|4294967295"};
const std::vector<std::string> OldDefaults = {
    "route 0.0.0.0|0.0.0.0|192.168.1.1|2|4|3|1|0|0|0|4294967295|4294967295|4294967295|4294967295",
    "route 0.0.0.0|0.0.0.0|10.2.0.1|8|4|2|30|0|0|0|4294967295|4294967295|4294967295|4294967295"};
// The persistent routes Windows keeps of the two old default routes, and one of another network.
const std::vector<std::string> OldDefaultValues = {"0.0.0.0,0.0.0.0,192.168.1.1,1",
                                                   "0.0.0.0,0.0.0.0,10.2.0.1,30"};
constexpr const char* OtherPersistentValue = "10.5.0.0,255.255.0.0,192.168.1.1,1";

std::string Dotted(ULONG address) {
    return std::to_string(address & 0xFF) + "." + std::to_string(address >> 8 & 0xFF) + "." +
           std::to_string(address >> 16 & 0xFF) + "." + std::to_string(address >> 24);
}

// A route the program creates, as the stand-in's table file shows all its fields.
std::string BuiltRow(const std::string& dest, const std::string& mask, const std::string& hop,
                     int ifIndex, int metric) {
    return "route " + dest + "|" + mask + "|" + hop + "|" + std::to_string(ifIndex) + "|3|3|" +
           std::to_string(metric) + "|0|0|0|4294967295|4294967295|4294967295|4294967295";
}

bool VistaOrLater() {
    ::OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ::GetVersionExA(&info);
#pragma GCC diagnostic pop
    return info.dwMajorVersion >= 6;
}

// A short route list for the tests that need no long one.
constexpr const char* ShortList = "196.4.160.0,255.255.255.0\r\n41.0.0.0,255.0.0.0\r\n"
                                  "165.165.0.0,255.255.0.0\r\n";

// The rows of a build: the two default routes and every network of the route list through the
// local connection (Home on interface 7, Office on 8).
std::set<std::string> BuiltRows(std::string_view list = BuiltInLocalRoutesText()) {
    const int add = VistaOrLater() ? 50 : 0;
    std::set<std::string> rows = {BuiltRow("0.0.0.0", "0.0.0.0", "10.1.0.1", 7, 2 + add),
                                  BuiltRow("0.0.0.0", "0.0.0.0", "10.2.0.1", 8, 1 + add)};
    for (const std::string& line : SplitLines(list)) {
        const TRouteLine route = ParseRouteLine(line, [](const std::string&) {});
        if (route.Kind == TRouteLineKind::Route) {
            rows.insert(BuiltRow(Dotted(::inet_addr(route.Network.c_str())),
                                 Dotted(::inet_addr(route.Mask.c_str())), "10.1.0.1", 7, 2 + add));
        }
    }
    return rows;
}

std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> lines;
    for (const std::string& line : SplitLines(text)) {
        lines.insert(line);
    }
    return lines;
}

// What differs between two sets of rows, the first few of each side.
std::string Difference(const std::set<std::string>& expected, const std::set<std::string>& found) {
    std::string text;
    const auto list = [&](const std::set<std::string>& a, const std::set<std::string>& b,
                          const char* what) {
        int shown = 0;
        for (const std::string& row : a) {
            if (!b.contains(row) && shown++ < 5) {
                text += std::string(what) + row + "\n";
            }
        }
    };
    list(expected, found, "missing: ");
    list(found, expected, "unexpected: ");
    return text;
}

struct TWindowSearch {
    ::DWORD Process;
    const char* ClassName;
    std::vector<HWND> Found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<TWindowSearch*>(data);
    ::DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    if (process == search.Process && lstrcmpiA(name, search.ClassName) == 0) {
        search.Found.push_back(window);
    }
    return TRUE;
}

// The text of another process's window, through the window itself.
std::string WindowText(HWND window) {
    DWORD_PTR length = 0;
    if (::SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length) ==
        0) {
        return {};
    }
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                          SMTO_ABORTIFHUNG, 5000, &copied);
    text.resize(copied);
    return text;
}

struct TChildSearch {
    const std::function<bool(HWND)>& Match;
    HWND Found;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM data) {
    auto& search = *reinterpret_cast<TChildSearch*>(data);
    search.Found = search.Match(child) ? child : nullptr;
    return search.Found == nullptr ? TRUE : FALSE;
}

// The first child window (at any depth) that `match` accepts.
HWND FindChild(HWND parent, const std::function<bool(HWND)>& match) {
    TChildSearch search{match, nullptr};
    ::EnumChildWindows(parent, &MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

class Win32Program : public ::testing::Test {
protected:
    TempFolder Folder;
    std::string Scenario = Folder / "iphlpapi.txt";
    std::string Table = Scenario + ".table";

    Win32Program() {
        const std::string built = TWin32System().ProgramFolder();
        for (const char* file : {"program\\brindlecove.exe", "program\\iphlpapi.dll",
                                 "rasstandin\\full\\rasapi32.dll"}) {
            const std::string name = std::string(file).substr(std::string(file).rfind('\\') + 1);
            EXPECT_TRUE(::CopyFileA((built + file).c_str(), (Folder / name).c_str(), FALSE))
                << file;
        }
        WriteFile(Folder / "phonebook.txt", Phonebook);
        WriteFile(Folder / SettingsFileName,
                  "[CONFIG]\r\nENABLED=1\r\nLOCALCONNECTION=Home\r\nINTCONNECTION=Office\r\n");
        ::SetEnvironmentVariableA("BRINDLECOVE_RAS_STANDIN", (Folder / "phonebook.txt").c_str());
        ::SetEnvironmentVariableA("BRINDLECOVE_IPHLPAPI_STANDIN", Scenario.c_str());
        for (const std::string& value : AllPersistentValues()) {
            SetPersistentRoute(value);
        }
    }

    ~Win32Program() override {
        if (Process) {
            ::TerminateProcess(Process.Get(), 0);
            ::WaitForSingleObject(Process.Get(), 10000);
        }
        TRegistryKey key;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, PersistentRoutesKey, 0, KEY_ALL_ACCESS,
                            key.Receive()) == ERROR_SUCCESS) {
            for (const std::string& value : AllPersistentValues()) {
                ::RegDeleteValueA(key.Get(), value.c_str());
            }
        }
    }

    static std::vector<std::string> AllPersistentValues() {
        std::vector<std::string> values = OldDefaultValues;
        values.emplace_back(OtherPersistentValue);
        return values;
    }

    static void SetPersistentRoute(const std::string& value) {
        TRegistryKey key;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, PersistentRoutesKey, 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr),
                  ERROR_SUCCESS);
        ::RegSetValueExA(key.Get(), value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1);
    }

    static bool PersistentRoute(const std::string& value) {
        TRegistryKey key;
        return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, PersistentRoutesKey, 0, KEY_READ,
                               key.Receive()) == ERROR_SUCCESS &&
               ::RegQueryValueExA(key.Get(), value.c_str(), nullptr, nullptr, nullptr, nullptr) ==
                   ERROR_SUCCESS;
    }

    // Writes the IP Helper scenario (the adapters, the old table and `extra`) and starts the
    // program; answers once its window is there.
    void Start(const std::string& extra = "") {
        std::string scenario = Adapters + extra;
        for (const auto* rows : {&OtherRows, &OldDefaults}) {
            for (const std::string& row : *rows) {
                scenario += row + "\n";
            }
        }
        WriteFile(Scenario, scenario);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        std::string commandLine = "\"" + (Folder / "brindlecove.exe") + "\"";
        ASSERT_TRUE(::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                                     nullptr, Folder.Path().string().c_str(), &startup, &info));
        Process.Reset(info.hProcess);
        TKernelHandle thread(info.hThread);
        ProcessId = info.dwProcessId;
        // The window is there once its log view is.
        ASSERT_TRUE(WaitUntil([&] {
            const std::vector<HWND> windows = Windows("TfrmBrindlecove");
            if (windows.empty()) {
                return false;
            }
            Main = windows.front();
            LogView = FindChild(Main, [](HWND child) {
                char name[64] = {};
                ::GetClassNameA(child, name, sizeof name);
                return lstrcmpiA(name, "Edit") == 0 &&
                       (::GetWindowLongA(child, GWL_STYLE) & ES_MULTILINE) != 0;
            });
            return LogView != nullptr;
        })) << "no main window";
    }

    std::vector<HWND> Windows(const char* className) const {
        TWindowSearch search{ProcessId, className, {}};
        ::EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
        return search.Found;
    }

    // Waits up to 30 s for `done`, while the program runs.
    bool WaitUntil(const std::function<bool()>& done) const {
        for (auto waited = 0ms; waited < 30s; waited += 50ms) {
            if (done()) {
                return true;
            }
            if (::WaitForSingleObject(Process.Get(), 0) == WAIT_OBJECT_0) {
                ADD_FAILURE() << "the program ended";
                return false;
            }
            std::this_thread::sleep_for(50ms);
        }
        return done();
    }

    std::string Log() const { return WindowText(LogView); }

    static std::size_t Count(const std::string& text, const std::string& part) {
        std::size_t count = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++count;
        }
        return count;
    }

    // Waits until the log tells of the `builds`th finished build.
    bool WaitForBuilds(std::size_t builds) const {
        return WaitUntil([&] { return Count(Log(), "Finished creating routing table") >= builds; });
    }

    std::set<std::string> TableRows() const { return Lines(ReadFile(Table)); }

    TKernelHandle Process;
    ::DWORD ProcessId = 0;
    HWND Main = nullptr;
    HWND LogView = nullptr;
};

TEST_F(Win32Program, BuildReplacesTheDefaultRoutesAddsTheListAndASecondBuildChangesNothing) {
    // Another program adds five routes between the build's size query and its reading of the table.
    ASSERT_NO_FATAL_FAILURE(Start("grow 5\n"));
    ASSERT_TRUE(WaitForBuilds(1)) << Log();
    ASSERT_TRUE(std::filesystem::exists(Table)) << "the stand-in iphlpapi.dll did not answer";
    std::set<std::string> expected = BuiltRows();
    expected.insert(OtherRows.begin(), OtherRows.end());
    for (int i = 0; i < 5; ++i) {
        expected.insert("route 10.99." + std::to_string(i) +
                        ".0|255.255.255.0|0.0.0.0|99|3|2|1|0|0|0|4294967295|4294967295|"
                        "4294967295|4294967295");
    }
    const std::set<std::string> built = TableRows();
    EXPECT_EQ(Difference(expected, built), "");
    EXPECT_EQ(Log().find("ERROR"), std::string::npos) << Log();
    for (const std::string& value : OldDefaultValues) {
        EXPECT_FALSE(PersistentRoute(value)) << value;
    }
    EXPECT_TRUE(PersistentRoute(OtherPersistentValue));

    // "Set up Routes Now": the same rows, and no line but the build's own two.
    const std::string before = Log();
    HWND button =
        FindChild(Main, [](HWND child) { return WindowText(child) == "Set up Routes Now"; });
    ASSERT_NE(button, nullptr);
    ::PostMessageA(::GetParent(button), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
    ASSERT_TRUE(WaitForBuilds(2)) << Log();
    std::this_thread::sleep_for(1500ms); // a supervision pass or more
    const std::string after = Log();
    ASSERT_EQ(after.rfind(before, 0), 0u) << after;
    const std::regex twoLines(R"(^[^\r\n]* Creating routing table\r\n)"
                              R"([^\r\n]* Finished creating routing table\r\n$)");
    EXPECT_TRUE(std::regex_match(after.substr(before.size()), twoLines)) << after;
    EXPECT_EQ(Difference(built, TableRows()), "");
}

TEST_F(Win32Program, RoutesRefusedWithAccessDeniedAreLoggedAndShowOneAdministratorBox) {
    WriteFile(Folder / "localroutes.dat", ShortList);
    ASSERT_NO_FATAL_FAILURE(Start("deny\n"));
    ASSERT_TRUE(WaitUntil([&] { return !Windows("#32770").empty(); })) << Log();
    std::this_thread::sleep_for(1500ms); // a supervision pass or more while the box is up
    const std::vector<HWND> boxes = Windows("#32770");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(WindowText(boxes[0]), "Warning");
    EXPECT_EQ(WindowText(::GetDlgItem(boxes[0], 0xFFFF))
                  .rfind("Brindlecove should be run as Administrator to function correctly on "
                         "Vista.\rPlease configure Brindlecove",
                         0),
              0u);

    const std::string log = Log();
    const std::string denied = "ERROR: Access denied. Run application as Administrator, ";
    EXPECT_EQ(Count(log, denied), BuiltRows(ShortList).size()) << log;
    EXPECT_NE(log.find(denied + "(0.0.0.0,0.0.0.0,10.1.0.1,2,7)\r\n"), std::string::npos);
    EXPECT_NE(log.find(denied + "(0.0.0.0,0.0.0.0,10.2.0.1,1,8)\r\n"), std::string::npos);
    EXPECT_EQ(Count(log, "Finished creating routing table"), 1u);
    // Nothing changed: the old table stands.
    std::set<std::string> old(OtherRows.begin(), OtherRows.end());
    old.insert(OldDefaults.begin(), OldDefaults.end());
    EXPECT_EQ(Difference(old, TableRows()), "");
}

TEST_F(Win32Program, RoutesOfTheLocalAdapterDroppedFromTheTableAreRebuilt) {
    WriteFile(Folder / "localroutes.dat", ShortList);
    // One network the system refuses with a code of its own, at every build.
    ASSERT_NO_FATAL_FAILURE(Start("fail 165.165.0.0|1231\n"));
    ASSERT_TRUE(WaitForBuilds(1)) << Log();
    const std::set<std::string> built = TableRows();
    // The local link flaps: the system drops every route through its interface.
    const auto local = [](const std::string& row) {
        return row.find("|7|3|") != std::string::npos;
    };
    const auto dropped = static_cast<std::size_t>(std::count_if(built.begin(), built.end(), local));
    std::ofstream(Scenario, std::ios::app) << "drop 7\n";
    ASSERT_TRUE(WaitForBuilds(2)) << Log();
    // The adapter's own network is the link's to bring back, not the program's.
    EXPECT_NE(Log().find("Routing table changed (" + std::to_string(dropped - 1) +
                         " routes missing), rebuilding"),
              std::string::npos)
        << Log();
    EXPECT_EQ(Count(Log(), ", (165.165.0.0,255.255.0.0,10.1.0.1,2,7) 1231\r\n"), 2u) << Log();
    std::set<std::string> expected = built;
    expected.erase(OtherRows[0]);
    EXPECT_EQ(Difference(expected, TableRows()), "");
}

} // namespace
} // namespace brindlecove
