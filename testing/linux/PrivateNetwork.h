#pragma once
// A private network for the Linux platform tests and benchmarks: a user and network namespace of
// the calling process's own (as `unshare -rn` makes), with two veth pairs standing in for the
// uplinks. Nothing in it reaches any other network.
//
//   loc0 10.1.0.1/24 (peer loc1), gateway 10.1.0.2: the local uplink
//   int0 10.2.0.1/24 (peer int1), gateway 10.2.0.2: the international uplink

#include <string>
#include <vector>

namespace brindlecove::testing {

inline constexpr const char* LocalLink = "loc0";
inline constexpr const char* LocalGateway = "10.1.0.2";
inline constexpr const char* IntLink = "int0";
inline constexpr const char* IntGateway = "10.2.0.2";

// The `ip -batch` commands that bring up lo and the two uplinks (addresses, both ends up).
inline constexpr const char* UplinkCommands = "link set lo up\n"
                                              "link add loc0 type veth peer name loc1\n"
                                              "link add int0 type veth peer name int1\n"
                                              "addr add 10.1.0.1/24 dev loc0\n"
                                              "addr add 10.2.0.1/24 dev int0\n"
                                              "link set loc1 up\n"
                                              "link set int1 up\n"
                                              "link set loc0 up\n"
                                              "link set int0 up\n";

// Moves the calling process (which must have one thread) into a new user namespace, mapping its
// user and group to root there, and a new network namespace. False, with the reason, when the
// system does not allow it.
bool EnterPrivateNetwork(std::string& why);

// Moves the calling process into a further new network namespace (it must be in its own user
// namespace already): a fresh, empty network.
bool EnterFreshNetwork(std::string& why);

// Runs `ip -batch -` with `commands` (one per line) in the current network namespace; false, with
// the command's output, when ip reports a failure.
bool IpBatch(const std::string& commands, std::string& why);

// Runs UplinkCommands.
bool SetUpUplinks(std::string& why);

// Runs a shell command and answers its standard output ("" when it could not be started).
std::string CommandOutput(const std::string& command);

// The kernel's main IPv4 table as `ip -4 route show table main` lists it, one route a line,
// without the blanks ip leaves at the ends of lines.
std::vector<std::string> MainRoutes();

// The stand-in pppd of the source tree, which plays the scenario its peers file names.
std::string StandInPppd();

// Ends the links the stand-in pppd keeps up (they outlive their dialler, as pppd's do): SIGTERM to
// the pid of every ppp-NAME.pid in `runFolder`; the stand-in then removes its link and pid files.
void StopStandInLinks(const std::string& runFolder);

} // namespace brindlecove::testing
