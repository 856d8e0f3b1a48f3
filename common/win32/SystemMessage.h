#pragma once
// The system's text for a Win32 error code.

#include <cstdint>
#include <string>

namespace brindlecove {

// FormatMessageA's text for `code` from the system's message table, without its trailing line end
// and blanks; empty when the system has no text for the code.
std::string SystemMessageText(std::uint32_t code);

} // namespace brindlecove
