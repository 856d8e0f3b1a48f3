#pragma once
// The Win32 error codes that pass between the core and the ports, declared by the project so the
// core needs no system header (names without the ERROR_ prefix, which <windows.h> takes as macros).

#include <cstdint>

namespace brindlecove::winerror {

inline constexpr std::uint32_t Success = 0;              // ERROR_SUCCESS
inline constexpr std::uint32_t FileNotFound = 2;         // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t PathNotFound = 3;         // ERROR_PATH_NOT_FOUND
inline constexpr std::uint32_t TooManyOpenFiles = 4;     // ERROR_TOO_MANY_OPEN_FILES
inline constexpr std::uint32_t AccessDenied = 5;         // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t NotEnoughMemory = 8;      // ERROR_NOT_ENOUGH_MEMORY
inline constexpr std::uint32_t ReadFault = 30;           // ERROR_READ_FAULT
inline constexpr std::uint32_t SharingViolation = 32;    // ERROR_SHARING_VIOLATION
inline constexpr std::uint32_t InvalidParameter = 87;    // ERROR_INVALID_PARAMETER
inline constexpr std::uint32_t DiskFull = 112;           // ERROR_DISK_FULL
inline constexpr std::uint32_t FilenameExcedRange = 206; // ERROR_FILENAME_EXCED_RANGE
inline constexpr std::uint32_t FileTooLarge = 223;       // ERROR_FILE_TOO_LARGE

} // namespace brindlecove::winerror
