#include "app/LocalRouteFile.h"

#include "common/Win32Errors.h"

#include <new>

namespace brindlecove {

TRouteFileResult LoadLocalRouteFile(const ISystemPort& system, TLocalRouteList& routes) {
    TRouteFileResult result;
    const std::string folder = system.ProgramFolder();
    if (folder.empty()) {
        return result;
    }
    const std::string path = folder + LocalRoutesFileName;
    if (!system.PathExists(path)) {
        return result;
    }
    try {
        std::string contents;
        result.Error = system.ReadWholeFile(path, MaxLocalRoutesFileSize, contents);
        if (result.Error == 0) {
            routes.SetText(contents);
            result.Replaced = true;
            return result;
        }
    } catch (const std::bad_alloc&) {
        result.Error = winerror::NotEnoughMemory; // the list is left as it was
    }
    // The system's text for a file too large speaks of saving it: say what happened instead.
    std::string reason = result.Error == winerror::FileTooLarge
                             ? "the file is larger than the " +
                                   std::to_string(MaxLocalRoutesFileSize) +
                                   " bytes a route list may have."
                             : system.ErrorText(result.Error);
    if (reason.empty()) {
        reason = "error " + std::to_string(result.Error) + ".";
    }
    result.Message = "Unable to read the local route list " + path + ": " + reason +
                     " The built-in list is used instead.";
    return result;
}

} // namespace brindlecove
