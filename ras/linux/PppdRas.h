#pragma once
// The RAS port of the Linux edition: the entries are pppd's peers files, a dial runs
// `pppd call NAME linkname NAME ipparam NAME nopersist updetach` and waits for it, the active
// connections are the live pppd processes named by their pid files, a connection handle is the
// pid of its pppd.

#include "common/linux/UniqueFd.h"
#include "ras/RasPort.h"

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <string_view>
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

namespace pppd {

// What the phonebook makes of a file name in the peers folder.
enum class TNameVerdict {
    Entry,   // listed
    Ignored, // hidden files, backups, package manager leftovers, README files
    Unusable // a name pppd or a pid file name could not carry: listed as skipped
};
TNameVerdict ClassifyPeerName(std::string_view name);

// The words of an option file, split with pppd's own rules.
std::vector<std::string> SplitOptionWords(std::string_view text);

// What the program shows of a peers file.
struct TPeerOptions {
    std::string User;
    std::string DeviceType;                   // "PPPoE", "modem" or empty
    std::string DeviceName;                   // the Ethernet interface or the serial device
    std::vector<std::string> IgnoredIncludes; // `file`/`call` options, not followed
};
TPeerOptions ReadPeerOptions(const std::vector<std::string>& words);

// Whether pap-secrets or chap-secrets of the folder hold a line for the user (or for any client).
bool HasSecretFor(const std::string& secretsFolder, const std::string& user);

struct TPidFile {
    pid_t Pid = 0;
    std::string Interface; // empty until pppd knows its unit
};
std::optional<TPidFile> ParsePidFile(std::string_view text);

// Where the arguments of `program` start in a process's command line: 1, or 2 for a script run
// through its #! line ("SHELL SCRIPT ARGS..."); nullopt when the process is not that program.
std::optional<std::size_t> ProgramArguments(const std::vector<std::string>& words,
                                            std::string_view program);

// Whether pid is a live (not zombie) process of the program `program` (the base name of its
// executable, or of the script a shell runs) whose command line holds the words `option value`.
bool IsLiveProcessWith(pid_t pid, std::string_view program, std::string_view option,
                       std::string_view value);

// The RAS code for the wait status of a pppd run, and the Windows text of a RAS code.
DWORD RasCodeFromPppdExit(int exitCode);
DWORD RasCodeFromWaitStatus(int waitStatus);
std::string RasErrorText(DWORD code);

// The IPv4 addresses of an interface from rtnetlink: IFA_LOCAL and IFA_ADDRESS.
struct TLinkAddresses {
    std::string Local;
    std::string Peer;
};
std::optional<TLinkAddresses> InterfaceAddresses(const std::string& interfaceName);

// A child process started with an argument vector (never through a shell); one that is still
// running when this object goes away is killed and reaped.
class TChildProcess {
public:
    // Starts argv[0] with stdin on /dev/null and stdout and stderr on `output` (or /dev/null when
    // output < 0). Returns nullopt, with errno kept, when the program could not be started.
    static std::optional<TChildProcess> Spawn(const std::vector<std::string>& argv, int output);
    TChildProcess(TChildProcess&& other) noexcept;
    TChildProcess& operator=(TChildProcess&&) = delete;
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;
    ~TChildProcess();

    pid_t Pid() const { return FPid; }
    // The wait status once the process has ended; nullopt while it runs.
    std::optional<int> TryWait();
    int Wait();
    void Signal(int signal) const;

private:
    explicit TChildProcess(pid_t pid) : FPid(pid) {}
    pid_t FPid = -1;
    bool FReaped = false;
};

} // namespace pppd

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
    // Peers files the last listing skipped because pppd could not use their names.
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
    std::string ProgramName() const;

    TPppdConfig FConfig;
    std::vector<std::string> FSkipped;
    std::set<std::string> FReportedSkipped;
    std::string FLastDialOutput;
};

} // namespace brindlecove
