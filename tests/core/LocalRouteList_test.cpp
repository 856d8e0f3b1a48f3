#include "routing/LocalRouteList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brindlecove {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Lines = std::vector<std::string>;

TEST(SplitLines, TreatsCrLfLoneLfAndLoneCrAlike) {
    const Lines expected{"196.4.0.0,255.255.0.0", "", "# note", "10.0.0.0,255.0.0.0"};
    EXPECT_EQ(SplitLines("196.4.0.0,255.255.0.0\r\n\r\n# note\r\n10.0.0.0,255.0.0.0\r\n"),
              expected);
    EXPECT_EQ(SplitLines("196.4.0.0,255.255.0.0\n\n# note\n10.0.0.0,255.0.0.0\n"), expected);
    EXPECT_EQ(SplitLines("196.4.0.0,255.255.0.0\r\r# note\r10.0.0.0,255.0.0.0\r"), expected);
    EXPECT_EQ(SplitLines("196.4.0.0,255.255.0.0\n\r# note\r\n10.0.0.0,255.0.0.0"), expected);
}

TEST(SplitLines, AddsNoLineForTheLastLineEnd) {
    EXPECT_THAT(SplitLines(""), IsEmpty());
    EXPECT_THAT(SplitLines("a"), ElementsAre("a"));
    EXPECT_THAT(SplitLines("a\r\n"), ElementsAre("a"));
    EXPECT_THAT(SplitLines("a\n\n"), ElementsAre("a", ""));
    EXPECT_THAT(SplitLines("\n"), ElementsAre(""));
    EXPECT_THAT(SplitLines("\r\n\r\n"), ElementsAre("", ""));
    EXPECT_THAT(SplitLines("a\r\r\nb"), ElementsAre("a", "", "b"));
}

TEST(SplitLines, StopsAtNulAndKeepsEveryOtherByte) {
    using namespace std::string_literals;
    EXPECT_THAT(SplitLines("a\nb\0c\nd\n"s), ElementsAre("a", "b"));
    EXPECT_THAT(SplitLines("\0a\n"s), IsEmpty());
    EXPECT_THAT(SplitLines("a\r\0\nb"s), ElementsAre("a"));
    EXPECT_THAT(SplitLines(" \t x \t\n\xFF\xA0\x01\n"), ElementsAre(" \t x \t", "\xFF\xA0\x01"));
}

TEST(LocalRouteList, ReplacesTheWholeListFromText) {
    TLocalRouteList list;
    ASSERT_GT(list.Count(), 0u);
    list.SetText("10.0.0.0,255.0.0.0\n\n#x");
    EXPECT_THAT(list.Lines(), ElementsAre("10.0.0.0,255.0.0.0", "", "#x"));
    list.SetText("");
    EXPECT_EQ(list.Count(), 0u);
}

// Collects the lines ParseRouteLine logs.
struct LogRecorder {
    Lines Logged;
    TLogLineFn Sink() {
        return [this](const std::string& line) { Logged.push_back(line); };
    }
};

TEST(ParseRouteLine, SkipsLinesWithoutACommaAndComments) {
    LogRecorder log;
    for (const char* line : {"", "196.4.0.0", "   ", "#10.0.0.0,255.0.0.0", "#", "#,", "x y z"}) {
        const TRouteLine parsed = ParseRouteLine(line, log.Sink());
        EXPECT_EQ(parsed.Kind, TRouteLineKind::Skip) << '"' << line << '"';
    }
    EXPECT_THAT(log.Logged, IsEmpty());
}

