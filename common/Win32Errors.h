#pragma once
// The Win32 error codes that pass between the core and the ports, each declared once here so the
// core needs no system header (names without the ERROR_ prefix, which <windows.h> takes as macros).
// The RAS codes from 600 up live with the RAS interface.

#include "common/Win32Types.h"

namespace brindlecove::winerror {

inline constexpr DWORD Success = 0;                // ERROR_SUCCESS, NO_ERROR
inline constexpr DWORD FileNotFound = 2;           // ERROR_FILE_NOT_FOUND
inline constexpr DWORD PathNotFound = 3;           // ERROR_PATH_NOT_FOUND
inline constexpr DWORD TooManyOpenFiles = 4;       // ERROR_TOO_MANY_OPEN_FILES
inline constexpr DWORD AccessDenied = 5;           // ERROR_ACCESS_DENIED
inline constexpr DWORD InvalidHandle = 6;          // ERROR_INVALID_HANDLE
inline constexpr DWORD NotEnoughMemory = 8;        // ERROR_NOT_ENOUGH_MEMORY
inline constexpr DWORD ReadFault = 30;             // ERROR_READ_FAULT
inline constexpr DWORD SharingViolation = 32;      // ERROR_SHARING_VIOLATION
inline constexpr DWORD NotSupported = 50;          // ERROR_NOT_SUPPORTED
inline constexpr DWORD InvalidParameter = 87;      // ERROR_INVALID_PARAMETER
inline constexpr DWORD BufferOverflow = 111;       // ERROR_BUFFER_OVERFLOW
inline constexpr DWORD DiskFull = 112;             // ERROR_DISK_FULL
inline constexpr DWORD InsufficientBuffer = 122;   // ERROR_INSUFFICIENT_BUFFER
inline constexpr DWORD FilenameExcedRange = 206;   // ERROR_FILENAME_EXCED_RANGE
inline constexpr DWORD FileTooLarge = 223;         // ERROR_FILE_TOO_LARGE
inline constexpr DWORD NoData = 232;               // ERROR_NO_DATA
inline constexpr DWORD CanNotComplete = 1003;      // ERROR_CAN_NOT_COMPLETE
inline constexpr DWORD NotFound = 1168;            // ERROR_NOT_FOUND
inline constexpr DWORD ObjectAlreadyExists = 5010; // ERROR_OBJECT_ALREADY_EXISTS

} // namespace brindlecove::winerror
