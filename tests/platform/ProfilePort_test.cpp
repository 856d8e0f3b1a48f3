// The settings-file port of the edition under test, on the real file system. The shared cases hold
// for Windows' own profile functions (run under Wine) and for the Linux edition alike; they look at
// the file through the port's reads, since each edition writes its own line ends and spacing.
#include "common/Win32Errors.h"
#include "tests/platform/TempFolder.h"

#ifdef _WIN32
#include "app/win32/Win32Profile.h"
using TProfile = brindlecove::TWin32Profile;
#else
#include "app/linux/LinuxProfile.h"
#include "testing/linux/TestHelpers.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
using TProfile = brindlecove::TLinuxProfile;
#endif

#include <algorithm>
#include <filesystem>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class ProfilePort : public ::testing::Test {
protected:
    // A value as the program reads it, checking that the answer counts what was copied.
    std::string Read(const char* section, const char* key, const char* defaultValue = "(default)",
                     DWORD size = 256) {
        std::vector<char> buffer(size + 1, '#');
        const DWORD copied = Profile.GetPrivateProfileStringA(section, key, defaultValue,
                                                              buffer.data(), size, File.c_str());
        EXPECT_LT(copied, size);
        EXPECT_EQ(buffer[copied], '\0');
        EXPECT_EQ(buffer[size], '#') << "written past the end of the buffer";
        return std::string(buffer.data(), copied);
    }

    // The names listed when the section (or the key) is left out, and the count answered.
    std::vector<std::string> List(const char* section, DWORD size = 256, DWORD* copied = nullptr) {
        std::vector<char> buffer(size + 1, '#');
        const DWORD count = Profile.GetPrivateProfileStringA(section, nullptr, "", buffer.data(),
                                                             size, File.c_str());
        EXPECT_LT(count, size);
        EXPECT_EQ(buffer[count], '\0');
        EXPECT_EQ(buffer[size], '#') << "written past the end of the buffer";
        if (copied != nullptr) {
            *copied = count;
        }
        std::vector<std::string> names;
        for (std::size_t at = 0; at < count;) {
            char* name = buffer.data() + at;
            names.emplace_back(name, std::find(name, buffer.data() + count, '\0'));
            at += names.back().size() + 1;
        }
        return names;
    }

    bool Write(const char* section, const char* key, const char* value) {
        return Profile.WritePrivateProfileStringA(section, key, value, File.c_str()) != 0;
    }

    TempFolder Temp;
    std::string File = Temp / "settings.ini";
    TProfile Profile;
};

TEST_F(ProfilePort, AMissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(Read("CONFIG", "ENABLED", "1"), "1");
    EXPECT_EQ(Read("CONFIG", "ENABLED", "text  "), "text") << "trailing blanks of the default";
    EXPECT_EQ(Read("CONFIG", "ENABLED", "  text"), "  text");
    EXPECT_EQ(Read("CONFIG", "ENABLED", nullptr), "");
    EXPECT_FALSE(fs::exists(File)) << "a read created the file";

    const std::string inMissingFolder = Temp / "missing/settings.ini";
    char buffer[16] = "#";
    EXPECT_EQ(Profile.GetPrivateProfileStringA("CONFIG", "ENABLED", "dflt", buffer, sizeof buffer,
                                               inMissingFolder.c_str()),
              4u);
    EXPECT_STREQ(buffer, "dflt");

    WriteFile(File, "[CONFIG]\nENABLED=1\n");
    EXPECT_EQ(Read("OTHER", "ENABLED"), "(default)");
    EXPECT_EQ(Read("CONFIG", "MINIMIZE"), "(default)");
    EXPECT_EQ(Read("CONFIG", "ENABLED"), "1");
}

