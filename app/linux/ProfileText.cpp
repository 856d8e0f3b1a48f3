#include "app/linux/ProfileText.h"

#include <cstddef>
#include <utility>

namespace brindlecove::profiletext {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    const auto AsciiLower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

// One line: its text is [Begin, End), its line end [End, Next) (empty on a last line without one).
struct TLine {
    std::size_t Begin;
    std::size_t End;
    std::size_t Next;
    bool HasLineEnd() const { return Next != End; }
};

// Calls visit(line) for each line from offset start on, while visit answers true.
template <typename TVisit>
void ForEachLine(std::string_view text, std::size_t start, TVisit visit) {
    std::size_t at = start;
    while (at < text.size()) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::size_t next = end;
        if (next < text.size()) {
            next += text.compare(next, 2, "\r\n") == 0 ? 2u : 1u;
        }
        if (!visit(TLine{at, end, next})) {
            return;
        }
        at = next;
    }
}

enum class TLineKind { Blank, Comment, Section, Key, Other };

struct TParsedLine {
    TLineKind Kind = TLineKind::Other;
    std::string_view Name;      // of a section or a key
    std::size_t ValueBegin = 0; // a key's value (without the blanks around it) in the whole text
    std::size_t ValueEnd = 0;
};

TParsedLine ParseLine(std::string_view text, const TLine& line) {
    std::size_t begin = line.Begin;
    std::size_t end = line.End;
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    const std::string_view content = text.substr(begin, end - begin);
    TParsedLine parsed;
    if (content.empty()) {
        parsed.Kind = TLineKind::Blank;
        return parsed;
    }
    if (content.front() == ';') {
        parsed.Kind = TLineKind::Comment;
        return parsed;
    }
    if (content.front() == '[') {
        const std::size_t close = content.find(']');
        if (close != std::string_view::npos) {
            parsed.Kind = TLineKind::Section;
            parsed.Name = content.substr(1, close - 1);
            return parsed;
        }
        // Without ']' it is no header; it may still be a key, as on Windows.
    }
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        return parsed;
    }
    parsed.Kind = TLineKind::Key;
    parsed.Name = Trim(content.substr(0, equals));
    parsed.ValueBegin = begin + equals + 1;
    parsed.ValueEnd = end;
    while (parsed.ValueBegin < parsed.ValueEnd && IsBlank(text[parsed.ValueBegin])) {
        ++parsed.ValueBegin;
    }
    return parsed;
}

// Where the lines of the text start: after a UTF-8 byte-order mark, if any.
std::size_t TextStart(std::string_view text) {
    return text.substr(0, Utf8Bom.size()) == Utf8Bom ? Utf8Bom.size() : 0;
}

// The line end of the file's first line, for the lines added to it.
std::string_view LineEndOf(std::string_view text) {
    const std::size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos || text[end] == '\n') {
        return "\n";
    }
    return text.compare(end, 2, "\r\n") == 0 ? "\r\n" : "\r";
}

// What the file holds of one section and one key, found in a single pass over the lines.
struct TLookup {
    bool SectionFound = false;
    std::size_t SectionBegin = 0;    // its header line (the start of the text for the unnamed one)
    std::size_t SectionEnd = 0;      // the next header line, or the end of the text
    std::size_t InsertAt = 0;        // just after its last non-blank line (or its header)
    bool InsertNeedsLineEnd = false; // that line is the last one and has no line end
    bool KeyFound = false;
    TLine KeyLine{0, 0, 0};
    TParsedLine Key;
};

// Looks up the first section named section (the lines before any header when it is empty) and,
// unless key is empty, the first key named key in it. onKey, when given, sees each key of the
// section and answers whether to go on.
template <typename TOnKey>
TLookup Lookup(std::string_view text, std::string_view section, std::string_view key,
               TOnKey onKey) {
    const std::size_t start = TextStart(text);
    TLookup found;
    bool inSection = section.empty();
    if (inSection) {
        found.SectionFound = true;
        found.SectionBegin = start;
        found.InsertAt = start;
    }
    found.SectionEnd = text.size();
    ForEachLine(text, start, [&](const TLine& line) {
        const TParsedLine parsed = ParseLine(text, line);
        if (parsed.Kind == TLineKind::Section) {
            if (inSection) {
                found.SectionEnd = line.Begin;
                return false;
            }
            if (SameName(parsed.Name, section)) {
                inSection = true;
                found.SectionFound = true;
                found.SectionBegin = line.Begin;
                found.InsertAt = line.Next;
                found.InsertNeedsLineEnd = !line.HasLineEnd();
            }
            return true;
        }
        if (!inSection) {
            return true;
        }
        if (parsed.Kind != TLineKind::Blank) {
            found.InsertAt = line.Next;
            found.InsertNeedsLineEnd = !line.HasLineEnd();
        }
        if (parsed.Kind == TLineKind::Key) {
            if (!found.KeyFound && !key.empty() && SameName(parsed.Name, key)) {
                found.KeyFound = true;
                found.KeyLine = line;
                found.Key = parsed;
            }
            return onKey(parsed.Name);
        }
        return true;
    });
    return found;
}

