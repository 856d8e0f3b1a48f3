// The settings-file text functions on any text and any names. The input is the section name, the
// key and the value, each ended by a NUL (the port gets them as C strings), then the file's text.
// For names the writer accepts: the value set is the value read back, every other key of the file
// reads back unchanged after each edit, and a deleted key or section reads as missing.
#include "app/linux/ProfileText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace brindlecove::profiletext;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The part of the input up to its next NUL (or its end), taken from the input.
std::string_view NextPart(std::string_view& input) {
    const std::size_t end = input.find('\0');
    const std::string_view part = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    return part;
}

// Every key of `before` but [section] key (all of the section when key is empty) reads the same
// in `after`.
void CheckOtherKeysKept(std::string_view before, std::string_view after, std::string_view section,
                        std::string_view key) {
    int checks = 0; // enough to see a fault, few enough to stay fast on large inputs
    const auto checkSection = [&](std::string_view name) {
        ForEachKeyName(before, name, [&](std::string_view other) {
            if (!(SameName(name, section) && (key.empty() || SameName(other, key)))) {
                Check(FindValue(after, name, other) == FindValue(before, name, other));
            }
            return ++checks < 200;
        });
        return checks < 200;
    };
    if (checkSection({})) {
        ForEachSectionName(before, checkSection);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // The names and the value as the port passes them on: without the blanks around the names and
    // before the value.
    const std::string_view section = Trim(NextPart(input));
    const std::string_view key = Trim(NextPart(input));
    std::string_view value = NextPart(input);
    while (!value.empty() && IsBlank(value.front())) {
        value.remove_prefix(1);
    }
    const std::string_view text = input;

    const std::string set = SetValue(text, section, key, value);
    const std::string withoutKey = DeleteKey(text, section, key);
    const std::string withoutSection = DeleteSection(text, section);

    if (WritableNames(section, key, false, value)) {
        // Reading drops blanks at the end of a value and one pair of surrounding quotes.
        const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                            value.back() == value.front();
        const std::optional<std::string_view> read = FindValue(set, section, key);
        Check(read.has_value());
        if (Trim(value) == value && !quoted) {
            Check(*read == value);
        }
        CheckOtherKeysKept(text, set, section, key);

        Check(!FindValue(withoutKey, section, key));
        CheckOtherKeysKept(text, withoutKey, section, key);
    }
    if (WritableNames(section, {}, true, std::nullopt)) {
        bool anyKey = false;
        ForEachKeyName(withoutSection, section, [&](std::string_view) {
            anyKey = true;
            return false;
        });
        Check(!anyKey);
        CheckOtherKeysKept(text, withoutSection, section, {});
    }
    return 0;
}
