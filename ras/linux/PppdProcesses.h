#pragma once
// pppd's pid files and the processes they name: what a pid file says, and whether a pid is a live
// pppd of a given link, judged from /proc.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace brindlecove::pppd {

// A whole small file, cut at `limit` bytes; nullopt when it cannot be read.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t limit,
                                         bool followLinks = true);

// The last component of a path.
std::string BaseName(std::string_view path);

struct TPidFile {
    pid_t Pid = 0;
    std::string Interface; // empty until pppd knows its unit
};
std::optional<TPidFile> ParsePidFile(std::string_view text);
// The pid file at `path`; nullopt when it cannot be read or says nothing usable.
std::optional<TPidFile> ReadPidFile(const std::string& path);

// The words of a process's command line; empty when the process is gone.
std::vector<std::string> ProcessCommandLine(pid_t pid);

// Whether pid is a process that still runs: neither gone nor a zombie (kill(pid, 0) succeeds on
// zombies).
bool IsLiveProcess(pid_t pid);

// Where the arguments of `program` start in a process's command line: 1, or 2 for a script run
// through its #! line ("SHELL SCRIPT ARGS..."); nullopt when the process is not that program.
std::optional<std::size_t> ProgramArguments(const std::vector<std::string>& words,
                                            std::string_view program);

// Whether the process runs `executable` (a canonical path) itself, or has a shell run it as a
// script, and belongs to this program's user or to root. The name a process gives itself counts
// for nothing here: any user can start a process called pppd.
bool RunsExecutable(pid_t pid, const std::vector<std::string>& words,
                    const std::string& executable);

// Whether pid is a live (not zombie) process of the program `program` (the base name of its
// executable, or of the script a shell runs) whose command line holds the words `option value`,
// and that really runs `executable` (see RunsExecutable).
bool IsLiveProcessWith(pid_t pid, std::string_view program, const std::string& executable,
                       std::string_view option, std::string_view value);

} // namespace brindlecove::pppd
