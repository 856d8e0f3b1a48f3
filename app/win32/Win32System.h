#pragma once
// The system port on Windows: GetModuleFileNameA, the ANSI file functions, FormatMessageA.

#include "app/SystemPort.h"

namespace brindlecove {

class TWin32System final : public ISystemPort {
public:
    std::string ProgramFolder() const override;
    bool PathExists(const std::string& path) const override;
    std::uint32_t ReadWholeFile(const std::string& path, std::uint64_t maxSize,
                                std::string& contents) const override;
    std::string ErrorText(std::uint32_t code) const override;
    TFormatSettings FormatSettings() const override;
};

} // namespace brindlecove
