#pragma once
// The settings file: a Windows profile (INI) file read and written a key at a time, with the
// arguments and results of GetPrivateProfileStringA and WritePrivateProfileStringA.
//
// Semantics every implementation keeps (those of Windows): section and key names are looked up
// without regard to letter case; the first matching section and key win; values are returned
// without surrounding blanks (and without one pair of surrounding quotes); a missing file or key
// gives the default; writing creates the file, the section and the key as needed and keeps every
// other section, key and line as it was.

#include "common/Win32Types.h"

namespace brindlecove {

class IProfilePort {
public:
    virtual ~IProfilePort() = default;

    // Copies the value of [section] key into buffer (at most size - 1 characters and a NUL) and
    // answers the number of characters copied; the default (without trailing blanks) when the
    // file, the section or the key is missing.
    virtual DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                           LPSTR buffer, DWORD size, LPCSTR fileName) = 0;

    // Sets [section] key = value in the file; nonzero on success, 0 on failure with the reason in
    // LastError().
    virtual BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                            LPCSTR fileName) = 0;

    // The Win32 error code of the last failed write (GetLastError).
    virtual DWORD LastError() const = 0;
};

} // namespace brindlecove
