#pragma once
// The IP Helper port on Linux: the network interfaces, the main IPv4 routing table and route
// lookups through one rtnetlink socket. Each request is acknowledged and its answer matched by
// port id and sequence number; kernel errors become the Win32 codes the route table builder
// understands. And the registry port, which has nothing to do here: Linux keeps no persistent
// routes in a registry.

#include "common/linux/UniqueFd.h"
#include "routing/IpHelperPort.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <linux/rtnetlink.h>
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

    // errno of opening the socket; 0 when it is open.
    int OpenError() const { return FOpenError; }
    // The kernel's own words for the last refused request (extended ack); empty when it gave none.
    const std::string& KernelMessage() const { return FKernelMessage; }

    // One route of the main table as the kernel reports it (addresses as in the rows).
    struct TRoute {
        std::uint32_t Dest = 0;
        std::uint32_t Gateway = 0;
        std::uint32_t IfIndex = 0;
        std::uint32_t Priority = 0;
        std::uint8_t PrefixLength = 0;
    };

private:
    struct TLink;
    struct TAddress;

    DWORD Fail(DWORD code);
    // Starts a request of `type` in the request buffer: the netlink header and a zeroed family
    // header of `familySize` bytes; attributes follow with AddAttribute.
    void BeginRequest(std::uint16_t type, std::uint16_t flags, std::size_t familySize);
    void AddAttribute(std::uint16_t type, const void* data, std::size_t size);
    unsigned char* FamilyHeader() { return FRequest.data() + FHeaderSize; }
    // Sends the request and hands every answer message to `visit` until the kernel's ack (or the
    // end of a dump). Answers 0 or an errno; `interrupted` tells of a dump the kernel marked as
    // inconsistent.
    template <typename TVisit>
    int Transact(const TVisit& visit, bool& interrupted);
    // A whole dump of `type`, started again while the kernel marks it interrupted; `reset` clears
    // what an interrupted attempt gathered.
    template <typename TVisit, typename TReset>
    int Dump(std::uint16_t type, std::size_t familySize, std::uint8_t family, const TVisit& visit,
             const TReset& reset);
    // Adds or deletes the route of a row: `header` with the row's prefix length, then the row's
    // destination, next hop, interface and metric. Answers 0 or an errno.
    int ChangeRoute(std::uint16_t type, std::uint16_t flags, rtmsg header,
                    const MIB_IPFORWARDROW& row);
    int ReadRoutes();
    // The adapter rows (without their links to each other) into FAdapters.
    int ReadAdapters();
    int ReadLinks(std::vector<TLink>& links);
    int ReadAddresses(std::vector<TAddress>& addresses);

    static constexpr std::size_t FHeaderSize = 16; // sizeof(nlmsghdr)

    TUniqueFd FSocket;
    int FOpenError = 0;
    std::uint32_t FPortId = 0;
    std::uint32_t FSequence = 0;
    DWORD FLastError = 0;
    std::string FKernelMessage;
    alignas(8) std::array<unsigned char, 512> FRequest{};
    std::size_t FRequestLength = 0;
    std::vector<unsigned char> FReceive;    // one receive buffer, kept between calls
    std::vector<TRoute> FRoutes;            // the last table read
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
