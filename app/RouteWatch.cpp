// The main window's route watch: the routing table the last build made, checked against the
// system's while the routes are meant to stand, and a default route for a lone connection.
#include "app/brindlecove1.h"
#include "routing/IPv4Text.h"

#include <algorithm>
#include <array>
#include <utility>

namespace brindlecove {

namespace {

constexpr TDateTime MillisecondsPerDay = 24.0 * 60 * 60 * 1000;
// The pauses before the next automatic rebuild while the table is found changed right after
// each rebuild (another program fighting over it, a system that keeps no routes).
constexpr std::array<int, 3> RebuildPausesMs = {5000, 30000, 120000};
// How long a rebuilt table must stand before a change to it counts as a new one.
constexpr int TableStandsMs = 2000;

bool IsDefault(const MIB_IPFORWARDROW& row) {
    return row.dwForwardDest == 0 && row.dwForwardMask == 0;
}

std::string Counted(std::size_t count, const char* what, const char* state) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s") + " " + state;
}

} // namespace

std::string TfrmBrindlecove::RoutingTableChange() {
    // Only what a build recorded is watched (a build records both adapters, or nothing).
    if (BuiltRoutes.Adapters.Local.IfIndex.empty() || !FServices.IpHelper.TableMayHaveChanged()) {
        return {};
    }
    std::vector<std::string> findings;

    // The adapters: dial-up entries as RAS shows them now, adapters as the system lists them.
    const std::int32_t local = comboLocal->ItemValue(comboLocal->ItemIndex());
    const std::int32_t international = comboInt->ItemValue(comboInt->ItemIndex());
    TConnectionAdapters now = BuiltRoutes.Adapters;
    if (local == AdapterItemIndex || international == AdapterItemIndex) {
        now = LookUpConnectionAdapters();
    }
    const auto dialUp = [this](std::int32_t index, TConnectionAdapter& adapter) {
        if (index != AdapterItemIndex) {
            adapter.Address = RasManager1->LocalAddress(index);
            adapter.NextHop = RasManager1->ServerAddress(index);
        }
    };
    dialUp(local, now.Local);
    dialUp(international, now.Int);
    if (now.Local != BuiltRoutes.Adapters.Local) {
        findings.push_back("local adapter changed");
    }
    if (now.Int != BuiltRoutes.Adapters.Int) {
        findings.push_back("international adapter changed");
    }

    // The routes: each one built still there with its next hop, interface and metric. Windows
    // from Vista on reports a route's metric with its interface's metric added.
    std::vector<MIB_IPFORWARDROW> table;
    if (!ReadForwardTable(table)) {
        return {}; // unreadable now: nothing to say for sure, the next pass asks again
    }
    const bool addsInterfaceMetric = IsVistaOrLater();
    const auto sameMetric = [addsInterfaceMetric](DWORD built, DWORD found) {
        return addsInterfaceMetric ? found >= built : found == built;
    };
    // The table by destination and mask, so that each route built is found without a scan.
    const auto byNetwork = [](const MIB_IPFORWARDROW& a, const MIB_IPFORWARDROW& b) {
        return std::pair(a.dwForwardDest, a.dwForwardMask) <
               std::pair(b.dwForwardDest, b.dwForwardMask);
    };
    std::sort(table.begin(), table.end(), byNetwork);
    std::size_t missing = 0;
    std::size_t changed = 0;
    for (const MIB_IPFORWARDROW& built : BuiltRoutes.Routes) {
        bool same = false;
        bool similar = false;
        const auto [first, last] = std::equal_range(table.begin(), table.end(), built, byNetwork);
        for (auto row = first; row != last; ++row) {
            const bool hop = row->dwForwardNextHop == built.dwForwardNextHop &&
                             row->dwForwardIfIndex == built.dwForwardIfIndex;
            const bool metric = sameMetric(built.dwForwardMetric1, row->dwForwardMetric1);
            same = same || (hop && metric);
            similar = similar || hop || metric;
        }
        missing += !same && !similar ? 1 : 0;
        changed += !same && similar ? 1 : 0;
    }
    // Any other default route takes traffic the built ones should carry (one with a built
    // route's next hop or metric is that route, changed: counted above).
    const auto others = std::count_if(table.begin(), table.end(), [&](const auto& row) {
        return IsDefault(row) &&
               std::none_of(BuiltRoutes.Routes.begin(), BuiltRoutes.Routes.end(),
                            [&](const MIB_IPFORWARDROW& built) {
                                return IsDefault(built) &&
                                       ((row.dwForwardNextHop == built.dwForwardNextHop &&
                                         row.dwForwardIfIndex == built.dwForwardIfIndex) ||
                                        sameMetric(built.dwForwardMetric1, row.dwForwardMetric1));
                            });
    });
    if (missing != 0) {
        findings.push_back(Counted(missing, "route", "missing"));
    }
    if (changed != 0) {
        findings.push_back(Counted(changed, "route", "changed"));
    }
    if (others != 0) {
        findings.push_back(
            Counted(static_cast<std::size_t>(others), "other default route", "added"));
    }

    std::string text;
    for (const std::string& finding : findings) {
        text += (text.empty() ? "" : ", ") + finding;
    }
    return text;
}

