#include "app/LocalRouteFile.h"
#include "common/Win32Errors.h"
#include "testing/FakeSystem.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>

namespace brindlecove {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class LocalRouteFile : public ::testing::Test {
protected:
    testing::TFakeSystem System;
    TLocalRouteList Routes;
    const std::string Path = System.Folder + "localroutes.dat";
    const std::size_t BuiltInCount = TLocalRouteList().Count();
};

TEST_F(LocalRouteFile, KeepsTheBuiltInListSilentlyWithoutAFile) {
    System.Files[System.Folder + "other.dat"] = "10.0.0.0,255.0.0.0";
    const TRouteFileResult result = LoadLocalRouteFile(System, Routes);
    EXPECT_FALSE(result.Replaced);
    EXPECT_EQ(result.Error, 0u);
    EXPECT_THAT(result.Message, IsEmpty());
    EXPECT_EQ(Routes.Count(), BuiltInCount);
    EXPECT_THAT(System.Reads, IsEmpty());
}

TEST_F(LocalRouteFile, ReplacesTheListByTheFileBesideTheProgram) {
    System.Files[Path] = "196.4.0.0 , 255.255.0.0\r\n#comment\r\n\r\n10.0.0.1,255.0.0.0\r\n";
    const TRouteFileResult result = LoadLocalRouteFile(System, Routes);
    EXPECT_TRUE(result.Replaced);
    EXPECT_EQ(result.Error, 0u);
    EXPECT_THAT(System.Reads, ElementsAre(Path));
    EXPECT_THAT(Routes.Lines(),
                ElementsAre("196.4.0.0 , 255.255.0.0", "#comment", "", "10.0.0.1,255.0.0.0"));
}

TEST_F(LocalRouteFile, AnEmptyFileGivesAnEmptyList) {
    System.Files[Path] = "";
    EXPECT_TRUE(LoadLocalRouteFile(System, Routes).Replaced);
    EXPECT_EQ(Routes.Count(), 0u);
}

TEST_F(LocalRouteFile, AFileOfCommentsAndBlankLinesRoutesNothing) {
    System.Files[Path] = "# local networks\n\n#196.4.0.0,255.255.0.0\n   \n";
    ASSERT_TRUE(LoadLocalRouteFile(System, Routes).Replaced);
    ASSERT_EQ(Routes.Count(), 4u);
    for (const std::string& line : Routes.Lines()) {
        EXPECT_EQ(ParseRouteLine(line, nullptr).Kind, TRouteLineKind::Skip) << line;
    }
}

TEST_F(LocalRouteFile, AFolderOfThatNameIsReportedAndTheBuiltInListStays) {
    System.Folders.insert(Path);
    const TRouteFileResult result = LoadLocalRouteFile(System, Routes);
    EXPECT_FALSE(result.Replaced);
    EXPECT_EQ(result.Error, winerror::AccessDenied);
    EXPECT_EQ(result.Message, "Unable to read the local route list " + Path +
                                  ": Access is denied. The built-in list is used instead.");
    EXPECT_EQ(Routes.Count(), BuiltInCount);
}

TEST_F(LocalRouteFile, AReadFailureWithoutSystemTextNamesTheCode) {
    System.Files[Path] = "10.0.0.0,255.0.0.0";
    System.ReadErrors[Path] = winerror::SharingViolation;
    const TRouteFileResult result = LoadLocalRouteFile(System, Routes);
    EXPECT_FALSE(result.Replaced);
    EXPECT_EQ(result.Error, winerror::SharingViolation);
    EXPECT_THAT(result.Message, HasSubstr(": error 32. The built-in list is used instead."));
    EXPECT_EQ(Routes.Count(), BuiltInCount);
}

TEST_F(LocalRouteFile, AnOversizedFileIsRefusedUnread) {
    System.Files[Path] = std::string(MaxLocalRoutesFileSize + 1, '\n');
    const TRouteFileResult result = LoadLocalRouteFile(System, Routes);
    EXPECT_EQ(result.Error, winerror::FileTooLarge);
    EXPECT_EQ(result.Message, "Unable to read the local route list " + Path +
                                  ": the file is larger than the " +
                                  std::to_string(MaxLocalRoutesFileSize) +
                                  " bytes a route list may have. The built-in list is used "
                                  "instead.");
    EXPECT_EQ(Routes.Count(), BuiltInCount);
}

TEST_F(LocalRouteFile, WithoutAProgramFolderNothingIsLookedFor) {
    System.Folder.clear();
    System.Files["localroutes.dat"] = "10.0.0.0,255.0.0.0";
    EXPECT_FALSE(LoadLocalRouteFile(System, Routes).Replaced);
    EXPECT_EQ(Routes.Count(), BuiltInCount);
}

TEST_F(LocalRouteFile, AMillionLinesOfAnyBytesAreTakenWhole) {
    std::string text;
    text.reserve(30u << 20);
    for (std::size_t i = 0; i < 1000000; ++i) {
        switch (i % 4) {
        case 0:
            text += "196.4." + std::to_string(i % 256) + ".0,255.255.255.0\r\n";
            break;
        case 1:
            text += "\xFF\xFE garbage \x80\x01,\x7F\r";
            break;
        case 2:
            text += "\r\n"; // after the lone CR above: an empty line
            break;
        default:
            text += std::string(i % 700, ',') + "\n";
            break;
        }
    }
    System.Files[Path] = text;
    ASSERT_TRUE(LoadLocalRouteFile(System, Routes).Replaced);
    ASSERT_EQ(Routes.Count(), 1000000u);
    EXPECT_EQ(Routes.Line(0), "196.4.0.0,255.255.255.0");
    EXPECT_EQ(Routes.Line(1), "\xFF\xFE garbage \x80\x01,\x7F");
    EXPECT_EQ(Routes.Line(2), "");
    EXPECT_EQ(Routes.Line(999999), std::string(999999 % 700, ','));

    std::size_t routed = 0;
    std::size_t bad = 0;
    for (const std::string& line : Routes.Lines()) {
        const TRouteLine parsed = ParseRouteLine(line, [&](const std::string&) { ++bad; });
        routed += parsed.Kind == TRouteLineKind::Route ? 1 : 0;
    }
    // The "196.4.x.0" rows and the rows of commas route; the garbage rows read as network 0 and
    // mask 0, so they route too; only the empty rows are skipped.
    EXPECT_EQ(bad, 0u);
    EXPECT_EQ(routed, 750000u);
}

} // namespace
} // namespace brindlecove
