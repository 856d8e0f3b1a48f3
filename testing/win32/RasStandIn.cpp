// A stand-in for the system's rasapi32.dll, for tests only: it exports the eight ANSI functions
// the program calls and answers them from a scenario file named by the environment variable
// BRINDLECOVE_RAS_STANDIN, read anew on every call. One line per fact, fields split by "|":
//
//   entry NAME|DEVICE TYPE|DEVICE NAME|PHONE|AREA|COUNTRY|USER
//   connection NAME|HANDLE|IP|SERVER IP          (IP "-": the projection query fails)
//   dial NAME|RESULT|HANDLE                      (result 0 adds a connection line)
//   error CODE|TEXT
//
// Built without RasGetProjectionInfoA when STANDIN_WITHOUT_PROJECTION is defined.
#include "common/FixedText.h"
#include "ras/RasApi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <windows.h>

namespace bc = brindlecove;

namespace {

UINT ErrorModeAtLoad = 0xFFFFFFFFu;

std::string ScenarioPath() {
    char path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("BRINDLECOVE_RAS_STANDIN", path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

struct TLine {
    std::string Kind;
    std::vector<std::string> Fields;
};

std::vector<TLine> ReadScenario() {
    std::vector<TLine> lines;
    std::ifstream in(ScenarioPath());
    std::string text;
    while (std::getline(in, text)) {
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        const std::size_t space = text.find(' ');
        if (space == std::string::npos) {
            continue;
        }
        TLine line{text.substr(0, space), {}};
        std::stringstream rest(text.substr(space + 1));
        std::string field;
        while (std::getline(rest, field, '|')) {
            line.Fields.push_back(field);
        }
        lines.push_back(line);
    }
    return lines;
}

void WriteScenario(const std::vector<TLine>& lines) {
    std::ofstream out(ScenarioPath(), std::ios::trunc);
    for (const TLine& line : lines) {
        out << line.Kind << ' ';
        for (std::size_t i = 0; i < line.Fields.size(); ++i) {
            out << (i ? "|" : "") << line.Fields[i];
        }
        out << '\n';
    }
}

std::vector<TLine> Lines(const char* kind) {
    std::vector<TLine> found;
    for (const TLine& line : ReadScenario()) {
        if (line.Kind == kind) {
            found.push_back(line);
        }
    }
    return found;
}

std::string Field(const TLine& line, std::size_t index) {
    return index < line.Fields.size() ? line.Fields[index] : std::string();
}

const TLine* FindByName(const std::vector<TLine>& lines, const char* name) {
    for (const TLine& line : lines) {
        if (Field(line, 0) == name) {
            return &line;
        }
    }
    return nullptr;
}

bc::HRASCONN Handle(const std::string& text) {
    return static_cast<bc::HRASCONN>(std::strtoull(text.c_str(), nullptr, 0));
}

constexpr DWORD ErrorInvalidSize = 632;

} // namespace

#define STANDIN_EXPORT extern "C" __declspec(dllexport)

STANDIN_EXPORT UINT WINAPI StandInErrorModeAtLoad() {
    return ErrorModeAtLoad;
}

STANDIN_EXPORT DWORD WINAPI RasEnumEntriesA(LPCSTR, LPCSTR, bc::RASENTRYNAMEA* entries,
                                            DWORD* bytes, DWORD* count) {
    if (entries == nullptr || entries[0].dwSize != sizeof(bc::RASENTRYNAMEA)) {
        return ErrorInvalidSize;
    }
    const std::vector<TLine> lines = Lines("entry");
    const auto needed = static_cast<DWORD>(lines.size() * sizeof(bc::RASENTRYNAMEA));
    *count = static_cast<DWORD>(lines.size());
    if (*bytes < needed) {
        *bytes = needed;
        return bc::raserror::BufferTooSmall;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        entries[i].dwSize = sizeof(bc::RASENTRYNAMEA);
        bc::SetFieldText(entries[i].szEntryName, Field(lines[i], 0));
    }
    return 0;
}

STANDIN_EXPORT DWORD WINAPI RasEnumConnectionsA(bc::RASCONNA* connections, DWORD* bytes,
                                                DWORD* count) {
    if (connections == nullptr || connections[0].dwSize != sizeof(bc::RASCONNA)) {
        return ErrorInvalidSize;
    }
    const std::vector<TLine> lines = Lines("connection");
    const auto needed = static_cast<DWORD>(lines.size() * sizeof(bc::RASCONNA));
    *count = static_cast<DWORD>(lines.size());
    if (*bytes < needed) {
        *bytes = needed;
        return bc::raserror::BufferTooSmall;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        connections[i].dwSize = sizeof(bc::RASCONNA);
        connections[i].hrasconn = Handle(Field(lines[i], 1));
        bc::SetFieldText(connections[i].szEntryName, Field(lines[i], 0));
    }
    return 0;
}

#ifndef STANDIN_WITHOUT_PROJECTION
STANDIN_EXPORT DWORD WINAPI RasGetProjectionInfoA(bc::HRASCONN conn, bc::RASPROJECTION projection,
                                                  void* info, DWORD* bytes) {
    auto* ip = static_cast<bc::RASPPPIP*>(info);
    if (projection != bc::RASP_PppIp || *bytes < sizeof(bc::RASPPPIP) ||
        ip->dwSize != sizeof(bc::RASPPPIP)) {
        return ErrorInvalidSize;
    }
    for (const TLine& line : Lines("connection")) {
        if (Handle(Field(line, 1)) == conn) {
            if (Field(line, 2) == "-") {
                return 731; // ERROR_PROTOCOL_NOT_CONFIGURED
            }
            bc::SetFieldText(ip->szIpAddress, Field(line, 2));
            bc::SetFieldText(ip->szServerIpAddress, Field(line, 3));
            return 0;
        }
    }
    return ERROR_INVALID_HANDLE;
}
#endif

STANDIN_EXPORT DWORD WINAPI RasGetEntryPropertiesA(LPCSTR, LPCSTR name, bc::RASENTRYA* info,
                                                   DWORD* size, BYTE*, DWORD* deviceInfoSize) {
    const std::vector<TLine> lines = Lines("entry");
    const TLine* entry = FindByName(lines, name);
    if (entry == nullptr) {
        return bc::raserror::CannotFindPhonebookEntry;
    }
    if (info == nullptr || *size < sizeof(bc::RASENTRYA)) {
        *size = sizeof(bc::RASENTRYA);
        *deviceInfoSize = 0;
        return bc::raserror::BufferTooSmall;
    }
    bc::SetFieldText(info->szDeviceType, Field(*entry, 1));
    bc::SetFieldText(info->szDeviceName, Field(*entry, 2));
    bc::SetFieldText(info->szLocalPhoneNumber, Field(*entry, 3));
    bc::SetFieldText(info->szAreaCode, Field(*entry, 4));
    info->dwCountryCode = static_cast<DWORD>(std::atoi(Field(*entry, 5).c_str()));
    return 0;
}

STANDIN_EXPORT DWORD WINAPI RasGetEntryDialParamsA(LPCSTR, bc::RASDIALPARAMSA* params,
                                                   BOOL* password) {
    if (params->dwSize != sizeof(bc::RASDIALPARAMSA)) {
        return ErrorInvalidSize;
    }
    const std::vector<TLine> lines = Lines("entry");
    const TLine* entry = FindByName(lines, params->szEntryName);
    if (entry == nullptr) {
        return bc::raserror::CannotFindPhonebookEntry;
    }
    bc::SetFieldText(params->szUserName, Field(*entry, 6));
    *password = 1;
    return 0;
}

STANDIN_EXPORT DWORD WINAPI RasDialA(bc::RASDIALEXTENSIONS*, LPCSTR, bc::RASDIALPARAMSA* params,
                                     DWORD, void*, bc::HRASCONN* conn) {
    std::vector<TLine> lines = ReadScenario();
    for (const TLine& line : lines) {
        if (line.Kind == "dial" && Field(line, 0) == params->szEntryName) {
            const auto result = static_cast<DWORD>(std::atoi(Field(line, 1).c_str()));
            *conn = Handle(Field(line, 2));
            if (result == 0) {
                lines.push_back(
                    {"connection", {params->szEntryName, Field(line, 2), "41.0.0.7", "41.0.0.1"}});
                WriteScenario(lines);
            }
            return result;
        }
    }
    return bc::raserror::CannotFindPhonebookEntry;
}

// Present so that the binding can resolve it; the program must never call it.
STANDIN_EXPORT DWORD WINAPI RasDialW(void*, void*, void*, DWORD, void*, bc::HRASCONN*) {
    std::abort();
}

STANDIN_EXPORT DWORD WINAPI RasHangUpA(bc::HRASCONN conn) {
    std::vector<TLine> lines = ReadScenario();
    std::erase_if(lines, [&](const TLine& line) {
        return line.Kind == "connection" && Handle(Field(line, 1)) == conn;
    });
    WriteScenario(lines);
    return 0;
}

STANDIN_EXPORT DWORD WINAPI RasGetErrorStringA(UINT error, LPSTR buffer, DWORD size) {
    for (const TLine& line : Lines("error")) {
        if (static_cast<UINT>(std::atoi(Field(line, 0).c_str())) == error && size > 0) {
            const std::string text = Field(line, 1);
            const std::size_t length = std::min<std::size_t>(text.size(), size - 1);
            std::memcpy(buffer, text.data(), length);
            buffer[length] = '\0';
            return 0;
        }
    }
    return ERROR_INVALID_PARAMETER;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        ErrorModeAtLoad = GetErrorMode();
    }
    return TRUE;
}
