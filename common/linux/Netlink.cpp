#include "common/linux/Netlink.h"

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <sys/time.h>

namespace brindlecove::netlink {

namespace {

constexpr std::size_t ReceiveBufferSize = 64 * 1024; // above the kernel's largest dump message
constexpr int DumpAttempts = 8;
constexpr int ReplyTimeoutSeconds = 5;
constexpr int NotificationBufferSize = 4 * 1024 * 1024;

static_assert(sizeof(nlmsghdr) == 16 && sizeof(nlattr) == 4);

} // namespace

// ---- Reading datagrams -----------------------------------------------------------------------

std::vector<TMessage> ParseDatagram(TBytes datagram) {
    std::vector<TMessage> messages;
    while (datagram.size() >= sizeof(nlmsghdr)) {
        const auto header = ReadAs<nlmsghdr>(datagram);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > datagram.size()) {
            break;
        }
        messages.push_back(
            {header, datagram.subspan(sizeof(nlmsghdr), header.nlmsg_len - sizeof(nlmsghdr))});
        datagram = datagram.subspan(std::min(Align(header.nlmsg_len), datagram.size()));
    }
    return messages;
}

void ForEachAttribute(TBytes attributes, const std::function<void(std::uint16_t, TBytes)>& visit) {
    while (attributes.size() >= sizeof(nlattr)) {
        const auto attribute = ReadAs<nlattr>(attributes);
        if (attribute.nla_len < sizeof(nlattr) || attribute.nla_len > attributes.size()) {
            return;
        }
        visit(static_cast<std::uint16_t>(attribute.nla_type & NLA_TYPE_MASK),
              attributes.subspan(sizeof(nlattr), attribute.nla_len - sizeof(nlattr)));
        attributes = attributes.subspan(std::min(Align(attribute.nla_len), attributes.size()));
    }
}

TBytes AttributesAfter(TBytes payload, std::size_t familySize) {
    return payload.subspan(std::min(Align(familySize), payload.size()));
}

std::uint32_t U32(TBytes data) {
    return data.size() >= 4 ? ReadAs<std::uint32_t>(data) : 0;
}

std::string Text(TBytes data) {
    const auto end = std::find(data.begin(), data.end(), '\0');
    return std::string(data.begin(), end);
}

std::optional<TAck> ParseAck(const TMessage& message) {
    if (message.Header.nlmsg_type != NLMSG_ERROR || message.Payload.size() < sizeof(nlmsgerr)) {
        return std::nullopt;
    }
    const auto error = ReadAs<nlmsgerr>(message.Payload);
    TAck ack;
    // The kernel's errors are negative errnos; a positive one is not the kernel's to give.
    ack.Error = error.error <= 0 && error.error > -4096 ? -error.error : EPROTO;
    if ((message.Header.nlmsg_flags & NLM_F_ACK_TLVS) == 0) {
        return ack;
    }
    // The attributes follow the error and, unless capped, a copy of the request's payload.
    std::size_t offset = sizeof(nlmsgerr);
    if ((message.Header.nlmsg_flags & NLM_F_CAPPED) == 0 &&
        error.msg.nlmsg_len >= sizeof(nlmsghdr)) {
        offset += Align(error.msg.nlmsg_len - sizeof(nlmsghdr));
    }
    if (offset < message.Payload.size()) {
        ForEachAttribute(message.Payload.subspan(offset), [&ack](std::uint16_t type, TBytes data) {
            if (type == NLMSGERR_ATTR_MSG) {
                ack.Message = Text(data);
            }
        });
    }
    return ack;
}

std::optional<TIpv4Address> ParseIpv4Address(const TMessage& message) {
    if (message.Header.nlmsg_type != RTM_NEWADDR || message.Payload.size() < sizeof(ifaddrmsg)) {
        return std::nullopt;
    }
    const auto header = ReadAs<ifaddrmsg>(message.Payload);
    if (header.ifa_family != AF_INET) {
        return std::nullopt;
    }
    TIpv4Address address;
    address.Index = header.ifa_index;
    address.PrefixLength = std::min<std::uint8_t>(header.ifa_prefixlen, 32);
    ForEachAttribute(AttributesAfter(message.Payload, sizeof(ifaddrmsg)),
                     [&address](std::uint16_t type, TBytes data) {
                         if (type == IFA_LOCAL && data.size() >= 4) {
                             address.Local = U32(data);
                         } else if (type == IFA_ADDRESS && data.size() >= 4) {
                             address.Address = U32(data);
                         }
                     });
    if (!address.Local && !address.Address) {
        return std::nullopt;
    }
    return address;
}

