// Start-up, settings and the window's lifecycle through the headless controls.
#include "FormTestBase.h"

#include <gmock/gmock.h>

namespace brindlecove::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST_F(FormTest, FirstStartWithoutASettingsFile) {
    Ras.AddEntry("Home");
    Ras.AddEntry("Office");
    TTestForm& form = Start({"Realtek PCIe GbE"});

    EXPECT_EQ(App.Title, "Brindlecove v1.01");
    EXPECT_EQ(App.Caption, "Brindlecove v1.01");
    EXPECT_EQ(form.lblName->Caption(), "Brindlecove v1.01");
    ASSERT_EQ(form.comboLocal->Count(), 3);
    ASSERT_EQ(form.comboInt->Count(), 3);
    EXPECT_EQ(form.comboLocal->ItemText(1), "Office");
    EXPECT_EQ(form.comboInt->ItemValue(1), 1);
    EXPECT_EQ(form.comboLocal->ItemValue(2), AdapterItemIndex);

    EXPECT_TRUE(form.cbEnabled->Checked());
    EXPECT_FALSE(form.cbEnabled->Enabled()) << "no connection chosen: the switch is greyed";
    EXPECT_TRUE(form.cbAutoReconnectLocal->Checked());
    EXPECT_TRUE(form.cbAutoReconnectInt->Checked());
    EXPECT_TRUE(form.cbAutoRoute->Checked());
    EXPECT_FALSE(form.cbMinimize->Checked());
    EXPECT_EQ(form.comboLocal->ItemIndex(), -1);
    EXPECT_EQ(form.comboInt->ItemIndex(), -1);
    EXPECT_FALSE(form.btnConnectLocal->Enabled());
    EXPECT_EQ(form.SupervisionOn(), 0);
    EXPECT_FALSE(form.RasManager1->PollTimer().Enabled());
    EXPECT_FALSE(form.btnSave->Enabled());
    EXPECT_FALSE(form.btnCancel->Enabled());
    EXPECT_TRUE(App.WindowVisible);
    EXPECT_FALSE(App.TrayIconVisible);
    EXPECT_THAT(App.MessageBoxes, IsEmpty());
    EXPECT_THAT(Log(), IsEmpty());
    EXPECT_TRUE(form.Timer1.Enabled());
    EXPECT_EQ(form.Timer1.Interval(), 1000u);
}

TEST_F(FormTest, ChosenConnectionsStartSupervisionBeforeTheWindowShows) {
    TwoEntriesChosen();
    Ras.Connect("Home");
    Ras.Connect("Office");
    TTestForm& form = Start();
    EXPECT_EQ(form.SupervisionOn(), 1);
    EXPECT_TRUE(form.RasManager1->PollTimer().Enabled());
    EXPECT_EQ(form.Builds, 1) << "both up at start: the routes are built at once";
    EXPECT_EQ(form.btnConnectLocal->Caption(), "Disconnect Local");
    EXPECT_FALSE(form.btnSave->Enabled());
}

TEST_F(FormTest, MinimisedStartShowsOnlyTheIconAndTheWindowComesBackFromIt) {
    Setting("MINIMIZE", "1");
    TTestForm& form = Start();
    EXPECT_FALSE(App.WindowVisible);
    EXPECT_TRUE(App.TrayIconVisible);

    form.Restore1Click();
    EXPECT_TRUE(App.WindowVisible);
    EXPECT_TRUE(App.TrayIconVisible) << "the icon stays once shown";

    form.FormClose();
    EXPECT_FALSE(App.WindowVisible);
    EXPECT_TRUE(App.TrayIconVisible);
    EXPECT_FALSE(App.Terminated) << "the close box only hides the window";
}

TEST_F(FormTest, CloseAsksOnlyAboutUnsavedSettings) {
    TwoEntriesChosen();
    TTestForm& form = Start();
    form.Button1->Click();
    EXPECT_THAT(App.MessageBoxes, IsEmpty());
    EXPECT_TRUE(App.Terminated);
    EXPECT_FALSE(form.RasManager1->PollTimer().Enabled()) << "monitoring stops before the end";

    for (const int answer : {IdYes, IdNo}) {
        App = THeadlessApplication{};
        Profile.Written.clear();
        TTestForm& again = Start();
        again.cbMinimize->Click();
        App.Answers = {answer};
        again.Close1Click();
        ASSERT_EQ(App.MessageBoxes.size(), 1u);
        EXPECT_EQ(App.MessageBoxes[0].Text, "Configuration has changed - save it before closing?");
        EXPECT_EQ(App.MessageBoxes[0].Caption, "Confirm");
        EXPECT_EQ(App.MessageBoxes[0].Type, MbYesNo | MbIconQuestion);
        EXPECT_EQ(Profile.Written.size(), answer == IdYes ? 7u : 0u);
        EXPECT_TRUE(App.Terminated);
    }
}

