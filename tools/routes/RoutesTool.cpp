#include "tools/routes/RoutesTool.h"

#include "app/LocalRouteFile.h"
#include "routing/LocalRouteList.h"
#include "tools/routes/RouteCheck.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace brindlecove::routes {
namespace {

constexpr const char* Version = "brindlecove-routes 1.01";

constexpr const char* Usage =
    "Usage:\n"
    "  brindlecove-routes compile --country CC [--country CC ...] [-o FILE] DELEGATION-FILE...\n"
    "  brindlecove-routes check [--country CC ...] (--builtin | LIST) DELEGATION-FILE...\n"
    "  brindlecove-routes --help | --version\n"
    "\n"
    "compile  writes a route list (network,mask lines) of the IPv4 networks allocated or assigned\n"
    "         to the countries (two-letter codes) in the registries' delegation files, joined\n"
    "         into the fewest blocks; to standard output or, replaced at once, to FILE.\n"
    "check    reads a route list as Brindlecove does (--builtin: the list built into it) and\n"
    "         reports its rows inside and outside the countries' allocations (all countries'\n"
    "         without --country), repeated rows, bad pairs and the share of the space covered.\n"
    "         Exit status 0 only when no row lies outside.\n"
    "\n"
    "Delegation files: delegated-<registry>-extended-latest or delegated-<registry>-latest of\n"
    "afrinic, apnic, arin, lacnic or ripencc, uncompressed.\n"
    "Exit status: 0 done, 1 bad data (or rows outside, for check), 2 bad usage.\n";

struct TOptions {
    std::string Command;
    std::set<std::string> Countries;
    std::string Output;
    bool BuiltIn = false;
    std::vector<std::string> Files;
};

// Answers a usage fault or an empty text.
std::string ParseOptions(const std::vector<std::string>& args, TOptions& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](const std::string& name, std::string& into) -> std::string {
            if (arg.size() > name.size() && arg.starts_with(name + "=")) {
                into = arg.substr(name.size() + 1);
            } else if (i + 1 < args.size()) {
                into = args[++i];
            } else {
                return name + " needs a value";
            }
            return {};
        };
        std::string text;
        std::string fault;
        if (arg == "--country" || arg.starts_with("--country=")) {
            fault = value("--country", text);
            if (fault.empty()) {
                if (text.size() != 2 || !std::isalpha(static_cast<unsigned char>(text[0])) ||
                    !std::isalpha(static_cast<unsigned char>(text[1]))) {
                    return "a country is a two-letter code such as ZA, not \"" + text + "\"";
                }
                for (char& c : text) {
                    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                }
                options.Countries.insert(text);
            }
        } else if (arg == "-o" || arg == "--output" || arg.starts_with("--output=")) {
            fault = value(arg == "-o" ? "-o" : "--output", options.Output);
        } else if (arg == "--builtin") {
            options.BuiltIn = true;
        } else if (arg.size() > 1 && arg.starts_with("-")) {
            return "unknown option " + arg;
        } else if (options.Command.empty()) {
            options.Command = arg;
        } else {
            options.Files.push_back(arg);
        }
        if (!fault.empty()) {
            return fault;
        }
    }
    if (options.Command == "compile") {
        if (options.Countries.empty()) {
            return "compile needs at least one --country";
        }
        if (options.BuiltIn) {
            return "--builtin belongs to check";
        }
        if (options.Files.empty()) {
            return "compile needs at least one delegation file";
        }
    } else if (options.Command == "check") {
        if (!options.Output.empty()) {
            return "-o belongs to compile";
        }
        if (options.Files.size() < (options.BuiltIn ? 1u : 2u)) {
            return options.BuiltIn ? "check --builtin needs at least one delegation file"
                                   : "check needs a route list and at least one delegation file";
        }
    } else {
        return options.Command.empty() ? "no command given"
                                       : "unknown command \"" + options.Command + "\"";
    }
    return {};
}

std::string JoinCountries(const std::set<std::string>& countries) {
    std::string joined;
    for (const std::string& country : countries) {
        joined += (joined.empty() ? "" : " ") + country;
    }
    return joined.empty() ? "all countries" : joined;
}

std::string Describe(const TDelegationFile& file) {
    return file.Name + " (" + file.Registry + ", " + file.Date + ")";
}

// Writes the text to a file beside `path` and renames it over `path`, so that a reader sees the
// old file or the new one, never a part.
std::string WriteAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return "cannot write " + temporary;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return "cannot replace " + path + ": " + error.message();
    }
    return {};
}

