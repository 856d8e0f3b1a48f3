#pragma once
// The binding of the system's RAS client library, "rasapi32.dll", loaded at run time so that a
// system without RAS still runs the program (with no phonebook entries).
//
// One binding lives for the whole process: created before the main window, destroyed after it.
// Creating it loads the library with critical-error boxes suppressed and resolves 62 names;
// destroying it releases the library. A library missing at start stays missing for the run.

#include "ras/RasPort.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace brindlecove {

// A function address as GetProcAddress answers it; cast to the real signature before the call.
using TProc = void (*)();
using TModule = void*;

// What the binding asks of the system's loader (Windows: SetErrorMode, LoadLibraryA,
// GetProcAddress, FreeLibrary).
class IModuleLoader {
public:
    virtual ~IModuleLoader() = default;
    virtual UINT SetErrorMode(UINT mode) = 0; // answers the previous mode
    virtual TModule LoadLibraryA(LPCSTR fileName) = 0;
    virtual TProc GetProcAddress(TModule module, LPCSTR name) = 0;
    virtual BOOL FreeLibrary(TModule module) = 0;
};

inline constexpr UINT SemFailCriticalErrors = 0x0001;
inline constexpr UINT SemNoOpenFileErrorBox = 0x8000;

// The RAS functions resolved at start, each with the suffix A and then W.
inline constexpr std::array<std::string_view, 31> RasFunctionNames = {
    "RasCreatePhonebookEntry",  "RasDial",
    "RasEditPhonebookEntry",    "RasEnumConnections",
    "RasEnumEntries",           "RasGetConnectStatus",
    "RasGetEntryDialParams",    "RasGetErrorString",
    "RasGetProjectionInfo",     "RasHangUp",
    "RasSetEntryDialParams",    "RasEnumDevices",
    "RasGetCountryInfo",        "RasGetEntryProperties",
    "RasSetEntryProperties",    "RasRenameEntry",
    "RasDeleteEntry",           "RasValidateEntryName",
    "RasGetSubEntryHandle",     "RasGetCredentials",
    "RasSetCredentials",        "RasConnectionNotification",
    "RasGetSubEntryProperties", "RasSetSubEntryProperties",
    "RasGetAutodialAddress",    "RasSetAutodialAddress",
    "RasEnumAutodialAddresses", "RasGetAutodialEnable",
    "RasSetAutodialEnable",     "RasGetAutodialParam",
    "RasSetAutodialParam"};

class TRasBinding final : public IRasPort {
public:
    // Loads "rasapi32.dll" through the loader and resolves the names.
    explicit TRasBinding(IModuleLoader& loader);
    TRasBinding(const TRasBinding&) = delete;
    TRasBinding& operator=(const TRasBinding&) = delete;
    // Releases the library when it was loaded.
    ~TRasBinding() override;

    bool Available() const { return FAvailable; }
    // The address resolved for a full name such as "RasDialA"; null when not resolved.
    TProc Resolved(std::string_view fullName) const;

    DWORD RasEnumEntries(LPCSTR reserved, LPCSTR phonebook, RASENTRYNAMEA* entries, DWORD* bytes,
                         DWORD* count) override;
    DWORD RasEnumConnections(RASCONNA* connections, DWORD* bytes, DWORD* count) override;
    DWORD RasGetProjectionInfo(HRASCONN conn, RASPROJECTION projection, void* info,
                               DWORD* bytes) override;
    DWORD RasGetEntryProperties(LPCSTR phonebook, LPCSTR entry, RASENTRYA* entryInfo,
                                DWORD* entryInfoSize, BYTE* deviceInfo,
                                DWORD* deviceInfoSize) override;
    DWORD RasGetEntryDialParams(LPCSTR phonebook, RASDIALPARAMSA* params, BOOL* password) override;
    DWORD RasDial(RASDIALEXTENSIONS* extensions, LPCSTR phonebook, RASDIALPARAMSA* params,
                  DWORD notifierType, void* notifier, HRASCONN* conn) override;
    DWORD RasHangUp(HRASCONN conn) override;
    DWORD RasGetErrorString(UINT error, LPSTR buffer, DWORD bufferSize) override;

private:
    // Calls the ANSI variant of a function through its slot, or answers RasUnavailable.
    template <typename TFunction, typename... TArgs>
    DWORD Forward(std::string_view function, TArgs... args) const;

    IModuleLoader& FLoader;
    TModule FLibrary = nullptr;
    bool FAvailable = false;
    std::array<TProc, RasFunctionNames.size() * 2> FSlots{}; // A then W of each name
};

} // namespace brindlecove
