#pragma once
// The IP Helper and registry ports on Windows: iphlpapi, ws2_32's inet_addr, GetVersionExA,
// FormatMessageA and the registry functions of advapi32, called as they are.

#include "routing/IpHelperPort.h"

namespace brindlecove {

class TWin32IpHelper final : public IIpHelperPort {
public:
    DWORD GetAdaptersInfo(IP_ADAPTER_INFO* info, ULONG* size) override;
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) override;
    DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW* row) override;
    DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW* row) override;
    DWORD GetBestInterface(DWORD destAddr, DWORD* bestIfIndex) override;
    ULONG inet_addr(LPCSTR text) override;
    BOOL GetVersionExA(OSVERSIONINFOA* info) override;
    DWORD GetLastError() override;
    std::string ErrorText(DWORD code) override;
};

class TWin32Registry final : public IRegistryPort {
public:
    bool DeleteLocalMachineValue(const std::string& subKey, const std::string& valueName) override;
};

} // namespace brindlecove