TEST_F(ProfilePort, TheProgramsOwnSettingsRoundTrip) {
    ASSERT_FALSE(fs::exists(File));
    ASSERT_TRUE(Write("CONFIG", "ENABLED", "1"));
    EXPECT_TRUE(fs::exists(File)) << "the first write creates the file";
    ASSERT_TRUE(Write("CONFIG", "LOCAL", "Local ISP"));
    ASSERT_TRUE(Write("CONFIG", "INTERNATIONAL", "Satellite link"));
    ASSERT_TRUE(Write("CONFIG", "GATEWAY", "0x0"));
    ASSERT_TRUE(Write("CONFIG", "PASSWORD", "$1"));
    ASSERT_TRUE(Write("CONFIG", "FILTER", "a=b=c"));
    ASSERT_TRUE(Write("CONFIG", "NOTE", ""));
    ASSERT_TRUE(Write("CONFIG", "MINIMIZE", "0"));

    EXPECT_EQ(Read("CONFIG", "ENABLED"), "1");
    EXPECT_EQ(Read("CONFIG", "LOCAL"), "Local ISP");
    EXPECT_EQ(Read("CONFIG", "INTERNATIONAL"), "Satellite link");
    EXPECT_EQ(Read("CONFIG", "GATEWAY"), "0x0") << "text stays text";
    EXPECT_EQ(Read("CONFIG", "PASSWORD"), "$1");
    EXPECT_EQ(Read("CONFIG", "FILTER"), "a=b=c") << "the key ends at the first '='";
    EXPECT_EQ(Read("CONFIG", "NOTE"), "") << "an empty value is a value, not a missing key";
    EXPECT_EQ(Read("CONFIG", "MINIMIZE"), "0");

    ASSERT_TRUE(Write("CONFIG", "ENABLED", "0"));
    ASSERT_TRUE(Write("CONFIG", "LOCAL", "Another ISP"));
    EXPECT_EQ(Read("CONFIG", "ENABLED"), "0");
    EXPECT_EQ(Read("CONFIG", "LOCAL"), "Another ISP");
    EXPECT_EQ(Read("CONFIG", "MINIMIZE"), "0");
    EXPECT_THAT(List("CONFIG"), ElementsAre("ENABLED", "LOCAL", "INTERNATIONAL", "GATEWAY",
                                            "PASSWORD", "FILTER", "NOTE", "MINIMIZE"));
}

TEST_F(ProfilePort, NamesMatchWithoutRegardToCaseAndBlanksAreTrimmed) {
    WriteFile(File, "  [Config]  \n  Enabled  =  1  \n\tTab\t=\tx  y\t\nquoted = \" padded \"\n");
    EXPECT_EQ(Read("CONFIG", "ENABLED"), "1");
    EXPECT_EQ(Read("config", "enabled"), "1");
    EXPECT_EQ(Read(" Config ", " Enabled "), "1") << "the names asked for are trimmed too";
    EXPECT_EQ(Read("CONFIG", "TAB"), "x  y");
    EXPECT_EQ(Read("CONFIG", "QUOTED"), " padded ") << "blanks inside quotes are kept";

    ASSERT_TRUE(Write("CONFIG", "ENABLED", "0"));
    EXPECT_EQ(Read("Config", "Enabled"), "0");
    EXPECT_THAT(List("CONFIG"), ElementsAre("Enabled", "Tab", "quoted"))
        << "the file's spelling of the key is kept";
    EXPECT_THAT(List(nullptr), ElementsAre("Config"));
}

TEST_F(ProfilePort, OnePairOfSurroundingQuotesIsRemoved) {
    WriteFile(File, "[Q]\n"
                    "double=\"two words\"\n"
                    "single='one'\n"
                    "mixed=\"open'\n"
                    "inner=\"a\" and \"b\"\n"
                    "twice=\"\"x\"\"\n"
                    "empty=\"\"\n"
                    "lone=\"\n"
                    "inside=it's \"here\"\n");
    EXPECT_EQ(Read("Q", "double"), "two words");
    EXPECT_EQ(Read("Q", "single"), "one");
    EXPECT_EQ(Read("Q", "mixed"), "\"open'");
    EXPECT_EQ(Read("Q", "inner"), "a\" and \"b");
    EXPECT_EQ(Read("Q", "twice"), "\"x\"");
    EXPECT_EQ(Read("Q", "empty"), "");
    EXPECT_EQ(Read("Q", "lone"), "\"");
    EXPECT_EQ(Read("Q", "inside"), "it's \"here\"");

    ASSERT_TRUE(Write("Q", "written", "\"kept\""));
    EXPECT_EQ(Read("Q", "written"), "kept");
}

