#include "routing/linux/NetlinkIpHelper.h"

#include "common/FixedText.h"
#include "common/linux/Win32Error.h"

#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/if_arp.h>
#include <linux/rtnetlink.h>
#include <numeric>
#include <tuple>
#include <utility>

namespace brindlecove {

namespace {

using netlink::TBytes;
using netlink::TMessage;

constexpr std::uint32_t MibIfTypeOther = 1;
constexpr std::uint32_t MibIfTypeEthernet = 6;
constexpr std::uint32_t MibIfTypePpp = 23;

// A mask of leading ones only (in network order, as the rows hold it).
bool IsContiguousMask(DWORD mask) {
    const std::uint32_t holes = ~ntohl(mask);
    return (holes & (holes + 1)) == 0;
}

// The row's mask for a prefix length, in the rows' byte order.
std::uint32_t MaskOf(unsigned prefixLength) {
    return prefixLength == 0 ? 0 : htonl(~std::uint32_t{0} << (32 - prefixLength));
}

void DottedInto(std::uint32_t address, char (&text)[16]) {
    unsigned char b[4];
    std::memcpy(b, &address, 4);
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

// The kernel's answer to a route change as the builder's codes.
DWORD RouteChangeError(int err) {
    switch (err) {
    case EEXIST:
        return winerror::ObjectAlreadyExists;
    case EPERM:
    case EACCES:
        return winerror::AccessDenied;
    case EINVAL:
        return winerror::InvalidParameter;
    default:
        return Win32ErrorFromErrno(err);
    }
}

} // namespace

struct TNetlinkIpHelper::TLink {
    std::uint32_t Index = 0;
    unsigned Flags = 0;
    unsigned short Type = 0;
    std::string Name;
    unsigned char Hardware[MaxAdapterAddressLength] = {};
    unsigned HardwareLength = 0;
};

TNetlinkIpHelper::TNetlinkIpHelper() = default;
TNetlinkIpHelper::~TNetlinkIpHelper() = default;

DWORD TNetlinkIpHelper::Fail(DWORD code) {
    FLastError = code;
    return code;
}

// ---- Reading the kernel's tables -------------------------------------------------------------

std::optional<TNetlinkIpHelper::TRoute> TNetlinkIpHelper::ParseRoute(const TMessage& message) {
    if (message.Header.nlmsg_type != RTM_NEWROUTE || message.Payload.size() < sizeof(rtmsg)) {
        return std::nullopt;
    }
    const auto header = netlink::ReadAs<rtmsg>(message.Payload);
    if (header.rtm_family != AF_INET) {
        return std::nullopt;
    }
    std::uint32_t table = header.rtm_table;
    TRoute route;
    route.PrefixLength = std::min<std::uint8_t>(header.rtm_dst_len, 32);
    route.Type = header.rtm_type;
    route.Tos = header.rtm_tos;
    netlink::ForEachAttribute(
        netlink::AttributesAfter(message.Payload, sizeof(rtmsg)),
        [&](std::uint16_t attribute, TBytes data) {
            switch (attribute) {
            case RTA_TABLE:
                table = netlink::U32(data);
                break;
            case RTA_DST:
                route.Dest = netlink::U32(data);
                break;
            case RTA_GATEWAY:
                route.Gateway = netlink::U32(data);
                break;
            case RTA_OIF:
                route.IfIndex = netlink::U32(data);
                break;
            case RTA_PRIORITY:
                route.Priority = netlink::U32(data);
                break;
            case RTA_MULTIPATH:
                // A route over several next hops: shown through its first one.
                if (data.size() >= sizeof(rtnexthop) && route.IfIndex == 0) {
                    const auto hop = netlink::ReadAs<rtnexthop>(data);
                    route.IfIndex = static_cast<std::uint32_t>(hop.rtnh_ifindex);
                    if (hop.rtnh_len > sizeof(rtnexthop) && hop.rtnh_len <= data.size()) {
                        netlink::ForEachAttribute(
                            data.subspan(sizeof(rtnexthop), hop.rtnh_len - sizeof(rtnexthop)),
                            [&](std::uint16_t type, TBytes value) {
                                if (type == RTA_GATEWAY) {
                                    route.Gateway = netlink::U32(value);
                                }
                            });
                    }
                }
                break;
            default:
                break;
            }
        });
    if (table != RT_TABLE_MAIN) {
        return std::nullopt;
    }
    return route;
}

int TNetlinkIpHelper::ReadRoutes() {
    return FSocket.Dump(
        RTM_GETROUTE, AF_INET, sizeof(rtmsg),
        [this](const TMessage& message) {
            // Every default route, whatever its type: the builder replaces them all.
            const auto route = ParseRoute(message);
            if (route && (route->Type == RTN_UNICAST || route->PrefixLength == 0)) {
                FRoutes.push_back(*route);
            }
        },
        [this] {
            FRoutes.clear();
            FRouteIndex.clear();
        });
}

int TNetlinkIpHelper::ReadLinks(std::vector<TLink>& links) {
    const auto visit = [&links](const TMessage& message) {
        if (message.Header.nlmsg_type != RTM_NEWLINK ||
            message.Payload.size() < sizeof(ifinfomsg)) {
            return;
        }
        const auto header = netlink::ReadAs<ifinfomsg>(message.Payload);
        TLink link;
        link.Index = static_cast<std::uint32_t>(header.ifi_index);
        link.Flags = header.ifi_flags;
        link.Type = header.ifi_type;
        netlink::ForEachAttribute(
            netlink::AttributesAfter(message.Payload, sizeof(ifinfomsg)),
            [&link](std::uint16_t attribute, TBytes data) {
                if (attribute == IFLA_IFNAME) {
                    link.Name = netlink::Text(data);
                } else if (attribute == IFLA_ADDRESS) {
                    link.HardwareLength =
                        static_cast<unsigned>(std::min(data.size(), sizeof link.Hardware));
                    std::memcpy(link.Hardware, data.data(), link.HardwareLength);
                }
            });
        links.push_back(std::move(link));
    };
    return FSocket.Dump(RTM_GETLINK, AF_UNSPEC, sizeof(ifinfomsg), visit,
                        [&links] { links.clear(); });
}

int TNetlinkIpHelper::ReadAddresses(std::vector<netlink::TIpv4Address>& addresses) {
    const auto visit = [&addresses](const TMessage& message) {
        if (const auto address = netlink::ParseIpv4Address(message)) {
            addresses.push_back(*address);
        }
    };
    return FSocket.Dump(RTM_GETADDR, AF_INET, sizeof(ifaddrmsg), visit,
                        [&addresses] { addresses.clear(); });
}

// ---- The port --------------------------------------------------------------------------------

int TNetlinkIpHelper::ReadAdapters() {
    FAdapters.clear();
    std::vector<TLink> links;
    std::vector<netlink::TIpv4Address> addresses;
    int err = ReadLinks(links);
    if (err == 0) {
        err = ReadAddresses(addresses);
    }
    if (err == 0) {
        err = ReadRoutes();
    }
    if (err != 0) {
        return err;
    }
    std::erase_if(links, [](const TLink& link) { return (link.Flags & IFF_LOOPBACK) != 0; });
    std::sort(links.begin(), links.end(),
              [](const TLink& a, const TLink& b) { return a.Index < b.Index; });
    FAdapters.assign(links.size(), IP_ADAPTER_INFO{});
    for (std::size_t i = 0; i < links.size(); ++i) {
        const TLink& link = links[i];
        IP_ADAPTER_INFO& adapter = FAdapters[i];
        adapter.ComboIndex = link.Index;
        SetFieldText(adapter.AdapterName, link.Name);
        SetFieldText(adapter.Description, link.Name);
        adapter.AddressLength = link.HardwareLength;
        std::memcpy(adapter.Address, link.Hardware, link.HardwareLength);
        adapter.Index = link.Index;
        adapter.Type = link.Type == ARPHRD_ETHER ? MibIfTypeEthernet
                       : link.Type == ARPHRD_PPP ? MibIfTypePpp
                                                 : MibIfTypeOther;

        const auto address = std::find_if(addresses.begin(), addresses.end(),
                                          [&link](const auto& a) { return a.Index == link.Index; });
        std::uint32_t local = 0;
        std::uint32_t mask = 0;
        std::uint32_t peer = 0;
        // An interface that is down carries no traffic: shown without an address, as Windows
        // shows an adapter that lost its link.
        if (address != addresses.end() && (link.Flags & IFF_UP) != 0) {
            local = address->Local.value_or(address->Address.value_or(0));
            mask = MaskOf(address->PrefixLength);
            if (address->Local && address->Address && *address->Address != *address->Local) {
                peer = *address->Address; // the far end of a point-to-point link
            }
        }
        DottedInto(local, adapter.IpAddressList.IpAddress.String);
        DottedInto(mask, adapter.IpAddressList.IpMask.String);

        // The gateway: a default route's through this interface, else any route's, else the peer.
        std::uint32_t gateway = 0;
        bool viaDefault = false;
        for (const TRoute& route : FRoutes) {
            if (route.IfIndex != link.Index || route.Gateway == 0) {
                continue;
            }
            if (route.PrefixLength == 0 && !viaDefault) {
                gateway = route.Gateway;
                viaDefault = true;
            } else if (gateway == 0) {
                gateway = route.Gateway;
            }
        }
        if (gateway == 0) {
            gateway = peer;
        }
        if (gateway != 0) {
            DottedInto(gateway, adapter.GatewayList.IpAddress.String);
            DottedInto(~std::uint32_t{0}, adapter.GatewayList.IpMask.String);
        }
    }
    return 0;
}

DWORD TNetlinkIpHelper::GetAdaptersInfo(IP_ADAPTER_INFO* info, ULONG* size) {
    if (size == nullptr) {
        return Fail(winerror::InvalidParameter);
    }
    // A fetch right after the size query answers what that query read: the size stays right,
    // and the kernel is not asked twice in a row.
    const bool fetchAfterQuery = FKept == TKept::Adapters && info != nullptr;
    FKept = TKept::Nothing;
    if (!fetchAfterQuery) {
        if (const int err = ReadAdapters(); err != 0) {
            return Fail(Win32ErrorFromErrno(err));
        }
    }
    if (FAdapters.empty()) {
        return Fail(winerror::NoData);
    }
    const std::size_t needed = FAdapters.size() * sizeof(IP_ADAPTER_INFO);
    if (info == nullptr || *size < needed) {
        *size = static_cast<ULONG>(needed);
        FKept = TKept::Adapters;
        return Fail(winerror::BufferOverflow);
    }
    for (std::size_t i = 0; i < FAdapters.size(); ++i) {
        info[i] = FAdapters[i];
        info[i].Next = i + 1 < FAdapters.size() ? &info[i + 1] : nullptr;
    }
    *size = static_cast<ULONG>(needed);
    return winerror::Success;
}

DWORD TNetlinkIpHelper::GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) {
    if (size == nullptr) {
        return Fail(winerror::InvalidParameter);
    }
    const bool fetchAfterQuery = FKept == TKept::Routes && table != nullptr;
    FKept = TKept::Nothing;
    if (!fetchAfterQuery) {
        if (const int err = ReadRoutes(); err != 0) {
            return Fail(Win32ErrorFromErrno(err));
        }
    }
    if (FRoutes.empty()) {
        return Fail(winerror::NoData);
    }
    const std::size_t needed =
        offsetof(MIB_IPFORWARDTABLE, table) + FRoutes.size() * sizeof(MIB_IPFORWARDROW);
    if (table == nullptr || *size < needed) {
        *size = static_cast<ULONG>(needed);
        FKept = TKept::Routes;
        return Fail(winerror::InsufficientBuffer);
    }
    if (order != 0) {
        // By destination, then mask, metric and next hop, as numbers in host order. The kernel
        // dumps its table in nearly this order already.
        const auto before = [](const TRoute& a, const TRoute& b) {
            const std::uint32_t destA = ntohl(a.Dest);
            const std::uint32_t destB = ntohl(b.Dest);
            if (destA != destB) {
                return destA < destB;
            }
            if (a.PrefixLength != b.PrefixLength) {
                return a.PrefixLength < b.PrefixLength;
            }
            if (a.Priority != b.Priority) {
                return a.Priority < b.Priority;
            }
            return ntohl(a.Gateway) < ntohl(b.Gateway);
        };
        if (!std::is_sorted(FRoutes.begin(), FRoutes.end(), before)) {
            std::stable_sort(FRoutes.begin(), FRoutes.end(), before);
            FRouteIndex.clear();
        }
    }
    table->dwNumEntries = static_cast<DWORD>(FRoutes.size());
    // The rows go straight into the caller's buffer, one DWORD (the row count) in.
    unsigned char* out =
        reinterpret_cast<unsigned char*>(table) + offsetof(MIB_IPFORWARDTABLE, table);
    for (const TRoute& route : FRoutes) {
        MIB_IPFORWARDROW row{};
        row.dwForwardDest = route.Dest;
        row.dwForwardMask = MaskOf(route.PrefixLength);
        row.dwForwardPolicy = route.Tos; // the row's policy field holds the IP type of service
        row.dwForwardNextHop = route.Gateway;
        row.dwForwardIfIndex = route.IfIndex;
        row.dwForwardType = route.Type != RTN_UNICAST ? MibIpRouteTypeOther
                            : route.Gateway != 0      ? MibIpRouteTypeIndirect
                                                      : MibIpRouteTypeDirect;
        row.dwForwardProto = MibIpProtoNetMgmt;
        row.dwForwardMetric1 = route.Priority;
        row.dwForwardMetric2 = row.dwForwardMetric3 = row.dwForwardMetric4 = row.dwForwardMetric5 =
            0xFFFFFFFFu;
        std::memcpy(out, &row, sizeof row);
        out += sizeof row;
    }
    *size = static_cast<ULONG>(needed);
    return winerror::Success;
}

DWORD TNetlinkIpHelper::CreateIpForwardEntry(const MIB_IPFORWARDROW* row) {
    if (row == nullptr) {
        return Fail(winerror::InvalidParameter);
    }
    // A mask must be contiguous and the destination may not have bits outside it: answered here,
    // as Windows does, without asking the kernel.
    if (!IsContiguousMask(row->dwForwardMask) || (row->dwForwardDest & ~row->dwForwardMask) != 0) {
        return Fail(winerror::InvalidParameter);
    }
    if (!FSocket.Valid()) {
        return Fail(Win32ErrorFromErrno(FSocket.OpenError()));
    }
    rtmsg header{};
    header.rtm_table = RT_TABLE_MAIN;
    header.rtm_protocol = RTPROT_STATIC;
    // Without a next hop the network is on the link itself.
    header.rtm_scope = row->dwForwardNextHop != 0 ? RT_SCOPE_UNIVERSE : RT_SCOPE_LINK;
    header.rtm_type = RTN_UNICAST;
    // ip route add DEST/LEN [via HOP] [dev IF] metric M
    int err = ChangeRoute(RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL, header, *row, true);
    if (err == EEXIST && !SameRouteExists(*row)) {
        // The kernel keys a route by destination, metric and type of service: one through another
        // next hop (a gateway that changed) is replaced, where Windows would keep both.
        // ip route replace DEST/LEN [via HOP] [dev IF] metric M
        err = ChangeRoute(RTM_NEWROUTE, NLM_F_CREATE | NLM_F_REPLACE, header, *row, true);
    }
    return err == 0 ? winerror::Success : Fail(RouteChangeError(err));
}

bool TNetlinkIpHelper::SameRouteExists(const MIB_IPFORWARDROW& row) {
    // Routes are found by the kernel's key: destination, prefix length, metric, type of service.
    const auto key = [](const TRoute& route) {
        return std::tuple(route.Dest, route.PrefixLength, route.Priority, route.Tos);
    };
    TRoute wanted;
    wanted.Dest = row.dwForwardDest;
    wanted.PrefixLength = static_cast<std::uint8_t>(std::popcount(ntohl(row.dwForwardMask)));
    wanted.Priority = row.dwForwardMetric1;
    const auto same = [&]() {
        if (FRouteIndex.size() != FRoutes.size()) {
            FRouteIndex.resize(FRoutes.size());
            std::iota(FRouteIndex.begin(), FRouteIndex.end(), std::size_t{0});
            std::sort(FRouteIndex.begin(), FRouteIndex.end(), [&](std::size_t a, std::size_t b) {
                return key(FRoutes[a]) < key(FRoutes[b]);
            });
        }
        const auto found = std::lower_bound(
            FRouteIndex.begin(), FRouteIndex.end(), key(wanted),
            [&](std::size_t index, const auto& value) { return key(FRoutes[index]) < value; });
        if (found == FRouteIndex.end() || key(FRoutes[*found]) != key(wanted)) {
            return false;
        }
        const TRoute& route = FRoutes[*found];
        return route.Type == RTN_UNICAST && route.Gateway == row.dwForwardNextHop &&
               (row.dwForwardIfIndex == 0 || route.IfIndex == row.dwForwardIfIndex);
    };
    // The table last read (a build reads it first) settles most cases without asking again.
    return same() || (ReadRoutes() == 0 && same());
}

int TNetlinkIpHelper::ChangeRoute(std::uint16_t type, std::uint16_t flags, rtmsg header,
                                  const MIB_IPFORWARDROW& row, bool withHop) {
    FKept = TKept::Nothing; // a kept table is out of date now
    header.rtm_family = AF_INET;
    header.rtm_dst_len = static_cast<unsigned char>(std::popcount(ntohl(row.dwForwardMask)));
    netlink::TRequest request(type, flags, header);
    if (header.rtm_dst_len != 0) {
        request.AddU32(RTA_DST, row.dwForwardDest);
    }
    if (withHop && row.dwForwardNextHop != 0) {
        request.AddU32(RTA_GATEWAY, row.dwForwardNextHop);
    }
    if (withHop && row.dwForwardIfIndex != 0) {
        request.AddU32(RTA_OIF, row.dwForwardIfIndex);
    }
    request.AddU32(RTA_PRIORITY, row.dwForwardMetric1);
    return FSocket.Transact(request);
}

DWORD TNetlinkIpHelper::DeleteIpForwardEntry(const MIB_IPFORWARDROW* row) {
    if (row == nullptr) {
        return Fail(winerror::InvalidParameter);
    }
    if (!IsContiguousMask(row->dwForwardMask)) {
        return Fail(winerror::InvalidParameter);
    }
    if (!FSocket.Valid()) {
        return Fail(Win32ErrorFromErrno(FSocket.OpenError()));
    }
    rtmsg header{};
    header.rtm_table = RT_TABLE_MAIN;
    header.rtm_scope = RT_SCOPE_NOWHERE; // any scope, any protocol, any type: the row decides
    header.rtm_tos = static_cast<unsigned char>(row->dwForwardPolicy);
    // ip route del DEST/LEN [tos T] [via HOP] [dev IF] metric M
    int err = ChangeRoute(RTM_DELROUTE, 0, header, *row, true);
    if (err == ESRCH && row->dwForwardDest == 0 && row->dwForwardMask == 0) {
        // A default route through a nexthop object matches no request naming a next hop.
        // ip route del default [tos T] metric M
        err = ChangeRoute(RTM_DELROUTE, 0, header, *row, false);
    }
    if (err == 0) {
        return winerror::Success;
    }
    return Fail(err == ESRCH ? winerror::NotFound : RouteChangeError(err));
}

DWORD TNetlinkIpHelper::GetBestInterface(DWORD destAddr, DWORD* bestIfIndex) {
    if (bestIfIndex == nullptr) {
        return Fail(winerror::InvalidParameter);
    }
    FKept = TKept::Nothing;
    // ip route get DEST
    rtmsg header{};
    header.rtm_family = AF_INET;
    header.rtm_dst_len = 32;
    netlink::TRequest request(RTM_GETROUTE, 0, header);
    request.AddU32(RTA_DST, destAddr);
    std::optional<std::uint32_t> index;
    bool interrupted = false;
    const int err = FSocket.Transact(
        request,
        [&index](const TMessage& message) {
            if (message.Header.nlmsg_type != RTM_NEWROUTE ||
                message.Payload.size() < sizeof(rtmsg)) {
                return;
            }
            netlink::ForEachAttribute(netlink::AttributesAfter(message.Payload, sizeof(rtmsg)),
                                      [&index](std::uint16_t attribute, TBytes data) {
                                          if (attribute == RTA_OIF && data.size() >= 4) {
                                              index = netlink::U32(data);
                                          }
                                      });
        },
        interrupted);
    if (err != 0) {
        return Fail(Win32ErrorFromErrno(err));
    }
    if (!index) {
        return Fail(winerror::NotFound);
    }
    *bestIfIndex = *index;
    return winerror::Success;
}

ULONG TNetlinkIpHelper::inet_addr(LPCSTR text) {
    return text == nullptr ? InaddrNone : ::inet_addr(text);
}

BOOL TNetlinkIpHelper::GetVersionExA(OSVERSIONINFOA* info) {
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        Fail(winerror::InvalidParameter);
        return 0;
    }
    // Not Windows: no version the core would take for Vista or later.
    *info = OSVERSIONINFOA{};
    info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    return 1;
}

bool TNetlinkIpHelper::ReadNotifications() {
    bool news = false;
    const int err = FNotifications.ReadPending([&](const TMessage& message) {
        if (message.Header.nlmsg_pid != FSocket.PortId()) {
            news = true;
        }
    });
    // Without the socket, or after the kernel dropped news it had no room for, nothing can be
    // ruled out.
    if (err != 0) {
        news = true;
    }
    FChanged = FChanged || news;
    return news;
}

bool TNetlinkIpHelper::TableMayHaveChanged() {
    ReadNotifications();
    return std::exchange(FChanged, false) || !FNotifications.Valid();
}

std::string TNetlinkIpHelper::ErrorText(DWORD code) {
    return Win32ErrorText(code);
}

bool TLinuxRegistry::DeleteLocalMachineValue(const std::string&, const std::string&) {
    return false;
}

} // namespace brindlecove
