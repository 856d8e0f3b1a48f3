// brindlecove-routes through its command line (in process): compiling delegation data with known
// answers, the compiled list read back as the program reads it, the check of the built-in list,
// and faulty input.
#include "routing/LocalRouteList.h"
#include "tests/platform/TempFolder.h"
#include "tools/routes/RouteCheck.h"
#include "tools/routes/RoutesTool.h"

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace brindlecove::routes {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// Records cut from delegated-afrinic-extended-latest of 2023-03-23 (the records the built-in
// list lies in and a few of other countries, statuses and types), written by
// tools/routes/make-builtin-list.py.
const std::string CutFile = BRINDLECOVE_SOURCE_DIR "/tests/data/delegated-afrinic-za-cut";
// The whole file, beside the source tree where the team keeps it; not in a clean clone.
const std::string SharedFile =
    BRINDLECOVE_SOURCE_DIR "/../shared/data/delegated-afrinic-extended-latest";

struct TRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

TRun RunTool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = RunRoutesTool(args, out, err);
    return {status, out.str(), err.str()};
}

// The network,mask lines of a list, without its comments.
std::vector<std::string> Rows(const std::string& list) {
    std::vector<std::string> rows = SplitLines(list);
    std::erase_if(rows, [](const std::string& line) { return line.starts_with("#"); });
    return rows;
}

TEST(RoutesCompile, JoinsAdjacentRecordsSplitsOddCountsAndTakesOnlyTheCountrysHeldSpace) {
    TempFolder folder;
    WriteFile(folder / "delegated",
              "2|afrinic|20230323|9|00000000|20230323|00000\n"
              "afrinic|*|ipv4|*|7|summary\n"
              // Two adjacent /24s and an overlapping repeat: one /23.
              "afrinic|ZA|ipv4|196.4.0.0|256|19920101|allocated|A\n"
              "afrinic|ZA|ipv4|196.4.1.0|256|19920101|assigned|B\n"
              "afrinic|ZA|ipv4|196.4.1.0|256|19920101|assigned|B\n"
              // 768 addresses from an odd /24 boundary: a /24, then an aligned /23.
              "afrinic|ZA|ipv4|10.1.1.0|768|20100101|allocated|C\n"
              // Another country, space not held, and other types: left out.
              "afrinic|NA|ipv4|196.4.2.0|256|19920101|allocated|D\n"
              "afrinic|ZA|ipv4|196.4.3.0|256||available|\n"
              "afrinic|ZA|ipv4|196.4.4.0|256||reserved|\n"
              "afrinic|ZA|asn|1228|1|19910301|allocated|E\n"
              "afrinic|ZA|ipv6|2001:4200::|32|20051021|allocated|F\n");

    const TRun run = RunTool({"compile", "--country", "za", folder / "delegated"});
    EXPECT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_THAT(Rows(run.Out), ElementsAre("10.1.1.0,255.255.255.0", "10.1.2.0,255.255.254.0",
                                           "196.4.0.0,255.255.254.0"));
    EXPECT_THAT(run.Out, AllOf(StartsWith("# Local route list of ZA"),
                               HasSubstr("delegated (afrinic, 20230323)"),
                               HasSubstr("# 3 networks, 1280 addresses\n")));

    // A second country and a second file; CR LF line ends read the same.
    WriteFile(folder / "crlf", "2|afrinic|20230323|1|00000000|20230323|00000\r\n"
                               "afrinic|NA|ipv4|196.4.3.0|256|19920101|allocated|G\r\n");
    const TRun both = RunTool(
        {"compile", "--country=ZA", "--country", "NA", folder / "delegated", folder / "crlf"});
    EXPECT_EQ(both.Status, ExitOk) << both.Err;
    EXPECT_THAT(Rows(both.Out), ElementsAre("10.1.1.0,255.255.255.0", "10.1.2.0,255.255.254.0",
                                            "196.4.0.0,255.255.252.0"));
    EXPECT_THAT(both.Out, HasSubstr("of NA ZA"));
}

