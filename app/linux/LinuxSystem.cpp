#include "app/linux/LinuxSystem.h"

#include "common/Win32Errors.h"
#include "common/linux/UniqueFd.h"
#include "common/linux/Win32Error.h"

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <langinfo.h>
#include <limits.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brindlecove {

namespace {

// The separator of a strftime pattern such as "%d.%m.%Y": its first character that is neither
// part of a conversion nor a letter or digit.
char PatternSeparator(const char* pattern, char fallback) {
    for (const char* p = pattern; p != nullptr && *p != '\0'; ++p) {
        if (*p == '%') {
            while (p[1] != '\0' && (p[1] == 'E' || p[1] == 'O' || p[1] == '-' || p[1] == '_' ||
                                    p[1] == '0' || p[1] == '^' || p[1] == '#')) {
                ++p; // modifiers of the conversion
            }
            if (p[1] != '\0') {
                ++p;
            }
            continue;
        }
        const auto c = static_cast<unsigned char>(*p);
        if (c > ' ' && c < 0x80 && !std::isalnum(c)) {
            return *p;
        }
    }
    return fallback;
}

} // namespace

std::string TLinuxSystem::ProgramFolder() const {
    if (!FConfigFolder.empty()) {
        return FConfigFolder;
    }
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            const std::string path(buffer.data(), static_cast<std::size_t>(length));
            const std::size_t slash = path.rfind('/');
            return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool TLinuxSystem::PathExists(const std::string& path) const {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::uint32_t TLinuxSystem::ReadWholeFile(const std::string& path, std::uint64_t maxSize,
                                          std::string& contents) const {
    contents.clear();
    const TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.Get() < 0) {
        return Win32ErrorFromErrno(errno);
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        return Win32ErrorFromErrno(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return winerror::AccessDenied;
    }
    std::string data;
    if (const std::uint32_t error = ReadToEnd(fd.Get(), maxSize, data); error != 0) {
        return error;
    }
    contents = std::move(data);
    return winerror::Success;
}

std::string TLinuxSystem::ErrorText(std::uint32_t code) const {
    return Win32ErrorText(code);
}

TFormatSettings TLinuxSystem::FormatSettings() const {
    if (FFormat) {
        return *FFormat;
    }
    TFormatSettings format;
    // The user's locale as the environment names it (LC_ALL, LC_TIME, LANG), whatever the
    // process's current locale is.
    const locale_t user = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (user != static_cast<locale_t>(nullptr)) {
        format.DateSeparator = PatternSeparator(::nl_langinfo_l(D_FMT, user), '/');
        format.TimeSeparator = PatternSeparator(::nl_langinfo_l(T_FMT, user), ':');
        ::freelocale(user);
    }
    FFormat = format;
    return format;
}

} // namespace brindlecove
