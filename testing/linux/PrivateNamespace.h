#pragma once
// Tests that need a network of their own run again, alone, in a new process inside a new user and
// network namespace (as `unshare -rn` makes): there they may create links, change routes and drop
// privileges without touching the machine or the other tests. Where the machine allows no
// unprivileged namespace they are skipped, saying so.

#include <string>

namespace brindlecove::testing {

// Outside a private namespace: runs the current test again in a new process inside one, makes
// that run's result (failed, skipped or passed) this test's, and answers false. Inside: runs the
// `ip -batch` commands of `setup` there (their failure fails the test) and answers whether the
// test goes on.
bool ContinueInPrivateNamespace(const std::string& setup = {});

} // namespace brindlecove::testing

// The first statement of such a test, with `ip -batch` commands to run inside the namespace before
// the rest of the test, if any: outside the namespace the test ends here.
#define RUN_IN_PRIVATE_NAMESPACE(...)                                                              \
    do {                                                                                           \
        if (!::brindlecove::testing::ContinueInPrivateNamespace(__VA_ARGS__)) {                    \
            return;                                                                                \
        }                                                                                          \
    } while (false)
