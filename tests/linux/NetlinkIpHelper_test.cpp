// The rtnetlink client's request limit (its reading is fuzzed), and the IP Helper port and the
// route table builder on it against the kernel's routing table, each of those in a private user
// and network namespace of its own with two veth pairs standing in for the uplinks.
#include "app/brindlecove1.h"
#include "common/linux/Netlink.h"
#include "common/linux/Win32Error.h"
#include "routing/linux/NetlinkIpHelper.h"
#include "testing/FakeRas.h"
#include "testing/HeadlessWindow.h"
#include "testing/linux/PrivateNamespace.h"
#include "testing/linux/PrivateNetwork.h"
#include "testing/linux/TestHelpers.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <net/if.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace brindlecove {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::IsSupersetOf;
using ::testing::StartsWith;

// ---- Helpers inside the namespace ------------------------------------------------------------

using testing::CountContaining;
using testing::MainRoutes;

// The setup of every test here: the two uplinks, then `more` (`ip -batch` commands).
std::string WithUplinks(const std::string& more = {}) {
    return testing::UplinkCommands + more;
}

DWORD IndexOf(const char* name) {
    return ::if_nametoindex(name);
}

DWORD Address(const char* text) {
    return ::inet_addr(text);
}

MIB_IPFORWARDROW Row(const char* dest, const char* mask, const char* nextHop, const char* link,
                     DWORD metric) {
    MIB_IPFORWARDROW row{};
    row.dwForwardDest = Address(dest);
    row.dwForwardMask = Address(mask);
    row.dwForwardNextHop = Address(nextHop);
    row.dwForwardIfIndex = IndexOf(link);
    row.dwForwardType = MibIpRouteTypeDirect;
    row.dwForwardProto = MibIpProtoNetMgmt;
    row.dwForwardMetric1 = metric;
    row.dwForwardMetric2 = row.dwForwardMetric3 = row.dwForwardMetric4 = row.dwForwardMetric5 =
        0xFFFFFFFFu;
    return row;
}

std::vector<MIB_IPFORWARDROW> ForwardTable(IIpHelperPort& ip, BOOL order) {
    ULONG size = 0;
    EXPECT_EQ(ip.GetIpForwardTable(nullptr, &size, order), winerror::InsufficientBuffer);
    std::vector<MIB_IPFORWARDROW> buffer(size / sizeof(MIB_IPFORWARDROW) + 1);
    auto* table = reinterpret_cast<MIB_IPFORWARDTABLE*>(buffer.data());
    ULONG tooSmall = size - 1;
    EXPECT_EQ(ip.GetIpForwardTable(table, &tooSmall, order), winerror::InsufficientBuffer);
    EXPECT_EQ(tooSmall, size);
    EXPECT_EQ(ip.GetIpForwardTable(table, &size, order), winerror::Success);
    return {table->table, table->table + table->dwNumEntries};
}

std::string Dotted(DWORD address) {
    in_addr a{};
    a.s_addr = address;
    return ::inet_ntoa(a);
}

std::string Describe(const MIB_IPFORWARDROW& row) {
    return Dotted(row.dwForwardDest) + "/" + Dotted(row.dwForwardMask) + " via " +
           Dotted(row.dwForwardNextHop) + " if " + std::to_string(row.dwForwardIfIndex) +
           " metric " + std::to_string(row.dwForwardMetric1) + " type " +
           std::to_string(row.dwForwardType);
}

// The main window on headless controls, with the real rtnetlink port, in the namespace.
struct TLinuxForm {
    testing::TFakeRas Ras;
    TNetlinkIpHelper IpHelper;
    TLinuxRegistry Registry;
    testing::THeadlessWindow Window{Ras, IpHelper, Registry};

