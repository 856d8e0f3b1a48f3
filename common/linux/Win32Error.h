#pragma once
// errno values as the Win32 error codes that the core understands, and texts for those codes.

#include <cstdint>
#include <string>

namespace brindlecove {

// Codes with this bit set carry an errno that has no Win32 equivalent in their low 16 bits (the
// bit Win32 leaves to applications for codes of their own).
inline constexpr std::uint32_t ErrnoCodeBit = 0x20000000u;

// The closest Win32 code for an errno value; ErrnoCodeBit | errno when there is none.
std::uint32_t Win32ErrorFromErrno(int err);

// The text Windows gives for a mapped code, the C library's text for an ErrnoCodeBit code, empty
// for any other code.
std::string Win32ErrorText(std::uint32_t code);

} // namespace brindlecove