TEST(ParseRouteLine, GivesTheTrimmedTextsOfAGoodPair) {
    LogRecorder log;
    TRouteLine parsed = ParseRouteLine("196.4.0.0 , 255.255.0.0", log.Sink());
    EXPECT_EQ(parsed.Kind, TRouteLineKind::Route);
    EXPECT_EQ(parsed.Network, "196.4.0.0");
    EXPECT_EQ(parsed.Mask, "255.255.0.0");

    // Control characters and blanks go; the texts are not rewritten from their values.
    parsed = ParseRouteLine("\t\x01 010.0.0.0\x1F,\x1F$FF.0.0.0 \r\n", log.Sink());
    EXPECT_EQ(parsed.Kind, TRouteLineKind::Route);
    EXPECT_EQ(parsed.Network, "010.0.0.0");
    EXPECT_EQ(parsed.Mask, "$FF.0.0.0");

    // Texts StrToIP reads as 0 always pass as networks: three parts, empty, a leading-blank "#".
    parsed = ParseRouteLine("106.152.0,255.255.255.0", log.Sink());
    EXPECT_EQ(parsed.Kind, TRouteLineKind::Route);
    EXPECT_EQ(parsed.Network, "106.152.0");
    parsed = ParseRouteLine(" #10.0.0.0,255.0.0.0", log.Sink());
    EXPECT_EQ(parsed.Kind, TRouteLineKind::Route);
    EXPECT_EQ(parsed.Network, "#10.0.0.0");
    parsed = ParseRouteLine(",", log.Sink());
    EXPECT_EQ(parsed.Kind, TRouteLineKind::Route);
    EXPECT_EQ(parsed.Network, "");
    EXPECT_EQ(parsed.Mask, "");

    // Bytes above 127 are not control characters and stay.
    parsed = ParseRouteLine("\xA0"
                            "10.0.0.0,255.0.0.0\xFF",
                            log.Sink());
    EXPECT_EQ(parsed.Network, "\xA0"
                              "10.0.0.0");
    EXPECT_EQ(parsed.Mask, "255.0.0.0\xFF");

    EXPECT_THAT(log.Logged, IsEmpty());
}

TEST(ParseRouteLine, LogsABadPairWithTheMaskedNetwork) {
    LogRecorder log;
    TRouteLine parsed = ParseRouteLine("10.0.0.1,255.0.0.0", log.Sink());
    EXPECT_EQ(parsed.Kind, TRouteLineKind::BadPair);
    parsed = ParseRouteLine(" 192.168.1.77 ,\t255.255.255.192", log.Sink());
    EXPECT_EQ(parsed.Kind, TRouteLineKind::BadPair);
    // The mask is everything after the first comma, so a third field spoils the mask.
    parsed = ParseRouteLine("10.0.0.0,255.0.0.0,x", log.Sink());
    EXPECT_EQ(parsed.Kind, TRouteLineKind::BadPair);
    EXPECT_EQ(parsed.Mask, "255.0.0.0,x");

    EXPECT_THAT(log.Logged,
                ElementsAre("Bad IP/Mask: 10.0.0.1,255.0.0.0, IP and MASK = 10.0.0.0",
                            "Bad IP/Mask: 192.168.1.77,255.255.255.192, IP and MASK = 192.168.1.64",
                            "Bad IP/Mask: 10.0.0.0,255.0.0.0,x, IP and MASK = 0.0.0.0"));

    // Without a sink a bad pair is still recognised.
    EXPECT_EQ(ParseRouteLine("10.0.0.1,255.0.0.0", nullptr).Kind, TRouteLineKind::BadPair);
}

TEST(ParseRouteLine, ReadsAtMost255CharactersOfMask) {
    LogRecorder log;
    const std::string padding(300, ' ');
    // The mask is cut 255 characters after the comma: blanks there leave only blanks.
    TRouteLine parsed = ParseRouteLine("10.0.0.1," + padding + "255.0.0.0", log.Sink());
    EXPECT_EQ(parsed.Mask, "");
    EXPECT_EQ(parsed.Kind, TRouteLineKind::BadPair);

    const std::string mask = std::string(246, ' ') + "255.0.0.0"; // exactly 255 characters
    parsed = ParseRouteLine("10.0.0.0," + mask + "garbage", log.Sink());
    EXPECT_EQ(parsed.Kind, TRouteLineKind::Route);
    EXPECT_EQ(parsed.Mask, "255.0.0.0");

    const std::string huge(1 << 20, '9');
    parsed = ParseRouteLine(huge + "," + huge, log.Sink());
    EXPECT_EQ(parsed.Network.size(), huge.size());
    EXPECT_EQ(parsed.Mask.size(), 255u);
}

} // namespace
} // namespace brindlecove