    // Creates the window (which lists the adapters) and chooses the two uplinks; with a custom
    // list of local networks when `localRoutes` is not empty.
    TfrmBrindlecove& Start(const std::string& localRoutes = {}) {
        if (!localRoutes.empty()) {
            Window.System.Files[Window.System.Folder + "localroutes.dat"] = localRoutes;
        }
        TfrmBrindlecove& form = Window.Form;
        form.FormCreate();
        Window.Log().SetWidth(1000); // one displayed line per log line: no clearing at 1000 lines
        form.comboLocal->SetItemIndex(form.comboLocal->IndexOfText(testing::LocalLink));
        form.comboInt->SetItemIndex(form.comboInt->IndexOfText(testing::IntLink));
        form.Memo1->Clear();
        return form;
    }
    // The log's messages without their 20-character time stamps.
    std::vector<std::string> Log() const {
        std::vector<std::string> messages;
        for (const std::string& line : Window.Log().Lines()) {
            messages.push_back(line.substr(20));
        }
        return messages;
    }
};

// Default routes through both uplinks before the build, and a route of someone else's.
constexpr const char* ExistingRoutes = "route add default via 10.2.0.2 dev int0\n"
                                       "route add default via 10.1.0.2 dev loc0 metric 100\n"
                                       "route add 192.0.2.0/24 via 10.2.0.2 dev int0\n";

// The default routes a build leaves: the international uplink's first, then the local one's.
constexpr const char* BuiltIntDefault = "default via 10.2.0.2 dev int0 proto static metric 1";
constexpr const char* BuiltLocalDefault = "default via 10.1.0.2 dev loc0 proto static metric 2";

std::vector<std::string> Defaults(const std::vector<std::string>& routes) {
    std::vector<std::string> defaults;
    std::copy_if(
        routes.begin(), routes.end(), std::back_inserter(defaults),
        [](const std::string& route) { return route.find("default") != std::string::npos; });
    return defaults;
}

constexpr std::size_t BuiltInRoutes = 877; // 878 pairs, one network listed twice

// The end of a route's description in the log: "gateway,metric,interface index)".
std::string Tail(const char* gateway, const char* link, const char* metric = "2") {
    return std::string(gateway) + "," + metric + "," + std::to_string(IndexOf(link)) + ")";
}

// ---- The port on its own ---------------------------------------------------------------------

TEST(Netlink, ARequestThatWouldPassItsBufferIsRefusedWholeAndNeverSent) {
    rtmsg header{};
    header.rtm_family = AF_INET;
    netlink::TRequest request(RTM_NEWROUTE, NLM_F_CREATE, header);
    const std::vector<unsigned char> big(200, 0xAB);
    int added = 0;
    while (request.Add(RTA_UNSPEC, big.data(), big.size())) {
        ++added;
    }
    EXPECT_EQ(added, 4); // 16 + 12 + 4 * 204 bytes fit in 1024, a fifth does not
    EXPECT_TRUE(request.Overflowed());
    EXPECT_FALSE(request.AddU32(RTA_PRIORITY, 1)) << "a small one after the refusal neither";

    netlink::TSocket socket;
    ASSERT_TRUE(socket.Valid()) << std::strerror(socket.OpenError());
    EXPECT_EQ(socket.Transact(request), EMSGSIZE);
}