TLookup Lookup(std::string_view text, std::string_view section, std::string_view key) {
    return Lookup(text, section, key, [](std::string_view) { return true; });
}

// A value as the program gets it: without one pair of surrounding quotes.
std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// The whole text with [begin, end) replaced by the given text.
std::string Splice(std::string_view text, std::size_t begin, std::size_t end,
                   std::string_view with) {
    std::string result;
    result.reserve(text.size() - (end - begin) + with.size());
    result.append(text.substr(0, begin));
    result.append(with);
    result.append(text.substr(end));
    return result;
}

// The text without the ranges cut from it, which come in order and do not overlap.
class TCuts {
public:
    explicit TCuts(std::string_view text) : FText(text) {}

    void Cut(std::size_t begin, std::size_t end) {
        FResult.append(FText.substr(FKept, begin - FKept));
        FKept = end;
    }

    std::string Finish() {
        FResult.append(FText.substr(FKept));
        return std::move(FResult);
    }

private:
    std::string_view FText;
    std::string FResult;
    std::size_t FKept = 0; // where the text not yet copied starts
};

} // namespace

std::optional<std::string_view> FindValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
    const TLookup found = Lookup(text, section, key);
    if (!found.KeyFound) {
        return std::nullopt;
    }
    return Unquote(text.substr(found.Key.ValueBegin, found.Key.ValueEnd - found.Key.ValueBegin));
}

void ForEachSectionName(std::string_view text, const std::function<bool(std::string_view)>& visit) {
    ForEachLine(text, TextStart(text), [&](const TLine& line) {
        const TParsedLine parsed = ParseLine(text, line);
        return parsed.Kind != TLineKind::Section || visit(parsed.Name);
    });
}

void ForEachKeyName(std::string_view text, std::string_view section,
                    const std::function<bool(std::string_view)>& visit) {
    Lookup(text, section, {}, visit);
}

// Whether the names and the value would read back as written (see the header).
bool WritableNames(std::string_view section, std::string_view key, bool deletesSection,
                   std::optional<std::string_view> value) {
    const auto hasLineEnd = [](std::string_view text) {
        return text.find_first_of("\r\n") != std::string_view::npos;
    };
    if (hasLineEnd(section) || section.find(']') != std::string_view::npos) {
        return false;
    }
    if (deletesSection) {
        return true;
    }
    // A key at the very start of a file would lose a leading byte-order mark to the reader.
    if (key.empty() || hasLineEnd(key) || key.find('=') != std::string_view::npos ||
        key.front() == '[' || key.front() == ';' || key.starts_with(Utf8Bom)) {
        return false;
    }
    return !value || !hasLineEnd(*value);
}

// The text after setting [section] key = value.
std::string SetValue(std::string_view text, std::string_view section, std::string_view key,
                     std::string_view value) {
    const TLookup found = Lookup(text, section, key);
    if (found.KeyFound) {
        return Splice(text, found.Key.ValueBegin, found.Key.ValueEnd, value);
    }
    const std::string_view lineEnd = LineEndOf(text);
    std::string lines;
    if (found.SectionFound) {
        if (found.InsertNeedsLineEnd) {
            lines += lineEnd;
        }
        lines.append(key).append("=").append(value).append(lineEnd);
        return Splice(text, found.InsertAt, found.InsertAt, lines);
    }
    if (!text.empty() && text.back() != '\n' && text.back() != '\r') {
        lines += lineEnd;
    }
    lines.append("[").append(section).append("]").append(lineEnd);
    lines.append(key).append("=").append(value).append(lineEnd);
    return std::string(text) + lines;
}

std::string DeleteKey(std::string_view text, std::string_view section, std::string_view key) {
    const TLookup found = Lookup(text, section, key);
    if (!found.KeyFound) {
        return std::string(text);
    }
    // A second line of the key in the section would read as the key after the first went: every
    // line of it goes.
    TCuts cuts(text);
    ForEachLine(text.substr(0, found.SectionEnd), found.KeyLine.Begin, [&](const TLine& line) {
        const TParsedLine parsed = ParseLine(text, line);
        if (parsed.Kind == TLineKind::Key && SameName(parsed.Name, key)) {
            cuts.Cut(line.Begin, line.Next);
        }
        return true;
    });
    return cuts.Finish();
}

std::string DeleteSection(std::string_view text, std::string_view section) {
    // A later section of the same name would read as the section after the first went: every
    // section of the name goes. The lines before the first header are the section without a name.
    TCuts cuts(text);
    constexpr std::size_t NoCut = std::string_view::npos;
    std::size_t cutFrom = section.empty() ? TextStart(text) : NoCut; // the section being cut
    ForEachLine(text, TextStart(text), [&](const TLine& line) {
        const TParsedLine parsed = ParseLine(text, line);
        if (parsed.Kind == TLineKind::Section) {
            if (cutFrom != NoCut) {
                cuts.Cut(cutFrom, line.Begin);
            }
            const bool named = !section.empty() && SameName(parsed.Name, section);
            cutFrom = named ? line.Begin : NoCut;
        }
        return true;
    });
    if (cutFrom != NoCut) {
        cuts.Cut(cutFrom, text.size());
    }
    return cuts.Finish();
}

} // namespace brindlecove::profiletext
