#pragma once
// pppd's phonebook: which names in the peers folder are entries, the words of an option file as
// pppd splits them, what the program shows of a peers file, and whether a secret exists for a
// user.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindlecove::pppd {

// What the phonebook makes of a file name in the peers folder.
enum class TNameVerdict {
    Entry,   // listed
    Ignored, // hidden files, backups, package manager leftovers, README files
    Unusable // a name pppd or a pid file name could not carry: listed as skipped
};
TNameVerdict ClassifyPeerName(std::string_view name);

// The words of an option file, split with pppd's own rules.
std::vector<std::string> SplitOptionWords(std::string_view text);

// What the program shows of a peers file.
struct TPeerOptions {
    std::string User;
    std::string DeviceType;                   // "PPPoE", "modem" or empty
    std::string DeviceName;                   // the Ethernet interface or the serial device
    std::vector<std::string> IgnoredIncludes; // `file`/`call` options, not followed
};
TPeerOptions ReadPeerOptions(const std::vector<std::string>& words);
// The options of the peers file at `path`; nullopt when it cannot be read.
std::optional<TPeerOptions> ReadPeerFile(const std::string& path);

// Whether pap-secrets or chap-secrets of the folder hold a line for the user (or for any client).
bool HasSecretFor(const std::string& secretsFolder, const std::string& user);

} // namespace brindlecove::pppd
