#include "testing/linux/PrivateNetwork.h"

#include "common/linux/UniqueFd.h"
#include "testing/linux/TestHelpers.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sched.h>
#include <unistd.h>

namespace brindlecove::testing {

namespace {

struct TPipeCloser {
    void operator()(FILE* file) const { ::pclose(file); }
};
using TPipe = std::unique_ptr<FILE, TPipeCloser>;

bool WriteFile(const char* path, const std::string& text, std::string& why) {
    const TUniqueFd fd(::open(path, O_WRONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        why = std::string("open ") + path + ": " + std::strerror(errno);
        return false;
    }
    if (::write(fd.Get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        why = std::string("write ") + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

bool EnterPrivateNetwork(std::string& why) {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        why = std::string("unshare(CLONE_NEWUSER|CLONE_NEWNET): ") + std::strerror(errno);
        return false;
    }
    return WriteFile("/proc/self/setgroups", "deny", why) &&
           WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1", why) &&
           WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1", why);
}

bool EnterFreshNetwork(std::string& why) {
    if (::unshare(CLONE_NEWNET) != 0) {
        why = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool IpBatch(const std::string& commands, std::string& why) {
    // The commands reach ip through a here-document; its messages and its status come back.
    const std::string output =
        CommandOutput("ip -batch - 2>&1 <<'END'\n" + commands + "END\necho status $?");
    if (("\n" + output).ends_with("\nstatus 0\n")) {
        return true;
    }
    why = "ip -batch failed: " + output;
    return false;
}

bool SetUpUplinks(std::string& why) {
    return IpBatch(UplinkCommands, why);
}

std::string CommandOutput(const std::string& command) {
    const TPipe pipe(::popen(command.c_str(), "r"));
    if (!pipe) {
        return {};
    }
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) {
        output.append(buffer, n);
    }
    return output;
}

std::vector<std::string> MainRoutes() {
    std::vector<std::string> routes = Lines(CommandOutput("ip -4 route show table main"));
    for (std::string& route : routes) {
        while (!route.empty() && route.back() == ' ') {
            route.pop_back();
        }
    }
    return routes;
}

std::string StandInPppd() {
    return BRINDLECOVE_SOURCE_DIR "/testing/linux/pppd-standin";
}

void StopStandInLinks(const std::string& runFolder) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(runFolder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with("ppp-") || !name.ends_with(".pid")) {
            continue;
        }
        std::ifstream pidFile(it->path());
        pid_t pid = 0;
        if (pidFile >> pid && pid > 0) {
            ::kill(pid, SIGTERM);
        }
    }
}

} // namespace brindlecove::testing
