// The main window's layout table and the arrangement of its controls for a window size and dpi.
#include "app/WindowLayout.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <utility>

namespace brindlecove {
namespace {

// The size of a control's parent at its design size, at `dpi`.
TLayoutSize DesignParent(const TLayoutEntry& entry, int dpi) {
    const bool onPage = entry.Page != TPage::None;
    return {ScaleToDpi(onPage ? DesignPageWidth : DesignClientWidth, dpi),
            ScaleToDpi(onPage ? DesignPageHeight : DesignClientHeight, dpi)};
}

bool Overlap(const TLayoutRect& a, const TLayoutRect& b) {
    return a.Left < b.Right() && b.Left < a.Right() && a.Top < b.Bottom() && b.Top < a.Bottom();
}

TEST(WindowLayout, HoldsEveryControlOnceByIdWithADistinctName) {
    std::set<std::string> names;
    for (int i = 0; i < ControlCount; ++i) {
        const auto id = static_cast<TControlId>(i);
        EXPECT_EQ(LayoutOf(id).Id, id);
        ASSERT_NE(LayoutOf(id).Name, nullptr);
        EXPECT_TRUE(names.insert(LayoutOf(id).Name).second) << LayoutOf(id).Name;
    }
    EXPECT_EQ(std::string(LayoutOf(TControlId::Memo1).Name), "Memo1");
}

TEST(WindowLayout, AtTheDesignSizeEveryControlStandsAtItsDesignPlaceScaledToTheDpi) {
    for (const int dpi : {96, 120, 144, 192}) {
        for (const TLayoutEntry& entry : WindowLayout) {
            const TLayoutSize parent = DesignParent(entry, dpi);
            const TLayoutRect r = ArrangeControl(entry, parent.Width, parent.Height, dpi);
            EXPECT_EQ(r, (TLayoutRect{ScaleToDpi(entry.Design.Left, dpi),
                                      ScaleToDpi(entry.Design.Top, dpi),
                                      ScaleToDpi(entry.Design.Width, dpi),
                                      ScaleToDpi(entry.Design.Height, dpi)}))
                << entry.Name << " at " << dpi << " dpi";
        }
    }
    EXPECT_EQ(ScaleToDpi(97, 120), 121) << "rounded to the nearest pixel";
}

// A larger window moves and stretches the controls as their anchors say, keeps every one inside
// its parent, and makes no two controls overlap that stood apart.
TEST(WindowLayout, GrowingTheWindowKeepsTheAnchoredEdgesAndEveryControlInside) {
    for (const int dpi : {96, 144}) {
        for (const auto& [dx, dy] : {std::pair{150, 40}, std::pair{1, 0}, std::pair{0, 300}}) {
            for (const TLayoutEntry& entry : WindowLayout) {
                SCOPED_TRACE(std::string(entry.Name) + " at " + std::to_string(dpi) + " dpi");
                const TLayoutSize design = DesignParent(entry, dpi);
                const TLayoutRect before = ArrangeControl(entry, design.Width, design.Height, dpi);
                const TLayoutRect after =
                    ArrangeControl(entry, design.Width + dx, design.Height + dy, dpi);
                const bool left = (entry.Anchors & AnchorLeft) != 0;
                const bool right = (entry.Anchors & AnchorRight) != 0;
                const bool bottom = (entry.Anchors & AnchorBottom) != 0;
                EXPECT_EQ(after.Left, before.Left + (right && !left ? dx : 0));
                EXPECT_EQ(after.Width, before.Width + (right && left ? dx : 0));
                EXPECT_EQ(after.Top,
                          before.Top + (bottom && !(entry.Anchors & AnchorTop) ? dy : 0));
                EXPECT_EQ(after.Height,
                          before.Height + (bottom && (entry.Anchors & AnchorTop) ? dy : 0));
                // Position and size are rounded apart: away from 96 dpi a control that reaches
                // an edge by design may pass it by a pixel.
                const int slack = dpi == DesignDpi ? 0 : 1;
                EXPECT_GE(after.Left, 0);
                EXPECT_GE(after.Top, 0);
                EXPECT_LE(after.Right(), design.Width + dx + slack);
                EXPECT_LE(after.Bottom(), design.Height + dy + slack);
                for (const TLayoutEntry& other : WindowLayout) {
                    if (other.Page != entry.Page || other.Id == entry.Id) {
                        continue;
                    }
                    const TLayoutRect otherBefore =
                        ArrangeControl(other, design.Width, design.Height, dpi);
                    if (!Overlap(before, otherBefore)) {
                        EXPECT_FALSE(Overlap(after, ArrangeControl(other, design.Width + dx,
                                                                   design.Height + dy, dpi)))
                            << other.Name;
                    }
                }
            }
        }
    }
}

TEST(WindowLayout, NarrowingNeverGivesANegativeSize) {
    for (const TLayoutEntry& entry : WindowLayout) {
        const TLayoutRect r = ArrangeControl(entry, 10, 10, 96);
        EXPECT_GE(r.Width, 0) << entry.Name;
        EXPECT_GE(r.Height, 0) << entry.Name;
    }
}

TEST(WindowLayout, MinimumOuterSizeIs640By322At96Dpi) {
    EXPECT_EQ(MinimumOuterSize(96).Width, 640);
    EXPECT_EQ(MinimumOuterSize(96).Height, 322);
    EXPECT_EQ(MinimumOuterSize(192).Width, 1280);
}

TEST(WindowPlacementText, NamesCarryTheScreenSize) {
    EXPECT_EQ(PlacementValueName("MinMaxPos", 1920, 1080), "MinMaxPos(1920x1080)");
}

TEST(WindowPlacementText, NumbersRoundTripAndFallBackOneByOne) {
    const std::array<int, 4> numbers{-32000, -1, 100, 2000};
    EXPECT_EQ(FormatPlacementNumbers(numbers), "-32000,-1,100,2000");
    EXPECT_EQ(ParsePlacementNumbers("-32000,-1,100,2000", {0, 0, 0, 0}), numbers);
    EXPECT_EQ(ParsePlacementNumbers("10,x,30", {1, 2, 3, 4}), (std::array<int, 4>{10, 2, 30, 4}));
    EXPECT_EQ(ParsePlacementNumbers("", {1, 2, 3, 4}), (std::array<int, 4>{1, 2, 3, 4}));
    EXPECT_EQ(ParsePlacementNumbers("5,,7,8", {1, 2, 3, 4}), (std::array<int, 4>{5, 2, 7, 8}));
}

TEST(WindowLayout, MailLinkCarriesTheProgramNameAndVersionAsSubject) {
    EXPECT_EQ(MailToLink("someone@example.org"),
              "mailto:someone@example.org?Subject=Brindlecove v1.01");
}

} // namespace
} // namespace brindlecove
