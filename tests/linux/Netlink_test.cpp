// The rtnetlink client's own guarantee, apart from what the ports make of it (its reading is
// fuzzed, the kernel's words for a refusal are checked through the routing port).
#include "common/linux/Netlink.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <vector>

namespace brindlecove {
namespace {

TEST(Netlink, ARequestThatWouldPassItsBufferIsRefusedWholeAndNeverSent) {
    rtmsg header{};
    header.rtm_family = AF_INET;
    netlink::TRequest request(RTM_NEWROUTE, NLM_F_CREATE, header);
    const std::vector<unsigned char> big(200, 0xAB);
    int added = 0;
    while (request.Add(RTA_UNSPEC, big.data(), big.size())) {
        ++added;
    }
    EXPECT_EQ(added, 4); // 16 + 12 + 4 * 204 bytes fit in 1024, a fifth does not
    EXPECT_TRUE(request.Overflowed());
    EXPECT_FALSE(request.AddU32(RTA_PRIORITY, 1)) << "a small one after the refusal neither";

    netlink::TSocket socket;
    ASSERT_TRUE(socket.Valid()) << std::strerror(socket.OpenError());
    EXPECT_EQ(socket.Transact(request), EMSGSIZE);
}

} // namespace
} // namespace brindlecove
