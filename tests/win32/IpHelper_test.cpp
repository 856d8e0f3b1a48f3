// The IP Helper and registry ports on Windows, against the system itself (Wine in the test runs:
// its adapters and routes are the Linux host's, and it answers route changes without making
// them, so nothing here expects a route to change).
#include "app/brindlecove1.h"
#include "common/win32/Handles.h"
#include "routing/win32/Win32IpHelper.h"
#include "testing/FakeIpHelper.h"
#include "testing/FakeRas.h"
#include "testing/HeadlessWindow.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>
#include <windows.h>

namespace brindlecove {
namespace {

// An address as inet_addr answers it: the first octet in the lowest byte.
constexpr ULONG Octets(ULONG a, ULONG b, ULONG c, ULONG d) {
    return a | (b << 8) | (c << 16) | (d << 24);
}

// The adapter list read size-then-fetch, as the program reads it.
struct TAdapters {
    DWORD SizeResult = 0;
    ULONG Size = 0;
    DWORD FetchResult = 0;
    std::vector<IP_ADAPTER_INFO> Buffer;

    explicit TAdapters(IIpHelperPort& ip) {
        SizeResult = ip.GetAdaptersInfo(nullptr, &Size);
        if (SizeResult != winerror::BufferOverflow) {
            return;
        }
        Buffer.resize((Size + sizeof(IP_ADAPTER_INFO) - 1) / sizeof(IP_ADAPTER_INFO));
        FetchResult = ip.GetAdaptersInfo(Buffer.data(), &Size);
    }
    std::vector<const IP_ADAPTER_INFO*> List() const {
        std::vector<const IP_ADAPTER_INFO*> list;
        if (FetchResult == winerror::Success && !Buffer.empty()) {
            for (const IP_ADAPTER_INFO* a = Buffer.data(); a != nullptr && list.size() < 1000;
                 a = a->Next) {
                list.push_back(a);
            }
        }
        return list;
    }
};

std::string Text(const char* field, std::size_t size) {
    return std::string(field, std::find(field, field + size, '\0'));
}

bool InBuffer(const void* p, const std::vector<IP_ADAPTER_INFO>& buffer) {
    const auto* begin = reinterpret_cast<const char*>(buffer.data());
    const auto* end = begin + buffer.size() * sizeof(IP_ADAPTER_INFO);
    const auto* at = static_cast<const char*>(p);
    return at >= begin && at < end;
}

class Win32IpHelper : public ::testing::Test {
protected:
    TWin32IpHelper Ip;
};

TEST_F(Win32IpHelper, AdaptersAreReadSizeThenFetchAndWalkedThroughNext) {
    const TAdapters adapters(Ip);
    if (adapters.SizeResult == winerror::NoData) {
        GTEST_SKIP() << "the host shows no network adapter to this system";
    }
    ASSERT_EQ(adapters.SizeResult, winerror::BufferOverflow);
    ASSERT_GE(adapters.Size, sizeof(IP_ADAPTER_INFO));
    ASSERT_EQ(adapters.FetchResult, winerror::Success);
    // Too small a buffer answers the overflow and the size needed.
    ULONG size = 16; // less than one adapter
    std::vector<IP_ADAPTER_INFO> small(1);
    EXPECT_EQ(Ip.GetAdaptersInfo(small.data(), &size), winerror::BufferOverflow);
    EXPECT_EQ(size, adapters.Size);

    const std::vector<const IP_ADAPTER_INFO*> list = adapters.List();
    ASSERT_FALSE(list.empty());
    ASSERT_LT(list.size(), 1000u) << "the Next chain does not end";
    for (const IP_ADAPTER_INFO* a : list) {
        // Every link lies in the caller's buffer, and the fields are where the program reads them.
        EXPECT_TRUE(InBuffer(a, adapters.Buffer));
        const std::string description = Text(a->Description, sizeof a->Description);
        EXPECT_FALSE(description.empty());
        EXPECT_NE(a->Index, 0u) << description;
        const std::string address =
            Text(a->IpAddressList.IpAddress.String, sizeof a->IpAddressList.IpAddress.String);
        EXPECT_NE(Ip.inet_addr(address.c_str()), InaddrNone)
            << description << " has the address '" << address << "'";
        const std::string gateway =
            Text(a->GatewayList.IpAddress.String, sizeof a->GatewayList.IpAddress.String);
        EXPECT_NE(Ip.inet_addr(gateway.c_str()), InaddrNone)
            << description << " has the gateway '" << gateway << "'";
    }
}

TEST_F(Win32IpHelper, TheRouteTableIsReadSizeThenFetch) {
    ULONG size = 0;
    const DWORD sizeResult = Ip.GetIpForwardTable(nullptr, &size, 1);
    if (sizeResult == winerror::NoData) {
        GTEST_SKIP() << "the host shows no IPv4 route to this system";
    }
    ASSERT_EQ(sizeResult, winerror::InsufficientBuffer);
    ASSERT_GE(size, offsetof(MIB_IPFORWARDTABLE, table) + sizeof(MIB_IPFORWARDROW));
    // Too small a buffer answers the shortage and the size needed.
    std::vector<MIB_IPFORWARDROW> small(1);
    ULONG smallSize = sizeof(DWORD); // room for the count, none for a row
    EXPECT_EQ(
        Ip.GetIpForwardTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(small.data()), &smallSize, 1),
        winerror::InsufficientBuffer);
    EXPECT_EQ(smallSize, size);

