#pragma once
// The system port on Linux: /proc/self/exe for the program's path, POSIX files, errno mapped to the
// Win32 codes the core understands.

#include "app/SystemPort.h"

namespace brindlecove {

class TLinuxSystem final : public ISystemPort {
public:
    std::string ProgramFolder() const override;
    bool PathExists(const std::string& path) const override;
    std::uint32_t ReadWholeFile(const std::string& path, std::uint64_t maxSize,
                                std::string& contents) const override;
    std::string ErrorText(std::uint32_t code) const override;
    TFormatSettings FormatSettings() const override;
};

} // namespace brindlecove
