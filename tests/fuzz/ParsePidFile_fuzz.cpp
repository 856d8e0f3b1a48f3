// ParsePidFile on any bytes: a pid it accepts is the number on the first line, above 1 (0, 1 and
// negative values name init or process groups); an interface it accepts is a name without white
// space, control characters or "/" that fits IFNAMSIZ; a pair it accepts reads back the same once
// written as pppd writes it. Then a pair made from the bytes: written as "PID\nIFNAME\n" (or with
// CR LF) it parses back exactly when the pid is above 1.
#include "ras/linux/PppdProcesses.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <string>
#include <string_view>

namespace {

using brindlecove::pppd::ParsePidFile;

bool Same(const std::optional<brindlecove::pppd::TPidFile>& parsed, pid_t pid,
          const std::string& interfaceName) {
    return parsed && parsed->Pid == pid && parsed->Interface == interfaceName;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto parsed = ParsePidFile(text)) {
        std::string_view first = text.substr(0, text.find('\n'));
        first = first.substr(0, first.find_last_not_of(" \r") + 1);
        first = first.substr(std::min(first.size(), first.find_first_not_of(" 0")));
        if (parsed->Pid <= 1 || first != std::to_string(parsed->Pid)) {
            std::abort();
        }
        if (parsed->Interface.size() >= IFNAMSIZ) {
            std::abort();
        }
        for (char c : parsed->Interface) {
            if (c <= ' ' || c == '/' || c >= 127) {
                std::abort();
            }
        }
        const std::string written = std::to_string(parsed->Pid) + "\n" + parsed->Interface + "\n";
        if (!Same(ParsePidFile(written), parsed->Pid, parsed->Interface)) {
            std::abort();
        }
    }

    // A pair of the fuzzer's choosing: four bytes of pid, then up to 15 bytes of name mapped onto
    // the printable characters but "/".
    std::int32_t value = 0;
    std::memcpy(&value, data, std::min(size, sizeof value));
    std::string name;
    for (std::size_t i = sizeof value; i < size && name.size() < IFNAMSIZ - 1; ++i) {
        const char c = static_cast<char>('!' + data[i] % 94);
        name += c == '/' ? '_' : c;
    }
    const auto pid = static_cast<pid_t>(value);
    const std::string number = std::to_string(value);
    for (const char* lineEnd : {"\n", "\r\n"}) {
        const auto both = ParsePidFile(number + lineEnd + name + lineEnd);
        const auto pidOnly = ParsePidFile(number + lineEnd);
        if (value > 1 ? !Same(both, pid, name) || !Same(pidOnly, pid, "") : both || pidOnly) {
            std::abort();
        }
    }
    return 0;
}
