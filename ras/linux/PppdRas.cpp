#include "ras/linux/PppdRas.h"

#include "common/FixedText.h"
#include "common/Win32Errors.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <map>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brindlecove {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t MaxOutput = 64 * 1024;
constexpr std::size_t MaxOptionFile = 1024 * 1024;

// A whole small file; nullopt when it cannot be read.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit) {
    const TUniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
        return std::nullopt;
    }
    std::string text;
    char chunk[4096];
    while (text.size() < limit) {
        const std::size_t wanted = std::min(sizeof chunk, limit - text.size());
        const ssize_t got = ::read(file.Get(), chunk, wanted);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
        if (static_cast<std::size_t>(got) < wanted) {
            break; // a short read of a regular or /proc file: its end (saves a read per file)
        }
    }
    return text;
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string BaseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// A handle names a process only when it is a positive pid: kill() treats 0 and negative values
// as process groups.
std::optional<pid_t> PidFromHandle(HRASCONN conn) {
    if (conn == 0 || conn > static_cast<HRASCONN>(INT_MAX)) {
        return std::nullopt;
    }
    return static_cast<pid_t>(conn);
}

std::vector<std::string> ProcessCommandLine(pid_t pid) {
    const auto text = ReadSmallFile("/proc/" + std::to_string(pid) + "/cmdline", 64 * 1024);
    std::vector<std::string> words;
    if (!text) {
        return words;
    }
    std::size_t start = 0;
    while (start < text->size()) {
        const std::size_t end = std::min(text->find('\0', start), text->size());
        words.push_back(text->substr(start, end - start));
        start = end + 1;
    }
    return words;
}

// The process state letter of /proc/PID/stat; 0 when the process is gone.
char ProcessState(pid_t pid) {
    const auto text = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", 4096);
    if (!text) {
        return 0;
    }
    // "PID (COMM) S ...": the command may itself hold parentheses, the last one ends it.
    const auto close = text->rfind(')');
    if (close == std::string::npos || close + 2 >= text->size()) {
        return 0;
    }
    return (*text)[close + 2];
}