    // Rows of slack, in case a route appears between the two calls.
    std::vector<MIB_IPFORWARDROW> buffer(size / sizeof(MIB_IPFORWARDROW) + 4);
    ULONG fetched = static_cast<ULONG>(buffer.size() * sizeof(MIB_IPFORWARDROW));
    ASSERT_EQ(
        Ip.GetIpForwardTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(buffer.data()), &fetched, 1),
        winerror::Success);
    const auto* table = reinterpret_cast<const MIB_IPFORWARDTABLE*>(buffer.data());
    ASSERT_GE(table->dwNumEntries, 1u);
    EXPECT_LE(offsetof(MIB_IPFORWARDTABLE, table) + table->dwNumEntries * sizeof(MIB_IPFORWARDROW),
              buffer.size() * sizeof(MIB_IPFORWARDROW));
    EXPECT_LE(offsetof(MIB_IPFORWARDTABLE, table) + table->dwNumEntries * sizeof(MIB_IPFORWARDROW),
              size + 4 * sizeof(MIB_IPFORWARDROW))
        << "more rows than the size query allowed for";

    for (DWORD r = 0; r < table->dwNumEntries; ++r) {
        const MIB_IPFORWARDROW& row = table->table[r];
        // A read at the wrong offsets would show as masks that are no masks and destinations
        // with host bits.
        const DWORD hostBits = ~::ntohl(row.dwForwardMask); // 0...01...1 for a real mask
        EXPECT_EQ(hostBits & (hostBits + 1), 0u)
            << "row " << r << ": mask " << std::hex << ::ntohl(row.dwForwardMask);
        EXPECT_EQ(row.dwForwardDest & ~row.dwForwardMask, 0u) << "row " << r;
        EXPECT_NE(row.dwForwardIfIndex, 0u) << "row " << r;
    }
}

TEST_F(Win32IpHelper, BestInterfaceAnswersAnIndexOfAListedAdapter) {
    const TAdapters adapters(Ip);
    const std::vector<const IP_ADAPTER_INFO*> list = adapters.List();
    if (list.empty()) {
        GTEST_SKIP() << "the host shows no network adapter to this system";
    }
    DWORD best = 0xFFFFFFFFu;
    const DWORD result = Ip.GetBestInterface(Octets(192, 0, 2, 77), &best);
    if (result != winerror::Success) {
        GTEST_SKIP() << "no route to a test address here (" << result << ")";
    }
    EXPECT_TRUE(std::any_of(list.begin(), list.end(),
                            [&](const IP_ADAPTER_INFO* a) { return a->Index == best; }))
        << "interface " << best;
}

TEST_F(Win32IpHelper, InetAddrReadsTheShortAndHexadecimalFormsAsTheTestDoublesDo) {
    // No WSAStartup anywhere in this program: inet_addr works without it.
    EXPECT_EQ(Ip.inet_addr("192.168.1.1"), Octets(192, 168, 1, 1));
    EXPECT_EQ(Ip.inet_addr("106.152.0"), Octets(106, 152, 0, 0));
    EXPECT_EQ(Ip.inet_addr("10"), Octets(0, 0, 0, 10));
    EXPECT_EQ(Ip.inet_addr("0x0A.1.2.3"), Octets(10, 1, 2, 3));
    EXPECT_EQ(Ip.inet_addr("196.4.300"), Octets(196, 4, 1, 44)) << "the last part fills two bytes";
    EXPECT_EQ(Ip.inet_addr("255.255.255.255"), InaddrNone);
    EXPECT_EQ(Ip.inet_addr("0.0.0.0"), 0u);
    EXPECT_EQ(Ip.inet_addr("garbage"), InaddrNone);
    EXPECT_EQ(Ip.inet_addr("1.2.3.256"), InaddrNone);
    EXPECT_EQ(Ip.inet_addr("1.2.3.4.5"), InaddrNone);
    EXPECT_EQ(Ip.inet_addr(nullptr), InaddrNone);
    for (const char* text : {"192.168.1.1", "106.152.0", "10", "0x0A.1.2.3", "010.0.0.1",
                             "196.4.300", "1.2.65535", "1.16777215", "4294967295", "1.2.3.256",
                             "1.2.65536", "1..2.3", "1.2.3.", "garbage", "-1", "0x", "1.2.3.4.5"}) {
        EXPECT_EQ(testing::ParseInetAddr(text), Ip.inet_addr(text)) << "'" << text << "'";
    }
}

