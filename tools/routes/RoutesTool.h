#pragma once
// brindlecove-routes: compiles route lists from the registries' delegation files and checks
// route lists against them.

#include "tools/routes/Cidr.h"
#include "tools/routes/Delegation.h"

#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace brindlecove::routes {

// Exit statuses.
inline constexpr int ExitOk = 0;
inline constexpr int ExitBadData = 1; // unreadable or faulty input, or rows outside (check)
inline constexpr int ExitUsage = 2;

// The allocated and assigned IPv4 space of some countries in some delegation files.
struct TAllocations {
    std::vector<TDelegationFile> Files;
    std::vector<TAddressRange> Ranges; // merged
};

// Reads the files; with no countries, every country's space. Answers the first fault.
std::string ReadAllocations(const std::vector<std::string>& paths,
                            const std::set<std::string>& countries, TAllocations& allocations);

// A route list of the blocks covering the allocations: a header of "#" lines naming what it was
// compiled from, then one "network,mask" line per block.
std::string FormatRouteList(const TAllocations& allocations,
                            const std::set<std::string>& countries);

// The whole program; `args` without the program name.
int RunRoutesTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace brindlecove::routes
