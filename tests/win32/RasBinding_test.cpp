// The RAS binding on Windows: the real loader, a stand-in rasapi32.dll of the project's own, and
// the connection manager on top. Runs under Wine with native DLLs preferred for rasapi32.
#include "app/win32/Win32System.h"
#include "ras/RasBinding.h"
#include "ras/RasManager.h"
#include "ras/win32/Win32ModuleLoader.h"
#include "testing/VirtualClock.h"

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <string_view>
#include <windows.h>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

class Win32RasBinding : public ::testing::Test {
protected:
    std::string ScenarioPath;

    Win32RasBinding() {
        ScenarioPath = (fs::temp_directory_path() /
                        ("ras-standin-" + std::to_string(std::random_device()()) + ".txt"))
                           .string();
        ::SetEnvironmentVariableA("BRINDLECOVE_RAS_STANDIN", ScenarioPath.c_str());
    }
    ~Win32RasBinding() override {
        std::error_code ignored;
        fs::remove(ScenarioPath, ignored);
        ::SetDllDirectoryA(nullptr);
    }

    // Makes LoadLibraryA("rasapi32.dll") find the stand-in of that folder (none beside the
    // program).
    static void UseStandIn(const char* variant) {
        const std::string folder = TWin32System().ProgramFolder() + "rasstandin\\" + variant;
        ASSERT_TRUE(::SetDllDirectoryA(folder.c_str()));
    }

    void WriteScenario(const std::string& text) {
        std::ofstream(ScenarioPath, std::ios::trunc) << text;
    }
    std::string ReadScenario() const {
        std::ifstream in(ScenarioPath);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    TWin32ModuleLoader Loader;
    testing::TVirtualClock Clock;
};

TEST_F(Win32RasBinding, LoadsTheStandInWithErrorBoxesSuppressedAndRestoresTheMode) {
    UseStandIn("full");
    ::SetErrorMode(SEM_NOGPFAULTERRORBOX);
    {
        TRasBinding binding(Loader);
        ASSERT_TRUE(binding.Available());
        EXPECT_EQ(::GetErrorMode(), static_cast<UINT>(SEM_NOGPFAULTERRORBOX));

        HMODULE library = ::GetModuleHandleA("rasapi32.dll");
        ASSERT_NE(library, nullptr);
        const auto errorModeAtLoad = reinterpret_cast<UINT(WINAPI*)()>(
            reinterpret_cast<void*>(::GetProcAddress(library, "StandInErrorModeAtLoad")));
        ASSERT_NE(errorModeAtLoad, nullptr) << "the system's rasapi32 was loaded, not the stand-in";
        EXPECT_EQ(errorModeAtLoad(), 0x8001u);

        // Every RAS function the library exports is resolved to its export; the others are null.
        int exported = 0;
        for (const std::string_view function : RasFunctionNames) {
            for (const char suffix : {'A', 'W'}) {
                const std::string name = std::string(function) + suffix;
                const auto address =
                    reinterpret_cast<TProc>(::GetProcAddress(library, name.c_str()));
                EXPECT_EQ(binding.Resolved(name), address) << name;
                exported += address != nullptr ? 1 : 0;
            }
        }
        EXPECT_GT(exported, 8) << "the stand-in's eight functions and RasDialW";
    }
    EXPECT_EQ(::GetModuleHandleA("rasapi32.dll"), nullptr) << "released at the end";
}

TEST_F(Win32RasBinding, TheManagerWorksThroughTheStandIn) {
    UseStandIn("full");
    WriteScenario("entry Local|PPPoE|WAN Miniport (PPPOE)|0860|011|27|alice\n"
                  "entry International|modem|Standard Modem|555|021|27|bob\n"
                  "connection Local|0x51|196.4.160.7|196.4.160.1\n"
                  "dial International|0|0x77\n"
                  "error 691|Access denied by the stand-in.\n");
    TRasBinding binding(Loader);
    TRasManager manager(binding, Clock, Clock);

    ASSERT_EQ(manager.EntryCount(), 2);
    EXPECT_EQ(manager.EntryName(1), "International");
    EXPECT_EQ(manager.Entries().Items(1).DeviceName, "Standard Modem");
    EXPECT_EQ(manager.Entries().Items(0).AreaCode, "011");
    EXPECT_EQ(manager.Entries().Items(0).CountryCode, 27);
    EXPECT_TRUE(manager.IsConnected(0));
    EXPECT_EQ(manager.Entries().Items(0).Handle, 0x51u);
    EXPECT_EQ(manager.LocalAddress(0), "196.4.160.7");
    EXPECT_EQ(manager.ServerAddress(0), "196.4.160.1");

    std::vector<std::string> events;
    manager.OnConnect = [&](TRasManager&, TRasEntry& e) { events.push_back("connect " + e.Name); };
    manager.OnDisconnect = [&](TRasManager&, TRasEntry& e) { events.push_back("drop " + e.Name); };
    EXPECT_EQ(manager.Dial(1), 0);
    EXPECT_EQ(manager.Entries().Items(1).Handle, 0x77u);
    manager.StartMonitoring();
    Clock.Advance(1000);
    EXPECT_EQ(manager.LocalAddress(1), "41.0.0.7");

    manager.HangUp(0);
    EXPECT_EQ(ReadScenario().find("connection Local"), std::string::npos);
    Clock.Advance(1000);
    EXPECT_THAT(events, ElementsAre("connect International", "connect Local",
                                    "connect International", "drop Local"));

    char text[256] = {};
    EXPECT_EQ(binding.RasGetErrorString(691, text, sizeof text), 0u);
    EXPECT_STREQ(text, "Access denied by the stand-in.");
}

TEST_F(Win32RasBinding, AFunctionMissingFromTheLibraryAnswersMinusOne) {
    UseStandIn("partial");
    WriteScenario("entry Local|PPPoE|x|1|2|27|u\nconnection Local|0x51|10.0.0.2|10.0.0.1\n");
    TRasBinding binding(Loader);
    ASSERT_TRUE(binding.Available());
    RASPPPIP ip{};
    ip.dwSize = sizeof ip;
    DWORD bytes = sizeof ip;
    EXPECT_EQ(binding.Resolved("RasGetProjectionInfoA"), nullptr);
    EXPECT_EQ(binding.RasGetProjectionInfo(0x51, RASP_PppIp, &ip, &bytes), RasUnavailable);

    TRasManager manager(binding, Clock, Clock);
    EXPECT_TRUE(manager.IsConnected(0)) << "RasEnumConnections still works";
    EXPECT_EQ(manager.LocalAddress(0), "0.0.0.0");
}

TEST_F(Win32RasBinding, WithoutTheLibraryEveryRoutineAnswersMinusOne) {
    UseStandIn("none");
    ::SetErrorMode(SEM_NOGPFAULTERRORBOX);
    TRasBinding binding(Loader);
    EXPECT_FALSE(binding.Available());
    EXPECT_EQ(::GetErrorMode(), static_cast<UINT>(SEM_NOGPFAULTERRORBOX));
    char text[256];
    HRASCONN conn = 0;
    EXPECT_EQ(binding.RasGetErrorString(691, text, sizeof text), RasUnavailable);
    EXPECT_EQ(binding.RasHangUp(1), RasUnavailable);
    EXPECT_EQ(binding.RasDial(nullptr, nullptr, nullptr, 0, nullptr, &conn), RasUnavailable);

    TRasManager manager(binding, Clock, Clock);
    EXPECT_EQ(manager.EntryCount(), 0);
}

} // namespace
} // namespace brindlecove
