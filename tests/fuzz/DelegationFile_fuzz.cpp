// A delegation file of any bytes: read or refused with its name, never more records than it
// holds; every ipv4 record's range inside the address space, its CIDR blocks aligned, covering
// it exactly and fewest, and the merged ranges sorted, apart and covering every record.
#include "tools/routes/Cidr.h"
#include "tools/routes/Delegation.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

using namespace brindlecove::routes;

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The blocks are aligned, cover the range exactly, and are the fewest: no two neighbours are the
// halves of one wider block.
void CheckBlocks(const TAddressRange& range) {
    std::uint64_t next = range.First;
    const TCidrBlock* previous = nullptr;
    for (const TCidrBlock& block : SplitIntoBlocks(range)) {
        Require(block.Network == next && block.Network % block.Size() == 0);
        Require(previous == nullptr || previous->Prefix != block.Prefix ||
                previous->Network % (2 * previous->Size()) != 0);
        previous = &block;
        next += block.Size();
    }
    Require(next == range.End());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    TDelegationFile file;
    file.Name = "fuzzed";
    std::vector<TAddressRange> ranges;
    std::uint64_t records = 0;
    const std::string fault = ReadDelegationFile(in, file, [&](const TDelegationLine& record) {
        ++records;
        Require(record.Kind == TLineKind::Record);
        if (record.Type == "ipv4") {
            const TAddressRange& range = record.Range;
            Require(range.Count > 0 && range.End() <= AddressSpace);
            Require(ParseDottedQuad(FormatAddress(range.First)) == range.First);
            CheckBlocks(range);
            ranges.push_back(range);
        }
    });
    Require(fault.empty() ? records == file.Records : fault.starts_with("fuzzed"));

    const std::vector<TAddressRange> merged = MergeRanges(ranges);
    for (std::size_t i = 1; i < merged.size(); ++i) {
        Require(merged[i].First > merged[i - 1].End());
    }
    for (const TAddressRange& range : ranges) {
        Require(OverlapWith(merged, range) == range.Count);
    }

    // The system's reading of a route list's texts: what it reads, it writes back the same.
    const std::string text(reinterpret_cast<const char*>(data), size < 40 ? size : 40);
    if (const auto address = ParseInetAddress(text)) {
        Require(ParseInetAddress(FormatAddress(*address)) == address);
    }
    return 0;
}
