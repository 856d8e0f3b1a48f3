#pragma once
// The RAS port of the Linux edition: the entries are pppd's peers files, a dial runs
// `pppd call NAME linkname NAME ipparam NAME nopersist updetach` and waits for it, the active
// connections are the live pppd processes named by their pid files, a connection handle is the
// pid of its pppd.

#include "ras/RasPort.h"

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brindlecove {

struct TPppdConfig {
    std::string PppdPath = "/usr/sbin/pppd";
    std::string PeersFolder = "/etc/ppp/peers";
    std::string SecretsFolder = "/etc/ppp";
    std::vector<std::string> RunFolders = {"/run", "/var/run", "/run/pppd"};
    // How long a dial may take before pppd is asked to stop, how long it then has before it is
    // killed, and how long a link that came up may take to show its IPv4 address.
    std::chrono::milliseconds DialTimeout{120000};
    std::chrono::milliseconds StopGrace{5000};
    std::chrono::milliseconds AddressWait{2000};
};

// The defaults with the overrides of BRINDLECOVE_PPPD, BRINDLECOVE_PPP_PEERS,
// BRINDLECOVE_PPP_SECRETS and BRINDLECOVE_PPP_RUNDIR (one folder instead of the list).
TPppdConfig PppdConfigFromEnvironment();

class TPppdRas final : public IRasPort {
public:
    explicit TPppdRas(TPppdConfig config);

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

    // The entries the peers folder holds, sorted.
    std::vector<std::string> Entries();
    // Peers files the last listing skipped: pppd could not use their names, or a name differing
    // only in letter case came first.
    const std::vector<std::string>& SkippedNames() const { return FSkipped; }
    // Skipped names not handed out before: each one is reported once.
    std::vector<std::string> TakeNewSkippedNames();
    // What pppd wrote before the last dial ended or detached.
    const std::string& LastDialOutput() const { return FLastDialOutput; }

    struct TLink {
        std::string Entry;
        pid_t Pid = 0;
        std::string Interface;
    };
    // The links up or being set up; with `only`, just that process's link, if it is one.
    std::vector<TLink> ActiveLinks(pid_t only = 0);

private:
    bool IsEntry(const std::string& name);
    std::optional<TLink> FindLink(const std::string& entry);
    std::optional<TLink> FindLinkByPid(pid_t pid);
    std::string InterfaceOfPid(pid_t pid) const;
    // Whether the program was asked to end (SIGTERM or SIGINT pending): a dial then stops.
    static bool StopAsked();
    // The index of the link's interface (see FLinkIndex); 0 while it has none.
    unsigned LinkIndex(const TLink& link);
    std::string ProgramName() const;

    TPppdConfig FConfig;
    std::string FExecutable; // the pppd program's canonical path
    // The interface index of each link's pppd, taken when its interface was first seen: the
    // name in a pid file may by now belong to another interface (links can be renamed).
    std::map<pid_t, unsigned> FLinkIndex;
    std::vector<std::string> FSkipped;
    std::set<std::string> FReportedSkipped;
    std::string FLastDialOutput;
};

} // namespace brindlecove
