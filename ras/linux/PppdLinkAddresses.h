#pragma once
// The addresses of a point-to-point link, read from the kernel through rtnetlink.

#include <optional>
#include <string>

namespace brindlecove::pppd {

// The IPv4 addresses of an interface from rtnetlink: IFA_LOCAL and IFA_ADDRESS.
struct TLinkAddresses {
    std::string Local;
    std::string Peer;
};
std::optional<TLinkAddresses> InterfaceAddresses(unsigned index);

} // namespace brindlecove::pppd