TEST_F(Win32IpHelper, GetVersionExFillsTheMajorVersionOrRefusesAnUnknownSizeWithLastError) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = 148;
    ASSERT_TRUE(Ip.GetVersionExA(&info));
    EXPECT_GE(info.dwMajorVersion, 5u);
    EXPECT_NE(info.dwPlatformId, 0u);

    info = {};
    info.dwOSVersionInfoSize = 100;
    ::SetLastError(0);
    EXPECT_FALSE(Ip.GetVersionExA(&info));
    EXPECT_EQ(Ip.GetLastError(), winerror::InsufficientBuffer);
    EXPECT_EQ(info.dwMajorVersion, 0u);
    ::SetLastError(1234);
    EXPECT_EQ(Ip.GetLastError(), 1234u);
}

TEST_F(Win32IpHelper, ErrorTextIsTheSystemsMessageWithoutItsLineEndAndEmptyForUnknownCodes) {
    const std::string text = Ip.ErrorText(winerror::AccessDenied);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
    EXPECT_NE(text.find("ccess"), std::string::npos) << text; // Windows and Wine word it apart
    EXPECT_FALSE(Ip.ErrorText(winerror::InvalidParameter).empty());
    EXPECT_EQ(Ip.ErrorText(0x2000ABCDu), ""); // an application's own code: no system text
    EXPECT_EQ(Ip.ErrorText(0xFFFFFFFEu), "");
}

// A key of the test's own under HKEY_LOCAL_MACHINE, removed at the end.
class Win32Registry : public ::testing::Test {
protected:
    std::string SubKey;
    TRegistryKey Key;

    void SetUp() override {
        SubKey = "SOFTWARE\\Brindlecove Tests\\Routes " + std::to_string(std::random_device()());
        const LSTATUS result = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, SubKey.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, Key.Receive(), nullptr);
        if (result == ERROR_ACCESS_DENIED) {
            GTEST_SKIP() << "no write access to HKEY_LOCAL_MACHINE here";
        }
        ASSERT_EQ(result, ERROR_SUCCESS);
    }
    void TearDown() override {
        if (Key) {
            Key.Reset();
            ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, SubKey.c_str());
            ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brindlecove Tests"); // when empty
        }
    }

    void SetValue(const std::string& name) {
        ASSERT_EQ(::RegSetValueExA(Key.Get(), name.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(""), 1),
                  ERROR_SUCCESS);
    }
    bool HasValue(const std::string& name) const {
        return ::RegQueryValueExA(Key.Get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
    }

    TWin32Registry Registry;
};

TEST_F(Win32Registry, DeletesAnExistingValueAndAnswersTrue) {
    const std::string route = "196.4.0.0,255.255.0.0,10.0.0.1,2";
    SetValue(route);
    SetValue("10.0.0.0,255.0.0.0,10.0.0.1,2");
    EXPECT_TRUE(Registry.DeleteLocalMachineValue(SubKey, route));
    EXPECT_FALSE(HasValue(route));
    EXPECT_TRUE(HasValue("10.0.0.0,255.0.0.0,10.0.0.1,2")) << "only the named value goes";
}

TEST_F(Win32Registry, AValueThatDoesNotExistAnswersFalse) {
    SetValue("kept");
    EXPECT_FALSE(Registry.DeleteLocalMachineValue(SubKey, "196.4.0.0,255.255.0.0,10.0.0.1,2"));
    EXPECT_TRUE(HasValue("kept"));
}

TEST_F(Win32Registry, AKeyThatDoesNotExistAnswersFalseAndIsNotCreated) {
    const std::string missing = SubKey + "\\Missing";
    EXPECT_FALSE(Registry.DeleteLocalMachineValue(missing, "x"));
    TRegistryKey probe;
    EXPECT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, missing.c_str(), 0, KEY_READ, probe.Receive()),
              ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(Registry.DeleteLocalMachineValue(PersistentRoutesKey, "no,such,route,0"));
}

