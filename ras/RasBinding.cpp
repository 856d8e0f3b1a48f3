#include "ras/RasBinding.h"

#include <string>

namespace brindlecove {

namespace {

std::size_t SlotOfAnsi(std::string_view function) {
    for (std::size_t i = 0; i < RasFunctionNames.size(); ++i) {
        if (RasFunctionNames[i] == function) {
            return 2 * i;
        }
    }
    return RasFunctionNames.size() * 2; // not a RAS function: no slot
}

// The calling convention of the system's exports.
template <typename TResult, typename... TArgs>
using TWinApi = TResult(BRINDLECOVE_WINAPI*)(TArgs...);

} // namespace

TRasBinding::TRasBinding(IModuleLoader& loader) : FLoader(loader) {
    // No "insert a disk" or "missing DLL" box may stop a system without RAS from starting.
    const UINT previousMode = FLoader.SetErrorMode(SemFailCriticalErrors | SemNoOpenFileErrorBox);
    try {
        FLibrary = FLoader.LoadLibraryA("rasapi32.dll");
    } catch (...) {
        FLibrary = nullptr;
    }
    FLoader.SetErrorMode(previousMode);
    if (FLibrary == nullptr) {
        return;
    }
    FAvailable = true;
    for (std::size_t i = 0; i < RasFunctionNames.size(); ++i) {
        const std::string name(RasFunctionNames[i]);
        FSlots[2 * i] = FLoader.GetProcAddress(FLibrary, (name + "A").c_str());
        FSlots[2 * i + 1] = FLoader.GetProcAddress(FLibrary, (name + "W").c_str());
    }
}

TRasBinding::~TRasBinding() {
    if (FAvailable) {
        FLoader.FreeLibrary(FLibrary);
    }
}

TProc TRasBinding::Resolved(std::string_view fullName) const {
    if (fullName.size() < 2 || (fullName.back() != 'A' && fullName.back() != 'W')) {
        return nullptr;
    }
    const std::size_t slot = SlotOfAnsi(fullName.substr(0, fullName.size() - 1));
    if (slot >= FSlots.size()) {
        return nullptr;
    }
    return FSlots[slot + (fullName.back() == 'W' ? 1 : 0)];
}

template <typename TFunction, typename... TArgs>
DWORD TRasBinding::Forward(std::string_view function, TArgs... args) const {
    const std::size_t index = SlotOfAnsi(function);
    const TProc slot = FAvailable && index < FSlots.size() ? FSlots[index] : nullptr;
    if (slot == nullptr) {
        return RasUnavailable;
    }
    return reinterpret_cast<TFunction>(slot)(args...);
}

DWORD TRasBinding::RasEnumEntries(LPCSTR reserved, LPCSTR phonebook, RASENTRYNAMEA* entries,
                                  DWORD* bytes, DWORD* count) {
    return Forward<TWinApi<DWORD, LPCSTR, LPCSTR, RASENTRYNAMEA*, DWORD*, DWORD*>>(
        "RasEnumEntries", reserved, phonebook, entries, bytes, count);
}

DWORD TRasBinding::RasEnumConnections(RASCONNA* connections, DWORD* bytes, DWORD* count) {
    return Forward<TWinApi<DWORD, RASCONNA*, DWORD*, DWORD*>>("RasEnumConnections", connections,
                                                              bytes, count);
}

DWORD TRasBinding::RasGetProjectionInfo(HRASCONN conn, RASPROJECTION projection, void* info,
                                        DWORD* bytes) {
    return Forward<TWinApi<DWORD, HRASCONN, RASPROJECTION, void*, DWORD*>>(
        "RasGetProjectionInfo", conn, projection, info, bytes);
}

DWORD TRasBinding::RasGetEntryProperties(LPCSTR phonebook, LPCSTR entry, RASENTRYA* entryInfo,
                                         DWORD* entryInfoSize, BYTE* deviceInfo,
                                         DWORD* deviceInfoSize) {
    return Forward<TWinApi<DWORD, LPCSTR, LPCSTR, RASENTRYA*, DWORD*, BYTE*, DWORD*>>(
        "RasGetEntryProperties", phonebook, entry, entryInfo, entryInfoSize, deviceInfo,
        deviceInfoSize);
}

DWORD TRasBinding::RasGetEntryDialParams(LPCSTR phonebook, RASDIALPARAMSA* params, BOOL* password) {
    return Forward<TWinApi<DWORD, LPCSTR, RASDIALPARAMSA*, BOOL*>>("RasGetEntryDialParams",
                                                                   phonebook, params, password);
}

DWORD TRasBinding::RasDial(RASDIALEXTENSIONS* extensions, LPCSTR phonebook, RASDIALPARAMSA* params,
                           DWORD notifierType, void* notifier, HRASCONN* conn) {
    return Forward<
        TWinApi<DWORD, RASDIALEXTENSIONS*, LPCSTR, RASDIALPARAMSA*, DWORD, void*, HRASCONN*>>(
        "RasDial", extensions, phonebook, params, notifierType, notifier, conn);
}

DWORD TRasBinding::RasHangUp(HRASCONN conn) {
    return Forward<TWinApi<DWORD, HRASCONN>>("RasHangUp", conn);
}

DWORD TRasBinding::RasGetErrorString(UINT error, LPSTR buffer, DWORD bufferSize) {
    return Forward<TWinApi<DWORD, UINT, LPSTR, DWORD>>("RasGetErrorString", error, buffer,
                                                       bufferSize);
}

} // namespace brindlecove
