#pragma once
// A route list held against the allocations of some countries: which of its rows lie inside,
// which outside, which repeat or fall within other rows, and how much of the countries' space the
// list covers. Rows are read as the program reads them (SplitLines and ParseRouteLine), and the
// network and mask texts as the route table builder hands them to the system.

#include "tools/routes/Cidr.h"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace brindlecove::routes {

struct TListRow {
    std::size_t Row = 0; // 1-based line number in the list
    std::string Text;
    TAddressRange Range;       // what it routes
    std::uint64_t Outside = 0; // addresses of the range outside the allocations
    std::size_t OtherRow = 0;  // duplicates and covered rows: the row they repeat or fall within
    std::string Problem;       // bad rows: why nothing is routed for them
};

struct TCheckReport {
    std::size_t Lines = 0;
    std::size_t Skipped = 0; // comments, blank lines, lines without a comma
    std::size_t Inside = 0;
    std::vector<TListRow> Outside;    // partly or wholly
    std::vector<TListRow> Duplicates; // the same network as an earlier row
    std::vector<TListRow> Covered;    // within a wider row
    std::vector<TListRow> Bad;        // the program logs them as bad pairs or the system refuses
    std::uint64_t AllocatedAddresses = 0;
    std::uint64_t CoveredAddresses = 0; // of the allocated ones, routed by the list

    bool Passes() const { return Outside.empty(); }
};

// `allocations`: sorted and merged (MergeRanges).
TCheckReport CheckRouteList(std::string_view listText,
                            const std::vector<TAddressRange>& allocations);

void PrintCheckReport(const TCheckReport& report, std::ostream& out);

} // namespace brindlecove::routes
