#pragma once
// The one rtnetlink client of the Linux edition: a pure reader of netlink datagrams (bytes in,
// messages out, no system calls), a bounded request writer, and a NETLINK_ROUTE socket that sends
// a request and reads its answers until the kernel's acknowledgement, matched by port id and
// sequence number. Errors are errno values, as the kernel gives them.

#include "common/linux/UniqueFd.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brindlecove::netlink {

using TBytes = std::span<const unsigned char>;

constexpr std::size_t Align(std::size_t n) {
    return (n + 3u) & ~std::size_t{3u};
}

// A value read from possibly unaligned bytes; zero-filled where the bytes are too few.
template <typename T>
T ReadAs(TBytes bytes) {
    T value{};
    std::memcpy(&value, bytes.data(), std::min(sizeof value, bytes.size()));
    return value;
}

// One message of a datagram: its header and the bytes after the header.
struct TMessage {
    nlmsghdr Header{};
    TBytes Payload;
};

// The messages of a datagram, in order, up to the first one whose length does not fit what is
// left (a malformed tail is not read).
std::vector<TMessage> ParseDatagram(TBytes datagram);

// Calls visit(type, data) for each attribute of `attributes` (NLA_F_ flags cleared), up to the
// first one whose length does not fit.
void ForEachAttribute(TBytes attributes, const std::function<void(std::uint16_t, TBytes)>& visit);

// The attributes that follow a family header of `familySize` bytes in a message's payload.
TBytes AttributesAfter(TBytes payload, std::size_t familySize);

// A 32-bit attribute value; 0 when the attribute is shorter.
std::uint32_t U32(TBytes data);
// A NUL-terminated text attribute, up to its first NUL or its end.
std::string Text(TBytes data);

// The answer an NLMSG_ERROR message carries: 0 for an acknowledgement, else an errno, with the
// kernel's own words when it gave them (extended ack). Nullopt for a message too short to be one.
struct TAck {
    int Error = 0;
    std::string Message;
};
std::optional<TAck> ParseAck(const TMessage& message);

// The IPv4 address an RTM_NEWADDR message describes: its interface, prefix length, IFA_LOCAL and
// IFA_ADDRESS (network order) where given. On a point-to-point link IFA_ADDRESS is the far end,
// elsewhere both are the interface's own. Nullopt for another message or one that gives neither.
struct TIpv4Address {
    std::uint32_t Index = 0;
    std::uint8_t PrefixLength = 0;
    std::optional<std::uint32_t> Local;
    std::optional<std::uint32_t> Address;
};
std::optional<TIpv4Address> ParseIpv4Address(const TMessage& message);

// A request being written: the netlink header, a family header and attributes, never past the
// buffer. An attribute that does not fit marks the request overflowed; such a request is not sent.
class TRequest {
public:
    static constexpr std::size_t Capacity = 1024;

    TRequest(std::uint16_t type, std::uint16_t flags, const void* family, std::size_t familySize);
    template <typename TFamily>
    TRequest(std::uint16_t type, std::uint16_t flags, const TFamily& family)
        : TRequest(type, flags, &family, sizeof family) {}

    // Appends one attribute; false (and the request overflowed) when it does not fit.
    bool Add(std::uint16_t type, const void* data, std::size_t size);
    bool AddU32(std::uint16_t type, std::uint32_t value) { return Add(type, &value, sizeof value); }
    bool Overflowed() const { return FOverflowed; }
    std::uint16_t Flags() const;
    // The bytes to send, with the length, sequence and port id filled in.
    TBytes Finish(std::uint32_t sequence, std::uint32_t portId);

private:
    alignas(nlmsghdr) std::array<unsigned char, Capacity> FBuffer{};
    std::size_t FLength = 0;
    bool FOverflowed = false;
};

// One NETLINK_ROUTE socket. Requests are answered synchronously, with a receive timeout so that a
// lost answer ends the call with ETIMEDOUT instead of a hang.
class TSocket {
public:
    using TVisit = std::function<void(const TMessage&)>;

    // Opens and binds the socket, subscribed to the multicast `groups` (RTMGRP_ bits; 0 for none).
    // A socket that could not be opened answers every call with OpenError().
    explicit TSocket(std::uint32_t groups = 0);

    bool Valid() const { return FSocket.Valid(); }
    int OpenError() const { return FOpenError; }
    int Fd() const { return FSocket.Get(); }
    // The socket's netlink port id: the kernel's news of a change names the port that asked.
    std::uint32_t PortId() const { return FPortId; }
    // The kernel's own words for the last refused request; empty when it gave none.
    const std::string& KernelMessage() const { return FKernelMessage; }

    // Sends the request and hands every answer to `visit` until the kernel's acknowledgement (or
    // the end of a dump). Answers 0 or an errno; `interrupted` tells of a dump the kernel marked
    // as inconsistent.
    int Transact(TRequest& request, const TVisit& visit, bool& interrupted);
    // A request that expects no answer but its acknowledgement.
    int Transact(TRequest& request);
    // A whole dump of `type`, asked again while the kernel marks it interrupted; `reset` clears
    // what an interrupted attempt gathered.
    int Dump(std::uint16_t type, std::uint8_t family, std::size_t familySize, const TVisit& visit,
             const std::function<void()>& reset);

    // Reads, without waiting, every datagram waiting on the socket and hands its messages to
    // `visit` (notifications of a subscribed socket). Answers 0, or ENOBUFS when the kernel had
    // to drop some (the caller then knows it missed changes), or another errno.
    int ReadPending(const TVisit& visit);

private:
    // Receives one datagram into FReceive; answers its size or -errno.
    long Receive(int flags, std::uint32_t& sender);

    TUniqueFd FSocket;
    int FOpenError = 0;
    std::uint32_t FPortId = 0;
    std::uint32_t FSequence = 0;
    std::string FKernelMessage;
    std::vector<unsigned char> FReceive;
};

} // namespace brindlecove::netlink