// The fetch that follows a size query answers what the query read (the size stays right), but a
// route changed through the port in between, or a later query, reads the kernel again.
TEST(NetlinkIpHelper, ReadsInterfacesAndTheMainTableAndAFetchAfterAQueryIsConsistent) {
    RUN_IN_PRIVATE_NAMESPACE(WithUplinks(std::string(ExistingRoutes) +
                                         "addr add 10.1.0.9/24 dev loc0\n"
                                         "route add 198.51.100.0/24 via 10.1.0.3 dev loc0\n"
                                         "route add 10.200.0.0/16 dev loc0 metric 9\n"
                                         "link add ptp0 type veth peer name ptp1\n"
                                         "addr add 10.3.0.1 peer 10.3.0.2/32 dev ptp0\n"
                                         "link set ptp0 up\n"));
    TNetlinkIpHelper ip;
    ASSERT_EQ(ip.OpenError(), 0);
    ULONG size = 0;
    ASSERT_EQ(ip.GetAdaptersInfo(nullptr, &size), winerror::BufferOverflow);
    ASSERT_EQ(size, 6 * sizeof(IP_ADAPTER_INFO)) << "lo is left out";
    ULONG tooSmall = size - 1;
    std::vector<IP_ADAPTER_INFO> buffer(6);
    EXPECT_EQ(ip.GetAdaptersInfo(buffer.data(), &tooSmall), winerror::BufferOverflow);
    EXPECT_EQ(tooSmall, size);
    EXPECT_EQ(ip.GetLastError(), winerror::BufferOverflow);
    ASSERT_EQ(ip.GetAdaptersInfo(buffer.data(), &size), winerror::Success);

    std::vector<std::string> seen;
    DWORD previous = 0;
    for (const IP_ADAPTER_INFO* a = buffer.data(); a != nullptr; a = a->Next) {
        ASSERT_GE(a, buffer.data());
        ASSERT_LT(a, buffer.data() + buffer.size());
        EXPECT_GT(a->Index, previous) << "in interface index order";
        previous = a->Index;
        EXPECT_EQ(a->Index, IndexOf(a->Description)) << a->Description;
        EXPECT_EQ(a->AddressLength, 6u) << "the MAC address of " << a->Description;
        seen.push_back(std::string(a->Description) + " " + a->IpAddressList.IpAddress.String + "/" +
                       a->IpAddressList.IpMask.String + " gw " + a->GatewayList.IpAddress.String);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_THAT(
        seen, ElementsAre("int0 10.2.0.1/255.255.255.0 gw 10.2.0.2", "int1 0.0.0.0/0.0.0.0 gw ",
                          "loc0 10.1.0.1/255.255.255.0 gw 10.1.0.2", "loc1 0.0.0.0/0.0.0.0 gw ",
                          "ptp0 10.3.0.1/255.255.255.255 gw 10.3.0.2", "ptp1 0.0.0.0/0.0.0.0 gw "));

    // The main table, sorted by destination when asked.
    const auto rows = ForwardTable(ip, 1);
    std::vector<std::string> described;
    std::transform(rows.begin(), rows.end(), std::back_inserter(described), Describe);
    const std::string loc = std::to_string(IndexOf("loc0"));
    const std::string intl = std::to_string(IndexOf("int0"));
    const std::string ptp = std::to_string(IndexOf("ptp0"));
    EXPECT_THAT(
        described,
        ElementsAre("0.0.0.0/0.0.0.0 via 10.2.0.2 if " + intl + " metric 0 type 4",
                    "0.0.0.0/0.0.0.0 via 10.1.0.2 if " + loc + " metric 100 type 4",
                    "10.1.0.0/255.255.255.0 via 0.0.0.0 if " + loc + " metric 0 type 3",
                    "10.2.0.0/255.255.255.0 via 0.0.0.0 if " + intl + " metric 0 type 3",
                    "10.3.0.2/255.255.255.255 via 0.0.0.0 if " + ptp + " metric 0 type 3",
                    "10.200.0.0/255.255.0.0 via 0.0.0.0 if " + loc + " metric 9 type 3",
                    "192.0.2.0/255.255.255.0 via 10.2.0.2 if " + intl + " metric 0 type 4",
                    "198.51.100.0/255.255.255.0 via 10.1.0.3 if " + loc + " metric 0 type 4"));
    EXPECT_EQ(ForwardTable(ip, 0).size(), rows.size());

    // Another program's change between query and fetch may or may not be seen; our own is.
    ASSERT_EQ(ip.GetIpForwardTable(nullptr, &size, 0), winerror::InsufficientBuffer);
    std::vector<MIB_IPFORWARDROW> rowBuffer(size / sizeof(MIB_IPFORWARDROW) + 4);
    auto* table = reinterpret_cast<MIB_IPFORWARDTABLE*>(rowBuffer.data());
    const auto added = Row("198.18.0.0", "255.254.0.0", "10.1.0.2", "loc0", 7);
    ASSERT_EQ(ip.CreateIpForwardEntry(&added), winerror::Success);
    ULONG room = static_cast<ULONG>(rowBuffer.size() * sizeof(MIB_IPFORWARDROW));
    ASSERT_EQ(ip.GetIpForwardTable(table, &room, 0), winerror::Success);
    EXPECT_EQ(table->dwNumEntries, rows.size() + 1);

    std::string why;
    ASSERT_TRUE(testing::IpBatch("route add 203.0.113.0/24 dev int0\n", why)) << why;
    ASSERT_EQ(ip.GetIpForwardTable(nullptr, &size, 0), winerror::InsufficientBuffer);
    EXPECT_EQ(size,
              offsetof(MIB_IPFORWARDTABLE, table) + (rows.size() + 2) * sizeof(MIB_IPFORWARDROW))
        << "a new query reads the kernel again";

    ULONG adapters = 0;
    ASSERT_EQ(ip.GetAdaptersInfo(nullptr, &adapters), winerror::BufferOverflow);
    ASSERT_TRUE(testing::IpBatch("link add late0 type veth peer name late1\n", why)) << why;
    ASSERT_EQ(ip.GetAdaptersInfo(nullptr, &adapters), winerror::BufferOverflow);
    std::vector<IP_ADAPTER_INFO> list(adapters / sizeof(IP_ADAPTER_INFO));
    ASSERT_EQ(ip.GetAdaptersInfo(list.data(), &adapters), winerror::Success);
    std::vector<std::string> names;
    for (const IP_ADAPTER_INFO* a = list.data(); a != nullptr; a = a->Next) {
        names.emplace_back(a->Description);
    }
    EXPECT_EQ(names.size(), list.size());
    EXPECT_THAT(names, IsSupersetOf({"late0", "late1"}));
}

// Makes every later netlink socket() of this process fail with EAFNOSUPPORT (a seccomp filter).
bool RefuseNetlinkSockets() {
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_NETLINK, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EAFNOSUPPORT & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog filter{static_cast<unsigned short>(std::size(program)), program};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

TEST(NetlinkIpHelper, ChangesAndLooksUpRoutesAndAnswersWin32Codes) {
    RUN_IN_PRIVATE_NAMESPACE(WithUplinks());
    TNetlinkIpHelper ip;
    // Malformed rows are refused without asking the kernel.
    const auto before = MainRoutes();
    const auto holes = Row("198.18.0.0", "255.0.255.0", "10.1.0.2", "loc0", 2);
    EXPECT_EQ(ip.CreateIpForwardEntry(&holes), winerror::InvalidParameter);
    const auto hostBits = Row("198.18.0.1", "255.255.255.0", "10.1.0.2", "loc0", 2);
    EXPECT_EQ(ip.CreateIpForwardEntry(&hostBits), winerror::InvalidParameter);
    EXPECT_EQ(ip.GetLastError(), winerror::InvalidParameter);
    EXPECT_EQ(ip.ErrorText(ip.GetLastError()), "The parameter is incorrect.");
    EXPECT_EQ(ip.CreateIpForwardEntry(nullptr), winerror::InvalidParameter);
    EXPECT_EQ(ip.DeleteIpForwardEntry(nullptr), winerror::InvalidParameter);
    EXPECT_EQ(ip.GetBestInterface(Address("10.1.0.5"), nullptr), winerror::InvalidParameter);
    EXPECT_EQ(ip.GetIpForwardTable(nullptr, nullptr, 0), winerror::InvalidParameter);
    EXPECT_EQ(ip.GetAdaptersInfo(nullptr, nullptr), winerror::InvalidParameter);
    EXPECT_EQ(MainRoutes(), before);

    const auto viaGateway = Row("198.18.0.0", "255.254.0.0", "10.1.0.2", "loc0", 7);
    ASSERT_EQ(ip.CreateIpForwardEntry(&viaGateway), winerror::Success);
    EXPECT_EQ(ip.CreateIpForwardEntry(&viaGateway), winerror::ObjectAlreadyExists);
    EXPECT_EQ(ip.GetLastError(), winerror::ObjectAlreadyExists);
    auto otherMetric = viaGateway;
    otherMetric.dwForwardMetric1 = 8;
    EXPECT_EQ(ip.CreateIpForwardEntry(&otherMetric), winerror::Success)
        << "routes differ by metric";

    const auto onLink = Row("198.51.100.0", "255.255.255.0", "0.0.0.0", "int0", 3);
    ASSERT_EQ(ip.CreateIpForwardEntry(&onLink), winerror::Success);
    EXPECT_THAT(MainRoutes(),
                Contains("198.51.100.0/24 dev int0 proto static scope link metric 3"));

    EXPECT_EQ(ip.DeleteIpForwardEntry(&viaGateway), winerror::Success);
    EXPECT_EQ(ip.DeleteIpForwardEntry(&viaGateway), winerror::NotFound);
    EXPECT_EQ(ip.DeleteIpForwardEntry(&onLink), winerror::Success);
    const std::vector<std::string> routesLeft = {
        "10.1.0.0/24 dev loc0 proto kernel scope link src 10.1.0.1",
        "10.2.0.0/24 dev int0 proto kernel scope link src 10.2.0.1",
        "198.18.0.0/15 via 10.1.0.2 dev loc0 proto static metric 8"};
    EXPECT_EQ(MainRoutes(), routesLeft);

    // The best interface: the connected network's, else the default route's.
    DWORD index = 0;
    EXPECT_EQ(ip.GetBestInterface(Address("10.1.0.77"), &index), winerror::Success);
    EXPECT_EQ(index, IndexOf("loc0"));
    index = 12345;
    EXPECT_EQ(ip.GetBestInterface(Address("203.0.113.5"), &index), ErrnoCodeBit | ENETUNREACH);
    EXPECT_EQ(index, 12345u) << "left alone on failure";
    const auto viaInt = Row("0.0.0.0", "0.0.0.0", "10.2.0.2", "int0", 0);
    ASSERT_EQ(ip.CreateIpForwardEntry(&viaInt), winerror::Success);
    EXPECT_EQ(ip.GetBestInterface(Address("203.0.113.5"), &index), winerror::Success);
    EXPECT_EQ(index, IndexOf("int0"));
    EXPECT_EQ(ip.DeleteIpForwardEntry(&viaInt), winerror::Success);

    // The kernel's refusals keep their errno, with its text and the kernel's own words.
    const DWORD unreachable = ErrnoCodeBit | ENETUNREACH;
    const auto offLink = Row("198.18.0.0", "255.254.0.0", "10.9.9.9", "loc0", 2);
    EXPECT_EQ(ip.CreateIpForwardEntry(&offLink), unreachable);
    EXPECT_EQ(ip.GetLastError(), unreachable);
    EXPECT_EQ(ip.ErrorText(unreachable), "Network is unreachable.");
    EXPECT_THAT(ip.KernelMessage(), HasSubstr("gateway"));

    std::string why;
    ASSERT_TRUE(testing::IpBatch("link set int0 down\n", why)) << why;
    const auto downViaGateway = Row("198.18.0.0", "255.254.0.0", "10.2.0.2", "int0", 2);
    EXPECT_EQ(ip.CreateIpForwardEntry(&downViaGateway), unreachable);
    const auto downOnLink = Row("198.18.0.0", "255.254.0.0", "0.0.0.0", "int0", 2);
    EXPECT_EQ(ip.CreateIpForwardEntry(&downOnLink), ErrnoCodeBit | ENETDOWN);
    EXPECT_EQ(ip.ErrorText(ip.GetLastError()), "Network is down.");
    auto noSuchLink = downOnLink;
    noSuchLink.dwForwardIfIndex = 999;
    EXPECT_EQ(ip.CreateIpForwardEntry(&noSuchLink), ErrnoCodeBit | ENODEV);
    EXPECT_THAT(MainRoutes(), ElementsAre(routesLeft[0], routesLeft[2]));

    // Without a socket every call answers the mapped error; only those that need no kernel work.
    ASSERT_TRUE(RefuseNetlinkSockets()) << std::strerror(errno);
    TNetlinkIpHelper refused;
    EXPECT_EQ(refused.OpenError(), EAFNOSUPPORT);
    const DWORD code = Win32ErrorFromErrno(EAFNOSUPPORT);
    EXPECT_EQ(refused.ErrorText(code), "Address family not supported by protocol.");
    ULONG size = 0;
    EXPECT_EQ(refused.GetAdaptersInfo(nullptr, &size), code);
    EXPECT_EQ(refused.GetIpForwardTable(nullptr, &size, 1), code);
    const auto row = Row("198.18.0.0", "255.254.0.0", "10.1.0.2", "loc0", 2);
    EXPECT_EQ(refused.CreateIpForwardEntry(&row), code);
    EXPECT_EQ(refused.DeleteIpForwardEntry(&row), code);
    EXPECT_EQ(refused.GetBestInterface(Address("10.1.0.5"), &index), code);
    EXPECT_EQ(refused.GetLastError(), code);

    // The route list's short forms, and a version never taken for Vista or later.
    EXPECT_EQ(refused.inet_addr("106.152.0"), Address("106.152.0.0"));
    EXPECT_EQ(refused.inet_addr("10.1"), Address("10.0.0.1"));
    EXPECT_EQ(refused.inet_addr("not an address"), InaddrNone);
    EXPECT_EQ(refused.inet_addr(nullptr), InaddrNone);
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = 77;
    EXPECT_EQ(refused.GetVersionExA(&info), 1);
    EXPECT_EQ(info.dwMajorVersion, 0u);
    OSVERSIONINFOA wrongSize{};
    EXPECT_EQ(refused.GetVersionExA(&wrongSize), 0);
    EXPECT_EQ(refused.GetVersionExA(nullptr), 0);
}

// ---- The route table builder on the port -----------------------------------------------------

TEST(RouteTableOnLinux, TheBuiltInListGoesThroughTheLocalLinkAndDefaultsAreReplaced) {
    RUN_IN_PRIVATE_NAMESPACE(WithUplinks(ExistingRoutes));
    TLinuxForm env;
    TfrmBrindlecove& form = env.Start();
    ASSERT_GE(form.comboLocal->ItemIndex(), 0) << "loc0 listed";
    ASSERT_GE(form.comboInt->ItemIndex(), 0) << "int0 listed";
    form.btnRoutesClick();

    const std::vector<std::string> quietBuild = {"Creating routing table",
                                                 "Finished creating routing table"};
    EXPECT_EQ(env.Log(), quietBuild);
    EXPECT_TRUE(form.RoutesBuilt);
    EXPECT_THAT(env.Window.App.MessageBoxes, IsEmpty());
    EXPECT_EQ(form.LocalIfIndex, std::to_string(IndexOf("loc0")));
    EXPECT_EQ(form.IntIfIndex, std::to_string(IndexOf("int0")));

    const auto routes = MainRoutes();
    EXPECT_THAT(Defaults(routes), ElementsAre(BuiltIntDefault, BuiltLocalDefault));
    EXPECT_EQ(CountContaining(routes, "via 10.1.0.2 dev loc0 proto static metric 2"),
              BuiltInRoutes + 1);
    EXPECT_EQ(CountContaining(routes, "dev loc0"), BuiltInRoutes + 2) << "and the connected one";
    EXPECT_THAT(routes, Contains("106.152.0.0/24 via 10.1.0.2 dev loc0 proto static metric 2"));
    EXPECT_EQ(CountContaining(routes, "168.210.0.0/16 "), 1u);
    EXPECT_THAT(routes, Contains("192.0.2.0/24 via 10.2.0.2 dev int0"));
    EXPECT_THAT(routes, Contains("10.2.0.0/24 dev int0 proto kernel scope link src 10.2.0.1"));
    EXPECT_EQ(routes.size(), BuiltInRoutes + 5);

    // The port's own reading of the table agrees with ip's.
    const auto rows = ForwardTable(env.IpHelper, 1);
    EXPECT_EQ(rows.size(), routes.size());
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                            [](const MIB_IPFORWARDROW& r) {
                                return r.dwForwardIfIndex == IndexOf("loc0") &&
                                       r.dwForwardNextHop == Address("10.1.0.2") &&
                                       r.dwForwardMetric1 == 2;
                            }),
              static_cast<std::ptrdiff_t>(BuiltInRoutes + 1));

    // A second build changes nothing and logs no route.
    form.Memo1->Clear();
    form.BuildRoutingTable();
    EXPECT_EQ(env.Log(), quietBuild);
    EXPECT_EQ(MainRoutes(), routes);
    EXPECT_TRUE(form.RoutesBuilt);

    // Down, the link loses every route through it and shows no address: nothing is built,
    // nothing deleted.
    form.RoutesBuilt = false;
    form.Memo1->Clear();
    std::string why;
    ASSERT_TRUE(testing::IpBatch("link set loc0 down\n", why)) << why;
    const auto down = MainRoutes();
    ASSERT_EQ(CountContaining(down, "dev loc0"), 0u);
    form.BuildRoutingTable();
    EXPECT_THAT(env.Log(), IsEmpty());
    EXPECT_FALSE(form.RoutesBuilt);
    EXPECT_EQ(MainRoutes(), down);

    // Back up, but without carrier (its far end went down too): no route tells its gateway any
    // more, the last build's is used again, and a link without carrier is routed all the same.
    ASSERT_TRUE(testing::IpBatch("link set loc1 down\nlink set loc0 up\n", why)) << why;
    form.BuildRoutingTable();
    EXPECT_EQ(env.Log(), quietBuild);
    EXPECT_EQ(CountContaining(MainRoutes(), "via 10.1.0.2 dev loc0 proto static metric 2 linkdown"),
              BuiltInRoutes + 1);
}