TEST_F(ProfilePort, TheFirstMatchingSectionAndKeyWin) {
    WriteFile(File, "orphan=before any section\n"
                    "[S]\nk=first\nk=second\n"
                    "[T]\nk=t\n"
                    "[s]\nk=third\nlater=only here\n");
    EXPECT_EQ(Read("S", "k"), "first");
    EXPECT_EQ(Read("S", "later"), "(default)") << "only the first [S] is looked at";
    EXPECT_EQ(Read("S", "orphan"), "(default)");
    EXPECT_EQ(Read("", "orphan"), "before any section")
        << "keys before any section are those of the section without a name";

    ASSERT_TRUE(Write("S", "k", "new"));
    EXPECT_EQ(Read("S", "k"), "new");
    EXPECT_EQ(Read("T", "k"), "t");
    EXPECT_THAT(List(nullptr), ElementsAre("S", "T", "s"));
    EXPECT_THAT(List("S"), ElementsAre("k", "k"));
}

TEST_F(ProfilePort, TheLinesBeforeAnyHeaderAreTheSectionWithoutAName) {
    WriteFile(File, "orphan=1\n[A]\nx=1\n");
    ASSERT_TRUE(Write("", "top", "2"));
    EXPECT_EQ(Read("", "orphan"), "1");
    EXPECT_EQ(Read("", "top"), "2");
    EXPECT_EQ(Read("A", "top"), "(default)");
    EXPECT_THAT(List(nullptr), ElementsAre("A"));

    ASSERT_TRUE(Write("", nullptr, nullptr));
    EXPECT_EQ(Read("", "orphan"), "(default)");
    EXPECT_EQ(Read("", "top"), "(default)");
    EXPECT_EQ(Read("A", "x"), "1");
}

TEST_F(ProfilePort, WritesKeepOtherSectionsKeysAndComments) {
    WriteFile(File, "; settings of the dialler\n"
                    "[CONFIG]\n"
                    "ENABLED=1\n"
                    "; the entry for local networks\n"
                    "LOCAL=Local ISP\n"
                    "\n"
                    "[LOG]\n"
                    "LEVEL=2\n"
                    "; kept at the end\n");
    ASSERT_TRUE(Write("CONFIG", "ENABLED", "0"));
    ASSERT_TRUE(Write("CONFIG", "MINIMIZE", "1"));
    ASSERT_TRUE(Write("LOG", "LEVEL", "3"));
    ASSERT_TRUE(Write("ROUTES", "COUNT", "880"));

    EXPECT_EQ(Read("CONFIG", "ENABLED"), "0");
    EXPECT_EQ(Read("CONFIG", "LOCAL"), "Local ISP");
    EXPECT_EQ(Read("CONFIG", "MINIMIZE"), "1");
    EXPECT_EQ(Read("LOG", "LEVEL"), "3");
    EXPECT_EQ(Read("LOG", "MINIMIZE"), "(default)");
    EXPECT_EQ(Read("ROUTES", "COUNT"), "880");
    EXPECT_THAT(List(nullptr), ElementsAre("CONFIG", "LOG", "ROUTES"));
    EXPECT_THAT(List("CONFIG"), ElementsAre("ENABLED", "LOCAL", "MINIMIZE"))
        << "a comment is not a key, and the new key lands in its section";
    EXPECT_THAT(List("LOG"), ElementsAre("LEVEL"));

    const std::string bytes = ReadFile(File);
    EXPECT_THAT(bytes, HasSubstr("; settings of the dialler"));
    EXPECT_THAT(bytes, HasSubstr("; the entry for local networks"));
    EXPECT_THAT(bytes, HasSubstr("; kept at the end"));
}

