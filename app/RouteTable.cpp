// The main window's adapter lookup and route table builder.
#include "app/brindlecove1.h"
#include "common/AnsiText.h"
#include "common/FixedText.h"
#include "routing/IPv4Text.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace brindlecove {

namespace {

constexpr const char* AdministratorMessage =
    "Brindlecove should be run as Administrator to function correctly on Vista.\r"
    "Please configure Brindlecove to run as an Administrator.\r"
    "\r"
    "To do this:\r"
    "1. Right click on the Brindlecove shortcut/icon\r"
    "2. Click \"Properties\"\r"
    "3. Click \"Compatibility\"\r"
    "4. Enable the \"Run this program as an administrator\" option\r"
    "5. Click \"OK\".";

// The adapter list, read size-then-fetch into a buffer owned by the caller.
class TAdapterList {
public:
    explicit TAdapterList(IIpHelperPort& ipHelper) {
        ULONG size = 0;
        if (ipHelper.GetAdaptersInfo(nullptr, &size) == winerror::Success || size == 0) {
            return;
        }
        FBuffer.assign((size + sizeof(IP_ADAPTER_INFO) - 1) / sizeof(IP_ADAPTER_INFO),
                       IP_ADAPTER_INFO{});
        if (ipHelper.GetAdaptersInfo(FBuffer.data(), &size) != winerror::Success) {
            FBuffer.clear();
        }
    }
    const IP_ADAPTER_INFO* First() const { return FBuffer.empty() ? nullptr : FBuffer.data(); }

private:
    std::vector<IP_ADAPTER_INFO> FBuffer;
};

// The system's text for the last error, as the log shows it: trailing blanks, control characters
// and full stops removed, at most 255 characters.
std::string LastErrorText(IIpHelperPort& ipHelper) {
    std::string text = ipHelper.ErrorText(ipHelper.GetLastError()).substr(0, 255);
    while (!text.empty() &&
           (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) {
        text.pop_back();
    }
    return text;
}

std::int32_t IntegerOr(const std::string& text, std::int32_t fallback) {
    std::int32_t value = fallback;
    TryStrToInt(text, value);
    return value;
}

} // namespace

// ---- Adapter lookup --------------------------------------------------------------------------

void TfrmBrindlecove::GetAdapters() {
    LocalIfIndex.clear();
    IntIfIndex.clear();
    const TAdapterList adapters(FServices.IpHelper);
    for (const IP_ADAPTER_INFO* a = adapters.First(); a != nullptr; a = a->Next) {
        const std::string description = FieldText(a->Description);
        if (comboLocal->IndexOfText(description) < 0) {
            comboLocal->AddItem(description, AdapterItemIndex);
            comboInt->AddItem(description, AdapterItemIndex);
        }
    }
}

TfrmBrindlecove::TConnectionAdapters TfrmBrindlecove::LookUpConnectionAdapters() {
    TConnectionAdapters found;
    const std::int32_t local = comboLocal->ItemValue(comboLocal->ItemIndex());
    const std::int32_t international = comboInt->ItemValue(comboInt->ItemIndex());
    // A dial-up entry without an address yet ("0.0.0.0" until RAS knows it) matches no adapter:
    // every adapter without an address shows that text too. An adapter without an address (one
    // that is down) carries no routes either.
    const auto lookUp = [this](const IP_ADAPTER_INFO& a, std::int32_t index, const TComboBox& list,
                               TConnectionAdapter& into) {
        const std::string address = FieldText(a.IpAddressList.IpAddress.String);
        if (address == "0.0.0.0") {
            return;
        }
        if (index == AdapterItemIndex) {
            if (FieldText(a.Description) != list.Text()) {
                return;
            }
            into.NextHop = FieldText(a.GatewayList.IpAddress.String);
        } else if (RasManager1->LocalAddress(index) != address) {
            return;
        } else {
            into.NextHop = RasManager1->ServerAddress(index);
        }
        into.IfIndex = std::to_string(a.Index);
        into.Address = address;
    };
    const TAdapterList adapters(FServices.IpHelper);
    for (const IP_ADAPTER_INFO* a = adapters.First(); a != nullptr; a = a->Next) {
        lookUp(*a, local, *comboLocal, found.Local);
        lookUp(*a, international, *comboInt, found.Int);
    }
    // An adapter whose link went down and came back has lost the routes its gateway was read
    // from: the same adapter with the same address keeps the gateway the last build used.
    const auto keepGateway = [](TConnectionAdapter& now, const TConnectionAdapter& built) {
        if (now.NextHop.empty() && !now.IfIndex.empty() && now.IfIndex == built.IfIndex &&
            now.Address == built.Address) {
            now.NextHop = built.NextHop;
        }
    };
    keepGateway(found.Local, BuiltRoutes.Adapters.Local);
    keepGateway(found.Int, BuiltRoutes.Adapters.Int);
    return found;
}

// ---- Route table builder ---------------------------------------------------------------------

void TfrmBrindlecove::btnRoutesClick() {
    const auto warn = [this](const char* text) {
        FServices.Application.MessageBoxA(text, "Warning", MbOk | MbIconWarning);
    };
    const int l = comboLocal->ItemIndex();
    const int i = comboInt->ItemIndex();
    if (l < 0 || i < 0) {
        warn("No connections to route.");
        return;
    }
    if (l == i) {
        warn("Please select 2 different connections.");
        return;
    }
    const auto up = [this](std::int32_t index) {
        return index == AdapterItemIndex || RasManager1->IsConnected(index);
    };
    if (up(comboLocal->ItemValue(l)) && up(comboInt->ItemValue(i))) {
        BuildRoutingTable();
    } else {
        warn("Both connections must be connected.");
    }
}

void TfrmBrindlecove::BuildRoutingTable() {
    const TConnectionAdapters adapters = LookUpConnectionAdapters();
    LocalIfIndex = adapters.Local.IfIndex;
    IntIfIndex = adapters.Int.IfIndex;
    if (LocalIfIndex.empty() || IntIfIndex.empty()) {
        return;
    }
    BuiltRoutes = TBuiltRoutes{{}, adapters};
    DeleteRoutes("0.0.0.0", "0.0.0.0");
    const std::string& localHop = adapters.Local.NextHop;
    const std::string& intHop = adapters.Int.NextHop;
    AddRoute("0.0.0.0", "0.0.0.0", localHop, "2", LocalIfIndex);
    AddRoute("0.0.0.0", "0.0.0.0", intHop, "1", IntIfIndex);
    LogLine("Creating routing table");
    const TLogLineFn log = [this](const std::string& msg) { LogLine(msg); };
    for (const std::string& line : jvshRoutes.Lines()) {
        const TRouteLine parsed = ParseRouteLine(line, log);
        if (parsed.Kind == TRouteLineKind::Route) {
            AddRoute(parsed.Network, parsed.Mask, localHop, "2", LocalIfIndex);
        }
    }
    LogLine("Finished creating routing table");
    // A network listed twice is remembered once.
    auto& built = BuiltRoutes.Routes;
    const auto bytes = [](const MIB_IPFORWARDROW& a, const MIB_IPFORWARDROW& b) {
        return std::memcmp(&a, &b, sizeof a);
    };
    std::sort(built.begin(), built.end(),
              [&](const auto& a, const auto& b) { return bytes(a, b) < 0; });
    built.erase(std::unique(built.begin(), built.end(),
                            [&](const auto& a, const auto& b) { return bytes(a, b) == 0; }),
                built.end());
    RoutesBuilt = true;
    RouteWatchBuilt();
    if (AccessDenied) {
        FServices.Application.MessageBoxA(AdministratorMessage, "Warning", MbOk | MbIconWarning);
    }
}

bool TfrmBrindlecove::AddRoute(const std::string& dest, const std::string& mask,
                               const std::string& nextHop, const std::string& metric,
                               const std::string& ifIndex) {
    IIpHelperPort& ip = FServices.IpHelper;
    // The route as the log lines show it; only a failure needs it.
    const auto description = [&] {
        return "(" + dest + "," + mask + "," + nextHop + "," + metric + "," + ifIndex + ")";
    };
    std::int32_t metricValue = IntegerOr(metric.empty() ? "1" : metric, 1);
    if (IsVistaOrLater() && metricValue < 50) {
        metricValue += 50;
    }

    std::int32_t index = -1;
    if (!ifIndex.empty()) {
        index = IntegerOr(ifIndex, -1);
    } else {
        DWORD best = 0;
        const DWORD result = ip.GetBestInterface(ip.inet_addr(nextHop.c_str()), &best);
        if (result == winerror::Success) {
            index = static_cast<std::int32_t>(best);
        } else if (result == winerror::NotSupported) {
            LogLine("ERROR: GetBestInterface not supported, " + description());
        } else if (result == winerror::CanNotComplete) {
            LogLine("ERROR: GetBestInterface can not complete, " + description());
        } else {
            LogLine("ERROR: " + LastErrorText(ip) + ", " + description());
        }
    }
    if (index == -1) {
        LogLine("Interface is not found, " + description());
        return false;
    }

    MIB_IPFORWARDROW row{};
    row.dwForwardDest = ip.inet_addr(dest.c_str());
    row.dwForwardMask = ip.inet_addr(mask.c_str());
    row.dwForwardPolicy = 0;
    row.dwForwardNextHop = ip.inet_addr(nextHop.c_str());
    row.dwForwardIfIndex = static_cast<DWORD>(index);
    row.dwForwardType = MibIpRouteTypeDirect;
    row.dwForwardProto = MibIpProtoNetMgmt;
    row.dwForwardMetric1 = static_cast<DWORD>(metricValue);
    row.dwForwardMetric2 = row.dwForwardMetric3 = row.dwForwardMetric4 = row.dwForwardMetric5 =
        0xFFFFFFFFu;
    const DWORD result = ip.CreateIpForwardEntry(&row);
    switch (result) {
    case winerror::Success:
    case winerror::ObjectAlreadyExists:
        BuiltRoutes.Routes.push_back(row);
        return true;
    case winerror::AccessDenied:
        LogLine("ERROR: Access denied. Run application as Administrator, " + description());
        AccessDenied = true;
        break;
    case winerror::NotSupported:
        LogLine("ERROR: The IP transport is not configured on the local computer, " +
                description());
        break;
    case winerror::InvalidParameter:
        LogLine("ERROR: Invalid parameter, " + description());
        break;
    default:
        LogLine(" ERROR: " + LastErrorText(ip) + ", " + description() + " " +
                std::to_string(result));
        break;
    }
    return false;
}

bool TfrmBrindlecove::ReadForwardTable(std::vector<MIB_IPFORWARDROW>& rows) {
    IIpHelperPort& ip = FServices.IpHelper;
    rows.clear();
    // The table may grow between asking its size and reading it: ask again a few times rather
    // than work from part of it.
    std::vector<MIB_IPFORWARDROW> buffer;
    DWORD result = winerror::InsufficientBuffer;
    for (int attempt = 0; attempt < 4 && result == winerror::InsufficientBuffer; ++attempt) {
        ULONG size = 0;
        ip.GetIpForwardTable(nullptr, &size, 1);
        buffer.assign(size / sizeof(MIB_IPFORWARDROW) + 2, MIB_IPFORWARDROW{});
        size = static_cast<ULONG>(buffer.size() * sizeof(MIB_IPFORWARDROW));
        result =
            ip.GetIpForwardTable(reinterpret_cast<MIB_IPFORWARDTABLE*>(buffer.data()), &size, 1);
    }
    if (result == winerror::NoData) {
        return true; // no route at all
    }
    if (result != winerror::Success) {
        return false;
    }
    const auto* table = reinterpret_cast<const MIB_IPFORWARDTABLE*>(buffer.data());
    // The rows start one DWORD (padded to the row's alignment) into the buffer.
    const std::size_t capacity =
        (buffer.size() * sizeof(MIB_IPFORWARDROW) - offsetof(MIB_IPFORWARDTABLE, table)) /
        sizeof(MIB_IPFORWARDROW);
    const std::size_t count = std::min<std::size_t>(table->dwNumEntries, capacity);
    rows.assign(table->table, table->table + count);
    return true;
}

bool TfrmBrindlecove::DeleteRoutes(const std::string& pattern1, const std::string& pattern2) {
    std::vector<MIB_IPFORWARDROW> rows;
    if (!ReadForwardTable(rows)) {
        return false;
    }
    bool matched = false;
    for (const MIB_IPFORWARDROW& row : rows) {
        const std::string destination = IntToIP(row.dwForwardDest);
        if ((!pattern1.empty() && pattern1 != destination) ||
            (!pattern2.empty() && pattern2 != destination)) {
            continue;
        }
        matched = true;
        if (FServices.IpHelper.DeleteIpForwardEntry(&row) != winerror::Success) {
            // Left standing (no rights, say): part of the table this build leaves, so the route
            // watch does not take it for a route added since.
            BuiltRoutes.Routes.push_back(row);
        }
        DeletePersistentRoute(destination + "," + IntToIP(row.dwForwardMask) + "," +
                              IntToIP(row.dwForwardNextHop) + "," +
                              std::to_string(row.dwForwardMetric1));
    }
    return matched;
}

bool TfrmBrindlecove::DeletePersistentRoute(const std::string& valueName) {
    return FServices.Registry.DeleteLocalMachineValue(PersistentRoutesKey, valueName);
}

bool TfrmBrindlecove::IsVistaOrLater() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
    FServices.IpHelper.GetVersionExA(&info);
    return info.dwMajorVersion >= 6;
}

} // namespace brindlecove
