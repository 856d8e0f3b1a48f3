#pragma once
// IPv4 address ranges and the CIDR blocks that cover them. Addresses here are plain numbers with
// the first octet in the most significant byte, so that ranges sort and add as numbers.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindlecove::routes {

inline constexpr std::uint64_t AddressSpace = std::uint64_t{1} << 32;

// The addresses [First, First + Count).
struct TAddressRange {
    std::uint32_t First = 0;
    std::uint64_t Count = 0;

    std::uint64_t End() const { return First + Count; }
    bool operator==(const TAddressRange&) const = default;
};

struct TCidrBlock {
    std::uint32_t Network = 0;
    int Prefix = 32; // 0 to 32

    std::uint64_t Size() const { return std::uint64_t{1} << (32 - Prefix); }
    bool operator==(const TCidrBlock&) const = default;
};

// The ranges sorted, with overlapping and adjacent ones joined.
std::vector<TAddressRange> MergeRanges(std::vector<TAddressRange> ranges);

// The fewest CIDR blocks that cover exactly the range, in address order.
std::vector<TCidrBlock> SplitIntoBlocks(const TAddressRange& range);

// How many addresses of `range` lie in the sorted, disjoint `ranges`.
std::uint64_t OverlapWith(const std::vector<TAddressRange>& ranges, const TAddressRange& range);

// "a.b.c.d" with four decimal parts of 0 to 255 and no other characters, as delegation files
// write addresses.
std::optional<std::uint32_t> ParseDottedQuad(std::string_view text);

// An address as Windows Sockets' inet_addr reads it, the way the route table builder hands a
// list's texts to the system: one to four parts, each decimal, octal (leading 0) or hexadecimal
// (0x); the last part fills the bytes that remain, so "106.152.0" is 106.152.0.0 and "10.1" is
// 10.0.0.1.
std::optional<std::uint32_t> ParseInetAddress(std::string_view text);

// The prefix length of a contiguous mask; nothing for a mask with a gap.
std::optional<int> PrefixOfMask(std::uint32_t mask);

std::string FormatAddress(std::uint32_t address);
std::string FormatMask(int prefix);

} // namespace brindlecove::routes
