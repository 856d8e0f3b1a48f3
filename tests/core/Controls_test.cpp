#include "app/Controls.h"
#include "common/ListError.h"

#include <gtest/gtest.h>

namespace brindlecove {
namespace {

TEST(Controls, ACheckBoxSetFromCodeClicksOnlyOnAChange) {
    TCheckBox box(TControlId::cbEnabled, "Brindle Cove Enabled");
    int clicks = 0;
    box.OnClick = [&] { ++clicks; };
    box.SetChecked(false);
    EXPECT_EQ(clicks, 0);
    box.SetChecked(true);
    box.SetChecked(true);
    EXPECT_EQ(clicks, 1);
    box.Click();
    EXPECT_FALSE(box.Checked());
    EXPECT_EQ(clicks, 2);
    box.SetEnabled(false);
    box.Click();
    EXPECT_EQ(clicks, 2) << "a greyed box cannot be clicked";
    box.SetChecked(true);
    EXPECT_EQ(clicks, 3) << "but code still changes it, as a click";
}

TEST(Controls, AListSelectionFromCodeFiresNothing) {
    TComboBox list(TControlId::comboLocal);
    int changes = 0;
    list.OnChange = [&] { ++changes; };
    list.AddItem("Home", 0);
    list.AddItem("Office", 1);
    list.SetItemIndex(1);
    EXPECT_EQ(list.Text(), "Office");
    EXPECT_EQ(changes, 0);
    list.Select(0);
    EXPECT_EQ(changes, 1);
    list.SetItemIndex(7);
    EXPECT_EQ(list.ItemIndex(), -1) << "an index outside the list selects nothing";
    EXPECT_EQ(list.Text(), "");
    EXPECT_EQ(list.IndexOfText("OFFICE"), 1);
    EXPECT_EQ(list.IndexOfText("Offic"), -1);
    EXPECT_THROW(list.ItemValue(2), EListError);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ItemIndex(), -1);
}

TEST(Controls, AButtonClickRespectsItsEnabledState) {
    TButton button(TControlId::btnConnectLocal, "Connect Local");
    int clicks = 0;
    button.OnClick = [&] { ++clicks; };
    button.Click();
    button.SetEnabled(false);
    button.Click();
    EXPECT_EQ(clicks, 1);
    button.SetTag(1);
    button.SetCaption("Disconnect Local");
    EXPECT_EQ(button.Tag(), 1);
    EXPECT_EQ(button.Caption(), "Disconnect Local");
}

} // namespace
} // namespace brindlecove
