#include "tools/routes/Delegation.h"

#include <array>
#include <charconv>

namespace brindlecove::routes {
namespace {

constexpr std::size_t MaxFields = 10;

// Splits at "|"; answers the number of fields, MaxFields + 1 when there are more.
std::size_t SplitFields(std::string_view line, std::array<std::string_view, MaxFields>& fields) {
    std::size_t count = 0;
    while (true) {
        if (count == MaxFields) {
            return MaxFields + 1;
        }
        const std::size_t bar = line.find('|');
        fields[count++] = line.substr(0, bar);
        if (bar == std::string_view::npos) {
            return count;
        }
        line.remove_prefix(bar + 1);
    }
}

std::optional<std::uint64_t> ParseCount(std::string_view text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

TDelegationLine Fault(std::string message) {
    TDelegationLine result;
    result.Kind = TLineKind::Error;
    result.Error = std::move(message);
    return result;
}

std::string Quoted(std::string_view text) {
    constexpr std::size_t Shown = 40;
    std::string shown(text.substr(0, Shown));
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) {
            c = '?';
        }
    }
    return "\"" + shown + (text.size() > Shown ? "...\"" : "\"");
}

} // namespace

TDelegationLine ParseDelegationLine(std::string_view line) {
    TDelegationLine result;
    if (line.empty() || line.front() == '#') {
        return result;
    }
    std::array<std::string_view, MaxFields> f;
    const std::size_t count = SplitFields(line, f);
    if (count > MaxFields) {
        return Fault("too many fields");
    }
    // The version line begins with the format version, a number such as 2 or 2.3.
    if (!f[0].empty() && f[0].find_first_not_of("0123456789.") == std::string_view::npos) {
        if (count < 7) {
            return Fault("version line with " + std::to_string(count) + " fields, 7 expected");
        }
        const auto records = ParseCount(f[3]);
        if (!records) {
            return Fault("version line: record count " + Quoted(f[3]) + " is not a number");
        }
        result.Kind = TLineKind::Version;
        result.Registry = f[1];
        result.Date = f[5];
        result.Records = *records;
        return result;
    }
    if (count == 6 && f[5] == "summary") {
        result.Kind = TLineKind::Summary;
        result.Registry = f[0];
        result.Type = f[2];
        return result;
    }
    if (count < 7) {
        return Fault("record with " + std::to_string(count) + " fields, at least 7 expected");
    }
    result.Registry = f[0];
    result.Country = f[1];
    result.Type = f[2];
    result.Status = f[6];
    if (result.Type == "ipv4") {
        const auto first = ParseDottedQuad(f[3]);
        if (!first) {
            return Fault("ipv4 record: start " + Quoted(f[3]) + " is not an address");
        }
        const auto addresses = ParseCount(f[4]);
        if (!addresses || *addresses == 0) {
            return Fault("ipv4 record: count " + Quoted(f[4]) + " is not a number of addresses");
        }
        if (*addresses > AddressSpace - *first) {
            return Fault("ipv4 record: " + std::string(f[4]) + " addresses from " +
                         std::string(f[3]) + " run past 255.255.255.255");
        }
        result.Range = {*first, *addresses};
    } else if (result.Type != "asn" && result.Type != "ipv6") {
        return Fault("unknown record type " + Quoted(f[2]));
    }
    result.Kind = TLineKind::Record;
    return result;
}

std::string ReadDelegationFile(std::istream& in, TDelegationFile& file,
                               const std::function<void(const TDelegationLine&)>& onRecord) {
    std::uint64_t lineNumber = 0;
    std::uint64_t records = 0;
    bool versionSeen = false;
    const auto where = [&] { return file.Name + ":" + std::to_string(lineNumber) + ": "; };
    const auto tooLong = [&] {
        return where() + "the line is longer than " + std::to_string(MaxDelegationLineLength) +
               " characters";
    };

    // Takes one line; answers a fault or an empty text.
    const auto take = [&](std::string_view line) -> std::string {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() > MaxDelegationLineLength) {
            return tooLong();
        }
        TDelegationLine parsed = ParseDelegationLine(line);
        switch (parsed.Kind) {
        case TLineKind::Ignored:
            return {};
        case TLineKind::Error:
            return where() + parsed.Error;
        case TLineKind::Version:
            if (versionSeen) {
                return where() + "a second version line";
            }
            versionSeen = true;
            file.Registry = parsed.Registry;
            file.Date = parsed.Date;
            file.Records = parsed.Records;
            return {};
        case TLineKind::Summary:
        case TLineKind::Record:
            if (!versionSeen) {
                return where() + "no version line before the records: not a delegation file";
            }
            if (parsed.Kind == TLineKind::Record) {
                ++records;
                onRecord(parsed);
            }
            return {};
        }
        return {};
    };

    std::string pending; // the start of a line whose end has not been read yet
    std::array<char, 64 * 1024> buffer;
    while (in) {
        in.read(buffer.data(), buffer.size());
        std::string_view chunk(buffer.data(), static_cast<std::size_t>(in.gcount()));
        if (lineNumber == 0 && pending.empty() && chunk.starts_with("\x1f\x8b")) {
            return file.Name + ": the file is gzip-compressed; uncompress it first (gunzip)";
        }
        for (std::size_t end; (end = chunk.find('\n')) != std::string_view::npos;) {
            std::string error;
            if (pending.empty()) {
                error = take(chunk.substr(0, end));
            } else {
                pending.append(chunk.substr(0, end));
                error = take(pending);
                pending.clear();
            }
            if (!error.empty()) {
                return error;
            }
            chunk.remove_prefix(end + 1);
        }
        if (pending.size() + chunk.size() > MaxDelegationLineLength) {
            ++lineNumber;
            return tooLong();
        }
        pending.append(chunk);
    }
    if (in.bad()) {
        return file.Name + ": read error after line " + std::to_string(lineNumber);
    }
    if (!pending.empty()) {
        if (std::string error = take(pending); !error.empty()) {
            return error;
        }
    }
    if (!versionSeen) {
        return file.Name + ": no version line: not a delegation file";
    }
    if (records != file.Records) {
        return file.Name + ": the version line announces " + std::to_string(file.Records) +
               " records, the file holds " + std::to_string(records) +
               (records < file.Records ? " (cut short?)" : "");
    }
    return {};
}

} // namespace brindlecove::routes
