#pragma once
// The system port on Linux: /proc/self/exe for the program's path (or the folder the command line
// named for the settings file and the route list), POSIX files, errno mapped to the Win32 codes
// the core understands.

#include "app/SystemPort.h"

#include <optional>
#include <string>
#include <utility>

namespace brindlecove {

class TLinuxSystem final : public ISystemPort {
public:
    // `configFolder`, ending with '/', stands for the executable's folder; empty: that folder.
    explicit TLinuxSystem(std::string configFolder = {}) : FConfigFolder(std::move(configFolder)) {}

    std::string ProgramFolder() const override;
    bool PathExists(const std::string& path) const override;
    std::uint32_t ReadWholeFile(const std::string& path, std::uint64_t maxSize,
                                std::string& contents) const override;
    std::string ErrorText(std::uint32_t code) const override;
    // Read from the environment's locale on the first call: the environment does not change
    // while the program runs, and every log line asks.
    TFormatSettings FormatSettings() const override;

private:
    std::string FConfigFolder;
    mutable std::optional<TFormatSettings> FFormat;
};

} // namespace brindlecove
