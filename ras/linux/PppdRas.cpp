#include "ras/linux/PppdRas.h"

#include "common/AnsiText.h"
#include "common/FixedText.h"
#include "common/Win32Errors.h"
#include "common/linux/ChildProcess.h"
#include "common/linux/UniqueFd.h"
#include "ras/linux/PppdExit.h"
#include "ras/linux/PppdLinkAddresses.h"
#include "ras/linux/PppdPeers.h"
#include "ras/linux/PppdProcesses.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace brindlecove {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t MaxOutput = 64 * 1024;

// A handle names a process only when it is a positive pid: kill() treats 0 and negative values
// as process groups.
std::optional<pid_t> PidFromHandle(HRASCONN conn) {
    if (conn == 0 || conn > static_cast<HRASCONN>(INT_MAX)) {
        return std::nullopt;
    }
    return static_cast<pid_t>(conn);
}

} // namespace

TPppdConfig PppdConfigFromEnvironment() {
    TPppdConfig config;
    const auto take = [](const char* name, std::string& value) {
        const char* text = std::getenv(name);
        if (text != nullptr && *text != '\0') {
            value = text;
            return true;
        }
        return false;
    };
    take("BRINDLECOVE_PPPD", config.PppdPath);
    take("BRINDLECOVE_PPP_PEERS", config.PeersFolder);
    take("BRINDLECOVE_PPP_SECRETS", config.SecretsFolder);
    std::string runFolder;
    if (take("BRINDLECOVE_PPP_RUNDIR", runFolder)) {
        config.RunFolders = {runFolder};
    }
    return config;
}

TPppdRas::TPppdRas(TPppdConfig config) : FConfig(std::move(config)) {
    std::error_code error;
    FExecutable = fs::weakly_canonical(FConfig.PppdPath, error).string();
}

std::string TPppdRas::ProgramName() const {
    return pppd::BaseName(FConfig.PppdPath);
}

std::vector<std::string> TPppdRas::Entries() {
    std::vector<std::string> names;
    std::vector<std::string> skipped;
    std::error_code error;
    for (fs::directory_iterator it(FConfig.PeersFolder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) {
            continue;
        }
        const std::string name = it->path().filename().string();
        switch (pppd::ClassifyPeerName(name)) {
        case pppd::TNameVerdict::Entry:
            names.push_back(name);
            break;
        case pppd::TNameVerdict::Unusable:
            skipped.push_back(name);
            break;
        case pppd::TNameVerdict::Ignored:
            break;
        }
    }
    std::sort(names.begin(), names.end());
    // RAS tells entries apart without regard to letter case, pppd does not: of names that differ
    // only in case the first is listed, the others are skipped.
    std::vector<std::string> listed;
    for (const std::string& name : names) {
        if (std::any_of(listed.begin(), listed.end(),
                        [&name](const std::string& kept) { return AnsiSameText(kept, name); })) {
            skipped.push_back(name);
        } else {
            listed.push_back(name);
        }
    }
    std::sort(skipped.begin(), skipped.end());
    FSkipped = std::move(skipped);
    return listed;
}

std::vector<std::string> TPppdRas::TakeNewSkippedNames() {
    std::vector<std::string> fresh;
    for (const std::string& name : FSkipped) {
        if (FReportedSkipped.insert(name).second) {
            fresh.push_back(name);
        }
    }
    return fresh;
}

bool TPppdRas::IsEntry(const std::string& name) {
    if (pppd::ClassifyPeerName(name) != pppd::TNameVerdict::Entry) {
        return false;
    }
    // One rule for what is an entry: the listing's (a regular file, first of its letter case).
    const auto entries = Entries();
    return std::binary_search(entries.begin(), entries.end(), name);
}

std::string TPppdRas::InterfaceOfPid(pid_t pid) const {
    for (const std::string& folder : FConfig.RunFolders) {
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (!name.ends_with(".pid") || name.starts_with("ppp-")) {
                continue;
            }
            const auto parsed = pppd::ReadPidFile(it->path().string());
            if (parsed && parsed->Pid == pid) {
                return name.substr(0, name.size() - 4);
            }
        }
    }
    return {};
}

