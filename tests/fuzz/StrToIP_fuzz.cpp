// StrToIP on any bytes: never fails, and its result survives a trip through IntToIP.
#include "routing/IPv4Text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::uint32_t value = brindlecove::StrToIP(text);
    const std::string dotted = brindlecove::IntToIP(value);
    if (dotted.size() < 7 || dotted.size() > 15 || brindlecove::StrToIP(dotted) != value) {
        std::abort();
    }
    std::string rest(text);
    std::size_t taken = 0;
    while (!rest.empty()) {
        const std::size_t before = rest.size();
        taken += brindlecove::NextToken(rest, '.').size();
        if (rest.size() >= before) {
            std::abort(); // NextToken must consume text
        }
    }
    if (taken > size) {
        std::abort();
    }
    return 0;
}
