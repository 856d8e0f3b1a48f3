#include "ras/linux/PppdLinkAddresses.h"

#include "common/linux/UniqueFd.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <vector>

namespace brindlecove::pppd {

// The kernel's netlink macros are C casts.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wconversion"
std::optional<TLinkAddresses> InterfaceAddresses(const std::string& interfaceName) {
    const unsigned index = if_nametoindex(interfaceName.c_str());
    if (index == 0) {
        return std::nullopt;
    }
    TUniqueFd sock(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (sock.Get() < 0) {
        return std::nullopt;
    }
    struct {
        nlmsghdr header;
        ifaddrmsg message;
    } request{};
    request.header.nlmsg_len = sizeof(request);
    request.header.nlmsg_type = RTM_GETADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.message.ifa_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (sendto(sock.Get(), &request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof(kernel)) < 0) {
        return std::nullopt;
    }
    std::vector<char> buffer(32768);
    std::optional<TLinkAddresses> result;
    for (;;) {
        const ssize_t received = recv(sock.Get(), buffer.data(), buffer.size(), 0);
        if (received <= 0) {
            return result;
        }
        auto remaining = static_cast<unsigned>(received);
        for (auto* header = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(header, remaining);
             header = NLMSG_NEXT(header, remaining)) {
            if (header->nlmsg_type == NLMSG_DONE || header->nlmsg_type == NLMSG_ERROR) {
                return result;
            }
            if (header->nlmsg_type != RTM_NEWADDR) {
                continue;
            }
            const auto* message = static_cast<const ifaddrmsg*>(NLMSG_DATA(header));
            if (message->ifa_family != AF_INET || message->ifa_index != index || result) {
                continue;
            }
            std::string local;
            std::string address;
            auto length = static_cast<unsigned>(IFA_PAYLOAD(header));
            for (const auto* attribute = IFA_RTA(message); RTA_OK(attribute, length);
                 attribute = RTA_NEXT(attribute, length)) {
                if (RTA_PAYLOAD(attribute) != 4) {
                    continue;
                }
                char text[INET_ADDRSTRLEN] = {};
                inet_ntop(AF_INET, RTA_DATA(attribute), text, sizeof(text));
                if (attribute->rta_type == IFA_LOCAL) {
                    local = text;
                } else if (attribute->rta_type == IFA_ADDRESS) {
                    address = text;
                }
            }
            if (local.empty()) {
                local = address; // a link without a peer address has only IFA_ADDRESS
            }
            if (!local.empty()) {
                result = TLinkAddresses{local, address};
            }
        }
    }
}

#pragma GCC diagnostic pop

} // namespace brindlecove::pppd
