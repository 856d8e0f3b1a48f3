#include "ras/linux/PppdProcesses.h"

#include "common/linux/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <net/if.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindlecove::pppd {

namespace {

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

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit,
                                         bool followLinks) {
    // Opening a FIFO or a device must not block the program: only regular files are read.
    const TUniqueFd file(
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW)));
    struct stat status {};
    if (!file.Valid() || ::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
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

std::string BaseName(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
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

std::optional<TPidFile> ReadPidFile(const std::string& path) {
    // The run folder is shared with others: a link there names nothing of pppd's.
    const auto text = ReadSmallFile(path, 256, false);
    return text ? ParsePidFile(*text) : std::nullopt;
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

bool IsLiveProcess(pid_t pid) {
    const char state = ProcessState(pid);
    return state != 0 && state != 'Z' && state != 'X' && state != 'x';
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

bool RunsExecutable(pid_t pid, const std::vector<std::string>& words,
                    const std::string& executable) {
    const std::string proc = "/proc/" + std::to_string(pid);
    struct stat owner {};
    if (::stat(proc.c_str(), &owner) != 0 || (owner.st_uid != ::geteuid() && owner.st_uid != 0)) {
        return false;
    }
    std::error_code error;
    std::string exe = std::filesystem::read_symlink(proc + "/exe", error).string();
    if (error) {
        return false; // not ours to look into
    }
    constexpr std::string_view Deleted = " (deleted)"; // replaced by an upgrade while it runs
    if (exe.ends_with(Deleted)) {
        exe.resize(exe.size() - Deleted.size());
    }
    if (exe == executable) {
        return true;
    }
    if (!IsShell(exe) || words.size() < 2) {
        return false;
    }
    std::filesystem::path script = words[1];
    if (script.is_relative()) {
        script = std::filesystem::path(proc + "/cwd") / script;
    }
    return std::filesystem::weakly_canonical(script, error) == executable && !error;
}

bool IsLiveProcessWith(pid_t pid, std::string_view program, const std::string& executable,
                       std::string_view option, std::string_view value) {
    if (pid <= 1 || !IsLiveProcess(pid)) {
        return false;
    }
    const auto words = ProcessCommandLine(pid);
    const auto first = ProgramArguments(words, program);
    if (!first || !RunsExecutable(pid, words, executable)) {
        return false;
    }
    for (std::size_t i = *first; i + 1 < words.size(); ++i) {
        if (words[i] == option && words[i + 1] == value) {
            return true;
        }
    }
    return false;
}

} // namespace brindlecove::pppd