void TfrmBrindlecove::WatchRoutes() {
    const TDateTime now = FServices.Clock.Now();
    // A table that stood this long after the last build was not undone by that build's rebuild.
    const bool stood = now - FWatch.LastBuild >= TableStandsMs / MillisecondsPerDay;
    const std::string change = RoutingTableChange();
    if (change.empty()) {
        if (stood) {
            FWatch.ChangedBuilds = 0;
        }
        return;
    }
    const TConnectionAdapters adapters = LookUpConnectionAdapters();
    if (adapters.Local.IfIndex.empty() || adapters.Int.IfIndex.empty()) {
        // A link that went down (its routes go with it): a dial-up entry's drop is the poll's to
        // report; an adapter's table is looked at again when its address is back.
        return;
    }
    RoutesBuilt = false;
    FWatch.RebuildPending = true;
    LogLine("Routing table changed (" + change + "), rebuilding");
    if (stood || !FWatch.WatchRebuild) {
        FWatch.ChangedBuilds = 0;
        return; // rebuilt at once
    }
    // The watch's own rebuild was undone at once: pause before the next one, longer each time
    // while this goes on.
    const int pause = RebuildPausesMs[static_cast<std::size_t>(
        std::min<int>(FWatch.ChangedBuilds, static_cast<int>(RebuildPausesMs.size()) - 1))];
    if (FWatch.ChangedBuilds == 0) {
        LogLine("Routing table changed right after a rebuild: rebuilding after pauses of 5 s, "
                "30 s, then 2 min");
    }
    ++FWatch.ChangedBuilds;
    FWatch.NextBuild = now + pause / MillisecondsPerDay;
}

void TfrmBrindlecove::RouteWatchBuilt() {
    FWatch.LastBuild = FServices.Clock.Now();
    FWatch.WatchRebuild = std::exchange(FWatch.RebuildPending, false);
}

bool TfrmBrindlecove::RebuildDue() const {
    const TDateTime now = FServices.Clock.Now();
    // A clock set back (or a change of daylight saving time) never holds a rebuild for longer
    // than the longest pause.
    return now >= FWatch.NextBuild ||
           FWatch.NextBuild - now > RebuildPausesMs.back() / MillisecondsPerDay;
}

void TfrmBrindlecove::ResetRouteWatch() {
    FWatch = TWatchState{};
    FLoneDefaultTried = false;
}

void TfrmBrindlecove::KeepADefaultRoute(bool localUp) {
    if (FLoneDefaultTried || !FServices.IpHelper.TableMayHaveChanged()) {
        return;
    }
    std::vector<MIB_IPFORWARDROW> table;
    if (!ReadForwardTable(table) || std::any_of(table.begin(), table.end(), IsDefault)) {
        return; // the system (or pppd) routes by default already
    }
    const TConnectionAdapters adapters = LookUpConnectionAdapters();
    const TConnectionAdapter& adapter = localUp ? adapters.Local : adapters.Int;
    if (adapter.IfIndex.empty()) {
        return;
    }
    // The next full build, which replaces this route, starts its record afresh.
    if (AddRoute("0.0.0.0", "0.0.0.0", adapter.NextHop, localUp ? "2" : "1", adapter.IfIndex)) {
        LogLine(std::string("Only the ") + (localUp ? "local" : "international") +
                " connection is up: default route through it");
    } else {
        FLoneDefaultTried = true; // refused: not asked again every second
    }
}

} // namespace brindlecove
