// The RAS binding's loading, resolution and forwarding, with a library of the test's own.
#include "ras/RasBinding.h"
#include "testing/FakeModuleLoader.h"

#include <algorithm>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brindlecove {
namespace {

using ::testing::ElementsAre;
using testing::TFakeModuleLoader;

// What the functions of the test's "library" were called with.
struct TLibraryLog {
    std::vector<std::string> Calls;
    HRASCONN HungUp = 0;
    const RASDIALPARAMSA* DialParams = nullptr;
};
TLibraryLog Library;

DWORD BRINDLECOVE_WINAPI EnumEntriesA(LPCSTR, LPCSTR, RASENTRYNAMEA* entries, DWORD*, DWORD* n) {
    Library.Calls.emplace_back("RasEnumEntriesA");
    std::strcpy(entries[0].szEntryName, "Local");
    *n = 1;
    return 0;
}
DWORD BRINDLECOVE_WINAPI EnumConnectionsA(RASCONNA*, DWORD*, DWORD* n) {
    Library.Calls.emplace_back("RasEnumConnectionsA");
    *n = 0;
    return 0;
}
DWORD BRINDLECOVE_WINAPI GetProjectionInfoA(HRASCONN, RASPROJECTION p, void*, DWORD*) {
    Library.Calls.push_back("RasGetProjectionInfoA " + std::to_string(p));
    return 0;
}
DWORD BRINDLECOVE_WINAPI GetEntryPropertiesA(LPCSTR, LPCSTR entry, RASENTRYA*, DWORD* size, BYTE*,
                                             DWORD*) {
    Library.Calls.push_back(std::string("RasGetEntryPropertiesA ") + entry);
    *size = 1796;
    return 603;
}
DWORD BRINDLECOVE_WINAPI GetEntryDialParamsA(LPCSTR, RASDIALPARAMSA*, BOOL*) {
    Library.Calls.emplace_back("RasGetEntryDialParamsA");
    return 0;
}
DWORD BRINDLECOVE_WINAPI DialA(RASDIALEXTENSIONS*, LPCSTR, RASDIALPARAMSA* params, DWORD, void*,
                               HRASCONN* conn) {
    Library.Calls.emplace_back("RasDialA");
    Library.DialParams = params;
    *conn = 0x4242;
    return 691;
}
DWORD BRINDLECOVE_WINAPI HangUpA(HRASCONN conn) {
    Library.Calls.emplace_back("RasHangUpA");
    Library.HungUp = conn;
    return 0;
}
DWORD BRINDLECOVE_WINAPI GetErrorStringA(UINT error, LPSTR buffer, DWORD size) {
    Library.Calls.push_back("RasGetErrorStringA " + std::to_string(error) + " " +
                            std::to_string(size));
    std::strcpy(buffer, "text");
    return 0;
}
DWORD BRINDLECOVE_WINAPI AnyWide() {
    Library.Calls.emplace_back("a wide variant");
    return 0;
}

template <typename TFunction>
TProc AsProc(TFunction function) {
    return reinterpret_cast<TProc>(function);
}

class RasBinding : public ::testing::Test {
protected:
    TFakeModuleLoader Loader;

    RasBinding() {
        Library = {};
        Loader.ErrorMode = 0x0004; // whatever the process had before
        Loader.Exports = {
            {"RasEnumEntriesA", AsProc(EnumEntriesA)},
            {"RasEnumConnectionsA", AsProc(EnumConnectionsA)},
            {"RasGetProjectionInfoA", AsProc(GetProjectionInfoA)},
            {"RasGetEntryPropertiesA", AsProc(GetEntryPropertiesA)},
            {"RasGetEntryDialParamsA", AsProc(GetEntryDialParamsA)},
            {"RasDialA", AsProc(DialA)},
            {"RasHangUpA", AsProc(HangUpA)},
            {"RasGetErrorStringA", AsProc(GetErrorStringA)},
        };
        for (const char* wide : {"RasEnumEntriesW", "RasEnumConnectionsW", "RasDialW", "RasHangUpW",
                                 "RasGetErrorStringW", "RasGetProjectionInfoW"}) {
            Loader.Exports[wide] = AsProc(AnyWide);
        }
    }

