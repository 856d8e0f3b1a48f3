#pragma once
// The IPv4 routing table and the network adapters as the route table builder sees them: the
// IP Helper functions it calls, with their arguments, structures and result codes, declared by
// the project (the layout of the platform headers, names apart from their macros).
//
// Addresses in the structures are 32-bit IPv4 values with the first octet in the lowest byte, as
// inet_addr returns them.

#include "common/Win32Errors.h"
#include "common/Win32Types.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace brindlecove {

inline constexpr ULONG InaddrNone = 0xFFFFFFFFu; // INADDR_NONE, inet_addr's "not an address"

inline constexpr DWORD MibIpRouteTypeOther = 1;  // MIB_IPROUTE_TYPE_OTHER
inline constexpr DWORD MibIpRouteTypeDirect = 3; // MIB_IPROUTE_TYPE_DIRECT
inline constexpr DWORD MibIpRouteTypeIndirect = 4;
inline constexpr DWORD MibIpProtoNetMgmt = 3; // MIB_IPPROTO_NETMGMT

struct MIB_IPFORWARDROW {
    DWORD dwForwardDest;
    DWORD dwForwardMask;
    DWORD dwForwardPolicy;
    DWORD dwForwardNextHop;
    DWORD dwForwardIfIndex;
    DWORD dwForwardType;
    DWORD dwForwardProto;
    DWORD dwForwardAge;
    DWORD dwForwardNextHopAS;
    DWORD dwForwardMetric1;
    DWORD dwForwardMetric2;
    DWORD dwForwardMetric3;
    DWORD dwForwardMetric4;
    DWORD dwForwardMetric5;
};
static_assert(sizeof(MIB_IPFORWARDROW) == 56);

struct MIB_IPFORWARDTABLE {
    DWORD dwNumEntries;
    MIB_IPFORWARDROW table[1]; // dwNumEntries rows follow
};

struct IP_ADDRESS_STRING {
    char String[4 * 4];
};

struct IP_ADDR_STRING {
    IP_ADDR_STRING* Next;
    IP_ADDRESS_STRING IpAddress;
    IP_ADDRESS_STRING IpMask;
    DWORD Context;
};

inline constexpr int MaxAdapterNameLength = 256;        // MAX_ADAPTER_NAME_LENGTH
inline constexpr int MaxAdapterDescriptionLength = 128; // MAX_ADAPTER_DESCRIPTION_LENGTH
inline constexpr int MaxAdapterAddressLength = 8;       // MAX_ADAPTER_ADDRESS_LENGTH

struct IP_ADAPTER_INFO {
    IP_ADAPTER_INFO* Next;
    DWORD ComboIndex;
    char AdapterName[MaxAdapterNameLength + 4];
    char Description[MaxAdapterDescriptionLength + 4];
    UINT AddressLength;
    BYTE Address[MaxAdapterAddressLength];
    DWORD Index;
    UINT Type;
    UINT DhcpEnabled;
    IP_ADDR_STRING* CurrentIpAddress;
    IP_ADDR_STRING IpAddressList;
    IP_ADDR_STRING GatewayList;
    IP_ADDR_STRING DhcpServer;
    BOOL HaveWins;
    IP_ADDR_STRING PrimaryWinsServer;
    IP_ADDR_STRING SecondaryWinsServer;
    std::int64_t LeaseObtained; // time_t
    std::int64_t LeaseExpires;  // time_t
};

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    char szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148);

class IIpHelperPort {
public:
    virtual ~IIpHelperPort() = default;

    // GetAdaptersInfo: the adapters as a linked list in the caller's buffer; with too small a
    // buffer ERROR_BUFFER_OVERFLOW and the size needed in *size.
    virtual DWORD GetAdaptersInfo(IP_ADAPTER_INFO* info, ULONG* size) = 0;
    // GetIpForwardTable: the IPv4 routes; with too small a buffer ERROR_INSUFFICIENT_BUFFER and the
    // size needed in *size.
    virtual DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) = 0;
    virtual DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW* row) = 0;
    virtual DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW* row) = 0;
    virtual DWORD GetBestInterface(DWORD destAddr, DWORD* bestIfIndex) = 0;
    // inet_addr of Windows Sockets: also the shorter forms (a.b.c is a.b.0.c), INADDR_NONE when
    // the text is not an address.
    virtual ULONG inet_addr(LPCSTR text) = 0;
    virtual BOOL GetVersionExA(OSVERSIONINFOA* info) = 0;
    // The calling thread's last error code (GetLastError), read right after a failing call.
    virtual DWORD GetLastError() = 0;
    // The system's message text for an error code (FormatMessageA, inserts ignored); empty when
    // there is none.
    virtual std::string ErrorText(DWORD code) = 0;
    // Whether the routing table or the adapters may have changed since the last call, as the
    // events of NotifyRouteChange and NotifyAddrChange would tell. A port that cannot tell
    // answers true, and the caller reads the table again.
    virtual bool TableMayHaveChanged() { return true; }
};

// The registry, as far as the persistent routes need it.
class IRegistryPort {
public:
    virtual ~IRegistryPort() = default;
    // Opens an existing key under HKEY_LOCAL_MACHINE with full access and deletes one value of
    // it (RegOpenKeyExA, RegDeleteValueA, RegCloseKey); true when the value was deleted.
    virtual bool DeleteLocalMachineValue(const std::string& subKey,
                                         const std::string& valueName) = 0;
};

} // namespace brindlecove