TEST_F(FormTest, EndOfSessionSavesSilentlyAndEndsAtOnce) {
    TwoEntriesChosen();
    TTestForm& form = Start();
    form.WMEndSession(false);
    EXPECT_FALSE(App.Halted);

    form.cbMinimize->Click();
    form.WMEndSession(true);
    EXPECT_TRUE(App.Halted);
    EXPECT_THAT(App.MessageBoxes, IsEmpty());
    EXPECT_EQ(Profile.Value(SettingsPath(), "MINIMIZE"), "1");
    EXPECT_TRUE(form.RasManager1->PollTimer().Enabled()) << "monitoring is not stopped";
}

TEST_F(FormTest, SettingsSurviveARestartWithTheirEncodings) {
    TwoEntriesChosen();
    TTestForm& form = Start({"Ethernet"});
    form.comboLocal->Select(2); // the adapter
    form.cbAutoReconnectInt->Click();
    form.cbMinimize->Click();
    form.btnSave->Click();
    EXPECT_THAT(Profile.Written, ElementsAre("ENABLED=1", "LOCALCONNECTION=Ethernet",
                                             "AUTORECONNECTLOCAL=1", "INTCONNECTION=Office",
                                             "AUTORECONNECTINT=0", "AUTOROUTE=1", "MINIMIZE=1"));
    EXPECT_FALSE(form.btnSave->Enabled());

    TTestForm& again = Start({"Ethernet"});
    EXPECT_EQ(again.comboLocal->Text(), "Ethernet");
    EXPECT_EQ(again.comboInt->Text(), "Office");
    EXPECT_FALSE(again.cbAutoReconnectInt->Checked());
    EXPECT_TRUE(again.cbMinimize->Checked());
    EXPECT_FALSE(again.btnConnectLocal->Enabled()) << "an adapter is never dialled";
}

TEST_F(FormTest, BooleansAreIntegersAndNamesIgnoreLetterCase) {
    Ras.AddEntry("Home");
    Ras.AddEntry("Office");
    Setting("ENABLED", "0x0");
    Setting("AUTORECONNECTLOCAL", "$1");
    Setting("AUTORECONNECTINT", "2");
    // Not numbers (a bare "x" is no hexadecimal prefix here): the defaults, true and false.
    Setting("AUTOROUTE", "x0");
    Setting("MINIMIZE", "X1");
    Setting("LOCALCONNECTION", "home");
    Setting("INTCONNECTION", "");
    TTestForm& form = Start();
    EXPECT_FALSE(form.cbEnabled->Checked());
    EXPECT_TRUE(form.cbAutoReconnectLocal->Checked());
    EXPECT_TRUE(form.cbAutoReconnectInt->Checked());
    EXPECT_TRUE(form.cbAutoRoute->Checked());
    EXPECT_FALSE(form.cbMinimize->Checked());
    EXPECT_EQ(form.comboLocal->Text(), "Home");
    EXPECT_EQ(form.comboInt->ItemIndex(), -1);

    Setting("AUTOROUTE", "0");
    Setting("LOCALCONNECTION", "Deleted entry");
    form.btnCancelClick();
    EXPECT_FALSE(form.cbAutoRoute->Checked());
    EXPECT_EQ(form.comboLocal->ItemIndex(), -1);
    form.SaveSettings();
    EXPECT_EQ(Profile.Value(SettingsPath(), "LOCALCONNECTION"), "");
    EXPECT_EQ(Profile.Value(SettingsPath(), "ENABLED"), "0");
}

TEST_F(FormTest, EveryChangeMarksTheSettingsModifiedUntilSaveOrCancel) {
    TwoEntriesChosen();
    TTestForm& form = Start();
    const auto modified = [&] {
        EXPECT_EQ(form.btnSave->Enabled(), form.btnCancel->Enabled());
        return form.btnSave->Enabled();
    };
    const std::vector<std::function<void()>> changes = {
        [&] { form.cbEnabled->Click(); },          [&] { form.cbAutoReconnectLocal->Click(); },
        [&] { form.cbAutoReconnectInt->Click(); }, [&] { form.cbAutoRoute->Click(); },
        [&] { form.cbMinimize->Click(); },         [&] { form.comboLocal->Select(1); },
        [&] { form.comboInt->Select(0); },
    };
    for (std::size_t i = 0; i < changes.size(); ++i) {
        form.btnCancelClick();
        ASSERT_FALSE(modified());
        changes[i]();
        EXPECT_TRUE(modified()) << "change " << i;
        changes[i]();
        EXPECT_TRUE(modified()) << "putting the old value back is a change too";
    }
    form.btnSaveClick();
    EXPECT_FALSE(modified());
}

