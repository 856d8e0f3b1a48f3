#include "ras/linux/PppdLinkAddresses.h"

#include "common/linux/Netlink.h"

#include <arpa/inet.h>

namespace brindlecove::pppd {

namespace {

std::string Dotted(std::uint32_t address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

} // namespace

std::optional<TLinkAddresses> InterfaceAddresses(unsigned index) {
    // ip -4 address show dev NAME: its first address
    netlink::TSocket socket;
    std::optional<TLinkAddresses> result;
    const auto visit = [&](const netlink::TMessage& message) {
        const auto address = result ? std::nullopt : netlink::ParseIpv4Address(message);
        if (!address || address->Index != index) {
            return;
        }
        TLinkAddresses addresses;
        addresses.Peer = address->Address ? Dotted(*address->Address) : std::string();
        // A link without a peer address has only IFA_ADDRESS.
        addresses.Local = address->Local ? Dotted(*address->Local) : addresses.Peer;
        result = addresses;
    };
    if (socket.Dump(RTM_GETADDR, AF_INET, sizeof(ifaddrmsg), visit,
                    [&result] { result.reset(); }) != 0) {
        return std::nullopt;
    }
    return result;
}

} // namespace brindlecove::pppd