TEST(RoutesCompile, AListWrittenToAFileRoutesTheCountrysSpaceExactlyOnce) {
    TempFolder folder;
    const std::string list = folder / "localroutes.dat";
    WriteFile(list, "the old list\n");
    const TRun run = RunTool({"compile", "--country", "ZA", "-o", list, CutFile});
    ASSERT_EQ(run.Status, ExitOk) << run.Err;
    EXPECT_THAT(run.Out, IsEmpty());
    EXPECT_FALSE(std::filesystem::exists(list + ".new"));

    // Read as the program reads a list, held against the same data: every row is a route (none
    // bad), and the routes cover the country's space exactly, once.
    const std::string text = ReadFile(list);
    TAllocations allocations;
    ASSERT_THAT(ReadAllocations({CutFile}, {"ZA"}, allocations), IsEmpty());
    const TCheckReport report = CheckRouteList(text, allocations.Ranges);
    EXPECT_GT(report.Inside, 400u) << "the cut data holds hundreds of networks";
    EXPECT_EQ(Rows(text).size(), report.Inside) << "every row routes, inside; the old list is gone";
    EXPECT_THAT(report.Duplicates, IsEmpty());
    EXPECT_THAT(report.Covered, IsEmpty());
    EXPECT_EQ(report.CoveredAddresses, report.AllocatedAddresses);
}

// Only the rows kept from the built-in list's first composition lie outside the allocations: the
// first six and the last five.
void ExpectOnlyTheKeptRowsOutside(const std::string& file) {
    const TRun run = RunTool({"check", "--builtin", "--country", "ZA", file});
    EXPECT_EQ(run.Status, ExitBadData) << "rows lie outside, so the check fails";
    EXPECT_THAT(run.Err, IsEmpty());
    EXPECT_THAT(run.Out,
                AllOf(HasSubstr("Inside the allocations: 867 rows\nOutside: 11 rows\n"),
                      HasSubstr("  row 1: 106.152.0,255.255.255.0 (106.152.0.0/24) lies "
                                "wholly outside\n"),
                      HasSubstr("Duplicates: 1 row\n"
                                "  row 130: 168.210.0.0,255.255.0.0 repeats row 124\n"
                                "Within other rows: 2 rows\n"
                                "  row 171: 168.210.250.80,255.255.255.254 lies within row 124\n"
                                "  row 172: 168.210.131.20,255.255.255.255 lies within row 124\n"
                                "Bad pairs: 0 rows\n")));
    TAllocations allocations;
    ASSERT_THAT(ReadAllocations({file}, {"ZA"}, allocations), IsEmpty());
    std::vector<std::size_t> outside;
    for (const TListRow& row :
         CheckRouteList(BuiltInLocalRoutesText(), allocations.Ranges).Outside) {
        outside.push_back(row.Row);
    }
    EXPECT_THAT(outside, ElementsAre(1, 2, 3, 4, 5, 6, 874, 875, 876, 877, 878));
}

TEST(RoutesCheck, TheBuiltInListLiesInsideTheAllocationsButForItsKeptRows) {
    ExpectOnlyTheKeptRowsOutside(CutFile);
}

TEST(RoutesCheck, TheBuiltInListLiesInsideTheWholeDelegationFileButForItsKeptRows) {
    if (!std::filesystem::exists(SharedFile)) {
        GTEST_SKIP() << SharedFile << " is not beside the source tree (only in the team's copy)";
    }
    ExpectOnlyTheKeptRowsOutside(SharedFile);
}