TEST_F(ProfilePort, ANewSectionGoesAfterALastLineWithoutLineEnd) {
    WriteFile(File, "[A]\nx=1");
    ASSERT_TRUE(Write("B", "y", "2"));
    ASSERT_TRUE(Write("A", "z", "3"));
    EXPECT_EQ(Read("A", "x"), "1");
    EXPECT_EQ(Read("A", "z"), "3");
    EXPECT_EQ(Read("B", "y"), "2");
    EXPECT_EQ(Read("B", "x"), "(default)");
    EXPECT_THAT(List(nullptr), ElementsAre("A", "B"));
}

TEST_F(ProfilePort, LinesMayEndWithCrLfLfOrCr) {
    WriteFile(File, "[A]\r\nx=1\r\n[B]\ny=2\n\r\n[C]\rz=3\rv=5");
    EXPECT_EQ(Read("A", "x"), "1");
    EXPECT_EQ(Read("B", "y"), "2");
    EXPECT_EQ(Read("C", "z"), "3");
    EXPECT_EQ(Read("C", "v"), "5");
    ASSERT_TRUE(Write("B", "w", "4"));
    EXPECT_EQ(Read("B", "w"), "4");
    EXPECT_EQ(Read("C", "z"), "3");
}

TEST_F(ProfilePort, ValuesAndDefaultsAreCutToTheBuffer) {
    ASSERT_TRUE(Write("S", "k", "abcdef"));
    EXPECT_EQ(Read("S", "k", "", 7), "abcdef");
    EXPECT_EQ(Read("S", "k", "", 6), "abcde");
    EXPECT_EQ(Read("S", "k", "", 4), "abc");
    EXPECT_EQ(Read("S", "k", "", 1), "");
    EXPECT_EQ(Read("S", "missing", "default", 4), "def");

    char untouched[2] = {'#', '#'};
    EXPECT_EQ(Profile.GetPrivateProfileStringA("S", "k", "", untouched, 0, File.c_str()), 0u);
    EXPECT_EQ(untouched[0], '#') << "a buffer of size 0 gets nothing";
}

TEST_F(ProfilePort, ListsOfNamesAreCutToTheBuffer) {
    WriteFile(File, "[First]\nalpha=1\nbeta=2\n[Second]\n");
    DWORD copied = 0;
    EXPECT_THAT(List(nullptr, 256, &copied), ElementsAre("First", "Second"));
    EXPECT_EQ(copied, 13u);
    EXPECT_THAT(List("first", 256, &copied), ElementsAre("alpha", "beta"));
    EXPECT_EQ(copied, 11u);

    // Too small: the last name is cut and the count is size - 2.
    EXPECT_THAT(List(nullptr, 10, &copied), ElementsAre("First", "Se"));
    EXPECT_EQ(copied, 8u);
    EXPECT_THAT(List("First", 9, &copied), ElementsAre("alpha", "b"));
    EXPECT_EQ(copied, 7u);
    EXPECT_THAT(List(nullptr, 2, &copied), ElementsAre());
    EXPECT_EQ(copied, 0u);

    EXPECT_EQ(Read("First", nullptr, "none"), std::string("alpha\0beta\0", 11));
    EXPECT_EQ(Read("Second", nullptr, "none"), "none") << "a section without keys";
    EXPECT_EQ(Read("Third", nullptr, "none"), "none");
}

TEST_F(ProfilePort, ANullValueDeletesTheKeyAndANullKeyTheSection) {
    WriteFile(File, "[A]\nx=1\ny=2\n[B]\nz=3\n[C]\nw=4\n");
    ASSERT_TRUE(Write("A", "x", nullptr));
    EXPECT_EQ(Read("A", "x"), "(default)");
    EXPECT_EQ(Read("A", "y"), "2");
    ASSERT_TRUE(Write("b", nullptr, nullptr));
    EXPECT_EQ(Read("B", "z"), "(default)");
    EXPECT_EQ(Read("C", "w"), "4");
    EXPECT_THAT(List(nullptr), ElementsAre("A", "C"));

    EXPECT_TRUE(Write("A", "missing", nullptr)) << "deleting what is not there is no error";
    EXPECT_TRUE(Write("Missing", nullptr, nullptr));
    const std::string otherFile = Temp / "other.ini";
    EXPECT_TRUE(Profile.WritePrivateProfileStringA("A", "x", nullptr, otherFile.c_str()));
    EXPECT_FALSE(fs::exists(otherFile)) << "deleting from a missing file created it";
}

