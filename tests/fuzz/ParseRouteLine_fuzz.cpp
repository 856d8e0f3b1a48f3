// ParseRouteLine on any bytes: one of its three outcomes, texts within the line, a log line
// exactly when the pair is bad.
#include "routing/IPv4Text.h"
#include "routing/LocalRouteList.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace brindlecove;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    int logged = 0;
    const TRouteLine parsed = ParseRouteLine(line, [&](const std::string& msg) {
        ++logged;
        if (msg.rfind("Bad IP/Mask: ", 0) != 0) {
            std::abort();
        }
    });
    const bool hasComma = line.find(',') != std::string_view::npos;
    const bool comment = !line.empty() && line.front() == '#';
    switch (parsed.Kind) {
    case TRouteLineKind::Skip:
        if ((hasComma && !comment) || logged != 0) {
            std::abort();
        }
        break;
    case TRouteLineKind::Route:
    case TRouteLineKind::BadPair: {
        if (!hasComma || comment || parsed.Mask.size() > 255 ||
            parsed.Network.size() + parsed.Mask.size() > size ||
            TrimControls(parsed.Network) != parsed.Network ||
            TrimControls(parsed.Mask) != parsed.Mask ||
            parsed.Network.find(',') != std::string::npos) {
            std::abort();
        }
        const std::uint32_t n = StrToIP(parsed.Network);
        const bool good = (n & StrToIP(parsed.Mask)) == n;
        if (good != (parsed.Kind == TRouteLineKind::Route) || logged != (good ? 0 : 1)) {
            std::abort();
        }
        break;
    }
    }
    return 0;
}