TEST(RoutesCheck, ReportsRowsOutsideRepeatedCoveredAndBadAsTheProgramReadsThem) {
    TempFolder folder;
    const std::string list = folder / "list";
    const std::string delegated = folder / "delegated";
    WriteFile(delegated, "2|ripencc|1|2|0|20230322|+0100\n"
                         "ripencc|DE|ipv4|10.0.0.0|65536|20000101|allocated\n"
                         "ripencc|FR|ipv4|10.1.0.0|65536|20000101|allocated\n");
    WriteFile(list, "# ours\r\n"
                    "10.0.0.0,255.255.0.0\r\n"
                    "10.0.4.0,255.255.255.0\r\n"
                    "10.0.0.0 , 255.255.0.0\r\n"
                    " #10.0.0.0,255.255.255.0\r\n"
                    "10.0.0.1,255.0.0.0\r\n"
                    "10.0.0.0,255.254.0.0\r\n"
                    "10.0.5.0,255.0.255.0\r\n"
                    "10.1.0.0,255.255.0.0\r\n"
                    "10.2.0\r\n");
    const TRun run = RunTool({"check", "--country", "DE", list, delegated});
    EXPECT_EQ(run.Status, ExitBadData);
    EXPECT_EQ(run.Out, "Checking " + list + " against the allocations of DE in:\n  " + delegated +
                           " (ripencc, 20230322)\n"
                           "10 lines: 8 network,mask rows, 2 skipped (comments, blank lines, "
                           "lines without a comma)\n"
                           "Inside the allocations: 3 rows\n"
                           "Outside: 2 rows\n"
                           "  row 7: 10.0.0.0,255.254.0.0 (10.0.0.0/15) lies partly outside: "
                           "65536 of 131072 addresses\n"
                           "  row 9: 10.1.0.0,255.255.0.0 (10.1.0.0/16) lies wholly outside\n"
                           "Duplicates: 1 row\n"
                           "  row 4: 10.0.0.0 , 255.255.0.0 repeats row 2\n"
                           "Within other rows: 3 rows\n"
                           "  row 2: 10.0.0.0,255.255.0.0 lies within row 7\n"
                           "  row 3: 10.0.4.0,255.255.255.0 lies within row 7\n"
                           "  row 9: 10.1.0.0,255.255.0.0 lies within row 7\n"
                           "Bad pairs: 3 rows\n"
                           "  row 5:  #10.0.0.0,255.255.255.0: not an address\n"
                           "  row 6: 10.0.0.1,255.0.0.0: Bad IP/Mask: 10.0.0.1,255.0.0.0, IP "
                           "and MASK = 10.0.0.0\n"
                           "  row 8: 10.0.5.0,255.0.255.0: the mask has a gap\n"
                           "Coverage: 65536 of 65536 allocated addresses (100.0%)\n");

    // Without a country every country's space counts: nothing lies outside.
    const TRun all = RunTool({"check", list, delegated});
    EXPECT_EQ(all.Status, ExitOk) << all.Out;
    EXPECT_THAT(all.Out, HasSubstr("Coverage: 131072 of 131072 allocated addresses (100.0%)"));
}

// Each faulty file is refused with its name and line, and no list is written.
TEST(RoutesCompile, RefusesFaultyDelegationDataNamingTheFileAndLine) {
    TempFolder folder;
    const std::string version = "2|afrinic|20230323|1|00000000|20230323|00000\n";
    const std::string record = "afrinic|ZA|ipv4|196.4.0.0|256|19920101|allocated|A\n";
    const std::string tooLong = ": the line is longer than 4096 characters";
    const struct {
        std::string Text;
        std::string Message;
    } cases[] = {
        {version + "afrinic|ZA|ipv4|196.4.0.0|25", ":2: record with 5 fields"},
        {version + "afrinic|ZA|ipv4|255.255.255.0|257|19920101|allocated|A\n",
         ":2: ipv4 record: 257 addresses from 255.255.255.0 run past 255.255.255.255"},
        {version + "afrinic|ZA|ipv4|0.0.0.0|99999999999999999999|1|allocated|A\n",
         ":2: ipv4 record: count \"99999999999999999999\" is not a number of addresses"},
        {version + "afrinic|ZA|ipv4|196.4.0|256|19920101|allocated|A\n",
         ":2: ipv4 record: start \"196.4.0\" is not an address"},
        {version + "afrinic|ZA|ipv5|196.4.0.0|256|19920101|allocated|A\n",
         ":2: unknown record type \"ipv5\""},
        {record, ":1: no version line before the records"},
        {"<html>\n", ":1: record with 1 fields"},
        {"2|afrinic|20230323|2|00000000|20230323|00000\n" + record,
         ": the version line announces 2 records, the file holds 1 (cut short?)"},
        {std::string("\x1f\x8b\x08\x00", 4) + record, ": the file is gzip-compressed"},
        {version + record + std::string(5000, 'x') + "\n", ":3" + tooLong},
        // A line spread over many reads, without an end.
        {version + std::string(1 << 20, '7'), ":2" + tooLong},
        {"", ": no version line: not a delegation file"},
    };
    for (const auto& faulty : cases) {
        const std::string path = folder / "delegated";
        WriteFile(path, faulty.Text);
        const TRun run = RunTool({"compile", "--country", "ZA", "-o", folder / "list", path});
        EXPECT_EQ(run.Status, ExitBadData) << faulty.Message;
        EXPECT_THAT(run.Err, HasSubstr(path + faulty.Message));
        EXPECT_FALSE(std::filesystem::exists(folder / "list")) << faulty.Message;
    }
}

