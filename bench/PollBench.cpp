// The cost of one RAS poll with 100 phonebook entries and 10 active connections, through the
// in-memory RAS. Printed beside two references: the same RAS calls made directly on the double
// (what the manager adds is the difference) and the poll period of one second.
#include "ras/RasManager.h"
#include "testing/FakeRas.h"
#include "testing/VirtualClock.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace brindlecove;
using Clock = std::chrono::steady_clock;

namespace {

// Median nanoseconds per call of `work` over `rounds` rounds of `calls` calls.
template <typename TWork>
double MedianNs(int rounds, int calls, const TWork& work) {
    std::vector<double> perCall;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        for (int i = 0; i < calls; ++i) {
            work();
        }
        const std::chrono::duration<double, std::nano> spent = Clock::now() - start;
        perCall.push_back(spent.count() / calls);
    }
    std::sort(perCall.begin(), perCall.end());
    return perCall[perCall.size() / 2];
}

} // namespace

int main() {
    testing::TFakeRas ras;
    for (int i = 0; i < 100; ++i) {
        ras.AddEntry("Entry " + std::to_string(i));
    }
    for (int i = 0; i < 100; i += 10) {
        ras.Connect("Entry " + std::to_string(i), "41.0.0." + std::to_string(i + 1), "41.0.0.254");
    }
    testing::TVirtualClock clock;
    TRasManager manager(ras, clock, clock);
    int events = 0;
    manager.OnConnect = [&](TRasManager&, TRasEntry&) { ++events; };
    manager.OnDisconnect = [&](TRasManager&, TRasEntry&) { ++events; };

    constexpr int Rounds = 15;
    constexpr int Calls = 2000;
    const double poll = MedianNs(Rounds, Calls, [&] { manager.Poll(); });

    // The RAS work alone: one enumeration into 100 zeroed records, one projection per connection.
    const double rasOnly = MedianNs(Rounds, Calls, [&] {
        std::vector<RASCONNA> records(100, RASCONNA{});
        records[0].dwSize = sizeof(RASCONNA);
        DWORD bytes = static_cast<DWORD>(records.size() * sizeof(RASCONNA));
        DWORD count = 0;
        ras.RasEnumConnections(records.data(), &bytes, &count);
        for (DWORD i = 0; i < count; ++i) {
            RASPPPIP ip{};
            ip.dwSize = sizeof ip;
            DWORD size = sizeof ip;
            ras.RasGetProjectionInfo(records[i].hrasconn, RASP_PppIp, &ip, &size);
        }
    });
    ras.Calls.clear();

    std::printf("RAS poll, 100 entries, 10 active connections (median of %d x %d polls)\n", Rounds,
                Calls);
    std::printf("  %-44s %10.2f us\n", "TRasManager::Poll", poll / 1000.0);
    std::printf("  %-44s %10.2f us\n", "reference: the same RAS calls on the double",
                rasOnly / 1000);
    std::printf("  %-44s %10.2f us\n", "reference: the poll period", 1e6);
    std::printf("  %-44s %10.4f %%\n", "share of the period spent polling", poll / 1e9 * 100);
    std::printf("  events raised while measuring: %d (expected 0)\n", events);
    return events == 0 ? 0 : 1;
}
