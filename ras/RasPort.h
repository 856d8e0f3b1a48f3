#pragma once
// The eight RAS functions the program calls, with the published ANSI functions' arguments and
// 32-bit results. Whoever answers returns RasUnavailable (-1) when RAS or the function is missing:
// the Windows binding of rasapi32.dll, the Linux adapter on pppd, or a test double.

#include "ras/RasApi.h"

namespace brindlecove {

class IRasPort {
public:
    virtual ~IRasPort() = default;

    virtual DWORD RasEnumEntries(LPCSTR reserved, LPCSTR phonebook, RASENTRYNAMEA* entries,
                                 DWORD* bytes, DWORD* count) = 0;
    virtual DWORD RasEnumConnections(RASCONNA* connections, DWORD* bytes, DWORD* count) = 0;
    virtual DWORD RasGetProjectionInfo(HRASCONN conn, RASPROJECTION projection, void* info,
                                       DWORD* bytes) = 0;
    virtual DWORD RasGetEntryProperties(LPCSTR phonebook, LPCSTR entry, RASENTRYA* entryInfo,
                                        DWORD* entryInfoSize, BYTE* deviceInfo,
                                        DWORD* deviceInfoSize) = 0;
    virtual DWORD RasGetEntryDialParams(LPCSTR phonebook, RASDIALPARAMSA* params,
                                        BOOL* password) = 0;
    virtual DWORD RasDial(RASDIALEXTENSIONS* extensions, LPCSTR phonebook, RASDIALPARAMSA* params,
                          DWORD notifierType, void* notifier, HRASCONN* conn) = 0;
    virtual DWORD RasHangUp(HRASCONN conn) = 0;
    virtual DWORD RasGetErrorString(UINT error, LPSTR buffer, DWORD bufferSize) = 0;
};

} // namespace brindlecove
