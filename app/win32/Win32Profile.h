#pragma once
// The settings file on Windows: the system's own profile functions, called as they are.

#include "app/ProfilePort.h"

namespace brindlecove {

class TWin32Profile final : public IProfilePort {
public:
    DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                                   DWORD size, LPCSTR fileName) override;
    BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                    LPCSTR fileName) override;
    DWORD LastError() const override { return FLastError; }

private:
    DWORD FLastError = 0;
};

} // namespace brindlecove