// Defaults that route nothing, one for a type of service only, and one through a nexthop
// object: with a metric below the built ones, any of them would keep taking traffic.
TEST(RouteTableOnLinux, EveryDefaultRouteGoesAndABadPairOfACustomListIsLoggedAndSkipped) {
    RUN_IN_PRIVATE_NAMESPACE(WithUplinks("route add blackhole default\n"
                                         "route add unreachable default metric 5\n"
                                         "route add default tos 0x10 via 10.2.0.2 dev int0\n"
                                         "nexthop add id 7 via 10.1.0.2 dev loc0\n"
                                         "route add default nhid 7 metric 3\n"));
    TLinuxForm env;
    TfrmBrindlecove& form = env.Start("198.18.0.0,255.254.0.0\r\n"
                                      "198.20.1.0,255.255.0.0\r\n"
                                      "# a comment, 1.2.3.4\r\n"
                                      "203.0.113.0,255.255.255.0\r\n");
    form.BuildRoutingTable();
    EXPECT_THAT(env.Log(),
                ElementsAre("Creating routing table",
                            "Bad IP/Mask: 198.20.1.0,255.255.0.0, IP and MASK = 198.20.0.0",
                            "Finished creating routing table"));
    const auto routes = MainRoutes();
    EXPECT_THAT(Defaults(routes), ElementsAre(BuiltIntDefault, BuiltLocalDefault));
    EXPECT_THAT(routes, Contains("198.18.0.0/15 via 10.1.0.2 dev loc0 proto static metric 2"));
    EXPECT_THAT(routes, Contains("203.0.113.0/24 via 10.1.0.2 dev loc0 proto static metric 2"));
    EXPECT_EQ(CountContaining(routes, "198.20."), 0u);
    EXPECT_EQ(CountContaining(routes, "via 10.1.0.2 dev loc0"), 3u);
}

