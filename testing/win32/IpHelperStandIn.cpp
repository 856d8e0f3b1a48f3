// A stand-in for the system's iphlpapi.dll, for tests only: it exports the five functions the
// program imports and answers them from a scenario file named by the environment variable
// BRINDLECOVE_IPHLPAPI_STANDIN, read anew on every call. One line per fact, fields split by "|":
//
//   adapter INDEX|DESCRIPTION|ADDRESS|MASK|GATEWAY
//   route DEST|MASK|NEXT HOP|INTERFACE|TYPE|PROTOCOL|METRIC1   (the table at the start)
//   fail DEST|CODE        (creating or deleting a route to DEST answers CODE)
//   deny                  (every change answers ERROR_ACCESS_DENIED)
//   grow COUNT            (once: COUNT routes appear right after a size query of the table)
//   drop INTERFACE        (once: the routes through INTERFACE leave the table, as when a link
//   drops)
//
// The table starts with the scenario's routes at the first call and lives on in the process.
// Whenever it changes it is written to the file of the scenario's name followed by ".table", as
// route lines with all fourteen fields of the row in their order.
#include "routing/IpHelperPort.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>
#include <windows.h>

namespace bc = brindlecove;

namespace {

struct TLine {
    std::string Kind;
    std::vector<std::string> Fields;
};

std::string ScenarioPath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("BRINDLECOVE_IPHLPAPI_STANDIN", path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

std::vector<TLine> ReadLines(const std::string& path) {
    std::vector<TLine> lines;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        const std::size_t space = text.find(' ');
        TLine line{text.substr(0, space), {}};
        if (space != std::string::npos) {
            std::stringstream rest(text.substr(space + 1));
            std::string field;
            while (std::getline(rest, field, '|')) {
                line.Fields.push_back(field);
            }
        }
        if (!line.Kind.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::string Text(const TLine& line) {
    std::string text = line.Kind;
    for (std::size_t i = 0; i < line.Fields.size(); ++i) {
        text += (i ? "|" : " ") + line.Fields[i];
    }
    return text + "\n";
}

// Written beside the file and moved over it, so a reader never sees half a file.
void WriteText(const std::string& path, const std::string& text) {
    const std::string part = path + ".part";
    std::ofstream(part, std::ios::trunc | std::ios::binary) << text;
    MoveFileExA(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::string Field(const TLine& line, std::size_t index) {
    return index < line.Fields.size() ? line.Fields[index] : std::string();
}

bc::DWORD Number(const std::string& text, bc::DWORD fallback = 0) {
    return text.empty() ? fallback : static_cast<bc::DWORD>(std::strtoul(text.c_str(), nullptr, 0));
}

// Dotted text to an address with the first octet in the lowest byte; "0.0.0.0" for anything else.
bc::DWORD Address(const std::string& text) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &end) != 4) {
        return 0;
    }
    return (a & 0xFF) | (b & 0xFF) << 8 | (c & 0xFF) << 16 | (d & 0xFFu) << 24;
}

std::string Dotted(bc::DWORD address) {
    return std::to_string(address & 0xFF) + "." + std::to_string(address >> 8 & 0xFF) + "." +
           std::to_string(address >> 16 & 0xFF) + "." + std::to_string(address >> 24);
}

// The same 32 bits in network order as a number, for comparing prefixes.
bc::DWORD HostOrder(bc::DWORD address) {
    return (address & 0xFF) << 24 | (address >> 8 & 0xFF) << 16 | (address >> 16 & 0xFF) << 8 |
           address >> 24;
}

bc::MIB_IPFORWARDROW ParseRow(const TLine& line) {
    bc::MIB_IPFORWARDROW row{};
    row.dwForwardDest = Address(Field(line, 0));
    row.dwForwardMask = Address(Field(line, 1));
    row.dwForwardNextHop = Address(Field(line, 2));
    row.dwForwardIfIndex = Number(Field(line, 3));
    row.dwForwardType = Number(Field(line, 4), bc::MibIpRouteTypeIndirect);
    row.dwForwardProto = Number(Field(line, 5), bc::MibIpProtoNetMgmt);
    row.dwForwardMetric1 = Number(Field(line, 6), 1);
    row.dwForwardPolicy = Number(Field(line, 7));
    row.dwForwardAge = Number(Field(line, 8));
    row.dwForwardNextHopAS = Number(Field(line, 9));
    row.dwForwardMetric2 = Number(Field(line, 10), 0xFFFFFFFFu);
    row.dwForwardMetric3 = Number(Field(line, 11), 0xFFFFFFFFu);
    row.dwForwardMetric4 = Number(Field(line, 12), 0xFFFFFFFFu);
    row.dwForwardMetric5 = Number(Field(line, 13), 0xFFFFFFFFu);
    return row;
}

TLine RowLine(const bc::MIB_IPFORWARDROW& row) {
    const auto n = [](bc::DWORD value) { return std::to_string(value); };
    return {"route",
            {Dotted(row.dwForwardDest), Dotted(row.dwForwardMask), Dotted(row.dwForwardNextHop),
             n(row.dwForwardIfIndex), n(row.dwForwardType), n(row.dwForwardProto),
             n(row.dwForwardMetric1), n(row.dwForwardPolicy), n(row.dwForwardAge),
             n(row.dwForwardNextHopAS), n(row.dwForwardMetric2), n(row.dwForwardMetric3),
             n(row.dwForwardMetric4), n(row.dwForwardMetric5)}};
}

// The key by which the system tells routes apart, and orders them.
auto Key(const bc::MIB_IPFORWARDROW& row) {
    return std::tuple(HostOrder(row.dwForwardDest), HostOrder(row.dwForwardMask),
                      HostOrder(row.dwForwardNextHop), row.dwForwardIfIndex);
}

// The routing table of this process, ordered as an ordered GetIpForwardTable lists it.
struct TTable {
    std::vector<bc::MIB_IPFORWARDROW> Rows;

    auto Find(const bc::MIB_IPFORWARDROW& row) {
        return std::lower_bound(Rows.begin(), Rows.end(), row,
                                [](const auto& a, const auto& b) { return Key(a) < Key(b); });
    }
    bool Has(const bc::MIB_IPFORWARDROW& row) {
        const auto at = Find(row);
        return at != Rows.end() && Key(*at) == Key(row);
    }
    void Add(const bc::MIB_IPFORWARDROW& row) { Rows.insert(Find(row), row); }

    void Write() const {
        std::string text;
        for (const bc::MIB_IPFORWARDROW& row : Rows) {
            text += Text(RowLine(row));
        }
        WriteText(ScenarioPath() + ".table", text);
    }
};

// The first line of a kind that `match` accepts; nullptr for none.
const TLine* FindLine(const std::vector<TLine>& scenario, const char* kind,
                      const std::function<bool(const TLine&)>& match = nullptr) {
    for (const TLine& line : scenario) {
        if (line.Kind == kind && (!match || match(line))) {
            return &line;
        }
    }
    return nullptr;
}

// Takes the first line of a kind out of the scenario, and out of its file: a change that happens
// once.
std::optional<TLine> TakeOnce(std::vector<TLine>& scenario, const char* kind) {
    const TLine* found = FindLine(scenario, kind);
    if (found == nullptr) {
        return std::nullopt;
    }
    const TLine line = *found;
    scenario.erase(scenario.begin() + (found - scenario.data()));
    std::string text;
    for (const TLine& rest : scenario) {
        text += Text(rest);
    }
    WriteText(ScenarioPath(), text);
    return line;
}

// The table, made from the scenario's routes at the first call; then a link drop of the scenario
// applied.
TTable& Routes(std::vector<TLine>& scenario) {
    static std::optional<TTable> table;
    bool changed = !table;
    if (!table) {
        table.emplace();
        for (const TLine& line : scenario) {
            if (line.Kind == "route") {
                table->Add(ParseRow(line));
            }
        }
    }
    if (const std::optional<TLine> drop = TakeOnce(scenario, "drop")) {
        std::erase_if(table->Rows, [&](const bc::MIB_IPFORWARDROW& row) {
            return row.dwForwardIfIndex == Number(Field(*drop, 0));
        });
        changed = true;
    }
    if (changed) {
        table->Write();
    }
    return *table;
}

// A change refused by the scenario: access denied to all, or a code for one destination.
bc::DWORD ScriptedRefusal(const std::vector<TLine>& scenario, const bc::MIB_IPFORWARDROW& row) {
    if (FindLine(scenario, "deny") != nullptr) {
        return bc::winerror::AccessDenied;
    }
    const TLine* fail = FindLine(scenario, "fail", [&](const TLine& line) {
        return Address(Field(line, 0)) == row.dwForwardDest;
    });
    return fail != nullptr ? Number(Field(*fail, 1)) : bc::winerror::Success;
}

// A subnet mask: ones from the top, then zeros.
bool IsSubnetMask(bc::DWORD mask) {
    const bc::DWORD ones = HostOrder(mask);
    return (~ones & (~ones + 1)) == 0;
}

} // namespace

#define STANDIN_EXPORT extern "C" __declspec(dllexport)

STANDIN_EXPORT bc::DWORD WINAPI GetAdaptersInfo(bc::IP_ADAPTER_INFO* info, bc::ULONG* size) {
    // Windows: no size to answer in is an invalid parameter.
    if (size == nullptr) {
        return bc::winerror::InvalidParameter;
    }
    std::vector<TLine> adapters = ReadLines(ScenarioPath());
    std::erase_if(adapters, [](const TLine& line) { return line.Kind != "adapter"; });
    // Windows: a system without adapters answers ERROR_NO_DATA.
    if (adapters.empty()) {
        return bc::winerror::NoData;
    }
    // Windows: too small a buffer answers ERROR_BUFFER_OVERFLOW with the size needed.
    const auto needed = static_cast<bc::ULONG>(adapters.size() * sizeof(bc::IP_ADAPTER_INFO));
    if (info == nullptr || *size < needed) {
        *size = needed;
        return bc::winerror::BufferOverflow;
    }
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        bc::IP_ADAPTER_INFO& a = info[i];
        a = bc::IP_ADAPTER_INFO{};
        a.Next = i + 1 < adapters.size() ? &info[i + 1] : nullptr;
        a.Index = Number(Field(adapters[i], 0));
        lstrcpynA(a.Description, Field(adapters[i], 1).c_str(), sizeof a.Description);
        lstrcpynA(a.IpAddressList.IpAddress.String, Field(adapters[i], 2).c_str(),
                  sizeof a.IpAddressList.IpAddress.String);
        lstrcpynA(a.IpAddressList.IpMask.String, Field(adapters[i], 3).c_str(),
                  sizeof a.IpAddressList.IpMask.String);
        lstrcpynA(a.GatewayList.IpAddress.String, Field(adapters[i], 4).c_str(),
                  sizeof a.GatewayList.IpAddress.String);
    }
    return bc::winerror::Success;
}

STANDIN_EXPORT bc::DWORD WINAPI GetIpForwardTable(bc::MIB_IPFORWARDTABLE* table, bc::ULONG* size,
                                                  bc::BOOL) {
    // Windows: no size to answer in is an invalid parameter.
    if (size == nullptr) {
        return bc::winerror::InvalidParameter;
    }
    std::vector<TLine> scenario = ReadLines(ScenarioPath());
    TTable& routes = Routes(scenario);
    // Windows: an empty table answers ERROR_NO_DATA.
    if (routes.Rows.empty()) {
        return bc::winerror::NoData;
    }
    // Windows: too small a buffer answers ERROR_INSUFFICIENT_BUFFER with the size needed.
    const auto needed = static_cast<bc::ULONG>(offsetof(bc::MIB_IPFORWARDTABLE, table) +
                                               routes.Rows.size() * sizeof(bc::MIB_IPFORWARDROW));
    if (table == nullptr || *size < needed) {
        *size = needed;
        // Other programs change the table at any time, also between a size query and the fetch.
        if (const std::optional<TLine> grow = TakeOnce(scenario, "grow")) {
            for (bc::DWORD i = 0; i < Number(Field(*grow, 0)); ++i) {
                routes.Add(ParseRow({"route",
                                     {"10.99." + std::to_string(i) + ".0", "255.255.255.0",
                                      "0.0.0.0", "99", "3", "2", "1"}}));
            }
            routes.Write();
        }
        return bc::winerror::InsufficientBuffer;
    }
    table->dwNumEntries = static_cast<bc::DWORD>(routes.Rows.size());
    std::copy(routes.Rows.begin(), routes.Rows.end(), table->table);
    return bc::winerror::Success;
}

// A change of the table: refused as the scenario says, or made by `change`, which answers its
// code; the table is written after one that succeeds.
template <class TChange>
bc::DWORD ChangeTable(const bc::MIB_IPFORWARDROW& row, TChange change) {
    std::vector<TLine> scenario = ReadLines(ScenarioPath());
    TTable& routes = Routes(scenario);
    if (const bc::DWORD refused = ScriptedRefusal(scenario, row)) {
        return refused;
    }
    const bc::DWORD result = change(scenario, routes);
    if (result == bc::winerror::Success) {
        routes.Write();
    }
    return result;
}

STANDIN_EXPORT bc::DWORD WINAPI CreateIpForwardEntry(const bc::MIB_IPFORWARDROW* row) {
    return ChangeTable(*row, [row](const std::vector<TLine>& scenario, TTable& routes) {
        // Windows: routes are added by network management only.
        if (row->dwForwardProto != bc::MibIpProtoNetMgmt) {
            return bc::winerror::InvalidParameter;
        }
        // Windows: the mask must be a subnet mask.
        if (!IsSubnetMask(row->dwForwardMask)) {
            return bc::winerror::InvalidParameter;
        }
        // Windows: the interface must exist, and the next hop must lie on its network.
        const TLine* adapter = FindLine(scenario, "adapter", [&](const TLine& line) {
            return Number(Field(line, 0)) == row->dwForwardIfIndex;
        });
        if (adapter == nullptr) {
            return bc::winerror::InvalidParameter;
        }
        const bc::DWORD mask = Address(Field(*adapter, 3));
        if ((row->dwForwardNextHop & mask) != (Address(Field(*adapter, 2)) & mask)) {
            return bc::winerror::InvalidParameter;
        }
        // Windows: a route with the same destination, mask, next hop and interface exists already.
        if (routes.Has(*row)) {
            return bc::winerror::ObjectAlreadyExists;
        }
        routes.Add(*row);
        return bc::winerror::Success;
    });
}

STANDIN_EXPORT bc::DWORD WINAPI DeleteIpForwardEntry(const bc::MIB_IPFORWARDROW* row) {
    return ChangeTable(*row, [row](const std::vector<TLine>&, TTable& routes) {
        // Windows: a route with that destination, mask, next hop and interface must be there.
        if (!routes.Has(*row)) {
            return bc::winerror::NotFound;
        }
        routes.Rows.erase(routes.Find(*row));
        return bc::winerror::Success;
    });
}

STANDIN_EXPORT bc::DWORD WINAPI GetBestInterface(bc::DWORD destination, bc::DWORD* index) {
    // Windows: no place for the answer is an invalid parameter.
    if (index == nullptr) {
        return bc::winerror::InvalidParameter;
    }
    // Windows: the interface of the route it would send by, the longest matching prefix, then
    // the lowest metric.
    std::vector<TLine> scenario = ReadLines(ScenarioPath());
    const TTable& routes = Routes(scenario);
    const bc::MIB_IPFORWARDROW* best = nullptr;
    for (const bc::MIB_IPFORWARDROW& row : routes.Rows) {
        if ((destination & row.dwForwardMask) == row.dwForwardDest &&
            (best == nullptr ||
             std::pair(HostOrder(row.dwForwardMask), ~row.dwForwardMetric1) >
                 std::pair(HostOrder(best->dwForwardMask), ~best->dwForwardMetric1))) {
            best = &row;
        }
    }
    // Windows: no route to the destination is an error (the program logs every code but two
    // alike).
    if (best == nullptr) {
        return bc::winerror::NotFound;
    }
    *index = best->dwForwardIfIndex;
    return bc::winerror::Success;
}