bool IsShell(const std::string& path) {
    const std::string name = BaseName(path);
    return name == "sh" || name == "dash" || name == "bash";
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

namespace pppd {

TNameVerdict ClassifyPeerName(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.back() == '~' || name.starts_with("README")) {
        return TNameVerdict::Ignored;
    }
    for (std::string_view suffix :
         {".bak", ".orig", ".old", ".save", ".swp", ".rpmnew", ".rpmsave"}) {
        if (EndsWith(name, suffix)) {
            return TNameVerdict::Ignored;
        }
    }
    if (name.find(".dpkg-") != std::string_view::npos ||
        name.find(".ucf-") != std::string_view::npos) {
        return TNameVerdict::Ignored;
    }
    const bool usable = name.size() <= 64 && name.find("..") == std::string_view::npos &&
                        std::all_of(name.begin(), name.end(), [](char c) {
                            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                   (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '@' ||
                                   c == '+' || c == '-';
                        });
    return usable ? TNameVerdict::Entry : TNameVerdict::Unusable;
}

std::vector<std::string> SplitOptionWords(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
    };
    const auto hexValue = [](char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    while (i < text.size()) {
        if (isSpace(text[i])) {
            ++i;
            continue;
        }
        if (text[i] == '#') {
            while (i < text.size() && text[i] != '\n') {
                ++i;
            }
            continue;
        }
        std::string word;
        char quote = 0;
        bool any = false; // "" is an empty word, not no word
        while (i < text.size()) {
            const char c = text[i];
            if (c == '\\') {
                ++i;
                if (i >= text.size()) {
                    break;
                }
                const char e = text[i++];
                any = true;
                switch (e) {
                case '\n':
                    break; // a line continued
                case 'a':
                    word += '\a';
                    break;
                case 'b':
                    word += '\b';
                    break;
                case 'f':
                    word += '\f';
                    break;
                case 'n':
                    word += '\n';
                    break;
                case 'r':
                    word += '\r';
                    break;
                case 's':
                    word += ' ';
                    break;
                case 't':
                    word += '\t';
                    break;
                case 'v':
                    word += '\v';
                    break;
                case 'x': {
                    int value = 0;
                    int digits = 0;
                    while (digits < 2 && i < text.size() && hexValue(text[i]) >= 0) {
                        value = value * 16 + hexValue(text[i++]);
                        ++digits;
                    }
                    if (digits == 0) {
                        word += 'x';
                    } else {
                        word += static_cast<char>(value);
                    }
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        int value = e - '0';
                        for (int digits = 1;
                             digits < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7';
                             ++digits) {
                            value = value * 8 + (text[i++] - '0');
                        }
                        word += static_cast<char>(value & 0xFF);
                    } else {
                        word += e;
                    }
                }
                continue;
            }
            if (quote != 0) {
                if (c == quote) {
                    quote = 0;
                } else {
                    word += c;
                }
                ++i;
                continue;
            }
            if (c == '"' || c == '\'') {
                quote = c;
                any = true;
                ++i;
                continue;
            }
            if (isSpace(c) || c == '#') {
                break;
            }
            word += c;
            any = true;
            ++i;
        }
        if (any) {
            words.push_back(std::move(word));
        }
    }
    return words;
}

TPeerOptions ReadPeerOptions(const std::vector<std::string>& words) {
    // pppd options whose next word is their value, so that value is never taken for a device.
    static const std::set<std::string, std::less<>> withValue = {"user",
                                                                 "password",
                                                                 "remotename",
                                                                 "name",
                                                                 "plugin",
                                                                 "file",
                                                                 "call",
                                                                 "connect",
                                                                 "disconnect",
                                                                 "init",
                                                                 "welcome",
                                                                 "pty",
                                                                 "mtu",
                                                                 "mru",
                                                                 "lcp-echo-interval",
                                                                 "lcp-echo-failure",
                                                                 "idle",
                                                                 "holdoff",
                                                                 "maxfail",
                                                                 "ipparam",
                                                                 "linkname",
                                                                 "ms-dns",
                                                                 "ms-wins",
                                                                 "asyncmap",
                                                                 "speed",
                                                                 "connect-delay",
                                                                 "logfile",
                                                                 "unit",
                                                                 "ifname",
                                                                 "maxconnect",
                                                                 "domain",
                                                                 "netmask",
                                                                 "remotenumber",
                                                                 "lcp-max-configure",
                                                                 "lcp-restart",
                                                                 "ipcp-max-configure",
                                                                 "ipcp-restart",
                                                                 "pppoe-service",
                                                                 "pppoe-ac-name",
                                                                 "rp_pppoe_service",
                                                                 "rp_pppoe_ac",
                                                                 "pppoe-mac",
                                                                 "pppoe-host-uniq",
                                                                 "host-uniq"};
    TPeerOptions options;
    bool pppoe = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const bool hasNext = i + 1 < words.size();
        if (withValue.count(word) != 0) {
            if (!hasNext) {
                break;
            }
            const std::string& value = words[++i];
            if (word == "user") {
                options.User = value;
            } else if (word == "plugin") {
                const std::string plugin = BaseName(value);
                pppoe = plugin == "rp-pppoe.so" || plugin == "pppoe.so";
                if (pppoe) {
                    options.DeviceType = "PPPoE";
                    options.DeviceName.clear();
                }
            } else if (word == "file" || word == "call") {
                options.IgnoredIncludes.push_back(word + " " + value);
            }
            continue;
        }
        if (word.starts_with("/dev/")) {
            options.DeviceType = "modem";
            options.DeviceName = word;
        } else if (word.starts_with("tty") && word.size() > 3) {
            options.DeviceType = "modem";
            options.DeviceName = "/dev/" + word;
        } else if (pppoe && word.starts_with("nic-") && word.size() > 4) {
            options.DeviceName = word.substr(4);
        } else if (pppoe && word.size() <= 15 && word.front() >= 'a' && word.front() <= 'z' &&
                   word.back() >= '0' && word.back() <= '9' && word != "ipv6" && word != "noipv6" &&
                   std::all_of(word.begin(), word.end(), [](char c) {
                       return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                              c == '_';
                   })) {
            // The PPPoE plugins take the Ethernet interface as a word of its own (eth0, enp3s0).
            options.DeviceName = word;
        }
    }
    return options;
}

bool HasSecretFor(const std::string& secretsFolder, const std::string& user) {
    if (user.empty()) {
        return false;
    }
    for (const char* file : {"pap-secrets", "chap-secrets"}) {
        const auto text = ReadSmallFile(secretsFolder + "/" + file, MaxOptionFile);
        if (!text) {
            continue;
        }
        std::size_t start = 0;
        while (start < text->size()) {
            const std::size_t end = std::min(text->find('\n', start), text->size());
            const auto words = SplitOptionWords(std::string_view(*text).substr(start, end - start));
            // client server secret [addresses...]
            if (words.size() >= 3 && (words[0] == user || words[0] == "*")) {
                return true;
            }
            start = end + 1;
        }
    }
    return false;
}

std::optional<TPidFile> ParsePidFile(std::string_view text) {
    const auto lineEnd = text.find('\n');
    std::string_view first = text.substr(0, lineEnd);
    while (!first.empty() && (first.back() == '\r' || first.back() == ' ')) {
        first.remove_suffix(1);
    }
    while (!first.empty() && first.front() == ' ') {
        first.remove_prefix(1);
    }
    if (first.empty() || first.size() > 10 ||
        !std::all_of(first.begin(), first.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const long long value = std::stoll(std::string(first));
    if (value <= 1 || value > INT_MAX) {
        return std::nullopt; // 0, 1 and negatives would name groups or init, never a pppd
    }
    TPidFile result;
    result.Pid = static_cast<pid_t>(value);
    if (lineEnd != std::string_view::npos) {
        std::string_view second = text.substr(lineEnd + 1);
        second = second.substr(0, second.find('\n'));
        while (!second.empty() && (second.back() == '\r' || second.back() == ' ')) {
            second.remove_suffix(1);
        }
        if (second.size() < IFNAMSIZ && std::all_of(second.begin(), second.end(), [](char c) {
                return c > ' ' && c != '/' && c < 127;
            })) {
            result.Interface = std::string(second);
        }
    }
    return result;
}

std::optional<std::size_t> ProgramArguments(const std::vector<std::string>& words,
                                            std::string_view program) {
    if (words.empty()) {
        return std::nullopt;
    }
    if (BaseName(words[0]) == program) {
        return 1;
    }
    // A script started through its #! line runs as "SHELL SCRIPT ARGS...".
    if (IsShell(words[0]) && words.size() > 1 && BaseName(words[1]) == program) {
        return 2;
    }
    return std::nullopt;
}

bool IsLiveProcessWith(pid_t pid, std::string_view program, std::string_view option,
                       std::string_view value) {
    if (pid <= 1) {
        return false;
    }
    const char state = ProcessState(pid);
    if (state == 0 || state == 'Z' || state == 'X' || state == 'x') {
        return false;
    }
    const auto words = ProcessCommandLine(pid);
    const auto first = ProgramArguments(words, program);
    if (!first) {
        return false;
    }
    for (std::size_t i = *first; i + 1 < words.size(); ++i) {
        if (words[i] == option && words[i + 1] == value) {
            return true;
        }
    }
    return false;
}

DWORD RasCodeFromPppdExit(int exitCode) {
    switch (exitCode) {
    case 0:
        return 0;
    case 2:
        return 625;
    case 3:
        return raserror::RasmanCannotInitialize;
    case 4:
        return 728;
    case 5:
        return 631;
    case 6:
    case 7:
        return 633;
    case 8:
        return raserror::NoAnswer;
    case 9:
        return 651;
    case 10:
        return 720;
    case 11:
        return 778;
    case 12:
    case 13:
    case 20:
        return 668;
    case 15:
        return 718;
    case 16:
        return 628;
    case 17:
        return 737;
    case 18:
        return 692;
    case 19:
        return raserror::Authentication;
    case 21:
        return 649;
    default:
        return raserror::Unknown; // 1, 14 and anything pppd does not document
    }
}

DWORD RasCodeFromWaitStatus(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return RasCodeFromPppdExit(WEXITSTATUS(waitStatus));
    }
    return raserror::Unknown;
}

std::string RasErrorText(DWORD code) {
    static const std::map<DWORD, std::string> texts = {
        {602, "The port is already open."},
        {603, "The caller's buffer is too small."},
        {623, "The system could not find the phone book entry for this connection."},
        {625, "The system found invalid information in the phone book file."},
        {628, "The connection was terminated by the remote computer before it could be "
              "completed."},
        {631, "The user disconnected the modem (or other connecting device)."},
        {632, "The structure size is incorrect."},
        {633, "The modem (or other connecting device) is already in use or is not configured "
              "properly."},
        {635, "There was an unknown error."},
        {649, "The account does not have permission to dial in."},
        {651, "The modem (or other connecting device) has reported an error."},
        {668, "The connection was terminated."},
        {678, "The remote computer did not respond."},
        {691, "The remote connection was denied because the user name and password combination "
              "you provided is not recognized, or the selected authentication protocol is not "
              "permitted on the remote access server."},
        {692, "There was a hardware failure in the modem (or other connecting device)."},
        {711, "The operation could not finish because it could not start the Remote Access "
              "Connection Manager service in time."},
        {718, "The connection was terminated because the remote computer did not respond in a "
              "timely manner."},
        {720, "A connection to the remote computer could not be established."},
        {728, "The system cannot find an IP adapter."},
        {730, "The computer could not complete the network protocol negotiation in time."},
        {737, "Loopback was detected."},
        {778, "It was not possible to verify the identity of the server."},
    };
    const auto found = texts.find(code);
    return found == texts.end() ? std::string() : found->second;
}

// The kernel's netlink macros are C casts.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wconversion"
std::optional<TLinkAddresses> InterfaceAddresses(const std::string& interfaceName) {
    const unsigned index = if_nametoindex(interfaceName.c_str());
    if (index == 0) {
        return std::nullopt;
    }
    TUniqueFd sock(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (sock.Get() < 0) {
        return std::nullopt;
    }
    struct {
        nlmsghdr header;
        ifaddrmsg message;
    } request{};
    request.header.nlmsg_len = sizeof(request);
    request.header.nlmsg_type = RTM_GETADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.message.ifa_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(sock.Get(), &request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof(kernel)) < 0) {
        return std::nullopt;
    }
    std::vector<char> buffer(32768);
    std::optional<TLinkAddresses> result;
    for (;;) {
        const ssize_t received = recv(sock.Get(), buffer.data(), buffer.size(), 0);
        if (received <= 0) {
            return result;
        }
        auto remaining = static_cast<unsigned>(received);
        for (auto* header = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(header, remaining);
             header = NLMSG_NEXT(header, remaining)) {
            if (header->nlmsg_type == NLMSG_DONE || header->nlmsg_type == NLMSG_ERROR) {
                return result;
            }
            if (header->nlmsg_type != RTM_NEWADDR) {
                continue;
            }
            const auto* message = static_cast<const ifaddrmsg*>(NLMSG_DATA(header));
            if (message->ifa_family != AF_INET || message->ifa_index != index || result) {
                continue;
            }
            std::string local;
            std::string address;
            auto length = static_cast<unsigned>(IFA_PAYLOAD(header));
            for (const auto* attribute = IFA_RTA(message); RTA_OK(attribute, length);
                 attribute = RTA_NEXT(attribute, length)) {
                if (RTA_PAYLOAD(attribute) != 4) {
                    continue;
                }
                char text[INET_ADDRSTRLEN] = {};
                inet_ntop(AF_INET, RTA_DATA(attribute), text, sizeof(text));
                if (attribute->rta_type == IFA_LOCAL) {
                    local = text;
                } else if (attribute->rta_type == IFA_ADDRESS) {
                    address = text;
                }
            }
            if (local.empty()) {
                local = address; // a link without a peer address has only IFA_ADDRESS
            }
            if (!local.empty()) {
                result = TLinkAddresses{local, address};
            }
        }
    }
}

#pragma GCC diagnostic pop

std::optional<TChildProcess> TChildProcess::Spawn(const std::vector<std::string>& argv,
                                                  int output) {
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (output >= 0) {
        posix_spawn_file_actions_adddup2(&actions, output, 1);
        posix_spawn_file_actions_adddup2(&actions, output, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    // The child starts with default signal handling and an empty signal mask.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        return std::nullopt;
    }
    return TChildProcess(pid);
}

TChildProcess::TChildProcess(TChildProcess&& other) noexcept
    : FPid(other.FPid), FReaped(other.FReaped) {
    other.FPid = -1;
}

TChildProcess::~TChildProcess() {
    if (FPid > 0 && !FReaped) {
        kill(FPid, SIGKILL);
        Wait();
    }
}

std::optional<int> TChildProcess::TryWait() {
    if (FPid <= 0 || FReaped) {
        return std::nullopt;
    }
    int status = 0;
    const pid_t done = waitpid(FPid, &status, WNOHANG);
    if (done == FPid) {
        FReaped = true;
        return status;
    }
    if (done < 0 && errno != EINTR) {
        FReaped = true; // not a child of this process any more: nothing left to reap
        return W_EXITCODE(127, 0);
    }
    return std::nullopt;
}

int TChildProcess::Wait() {
    int status = 0;
    while (FPid > 0 && !FReaped) {
        const pid_t done = waitpid(FPid, &status, 0);
        if (done == FPid || (done < 0 && errno != EINTR)) {
            FReaped = true;
        }
    }
    return status;
}

void TChildProcess::Signal(int signal) const {
    if (FPid > 0 && !FReaped) {
        kill(FPid, signal);
    }
}

} // namespace pppd

TPppdRas::TPppdRas(TPppdConfig config) : FConfig(std::move(config)) {}

std::string TPppdRas::ProgramName() const {
    return BaseName(FConfig.PppdPath);
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
    std::sort(skipped.begin(), skipped.end());
    FSkipped = std::move(skipped);
    return names;
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
    std::error_code error;
    return fs::is_regular_file(fs::path(FConfig.PeersFolder) / name, error);
}

std::string TPppdRas::InterfaceOfPid(pid_t pid) const {
    for (const std::string& folder : FConfig.RunFolders) {
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (!EndsWith(name, ".pid") || name.starts_with("ppp-")) {
                continue;
            }
            const auto text = ReadSmallFile(it->path().string(), 256);
            const auto parsed = text ? pppd::ParsePidFile(*text) : std::nullopt;
            if (parsed && parsed->Pid == pid) {
                return name.substr(0, name.size() - 4);
            }
        }
    }
    return {};
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
            if (!name.starts_with("ppp-") || !EndsWith(name, ".pid")) {
                continue;
            }
            const std::string entry = name.substr(4, name.size() - 8);
            if (pppd::ClassifyPeerName(entry) != pppd::TNameVerdict::Entry || known(entry)) {
                continue;
            }
            const auto text = ReadSmallFile(file.string(), 256);
            const auto parsed = text ? pppd::ParsePidFile(*text) : std::nullopt;
            if (parsed && (only == 0 || parsed->Pid == only) &&
                pppd::IsLiveProcessWith(parsed->Pid, program, "linkname", entry)) {
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
    // Links started without a linkname (`pon NAME`): found by `call NAME` on the command line.
    // Each process's command line is read once; only a pppd of an entry is looked at further.
    const auto consider = [&](pid_t pid) {
        const auto words = ProcessCommandLine(pid);
        const auto arguments = pppd::ProgramArguments(words, program);
        if (!arguments || std::find(words.begin(), words.end(), "linkname") != words.end()) {
            return; // not pppd, or its pid file speaks for it
        }
        const auto call =
            std::find(words.begin() + static_cast<std::ptrdiff_t>(*arguments), words.end(), "call");
        if (call == words.end() || call + 1 == words.end()) {
            return;
        }
        const std::string& entry = *(call + 1);
        const char state = ProcessState(pid);
        if (state == 0 || state == 'Z' || state == 'X' || state == 'x' || known(entry) ||
            !IsEntry(entry)) {
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
        const auto text = ReadSmallFile(FConfig.PeersFolder + "/" + links[i].Entry, MaxOptionFile);
        if (text) {
            const auto options = pppd::ReadPeerOptions(pppd::SplitOptionWords(*text));
            SetFieldText(connection.szDeviceType, options.DeviceType);
            SetFieldText(connection.szDeviceName, options.DeviceName);
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
    const auto addresses =
        link->Interface.empty() ? std::nullopt : pppd::InterfaceAddresses(link->Interface);
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
    const auto text = ReadSmallFile(FConfig.PeersFolder + "/" + entry, MaxOptionFile);
    if (!text) {
        return raserror::CannotFindPhonebookEntry;
    }
    const auto options = pppd::ReadPeerOptions(pppd::SplitOptionWords(*text));
    *entryInfo = RASENTRYA{};
    entryInfo->dwSize = sizeof(RASENTRYA);
    SetFieldText(entryInfo->szDeviceType, options.DeviceType);
    SetFieldText(entryInfo->szDeviceName, options.DeviceName);
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
    const auto text = ReadSmallFile(FConfig.PeersFolder + "/" + name, MaxOptionFile);
    if (!text) {
        return raserror::CannotFindPhonebookEntry;
    }
    const auto options = pppd::ReadPeerOptions(pppd::SplitOptionWords(*text));
    SetFieldText(params->szUserName, options.User);
    // pppd reads the secret itself: it never leaves the secrets files.
    SetFieldText(params->szPassword, "");
    *password = pppd::HasSecretFor(FConfig.SecretsFolder, options.User) ? 1 : 0;
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
    auto child = pppd::TChildProcess::Spawn({FConfig.PppdPath, "call", name, "linkname", name,
                                             "ipparam", name, "nopersist", "updetach"},
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
    bool stopping = false;
    bool timedOut = false;
    bool pipeOpen = true;
    std::optional<int> status;
    while (!(status = child->TryWait())) {
        const auto elapsed = Clock::now() - start;
        if (!stopping && elapsed >= FConfig.DialTimeout) {
            child->Signal(SIGTERM);
            stopping = true;
            timedOut = true;
        } else if (stopping && elapsed >= FConfig.DialTimeout + FConfig.StopGrace) {
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
    DWORD result = timedOut ? raserror::NoAnswer : pppd::RasCodeFromWaitStatus(*status);
    // The handle of the link, when there is one: once it is up, after its address appears.
    const Clock::time_point waitUntil = Clock::now() + FConfig.AddressWait;
    std::optional<TLink> link = FindLink(name);
    while (result == 0 && Clock::now() < waitUntil &&
           (!link || link->Interface.empty() || !pppd::InterfaceAddresses(link->Interface))) {
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
