#pragma once
// Small helpers the Linux tests share: text split into lines, waiting for a condition, environment
// variables set for one test, and a check run as an unprivileged user.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brindlecove::testing {

// The lines of a text, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// How many of the lines contain `part`.
inline std::size_t CountContaining(const std::vector<std::string>& lines, const std::string& part) {
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
        return l.find(part) != std::string::npos;
    }));
}

// Waits up to `limit` for a condition, checking every 20 ms; false when it never held.
template <typename TCondition>
bool WaitFor(const TCondition& condition,
             std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        ::poll(nullptr, 0, 20);
    }
    return true;
}

// Sets environment variables for one test and restores them, last set first, at its end.
class TScopedEnvironment {
public:
    TScopedEnvironment() = default;
    TScopedEnvironment(const TScopedEnvironment&) = delete;
    TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;
    ~TScopedEnvironment() {
        for (auto it = FSaved.rbegin(); it != FSaved.rend(); ++it) {
            if (it->second) {
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                ::unsetenv(it->first.c_str());
            }
        }
    }

    void Set(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        FSaved.emplace_back(name, old == nullptr ? std::nullopt : std::optional<std::string>(old));
        ::setenv(name.c_str(), value.c_str(), 1);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> FSaved;
};

// Answer of RunUnprivileged when the process cannot become the user "nobody".
inline constexpr int CannotSwitchUser = 200;

// Runs check as the unprivileged user "nobody" when the tests run as root (for whom permissions
// do not apply), in a child process; answers 0 (passed), 1 (failed) or CannotSwitchUser.
template <typename TCheck>
int RunUnprivileged(const TCheck& check) {
    if (::geteuid() != 0) {
        return check() ? 0 : 1;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
            ::_exit(CannotSwitchUser);
        }
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return 1;
    }
    return WEXITSTATUS(status);
}

} // namespace brindlecove::testing
