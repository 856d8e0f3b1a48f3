#include "tools/routes/Cidr.h"

#include <algorithm>
#include <bit>
#include <charconv>

namespace brindlecove::routes {

std::vector<TAddressRange> MergeRanges(std::vector<TAddressRange> ranges) {
    std::erase_if(ranges, [](const TAddressRange& r) { return r.Count == 0; });
    std::sort(ranges.begin(), ranges.end(),
              [](const TAddressRange& a, const TAddressRange& b) { return a.First < b.First; });
    std::vector<TAddressRange> merged;
    for (const TAddressRange& range : ranges) {
        if (!merged.empty() && range.First <= merged.back().End()) {
            merged.back().Count = std::max(merged.back().End(), range.End()) - merged.back().First;
        } else {
            merged.push_back(range);
        }
    }
    return merged;
}

std::vector<TCidrBlock> SplitIntoBlocks(const TAddressRange& range) {
    std::vector<TCidrBlock> blocks;
    std::uint64_t first = range.First;
    const std::uint64_t end = std::min(range.End(), AddressSpace);
    while (first < end) {
        // The largest block that starts here (its size divides the start) and ends in the range.
        int prefix = first == 0 ? 0 : 32 - std::countr_zero(first);
        while ((std::uint64_t{1} << (32 - prefix)) > end - first) {
            ++prefix;
        }
        blocks.push_back({static_cast<std::uint32_t>(first), prefix});
        first += std::uint64_t{1} << (32 - prefix);
    }
    return blocks;
}

std::uint64_t OverlapWith(const std::vector<TAddressRange>& ranges, const TAddressRange& range) {
    // The first range that ends after the range starts, and those after it while they begin
    // before it ends.
    auto it = std::partition_point(ranges.begin(), ranges.end(),
                                   [&](const TAddressRange& r) { return r.End() <= range.First; });
    std::uint64_t overlap = 0;
    for (; it != ranges.end() && it->First < range.End(); ++it) {
        overlap +=
            std::min(it->End(), range.End()) - std::max<std::uint64_t>(it->First, range.First);
    }
    return overlap;
}

std::optional<std::uint32_t> ParseDottedQuad(std::string_view text) {
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.') {
                return std::nullopt;
            }
            text.remove_prefix(1);
        }
        unsigned value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        const auto digits = static_cast<std::size_t>(end - text.data());
        if (error != std::errc() || digits == 0 || digits > 3 || value > 255) {
            return std::nullopt;
        }
        address = (address << 8) | value;
        text.remove_prefix(digits);
    }
    return text.empty() ? std::optional(address) : std::nullopt;
}

std::optional<std::uint32_t> ParseInetAddress(std::string_view text) {
    std::uint64_t parts[4] = {};
    int count = 0;
    while (true) {
        if (count == 4 || text.empty()) {
            return std::nullopt;
        }
        int base = 10;
        if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            base = 16;
            text.remove_prefix(2);
        } else if (text.size() > 1 && text[0] == '0') {
            base = 8;
        }
        std::uint64_t value = 0;
        const auto [end, error] =
            std::from_chars(text.data(), text.data() + text.size(), value, base);
        if (error != std::errc() || value > 0xFFFFFFFFu) {
            return std::nullopt;
        }
        parts[count++] = value;
        text.remove_prefix(static_cast<std::size_t>(end - text.data()));
        if (text.empty()) {
            break;
        }
        if (text.front() != '.') {
            return std::nullopt;
        }
        text.remove_prefix(1);
    }
    // Every part but the last is one byte; the last fills the 4 - (count - 1) bytes left.
    std::uint64_t address = 0;
    for (int i = 0; i + 1 < count; ++i) {
        if (parts[i] > 255) {
            return std::nullopt;
        }
        address |= parts[i] << (24 - 8 * i);
    }
    const int lastBits = 32 - 8 * (count - 1);
    if (parts[count - 1] >> lastBits != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(address | parts[count - 1]);
}

std::optional<int> PrefixOfMask(std::uint32_t mask) {
    const int prefix = std::countl_one(mask);
    return prefix == 32 || (mask << prefix) == 0 ? std::optional(prefix) : std::nullopt;
}

std::string FormatAddress(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
           std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

std::string FormatMask(int prefix) {
    return FormatAddress(prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix));
}

} // namespace brindlecove::routes
