#include "app/win32/Win32Profile.h"

#include <windows.h>

namespace brindlecove {

DWORD TWin32Profile::GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                              LPSTR buffer, DWORD size, LPCSTR fileName) {
    return ::GetPrivateProfileStringA(section, key, defaultValue, buffer, size, fileName);
}

BOOL TWin32Profile::WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                               LPCSTR fileName) {
    if (::WritePrivateProfileStringA(section, key, value, fileName)) {
        return TRUE;
    }
    // Taken before anything else can overwrite the thread's last error.
    FLastError = ::GetLastError();
    return FALSE;
}

} // namespace brindlecove
