#include "testing/FakeIpHelper.h"

#include "routing/IPv4Text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace brindlecove::testing {

ULONG ParseInetAddr(const std::string& text) {
    std::vector<unsigned long> parts;
    const char* p = text.c_str();
    while (true) {
        if (!(*p >= '0' && *p <= '9')) {
            return InaddrNone;
        }
        char* end = nullptr;
        parts.push_back(std::strtoul(p, &end, 0));
        p = end;
        if (*p == '.') {
            ++p;
            continue;
        }
        if (*p != '\0' && *p != ' ') {
            return InaddrNone;
        }
        break;
    }
    if (parts.size() > 4) {
        return InaddrNone;
    }
    unsigned long host = 0; // the address with its first octet highest
    const std::size_t n = parts.size();
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (parts[i] > 255) {
            return InaddrNone;
        }
        host |= parts[i] << (24 - 8 * i);
    }
    const unsigned long lastMax = n == 1 ? 0xFFFFFFFFul : (0xFFFFFFFFul >> (8 * (n - 1)));
    if (parts[n - 1] > lastMax) {
        return InaddrNone;
    }
    host |= parts[n - 1];
    const auto h = static_cast<std::uint32_t>(host);
    return ((h >> 24) & 0xFFu) | ((h >> 8) & 0xFF00u) | ((h << 8) & 0xFF0000u) | (h << 24);
}

std::string TFakeIpHelper::Describe(const MIB_IPFORWARDROW& row) {
    return IntToIP(row.dwForwardDest) + "/" + IntToIP(row.dwForwardMask) + " via " +
           IntToIP(row.dwForwardNextHop) + " if " + std::to_string(row.dwForwardIfIndex) +
           " metric " + std::to_string(row.dwForwardMetric1);
}

std::vector<std::string> TFakeIpHelper::RoutesTo(const std::string& dest) const {
    std::vector<std::string> found;
    for (const MIB_IPFORWARDROW& row : Routes) {
        if (IntToIP(row.dwForwardDest) == dest) {
            found.push_back(Describe(row));
        }
    }
    return found;
}

void TFakeIpHelper::AddRoute(const std::string& dest, const std::string& mask,
                             const std::string& nextHop, DWORD ifIndex, DWORD metric) {
    MIB_IPFORWARDROW row{};
    row.dwForwardDest = ParseInetAddr(dest);
    row.dwForwardMask = ParseInetAddr(mask);
    row.dwForwardNextHop = ParseInetAddr(nextHop);
    row.dwForwardIfIndex = ifIndex;
    row.dwForwardMetric1 = metric;
    Routes.push_back(row);
}

DWORD TFakeIpHelper::GetAdaptersInfo(IP_ADAPTER_INFO* info, ULONG* size) {
    Calls.emplace_back("adapters");
    if (Adapters.empty()) {
        return winerror::NoData;
    }
    const auto needed = static_cast<ULONG>(Adapters.size() * sizeof(IP_ADAPTER_INFO));
    if (info == nullptr || *size < needed) {
        *size = needed;
        return winerror::BufferOverflow;
    }
    for (std::size_t i = 0; i < Adapters.size(); ++i) {
        IP_ADAPTER_INFO& a = info[i];
        a = IP_ADAPTER_INFO{};
        a.Next = i + 1 < Adapters.size() ? &info[i + 1] : nullptr;
        std::strncpy(a.Description, Adapters[i].Description.c_str(), sizeof a.Description - 1);
        a.Index = Adapters[i].Index;
        std::strncpy(a.IpAddressList.IpAddress.String, Adapters[i].Address.c_str(), 15);
        std::strncpy(a.GatewayList.IpAddress.String, Adapters[i].Gateway.c_str(), 15);
    }
    return winerror::Success;
}

DWORD TFakeIpHelper::GetIpForwardTable(MIB_IPFORWARDTABLE* table, ULONG* size, BOOL) {
    Calls.emplace_back(table == nullptr ? "table size" : "table");
    if (table != nullptr && ForwardTableResult != 0) {
        return ForwardTableResult;
    }
    if (table != nullptr && GrowTableBeforeRead > 0) {
        for (; GrowTableBeforeRead > 0; --GrowTableBeforeRead) {
            AddRoute("0.0.0.0", "0.0.0.0", "10.9.9." + std::to_string(GrowTableBeforeRead), 9, 5);
        }
    }
    const auto needed = static_cast<ULONG>(offsetof(MIB_IPFORWARDTABLE, table) +
                                           Routes.size() * sizeof(MIB_IPFORWARDROW));
    if (table == nullptr || *size < needed) {
        *size = needed;
        return winerror::InsufficientBuffer;
    }
    table->dwNumEntries = static_cast<DWORD>(Routes.size());
    std::copy(Routes.begin(), Routes.end(), table->table);
    return winerror::Success;
}

DWORD TFakeIpHelper::CreateIpForwardEntry(const MIB_IPFORWARDROW* row) {
    Calls.push_back("create " + Describe(*row));
    const std::string dest = IntToIP(row->dwForwardDest);
    for (const std::string& key : {dest, std::string("*")}) {
        if (const auto result = CreateResults.find(key); result != CreateResults.end()) {
            return result->second;
        }
    }
    for (const MIB_IPFORWARDROW& existing : Routes) {
        if (existing.dwForwardDest == row->dwForwardDest &&
            existing.dwForwardMask == row->dwForwardMask &&
            existing.dwForwardNextHop == row->dwForwardNextHop &&
            existing.dwForwardIfIndex == row->dwForwardIfIndex) {
            return winerror::ObjectAlreadyExists;
        }
    }
    Routes.push_back(*row);
    return winerror::Success;
}

DWORD TFakeIpHelper::DeleteIpForwardEntry(const MIB_IPFORWARDROW* row) {
    Calls.push_back("delete " + Describe(*row));
    const auto found = std::find_if(Routes.begin(), Routes.end(), [&](const MIB_IPFORWARDROW& r) {
        return std::memcmp(&r, row, sizeof r) == 0;
    });
    if (found == Routes.end()) {
        return winerror::NotFound;
    }
    if (DeleteResult != winerror::Success) {
        return DeleteResult;
    }
    Routes.erase(found);
    return winerror::Success;
}

DWORD TFakeIpHelper::GetBestInterface(DWORD destAddr, DWORD* bestIfIndex) {
    Calls.push_back("best " + IntToIP(destAddr));
    if (BestInterfaceResult == 0) {
        *bestIfIndex = BestInterfaceIndex;
    }
    return BestInterfaceResult;
}

ULONG TFakeIpHelper::inet_addr(LPCSTR text) {
    return ParseInetAddr(text);
}

BOOL TFakeIpHelper::GetVersionExA(OSVERSIONINFOA* info) {
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        return 0;
    }
    info->dwMajorVersion = MajorVersion;
    return 1;
}

std::string TFakeIpHelper::ErrorText(DWORD code) {
    const auto text = ErrorTexts.find(code);
    return text == ErrorTexts.end() ? std::string() : text->second;
}

bool TFakeRegistry::DeleteLocalMachineValue(const std::string& subKey,
                                            const std::string& valueName) {
    if (!KeyExists ||
        subKey != "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\PersistentRoutes") {
        return false;
    }
    Deleted.push_back(valueName);
    return Values.erase(valueName) != 0;
}

} // namespace brindlecove::testing
