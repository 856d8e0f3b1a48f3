// The built-in local route list as the program embeds it.
#include "routing/IPv4Text.h"
#include "routing/LocalRouteList.h"

#include <algorithm>
#include <bit>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace brindlecove {
namespace {

class BuiltInRoutes : public ::testing::Test {
protected:
    TLocalRouteList List;

    // 1-based, as the rows are counted in the list's documentation.
    const std::string& Row(std::size_t row) const { return List.Line(row - 1); }

    std::vector<std::string> Pairs() const {
        return {List.Lines().begin(), List.Lines().end() - 1};
    }
    static std::string Mask(const std::string& line) { return line.substr(line.find(',') + 1); }
    static int FirstOctet(const std::string& line) {
        return std::stoi(line.substr(0, line.find('.')));
    }
};

TEST_F(BuiltInRoutes, Holds878PairsAndALastEmptyLine) {
    ASSERT_EQ(List.Count(), 879u);
    EXPECT_EQ(List.Line(878), "");
    for (const std::string& line : Pairs()) {
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 1) << line;
        EXPECT_EQ(line.find_first_of(" \t\r\n#"), std::string::npos) << line;
        EXPECT_FALSE(line.empty());
    }
    // The embedded text is the data file itself: 878 terminated lines and one empty line.
    const std::string_view text = BuiltInLocalRoutesText();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 879);
    EXPECT_TRUE(text.ends_with(",255.255.255.0\n\n"));
}

TEST_F(BuiltInRoutes, HasTheDocumentedRowsPerMask) {
    std::map<std::string, int> rows;
    for (const std::string& line : Pairs()) {
        ++rows[Mask(line)];
    }
    const std::map<std::string, int> expected{
        {"255.255.255.0", 519}, {"255.255.254.0", 78},  {"255.255.0.0", 76},
        {"255.255.252.0", 69},  {"255.255.248.0", 41},  {"255.255.224.0", 31},
        {"255.255.240.0", 27},  {"255.255.255.240", 6}, {"255.254.0.0", 5},
        {"255.255.255.248", 5}, {"255.255.128.0", 4},   {"255.255.255.192", 4},
        {"255.255.192.0", 4},   {"255.255.255.255", 3}, {"255.252.0.0", 2},
        {"255.248.0.0", 1},     {"255.255.255.254", 1}, {"255.255.255.128", 1},
        {"255.255.255.252", 1}};
    EXPECT_EQ(rows, expected);
}

TEST_F(BuiltInRoutes, SpansFortyFirstOctetBlocks) {
    std::map<int, int> blocks;
    for (const std::string& line : Pairs()) {
        ++blocks[FirstOctet(line)];
    }
    EXPECT_EQ(blocks.size(), 40u);
    EXPECT_EQ(blocks.begin()->first, 32);
    EXPECT_EQ(blocks.rbegin()->first, 216);
    EXPECT_EQ(blocks[196], 510);
    EXPECT_EQ(blocks[192], 76);
    EXPECT_EQ(blocks[198], 50);
    EXPECT_EQ(blocks[168], 49);
}

TEST_F(BuiltInRoutes, IsGroupedByBlockButNotSorted) {
    // Grouped: a block seldom starts again once another block has come between.
    int blockStarts = 0;
    for (std::size_t row = 2; row <= 878; ++row) {
        blockStarts += FirstOctet(Row(row)) != FirstOctet(Row(row - 1)) ? 1 : 0;
    }
    EXPECT_LT(blockStarts, 60);
    const std::vector<std::string> pairs = Pairs();
    EXPECT_FALSE(std::is_sorted(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
        return StrToIP(a.substr(0, a.find(','))) < StrToIP(b.substr(0, b.find(',')));
    }));
}

TEST_F(BuiltInRoutes, BeginsAndEndsWithTheDocumentedRows) {
    const std::vector<std::string> first(List.Lines().begin(), List.Lines().begin() + 5);
    EXPECT_THAT(first,
                ::testing::ElementsAre("106.152.0,255.255.255.0", "32.106.153.0,255.255.255.0",
                                       "32.238.152.0,255.255.255.0", "32.238.153.0,255.255.255.0",
                                       "32.239.182.0,255.255.255.0"));
    const std::vector<std::string> last(List.Lines().end() - 6, List.Lines().end() - 1);
    EXPECT_THAT(last,
                ::testing::ElementsAre("216.104.196.0,255.255.255.0", "216.104.197.0,255.255.255.0",
                                       "216.104.198.0,255.255.255.0", "216.104.199.0,255.255.255.0",
                                       "216.162.42.0,255.255.255.0"));
}

TEST_F(BuiltInRoutes, HasTheTellingRowsInTheirPlaces) {
    EXPECT_EQ(Row(6), "41.240.0.0,255.248.0.0");
    EXPECT_EQ(Row(124), "168.210.0.0,255.255.0.0");
    EXPECT_EQ(Row(130), "168.210.0.0,255.255.0.0");
    EXPECT_EQ(Row(171), "168.210.250.80,255.255.255.254");
    EXPECT_EQ(Row(172), "168.210.131.20,255.255.255.255");
    EXPECT_EQ(Row(771), "196.22.2.0,255.255.255.128");
    EXPECT_EQ(Row(780), "196.38.225.0,255.255.255.252");
    EXPECT_EQ(Row(781), "196.23.48.244,255.255.255.255");
    EXPECT_EQ(Row(782), "196.23.48.245,255.255.255.255");

    // Row 6 is the widest network and rows 124/130 the only repeated line.
    for (std::size_t row = 1; row <= 878; ++row) {
        if (row != 6) {
            EXPECT_GT(std::popcount(StrToIP(Mask(Row(row)))), 13) << "row " << row;
        }
    }
    std::set<std::string> seen;
    std::vector<std::string> repeated;
    for (const std::string& line : Pairs()) {
        if (!seen.insert(line).second) {
            repeated.push_back(line);
        }
    }
    EXPECT_THAT(repeated, ::testing::ElementsAre("168.210.0.0,255.255.0.0"));
}

TEST_F(BuiltInRoutes, EveryPairIsRoutedAndNoneIsLoggedAsBad) {
    std::vector<std::string> logged;
    const TLogLineFn log = [&](const std::string& line) { logged.push_back(line); };
    for (std::size_t row = 1; row <= 878; ++row) {
        const TRouteLine parsed = ParseRouteLine(Row(row), log);
        EXPECT_EQ(parsed.Kind, TRouteLineKind::Route) << "row " << row;
        // Four-part networks have no bit outside their mask (row 1 has three parts).
        if (std::count(parsed.Network.begin(), parsed.Network.end(), '.') == 3) {
            EXPECT_EQ(IntToIP(StrToIP(parsed.Network)), parsed.Network) << "row " << row;
            EXPECT_EQ(StrToIP(parsed.Network) & StrToIP(parsed.Mask), StrToIP(parsed.Network));
        } else {
            EXPECT_EQ(row, 1u);
        }
    }
    EXPECT_EQ(ParseRouteLine(Row(879), log).Kind, TRouteLineKind::Skip);
    EXPECT_THAT(logged, ::testing::IsEmpty());
}

} // namespace
} // namespace brindlecove
