// The system port of the edition under test, on the real file system.
#include "app/LocalRouteFile.h"
#include "common/Win32Errors.h"
#include "tests/platform/TempFolder.h"

#ifdef _WIN32
#include "app/win32/Win32System.h"
using TSystem = brindlecove::TWin32System;
constexpr const char* TestProgram = "brindlecove_platform_tests.exe";
#else
#include "app/linux/LinuxSystem.h"
#include "common/linux/Win32Error.h"
#include "testing/linux/TestHelpers.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
using TSystem = brindlecove::TLinuxSystem;
constexpr const char* TestProgram = "brindlecove_platform_tests";
#endif

#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(SystemPort, FindsTheFolderOfTheRunningProgram) {
    const TSystem system;
    const std::string folder = system.ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(folder.back() == '/' || folder.back() == '\\') << folder;
    EXPECT_TRUE(system.PathExists(folder + TestProgram)) << folder;
}

TEST(SystemPort, ReadsEveryByteOfAFile) {
    const TempFolder temp;
    std::string bytes;
    for (int i = 0; i < 200000; ++i) {
        bytes += static_cast<char>(i * 7 % 256); // NULs, CRs, LFs and bytes above 127
    }
    WriteFile(temp / "data", bytes);

    const TSystem system;
    std::string contents = "stale";
    EXPECT_EQ(system.ReadWholeFile(temp / "data", bytes.size(), contents), 0u);
    EXPECT_TRUE(contents == bytes);

    EXPECT_EQ(system.ReadWholeFile(temp / "data", bytes.size() - 1, contents),
              winerror::FileTooLarge);
    EXPECT_TRUE(contents.empty());

    WriteFile(temp / "empty", "");
    contents = "stale";
    EXPECT_EQ(system.ReadWholeFile(temp / "empty", 10, contents), 0u);
    EXPECT_TRUE(contents.empty());
}

TEST(SystemPort, AnswersWin32CodesForWhatCannotBeRead) {
    const TempFolder temp;
    fs::create_directory(temp / "folder");
    const TSystem system;
    std::string contents;

    EXPECT_TRUE(system.PathExists(temp / "folder"));
    EXPECT_EQ(system.ReadWholeFile(temp / "folder", 1000, contents), winerror::AccessDenied);

    EXPECT_FALSE(system.PathExists(temp / "missing"));
    EXPECT_EQ(system.ReadWholeFile(temp / "missing", 1000, contents), winerror::FileNotFound);

    const std::string text = system.ErrorText(winerror::AccessDenied);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
}

TEST(SystemPort, TheRouteListFileIsLookedForBesideTheProgram) {
    const TSystem system;
    const std::string path = system.ProgramFolder() + "localroutes.dat";
    ASSERT_FALSE(system.PathExists(path)) << "a stray " << path << " would spoil this test";

    WriteFile(path, "196.4.160.0,255.255.255.0\r\n10.0.0.0,255.0.0.0");
    TLocalRouteList routes;
    TRouteFileResult result = LoadLocalRouteFile(system, routes);
    fs::remove(path);
    EXPECT_TRUE(result.Replaced);
    EXPECT_THAT(routes.Lines(),
                ::testing::ElementsAre("196.4.160.0,255.255.255.0", "10.0.0.0,255.0.0.0"));

    fs::create_directory(path);
    TLocalRouteList builtIn;
    result = LoadLocalRouteFile(system, builtIn);
    fs::remove(path);
    EXPECT_FALSE(result.Replaced);
    EXPECT_EQ(result.Error, winerror::AccessDenied);
    EXPECT_THAT(result.Message, HasSubstr(path));
    EXPECT_EQ(builtIn.Count(), TLocalRouteList().Count());
}

#ifdef _WIN32
TEST(Win32System, GivesTheRegionalSeparatorsOfTheUser) {
    // Wine's prefix has the English (United States) defaults.
    const TFormatSettings format = TSystem().FormatSettings();
    EXPECT_EQ(format.DateSeparator, '/');
    EXPECT_EQ(format.TimeSeparator, ':');
}
#else
TEST(LinuxSystem, TakesTheSeparatorsFromTheUsersLocale) {
    {
        testing::TScopedEnvironment environment;
        environment.Set("LC_ALL", "C");
        const TFormatSettings format = TSystem().FormatSettings();
        EXPECT_EQ(format.DateSeparator, '/');
        EXPECT_EQ(format.TimeSeparator, ':');
    }
    const TempFolder temp;
    // A German locale compiled for this test alone, so the machine needs none installed.
    const std::string compile =
        "localedef -i de_DE -f UTF-8 '" + (temp / "de_DE.UTF-8") + "' >/dev/null 2>&1";
    if (std::system(compile.c_str()) != 0 || !fs::exists(temp / "de_DE.UTF-8")) {
        GTEST_SKIP() << "localedef cannot build de_DE.UTF-8 here";
    }
    testing::TScopedEnvironment environment;
    environment.Set("LOCPATH", temp / "");
    environment.Set("LC_ALL", "de_DE.UTF-8");
    const TFormatSettings format = TSystem().FormatSettings();
    EXPECT_EQ(format.DateSeparator, '.');
    EXPECT_EQ(format.TimeSeparator, ':');

    environment.Set("LC_ALL", "xx_NOWHERE.UTF-8");
    EXPECT_EQ(TSystem().FormatSettings().DateSeparator, '/') << "an unknown locale: defaults";
}

TEST(LinuxSystem, AnUnreadableFileIsAccessDenied) {
    const TempFolder temp;
    const std::string path = temp / "locked";
    WriteFile(path, "x");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const auto read = [&] {
        std::string contents;
        return TSystem().ReadWholeFile(path, 10, contents);
    };
    // Root reads files whatever their mode: it asks as the unprivileged user "nobody" instead, who
    // must be able to reach the file.
    ASSERT_EQ(::chmod(fs::path(path).parent_path().c_str(), 0755), 0);
    const int result = testing::RunUnprivileged([&] { return read() == winerror::AccessDenied; });
    if (result == testing::CannotSwitchUser) {
        GTEST_SKIP() << "cannot switch to the user nobody here";
    }
    EXPECT_EQ(result, 0) << "reading a file of mode 000 did not answer AccessDenied";
}

TEST(LinuxSystem, ErrnoWithoutAWin32EquivalentKeepsItsOwnText) {
    const std::uint32_t code = Win32ErrorFromErrno(ELOOP);
    EXPECT_EQ(code, ErrnoCodeBit | ELOOP);
    EXPECT_EQ(Win32ErrorText(code), "Too many levels of symbolic links.");
    EXPECT_EQ(Win32ErrorFromErrno(EISDIR), winerror::AccessDenied);
    EXPECT_EQ(Win32ErrorText(winerror::AccessDenied), "Access is denied.");
    EXPECT_EQ(Win32ErrorText(12345), "");

    const TempFolder temp;
    fs::create_directory_symlink(temp / "loop", temp / "loop");
    std::string contents;
    EXPECT_EQ(TSystem().ReadWholeFile(temp / "loop/x", 10, contents), ErrnoCodeBit | ELOOP);
}
#endif

} // namespace
} // namespace brindlecove
