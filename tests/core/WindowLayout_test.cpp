// The main window's layout table and the arrangement of its controls for a window size and dpi.
#include "app/WindowLayout.h"

#include <gtest/gtest.h>

namespace brindlecove {
namespace {

constexpr int ClientW = DesignClientWidth;
constexpr int ClientH = DesignClientHeight;
constexpr int PageW = DesignPageWidth;
constexpr int PageH = DesignPageHeight;

TLayoutRect At(TControlId id, int width, int height, int dpi = 96) {
    return ArrangeControl(LayoutOf(id), width, height, dpi);
}

TEST(WindowLayout, TableHoldsOneEntryPerControlInOrder) {
    for (int i = 0; i < ControlCount; ++i) {
        EXPECT_EQ(static_cast<int>(WindowLayout[static_cast<std::size_t>(i)].Id), i);
    }
}

TEST(WindowLayout, DesignSizeGivesTheDesignPositions) {
    EXPECT_EQ(At(TControlId::cbEnabled, ClientW, ClientH), (TLayoutRect{16, 8, 129, 17}));
    EXPECT_EQ(At(TControlId::btnSave, ClientW, ClientH), (TLayoutRect{321, 8, 97, 25}));
    EXPECT_EQ(At(TControlId::btnCancel, ClientW, ClientH), (TLayoutRect{425, 8, 97, 25}));
    EXPECT_EQ(At(TControlId::Button1, ClientW, ClientH), (TLayoutRect{529, 8, 97, 25}));
    EXPECT_EQ(At(TControlId::JvLabel1, ClientW, ClientH), (TLayoutRect{95, 39, 531, 13}));
    EXPECT_EQ(At(TControlId::PageControl1, ClientW, ClientH), (TLayoutRect{0, 59, 633, 247}));
    EXPECT_EQ(At(TControlId::comboLocal, PageW, PageH), (TLayoutRect{104, 24, 354, 21}));
    EXPECT_EQ(At(TControlId::btnConnectInt, PageW, PageH), (TLayoutRect{473, 112, 137, 25}));
    EXPECT_EQ(At(TControlId::cbMinimize, PageW, PageH), (TLayoutRect{8, 192, 121, 17}));
    EXPECT_EQ(At(TControlId::lblDescription, PageW, PageH), (TLayoutRect{8, 96, 609, 65}));
}

TEST(WindowLayout, WideningKeepsRightAnchoredControlsAtTheirDistanceFromTheRightEdge) {
    const int wider = ClientW + 150;
    for (TControlId id :
         {TControlId::btnSave, TControlId::btnCancel, TControlId::Button1, TControlId::JvLabel1}) {
        const TLayoutRect design = At(id, ClientW, ClientH);
        const TLayoutRect wide = At(id, wider, ClientH + 40);
        EXPECT_EQ(wider - wide.Right(), ClientW - design.Right()) << static_cast<int>(id);
        EXPECT_EQ(wide.Width, design.Width);
        EXPECT_EQ(wide.Top, design.Top);
    }
    for (TControlId id :
         {TControlId::btnConnectLocal, TControlId::btnConnectInt, TControlId::btnRoutes}) {
        const TLayoutRect design = At(id, PageW, PageH);
        const TLayoutRect wide = At(id, PageW + 150, PageH);
        EXPECT_EQ(PageW + 150 - wide.Right(), PageW - design.Right());
        EXPECT_EQ(wide.Width, 137);
    }
}

TEST(WindowLayout, WideningStretchesCombosGroupBoxesPagesAndTheLog) {
    EXPECT_EQ(At(TControlId::comboLocal, PageW + 100, PageH).Width, 354 + 100);
    EXPECT_EQ(At(TControlId::comboInt, PageW + 100, PageH).Width, 354 + 100);
    EXPECT_EQ(At(TControlId::GroupBox1, PageW + 100, PageH).Width, 626 + 100);
    EXPECT_EQ(At(TControlId::GroupBox2, PageW + 100, PageH).Width, 626 + 100);
    EXPECT_EQ(At(TControlId::PageControl1, ClientW + 100, ClientH + 30),
              (TLayoutRect{0, 59, 733, 277}));
    EXPECT_EQ(At(TControlId::Memo1, PageW + 100, PageH + 30), (TLayoutRect{0, 0, 726, 249}));
    // Left-anchored controls stay where they are.
    EXPECT_EQ(At(TControlId::cbAutoRoute, PageW + 100, PageH + 30),
              At(TControlId::cbAutoRoute, PageW, PageH));
}

TEST(WindowLayout, NarrowingNeverGivesANegativeSize) {
    EXPECT_EQ(At(TControlId::comboLocal, 100, PageH).Width, 0);
}

TEST(WindowLayout, PositionsScaleWithTheScreenDpi) {
    const int dpi = 144; // 150 %
    EXPECT_EQ(At(TControlId::btnSave, ScaleToDpi(ClientW, dpi), ScaleToDpi(ClientH, dpi), dpi),
              (TLayoutRect{482, 12, 146, 38}));
    const TLayoutRect wide =
        At(TControlId::Button1, ScaleToDpi(ClientW, dpi) + 60, ScaleToDpi(ClientH, dpi), dpi);
    EXPECT_EQ(ScaleToDpi(ClientW, dpi) + 60 - wide.Right(), ScaleToDpi(ClientW, dpi) - 794 - 146);
    EXPECT_EQ(ScaleToDpi(97, 120), 121);
    EXPECT_EQ(ScaleToDpi(25, 96), 25);
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
