#pragma once
// An in-memory system port: a program folder, files and folders, and scripted read failures.

#include "app/SystemPort.h"
#include "common/Win32Errors.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace brindlecove::testing {

class TFakeSystem final : public ISystemPort {
public:
    std::string Folder = "C:\\Program Files\\Brindlecove\\";
    std::map<std::string, std::string> Files;
    std::set<std::string> Folders;
    std::map<std::string, std::uint32_t> ReadErrors; // path -> code answered by ReadWholeFile
    mutable std::vector<std::string> Reads;          // every path ReadWholeFile was asked for

    std::string ProgramFolder() const override { return Folder; }

    bool PathExists(const std::string& path) const override {
        return Files.count(path) != 0 || Folders.count(path) != 0;
    }

    std::uint32_t ReadWholeFile(const std::string& path, std::uint64_t maxSize,
                                std::string& contents) const override {
        Reads.push_back(path);
        contents.clear();
        if (auto error = ReadErrors.find(path); error != ReadErrors.end()) {
            return error->second;
        }
        if (Folders.count(path) != 0) {
            return winerror::AccessDenied;
        }
        auto file = Files.find(path);
        if (file == Files.end()) {
            return winerror::FileNotFound;
        }
        if (file->second.size() > maxSize) {
            return winerror::FileTooLarge;
        }
        contents = file->second;
        return winerror::Success;
    }

    TFormatSettings Format;
    TFormatSettings FormatSettings() const override { return Format; }

    std::string ErrorText(std::uint32_t code) const override {
        switch (code) {
        case winerror::AccessDenied:
            return "Access is denied.";
        case winerror::FileNotFound:
            return "The system cannot find the file specified.";
        default:
            return {};
        }
    }
};

} // namespace brindlecove::testing
