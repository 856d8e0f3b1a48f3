#include "testing/linux/PrivateNamespace.h"

#include "common/linux/ChildProcess.h"
#include "common/linux/UniqueFd.h"
#include "testing/linux/PrivateNetwork.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace brindlecove::testing {

namespace {

// Set in the environment of the run inside the namespace.
constexpr const char* InsideVariable = "BRINDLECOVE_TEST_NETNS";

// How long a test may run inside the namespace before it is ended, so that a hung test fails
// instead of holding up the whole run (CTest's own limit is longer).
constexpr unsigned InsideSeconds = 100;

// Runs a program with standard output and error on `output` (/dev/null when output < 0) and
// answers its wait status, or -1 when it could not be started.
int RunProgram(const std::vector<std::string>& argv, int output) {
    auto child = TChildProcess::Spawn(argv, output);
    return child ? child->Wait() : -1;
}

// Whether this machine lets an unprivileged process make a user and network namespace.
bool NamespacesAllowed(std::string& why) {
    if (::access("/usr/bin/unshare", X_OK) != 0) {
        why = "no unshare(1): private network namespaces unavailable";
        return false;
    }
    if (RunProgram({"/usr/bin/unshare", "-rn", "/bin/true"}, -1) != 0) {
        why = "this machine does not allow unprivileged network namespaces";
        return false;
    }
    return true;
}

// Runs the current test again inside a new namespace and makes that run's result this test's;
// skips it when the machine allows no such namespace.
void RunAgainInside() {
    std::string why;
    if (!NamespacesAllowed(why)) {
        GTEST_SKIP() << why;
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(info->test_suite_name()) + "." + info->name();
    const TUniqueFd out(::memfd_create("test-output", MFD_CLOEXEC));
    ASSERT_TRUE(out.Valid()) << "memfd_create failed";
    const int status =
        RunProgram({"/usr/bin/unshare", "-rn", "/usr/bin/env", std::string(InsideVariable) + "=1",
                    std::filesystem::read_symlink("/proc/self/exe").string(),
                    "--gtest_filter=" + name, "--gtest_color=no"},
                   out.Get());
    std::string output;
    ::lseek(out.Get(), 0, SEEK_SET);
    ReadToEnd(out.Get(), std::uint64_t{16} << 20, output);

    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "the run in the private namespace ended with status " << status << ":\n"
                      << output;
    } else if (output.find("[  SKIPPED ] " + name) != std::string::npos) {
        GTEST_SKIP() << "in the private namespace:\n" << output;
    } else if (output.find("[       OK ] " + name) == std::string::npos) {
        ADD_FAILURE() << "the test did not run in the private namespace:\n" << output;
    }
}

} // namespace

bool ContinueInPrivateNamespace(const std::string& setup) {
    if (std::getenv(InsideVariable) != nullptr) {
        ::alarm(InsideSeconds);
        std::string why;
        if (!setup.empty() && !IpBatch(setup, why)) {
            ADD_FAILURE() << "setting up the private network: " << why;
            return false;
        }
        return true;
    }
    RunAgainInside();
    return false;
}

} // namespace brindlecove::testing
