#pragma once
// Case-insensitive comparison of 8-bit text as the user's ANSI code page (Windows-1252, the code
// page of the program's users) folds letters: ASCII and the accented Latin letters alike.

#include <string_view>

namespace brindlecove {

char AnsiLowerCase(char c);
bool AnsiSameText(std::string_view a, std::string_view b);

} // namespace brindlecove
