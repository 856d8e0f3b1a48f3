#pragma once
// Start-up's replacement of the built-in local route list by "localroutes.dat" beside the program.

#include "app/SystemPort.h"
#include "routing/LocalRouteList.h"

#include <cstdint>
#include <string>

namespace brindlecove {

inline constexpr const char* LocalRoutesFileName = "localroutes.dat";

// A route list file larger than this is refused rather than read into memory (a million lines of
// the longest sensible form take about 32 MiB).
inline constexpr std::uint64_t MaxLocalRoutesFileSize = 256ull * 1024 * 1024;

struct TRouteFileResult {
    bool Replaced = false;   // the list now holds the file's lines
    std::uint32_t Error = 0; // a file exists but could not be read: the Win32 error code
    std::string Message;     // for the user when Error is not 0; the built-in list stays
};

// When a file or folder named "localroutes.dat" exists in the program's folder, replaces the list
// by the file's lines. A missing file keeps the built-in list silently; one that exists but cannot
// be read keeps it too, and the result says why.
TRouteFileResult LoadLocalRouteFile(const ISystemPort& system, TLocalRouteList& routes);

} // namespace brindlecove