TEST(RouteTableOnLinux, AGatewayOffTheLinkIsLoggedWithTheErrnoText) {
    RUN_IN_PRIVATE_NAMESPACE(
        WithUplinks("route add default via 10.2.0.2 dev int0\n"
                    "route add default via 10.1.9.9 dev loc0 onlink metric 100\n"));
    TLinuxForm env;
    TfrmBrindlecove& form = env.Start();
    form.BuildRoutingTable();
    const auto log = env.Log();
    const std::string code = std::to_string(ErrnoCodeBit | ENETUNREACH);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], " ERROR: Network is unreachable, (0.0.0.0,0.0.0.0," +
                          Tail("10.1.9.9", "loc0") + " " + code);
    EXPECT_EQ(log[1], "Creating routing table");
    EXPECT_EQ(log[2], " ERROR: Network is unreachable, (106.152.0,255.255.255.0," +
                          Tail("10.1.9.9", "loc0") + " " + code);
    EXPECT_EQ(log.back(), "Finished creating routing table");
    EXPECT_EQ(CountContaining(log, " ERROR: Network is unreachable, ("), BuiltInRoutes + 2)
        << "every pair of the list and the local default route";
    EXPECT_TRUE(form.RoutesBuilt);
    EXPECT_THAT(MainRoutes(),
                ElementsAre(BuiltIntDefault,
                            "10.1.0.0/24 dev loc0 proto kernel scope link src 10.1.0.1",
                            "10.2.0.0/24 dev int0 proto kernel scope link src 10.2.0.1"));
}