TEST_F(Win32Registry, ANameWithANulInsideDeletesNothing) {
    SetValue("196.4.0.0");
    EXPECT_FALSE(Registry.DeleteLocalMachineValue(SubKey, std::string("196.4.0.0\0,x", 12)));
    EXPECT_TRUE(HasValue("196.4.0.0"));
    EXPECT_FALSE(Registry.DeleteLocalMachineValue(SubKey + std::string("\0\\x", 3), "196.4.0.0"));
    EXPECT_TRUE(HasValue("196.4.0.0"));
}

// The main window on test doubles, with the real IP Helper and registry behind it.
TEST(Win32RoutingForm, FormCreateListsTheHostAdaptersAfterThePhonebookEntries) {
    testing::TFakeRas ras;
    ras.AddEntry("Home");
    TWin32IpHelper ipHelper;
    TWin32Registry registry;

    // The adapters as the system lists them, each description once (the lists ignore case).
    TWin32IpHelper own;
    std::vector<std::string> expected;
    for (const IP_ADAPTER_INFO* a : TAdapters(own).List()) {
        const std::string description = Text(a->Description, sizeof a->Description);
        const auto same = [&](const std::string& seen) {
            return std::equal(seen.begin(), seen.end(), description.begin(), description.end(),
                              [](char x, char y) {
                                  return std::tolower(static_cast<unsigned char>(x)) ==
                                         std::tolower(static_cast<unsigned char>(y));
                              });
        };
        if (std::none_of(expected.begin(), expected.end(), same)) {
            expected.push_back(description);
        }
    }
    if (expected.empty()) {
        GTEST_SKIP() << "the host shows no network adapter to this system";
    }

    testing::THeadlessWindow window(ras, ipHelper, registry);
    TfrmBrindlecove& form = window.Form;
    form.FormCreate();

    for (const TComboBox* list : {form.comboLocal.get(), form.comboInt.get()}) {
        SCOPED_TRACE(list->Name());
        ASSERT_EQ(list->Count(), static_cast<int>(1 + expected.size()));
        EXPECT_EQ(list->ItemText(0), "Home");
        EXPECT_EQ(list->ItemValue(0), 0);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const int item = static_cast<int>(i + 1);
            EXPECT_EQ(list->ItemText(item), expected[i]);
            EXPECT_EQ(list->ItemValue(item), AdapterItemIndex);
        }
    }
}

// Wine's IP Helper answers every route change with success and keeps none of them: the watch finds
// the whole build missing after each one, and its pauses keep that to a few rebuilds.
TEST(Win32RoutingForm, ASystemThatKeepsNoRoutesIsRebuiltOnlyAfterGrowingPauses) {
    TWin32IpHelper probe;
    std::string adapter;
    std::string address;
    for (const IP_ADAPTER_INFO* a : TAdapters(probe).List()) {
        address = Text(a->IpAddressList.IpAddress.String, 16);
        if (address != "0.0.0.0") {
            adapter = Text(a->Description, sizeof a->Description);
            break;
        }
    }
    if (adapter.empty()) {
        GTEST_SKIP() << "the host shows no network adapter with an address to this system";
    }
    // One adapter behind both connections is enough to build through: the adapter itself, and a
    // dial-up entry connected with its address. Two routes of our own.
    testing::TFakeRas ras;
    ras.AddEntry("Home");
    ras.Connect("Home", address, "10.0.0.1");
    TWin32IpHelper ipHelper;
    TWin32Registry registry;
    testing::THeadlessWindow window(ras, ipHelper, registry);
    window.ChooseInSettings("Home", adapter);
    window.System.Files[window.System.Folder + "localroutes.dat"] =
        "196.4.160.0,255.255.255.0\r\n196.4.161.0,255.255.255.0\r\n";
    window.Form.FormCreate();
    window.Log().SetWidth(1000);
    ASSERT_TRUE(window.Form.RoutesBuilt) << "the first pass builds";

    window.Clock.Advance(600000);
    std::vector<std::string> log;
    for (const std::string& line : window.Log().Lines()) {
        log.push_back(line.substr(20));
    }
    // Built at 0 s and rebuilt at once at 1 s; then after pauses of 5 s, 30 s and 2 min: at 7,
    // 38, 159, 280, 401 and 522 s.
    EXPECT_EQ(std::count(log.begin(), log.end(), "Creating routing table"), 8);
    EXPECT_EQ(std::count(log.begin(), log.end(),
                         "Routing table changed right after a rebuild: rebuilding after pauses "
                         "of 5 s, 30 s, then 2 min"),
              1);
}

} // namespace
} // namespace brindlecove
