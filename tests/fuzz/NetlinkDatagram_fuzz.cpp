// The netlink datagram reader on any bytes: the messages it finds tile the datagram from its start
// (each where the previous one's aligned length ends, header and payload inside the datagram),
// attributes stay inside their message, and what an error message or a route message is read as
// stays within what the kernel could say.
#include "common/linux/Netlink.h"
#include "routing/linux/NetlinkIpHelper.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace brindlecove;

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool Inside(netlink::TBytes part, netlink::TBytes whole) {
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const netlink::TBytes datagram(data, size);
    std::size_t offset = 0;
    for (const netlink::TMessage& message : netlink::ParseDatagram(datagram)) {
        Check(offset + sizeof(nlmsghdr) <= size);
        Check(std::memcmp(&message.Header, data + offset, sizeof(nlmsghdr)) == 0);
        Check(message.Payload.data() == data + offset + sizeof(nlmsghdr));
        Check(message.Payload.size() + sizeof(nlmsghdr) == message.Header.nlmsg_len);
        Check(Inside(message.Payload, datagram));
        offset += netlink::Align(message.Header.nlmsg_len);

        std::size_t attributeBytes = 0;
        netlink::ForEachAttribute(message.Payload, [&](std::uint16_t type, netlink::TBytes value) {
            Check(Inside(value, message.Payload));
            Check((type & ~NLA_TYPE_MASK) == 0);
            attributeBytes += sizeof(nlattr) + value.size();
        });
        Check(attributeBytes <= message.Payload.size());

        if (const auto ack = netlink::ParseAck(message)) {
            Check(message.Header.nlmsg_type == NLMSG_ERROR);
            Check(ack->Error >= 0 && ack->Error < 4096);
            Check(ack->Message.find('\0') == std::string::npos);
            Check(ack->Message.size() <= message.Payload.size());
        } else {
            Check(message.Header.nlmsg_type != NLMSG_ERROR ||
                  message.Payload.size() < sizeof(nlmsgerr));
        }
        if (const auto route = TNetlinkIpHelper::ParseRoute(message)) {
            Check(message.Header.nlmsg_type == RTM_NEWROUTE);
            Check(route->PrefixLength <= 32);
        }
        if (const auto address = netlink::ParseIpv4Address(message)) {
            Check(message.Header.nlmsg_type == RTM_NEWADDR);
            Check(address->PrefixLength <= 32 && (address->Local || address->Address));
        }
    }
    // Whatever follows the last message read is too short or malformed to be one.
    if (offset < size && size - offset >= sizeof(nlmsghdr)) {
        std::uint32_t length = 0;
        std::memcpy(&length, data + offset, sizeof length);
        Check(length < sizeof(nlmsghdr) || length > size - offset);
    }
    return 0;
}
