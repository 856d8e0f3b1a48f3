#pragma once
// The IP Helper port on Linux: the network interfaces, the main IPv4 routing table and route
// lookups through one rtnetlink socket. Each request is acknowledged and its answer matched by
// port id and sequence number; kernel errors become the Win32 codes the route table builder
// understands. And the registry port, which has nothing to do here: Linux keeps no persistent
// routes in a registry.

#include "common/linux/Netlink.h"
#include "routing/IpHelperPort.h"

#include <cstddef>
#include <cstdint>
#include <linux/rtnetlink.h>
#include <optional>
#include <string>
#include <vector>

namespace brindlecove {

class TNetlinkIpHelper final : public IIpHelperPort {
public:
    // Opens the socket; when that fails every call answers the mapped errno.
    TNetlinkIpHelper();
    ~TNetlinkIpHelper() override;
    TNetlinkIpHelper(const TNetlinkIpHelper&) = delete;
    TNetlinkIpHelper& operator=(const TNetlinkIpHelper&) = delete;

    DWORD GetAdaptersInfo(IP_ADAPTER_INFO* info, ULONG* size) override;
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) override;
    DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW* row) override;
    DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW* row) override;
    DWORD GetBestInterface(DWORD destAddr, DWORD* bestIfIndex) override;
    ULONG inet_addr(LPCSTR text) override;
    BOOL GetVersionExA(OSVERSIONINFOA* info) override;
    DWORD GetLastError() override { return FLastError; }
    std::string ErrorText(DWORD code) override;

    bool TableMayHaveChanged() override;
    // The socket that receives the kernel's news of routes, addresses and links (for the event
    // loop to wait on), and reading what it holds: true when something that may matter arrived.
    // Changes this port made itself are not news.
    int NotificationFd() const { return FNotifications.Fd(); }
    bool ReadNotifications();

    // errno of opening the socket; 0 when it is open.
    int OpenError() const { return FSocket.OpenError(); }
    // The kernel's own words for the last refused request (extended ack); empty when it gave none.
    const std::string& KernelMessage() const { return FSocket.KernelMessage(); }

    // One route of the main table as the kernel reports it (addresses as in the rows).
    struct TRoute {
        std::uint32_t Dest = 0;
        std::uint32_t Gateway = 0;
        std::uint32_t IfIndex = 0;
        std::uint32_t Priority = 0;
        std::uint8_t PrefixLength = 0;
        std::uint8_t Type = 0; // RTN_UNICAST, RTN_BLACKHOLE, ...
        std::uint8_t Tos = 0;
    };
    // The route a message of the kernel describes, when it is an IPv4 route of the main table.
    static std::optional<TRoute> ParseRoute(const netlink::TMessage& message);

private:
    struct TLink;

    DWORD Fail(DWORD code);
    // Adds or deletes the route of a row: `header` with the row's prefix length, then the row's
    // destination, next hop and interface (unless !withHop) and metric. Answers 0 or an errno.
    int ChangeRoute(std::uint16_t type, std::uint16_t flags, rtmsg header,
                    const MIB_IPFORWARDROW& row, bool withHop);
    // Whether the main table holds the row's route exactly (same next hop and interface), not
    // just a route with its destination, metric and type of service.
    bool SameRouteExists(const MIB_IPFORWARDROW& row);
    int ReadRoutes();
    // The adapter rows (without their links to each other) into FAdapters.
    int ReadAdapters();
    int ReadLinks(std::vector<TLink>& links);
    int ReadAddresses(std::vector<netlink::TIpv4Address>& addresses);

    netlink::TSocket FSocket;
    netlink::TSocket FNotifications{RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE};
    bool FChanged = true; // news arrived since TableMayHaveChanged last answered
    DWORD FLastError = 0;
    std::vector<TRoute> FRoutes;            // the last table read
    std::vector<std::size_t> FRouteIndex;   // FRoutes by the kernel's key, made when first needed
    std::vector<IP_ADAPTER_INFO> FAdapters; // the last adapter list read
    // What the last call, a size query, read for the fetch that follows it.
    enum class TKept { Nothing, Routes, Adapters } FKept = TKept::Nothing;
};

// No persistent-route store on Linux: nothing is ever deleted.
class TLinuxRegistry final : public IRegistryPort {
public:
    bool DeleteLocalMachineValue(const std::string& subKey, const std::string& valueName) override;
};

} // namespace brindlecove
