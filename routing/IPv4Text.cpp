#include "routing/IPv4Text.h"

#include "common/AnsiText.h"

#include <cstddef>

namespace brindlecove {

std::string IntToIP(std::uint32_t value) {
    std::string text;
    text.reserve(15);
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) {
            text += '.';
        }
        text += std::to_string(value & 0xFFu);
        value >>= 8;
    }
    return text;
}

std::string NextToken(std::string& text, char delimiter) {
    const std::size_t at = text.find(delimiter);
    if (at == std::string::npos) {
        std::string token = std::move(text);
        text.clear();
        return token;
    }
    std::string token = text.substr(0, at);
    text.erase(0, at + 1);
    return token;
}

std::uint32_t StrToIP(std::string_view text) {
    std::string rest(text);
    std::uint32_t value = 0;
    for (int pass = 0; pass < 4; ++pass) {
        std::int32_t part = 0;
        if (TryStrToInt(NextToken(rest, '.'), part)) {
            value = (static_cast<std::uint32_t>(part) << 24) | (value >> 8);
        } else {
            value = 0;
        }
    }
    return value;
}

} // namespace brindlecove
