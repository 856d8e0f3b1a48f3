#include "routing/win32/Win32IpHelper.h"

// clang-format off
#include <winsock2.h> // before <windows.h>, which would bring in the older winsock.h
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include "common/win32/Handles.h"
#include "common/win32/SystemMessage.h"

#include <cstddef>

// The project's structures are handed to the system as they are: every field the program reads
// must lie where the platform headers put it, on 32-bit and 64-bit builds alike.
#define BRINDLECOVE_SAME_FIELD(type, field)                                                        \
    static_assert(offsetof(brindlecove::type, field) == offsetof(::type, field) &&                 \
                      sizeof(brindlecove::type::field) == sizeof(::type::field),                   \
                  #type "::" #field " differs from the platform headers")

static_assert(sizeof(brindlecove::DWORD) == sizeof(::DWORD));
static_assert(sizeof(brindlecove::ULONG) == sizeof(::ULONG));
static_assert(sizeof(brindlecove::BOOL) == sizeof(::BOOL));
static_assert(brindlecove::InaddrNone == INADDR_NONE);

static_assert(sizeof(brindlecove::MIB_IPFORWARDROW) == sizeof(::MIB_IPFORWARDROW));
static_assert(alignof(brindlecove::MIB_IPFORWARDROW) == alignof(::MIB_IPFORWARDROW));
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardDest);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardMask);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardPolicy);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardNextHop);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardIfIndex);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardType);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardProto);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardAge);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardNextHopAS);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardMetric1);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardMetric2);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardMetric3);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardMetric4);
BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDROW, dwForwardMetric5);

BRINDLECOVE_SAME_FIELD(MIB_IPFORWARDTABLE, dwNumEntries);
static_assert(offsetof(brindlecove::MIB_IPFORWARDTABLE, table) ==
              offsetof(::MIB_IPFORWARDTABLE, table));

static_assert(sizeof(brindlecove::IP_ADDR_STRING) == sizeof(::IP_ADDR_STRING));
BRINDLECOVE_SAME_FIELD(IP_ADDR_STRING, Next);
BRINDLECOVE_SAME_FIELD(IP_ADDR_STRING, IpAddress);

// The whole structures differ in size on i686, where the platform's time_t, and with it the two
// lease fields at the end, is 32 bits wide. The program never reads those; the list is read into
// a buffer of the project's structures sized in bytes, which needs only their alignment to do for
// the platform's.
static_assert(alignof(brindlecove::IP_ADAPTER_INFO) >= alignof(::IP_ADAPTER_INFO));
BRINDLECOVE_SAME_FIELD(IP_ADAPTER_INFO, Next);
BRINDLECOVE_SAME_FIELD(IP_ADAPTER_INFO, Description);
BRINDLECOVE_SAME_FIELD(IP_ADAPTER_INFO, Index);
BRINDLECOVE_SAME_FIELD(IP_ADAPTER_INFO, IpAddressList);
BRINDLECOVE_SAME_FIELD(IP_ADAPTER_INFO, GatewayList);

static_assert(sizeof(brindlecove::OSVERSIONINFOA) == sizeof(::OSVERSIONINFOA));
BRINDLECOVE_SAME_FIELD(OSVERSIONINFOA, dwOSVersionInfoSize);
BRINDLECOVE_SAME_FIELD(OSVERSIONINFOA, dwMajorVersion);

#undef BRINDLECOVE_SAME_FIELD

namespace brindlecove {

// The size arguments go through variables of the platform's own types (unsigned long there,
// std::uint32_t here: the same 32 bits, but different types to the compiler).

DWORD TWin32IpHelper::GetAdaptersInfo(IP_ADAPTER_INFO* info, ULONG* size) {
    ::ULONG platformSize = size != nullptr ? *size : 0;
    const ::DWORD result = ::GetAdaptersInfo(reinterpret_cast<::IP_ADAPTER_INFO*>(info),
                                             size != nullptr ? &platformSize : nullptr);
    if (size != nullptr) {
        *size = platformSize;
    }
    return result;
}

DWORD TWin32IpHelper::GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) {
    ::ULONG platformSize = size != nullptr ? *size : 0;
    const ::DWORD result = ::GetIpForwardTable(reinterpret_cast<::MIB_IPFORWARDTABLE*>(table),
                                               size != nullptr ? &platformSize : nullptr, order);
    if (size != nullptr) {
        *size = platformSize;
    }
    return result;
}

// The system only reads the row; its declaration just lacks the const.
DWORD TWin32IpHelper::CreateIpForwardEntry(const MIB_IPFORWARDROW* row) {
    return ::CreateIpForwardEntry(
        reinterpret_cast<::MIB_IPFORWARDROW*>(const_cast<MIB_IPFORWARDROW*>(row)));
}

DWORD TWin32IpHelper::DeleteIpForwardEntry(const MIB_IPFORWARDROW* row) {
    return ::DeleteIpForwardEntry(
        reinterpret_cast<::MIB_IPFORWARDROW*>(const_cast<MIB_IPFORWARDROW*>(row)));
}

DWORD TWin32IpHelper::GetBestInterface(DWORD destAddr, DWORD* bestIfIndex) {
    ::DWORD index = bestIfIndex != nullptr ? *bestIfIndex : 0;
    const ::DWORD result = ::GetBestInterface(destAddr, bestIfIndex != nullptr ? &index : nullptr);
    if (bestIfIndex != nullptr) {
        *bestIfIndex = index;
    }
    return result;
}

// inet_addr only parses text: it needs no WSAStartup.
ULONG TWin32IpHelper::inet_addr(LPCSTR text) {
    if (text == nullptr) {
        return InaddrNone;
    }
    return ::inet_addr(text);
}

// Some platform headers mark GetVersionExA deprecated in favour of the version helpers; the
// program wants the version the system reports to it, so the call stays.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
BOOL TWin32IpHelper::GetVersionExA(OSVERSIONINFOA* info) {
    return ::GetVersionExA(reinterpret_cast<::OSVERSIONINFOA*>(info));
}
#pragma GCC diagnostic pop

DWORD TWin32IpHelper::GetLastError() {
    return ::GetLastError();
}

std::string TWin32IpHelper::ErrorText(DWORD code) {
    return SystemMessageText(code);
}

bool TWin32Registry::DeleteLocalMachineValue(const std::string& subKey,
                                             const std::string& valueName) {
    // The system reads the names up to their first NUL: a name with one inside would open or
    // delete something other than what was asked for.
    if (subKey.find('\0') != std::string::npos || valueName.find('\0') != std::string::npos) {
        return false;
    }
    TRegistryKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_ALL_ACCESS, key.Receive()) !=
        ERROR_SUCCESS) {
        return false;
    }
    return ::RegDeleteValueA(key.Get(), valueName.c_str()) == ERROR_SUCCESS;
}

} // namespace brindlecove
