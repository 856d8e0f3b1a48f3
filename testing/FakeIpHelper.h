#pragma once
// An in-memory routing table and adapter list with scripted answers, and a registry of persistent
// routes, for the route table builder's tests.

#include "routing/IpHelperPort.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace brindlecove::testing {

struct TFakeAdapter {
    std::string Description;
    DWORD Index = 0;
    std::string Address = "0.0.0.0";
    std::string Gateway;
};

class TFakeIpHelper final : public IIpHelperPort {
public:
    std::vector<TFakeAdapter> Adapters;
    std::vector<MIB_IPFORWARDROW> Routes;
    DWORD MajorVersion = 5; // Windows XP unless told otherwise

    // Scripted answers: of CreateIpForwardEntry per destination text ("*" for every route), of
    // GetBestInterface, of reading the table, and the last error with its text.
    std::map<std::string, DWORD> CreateResults;
    DWORD BestInterfaceResult = 0;
    DWORD BestInterfaceIndex = 0;
    DWORD ForwardTableResult = 0;
    int GrowTableBeforeRead = 0; // rows that appear between the size query and the read
    DWORD DeleteResult = 0;      // a refusal of DeleteIpForwardEntry, the row kept
    DWORD LastError = 0;
    std::map<DWORD, std::string> ErrorTexts;

    std::vector<std::string> Calls; // "create 196.4.0.0/255.255.0.0 10.0.0.1 if3 m2", ...

    // The rows whose destination is `dest`, as "dest/mask via next-hop if N metric M".
    std::vector<std::string> RoutesTo(const std::string& dest) const;
    static std::string Describe(const MIB_IPFORWARDROW& row);
    void AddRoute(const std::string& dest, const std::string& mask, const std::string& nextHop,
                  DWORD ifIndex, DWORD metric);

    DWORD GetAdaptersInfo(IP_ADAPTER_INFO* info, ULONG* size) override;
    DWORD GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL order) override;
    DWORD CreateIpForwardEntry(const MIB_IPFORWARDROW* row) override;
    DWORD DeleteIpForwardEntry(const MIB_IPFORWARDROW* row) override;
    DWORD GetBestInterface(DWORD destAddr, DWORD* bestIfIndex) override;
    ULONG inet_addr(LPCSTR text) override;
    BOOL GetVersionExA(OSVERSIONINFOA* info) override;
    DWORD GetLastError() override { return LastError; }
    std::string ErrorText(DWORD code) override;
};

class TFakeRegistry final : public IRegistryPort {
public:
    std::set<std::string> Values; // value names under the persistent-routes key
    std::vector<std::string> Deleted;
    bool KeyExists = true;

    bool DeleteLocalMachineValue(const std::string& subKey, const std::string& valueName) override;
};

// inet_addr's reading of a text: one to four parts (decimal, 0 octal, 0x hexadecimal), the last
// filling the remaining bytes; INADDR_NONE for anything else.
ULONG ParseInetAddr(const std::string& text);

} // namespace brindlecove::testing
