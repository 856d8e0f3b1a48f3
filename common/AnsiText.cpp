#include "common/AnsiText.h"

#include <algorithm>

namespace brindlecove {

char AnsiLowerCase(char c) {
    const auto u = static_cast<unsigned char>(c);
    unsigned char lower = u;
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7)) {
        lower = static_cast<unsigned char>(u + 0x20); // A-Z, À-Þ except ×
    } else if (u == 0x8A || u == 0x8C || u == 0x8E) {
        lower = static_cast<unsigned char>(u + 0x10); // Š Œ Ž
    } else if (u == 0x9F) {
        lower = 0xFF; // Ÿ
    }
    return static_cast<char>(lower);
}

bool AnsiSameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AnsiLowerCase(x) == AnsiLowerCase(y);
           });
}

} // namespace brindlecove
