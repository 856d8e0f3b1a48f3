#pragma once
// An in-memory RAS: a scripted phonebook, active connections that tests make appear and vanish,
// scripted dial results and error texts, functions that can be made unavailable one by one, and a
// record of every call.

#include "ras/RasPort.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace brindlecove::testing {

struct TFakeEntry {
    std::string Name;
    // Properties
    std::string DeviceType = "PPPoE";
    std::string DeviceName = "WAN Miniport (PPPOE)";
    std::string PhoneNumber;
    std::string AreaCode;
    DWORD CountryCode = 27;
    DWORD PropertiesSize = sizeof(RASENTRYA) + 32; // what the size query reports
    DWORD SizeQueryResult = 603;                   // answer of the size query
    DWORD PropertiesResult = 0;                    // answer of the second call
    // Saved dial parameters
    bool HasDialParams = true;
    std::string UserName = "user";
    std::string Password = "secret";
    // What dialling it does: the result, the handle stored even on failure, and on success the
    // addresses of the connection that appears.
    DWORD DialResult = 0;
    HRASCONN DialHandle = 0; // 0: the fake hands out a new one
    std::string DialIpAddress = "10.0.0.2";
    std::string DialServerIpAddress = "10.0.0.1";
};

struct TFakeConnection {
    std::string EntryName;
    HRASCONN Handle = 0;
    std::string IpAddress = "0.0.0.0";
    std::string ServerIpAddress = "0.0.0.0";
    DWORD ProjectionResult = 0;
};

class TFakeRas final : public IRasPort {
public:
    std::vector<TFakeEntry> Phonebook; // in enumeration order; names may repeat
    std::vector<TFakeConnection> Connections;
    std::map<UINT, std::string> ErrorTexts = {
        {691, "The remote connection was denied because the user name and password combination "
              "you provided is not recognized."},
        {678, "The remote computer did not respond."}};

    bool Missing = false;                   // no RAS library at all
    std::set<std::string> MissingFunctions; // e.g. "RasGetProjectionInfo"
    DWORD EnumEntriesResult = 0;            // a failure to answer instead of the names
    DWORD EnumConnectionsResult = 0;        // a failure to answer instead of the connections
    int GrowAfterBufferTooSmall = 0;        // connections that come up right after the next 603
    bool HangUpEndsConnection = true;       // the connection vanishes at once on RasHangUp

    std::vector<std::string> Calls;   // every call, by function name
    std::vector<HRASCONN> HangUps;    // the handles hung up
    std::vector<std::string> Dialled; // entry names passed to RasDial
    // Runs inside RasDial, before it answers (to act while the dial "blocks").
    std::function<void(const std::string& entryName)> DuringDial;

    TFakeEntry& AddEntry(const std::string& name);
    TFakeConnection& Connect(const std::string& entryName, const std::string& ip = "10.0.0.2",
                             const std::string& server = "10.0.0.1");
    void Disconnect(const std::string& entryName);
    int CallCount(const std::string& function) const;

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
    bool Enter(const char* function); // records the call; false when it is unavailable
    const TFakeEntry* FindEntry(const std::string& name) const;
    HRASCONN FNextHandle = 0x1000;
};

} // namespace brindlecove::testing