TEST_F(ProfilePort, AWriteIntoAMissingFolderFails) {
    const std::string inMissingFolder = Temp / "missing/settings.ini";
    EXPECT_FALSE(
        Profile.WritePrivateProfileStringA("CONFIG", "ENABLED", "1", inMissingFolder.c_str()));
    EXPECT_EQ(Profile.LastError(), winerror::PathNotFound);
    EXPECT_FALSE(fs::exists(Temp / "missing"));
}

TEST_F(ProfilePort, LongLinesAndBinaryBytesAreHandled) {
    const std::string longValue(1 << 20, 'x');
    std::string junk;
    for (int i = 0; i < 4096; ++i) {
        junk += static_cast<char>(i * 31 % 256);
    }
    WriteFile(File, "[A]\nbig=" + longValue + "\nnul=ab" + std::string(1, '\0') + "cd\n" + junk +
                        "\n[B]\nk=v\n");

    EXPECT_EQ(Read("A", "big", "", (1 << 20) + 1), longValue);
    EXPECT_EQ(Read("A", "big", "", 10), "xxxxxxxxx");
    EXPECT_EQ(Read("A", "nul"), "ab") << "a value ends at a NUL, as a C string does";
    EXPECT_EQ(Read("B", "k"), "v");

    ASSERT_TRUE(Write("B", "k", "w"));
    EXPECT_EQ(Read("B", "k"), "w");
    EXPECT_EQ(Read("A", "big", "", (1 << 20) + 1), longValue);
    EXPECT_EQ(Read("A", "nul"), "ab");
}