bool TPppdRas::StopAsked() {
    // The event loop keeps SIGTERM and SIGINT blocked and reads them from a descriptor: while a
    // dial waits they stay pending, and are seen here without taking them from the loop.
    sigset_t pending;
    return ::sigpending(&pending) == 0 &&
           (::sigismember(&pending, SIGTERM) == 1 || ::sigismember(&pending, SIGINT) == 1);
}

unsigned TPppdRas::LinkIndex(const TLink& link) {
    if (const auto known = FLinkIndex.find(link.Pid); known != FLinkIndex.end()) {
        return known->second;
    }
    const unsigned index = link.Interface.empty() ? 0 : ::if_nametoindex(link.Interface.c_str());
    if (index != 0) {
        FLinkIndex[link.Pid] = index;
    }
    return index;
}

std::vector<TPppdRas::TLink> TPppdRas::ActiveLinks(pid_t only) {
    std::vector<TLink> links;
    const std::string program = ProgramName();
    const auto known = [&](const std::string& entry) {
        return std::any_of(links.begin(), links.end(),
                           [&](const TLink& link) { return link.Entry == entry; });
    };
    // Links pppd names by their linkname in its pid files.
    for (const std::string& folder : FConfig.RunFolders) {
        std::error_code error;
        std::vector<fs::path> files;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            files.push_back(it->path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            const std::string name = file.filename().string();
            if (!name.starts_with("ppp-") || !name.ends_with(".pid")) {
                continue;
            }
            const std::string entry = name.substr(4, name.size() - 8);
            if (pppd::ClassifyPeerName(entry) != pppd::TNameVerdict::Entry || known(entry)) {
                continue;
            }
            const auto parsed = pppd::ReadPidFile(file.string());
            if (parsed && (only == 0 || parsed->Pid == only) &&
                pppd::IsLiveProcessWith(parsed->Pid, program, FExecutable, "linkname", entry)) {
                links.push_back(
                    {entry, parsed->Pid,
                     parsed->Interface.empty() ? InterfaceOfPid(parsed->Pid) : parsed->Interface});
            }
        }
    }
    if (only != 0 && !links.empty()) {
        return links;
    }
    if (only == 0) {
        // The scan below can only add links of entries not found yet: none left, nothing to scan.
        const auto entries = Entries();
        if (std::all_of(entries.begin(), entries.end(), known)) {
            return links;
        }
    }
    // Links without a pid file found above: started without a linkname (`pon NAME`, found by
    // `call NAME`), or with one whose pid file is gone or written where this port does not look
    // (found by `linkname NAME`). Each process's command line is read once; only a pppd of an
    // entry is looked at further.
    const auto consider = [&](pid_t pid) {
        const auto words = pppd::ProcessCommandLine(pid);
        const auto arguments = pppd::ProgramArguments(words, program);
        if (!arguments) {
            return; // not pppd
        }
        const auto first = words.begin() + static_cast<std::ptrdiff_t>(*arguments);
        auto named = std::find(first, words.end(), "linkname");
        if (named == words.end()) {
            named = std::find(first, words.end(), "call");
        }
        if (named == words.end() || named + 1 == words.end()) {
            return;
        }
        const std::string& entry = *(named + 1);
        if (!pppd::IsLiveProcess(pid) || known(entry) || !IsEntry(entry) ||
            !pppd::RunsExecutable(pid, words, FExecutable)) {
            return;
        }
        links.push_back({entry, pid, InterfaceOfPid(pid)});
    };
    if (only != 0) {
        consider(only);
        return links;
    }
    std::error_code error;
    for (fs::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.empty() && name.size() <= 9 &&
            std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            consider(static_cast<pid_t>(std::stol(name)));
        }
    }
    return links;
}