TEST_F(FormTest, CancelPutsTheCheckMarksBackButLeavesSupervisionAlone) {
    TwoEntriesChosen();
    TTestForm& form = Start();
    ASSERT_EQ(form.SupervisionOn(), 1);
    form.cbEnabled->Click();
    EXPECT_EQ(form.SupervisionOn(), 0);
    EXPECT_FALSE(form.RasManager1->PollTimer().Enabled());

    form.comboInt->Select(0); // the same entry in both lists greys the switch
    EXPECT_FALSE(form.cbEnabled->Enabled());
    form.btnCancel->Click();
    EXPECT_TRUE(form.cbEnabled->Checked());
    EXPECT_EQ(form.comboInt->Text(), "Office");
    EXPECT_FALSE(form.cbEnabled->Enabled()) << "enabled states wait for the next change";
    EXPECT_EQ(form.SupervisionOn(), 0);
    EXPECT_FALSE(form.RasManager1->PollTimer().Enabled());
    EXPECT_FALSE(form.btnSave->Enabled());
}

TEST_F(FormTest, AKeyThatCannotBeWrittenIsReportedAndTheSettingsStayModified) {
    TwoEntriesChosen();
    TTestForm& form = Start();
    form.cbMinimize->Click();
    Profile.FailWriteAfter = 2;
    form.btnSave->Click();
    ASSERT_EQ(App.MessageBoxes.size(), 1u);
    EXPECT_EQ(App.MessageBoxes[0].Text, "Unable to write to " + SettingsPath() + ".");
    EXPECT_EQ(App.MessageBoxes[0].Caption, "Brindlecove v1.01");
    EXPECT_EQ(App.MessageBoxes[0].Type, MbOk | MbIconError);
    EXPECT_THAT(Profile.Written, ElementsAre("ENABLED=1", "LOCALCONNECTION=Home"));
    EXPECT_TRUE(form.btnSave->Enabled());
    EXPECT_TRUE(form.btnCancel->Enabled());

    // Closing asks, the save fails again: the program stays, nothing is lost.
    App.Answers = {IdYes};
    form.Button1->Click();
    EXPECT_FALSE(App.Terminated);
    EXPECT_EQ(App.MessageBoxes.back().Caption, "Brindlecove v1.01");
}

TEST_F(FormTest, AnUnreadableRouteFileIsReportedAndStartUpGoesOn) {
    System.Folders.insert(System.Folder + "localroutes.dat");
    Setting("MINIMIZE", "1");
    TTestForm& form = Start();
    ASSERT_EQ(App.MessageBoxes.size(), 1u);
    EXPECT_EQ(App.MessageBoxes[0].Caption, "Brindlecove v1.01");
    EXPECT_EQ(form.jvshRoutes.Count(), 879u);
    EXPECT_TRUE(form.cbMinimize->Checked()) << "the settings were still loaded";
    EXPECT_TRUE(App.TrayIconVisible);

    System.Folders.clear();
    System.Files[System.Folder + "localroutes.dat"] = "196.4.0.0,255.255.0.0\n";
    EXPECT_EQ(Start().jvshRoutes.Count(), 1u);
}

TEST_F(FormTest, APhonebookEntryWithoutPropertiesIsReportedOnceAndKept) {
    Ras.AddEntry("Home").SizeQueryResult = 0;
    TTestForm& form = Start();
    ASSERT_EQ(App.MessageBoxes.size(), 1u);
    // No full stop after a closing quote, as the runtime's error box has it.
    EXPECT_EQ(App.MessageBoxes[0].Text, "Call of RasGetEntryProperties failed for \"Home\"");
    EXPECT_EQ(form.comboLocal->ItemText(0), "Home");
    EXPECT_TRUE(App.WindowVisible);
}

TEST_F(FormTest, TheLogStampsEachLineAndEmptiesItselfPastAThousandLines) {
    System.Format = {'.', '-'};
    Clock = TVirtualClock(EncodeDateTime({2026, 12, 7, 14, 5, 9, 0}));
    TTestForm& form = Start();
    form.LogLine("hello");
    form.LogLine("");
    EXPECT_THAT(Memo().Lines(), ElementsAre("07.12.2026 14-05-09 hello", "07.12.2026 14-05-09 "));

    for (int i = 3; i <= 1000; ++i) {
        form.LogLine("line " + std::to_string(i));
    }
    EXPECT_EQ(Memo().LineCount(), 1000);
    EXPECT_EQ(Memo().ScrollPosition(), 999) << "the view shows its end";
    form.LogLine("the 1001st");
    EXPECT_EQ(Memo().LineCount(), 0) << "the line that passes the cap goes with the rest";
    form.LogLine("first again");
    EXPECT_THAT(Log(), ElementsAre("first again"));

    Memo().SetWidth(30); // a narrow window: a long line wraps and counts twice
    form.Memo1->Clear();
    for (int i = 0; i < 499; ++i) {
        form.LogLine("short");
    }
    form.LogLine(std::string(20, 'x')); // 40 characters with its stamp: two displayed lines
    EXPECT_EQ(Memo().LineCount(), 501);
    form.LogLine("short");
    EXPECT_EQ(Memo().LineCount(), 502);
}

} // namespace
} // namespace brindlecove::testing
