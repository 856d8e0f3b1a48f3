#include "routing/IPv4Text.h"

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

namespace {

int DigitValue(char c, unsigned base) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (base == 16) {
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
    }
    return -1;
}

} // namespace

bool TryStrToInt(std::string_view text, std::int32_t& value) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        i += 1;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) {
        return false; // no digits
    }
    // Decimal reaches 2^31 only as -2147483648; hexadecimal may use all 32 bits.
    const std::uint64_t limit =
        base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0) {
            return false;
        }
        magnitude = magnitude * base + static_cast<unsigned>(digit);
        if (magnitude > limit) {
            return false;
        }
    }
    auto bits = static_cast<std::uint32_t>(magnitude);
    if (negative) {
        bits = 0u - bits;
    }
    value = static_cast<std::int32_t>(bits);
    return true;
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
