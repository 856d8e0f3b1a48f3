#pragma once
// Tests that need a network of their own run again in a new user and network namespace (as
// `unshare -rn` makes): there they may create links and change routes without touching the
// machine's. The first run skips honestly when the machine allows no such namespace.

#include "common/linux/ChildProcess.h"
#include "common/linux/UniqueFd.h"
#include "tests/platform/TempFolder.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace brindlecove {

// Runs the current test again in a new user and network namespace; its result becomes this
// run's.
inline void RunAgainInPrivateNamespace() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    TempFolder log;
    TUniqueFd out(::open((log / "out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    auto child = TChildProcess::Spawn(
        {"/usr/bin/unshare", "-rn", "/usr/bin/env", "BRINDLECOVE_TEST_NETNS=1", self,
         std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name()},
        out.Get());
    ASSERT_TRUE(child);
    const int status = child->Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(log / "out");
}

// The first statement of such a test: outside the namespace it runs the test again inside one
// and returns; inside, the test goes on.
#define RUN_IN_PRIVATE_NAMESPACE()                                                                 \
    do {                                                                                           \
        if (std::getenv("BRINDLECOVE_TEST_NETNS") == nullptr) {                                    \
            if (::access("/usr/bin/unshare", X_OK) != 0) {                                         \
                GTEST_SKIP() << "no unshare(1): private network namespaces unavailable";           \
            }                                                                                      \
            auto probe = TChildProcess::Spawn({"/usr/bin/unshare", "-rn", "true"}, -1);            \
            if (!probe || probe->Wait() != 0) {                                                    \
                GTEST_SKIP() << "this machine does not allow unprivileged network namespaces";     \
            }                                                                                      \
            RunAgainInPrivateNamespace();                                                          \
            return;                                                                                \
        }                                                                                          \
    } while (false)

} // namespace brindlecove
