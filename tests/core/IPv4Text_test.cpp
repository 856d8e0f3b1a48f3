#include "common/AnsiText.h"
#include "routing/IPv4Text.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace brindlecove {
namespace {

TEST(IntToIP, WritesTheLowestByteFirst) {
    EXPECT_EQ(IntToIP(0x0101A8C0u), "192.168.1.1");
    EXPECT_EQ(IntToIP(0x0302010Au), "10.1.2.3");
    EXPECT_EQ(IntToIP(0), "0.0.0.0");
    EXPECT_EQ(IntToIP(0xFFFFFFFFu), "255.255.255.255");
    EXPECT_EQ(IntToIP(0x00FF0080u), "128.0.255.0");
}

TEST(StrToIP, ReadsTheFirstPartIntoTheLowestByte) {
    EXPECT_EQ(StrToIP("192.168.1.1"), 0x0101A8C0u);
    EXPECT_EQ(StrToIP("10.1.2.3"), 0x0302010Au);
    EXPECT_EQ(StrToIP("255.255.255.255"), 0xFFFFFFFFu);
    for (std::uint32_t value : {0u, 1u, 0x80000000u, 0x00FFFF00u, 0xDEADBEEFu, 0x0000FFFFu}) {
        EXPECT_EQ(StrToIP(IntToIP(value)), value) << IntToIP(value);
    }
}

TEST(StrToIP, CountsExactlyFourParts) {
    EXPECT_EQ(StrToIP("1.2.3.4.5"), StrToIP("1.2.3.4"));
    EXPECT_EQ(StrToIP("1.2.3.4.junk.9"), StrToIP("1.2.3.4"));
    EXPECT_EQ(StrToIP("106.152.0"), 0u);
    EXPECT_EQ(StrToIP("10"), 0u);
    EXPECT_EQ(StrToIP(""), 0u);
}

TEST(StrToIP, AFailedPartClearsWhatCameBeforeIt) {
    EXPECT_EQ(IntToIP(StrToIP("k.1.2.3")), "0.1.2.3");
    EXPECT_EQ(IntToIP(StrToIP("1.k.2.3")), "0.0.2.3");
    EXPECT_EQ(IntToIP(StrToIP("1..2.3")), "0.0.2.3");
    EXPECT_EQ(IntToIP(StrToIP("1.2.3.k")), "0.0.0.0");
    EXPECT_EQ(IntToIP(StrToIP("1.2.3.4 ")), "0.0.0.0"); // nothing may follow the digits
    EXPECT_EQ(IntToIP(StrToIP("10 .1.2.3")), "0.1.2.3");
}

TEST(StrToIP, KeepsOnlyTheLowEightBitsOfAPart) {
    EXPECT_EQ(IntToIP(StrToIP("256.1.1.1")), "0.1.1.1");
    EXPECT_EQ(IntToIP(StrToIP("-1.0.0.0")), "255.0.0.0");
    EXPECT_EQ(IntToIP(StrToIP("1.2.3.260")), "1.2.3.4");
    EXPECT_EQ(IntToIP(StrToIP("2147483647.0.0.0")), "255.0.0.0");
}

TEST(StrToIP, AcceptsTheIntegerFormsOfTheRuntime) {
    EXPECT_EQ(IntToIP(StrToIP("$C0.0xA8.x1.0X1")), "192.168.1.1");
    EXPECT_EQ(IntToIP(StrToIP("  10.+1. 2.-0")), "10.1.2.0");
    EXPECT_EQ(IntToIP(StrToIP("$ff.Xa.0xB.$c")), "255.10.11.12");
    EXPECT_EQ(IntToIP(StrToIP("010.001.0.00")), "10.1.0.0"); // leading zeros are decimal
}

TEST(TryStrToInt, FollowsTheSignedThirtyTwoBitRange) {
    std::int32_t n = 7;
    EXPECT_TRUE(TryStrToInt("2147483647", n));
    EXPECT_EQ(n, 2147483647);
    EXPECT_TRUE(TryStrToInt("-2147483648", n));
    EXPECT_EQ(n, INT32_MIN);
    EXPECT_TRUE(TryStrToInt("$FFFFFFFF", n));
    EXPECT_EQ(n, -1);
    EXPECT_TRUE(TryStrToInt("0x80000000", n));
    EXPECT_EQ(n, INT32_MIN);
    EXPECT_TRUE(TryStrToInt("-x10", n));
    EXPECT_EQ(n, -16);
    EXPECT_TRUE(TryStrToInt("0000000000000000000042", n));
    EXPECT_EQ(n, 42);

    n = 7;
    for (const char* text : {"2147483648", "-2147483649", "$100000000", "99999999999999999999",
                             "",           " ",           "+",          "-",
                             "$",          "x",           "0x",         "- 1",
                             "+-1",        "1 ",          "\t1",        "1e3",
                             "0x1g",       "00x1",        "1$",         "$-1",
                             "\xC3\xA9"}) {
        EXPECT_FALSE(TryStrToInt(text, n)) << '"' << text << '"';
    }
    EXPECT_EQ(n, 7) << "a failed conversion must leave the value untouched";
}

TEST(NextToken, TakesTheTextUpToTheFirstDelimiter) {
    struct Case {
        const char* text;
        char delimiter;
        const char* token;
        const char* rest;
    };
    for (const Case& c :
         {Case{"a.b.c", '.', "a", "b.c"}, Case{"abc", '.', "abc", ""}, Case{"", '.', "", ""},
          Case{".a", '.', "", "a"}, Case{"a.", '.', "a", ""}, Case{"x,y.z", ',', "x", "y.z"}}) {
        std::string text = c.text;
        EXPECT_EQ(NextToken(text, c.delimiter), c.token) << '"' << c.text << '"';
        EXPECT_EQ(text, c.rest) << '"' << c.text << '"';
    }
}

} // namespace
} // namespace brindlecove
