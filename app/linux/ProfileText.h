#pragma once
// The text of a settings file, apart from the file: reading sections and keys, and the text after
// an edit. The rules are those of the Linux settings-file port (see LinuxProfile.h). Names are
// matched without regard to ASCII letter case; an empty section name is the lines before the first
// section header.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace brindlecove::profiletext {

// Blanks around names, values and lines: what Windows skips there, including the DOS end-of-file
// mark ^Z found at the end of old files.
bool IsBlank(char c);
std::string_view Trim(std::string_view text);

// Whether two names are the same without regard to ASCII letter case.
bool SameName(std::string_view a, std::string_view b);

// The value of the first key named `key` in the first section named `section`, without the blanks
// around it and one pair of surrounding quotes; nullopt when there is no such key.
std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key);

// Calls visit(name) for each section header, in the order of the file, while visit answers true.
void ForEachSectionName(std::string_view text, const std::function<bool(std::string_view)>& visit);

// Calls visit(name) for each key of the first section named `section`, in the order of the file,
// while visit answers true.
void ForEachKeyName(std::string_view text, std::string_view section,
                    const std::function<bool(std::string_view)>& visit);

// Whether the names and the value would read back as written: no CR or LF anywhere, no ']' in the
// section name, and (unless the section is deleted) a key that is not empty, has no '=' and does
// not start with '[', ';' or a UTF-8 byte-order mark.
bool WritableNames(std::string_view section, std::string_view key, bool deletesSection,
                   std::optional<std::string_view> value);

// The text after setting [section] key = value: an existing key's value is replaced in place, a
// new key goes after the last non-blank line of its section, a new section at the end. Added lines
// end like the text's first line.
std::string SetValue(std::string_view text, std::string_view section, std::string_view key,
                     std::string_view value);

// The text without the key: every line of it in the section that reads find (unchanged when there
// is none).
std::string DeleteKey(std::string_view text, std::string_view section, std::string_view key);

// The text without the section: the header and every line up to the next header, of each section
// of that name (unchanged when there is none).
std::string DeleteSection(std::string_view text, std::string_view section);

} // namespace brindlecove::profiletext