#ifndef _WIN32
// What only the Linux edition promises: the exact bytes of an edit, and how the file is replaced.
class LinuxProfile : public ProfilePort {
protected:
    // The names in the test's folder, to see that no temporary file was left behind.
    std::vector<std::string> FolderContents() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Temp.Path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(LinuxProfile, AnEditChangesOnlyWhatItMust) {
    const std::string nul(1, '\0');
    WriteFile(File, "; top\r\n[CONFIG]\r\n  Enabled =  1  \r\nbin=a" + nul +
                        "b\r\nLOCAL=ISP\r\n\r\n[LOG]\r\nLEVEL=2");
    ASSERT_TRUE(Write("config", "ENABLED", "0"));
    ASSERT_TRUE(Write("CONFIG", "NEW", "x"));
    ASSERT_TRUE(Write("LOG", "K", "v"));
    ASSERT_TRUE(Write("ADDED", "a", "b"));
    EXPECT_EQ(ReadFile(File), "; top\r\n[CONFIG]\r\n  Enabled =  0  \r\nbin=a" + nul +
                                  "b\r\nLOCAL=ISP\r\nNEW=x\r\n\r\n[LOG]\r\nLEVEL=2\r\nK=v\r\n"
                                  "[ADDED]\r\na=b\r\n");

    WriteFile(File, "[A]\nx=1\ny=2\n\n[B]\nz=3\n[C]\n");
    ASSERT_TRUE(Write("A", "x", nullptr));
    EXPECT_EQ(ReadFile(File), "[A]\ny=2\n\n[B]\nz=3\n[C]\n");
    ASSERT_TRUE(Write("A", nullptr, nullptr));
    EXPECT_EQ(ReadFile(File), "[B]\nz=3\n[C]\n");
    ASSERT_TRUE(Write("C", "w", "  4"));
    EXPECT_EQ(ReadFile(File), "[B]\nz=3\n[C]\nw=4\n") << "leading blanks of a value are dropped";

    // A key or a section written twice goes whole: no older copy reads back after the delete.
    WriteFile(File, "[A]\nx=1\nX=2\n[B]\nx=3\n[a]\nx=4\ny=5\n");
    ASSERT_TRUE(Write("A", "x", nullptr));
    EXPECT_EQ(ReadFile(File), "[A]\n[B]\nx=3\n[a]\nx=4\ny=5\n");
    ASSERT_TRUE(Write("A", nullptr, nullptr));
    EXPECT_EQ(ReadFile(File), "[B]\nx=3\n");
}

TEST_F(LinuxProfile, AddedLinesEndLikeTheFilesFirstLine) {
    const struct {
        std::string Before;
        std::string After;
    } cases[] = {
        {"", "[S]\nk=v\n"},
        {"[S]\nx=1\n", "[S]\nx=1\nk=v\n"},
        {"[S]\rx=1\r", "[S]\rx=1\rk=v\r"},
        {"[S]\r\nx=1\n", "[S]\r\nx=1\nk=v\r\n"},
        {"[S]", "[S]\nk=v\n"},
        {"\xEF\xBB\xBF[S]\nx=1\n", "\xEF\xBB\xBF[S]\nx=1\nk=v\n"},
    };
    for (const auto& c : cases) {
        WriteFile(File, c.Before);
        ASSERT_TRUE(Write("S", "k", "v"));
        EXPECT_EQ(ReadFile(File), c.After) << "before: " << c.Before;
    }
    ASSERT_TRUE(Write("", "top", "1"));
    EXPECT_EQ(ReadFile(File), "\xEF\xBB\xBFtop=1\n[S]\nx=1\nk=v\n") << "after the byte-order mark";
}

TEST_F(LinuxProfile, NamesAndValuesThatWouldReadBackWronglyAreRefused) {
    WriteFile(File, "[S]\nk=v\n");
    const struct {
        const char* Section;
        const char* Key;
        const char* Value;
    } refused[] = {
        {"S", "k", "1\n[X]\ny=2"}, {"S", "k", "a\rb"},         {"S", "a=b", "v"},
        {"S", "[k]", "v"},         {"S", ";k", "v"},           {"S", "", "v"},
        {"S", "  ", "v"},          {"a]b", "k", "v"},          {"a\nb", "k", "v"},
        {nullptr, "k", "v"},       {"", "\xEF\xBB\xBFk", "v"},
    };
    for (const auto& r : refused) {
        EXPECT_FALSE(Write(r.Section, r.Key, r.Value)) << r.Key << "=" << r.Value;
        EXPECT_EQ(Profile.LastError(), winerror::InvalidParameter);
    }
    EXPECT_FALSE(Profile.WritePrivateProfileStringA("S", "k", "v", nullptr));
    EXPECT_EQ(ReadFile(File), "[S]\nk=v\n");
}

TEST_F(LinuxProfile, TheReplacedFileKeepsItsPermissions) {
    const mode_t umask = ::umask(022);
    ::umask(umask);
    ASSERT_TRUE(Write("S", "k", "v"));
    EXPECT_EQ(fs::status(File).permissions(), static_cast<fs::perms>(0666 & ~umask));

    fs::permissions(File, static_cast<fs::perms>(0640));
    ASSERT_TRUE(Write("S", "k", "w"));
    EXPECT_EQ(fs::status(File).permissions(), static_cast<fs::perms>(0640));
    EXPECT_EQ(Read("S", "k"), "w");
    EXPECT_THAT(FolderContents(), ElementsAre("settings.ini"));
}

TEST_F(LinuxProfile, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    WriteFile(File, "[S]\nk=v\n");
    // A file-size limit makes writing the new file fail half-way, as a full disk would.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(200);
        }
        const std::string big(10000, 'x');
        const bool failed = !Write("S", "k", big.c_str());
        ::_exit(failed && Profile.LastError() == winerror::FileTooLarge ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 200) << "cannot limit the file size";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write did not fail with ERROR_FILE_TOO_LARGE";
    EXPECT_EQ(ReadFile(File), "[S]\nk=v\n");
    EXPECT_THAT(FolderContents(), ElementsAre("settings.ini"));
}

