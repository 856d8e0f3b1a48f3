#pragma once
// IPv4 addresses and masks between dotted decimal text and the 32-bit value the system uses.
//
// The 32-bit IPv4 value holds the first octet in its least significant byte and the fourth octet in
// its most significant byte: the number inet_addr returns and the layout of the address fields of a
// routing-table row on a little-endian host. For 10.1.2.3 the lowest byte is 10, the highest 3.

#include <cstdint>
#include <string>
#include <string_view>

namespace brindlecove {

// Four decimal parts, lowest byte first: IntToIP(0x0101A8C0) == "192.168.1.1".
std::string IntToIP(std::uint32_t value);

// Reads dotted text into the 32-bit value. Each of four passes takes the next "."-separated part;
// a part that converts to an integer n shifts in as value = (n << 24) | (value >> 8), so only its
// low 8 bits count; a part that does not convert clears what the earlier passes gathered. A text
// of fewer than four parts gives 0, parts after the fourth are ignored. Never fails.
std::uint32_t StrToIP(std::string_view text);

// Takes the text up to the first delimiter out of `text` and returns it; `text` keeps what follows
// the delimiter. Without a delimiter the whole text is returned and `text` becomes empty.
std::string NextToken(std::string& text, char delimiter);

} // namespace brindlecove
