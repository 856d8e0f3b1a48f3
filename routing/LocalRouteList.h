#pragma once
// The local route list: the networks that are reached through the local connection.
//
// An ordered list of text lines, each "network,mask". The program carries a built-in list; a file
// "localroutes.dat" beside the executable replaces it whole at start-up. Lines are kept exactly as
// read (not trimmed, not sorted, duplicates kept); the route table builder asks ParseRouteLine,
// line by line, what each one means.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brindlecove {

// Where the route list writes its log lines (the main window's LogLine).
using TLogLineFn = std::function<void(const std::string& msg)>;

class TLocalRouteList {
public:
    // Starts with the built-in list.
    TLocalRouteList();

    std::size_t Count() const { return FLines.size(); }
    const std::string& Line(std::size_t index) const { return FLines.at(index); }
    const std::vector<std::string>& Lines() const { return FLines; }

    // Replaces the whole list by the lines of a text (see SplitLines).
    void SetText(std::string_view text);

private:
    std::vector<std::string> FLines;
};

// The lines of the built-in list, as embedded in the program.
std::string_view BuiltInLocalRoutesText();

// Splits 8-bit text into lines: CR LF, a lone LF and a lone CR each end a line; a line end after
// the last line adds no empty line; a NUL character ends the text. Empty lines are kept and nothing
// is trimmed. An empty text gives no lines.
std::vector<std::string> SplitLines(std::string_view text);

enum class TRouteLineKind {
    Skip,    // no comma, or a comment ("#" as the very first character)
    BadPair, // network has bits outside the mask; the log line has been written
    Route,   // Network and Mask hold the trimmed texts to route
};

struct TRouteLine {
    TRouteLineKind Kind = TRouteLineKind::Skip;
    std::string Network;
    std::string Mask;
};

// Reads one list line. The network is the text before the first comma, the mask at most the 255
// characters after it; both are trimmed of characters 0 to 32 at either end. A pair whose network
// AND mask (as StrToIP reads them) differs from the network is logged as
// "Bad IP/Mask: <network>,<mask>, IP and MASK = <network AND mask>".
TRouteLine ParseRouteLine(std::string_view line, const TLogLineFn& logLine);

// Removes characters with codes 0 to 32 from both ends.
std::string_view TrimControls(std::string_view text);

} // namespace brindlecove
