// SplitOptionWords on any bytes: the words it finds, written back quoted and split again, come
// out the same; an empty word needs quotes.
#include "ras/linux/PppdPeers.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// A word as an option file would carry it: bare when it can be, else in double quotes with
// backslash, double quote and newline escaped.
std::string Quoted(const std::string& word) {
    bool bare = !word.empty();
    for (char c : word) {
        bare = bare && !IsSpace(c) && c != '"' && c != '\'' && c != '\\' && c != '#';
    }
    if (bare) {
        return word;
    }
    std::string text = "\"";
    for (char c : word) {
        if (c == '\\' || c == '"') {
            text += '\\';
            text += c;
        } else if (c == '\n') {
            text += "\\n";
        } else {
            text += c;
        }
    }
    return text + "\"";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto words = brindlecove::pppd::SplitOptionWords(text);

    const bool quotes = text.find_first_of("\"'") != std::string_view::npos;
    std::string joined;
    for (const std::string& word : words) {
        if (word.empty() && !quotes) {
            std::abort();
        }
        joined += Quoted(word);
        joined += ' ';
    }
    if (brindlecove::pppd::SplitOptionWords(joined) != words) {
        std::abort();
    }
    return 0;
}
