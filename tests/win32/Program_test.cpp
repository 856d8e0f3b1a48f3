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
#include "routing/IPv4Text.h"
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
#include <tuple>
#include <vector>

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

// A route as the stand-in's table file shows all its fields; by default one the program creates.
std::string Row(const std::string& dest, const std::string& mask, const std::string& hop,
                int ifIndex, int metric, int type = 3, int proto = 3) {
    return "route " + dest + "|" + mask + "|" + hop + "|" + std::to_string(ifIndex) + "|" +
           std::to_string(type) + "|" + std::to_string(proto) + "|" + std::to_string(metric) +
           "|0|0|0|4294967295|4294967295|4294967295|4294967295";
}

// The table before the program runs: the adapters' own networks, then two default routes.
const std::vector<std::string> OldRows = {
    Row("10.1.0.0", "255.255.255.0", "10.1.0.7", 7, 20, 3, 2),
    Row("10.2.0.0", "255.255.255.0", "10.2.0.9", 8, 20, 3, 2),
    Row("192.168.1.0", "255.255.255.0", "192.168.1.20", 2, 20, 3, 2),
    Row("0.0.0.0", "0.0.0.0", "192.168.1.1", 2, 1, 4, 3),
    Row("0.0.0.0", "0.0.0.0", "10.2.0.1", 8, 30, 4, 2)};
// The persistent routes Windows keeps: of the two old default routes, then of another network.
const std::vector<std::string> PersistentValues = {"0.0.0.0,0.0.0.0,192.168.1.1,1",
                                                   "0.0.0.0,0.0.0.0,10.2.0.1,30",
                                                   "10.5.0.0,255.255.0.0,192.168.1.1,1"};

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
    std::set<std::string> rows = {Row("0.0.0.0", "0.0.0.0", "10.1.0.1", 7, 2 + add),
                                  Row("0.0.0.0", "0.0.0.0", "10.2.0.1", 8, 1 + add)};
    for (const std::string& line : SplitLines(list)) {
        const TRouteLine route = ParseRouteLine(line, [](const std::string&) {});
        if (route.Kind == TRouteLineKind::Route) {
            rows.insert(Row(IntToIP(::inet_addr(route.Network.c_str())),
                            IntToIP(::inet_addr(route.Mask.c_str())), "10.1.0.1", 7, 2 + add));
        }
    }
    return rows;
}

// What differs between two sets of rows, the first few of each side.
std::string Difference(const std::set<std::string>& expected, const std::set<std::string>& found) {
    std::string text;
    for (const auto& [from, other, what] : {std::tuple(&expected, &found, "missing: "),
                                            std::tuple(&found, &expected, "unexpected: ")}) {
        int shown = 0;
        for (const std::string& row : *from) {
            if (!other->contains(row) && shown++ < 5) {
                text += what + row + "\n";
            }
        }
    }
    return text;
}

// The first window under `parent`, at any depth, of a class (and a text, unless nullptr).
HWND FindChild(HWND parent, const char* className, const char* text = nullptr) {
    HWND found = ::FindWindowExA(parent, nullptr, className, text);
    for (HWND child = nullptr; found == nullptr && (child = ::FindWindowExA(parent, child, nullptr,
                                                                            nullptr)) != nullptr;) {
        found = FindChild(child, className, text);
    }
    return found;
}

// The text of another process's window, through the window itself.
std::string WindowText(HWND window) {
    DWORD_PTR length = 0;
    ::SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length);
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                          SMTO_ABORTIFHUNG, 5000, &copied);
    text.resize(copied);
    return text;
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
        for (const std::string& value : PersistentValues) {
            EXPECT_EQ(::RegSetKeyValueA(HKEY_LOCAL_MACHINE, PersistentRoutesKey, value.c_str(),
                                        REG_SZ, "", 1),
                      ERROR_SUCCESS);
        }
    }

    ~Win32Program() override {
        if (Process) {
            ::TerminateProcess(Process.Get(), 0);
            ::WaitForSingleObject(Process.Get(), 10000);
        }
        for (const std::string& value : PersistentValues) {
            ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, PersistentRoutesKey, value.c_str());
        }
    }

    static bool PersistentRoute(const std::string& value) {
        return ::RegGetValueA(HKEY_LOCAL_MACHINE, PersistentRoutesKey, value.c_str(), RRF_RT_ANY,
                              nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }

    // Writes the IP Helper scenario (the adapters, the old table and `extra`) and starts the
    // program; answers once its window is there.
    void Start(const std::string& extra) {
        std::string scenario = Adapters + extra;
        for (const std::string& row : OldRows) {
            scenario += row + "\n";
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
            Main = windows.empty() ? nullptr : windows.front();
            LogView = Main != nullptr ? FindChild(Main, "Edit") : nullptr; // the form's only edit
            return LogView != nullptr;
        })) << "no main window";
    }

    // The program's top-level windows of a class.
    std::vector<HWND> Windows(const char* className) const {
        std::vector<HWND> found;
        for (HWND window = nullptr;
             (window = ::FindWindowExA(nullptr, window, className, nullptr)) != nullptr;) {
            ::DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            if (process == ProcessId) {
                found.push_back(window);
            }
        }
        return found;
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

    std::set<std::string> TableRows() const {
        const std::vector<std::string> lines = SplitLines(ReadFile(Table));
        return {lines.begin(), lines.end()};
    }

    TKernelHandle Process;
    ::DWORD ProcessId = 0;
    HWND Main = nullptr;
    HWND LogView = nullptr;
};