// ---- Writing requests ------------------------------------------------------------------------

TRequest::TRequest(std::uint16_t type, std::uint16_t flags, const void* family,
                   std::size_t familySize) {
    nlmsghdr header{};
    header.nlmsg_type = type;
    header.nlmsg_flags = static_cast<std::uint16_t>(flags | NLM_F_REQUEST | NLM_F_ACK);
    std::memcpy(FBuffer.data(), &header, sizeof header);
    FLength = sizeof header;
    if (Align(familySize) > Capacity - FLength) {
        FOverflowed = true;
        return;
    }
    std::memcpy(FBuffer.data() + FLength, family, familySize);
    FLength += Align(familySize);
}

bool TRequest::Add(std::uint16_t type, const void* data, std::size_t size) {
    if (FOverflowed || size > 0xFFFFu - sizeof(nlattr) ||
        Align(sizeof(nlattr) + size) > Capacity - FLength) {
        FOverflowed = true;
        return false;
    }
    nlattr attribute{};
    attribute.nla_len = static_cast<std::uint16_t>(sizeof(nlattr) + size);
    attribute.nla_type = type;
    unsigned char* p = FBuffer.data() + FLength;
    std::memcpy(p, &attribute, sizeof attribute);
    if (size != 0) {
        std::memcpy(p + sizeof attribute, data, size);
    }
    FLength += Align(sizeof attribute + size);
    return true;
}

std::uint16_t TRequest::Flags() const {
    return ReadAs<nlmsghdr>(TBytes(FBuffer.data(), sizeof(nlmsghdr))).nlmsg_flags;
}

TBytes TRequest::Finish(std::uint32_t sequence, std::uint32_t portId) {
    auto header = ReadAs<nlmsghdr>(TBytes(FBuffer.data(), sizeof(nlmsghdr)));
    header.nlmsg_len = static_cast<std::uint32_t>(FLength);
    header.nlmsg_seq = sequence;
    header.nlmsg_pid = portId;
    std::memcpy(FBuffer.data(), &header, sizeof header);
    return TBytes(FBuffer.data(), FLength);
}

// ---- The socket ------------------------------------------------------------------------------

TSocket::TSocket(std::uint32_t groups) {
    TUniqueFd fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!fd.Valid()) {
        FOpenError = errno;
        return;
    }
    const int on = 1;
    // The kernel's explanation of a refusal, and acks without a copy of the request. Neither is
    // needed to work: kernels without them still answer every request.
    ::setsockopt(fd.Get(), SOL_NETLINK, NETLINK_EXT_ACK, &on, sizeof on);
    ::setsockopt(fd.Get(), SOL_NETLINK, NETLINK_CAP_ACK, &on, sizeof on);
    if (groups != 0) {
        // Room for the news of a whole build (about 900 routes), so that little is dropped. The
        // forced size needs CAP_NET_ADMIN; without it the kernel's limit for others applies.
        const int size = NotificationBufferSize;
        if (::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0) {
            ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
    }
    const timeval timeout{ReplyTimeoutSeconds, 0};
    if (::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        FOpenError = errno;
        return;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = groups;
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        FOpenError = errno;
        return;
    }
    socklen_t length = sizeof local;
    if (::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        FOpenError = errno;
        return;
    }
    FPortId = local.nl_pid;
    FSocket = std::move(fd);
    FReceive.resize(ReceiveBufferSize);
}

long TSocket::Receive(int flags, std::uint32_t& sender) {
    for (;;) {
        sockaddr_nl from{};
        iovec io{FReceive.data(), FReceive.size()};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        const ssize_t received = ::recvmsg(FSocket.Get(), &message, flags);
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -errno;
        }
        if ((message.msg_flags & MSG_TRUNC) != 0) {
            return -EMSGSIZE;
        }
        sender = from.nl_pid;
        return received;
    }
}

