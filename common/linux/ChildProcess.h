#pragma once
// A child process started with an argument vector (never through a shell); one that is still
// running when its owner goes away is killed and reaped.

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace brindlecove {

class TChildProcess {
public:
    // Starts argv[0] with stdin on /dev/null and stdout and stderr on `output` (or /dev/null when
    // output < 0), and no other descriptor. Returns nullopt, with errno kept, when the program
    // could not be started.
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

} // namespace brindlecove