TEST_F(LinuxProfile, WithoutWriteAccessTheWriteIsDenied) {
    const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
    const std::string readOnlyFile = Temp / "open/settings.ini";
    const std::string inReadOnlyFolder = Temp / "closed/settings.ini";
    for (const std::string& path : {readOnlyFile, inReadOnlyFolder}) {
        const std::string folder = fs::path(path).parent_path().string();
        fs::create_directory(folder);
        WriteFile(path, "[S]\nk=v\n");
        ASSERT_EQ(::chown(folder.c_str(), owner, static_cast<gid_t>(-1)), 0);
        ASSERT_EQ(::chown(path.c_str(), owner, static_cast<gid_t>(-1)), 0);
    }
    ASSERT_EQ(::chmod(readOnlyFile.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(fs::path(inReadOnlyFolder).parent_path().c_str(), 0555), 0);

    const int result = testing::RunUnprivileged([&] {
        bool denied = true;
        for (const std::string& path : {readOnlyFile, inReadOnlyFolder}) {
            denied = denied && !Profile.WritePrivateProfileStringA("S", "k", "w", path.c_str()) &&
                     Profile.LastError() == winerror::AccessDenied;
        }
        return denied;
    });
    if (result == testing::CannotSwitchUser) {
        GTEST_SKIP() << "cannot switch to the user nobody here";
    }
    EXPECT_EQ(result, 0) << "a write without write access did not fail with ERROR_ACCESS_DENIED";
    for (const std::string& path : {readOnlyFile, inReadOnlyFolder}) {
        EXPECT_EQ(ReadFile(path), "[S]\nk=v\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(path).parent_path()),
                                fs::directory_iterator()),
                  1);
    }
}

TEST_F(LinuxProfile, ASymbolicLinkIsWrittenThrough) {
    fs::create_directory(Temp / "store");
    WriteFile(Temp / "store/real.ini", "[S]\nk=v\n");
    fs::create_symlink("store/real.ini", Temp / "hop.ini");
    fs::create_symlink("hop.ini", File);
    ASSERT_TRUE(Write("S", "k", "w"));
    EXPECT_TRUE(fs::is_symlink(File));
    EXPECT_TRUE(fs::is_symlink(Temp / "hop.ini"));
    EXPECT_EQ(ReadFile(Temp / "store/real.ini"), "[S]\nk=w\n");
    EXPECT_THAT(FolderContents(), ElementsAre("hop.ini", "settings.ini", "store"));

    const std::string dangling = Temp / "dangling.ini";
    fs::create_symlink("store/new.ini", dangling);
    ASSERT_TRUE(Profile.WritePrivateProfileStringA("S", "k", "v", dangling.c_str()));
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(ReadFile(Temp / "store/new.ini"), "[S]\nk=v\n");
}

TEST_F(LinuxProfile, WhatIsNoSettingsFileIsNeitherReadNorReplaced) {
    ASSERT_EQ(::mkfifo(File.c_str(), 0644), 0);
    EXPECT_EQ(Read("S", "k"), "(default)") << "reading a named pipe must not wait for a writer";
    EXPECT_FALSE(Write("S", "k", "v"));
    EXPECT_EQ(Profile.LastError(), winerror::AccessDenied);
    EXPECT_EQ(fs::status(File).type(), fs::file_type::fifo);
    fs::remove(File);

    fs::create_directory(File);
    EXPECT_EQ(Read("S", "k"), "(default)");
    EXPECT_FALSE(Write("S", "k", "v"));
    EXPECT_EQ(Profile.LastError(), winerror::AccessDenied);
    fs::remove(File);

    // Far larger than any settings file: neither read into memory nor rewritten.
    WriteFile(File, "[S]\nk=v\n");
    fs::resize_file(File, std::uintmax_t{65} << 20);
    EXPECT_EQ(Read("S", "k"), "(default)");
    EXPECT_FALSE(Write("S", "k", "w"));
    EXPECT_EQ(Profile.LastError(), winerror::FileTooLarge);
    EXPECT_EQ(fs::file_size(File), std::uintmax_t{65} << 20);
    EXPECT_THAT(FolderContents(), ElementsAre("settings.ini"));
}
#endif

} // namespace
} // namespace brindlecove
