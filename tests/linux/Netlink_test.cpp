// The rtnetlink client's own guarantees, apart from what the ports make of them.
#include "common/linux/Netlink.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
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

TEST(Netlink, TheKernelsRefusalIsReadWithItsWordsAndAMalformedTailIsLeftUnread) {
    // A refusal the kernel sent for a route with host bits set (captured from a real kernel),
    // followed by the start of a message that claims more bytes than the datagram holds.
    std::ifstream file(BRINDLECOVE_SOURCE_DIR "/tests/fuzz/corpus/NetlinkDatagram/ack-with-message",
                       std::ios::binary);
    std::vector<unsigned char> datagram{std::istreambuf_iterator<char>(file), {}};
    ASSERT_EQ(datagram.size(), 100u);
    const unsigned char tail[] = {0xFF, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00,
                                  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    datagram.insert(datagram.end(), std::begin(tail), std::end(tail));

    const auto messages = netlink::ParseDatagram(datagram);
    ASSERT_EQ(messages.size(), 1u);
    const auto ack = netlink::ParseAck(messages[0]);
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->Error, EINVAL);
    EXPECT_EQ(ack->Message, "Invalid prefix for given prefix length");
}

} // namespace
} // namespace brindlecove
