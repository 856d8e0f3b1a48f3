#include "ras/RasManager.h"

#include "common/AnsiText.h"
#include "common/FixedText.h"

#include <algorithm>
#include <cstddef>

namespace brindlecove {

namespace {

// Runs a RAS enumeration into a zero-filled array of `initial` records whose first dwSize is set.
// While RAS answers ERROR_BUFFER_TOO_SMALL with a larger byte count, asks again with that many
// bytes: the list may also grow between two calls. `count` never exceeds the records held.
template <typename TRecord, typename TCall>
DWORD EnumerateRecords(std::vector<TRecord>& records, std::size_t initial, DWORD& count,
                       const TCall& call) {
    constexpr int MaxAttempts = 4;
    constexpr std::size_t MaxRecords = 65536;
    std::size_t capacity = initial;
    DWORD result = RasUnavailable;
    for (int attempt = 0; attempt < MaxAttempts; ++attempt) {
        records.assign(capacity, TRecord{});
        records[0].dwSize = sizeof(TRecord);
        auto bytes = static_cast<DWORD>(capacity * sizeof(TRecord));
        count = 0;
        result = call(records.data(), &bytes, &count);
        const std::size_t needed = (std::size_t{bytes} + sizeof(TRecord) - 1) / sizeof(TRecord);
        if (result != raserror::BufferTooSmall || needed <= capacity || needed > MaxRecords) {
            break;
        }
        capacity = needed;
    }
    count = std::min<DWORD>(count, static_cast<DWORD>(records.size()));
    return result;
}

constexpr std::size_t FixedRecords = 100;

} // namespace

TRasEntry& TRasList::Items(int index) const {
    if (index < 0 || index >= Count()) {
        throw EListError(index);
    }
    return *FItems[static_cast<std::size_t>(index)];
}

TRasEntry* TRasList::FindEntry(std::string_view name) const {
    for (const auto& item : FItems) {
        if (item->Name == name) {
            return item.get();
        }
    }
    return nullptr;
}

void TRasList::AddEntry(const std::string& name, TDateTime now) {
    if (FindEntry(name) == nullptr) {
        FItems.push_back(std::make_unique<TRasEntry>(name, now));
    }
}

TRasManager::TRasManager(IRasPort& ras, ITimerHost& timers, const IClock& clock,
                         const TReportErrorFn& reportError)
    : FRas(ras), FClock(clock), FReportError(reportError), FPollTimer(timers, 1000) {
    Enumerate();
    Poll();
    ReadEntryProperties();
    FPollTimer.OnTimer = [this] { Poll(); };
}

void TRasManager::Enumerate() {
    std::vector<RASENTRYNAMEA> names;
    DWORD count = 0;
    const DWORD result = EnumerateRecords(
        names, FixedRecords, count, [&](RASENTRYNAMEA* buffer, DWORD* bytes, DWORD* n) {
            return FRas.RasEnumEntries(nullptr, nullptr, buffer, bytes, n);
        });
    if (result != 0) {
        return;
    }
    for (DWORD i = 0; i < count; ++i) {
        FEntries.AddEntry(FieldText(names[i].szEntryName), FClock.Now());
    }
}

void TRasManager::ReadEntryProperties() {
    std::string failures;
    for (int index = 0; index < FEntries.Count(); ++index) {
        TRasEntry& entry = FEntries.Items(index);
        DWORD entrySize = 0;
        DWORD deviceInfoSize = 0;
        DWORD result = FRas.RasGetEntryProperties(nullptr, entry.Name.c_str(), nullptr, &entrySize,
                                                  nullptr, &deviceInfoSize);
        if (result != raserror::BufferTooSmall) {
            // Keep the entry, with empty properties; the failures are reported together below.
            failures += (failures.empty() ? "" : "\r\n") +
                        ("Call of RasGetEntryProperties failed for \"" + entry.Name + "\"");
            continue;
        }
        // RAS may want more room than the structure this program reads, never less.
        const std::size_t records = std::max<std::size_t>(
            1, (std::size_t{entrySize} + sizeof(RASENTRYA) - 1) / sizeof(RASENTRYA));
        std::vector<RASENTRYA> buffer(records, RASENTRYA{});
        buffer[0].dwSize = sizeof(RASENTRYA);
        entrySize = std::max<DWORD>(entrySize, sizeof(RASENTRYA));
        result = FRas.RasGetEntryProperties(nullptr, entry.Name.c_str(), buffer.data(), &entrySize,
                                            nullptr, &deviceInfoSize);
        if (result == 0) {
            const RASENTRYA& info = buffer[0];
            entry.PhoneNumber = FieldText(info.szLocalPhoneNumber);
            entry.AreaCode = FieldText(info.szAreaCode);
            entry.DeviceName = FieldText(info.szDeviceName);
            entry.DeviceType = FieldText(info.szDeviceType);
            entry.CountryCode = static_cast<std::int32_t>(info.dwCountryCode);
        }
    }
    if (!failures.empty() && FReportError) {
        FReportError(failures);
    }
}

void TRasManager::ReadProjection(TRasEntry& entry) {
    RASPPPIP projection{};
    projection.dwSize = sizeof(RASPPPIP);
    DWORD bytes = sizeof(RASPPPIP);
    if (FRas.RasGetProjectionInfo(entry.Handle, RASP_PppIp, &projection, &bytes) == 0) {
        entry.IPAddress = FieldText(projection.szIpAddress);
        entry.ServerIPAddress = FieldText(projection.szServerIpAddress);
    } else {
        entry.IPAddress = "0.0.0.0";
        entry.ServerIPAddress = "0.0.0.0";
    }
}

void TRasManager::Poll() {
    std::vector<std::string> active;
    std::vector<RASCONNA> connections;
    DWORD count = 0;
    const DWORD result = EnumerateRecords(connections, FixedRecords, count,
                                          [&](RASCONNA* buffer, DWORD* bytes, DWORD* n) {
                                              return FRas.RasEnumConnections(buffer, bytes, n);
                                          });
    if (result == 0) {
        for (DWORD i = 0; i < count; ++i) {
            const RASCONNA& connection = connections[i];
            active.push_back(FieldText(connection.szEntryName));
            TRasEntry* entry = FEntries.FindEntry(active.back());
            if (entry == nullptr) {
                continue; // a connection of an entry this manager does not know
            }
            entry->Handle = connection.hrasconn;
            ReadProjection(*entry);
        }
    }
    const auto isActive = [&](const std::string& name) {
        return std::any_of(active.begin(), active.end(),
                           [&](const std::string& a) { return AnsiSameText(a, name); });
    };
    // Handlers may dial or poll again; this pass goes on with the set taken above.
    for (int index = 0; index < FEntries.Count(); ++index) {
        TRasEntry& entry = FEntries.Items(index);
        const bool nowActive = isActive(entry.Name);
        if (entry.Connected && !nowActive) {
            entry.Connected = false;
            entry.DeviceName.clear();
            entry.DeviceType.clear();
            entry.Handle = 0;
            entry.IPAddress = "0.0.0.0";
            entry.ServerIPAddress = "0.0.0.0";
            entry.TimeStamp = FClock.Now();
            if (OnDisconnect) {
                OnDisconnect(*this, entry);
            }
        } else if (!entry.Connected && nowActive) {
            entry.Connected = true;
            entry.TimeStamp = FClock.Now();
            if (OnConnect) {
                OnConnect(*this, entry);
            }
        }
    }
}

bool TRasManager::GetDialParams(const std::string& entryName, RASDIALPARAMSA& params) {
    params = RASDIALPARAMSA{};
    params.dwSize = sizeof(RASDIALPARAMSA);
    SetFieldText(params.szEntryName, entryName);
    BOOL password = 0; // whether a password was saved does not matter: RAS dials all the same
    return FRas.RasGetEntryDialParams(nullptr, &params, &password) == 0;
}

std::int32_t TRasManager::Dial(int index) {
    TRasEntry& entry = FEntries.Items(index);
    if (entry.Connected) {
        return -1;
    }
    RASDIALPARAMSA params;
    if (!GetDialParams(entry.Name, params)) {
        return -1;
    }
    entry.Handle = 0;
    const DWORD result = FRas.RasDial(nullptr, nullptr, &params, 0, nullptr, &entry.Handle);
    if (result == 0) {
        entry.Connected = true;
        // The addresses at once, so that the connect event's handlers can route through them.
        ReadProjection(entry);
        if (OnConnect) {
            OnConnect(*this, entry);
        }
    } else {
        entry.Connected = false; // the handle RAS stored stays for the next HangUp
    }
    return static_cast<std::int32_t>(result);
}

void TRasManager::HangUp(int index) {
    const TRasEntry& entry = FEntries.Items(index);
    if (entry.Handle != 0) {
        FRas.RasHangUp(entry.Handle);
    }
}

void TRasManager::StartMonitoring() {
    for (int index = 0; index < FEntries.Count(); ++index) {
        TRasEntry& entry = FEntries.Items(index);
        if (entry.Connected && OnConnect) {
            OnConnect(*this, entry);
        }
    }
    FPollTimer.SetEnabled(true);
}

void TRasManager::StopMonitoring() {
    FPollTimer.SetEnabled(false);
}

} // namespace brindlecove
