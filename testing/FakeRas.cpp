#include "testing/FakeRas.h"

#include "common/FixedText.h"
#include "common/Win32Errors.h"

#include <algorithm>
#include <cstring>

namespace brindlecove::testing {

namespace {} // namespace

TFakeEntry& TFakeRas::AddEntry(const std::string& name) {
    Phonebook.push_back(TFakeEntry{});
    Phonebook.back().Name = name;
    return Phonebook.back();
}

TFakeConnection& TFakeRas::Connect(const std::string& entryName, const std::string& ip,
                                   const std::string& server) {
    Connections.push_back({entryName, FNextHandle++, ip, server, 0});
    return Connections.back();
}

void TFakeRas::Disconnect(const std::string& entryName) {
    std::erase_if(Connections, [&](const TFakeConnection& c) { return c.EntryName == entryName; });
}

int TFakeRas::CallCount(const std::string& function) const {
    return static_cast<int>(std::count(Calls.begin(), Calls.end(), function));
}

bool TFakeRas::Enter(const char* function) {
    Calls.emplace_back(function);
    return !Missing && MissingFunctions.count(function) == 0;
}

const TFakeEntry* TFakeRas::FindEntry(const std::string& name) const {
    for (const TFakeEntry& entry : Phonebook) {
        if (entry.Name == name) {
            return &entry;
        }
    }
    return nullptr;
}

DWORD TFakeRas::RasEnumEntries(LPCSTR, LPCSTR, RASENTRYNAMEA* entries, DWORD* bytes, DWORD* count) {
    if (!Enter("RasEnumEntries")) {
        return RasUnavailable;
    }
    if (EnumEntriesResult != 0) {
        return EnumEntriesResult;
    }
    if (entries == nullptr || entries[0].dwSize != sizeof(RASENTRYNAMEA)) {
        return raserror::InvalidSize;
    }
    const auto needed = static_cast<DWORD>(Phonebook.size() * sizeof(RASENTRYNAMEA));
    if (*bytes < needed) {
        *bytes = needed;
        *count = static_cast<DWORD>(Phonebook.size());
        return raserror::BufferTooSmall;
    }
    for (std::size_t i = 0; i < Phonebook.size(); ++i) {
        entries[i].dwSize = sizeof(RASENTRYNAMEA);
        SetFieldText(entries[i].szEntryName, Phonebook[i].Name);
    }
    *bytes = needed;
    *count = static_cast<DWORD>(Phonebook.size());
    return 0;
}

DWORD TFakeRas::RasEnumConnections(RASCONNA* connections, DWORD* bytes, DWORD* count) {
    if (!Enter("RasEnumConnections")) {
        return RasUnavailable;
    }
    if (EnumConnectionsResult != 0) {
        return EnumConnectionsResult;
    }
    if (connections == nullptr || connections[0].dwSize != sizeof(RASCONNA)) {
        return raserror::InvalidSize;
    }
    const auto needed = static_cast<DWORD>(Connections.size() * sizeof(RASCONNA));
    if (*bytes < needed) {
        *bytes = needed;
        *count = static_cast<DWORD>(Connections.size());
        for (; GrowAfterBufferTooSmall > 0; --GrowAfterBufferTooSmall) {
            Connect("grown-" + std::to_string(Connections.size()));
        }
        return raserror::BufferTooSmall;
    }
    for (std::size_t i = 0; i < Connections.size(); ++i) {
        connections[i].dwSize = sizeof(RASCONNA);
        connections[i].hrasconn = Connections[i].Handle;
        SetFieldText(connections[i].szEntryName, Connections[i].EntryName);
        SetFieldText(connections[i].szDeviceType, "PPPoE");
    }
    *bytes = needed;
    *count = static_cast<DWORD>(Connections.size());
    return 0;
}

DWORD TFakeRas::RasGetProjectionInfo(HRASCONN conn, RASPROJECTION projection, void* info,
                                     DWORD* bytes) {
    if (!Enter("RasGetProjectionInfo")) {
        return RasUnavailable;
    }
    auto* ip = static_cast<RASPPPIP*>(info);
    if (projection != RASP_PppIp || *bytes < sizeof(RASPPPIP) || ip->dwSize != sizeof(RASPPPIP)) {
        return raserror::InvalidSize;
    }
    for (const TFakeConnection& connection : Connections) {
        if (connection.Handle == conn) {
            if (connection.ProjectionResult != 0) {
                return connection.ProjectionResult;
            }
            SetFieldText(ip->szIpAddress, connection.IpAddress);
            SetFieldText(ip->szServerIpAddress, connection.ServerIpAddress);
            return 0;
        }
    }
    return winerror::InvalidHandle;
}

DWORD TFakeRas::RasGetEntryProperties(LPCSTR, LPCSTR entryName, RASENTRYA* entryInfo,
                                      DWORD* entryInfoSize, BYTE*, DWORD* deviceInfoSize) {
    if (!Enter("RasGetEntryProperties")) {
        return RasUnavailable;
    }
    const TFakeEntry* entry = FindEntry(entryName);
    if (entry == nullptr) {
        return raserror::CannotFindPhonebookEntry;
    }
    if (entryInfo == nullptr) {
        *entryInfoSize = entry->PropertiesSize;
        *deviceInfoSize = 0;
        return entry->SizeQueryResult;
    }
    if (*entryInfoSize < entry->PropertiesSize || entryInfo->dwSize != sizeof(RASENTRYA)) {
        return raserror::BufferTooSmall;
    }
    if (entry->PropertiesResult != 0) {
        return entry->PropertiesResult;
    }
    entryInfo->dwCountryCode = entry->CountryCode;
    SetFieldText(entryInfo->szAreaCode, entry->AreaCode);
    SetFieldText(entryInfo->szLocalPhoneNumber, entry->PhoneNumber);
    SetFieldText(entryInfo->szDeviceType, entry->DeviceType);
    SetFieldText(entryInfo->szDeviceName, entry->DeviceName);
    return 0;
}

DWORD TFakeRas::RasGetEntryDialParams(LPCSTR, RASDIALPARAMSA* params, BOOL* password) {
    if (!Enter("RasGetEntryDialParams")) {
        return RasUnavailable;
    }
    if (params->dwSize != sizeof(RASDIALPARAMSA)) {
        return raserror::InvalidSize;
    }
    const TFakeEntry* entry = FindEntry(params->szEntryName);
    if (entry == nullptr || !entry->HasDialParams) {
        return raserror::CannotFindPhonebookEntry;
    }
    SetFieldText(params->szUserName, entry->UserName);
    SetFieldText(params->szPassword, entry->Password);
    *password = entry->Password.empty() ? 0 : 1;
    return 0;
}

DWORD TFakeRas::RasDial(RASDIALEXTENSIONS* extensions, LPCSTR phonebook, RASDIALPARAMSA* params,
                        DWORD notifierType, void* notifier, HRASCONN* conn) {
    if (!Enter("RasDial")) {
        return RasUnavailable;
    }
    if (extensions != nullptr || phonebook != nullptr || notifierType != 0 || notifier != nullptr ||
        *conn != 0) {
        return winerror::InvalidParameter; // the program dials synchronously with a cleared handle
    }
    const std::string name = params->szEntryName;
    Dialled.push_back(name);
    const TFakeEntry* found = FindEntry(name);
    if (found == nullptr) {
        return raserror::CannotFindPhonebookEntry;
    }
    const TFakeEntry entry = *found; // DuringDial may change the phonebook
    *conn = entry.DialHandle != 0 ? entry.DialHandle : FNextHandle++;
    if (DuringDial) {
        DuringDial(name);
    }
    if (entry.DialResult == 0) {
        Connections.push_back({name, *conn, entry.DialIpAddress, entry.DialServerIpAddress, 0});
    }
    return entry.DialResult;
}

DWORD TFakeRas::RasHangUp(HRASCONN conn) {
    if (!Enter("RasHangUp")) {
        return RasUnavailable;
    }
    HangUps.push_back(conn);
    if (HangUpEndsConnection) {
        std::erase_if(Connections, [&](const TFakeConnection& c) { return c.Handle == conn; });
    }
    return 0;
}

DWORD TFakeRas::RasGetErrorString(UINT error, LPSTR buffer, DWORD bufferSize) {
    if (!Enter("RasGetErrorString")) {
        return RasUnavailable;
    }
    const auto text = ErrorTexts.find(error);
    if (text == ErrorTexts.end() || buffer == nullptr || bufferSize == 0) {
        return winerror::InvalidParameter;
    }
    const std::size_t length = std::min<std::size_t>(text->second.size(), bufferSize - 1);
    std::memcpy(buffer, text->second.data(), length);
    buffer[length] = '\0';
    return 0;
}

} // namespace brindlecove::testing
