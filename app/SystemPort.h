#pragma once
// What start-up asks of the operating system: the program's own folder and the files beside it.
// Results are Win32 error codes, 0 for success, whichever system answers.

#include <cstdint>
#include <string>

namespace brindlecove {

struct TFormatSettings {
    char DateSeparator = '/';
    char TimeSeparator = ':';
};

class ISystemPort {
public:
    virtual ~ISystemPort() = default;

    // The folder part of the running executable's path, with its trailing separator; empty when
    // the system cannot tell. The settings file and the route list live there (an edition may
    // be told another folder for them when it starts).
    virtual std::string ProgramFolder() const = 0;

    // True when a file or a folder exists at the path.
    virtual bool PathExists(const std::string& path) const = 0;

    // Reads a whole file into `contents`. Answers 0, or the Win32 error code of the failure (a
    // folder gives ERROR_ACCESS_DENIED, a file longer than maxSize ERROR_FILE_TOO_LARGE); on
    // failure `contents` is left empty.
    virtual std::uint32_t ReadWholeFile(const std::string& path, std::uint64_t maxSize,
                                        std::string& contents) const = 0;

    // The system's text for a Win32 error code, without a trailing line end; empty when the system
    // has none.
    virtual std::string ErrorText(std::uint32_t code) const = 0;

    // The user's regional date and time separators ("/" and ":" where none is set).
    virtual TFormatSettings FormatSettings() const = 0;
};

} // namespace brindlecove
