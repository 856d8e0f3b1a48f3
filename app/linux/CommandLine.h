#pragma once
// The program's options: --help, --version and --config-dir DIR (the folder of brindlecove.ini
// and localroutes.dat; beside the executable without it).

#include <string>

namespace brindlecove {

struct TCommandLine {
    enum class TAction { Run, Help, Version, Refuse };
    TAction Action = TAction::Run;
    std::string ConfigDir; // absolute, without symbolic links, ending with '/'; empty: not given
    int Status = 0;        // the exit status of Refuse: 2 for a usage error, 1 for a bad folder
    std::string Message;   // why Refuse, as one line for standard error
};

// Reads the options; a --config-dir must name a folder the program may read and search.
TCommandLine ReadCommandLine(int argc, char** argv);

// The text of --help.
std::string UsageText();

} // namespace brindlecove
