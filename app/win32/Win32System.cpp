#include "app/win32/Win32System.h"

#include "common/Win32Errors.h"
#include "common/win32/Handles.h"
#include "common/win32/SystemMessage.h"

#include <utility>
#include <vector>
#include <windows.h>

namespace brindlecove {

std::string TWin32System::ProgramFolder() const {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), size);
        if (length == 0) {
            return {};
        }
        if (length < size) {
            const std::string path(buffer.data(), length);
            const std::size_t separator = path.find_last_of("\\/:");
            return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
        }
        buffer.resize(buffer.size() * 2); // truncated: try a larger buffer
    }
}

bool TWin32System::PathExists(const std::string& path) const {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::uint32_t TWin32System::ReadWholeFile(const std::string& path, std::uint64_t maxSize,
                                          std::string& contents) const {
    contents.clear();
    const TKernelHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return ::GetLastError();
    }
    std::string data;
    char chunk[65536];
    for (;;) {
        ::DWORD got = 0;
        if (!::ReadFile(file.Get(), chunk, sizeof chunk, &got, nullptr)) {
            return ::GetLastError();
        }
        if (got == 0) {
            break;
        }
        if (data.size() + got > maxSize) {
            return winerror::FileTooLarge;
        }
        data.append(chunk, got);
    }
    contents = std::move(data);
    return winerror::Success;
}

std::string TWin32System::ErrorText(std::uint32_t code) const {
    return SystemMessageText(code);
}

TFormatSettings TWin32System::FormatSettings() const {
    TFormatSettings format;
    char separator[8] = {};
    if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDATE, separator, sizeof separator) > 1) {
        format.DateSeparator = separator[0];
    }
    if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, sizeof separator) > 1) {
        format.TimeSeparator = separator[0];
    }
    return format;
}

} // namespace brindlecove
