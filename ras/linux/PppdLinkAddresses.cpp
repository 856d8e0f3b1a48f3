#include "ras/linux/PppdLinkAddresses.h"

#include "common/linux/Netlink.h"

#include <arpa/inet.h>

namespace brindlecove::pppd {

namespace {

std::string Dotted(netlink::TBytes data) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, data.data(), text, sizeof text);
    return text;
}

} // namespace

std::optional<TLinkAddresses> InterfaceAddresses(unsigned index) {
    // ip -4 address show dev NAME: its first address
    netlink::TSocket socket;
    std::optional<TLinkAddresses> result;
    const auto visit = [&](const netlink::TMessage& message) {
        if (result || message.Header.nlmsg_type != RTM_NEWADDR ||
            message.Payload.size() < sizeof(ifaddrmsg)) {
            return;
        }
        const auto header = netlink::ReadAs<ifaddrmsg>(message.Payload);
        if (header.ifa_family != AF_INET || header.ifa_index != index) {
            return;
        }
        TLinkAddresses addresses;
        netlink::ForEachAttribute(netlink::AttributesAfter(message.Payload, sizeof(ifaddrmsg)),
                                  [&addresses](std::uint16_t type, netlink::TBytes data) {
                                      if (data.size() != 4) {
                                          return;
                                      }
                                      if (type == IFA_LOCAL) {
                                          addresses.Local = Dotted(data);
                                      } else if (type == IFA_ADDRESS) {
                                          addresses.Peer = Dotted(data);
                                      }
                                  });
        if (addresses.Local.empty()) {
            addresses.Local = addresses.Peer; // a link without a peer address has only IFA_ADDRESS
        }
        if (!addresses.Local.empty()) {
            result = addresses;
        }
    };
    if (socket.Dump(RTM_GETADDR, AF_INET, sizeof(ifaddrmsg), visit,
                    [&result] { result.reset(); }) != 0) {
        return std::nullopt;
    }
    return result;
}

} // namespace brindlecove::pppd
