#include "common/linux/ChildProcess.h"

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace brindlecove {

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
    // Nothing else the program holds or inherited from its own caller reaches the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
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

} // namespace brindlecove
