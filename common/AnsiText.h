#pragma once
// Case-insensitive comparison of 8-bit text as the user's ANSI code page (Windows-1252, the code
// page of the program's users) folds letters: ASCII and the accented Latin letters alike.

#include <cstdint>
#include <string_view>

namespace brindlecove {

char AnsiLowerCase(char c);
bool AnsiSameText(std::string_view a, std::string_view b);

// The runtime's integer conversion: optional leading blanks, an optional sign, then decimal
// digits, or hexadecimal digits behind "$", "x", "X", "0x" or "0X", with nothing after the
// digits. The value must fit in a signed 32-bit integer (hexadecimal: in 32 bits, so $FFFFFFFF
// is -1). Returns false, leaving `value` untouched, when the text does not convert.
bool TryStrToInt(std::string_view text, std::int32_t& value);

} // namespace brindlecove
