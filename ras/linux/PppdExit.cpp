#include "ras/linux/PppdExit.h"

#include "ras/RasApi.h"

#include <array>
#include <map>
#include <sys/wait.h>

namespace brindlecove::pppd {

namespace {

// pppd's exit statuses (pppd(8)) with the closest RAS codes, indexed by the status.
constexpr std::array<DWORD, 22> CodeOfExit = {
    0,                                    // 0: the link is up and pppd detached
    raserror::Unknown,                    // 1: fatal error
    raserror::CorruptPhonebook,           // 2: option error, also a missing peers file
    raserror::RasmanCannotInitialize,     // 3: not run as root
    raserror::NoIpAdapter,                // 4: no PPP support in the kernel
    raserror::UserDisconnection,          // 5: stopped by SIGINT, SIGTERM or SIGHUP
    raserror::PortNotAvailable,           // 6: the serial port could not be locked
    raserror::PortNotAvailable,           // 7: the serial port could not be opened
    raserror::NoAnswer,                   // 8: connect script failed (or PPPoE discovery)
    raserror::FromDevice,                 // 9: pty command failed
    raserror::PppNoProtocolsConfigured,   // 10: negotiation failed
    raserror::UnableToAuthenticateServer, // 11: the peer failed to authenticate itself
    raserror::NoConnection,               // 12: idle time limit
    raserror::NoConnection,               // 13: connect time limit
    raserror::Unknown,                    // 14: callback negotiated
    raserror::PppTimeout,                 // 15: the peer stopped answering echo requests
    raserror::Disconnection,              // 16: modem hangup
    raserror::LoopbackDetected,           // 17: loopback detected
    raserror::PortOrDevice,               // 18: init script failed
    raserror::Authentication,             // 19: we failed to authenticate to the peer
    raserror::NoConnection,               // 20: traffic limit
    raserror::NoDialinPermission,         // 21: CNID authentication failed
};

} // namespace

DWORD RasCodeFromPppdExit(int exitCode) {
    if (exitCode < 0 || static_cast<std::size_t>(exitCode) >= CodeOfExit.size()) {
        return raserror::Unknown; // a status pppd does not document
    }
    return CodeOfExit[static_cast<std::size_t>(exitCode)];
}

DWORD RasCodeFromWaitStatus(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return RasCodeFromPppdExit(WEXITSTATUS(waitStatus));
    }
    return raserror::Unknown;
}

std::string RasErrorText(DWORD code) {
    static const std::map<DWORD, std::string> texts = {
        {raserror::PortAlreadyOpen, "The port is already open."},
        {raserror::BufferTooSmall, "The caller's buffer is too small."},
        {raserror::CannotFindPhonebookEntry,
         "The system could not find the phone book entry for this connection."},
        {raserror::CorruptPhonebook,
         "The system found invalid information in the phone book file."},
        {raserror::Disconnection, "The connection was terminated by the remote computer before "
                                  "it could be completed."},
        {raserror::UserDisconnection,
         "The user disconnected the modem (or other connecting device)."},
        {raserror::InvalidSize, "The structure size is incorrect."},
        {raserror::PortNotAvailable, "The modem (or other connecting device) is already in use "
                                     "or is not configured properly."},
        {raserror::Unknown, "There was an unknown error."},
        {raserror::NoDialinPermission, "The account does not have permission to dial in."},
        {raserror::FromDevice, "The modem (or other connecting device) has reported an error."},
        {raserror::NoConnection, "The connection was terminated."},
        {raserror::NoAnswer, "The remote computer did not respond."},
        {raserror::Authentication,
         "The remote connection was denied because the user name and password combination you "
         "provided is not recognized, or the selected authentication protocol is not permitted "
         "on the remote access server."},
        {raserror::PortOrDevice,
         "There was a hardware failure in the modem (or other connecting device)."},
        {raserror::RasmanCannotInitialize,
         "The operation could not finish because it could not start the Remote Access "
         "Connection Manager service in time."},
        {raserror::PppTimeout, "The connection was terminated because the remote computer did "
                               "not respond in a timely manner."},
        {raserror::PppNoProtocolsConfigured,
         "A connection to the remote computer could not be established."},
        {raserror::NoIpAdapter, "The system cannot find an IP adapter."},
        {raserror::ProjectionNotComplete,
         "The computer could not complete the network protocol negotiation in time."},
        {raserror::LoopbackDetected, "Loopback was detected."},
        {raserror::UnableToAuthenticateServer,
         "It was not possible to verify the identity of the server."},
    };
    const auto found = texts.find(code);
    return found == texts.end() ? std::string() : found->second;
}

} // namespace brindlecove::pppd