// Reads a route list file whole, as the program would: a list larger than the program reads is
// refused.
std::string ReadListFile(const std::string& path, std::string& text) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        return "cannot read " + path + ": " + error.message();
    }
    if (size > MaxLocalRoutesFileSize) {
        return path + " is larger than the " + std::to_string(MaxLocalRoutesFileSize) +
               " bytes the program reads of a route list";
    }
    std::ifstream in(path, std::ios::binary);
    text.resize(static_cast<std::size_t>(size));
    in.read(text.data(), static_cast<std::streamsize>(size));
    if (!in || in.gcount() != static_cast<std::streamsize>(size)) {
        return "cannot read " + path;
    }
    return {};
}

int Check(const TOptions& options, std::ostream& out, std::ostream& err) {
    std::string list;
    std::string listName = "the built-in list";
    std::vector<std::string> files = options.Files;
    if (options.BuiltIn) {
        list = BuiltInLocalRoutesText();
    } else {
        listName = files.front();
        files.erase(files.begin());
        if (const std::string fault = ReadListFile(listName, list); !fault.empty()) {
            err << "brindlecove-routes: " << fault << "\n";
            return ExitBadData;
        }
    }
    TAllocations allocations;
    if (const std::string fault = ReadAllocations(files, options.Countries, allocations);
        !fault.empty()) {
        err << "brindlecove-routes: " << fault << "\n";
        return ExitBadData;
    }
    out << "Checking " << listName << " against the allocations of "
        << JoinCountries(options.Countries) << " in:\n";
    for (const TDelegationFile& file : allocations.Files) {
        out << "  " << Describe(file) << "\n";
    }
    const TCheckReport report = CheckRouteList(list, allocations.Ranges);
    PrintCheckReport(report, out);
    return report.Passes() ? ExitOk : ExitBadData;
}

} // namespace

std::string ReadAllocations(const std::vector<std::string>& paths,
                            const std::set<std::string>& countries, TAllocations& allocations) {
    std::vector<TAddressRange> ranges;
    for (const std::string& path : paths) {
        std::ifstream in(path, std::ios::binary);
        if (!in.is_open()) {
            return "cannot open " + path;
        }
        TDelegationFile file;
        file.Name = path;
        std::string fault = ReadDelegationFile(in, file, [&](const TDelegationLine& record) {
            if (record.Type == "ipv4" &&
                (record.Status == "allocated" || record.Status == "assigned") &&
                (countries.empty() || countries.contains(std::string(record.Country)))) {
                ranges.push_back(record.Range);
            }
        });
        if (!fault.empty()) {
            return fault;
        }
        allocations.Files.push_back(std::move(file));
    }
    allocations.Ranges = MergeRanges(std::move(ranges));
    return {};
}

std::string FormatRouteList(const TAllocations& allocations,
                            const std::set<std::string>& countries) {
    std::vector<TCidrBlock> blocks;
    std::uint64_t addresses = 0;
    for (const TAddressRange& range : allocations.Ranges) {
        const std::vector<TCidrBlock> split = SplitIntoBlocks(range);
        blocks.insert(blocks.end(), split.begin(), split.end());
        addresses += range.Count;
    }
    std::string text =
        "# Local route list of " + JoinCountries(countries) + ", made by " + Version + " from:\n";
    for (const TDelegationFile& file : allocations.Files) {
        text += "#   " + Describe(file) + "\n";
    }
    text += "# " + std::to_string(blocks.size()) + " networks, " + std::to_string(addresses) +
            " addresses\n";
    for (const TCidrBlock& block : blocks) {
        text += FormatAddress(block.Network) + "," + FormatMask(block.Prefix) + "\n";
    }
    return text;
}

int RunRoutesTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << Usage;
        return ExitOk;
    }
    if (args.size() == 1 && args[0] == "--version") {
        out << Version << "\n";
        return ExitOk;
    }
    TOptions options;
    if (const std::string fault = ParseOptions(args, options); !fault.empty()) {
        err << "brindlecove-routes: " << fault << "\n" << Usage;
        return ExitUsage;
    }
    if (options.Command == "check") {
        return Check(options, out, err);
    }
    TAllocations allocations;
    if (const std::string fault = ReadAllocations(options.Files, options.Countries, allocations);
        !fault.empty()) {
        err << "brindlecove-routes: " << fault << "\n";
        return ExitBadData;
    }
    const std::string list = FormatRouteList(allocations, options.Countries);
    if (options.Output.empty()) {
        out << list;
        return out.flush() ? ExitOk : ExitBadData;
    }
    if (const std::string fault = WriteAtomically(options.Output, list); !fault.empty()) {
        err << "brindlecove-routes: " << fault << "\n";
        return ExitBadData;
    }
    return ExitOk;
}

} // namespace brindlecove::routes
