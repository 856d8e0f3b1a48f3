#pragma once
// The registries' delegation files ("delegated-<registry>-[extended-]latest"): a version line,
// summary lines and records, fields separated by "|":
//
//   2|afrinic|20230323|15019|00000000|20230323|00000         version|registry|serial|records|...
//   afrinic|*|ipv4|*|5089|summary                            registry|*|type|*|count|summary
//   afrinic|ZA|ipv4|196.4.0.0|65536|19920101|allocated|F36B
//   registry|cc|type|start|value|date|status
//
// For ipv4 the value is a number of addresses, not always a power of two. Lines starting with "#"
// are comments. The extended format adds an opaque id (and perhaps more fields) to each record.

#include "tools/routes/Cidr.h"

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>

namespace brindlecove::routes {

enum class TLineKind { Ignored, Version, Summary, Record, Error };

// One line read. The views point into the line.
struct TDelegationLine {
    TLineKind Kind = TLineKind::Ignored; // Ignored: a blank line or a comment
    std::string_view Registry;
    std::string_view Country;  // records
    std::string_view Type;     // records: "asn", "ipv4" or "ipv6"
    std::string_view Status;   // records: "allocated", "assigned", "available", "reserved"
    std::string_view Date;     // version: the date the file was made (yyyymmdd)
    std::uint64_t Records = 0; // version: how many records the file holds
    TAddressRange Range;       // ipv4 records
    std::string Error;         // Error: what is wrong with the line
};

// Reads one line (without its line end). Never throws for any text.
TDelegationLine ParseDelegationLine(std::string_view line);

// What a whole file said about itself.
struct TDelegationFile {
    std::string Name;
    std::string Registry;
    std::string Date;
    std::uint64_t Records = 0;
};

// Longer lines are refused: a record is well under a hundred characters.
inline constexpr std::size_t MaxDelegationLineLength = 4096;

// Reads a delegation file line by line (LF or CR LF line ends), passing every record to
// `onRecord`. Answers an empty text, or the first fault as "NAME:LINE: what is wrong": a line
// that does not read, a missing version line, a file with fewer or more records than its version
// line announces (a download cut short), compressed input.
std::string ReadDelegationFile(std::istream& in, TDelegationFile& file,
                               const std::function<void(const TDelegationLine&)>& onRecord);

} // namespace brindlecove::routes
