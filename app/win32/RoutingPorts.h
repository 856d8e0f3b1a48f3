#pragma once
// The routing ports of the Windows program. This file is the one place that chooses them: until
// the IP Helper and registry adapters of routing/win32 are in this tree, the program gets
// stand-ins that answer every routing call with ERROR_NOT_SUPPORTED (50) and refuse to delete
// persistent routes. Replace the body of CreateRoutingPorts when those adapters arrive.

#include "routing/IpHelperPort.h"

#include <memory>

namespace brindlecove {

struct TRoutingPorts {
    std::unique_ptr<IIpHelperPort> IpHelper;
    std::unique_ptr<IRegistryPort> Registry;
};

TRoutingPorts CreateRoutingPorts();

} // namespace brindlecove
