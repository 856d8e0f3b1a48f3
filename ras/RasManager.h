#pragma once
// The RAS connection manager: a mirror of the phonebook entries and of the state of their
// connections, polled once a second, with connect and disconnect events, dialling and hanging up.
//
// Entries are enumerated once, at construction; an entry's index (its position in the order RAS
// listed the names, duplicates dropped) never changes. Everything runs on the UI thread; events
// are raised synchronously and may call back into the manager.

#include "common/DateTime.h"
#include "common/ListError.h"
#include "common/Timer.h"
#include "ras/RasPort.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brindlecove {

// One phonebook entry and the state of its connection. Event handlers receive the live record.
struct TRasEntry {
    TRasEntry(std::string name, TDateTime now) : Name(std::move(name)), TimeStamp(now) {}

    HRASCONN Handle = 0;
    std::string DeviceName;
    std::string DeviceType;
    std::string Name;
    std::string IPAddress = "0.0.0.0";
    std::string ServerIPAddress = "0.0.0.0";
    bool Connected = false;
    TDateTime TimeStamp;
    std::string PhoneNumber;
    std::string AreaCode;
    std::int32_t CountryCode = 0;
};

// The records, in entry-index order; owns them (their addresses never change).
class TRasList {
public:
    int Count() const { return static_cast<int>(FItems.size()); }
    TRasEntry& Items(int index) const; // EListError for a bad index

    // The first record whose name equals `name` byte for byte; null when there is none.
    TRasEntry* FindEntry(std::string_view name) const;
    // Appends a record unless one with that exact name exists.
    void AddEntry(const std::string& name, TDateTime now);

private:
    std::vector<std::unique_ptr<TRasEntry>> FItems;
};

class TRasManager;
using TOnConnectionEvent = std::function<void(TRasManager& sender, TRasEntry& connection)>;
using TOnConnectingEvent =
    std::function<void(TRasManager& sender, std::int32_t index, std::int32_t msg,
                       std::int32_t state, std::int32_t error)>;
// The application's error report (a message box with the application title on Windows).
using TReportErrorFn = std::function<void(const std::string& message)>;

class TRasManager {
public:
    // Enumerates the phonebook, polls once and reads each entry's properties; the poll timer is
    // created disabled. Entries whose properties cannot be read are kept with empty properties and
    // named in one call of reportError.
    TRasManager(IRasPort& ras, ITimerHost& timers, const IClock& clock,
                const TReportErrorFn& reportError = {});
    TRasManager(const TRasManager&) = delete;
    TRasManager& operator=(const TRasManager&) = delete;

    TOnConnectionEvent OnConnect;
    TOnConnectingEvent OnConnecting; // stored for its owner; the manager never raises it
    TOnConnectionEvent OnDisconnect;
    std::int32_t Tag = 0; // free for the owner

    int EntryCount() const { return FEntries.Count(); }
    std::string EntryName(int index) const { return FEntries.Items(index).Name; }
    bool IsConnected(int index) const { return FEntries.Items(index).Connected; }
    std::string LocalAddress(int index) const { return FEntries.Items(index).IPAddress; }
    std::string ServerAddress(int index) const { return FEntries.Items(index).ServerIPAddress; }

    // Dials synchronously with the entry's saved dial parameters: 0 when connected (OnConnect has
    // been raised), -1 when not attempted (already connected, no dial parameters, RAS missing),
    // otherwise the RAS error code. A failed dial keeps its handle for the next HangUp.
    std::int32_t Dial(int index);
    // Hangs up the entry's handle, if any, without waiting; the next Poll reports the drop.
    void HangUp(int index);
    bool GetDialParams(const std::string& entryName, RASDIALPARAMSA& params);

    // Raises OnConnect for every entry already connected, then starts the one-second poll.
    void StartMonitoring();
    void StopMonitoring();
    // Compares the active connections with the entries; raises OnConnect / OnDisconnect.
    void Poll();
    // Reads device, phone and country data of every entry.
    void ReadEntryProperties();

    TRasList& Entries() { return FEntries; }
    const TTimer& PollTimer() const { return FPollTimer; }

private:
    void Enumerate();
    // The own and server address of the entry's connection; "0.0.0.0" both while RAS has none.
    void ReadProjection(TRasEntry& entry);

    IRasPort& FRas;
    const IClock& FClock;
    TReportErrorFn FReportError;
    TRasList FEntries;
    TTimer FPollTimer;
};

} // namespace brindlecove