std::optional<TPppdRas::TLink> TPppdRas::FindLink(const std::string& entry) {
    for (TLink& link : ActiveLinks()) {
        if (link.Entry == entry) {
            return link;
        }
    }
    return std::nullopt;
}

std::optional<TPppdRas::TLink> TPppdRas::FindLinkByPid(pid_t pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    for (TLink& link : ActiveLinks(pid)) {
        if (link.Pid == pid) {
            return link;
        }
    }
    return std::nullopt;
}

DWORD TPppdRas::RasEnumEntries(LPCSTR, LPCSTR, RASENTRYNAMEA* entries, DWORD* bytes, DWORD* count) {
    if (bytes == nullptr || count == nullptr) {
        return winerror::InvalidParameter;
    }
    if (entries == nullptr || entries[0].dwSize != sizeof(RASENTRYNAMEA)) {
        return raserror::InvalidSize;
    }
    const auto names = Entries();
    const auto needed = static_cast<DWORD>(names.size() * sizeof(RASENTRYNAMEA));
    *count = static_cast<DWORD>(names.size());
    if (*bytes < needed) {
        *bytes = needed;
        return raserror::BufferTooSmall;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        entries[i].dwSize = sizeof(RASENTRYNAMEA);
        SetFieldText(entries[i].szEntryName, names[i]);
    }
    *bytes = needed;
    return 0;
}

DWORD TPppdRas::RasEnumConnections(RASCONNA* connections, DWORD* bytes, DWORD* count) {
    if (bytes == nullptr || count == nullptr) {
        return winerror::InvalidParameter;
    }
    if (connections == nullptr || connections[0].dwSize != sizeof(RASCONNA)) {
        return raserror::InvalidSize;
    }
    const auto links = ActiveLinks();
    // Each link's interface is pinned by index when it is first seen; gone links are forgotten.
    std::erase_if(FLinkIndex, [&links](const auto& pinned) {
        return std::none_of(links.begin(), links.end(),
                            [&pinned](const TLink& link) { return link.Pid == pinned.first; });
    });
    for (const TLink& link : links) {
        LinkIndex(link);
    }
    const auto needed = static_cast<DWORD>(links.size() * sizeof(RASCONNA));
    *count = static_cast<DWORD>(links.size());
    if (*bytes < needed) {
        *bytes = needed;
        return raserror::BufferTooSmall;
    }
    for (std::size_t i = 0; i < links.size(); ++i) {
        RASCONNA& connection = connections[i];
        connection = RASCONNA{};
        connection.dwSize = sizeof(RASCONNA);
        connection.hrasconn = static_cast<HRASCONN>(links[i].Pid);
        SetFieldText(connection.szEntryName, links[i].Entry);
        if (const auto options = pppd::ReadPeerFile(FConfig.PeersFolder + "/" + links[i].Entry)) {
            SetFieldText(connection.szDeviceType, options->DeviceType);
            SetFieldText(connection.szDeviceName, options->DeviceName);
        }
    }
    *bytes = needed;
    return 0;
}

DWORD TPppdRas::RasGetProjectionInfo(HRASCONN conn, RASPROJECTION projection, void* info,
                                     DWORD* bytes) {
    if (info == nullptr || bytes == nullptr) {
        return winerror::InvalidParameter;
    }
    auto* ip = static_cast<RASPPPIP*>(info);
    if (projection != RASP_PppIp || *bytes < sizeof(RASPPPIP) || ip->dwSize != sizeof(RASPPPIP)) {
        return raserror::InvalidSize;
    }
    const auto pid = PidFromHandle(conn);
    const auto link = pid ? FindLinkByPid(*pid) : std::nullopt;
    if (!link) {
        return winerror::InvalidHandle;
    }
    const unsigned index = LinkIndex(*link);
    const auto addresses = index == 0 ? std::nullopt : pppd::InterfaceAddresses(index);
    if (!addresses) {
        return raserror::ProjectionNotComplete;
    }
    ip->dwError = 0;
    SetFieldText(ip->szIpAddress, addresses->Local);
    SetFieldText(ip->szServerIpAddress, addresses->Peer);
    return 0;
}