TEST(RouteTableOnLinux, WithoutNetAdminEveryRouteIsAccessDeniedAndTheBoxComesOnce) {
    RUN_IN_PRIVATE_NAMESPACE(WithUplinks(ExistingRoutes));
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    ASSERT_EQ(::syscall(SYS_capget, &header, caps), 0) << std::strerror(errno);
    caps[0].effective &= ~(1u << CAP_NET_ADMIN);
    caps[0].permitted &= ~(1u << CAP_NET_ADMIN);
    ASSERT_EQ(::syscall(SYS_capset, &header, caps), 0) << std::strerror(errno);
    const auto before = MainRoutes();

    TLinuxForm env;
    TfrmBrindlecove& form = env.Start();
    form.BuildRoutingTable();
    const auto log = env.Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0], "ERROR: Access denied. Run application as Administrator, (0.0.0.0,0.0.0.0," +
                          Tail("10.1.0.2", "loc0"));
    EXPECT_EQ(log[1], "ERROR: Access denied. Run application as Administrator, (0.0.0.0,0.0.0.0," +
                          Tail("10.2.0.2", "int0", "1"));
    EXPECT_EQ(log[2], "Creating routing table");
    EXPECT_EQ(CountContaining(log, "ERROR: Access denied. Run application as Administrator, ("),
              BuiltInRoutes + 3);
    EXPECT_EQ(log.back(), "Finished creating routing table");
    EXPECT_TRUE(form.RoutesBuilt);
    EXPECT_TRUE(form.AccessDenied);
    ASSERT_EQ(env.Window.App.MessageBoxes.size(), 1u);
    EXPECT_THAT(env.Window.App.MessageBoxes[0].Text,
                StartsWith("Brindlecove should be run as Administrator"));
    EXPECT_EQ(env.Window.App.MessageBoxes[0].Caption, "Warning");
    EXPECT_EQ(MainRoutes(), before) << "nothing changed";
}

} // namespace
} // namespace brindlecove