int TSocket::Transact(TRequest& request, const TVisit& visit, bool& interrupted) {
    interrupted = false;
    FKernelMessage.clear();
    if (!Valid()) {
        return FOpenError;
    }
    if (request.Overflowed()) {
        return EMSGSIZE;
    }
    const std::uint32_t sequence = ++FSequence;
    const TBytes bytes = request.Finish(sequence, FPortId);
    const bool dump = (request.Flags() & NLM_F_DUMP) == NLM_F_DUMP;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent = 0;
    do {
        sent = ::sendto(FSocket.Get(), bytes.data(), bytes.size(), 0,
                        reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        return errno;
    }
    if (static_cast<std::size_t>(sent) != bytes.size()) {
        return EIO;
    }

    for (;;) {
        std::uint32_t sender = 0;
        const long received = Receive(0, sender);
        if (received < 0) {
            // EAGAIN: no answer in time. ENOBUFS: answers were dropped, ours perhaps among them;
            // either way the outcome is unknown and must not pass for success.
            const int err = static_cast<int>(-received);
            return err == EAGAIN || err == EWOULDBLOCK ? ETIMEDOUT : err;
        }
        if (sender != 0) {
            continue; // only the kernel answers requests
        }
        for (const TMessage& answer :
             ParseDatagram(TBytes(FReceive.data(), static_cast<std::size_t>(received)))) {
            if (answer.Header.nlmsg_pid != FPortId || answer.Header.nlmsg_seq != sequence) {
                continue; // an answer to an earlier request that was given up, or a notification
            }
            if ((answer.Header.nlmsg_flags & NLM_F_DUMP_INTR) != 0) {
                interrupted = true;
            }
            switch (answer.Header.nlmsg_type) {
            case NLMSG_ERROR: {
                const auto ack = ParseAck(answer);
                if (!ack) {
                    return EPROTO;
                }
                FKernelMessage = ack->Message;
                return ack->Error;
            }
            case NLMSG_DONE:
                if (!dump) {
                    break;
                }
                return answer.Payload.size() >= sizeof(int) ? -ReadAs<int>(answer.Payload) : 0;
            case NLMSG_OVERRUN:
                return ENOBUFS;
            default:
                if (answer.Header.nlmsg_type >= NLMSG_MIN_TYPE) {
                    visit(answer);
                }
                break;
            }
        }
    }
}

int TSocket::Transact(TRequest& request) {
    bool interrupted = false;
    return Transact(
        request, [](const TMessage&) {}, interrupted);
}

int TSocket::Dump(std::uint16_t type, std::uint8_t family, std::size_t familySize,
                  const TVisit& visit, const std::function<void()>& reset) {
    // Every family header (rtmsg, ifinfomsg, ifaddrmsg) starts with its address family.
    std::array<unsigned char, 16> header{};
    header[0] = family;
    for (int attempt = 0; attempt < DumpAttempts; ++attempt) {
        reset();
        TRequest request(type, NLM_F_DUMP, header.data(), std::min(familySize, header.size()));
        bool interrupted = false;
        const int err = Transact(request, visit, interrupted);
        if (err != 0) {
            return err;
        }
        if (!interrupted) {
            return 0;
        }
    }
    return EAGAIN; // the table kept changing under every attempt
}

int TSocket::ReadPending(const TVisit& visit) {
    if (!Valid()) {
        return FOpenError;
    }
    for (;;) {
        std::uint32_t sender = 0;
        const long received = Receive(MSG_DONTWAIT, sender);
        if (received < 0) {
            const int err = static_cast<int>(-received);
            return err == EAGAIN || err == EWOULDBLOCK ? 0 : err;
        }
        if (sender != 0) {
            continue;
        }
        for (const TMessage& message :
             ParseDatagram(TBytes(FReceive.data(), static_cast<std::size_t>(received)))) {
            visit(message);
        }
    }
}

} // namespace brindlecove::netlink