DWORD TPppdRas::RasGetEntryProperties(LPCSTR, LPCSTR entry, RASENTRYA* entryInfo,
                                      DWORD* entryInfoSize, BYTE*, DWORD* deviceInfoSize) {
    if (entry == nullptr || entryInfoSize == nullptr) {
        return winerror::InvalidParameter;
    }
    if (!IsEntry(entry)) {
        return raserror::CannotFindPhonebookEntry;
    }
    if (entryInfo == nullptr || *entryInfoSize < sizeof(RASENTRYA)) {
        *entryInfoSize = sizeof(RASENTRYA);
        if (deviceInfoSize != nullptr) {
            *deviceInfoSize = 0;
        }
        return raserror::BufferTooSmall;
    }
    if (entryInfo->dwSize != sizeof(RASENTRYA)) {
        return raserror::InvalidSize;
    }
    const auto options = pppd::ReadPeerFile(FConfig.PeersFolder + "/" + entry);
    if (!options) {
        return raserror::CannotFindPhonebookEntry;
    }
    *entryInfo = RASENTRYA{};
    entryInfo->dwSize = sizeof(RASENTRYA);
    SetFieldText(entryInfo->szDeviceType, options->DeviceType);
    SetFieldText(entryInfo->szDeviceName, options->DeviceName);
    *entryInfoSize = sizeof(RASENTRYA);
    if (deviceInfoSize != nullptr) {
        *deviceInfoSize = 0;
    }
    return 0;
}

DWORD TPppdRas::RasGetEntryDialParams(LPCSTR, RASDIALPARAMSA* params, BOOL* password) {
    if (params == nullptr || password == nullptr) {
        return winerror::InvalidParameter;
    }
    if (params->dwSize != sizeof(RASDIALPARAMSA)) {
        return raserror::InvalidSize;
    }
    const std::string name = FieldText(params->szEntryName);
    if (!IsEntry(name)) {
        return raserror::CannotFindPhonebookEntry;
    }
    const auto options = pppd::ReadPeerFile(FConfig.PeersFolder + "/" + name);
    if (!options) {
        return raserror::CannotFindPhonebookEntry;
    }
    SetFieldText(params->szUserName, options->User);
    // pppd reads the secret itself: it never leaves the secrets files.
    SetFieldText(params->szPassword, "");
    *password = pppd::HasSecretFor(FConfig.SecretsFolder, options->User) ? 1 : 0;
    return 0;
}