// A file of 100 MB (made here, not kept in the repository) is read through, record by record.
TEST(RoutesCompile, ReadsAHundredMegabyteFile) {
    TempFolder folder;
    const std::string huge = folder / "huge";
    const std::string other = "ripencc|DE|ipv4|10.0.0.0|256|20000101|allocated|0123456789\n";
    const std::size_t others = 100'000'000 / other.size() + 1;
    {
        std::ofstream out(huge, std::ios::binary);
        out << "2|ripencc|1|" << others + 1 << "|0|20230322|+0100\n";
        for (std::size_t i = 0; i < others; ++i) {
            out << other;
        }
        out << "ripencc|ZA|ipv4|196.4.0.0|512|20000101|assigned|0123456789\n";
    }
    ASSERT_GE(std::filesystem::file_size(huge), 100'000'000u);
    const TRun read = RunTool({"compile", "--country", "ZA", huge});
    EXPECT_EQ(read.Status, ExitOk) << read.Err;
    EXPECT_THAT(Rows(read.Out), ElementsAre("196.4.0.0,255.255.254.0"));
}

TEST(RoutesCommandLine, AnswersBadUsageWithStatusTwoAndFilesItCannotUseWithOne) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"translate"},
             {"compile", CutFile},
             {"compile", "--country", "ZAF", CutFile},
             {"compile", "--country", "Z1", CutFile},
             {"compile", "--country", "ZA"},
             {"compile", "--country"},
             {"compile", "--country", "ZA", "--verbose", CutFile},
             {"compile", "--country", "ZA", "--builtin", CutFile},
             {"check", "--builtin"},
             {"check", "list-only"},
             {"check", "-o", "out", "--builtin", CutFile},
         }) {
        const TRun run = RunTool(args);
        EXPECT_EQ(run.Status, ExitUsage) << ::testing::PrintToString(args);
        EXPECT_THAT(run.Err, AllOf(StartsWith("brindlecove-routes: "), HasSubstr("Usage:")));
        EXPECT_THAT(run.Out, IsEmpty());
    }
    const TRun help = RunTool({"--help"});
    EXPECT_EQ(help.Status, ExitOk);
    EXPECT_THAT(help.Out, HasSubstr("brindlecove-routes compile --country CC"));
    EXPECT_EQ(RunTool({"--version"}).Out, "brindlecove-routes 1.01\n");

    // A folder is no list.
    TempFolder folder;
    const struct {
        std::vector<std::string> Args;
        std::string Fault;
    } unusable[] = {
        {{"compile", "--country", "ZA", "no-such-file"}, "cannot open no-such-file\n"},
        {{"check", "no-such-list", CutFile}, "cannot read no-such-list: "},
        {{"check", folder.Path().string(), CutFile}, "cannot read " + folder.Path().string()},
        {{"compile", "--country", "ZA", "-o", folder / "no-such-folder/list", CutFile},
         "cannot write "},
    };
    for (const auto& [args, fault] : unusable) {
        const TRun run = RunTool(args);
        EXPECT_EQ(run.Status, ExitBadData) << fault;
        EXPECT_THAT(run.Err, StartsWith("brindlecove-routes: " + fault));
        EXPECT_THAT(run.Err, Not(HasSubstr("Usage:")));
    }
}

} // namespace
} // namespace brindlecove::routes
