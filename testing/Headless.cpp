#include "testing/Headless.h"

#include <algorithm>
#include <cstring>

namespace brindlecove::testing {

namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

} // namespace

void THeadlessLogView::Append(const std::string& line) {
    FLines.push_back(line);
    const int length = static_cast<int>(line.size());
    FDisplayed += std::max(1, (length + FWidth - 1) / FWidth);
}

void THeadlessLogView::Clear() {
    FLines.clear();
    FDisplayed = 0;
    FPosition = 0;
}

bool THeadlessLogView::GetScrollRange(int& minPos, int& maxPos) const {
    minPos = 0;
    maxPos = std::max(0, FDisplayed - 1);
    return true;
}

int THeadlessApplication::MessageBoxA(const std::string& text, const std::string& caption,
                                      UINT type) {
    MessageBoxes.push_back({text, caption, type});
    if (OnMessages) {
        OnMessages();
    }
    if (!Answers.empty()) {
        const int answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    return (type & MbYesNo) != 0 ? IdNo : IdOk;
}

void THeadlessApplication::ProcessMessages() {
    ++ProcessMessagesCalls;
    if (OnMessages) {
        OnMessages();
    }
}

std::string TFakeProfile::Value(const std::string& path, const std::string& key) const {
    const auto file = Files.find(path);
    if (file == Files.end()) {
        return "<no file>";
    }
    const auto section = file->second.find("CONFIG");
    if (section == file->second.end()) {
        return "<no section>";
    }
    const auto value = section->second.find(Upper(key));
    return value == section->second.end() ? "<no key>" : value->second;
}

DWORD TFakeProfile::GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                             LPSTR buffer, DWORD size, LPCSTR fileName) {
    std::string value = defaultValue;
    if (const auto file = Files.find(fileName); file != Files.end()) {
        if (const auto s = file->second.find(Upper(section)); s != file->second.end()) {
            if (const auto k = s->second.find(Upper(key)); k != s->second.end()) {
                value = k->second;
            }
        }
    }
    const std::size_t length = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), length);
    buffer[length] = '\0';
    return static_cast<DWORD>(length);
}

BOOL TFakeProfile::WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                              LPCSTR fileName) {
    if (FailWriteAfter == 0) {
        FLastError = 5;
        return 0;
    }
    if (FailWriteAfter > 0) {
        --FailWriteAfter;
    }
    Files[fileName][Upper(section)][Upper(key)] = value;
    Written.push_back(std::string(key) + "=" + value);
    return 1;
}

} // namespace brindlecove::testing
