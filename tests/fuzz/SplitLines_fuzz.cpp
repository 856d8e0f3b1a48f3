// SplitLines on any bytes: lines hold no line end and no NUL, and joining them with LF gives back
// the text before its first NUL with every line end written as LF.
#include "routing/LocalRouteList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto lines = brindlecove::SplitLines(text);

    text = text.substr(0, text.find('\0'));
    std::string expected;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            expected += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            expected += text[i];
        }
    }
    std::string joined;
    for (const std::string& line : lines) {
        if (line.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
            std::abort();
        }
        joined += line;
        joined += '\n';
    }
    // A last line without its line end is the only difference allowed.
    if (!expected.empty() && expected.back() != '\n') {
        expected += '\n';
    }
    if (joined != expected) {
        std::abort();
    }
    return 0;
}
