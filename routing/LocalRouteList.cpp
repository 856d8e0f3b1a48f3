#include "routing/LocalRouteList.h"

#include "routing/IPv4Text.h"

namespace brindlecove {

TLocalRouteList::TLocalRouteList() : FLines(SplitLines(BuiltInLocalRoutesText())) {}

void TLocalRouteList::SetText(std::string_view text) {
    FLines = SplitLines(text);
}

std::vector<std::string> SplitLines(std::string_view text) {
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') {
            ++start;
        }
    }
    return lines;
}

std::string_view TrimControls(std::string_view text) {
    const auto isControl = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    while (!text.empty() && isControl(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isControl(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

TRouteLine ParseRouteLine(std::string_view line, const TLogLineFn& logLine) {
    TRouteLine result;
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos || line.front() == '#') {
        return result;
    }
    constexpr std::size_t MaxMaskLength = 255;
    result.Network = TrimControls(line.substr(0, comma));
    result.Mask = TrimControls(line.substr(comma + 1, MaxMaskLength));

    const std::uint32_t network = StrToIP(result.Network);
    const std::uint32_t mask = StrToIP(result.Mask);
    if ((network & mask) == network) {
        result.Kind = TRouteLineKind::Route;
        return result;
    }
    result.Kind = TRouteLineKind::BadPair;
    if (logLine) {
        logLine("Bad IP/Mask: " + result.Network + "," + result.Mask +
                ", IP and MASK = " + IntToIP(network & mask));
    }
    return result;
}

} // namespace brindlecove
