#pragma once
// The Win32 base types the ports speak in, declared by the project so that the core needs no
// system header. Their sizes are those of the platform headers on every build.

#include <cstdint>

// The calling convention of the system's exported functions (it only differs on 32-bit x86).
#if defined(_WIN32) && defined(__i386__)
#define BRINDLECOVE_WINAPI __attribute__((stdcall))
#else
#define BRINDLECOVE_WINAPI
#endif

namespace brindlecove {

using DWORD = std::uint32_t;
using BOOL = std::int32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using BYTE = std::uint8_t;
using CHAR = char;
using ULONG_PTR = std::uintptr_t;
using LPCSTR = const char*;
using LPSTR = char*;

} // namespace brindlecove