TEST_F(Win32Program, BuildReplacesTheDefaultRoutesAddsTheListAndRebuildsWhatTheLinkDropped) {
    // Another program adds five routes between the build's size query and its reading of the
    // table; the system refuses one network with a code of its own, at every build.
    ASSERT_NO_FATAL_FAILURE(Start("grow 5\nfail 196.4.160.0|1231\n"));
    ASSERT_TRUE(WaitForBuilds(1)) << Log();
    ASSERT_TRUE(std::filesystem::exists(Table)) << "the stand-in iphlpapi.dll did not answer";
    std::set<std::string> expected = BuiltRows();
    std::erase_if(expected,
                  [](const std::string& row) { return row.starts_with("route 196.4.160.0|"); });
    expected.insert(OldRows.begin(), OldRows.begin() + 3); // the default routes replaced
    for (int i = 0; i < 5; ++i) {
        expected.insert(
            Row("10.99." + std::to_string(i) + ".0", "255.255.255.0", "0.0.0.0", 99, 1, 3, 2));
    }
    const std::set<std::string> built = TableRows();
    EXPECT_EQ(Difference(expected, built), "");
    const std::string refused = ", (196.4.160.0,255.255.254.0,10.1.0.1,2,7) 1231\r\n";
    EXPECT_EQ(Count(Log(), "ERROR"), 1u) << Log();
    EXPECT_EQ(Count(Log(), refused), 1u) << Log();
    EXPECT_FALSE(PersistentRoute(PersistentValues[0]));
    EXPECT_FALSE(PersistentRoute(PersistentValues[1]));
    EXPECT_TRUE(PersistentRoute(PersistentValues[2])) << "not a default route";

    // "Set up Routes Now": the same rows, and no line but the build's own.
    const std::string before = Log();
    HWND button = FindChild(Main, "Button", "Set up Routes Now");
    ASSERT_NE(button, nullptr);
    ::PostMessageA(::GetParent(button), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
    ASSERT_TRUE(WaitForBuilds(2)) << Log();
    std::this_thread::sleep_for(1500ms); // a supervision pass or more
    const std::string after = Log();
    ASSERT_EQ(after.rfind(before, 0), 0u) << after;
    const std::regex buildLines(R"(^[^\r\n]* Creating routing table\r\n)"
                                R"([^\r\n]*\(196\.4\.160\.0,[^\r\n]* 1231\r\n)"
                                R"([^\r\n]* Finished creating routing table\r\n$)");
    EXPECT_TRUE(std::regex_match(after.substr(before.size()), buildLines)) << after;
    EXPECT_EQ(Difference(built, TableRows()), "");

    // The local link flaps: the system drops every route through its interface.
    const auto local = std::ranges::count_if(
        built, [](const std::string& row) { return row.find("|7|3|") != std::string::npos; });
    std::ofstream(Scenario, std::ios::app) << "drop 7\n";
    ASSERT_TRUE(WaitForBuilds(3)) << Log();
    // The adapter's own network is the link's to bring back, not the program's.
    EXPECT_NE(Log().find("Routing table changed (" + std::to_string(local - 1) +
                         " routes missing), rebuilding"),
              std::string::npos)
        << Log();
    EXPECT_EQ(Count(Log(), refused), 3u) << Log();
    expected = built;
    expected.erase(OldRows[0]);
    EXPECT_EQ(Difference(expected, TableRows()), "");
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
    EXPECT_EQ(Difference({OldRows.begin(), OldRows.end()}, TableRows()), "") << "nothing changed";
}

} // namespace
} // namespace brindlecove
