#pragma once
// What the end of a pppd run means in RAS terms, and the texts Windows gives for RAS codes.

#include "common/Win32Types.h"

#include <string>

namespace brindlecove::pppd {

// The RAS code for pppd's exit status, and for the wait status of a pppd run (a run ended by a
// signal is an unknown error).
DWORD RasCodeFromPppdExit(int exitCode);
DWORD RasCodeFromWaitStatus(int waitStatus);

// The Windows text of a RAS code; empty for a code without one.
std::string RasErrorText(DWORD code);

} // namespace brindlecove::pppd