DWORD TPppdRas::RasDial(RASDIALEXTENSIONS* extensions, LPCSTR phonebook, RASDIALPARAMSA* params,
                        DWORD notifierType, void* notifier, HRASCONN* conn) {
    using Clock = std::chrono::steady_clock;
    if (extensions != nullptr || phonebook != nullptr || notifierType != 0 || notifier != nullptr ||
        params == nullptr || conn == nullptr) {
        return winerror::InvalidParameter; // only synchronous dials of the default phonebook
    }
    FLastDialOutput.clear();
    const std::string name = FieldText(params->szEntryName);
    if (!IsEntry(name)) {
        return raserror::CannotFindPhonebookEntry;
    }
    if (access(FConfig.PppdPath.c_str(), X_OK) != 0) {
        return raserror::RasmanCannotInitialize;
    }
    if (const auto running = FindLink(name)) {
        *conn = static_cast<HRASCONN>(running->Pid);
        return raserror::PortAlreadyOpen;
    }
    int pipeEnds[2] = {-1, -1};
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return raserror::Unknown;
    }
    TUniqueFd readEnd(pipeEnds[0]);
    TUniqueFd writeEnd(pipeEnds[1]);
    fcntl(readEnd.Get(), F_SETFL, fcntl(readEnd.Get(), F_GETFL) | O_NONBLOCK);
    auto child = TChildProcess::Spawn({FConfig.PppdPath, "call", name, "linkname", name, "ipparam",
                                       name, "nopersist", "updetach"},
                                      writeEnd.Get());
    writeEnd = TUniqueFd();
    if (!child) {
        return raserror::RasmanCannotInitialize;
    }
    const auto drain = [&] {
        char chunk[4096];
        for (;;) {
            const ssize_t got = read(readEnd.Get(), chunk, sizeof(chunk));
            if (got <= 0) {
                return got == 0; // true at end of file
            }
            const std::size_t room = MaxOutput - std::min(MaxOutput, FLastDialOutput.size());
            FLastDialOutput.append(chunk, std::min(room, static_cast<std::size_t>(got)));
        }
    };
    const Clock::time_point start = Clock::now();
    std::optional<Clock::time_point> stopped; // when pppd was asked to stop
    bool timedOut = false;
    bool aborted = false;
    bool pipeOpen = true;
    std::optional<int> status;
    while (!(status = child->TryWait())) {
        const auto now = Clock::now();
        if (!stopped && (now - start >= FConfig.DialTimeout || StopAsked())) {
            // Too long, or the program is asked to end: pppd is stopped, killed if it lingers.
            child->Signal(SIGTERM);
            stopped = now;
            timedOut = now - start >= FConfig.DialTimeout;
            aborted = !timedOut;
        } else if (stopped && now - *stopped >= FConfig.StopGrace) {
            child->Signal(SIGKILL);
            status = child->Wait();
            break;
        }
        if (pipeOpen) {
            pollfd waitFor{readEnd.Get(), POLLIN, 0};
            if (poll(&waitFor, 1, 50) > 0 && drain()) {
                pipeOpen = false;
            }
        } else {
            poll(nullptr, 0, 50);
        }
    }
    if (pipeOpen) {
        drain(); // what is there now; a helper pppd started may keep the pipe open
    }
    // Stopped for the program's end, pppd answers why it ended, unless it had to be killed.
    DWORD result = timedOut                          ? raserror::NoAnswer
                   : aborted && WIFSIGNALED(*status) ? raserror::UserDisconnection
                                                     : pppd::RasCodeFromWaitStatus(*status);
    // The handle of the link, when there is one: once it is up, after its address appears.
    const Clock::time_point waitUntil = Clock::now() + FConfig.AddressWait;
    std::optional<TLink> link = FindLink(name);
    while (result == 0 && Clock::now() < waitUntil &&
           (!link || LinkIndex(*link) == 0 || !pppd::InterfaceAddresses(LinkIndex(*link)))) {
        poll(nullptr, 0, 50);
        link = FindLink(name);
    }
    if (link) {
        *conn = static_cast<HRASCONN>(link->Pid);
    } else if (result == 0) {
        result = raserror::Unknown; // pppd reported the link up, yet no pppd carries it
    }
    return result;
}

DWORD TPppdRas::RasHangUp(HRASCONN conn) {
    const auto pid = PidFromHandle(conn);
    if (!pid) {
        return winerror::InvalidHandle;
    }
    // A pidfd taken before the check keeps naming that process even if its pid is reused before
    // the signal goes out.
    const TUniqueFd process(static_cast<int>(syscall(SYS_pidfd_open, *pid, 0)));
    if (!FindLinkByPid(*pid)) {
        return winerror::InvalidHandle; // never signal a process that is not that link's pppd
    }
    const long sent = process.Get() >= 0
                          ? syscall(SYS_pidfd_send_signal, process.Get(), SIGTERM, nullptr, 0)
                          : kill(*pid, SIGTERM);
    return sent == 0 ? 0 : winerror::InvalidHandle;
}

DWORD TPppdRas::RasGetErrorString(UINT error, LPSTR buffer, DWORD bufferSize) {
    const std::string text = pppd::RasErrorText(error);
    if (text.empty() || buffer == nullptr || bufferSize == 0) {
        return winerror::InvalidParameter;
    }
    const std::size_t length = std::min<std::size_t>(text.size(), bufferSize - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return 0;
}

} // namespace brindlecove
