#include "app/linux/CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace brindlecove {

namespace {

constexpr int UsageError = 2;
constexpr int FolderError = 1;

TCommandLine Refused(int status, const std::string& message) {
    TCommandLine line;
    line.Action = TCommandLine::TAction::Refuse;
    line.Status = status;
    line.Message = message;
    if (status == UsageError) {
        line.Message += " (brindlecove --help lists the options)";
    }
    return line;
}

// The folder as an absolute path, so that a reload finds the same files whatever the working
// folder is; empty, with errno set, when it cannot be used.
std::string UsableFolder(const std::string& folder) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(folder.c_str(), nullptr),
                                                               &std::free);
    struct stat info {};
    if (!resolved || ::stat(resolved.get(), &info) != 0) {
        return {};
    }
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return {};
    }
    if (::access(resolved.get(), R_OK | X_OK) != 0) {
        return {};
    }
    std::string path = resolved.get();
    return path.ends_with('/') ? path : path + '/';
}

} // namespace

TCommandLine ReadCommandLine(int argc, char** argv) {
    enum : int { Help = 256, Version, ConfigDir }; // long options only
    static const option options[] = {
        {"help", no_argument, nullptr, Help},
        {"version", no_argument, nullptr, Version},
        {"config-dir", required_argument, nullptr, ConfigDir},
        {nullptr, 0, nullptr, 0},
    };
    TCommandLine line;
    std::string folder;
    bool folderGiven = false;
    ::opterr = 0; // the messages are ours, one line each
    ::optind = 1;
    for (;;) {
        const int previous = ::optind;
        const int option = ::getopt_long(argc, argv, "+:", options, nullptr);
        if (option == -1) {
            break;
        }
        const std::string word = previous < argc ? argv[previous] : "";
        switch (option) {
        case Help:
            line.Action = TCommandLine::TAction::Help;
            break;
        case Version:
            if (line.Action != TCommandLine::TAction::Help) {
                line.Action = TCommandLine::TAction::Version;
            }
            break;
        case ConfigDir:
            folder = ::optarg;
            folderGiven = true;
            break;
        case ':':
            return Refused(UsageError, "brindlecove: the option " + word + " needs a value");
        default:
            return Refused(UsageError, "brindlecove: unknown option " + word);
        }
    }
    if (::optind < argc) {
        return Refused(UsageError,
                       "brindlecove: unexpected argument " + std::string(argv[::optind]));
    }
    if (line.Action == TCommandLine::TAction::Run && folderGiven) {
        line.ConfigDir = UsableFolder(folder);
        if (line.ConfigDir.empty()) {
            return Refused(FolderError, "brindlecove: the settings folder " + folder +
                                            " cannot be used: " + std::strerror(errno));
        }
    }
    return line;
}

std::string UsageText() {
    return "Usage: brindlecove [--config-dir DIR]\n"
           "Supervises the local and the international dial-up link and routes the local\n"
           "networks through the local one (see brindlecove(8)).\n"
           "\n"
           "  --config-dir DIR  the folder of brindlecove.ini and localroutes.dat\n"
           "                    (default: the folder of the executable)\n"
           "  --help            show this text and end\n"
           "  --version         show the version and end\n"
           "\n"
           "Signals: SIGTERM or SIGINT saves unsaved settings and ends, SIGHUP reloads them.\n"
           "Exit status: 0 ended by a signal, 1 a failure (settings not saved, the settings\n"
           "folder cannot be used), 2 a wrong command line.\n";
}

} // namespace brindlecove