    // Every forwarding routine once, with recognisable arguments; their answers in order.
    static std::vector<DWORD> CallAll(IRasPort& ras) {
        RASENTRYNAMEA names[1] = {};
        RASCONNA connections[1] = {};
        RASPPPIP ip{};
        RASDIALPARAMSA params{};
        DWORD bytes = 0;
        DWORD count = 0;
        DWORD other = 0;
        BOOL password = 0;
        HRASCONN conn = 0;
        char text[256];
        return {ras.RasEnumEntries(nullptr, nullptr, names, &bytes, &count),
                ras.RasEnumConnections(connections, &bytes, &count),
                ras.RasGetProjectionInfo(7, RASP_PppIp, &ip, &bytes),
                ras.RasGetEntryProperties(nullptr, "Local", nullptr, &bytes, nullptr, &other),
                ras.RasGetEntryDialParams(nullptr, &params, &password),
                ras.RasDial(nullptr, nullptr, &params, 0, nullptr, &conn),
                ras.RasHangUp(0x99),
                ras.RasGetErrorString(691, text, sizeof text)};
    }
};

TEST_F(RasBinding, LoadsTheLibraryWithErrorBoxesSuppressedAndRestoresTheMode) {
    TRasBinding binding(Loader);
    EXPECT_TRUE(binding.Available());
    EXPECT_EQ(Loader.ErrorModeDuringLoad, 0x8001u);
    EXPECT_EQ(Loader.ErrorMode, 0x0004u);
    EXPECT_THAT(Loader.Calls,
                ElementsAre("SetErrorMode 32769", "LoadLibraryA rasapi32.dll", "SetErrorMode 4"));
}

TEST_F(RasBinding, ResolvesEveryRasFunctionOfTheLibraryAndReportsTheMissingOnesAsNull) {
    Loader.Exports["NotRasA"] = AsProc(AnyWide); // exported, but not a RAS function
    TRasBinding binding(Loader);
    for (const auto& [name, address] : Loader.Exports) {
        EXPECT_EQ(binding.Resolved(name), name == "NotRasA" ? nullptr : address) << name;
    }
    // Each name asked once, the ANSI variant right before the wide one; every asked name the
    // library lacks resolves to null.
    ASSERT_EQ(Loader.Resolved.size(), 2 * RasFunctionNames.size());
    for (std::size_t i = 0; i < Loader.Resolved.size(); i += 2) {
        const std::string& ansi = Loader.Resolved[i];
        const std::string& wide = Loader.Resolved[i + 1];
        EXPECT_EQ(ansi.back(), 'A') << ansi;
        EXPECT_EQ(wide, ansi.substr(0, ansi.size() - 1) + "W");
        EXPECT_EQ(std::count(Loader.Resolved.begin(), Loader.Resolved.end(), ansi), 1) << ansi;
        for (const std::string& name : {ansi, wide}) {
            if (!Loader.Exports.contains(name)) {
                EXPECT_EQ(binding.Resolved(name), nullptr) << name;
            }
        }
    }
    EXPECT_EQ(binding.Resolved("RasRenameEntryA"), nullptr) << "asked, not exported";
    EXPECT_EQ(binding.Resolved("RasDial"), nullptr) << "no suffix";
}

TEST_F(RasBinding, ForwardsEveryArgumentToTheAnsiVariantOnly) {
    TRasBinding binding(Loader);
    EXPECT_THAT(CallAll(binding), ElementsAre(0u, 0u, 0u, 603u, 0u, 691u, 0u, 0u));
    EXPECT_THAT(Library.Calls,
                ElementsAre("RasEnumEntriesA", "RasEnumConnectionsA", "RasGetProjectionInfoA 32801",
                            "RasGetEntryPropertiesA Local", "RasGetEntryDialParamsA", "RasDialA",
                            "RasHangUpA", "RasGetErrorStringA 691 256"));
    EXPECT_EQ(Library.HungUp, 0x99u);
    EXPECT_NE(Library.DialParams, nullptr);
}

TEST_F(RasBinding, AMissingFunctionAnswersMinusOneAndTheOthersWork) {
    Loader.Exports.erase("RasGetProjectionInfoA");
    TRasBinding binding(Loader);
    const std::vector<DWORD> results = CallAll(binding);
    EXPECT_EQ(results[2], RasUnavailable);
    EXPECT_EQ(results[1], 0u) << "RasEnumConnections still works";
    EXPECT_EQ(Library.Calls.size(), 7u);
    EXPECT_THAT(Library.Calls, ::testing::Not(::testing::Contains("a wide variant")));
}

TEST_F(RasBinding, WithoutTheLibraryEveryRoutineAnswersMinusOne) {
    for (const bool throws : {false, true}) {
        Loader.Calls.clear();
        Loader.LibraryPresent = false;
        Loader.ThrowOnLoad = throws;
        {
            TRasBinding binding(Loader);
            EXPECT_FALSE(binding.Available());
            EXPECT_EQ(Loader.ErrorMode, 0x0004u) << "restored also when the load fails";
            for (DWORD result : CallAll(binding)) {
                EXPECT_EQ(result, RasUnavailable);
            }
        }
        EXPECT_TRUE(Loader.Resolved.empty());
        EXPECT_TRUE(Library.Calls.empty());
        EXPECT_THAT(Loader.Calls, ElementsAre("SetErrorMode 32769", "LoadLibraryA rasapi32.dll",
                                              "SetErrorMode 4"))
            << "nothing to free, no retry";
    }
}

TEST_F(RasBinding, ReleasesTheLibraryOnceAtTheEnd) {
    {
        TRasBinding binding(Loader);
        CallAll(binding);
        EXPECT_EQ(std::count(Loader.Calls.begin(), Loader.Calls.end(), "FreeLibrary"), 0);
    }
    EXPECT_EQ(Loader.Calls.back(), "FreeLibrary");
    EXPECT_EQ(std::count(Loader.Calls.begin(), Loader.Calls.end(), "FreeLibrary"), 1);
}

} // namespace
} // namespace brindlecove
