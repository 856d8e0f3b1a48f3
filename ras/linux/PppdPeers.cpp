#include "ras/linux/PppdPeers.h"

#include "ras/linux/PppdProcesses.h" // ReadSmallFile, BaseName

#include <algorithm>
#include <set>

namespace brindlecove::pppd {

namespace {

constexpr std::size_t MaxOptionFile = 1024 * 1024;

} // namespace

TNameVerdict ClassifyPeerName(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.back() == '~' || name.starts_with("README")) {
        return TNameVerdict::Ignored;
    }
    for (std::string_view suffix :
         {".bak", ".orig", ".old", ".save", ".swp", ".rpmnew", ".rpmsave"}) {
        if (name.ends_with(suffix)) {
            return TNameVerdict::Ignored;
        }
    }
    if (name.find(".dpkg-") != std::string_view::npos ||
        name.find(".ucf-") != std::string_view::npos) {
        return TNameVerdict::Ignored;
    }
    const bool usable = name.size() <= 64 && name.find("..") == std::string_view::npos &&
                        std::all_of(name.begin(), name.end(), [](char c) {
                            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                   (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '@' ||
                                   c == '+' || c == '-';
                        });
    return usable ? TNameVerdict::Entry : TNameVerdict::Unusable;
}

std::vector<std::string> SplitOptionWords(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
    };
    const auto hexValue = [](char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    while (i < text.size()) {
        if (isSpace(text[i])) {
            ++i;
            continue;
        }
        if (text[i] == '#') {
            while (i < text.size() && text[i] != '\n') {
                ++i;
            }
            continue;
        }
        std::string word;
        char quote = 0;
        bool any = false; // "" is an empty word, not no word
        while (i < text.size()) {
            const char c = text[i];
            if (c == '\\') {
                ++i;
                if (i >= text.size()) {
                    break;
                }
                const char e = text[i++];
                if (e == '\n') {
                    continue; // a line continued: it joins words and starts none
                }
                any = true;
                switch (e) {
                case 'a':
                    word += '\a';
                    break;
                case 'b':
                    word += '\b';
                    break;
                case 'f':
                    word += '\f';
                    break;
                case 'n':
                    word += '\n';
                    break;
                case 'r':
                    word += '\r';
                    break;
                case 's':
                    word += ' ';
                    break;
                case 't':
                    word += '\t';
                    break;
                case 'v':
                    word += '\v';
                    break;
                case 'x': {
                    int value = 0;
                    int digits = 0;
                    while (digits < 2 && i < text.size() && hexValue(text[i]) >= 0) {
                        value = value * 16 + hexValue(text[i++]);
                        ++digits;
                    }
                    if (digits == 0) {
                        word += 'x';
                    } else {
                        word += static_cast<char>(value);
                    }
                    break;
                }
                default:
                    if (e >= '0' && e <= '7') {
                        int value = e - '0';
                        for (int digits = 1;
                             digits < 3 && i < text.size() && text[i] >= '0' && text[i] <= '7';
                             ++digits) {
                            value = value * 8 + (text[i++] - '0');
                        }
                        word += static_cast<char>(value & 0xFF);
                    } else {
                        word += e;
                    }
                }
                continue;
            }
            if (quote != 0) {
                if (c == quote) {
                    quote = 0;
                } else {
                    word += c;
                }
                ++i;
                continue;
            }
            if (c == '"' || c == '\'') {
                quote = c;
                any = true;
                ++i;
                continue;
            }
            if (isSpace(c) || c == '#') {
                break;
            }
            word += c;
            any = true;
            ++i;
        }
        if (any) {
            words.push_back(std::move(word));
        }
    }
    return words;
}

TPeerOptions ReadPeerOptions(const std::vector<std::string>& words) {
    // pppd options whose next word is their value, so that value is never taken for a device.
    static const std::set<std::string, std::less<>> withValue = {"user",
                                                                 "password",
                                                                 "remotename",
                                                                 "name",
                                                                 "plugin",
                                                                 "file",
                                                                 "call",
                                                                 "connect",
                                                                 "disconnect",
                                                                 "init",
                                                                 "welcome",
                                                                 "pty",
                                                                 "mtu",
                                                                 "mru",
                                                                 "lcp-echo-interval",
                                                                 "lcp-echo-failure",
                                                                 "idle",
                                                                 "holdoff",
                                                                 "maxfail",
                                                                 "ipparam",
                                                                 "linkname",
                                                                 "ms-dns",
                                                                 "ms-wins",
                                                                 "asyncmap",
                                                                 "speed",
                                                                 "connect-delay",
                                                                 "logfile",
                                                                 "unit",
                                                                 "ifname",
                                                                 "maxconnect",
                                                                 "domain",
                                                                 "netmask",
                                                                 "remotenumber",
                                                                 "lcp-max-configure",
                                                                 "lcp-restart",
                                                                 "ipcp-max-configure",
                                                                 "ipcp-restart",
                                                                 "pppoe-service",
                                                                 "pppoe-ac-name",
                                                                 "rp_pppoe_service",
                                                                 "rp_pppoe_ac",
                                                                 "pppoe-mac",
                                                                 "pppoe-host-uniq",
                                                                 "host-uniq"};
    TPeerOptions options;
    bool pppoe = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const bool hasNext = i + 1 < words.size();
        if (withValue.count(word) != 0) {
            if (!hasNext) {
                break;
            }
            const std::string& value = words[++i];
            if (word == "user") {
                options.User = value;
            } else if (word == "plugin") {
                const std::string plugin = BaseName(value);
                pppoe = plugin == "rp-pppoe.so" || plugin == "pppoe.so";
                if (pppoe) {
                    options.DeviceType = "PPPoE";
                    options.DeviceName.clear();
                }
            } else if (word == "file" || word == "call") {
                options.IgnoredIncludes.push_back(word + " " + value);
            }
            continue;
        }
        if (word.starts_with("/dev/")) {
            options.DeviceType = "modem";
            options.DeviceName = word;
        } else if (word.starts_with("tty") && word.size() > 3) {
            options.DeviceType = "modem";
            options.DeviceName = "/dev/" + word;
        } else if (pppoe && word.starts_with("nic-") && word.size() > 4) {
            options.DeviceName = word.substr(4);
        } else if (pppoe && !word.empty() && word.size() <= 15 && word.front() >= 'a' &&
                   word.front() <= 'z' && word.back() >= '0' && word.back() <= '9' &&
                   word != "ipv6" && word != "noipv6" &&
                   std::all_of(word.begin(), word.end(), [](char c) {
                       return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                              c == '_';
                   })) {
            // The PPPoE plugins take the Ethernet interface as a word of its own (eth0, enp3s0).
            options.DeviceName = word;
        }
    }
    return options;
}

std::optional<TPeerOptions> ReadPeerFile(const std::string& path) {
    const auto text = ReadSmallFile(path, MaxOptionFile);
    if (!text) {
        return std::nullopt;
    }
    return ReadPeerOptions(SplitOptionWords(*text));
}

bool HasSecretFor(const std::string& secretsFolder, const std::string& user) {
    if (user.empty()) {
        return false;
    }
    for (const char* file : {"pap-secrets", "chap-secrets"}) {
        const auto text = ReadSmallFile(secretsFolder + "/" + file, MaxOptionFile);
        if (!text) {
            continue;
        }
        std::size_t start = 0;
        while (start < text->size()) {
            const std::size_t end = std::min(text->find('\n', start), text->size());
            const auto words = SplitOptionWords(std::string_view(*text).substr(start, end - start));
            // client server secret [addresses...]
            if (words.size() >= 3 && (words[0] == user || words[0] == "*")) {
                return true;
            }
            start = end + 1;
        }
    }
    return false;
}

} // namespace brindlecove::pppd
