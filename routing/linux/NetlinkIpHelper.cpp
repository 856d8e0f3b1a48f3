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
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <utility>

namespace brindlecove {

// ---- Netlink message helpers -----------------------------------------------------------------

namespace {

// A mask of leading ones only (in network order, as the rows hold it).
bool IsContiguousMask(DWORD mask) {
    const std::uint32_t holes = ~ntohl(mask);
    return (holes & (holes + 1)) == 0;
}

static_assert(sizeof(nlmsghdr) == 16);

constexpr std::size_t ReceiveBufferSize = 64 * 1024; // above the kernel's largest dump message
constexpr int DumpAttempts = 8;
constexpr int ReplyTimeoutSeconds = 5;
constexpr std::uint32_t MibIfTypeOther = 1;
constexpr std::uint32_t MibIfTypeEthernet = 6;
constexpr std::uint32_t MibIfTypePpp = 23;

constexpr std::size_t Align4(std::size_t n) {
    return (n + 3u) & ~std::size_t{3u};
}

template <typename T>
T ReadAs(const unsigned char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Calls visit(type, data, size) for each attribute in [p, p + size).
template <typename TVisit>
void ForEachAttribute(const unsigned char* p, std::size_t size, const TVisit& visit) {
    while (size >= sizeof(rtattr)) {
        const auto attribute = ReadAs<rtattr>(p);
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > size) {
            return;
        }
        visit(static_cast<std::uint16_t>(attribute.rta_type & NLA_TYPE_MASK), p + sizeof(rtattr),
              attribute.rta_len - sizeof(rtattr));
        const std::size_t step = std::min(Align4(attribute.rta_len), size);
        p += step;
        size -= step;
    }
}

std::uint32_t U32(const unsigned char* data, std::size_t size) {
    return size >= 4 ? ReadAs<std::uint32_t>(data) : 0;
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

struct TNetlinkIpHelper::TAddress {
    std::uint32_t Index = 0;
    std::uint32_t Local = 0;
    std::uint32_t Address = 0;
    bool HasLocal = false;
    bool HasAddress = false;
    std::uint8_t PrefixLength = 0;
};

// ---- The socket ------------------------------------------------------------------------------

TNetlinkIpHelper::TNetlinkIpHelper() : FReceive(ReceiveBufferSize) {
    TUniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd.Valid()) {
        FOpenError = errno;
        return;
    }
    const int on = 1;
    // The kernel's explanation of a refusal, and acks without a copy of the request. Neither is
    // needed to work: kernels without them still answer every request.
    ::setsockopt(fd.Get(), SOL_NETLINK, NETLINK_EXT_ACK, &on, sizeof on);
    ::setsockopt(fd.Get(), SOL_NETLINK, NETLINK_CAP_ACK, &on, sizeof on);
    // An answer that never comes (a lost ack) ends the call with an error instead of a hang.
    const timeval timeout{ReplyTimeoutSeconds, 0};
    if (::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        FOpenError = errno;
        return;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        FOpenError = errno;
        return;
    }
    socklen_t length = sizeof local;
    if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        FOpenError = errno;
        return;
    }
    FPortId = local.nl_pid;
    FSocket = std::move(fd);
}

TNetlinkIpHelper::~TNetlinkIpHelper() = default;

DWORD TNetlinkIpHelper::Fail(DWORD code) {
    FLastError = code;
    return code;
}

void TNetlinkIpHelper::BeginRequest(std::uint16_t type, std::uint16_t flags,
                                    std::size_t familySize) {
    FRequestLength = FHeaderSize + Align4(familySize);
    std::memset(FRequest.data(), 0, FRequestLength);
    nlmsghdr header{};
    header.nlmsg_type = type;
    header.nlmsg_flags = static_cast<std::uint16_t>(flags | NLM_F_REQUEST | NLM_F_ACK);
    std::memcpy(FRequest.data(), &header, sizeof header);
}

void TNetlinkIpHelper::AddAttribute(std::uint16_t type, const void* data, std::size_t size) {
    rtattr attribute{};
    attribute.rta_len = static_cast<unsigned short>(sizeof(rtattr) + size);
    attribute.rta_type = type;
    unsigned char* p = FRequest.data() + FRequestLength;
    std::memcpy(p, &attribute, sizeof attribute);
    std::memcpy(p + sizeof attribute, data, size);
    FRequestLength += Align4(sizeof attribute + size);
}

template <typename TVisit>
int TNetlinkIpHelper::Transact(const TVisit& visit, bool& interrupted) {
    FKept = TKept::Nothing; // whatever this request does, a kept table may be out of date now
    interrupted = false;
    FKernelMessage.clear();
    const std::uint32_t sequence = ++FSequence;
    nlmsghdr header = ReadAs<nlmsghdr>(FRequest.data());
    header.nlmsg_len = static_cast<std::uint32_t>(FRequestLength);
    header.nlmsg_seq = sequence;
    header.nlmsg_pid = FPortId;
    std::memcpy(FRequest.data(), &header, sizeof header);
    const bool dump = (header.nlmsg_flags & NLM_F_DUMP) == NLM_F_DUMP;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent = 0;
    do {
        sent = ::sendto(FSocket.Get(), FRequest.data(), FRequestLength, 0,
                        reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        return errno;
    }
    if (static_cast<std::size_t>(sent) != FRequestLength) {
        return EIO;
    }

    for (;;) {
        sockaddr_nl from{};
        iovec io{FReceive.data(), FReceive.size()};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        const ssize_t received = ::recvmsg(FSocket.Get(), &message, 0);
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            // EAGAIN: no answer in time. ENOBUFS: answers were dropped, ours perhaps among them;
            // either way the outcome is unknown and must not pass for success.
            return errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : errno;
        }
        if ((message.msg_flags & MSG_TRUNC) != 0) {
            return EMSGSIZE;
        }
        if (from.nl_pid != 0) {
            continue; // only the kernel answers requests
        }
        const unsigned char* p = FReceive.data();
        std::size_t left = static_cast<std::size_t>(received);
        while (left >= sizeof(nlmsghdr)) {
            const auto answer = ReadAs<nlmsghdr>(p);
            if (answer.nlmsg_len < sizeof(nlmsghdr) || answer.nlmsg_len > left) {
                break; // a malformed tail: nothing more to read in this datagram
            }
            const unsigned char* payload = p + sizeof(nlmsghdr);
            const std::size_t payloadSize = answer.nlmsg_len - sizeof(nlmsghdr);
            const std::size_t step = std::min(Align4(answer.nlmsg_len), left);
            p += step;
            left -= step;
            if (answer.nlmsg_pid != FPortId || answer.nlmsg_seq != sequence) {
                continue; // an answer to an earlier request that was given up
            }
            if ((answer.nlmsg_flags & NLM_F_DUMP_INTR) != 0) {
                interrupted = true;
            }
            if (answer.nlmsg_type == NLMSG_ERROR) {
                if (payloadSize < sizeof(nlmsgerr)) {
                    return EPROTO;
                }
                const auto error = ReadAs<nlmsgerr>(payload);
                if ((answer.nlmsg_flags & NLM_F_ACK_TLVS) != 0) {
                    std::size_t offset = sizeof(nlmsgerr);
                    if ((answer.nlmsg_flags & NLM_F_CAPPED) == 0 &&
                        error.msg.nlmsg_len >= sizeof(nlmsghdr)) {
                        offset += Align4(error.msg.nlmsg_len - sizeof(nlmsghdr));
                    }
                    if (offset < payloadSize) {
                        ForEachAttribute(
                            payload + offset, payloadSize - offset,
                            [this](std::uint16_t type, const unsigned char* data,
                                   std::size_t size) {
                                if (type == NLMSGERR_ATTR_MSG) {
                                    const auto* text = reinterpret_cast<const char*>(data);
                                    FKernelMessage.assign(text, std::find(text, text + size, '\0'));
                                }
                            });
                    }
                }
                return -error.error;
            }
            if (answer.nlmsg_type == NLMSG_DONE) {
                if (!dump) {
                    continue;
                }
                return payloadSize >= sizeof(int) ? -ReadAs<int>(payload) : 0;
            }
            if (answer.nlmsg_type == NLMSG_OVERRUN) {
                return ENOBUFS;
            }
            if (answer.nlmsg_type >= NLMSG_MIN_TYPE) {
                visit(answer.nlmsg_type, payload, payloadSize);
            }
        }
    }
}

template <typename TVisit, typename TReset>
int TNetlinkIpHelper::Dump(std::uint16_t type, std::size_t familySize, std::uint8_t family,
                           const TVisit& visit, const TReset& reset) {
    if (!FSocket.Valid()) {
        return FOpenError;
    }
    for (int attempt = 0; attempt < DumpAttempts; ++attempt) {
        reset();
        BeginRequest(type, NLM_F_DUMP, familySize);
        *FamilyHeader() = family; // every family header starts with its address family
        bool interrupted = false;
        const int err = Transact(visit, interrupted);
        if (err != 0) {
            return err;
        }
        if (!interrupted) {
            return 0;
        }
    }
    return EAGAIN; // the table kept changing under every attempt
}

// ---- Reading the kernel's tables -------------------------------------------------------------

int TNetlinkIpHelper::ReadRoutes() {
    const auto visit = [this](std::uint16_t type, const unsigned char* payload, std::size_t size) {
        if (type != RTM_NEWROUTE || size < sizeof(rtmsg)) {
            return;
        }
        const auto header = ReadAs<rtmsg>(payload);
        if (header.rtm_family != AF_INET || header.rtm_type != RTN_UNICAST) {
            return;
        }
        std::uint32_t table = header.rtm_table;
        TRoute route;
        route.PrefixLength = std::min<std::uint8_t>(header.rtm_dst_len, 32);
        ForEachAttribute(
            payload + Align4(sizeof(rtmsg)), size - std::min(size, Align4(sizeof(rtmsg))),
            [&](std::uint16_t attribute, const unsigned char* data, std::size_t length) {
                switch (attribute) {
                case RTA_TABLE:
                    table = U32(data, length);
                    break;
                case RTA_DST:
                    route.Dest = U32(data, length);
                    break;
                case RTA_GATEWAY:
                    route.Gateway = U32(data, length);
                    break;
                case RTA_OIF:
                    route.IfIndex = U32(data, length);
                    break;
                case RTA_PRIORITY:
                    route.Priority = U32(data, length);
                    break;
                case RTA_MULTIPATH:
                    // A route over several next hops: shown through its first one.
                    if (length >= sizeof(rtnexthop) && route.IfIndex == 0) {
                        const auto hop = ReadAs<rtnexthop>(data);
                        route.IfIndex = static_cast<std::uint32_t>(hop.rtnh_ifindex);
                        if (hop.rtnh_len > sizeof(rtnexthop) && hop.rtnh_len <= length) {
                            ForEachAttribute(
                                data + sizeof(rtnexthop), hop.rtnh_len - sizeof(rtnexthop),
                                [&](std::uint16_t t, const unsigned char* d, std::size_t n) {
                                    if (t == RTA_GATEWAY) {
                                        route.Gateway = U32(d, n);
                                    }
                                });
                        }
                    }
                    break;
                default:
                    break;
                }
            });
        if (table == RT_TABLE_MAIN) {
            FRoutes.push_back(route);
        }
    };
    return Dump(RTM_GETROUTE, sizeof(rtmsg), AF_INET, visit, [this] { FRoutes.clear(); });
}

int TNetlinkIpHelper::ReadLinks(std::vector<TLink>& links) {
    const auto visit = [&links](std::uint16_t type, const unsigned char* payload,
                                std::size_t size) {
        if (type != RTM_NEWLINK || size < sizeof(ifinfomsg)) {
            return;
        }
        const auto header = ReadAs<ifinfomsg>(payload);
        TLink link;
        link.Index = static_cast<std::uint32_t>(header.ifi_index);
        link.Flags = header.ifi_flags;
        link.Type = header.ifi_type;
        ForEachAttribute(
            payload + Align4(sizeof(ifinfomsg)), size - std::min(size, Align4(sizeof(ifinfomsg))),
            [&](std::uint16_t attribute, const unsigned char* data, std::size_t length) {
                if (attribute == IFLA_IFNAME) {
                    const auto* text = reinterpret_cast<const char*>(data);
                    link.Name.assign(text, std::find(text, text + length, '\0'));
                } else if (attribute == IFLA_ADDRESS) {
                    link.HardwareLength =
                        static_cast<unsigned>(std::min<std::size_t>(length, sizeof link.Hardware));
                    std::memcpy(link.Hardware, data, link.HardwareLength);
                }
            });
        links.push_back(std::move(link));
    };
    return Dump(RTM_GETLINK, sizeof(ifinfomsg), AF_UNSPEC, visit, [&links] { links.clear(); });
}

int TNetlinkIpHelper::ReadAddresses(std::vector<TAddress>& addresses) {
    const auto visit = [&addresses](std::uint16_t type, const unsigned char* payload,
                                    std::size_t size) {
        if (type != RTM_NEWADDR || size < sizeof(ifaddrmsg)) {
            return;
        }
        const auto header = ReadAs<ifaddrmsg>(payload);
        if (header.ifa_family != AF_INET) {
            return;
        }
        TAddress address;
        address.Index = header.ifa_index;
        address.PrefixLength = std::min<std::uint8_t>(header.ifa_prefixlen, 32);
        ForEachAttribute(
            payload + Align4(sizeof(ifaddrmsg)), size - std::min(size, Align4(sizeof(ifaddrmsg))),
            [&](std::uint16_t attribute, const unsigned char* data, std::size_t length) {
                if (attribute == IFA_LOCAL && length >= 4) {
                    address.Local = U32(data, length);
                    address.HasLocal = true;
                } else if (attribute == IFA_ADDRESS && length >= 4) {
                    address.Address = U32(data, length);
                    address.HasAddress = true;
                }
            });
        if (address.HasLocal || address.HasAddress) {
            addresses.push_back(address);
        }
    };
    return Dump(RTM_GETADDR, sizeof(ifaddrmsg), AF_INET, visit,
                [&addresses] { addresses.clear(); });
}

// ---- The port --------------------------------------------------------------------------------

int TNetlinkIpHelper::ReadAdapters() {
    FAdapters.clear();
    std::vector<TLink> links;
    std::vector<TAddress> addresses;
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

        const auto address =
            std::find_if(addresses.begin(), addresses.end(),
                         [&link](const TAddress& a) { return a.Index == link.Index; });
        std::uint32_t local = 0;
        std::uint32_t mask = 0;
        std::uint32_t peer = 0;
        if (address != addresses.end()) {
            local = address->HasLocal ? address->Local : address->Address;
            mask = MaskOf(address->PrefixLength);
            if (address->HasLocal && address->HasAddress && address->Address != address->Local) {
                peer = address->Address; // the far end of a point-to-point link
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
        row.dwForwardNextHop = route.Gateway;
        row.dwForwardIfIndex = route.IfIndex;
        row.dwForwardType = route.Gateway != 0 ? MibIpRouteTypeIndirect : MibIpRouteTypeDirect;
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
        return Fail(Win32ErrorFromErrno(FOpenError));
    }
    rtmsg header{};
    header.rtm_table = RT_TABLE_MAIN;
    header.rtm_protocol = RTPROT_STATIC;
    // Without a next hop the network is on the link itself.
    header.rtm_scope = row->dwForwardNextHop != 0 ? RT_SCOPE_UNIVERSE : RT_SCOPE_LINK;
    header.rtm_type = RTN_UNICAST;
    const int err = ChangeRoute(RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL, header, *row);
    return err == 0 ? winerror::Success : Fail(RouteChangeError(err));
}

int TNetlinkIpHelper::ChangeRoute(std::uint16_t type, std::uint16_t flags, rtmsg header,
                                  const MIB_IPFORWARDROW& row) {
    header.rtm_family = AF_INET;
    header.rtm_dst_len = static_cast<unsigned char>(std::popcount(ntohl(row.dwForwardMask)));
    BeginRequest(type, flags, sizeof(rtmsg));
    std::memcpy(FamilyHeader(), &header, sizeof header);
    if (header.rtm_dst_len != 0) {
        AddAttribute(RTA_DST, &row.dwForwardDest, 4);
    }
    if (row.dwForwardNextHop != 0) {
        AddAttribute(RTA_GATEWAY, &row.dwForwardNextHop, 4);
    }
    if (row.dwForwardIfIndex != 0) {
        AddAttribute(RTA_OIF, &row.dwForwardIfIndex, 4);
    }
    AddAttribute(RTA_PRIORITY, &row.dwForwardMetric1, 4);
    bool interrupted = false;
    return Transact([](std::uint16_t, const unsigned char*, std::size_t) {}, interrupted);
}

DWORD TNetlinkIpHelper::DeleteIpForwardEntry(const MIB_IPFORWARDROW* row) {
    if (row == nullptr) {
        return Fail(winerror::InvalidParameter);
    }
    if (!IsContiguousMask(row->dwForwardMask)) {
        return Fail(winerror::InvalidParameter);
    }
    if (!FSocket.Valid()) {
        return Fail(Win32ErrorFromErrno(FOpenError));
    }
    rtmsg header{};
    header.rtm_table = RT_TABLE_MAIN;
    header.rtm_scope = RT_SCOPE_NOWHERE; // any scope, any protocol, any type: the row decides
    const int err = ChangeRoute(RTM_DELROUTE, 0, header, *row);
    if (err == 0) {
        return winerror::Success;
    }
    return Fail(err == ESRCH ? winerror::NotFound : RouteChangeError(err));
}

DWORD TNetlinkIpHelper::GetBestInterface(DWORD destAddr, DWORD* bestIfIndex) {
    if (bestIfIndex == nullptr) {
        return Fail(winerror::InvalidParameter);
    }
    if (!FSocket.Valid()) {
        return Fail(Win32ErrorFromErrno(FOpenError));
    }
    BeginRequest(RTM_GETROUTE, 0, sizeof(rtmsg));
    rtmsg header{};
    header.rtm_family = AF_INET;
    header.rtm_dst_len = 32;
    std::memcpy(FamilyHeader(), &header, sizeof header);
    AddAttribute(RTA_DST, &destAddr, 4);
    bool found = false;
    std::uint32_t index = 0;
    bool interrupted = false;
    const int err = Transact(
        [&](std::uint16_t type, const unsigned char* payload, std::size_t size) {
            if (type != RTM_NEWROUTE || size < sizeof(rtmsg)) {
                return;
            }
            ForEachAttribute(
                payload + Align4(sizeof(rtmsg)), size - Align4(sizeof(rtmsg)),
                [&](std::uint16_t attribute, const unsigned char* data, std::size_t length) {
                    if (attribute == RTA_OIF && length >= 4) {
                        index = U32(data, length);
                        found = true;
                    }
                });
        },
        interrupted);
    if (err != 0) {
        return Fail(Win32ErrorFromErrno(err));
    }
    if (!found) {
        return Fail(winerror::NotFound);
    }
    *bestIfIndex = index;
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

std::string TNetlinkIpHelper::ErrorText(DWORD code) {
    std::string text = Win32ErrorText(code);
    if (!text.empty()) {
        return text;
    }
    // The codes of this port that the shared table does not know, in Windows' words.
    switch (code) {
    case winerror::NotSupported:
        return "The request is not supported.";
    case winerror::BufferOverflow:
        return "The file name is too long.";
    case winerror::InsufficientBuffer:
        return "The data area passed to a system call is too small.";
    case winerror::NoData:
        return "The pipe is being closed.";
    case winerror::CanNotComplete:
        return "Cannot complete this function.";
    case winerror::NotFound:
        return "Element not found.";
    case winerror::ObjectAlreadyExists:
        return "The object already exists.";
    default:
        return {};
    }
}

bool TLinuxRegistry::DeleteLocalMachineValue(const std::string&, const std::string&) {
    return false;
}

} // namespace brindlecove
