// The connection supervisor: passes, redials, dial errors, the pace and the automatic routes.
#include "FormTestBase.h"

#include <gmock/gmock.h>

namespace brindlecove::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const AuthText = "The remote connection was denied because the user name and "
                             "password combination you provided is not recognized.";

TEST_F(FormTest, FromADroppedConnectionToANewRoutingTable) {
    TwoEntriesChosen();
    Ras.Connect("Home");
    Ras.Connect("Office");
    TTestForm& form = Start();
    ASSERT_EQ(form.Builds, 1);
    ASSERT_TRUE(form.RoutesBuilt);
    Clock.Advance(1000);
    ASSERT_EQ(form.btnConnectLocal->Caption(), "Disconnect Local");
    form.Memo1->Clear();

    Ras.Disconnect("Home"); // the local link drops; the next poll notices
    Clock.Advance(1000);
    EXPECT_THAT(Log(),
                ElementsAre("Disconnected from Home",
                            "Attempting to connect to local connection Home", "Connected to Home",
                            "Creating routing table", "Finished creating routing table"));
    EXPECT_EQ(form.Builds, 2);
    EXPECT_TRUE(form.RoutesBuilt);
    EXPECT_EQ(form.btnConnectLocal->Caption(), "Connect Local") << "until the next pass";
    EXPECT_EQ(form.btnConnectLocal->Tag(), 0);

    Clock.Advance(1000);
    EXPECT_EQ(form.btnConnectLocal->Caption(), "Disconnect Local");
    EXPECT_EQ(form.btnConnectLocal->Tag(), 1);
    EXPECT_EQ(Log().size(), 5u);
}

TEST_F(FormTest, ARedialInsideAPassDropsItsOwnConnectPassButNotThePace) {
    TwoEntriesChosen();
    Ras.Connect("Office");
    Ras.Phonebook[0].DialResult = 678;
    TTestForm& form = Start();
    EXPECT_EQ(form.Timer1.Interval(), 5000u) << "the first redials failed";
    Ras.Phonebook[0].DialResult = 0;

    Clock.Advance(5000);
    EXPECT_EQ(form.Timer1.Interval(), 1000u) << "the connect event ran, its pass was dropped";
    EXPECT_TRUE(form.RasManager1->IsConnected(0));
    EXPECT_EQ(form.btnConnectLocal->Caption(), "Connect Local");
}

TEST_F(FormTest, AClickBuildsTheRoutesInsideItsConnectEventBeforeItLogsTheConnection) {
    TwoEntriesChosen();
    Setting("AUTORECONNECTLOCAL", "0");
    Ras.Connect("Office");
    TTestForm& form = Start();
    EXPECT_EQ(form.Builds, 0);
    form.btnConnectLocal->Click();
    EXPECT_THAT(Log(), ElementsAre("Creating routing table", "Finished creating routing table",
                                   "Connected to Home"));
}

TEST_F(FormTest, DialEntryHangsUpFirstAndLetsTheMessageLoopRunAroundTheDial) {
    TwoEntriesChosen();
    Setting("ENABLED", "0");
    auto& home = Ras.Phonebook[0];
    home.DialResult = 678;
    home.DialHandle = 0x31;
    TTestForm& form = Start();
    std::vector<std::string> seen;
    App.OnMessages = [&] { seen.push_back(std::to_string(Ras.CallCount("RasDial"))); };
    EXPECT_EQ(form.DialEntry(0), 678);
    EXPECT_THAT(seen, ElementsAre("0", "1"));
    EXPECT_EQ(Ras.CallCount("RasHangUp"), 0) << "no handle yet";
    form.DialEntry(0);
    EXPECT_THAT(Ras.HangUps, ElementsAre(0x31u)) << "the failed attempt's handle is released";
}

TEST_F(FormTest, AnErrorOtherThan691SlowsThePaceAndTheRedialsGoOn) {
    TwoEntriesChosen();
    Ras.Connect("Office");
    Ras.Phonebook[0].DialResult = 678;
    TTestForm& form = Start();
    // Two passes at start: the connect event of Office that monitoring reports, then the
    // switch's own pass.
    EXPECT_THAT(Log(), ElementsAre("Attempting to connect to local connection Home",
                                   "error: Home -> 678 The remote computer did not respond.",
                                   "Attempting to connect to local connection Home",
                                   "error: Home -> 678 The remote computer did not respond."));
    EXPECT_EQ(form.Timer1.Interval(), 5000u);
    EXPECT_TRUE(form.cbAutoReconnectLocal->Checked());
    EXPECT_THAT(App.MessageBoxes, IsEmpty());

    Clock.Advance(4999);
    EXPECT_EQ(Ras.CallCount("RasDial"), 2);
    Clock.Advance(1);
    EXPECT_EQ(Ras.CallCount("RasDial"), 3);
}

TEST_F(FormTest, ARejectedPasswordSwitchesTheRedialOffWithAWarning) {
    TwoEntriesChosen();
    Ras.Phonebook[0].DialResult = 691;
    TTestForm& form = Start();
    EXPECT_THAT(Log(),
                ElementsAre("Attempting to connect to local connection Home",
                            std::string("error: Home -> 691 ") + AuthText,
                            "Auto connect to LOCAL connection disabled due to connection error",
                            "Attempting to connect to International connection Office",
                            "Connected to Office"));
    EXPECT_FALSE(form.cbAutoReconnectLocal->Checked());
    ASSERT_FALSE(App.MessageBoxes.empty());
    const TMessageBox& box = App.MessageBoxes[0];
    EXPECT_EQ(box.Caption, "Warning");
    EXPECT_EQ(box.Type, MbOk | MbIconWarning);
    EXPECT_EQ(box.Text, "Could not connect to Home (invalid username/password). \r\rMake sure you "
                        "connect manually and select the 'save password' option - this will "
                        "enable Brindlecove to auto connect next time.\r\r(Auto connect to LOCAL "
                        "connection disabled due to connection error)");
    EXPECT_FALSE(form.btnSave->Enabled()) << "start-up ends with SetModified(false)";

    const int dials = Ras.CallCount("RasDial");
    Clock.Advance(20000);
    EXPECT_EQ(Ras.CallCount("RasDial"), dials) << "no more redials of that entry";
}

// What a service manager is told: one line whenever the state of the links changes, and only then.
TEST_F(FormTest, TheStatusLineIsToldWhenTheLinksChangeAndOnlyThen) {
    TwoEntriesChosen();
    Ras.Connect("Home");
    Ras.Connect("Office");
    TTestForm& form = Start();
    std::vector<std::string> told;
    form.OnStatusChange = [&](const std::string& status) { told.push_back(status); };
    Clock.Advance(3000);
    const std::string built = "local Home up, international Office up, routes built ";
    ASSERT_EQ(told.size(), 1u)
        << "the next pass tells a new listener the state, later ones nothing";
    EXPECT_EQ(told[0].substr(0, built.size()), built);
    EXPECT_EQ(told[0].size(), built.size() + 8) << told[0];
    told.clear();

    Ras.Phonebook[0].DialResult = 691;
    Ras.Disconnect("Home");
    Clock.Advance(3000);
    form.cbEnabled->SetChecked(false);
    EXPECT_THAT(told, ElementsAre("local Home down (redialling), international Office up",
                                  "local Home down, international Office up", "supervision off"));
}

TEST_F(FormTest, A691WhileAnotherEntryIsUpPutsThePaceBackAtOnce) {
    TwoEntriesChosen();
    Ras.Connect("Office");
    TTestForm& form = Start();
    Ras.Phonebook[0].DialResult = 691;
    Ras.Disconnect("Home");
    form.btnSaveClick();
    Clock.Advance(1000);
    EXPECT_FALSE(form.cbAutoReconnectLocal->Checked());
    EXPECT_TRUE(form.btnSave->Enabled()) << "the cleared box is an unsaved change";
    EXPECT_EQ(form.Timer1.Interval(), 1000u)
        << "clearing the box restarted monitoring, whose connect event reset the pace";
}

TEST_F(FormTest, The691OfAnEntryChosenOnBothSidesClearsBothBoxes) {
    Ras.AddEntry("Home").DialResult = 691;
    Setting("LOCALCONNECTION", "Home");
    Setting("INTCONNECTION", "Home");
    TTestForm& form = Start();
    EXPECT_FALSE(form.cbEnabled->Enabled());
    form.btnConnectInt->Click();
    EXPECT_THAT(Log(), ElementsAre(std::string("error: Home -> 691 ") + AuthText,
                                   "Auto connect to LOCAL connection disabled due to connection "
                                   "error",
                                   "Auto connect to INTERNATIONAL connection disabled due to "
                                   "connection error"));
    EXPECT_FALSE(form.cbAutoReconnectLocal->Checked());
    EXPECT_FALSE(form.cbAutoReconnectInt->Checked());
    ASSERT_EQ(App.MessageBoxes.size(), 1u);
    EXPECT_TRUE(App.MessageBoxes[0].Text.ends_with(
        "\r\r(Auto connect to INTERNATIONAL connection disabled due to connection error)"));
}

TEST_F(FormTest, AnUnavailableDialIsLoggedAsMinusOneWithoutText) {
    TwoEntriesChosen();
    Setting("ENABLED", "0");
    Ras.MissingFunctions = {"RasDial", "RasGetErrorString"};
    TTestForm& form = Start();
    form.btnConnectLocal->Click();
    EXPECT_THAT(Log(), ElementsAre("error: Home -> -1 "));
    EXPECT_EQ(form.Timer1.Interval(), 5000u);
}

TEST_F(FormTest, AdaptersCountAsUp) {
    Ras.AddEntry("Office");
    Setting("LOCALCONNECTION", "Ethernet");
    Setting("INTCONNECTION", "Office");
    Setting("AUTORECONNECTINT", "0");
    TTestForm& form = Start({"Ethernet", "Wireless"});
    EXPECT_EQ(form.Builds, 0);
    EXPECT_FALSE(form.btnConnectLocal->Enabled());
    form.btnConnectInt->Click();
    EXPECT_EQ(form.Builds, 1) << "built as soon as the dial-up side is up";
    EXPECT_EQ(form.btnConnectLocal->Caption(), "Connect Local") << "an adapter's button is left";

    Setting("INTCONNECTION", "Wireless");
    TTestForm& adapters = Start({"Ethernet", "Wireless"});
    EXPECT_EQ(adapters.Builds, 1) << "two adapters: built in the first pass";
    Clock.Advance(3000);
    EXPECT_EQ(adapters.Builds, 1) << "once per pair of connections";
}

TEST_F(FormTest, ABuildThatFindsNoAdapterIsTriedInEveryPass) {
    TwoEntriesChosen();
    Ras.Connect("Home");
    Ras.Connect("Office");
    Form = std::make_unique<TTestForm>(Services());
    Form->BuildFindsAdapters = false;
    Form->FormCreate();
    const int atStart = Form->Builds; // each start-up pass tried
    EXPECT_GE(atStart, 1);
    Clock.Advance(3000);
    EXPECT_EQ(Form->Builds, atStart + 3);
    EXPECT_THAT(Log(), IsEmpty());
}

TEST_F(FormTest, ADisconnectOfAnUnchosenEntryKeepsTheRoutes) {
    TwoEntriesChosen();
    Ras.AddEntry("Spare");
    Ras.Connect("Home");
    Ras.Connect("Office");
    Ras.Connect("Spare");
    TTestForm& form = Start();
    ASSERT_TRUE(form.RoutesBuilt);
    Ras.Disconnect("Spare");
    Clock.Advance(1000);
    EXPECT_THAT(Log(), ElementsAre("Creating routing table", "Finished creating routing table",
                                   "Disconnected from Spare"));
    EXPECT_TRUE(form.RoutesBuilt);
    EXPECT_EQ(form.Builds, 1);
}

TEST_F(FormTest, WithTheMasterSwitchOffOnlyTheButtonsWork) {
    TwoEntriesChosen();
    Setting("ENABLED", "0");
    TTestForm& form = Start();
    const int polls = Ras.CallCount("RasEnumConnections");
    Clock.Advance(5000);
    EXPECT_EQ(Ras.CallCount("RasEnumConnections"), polls) << "the manager does not poll";
    EXPECT_EQ(Ras.CallCount("RasDial"), 0);

    form.btnConnectLocal->Click();
    EXPECT_THAT(Log(), ElementsAre("Connected to Home"));
    EXPECT_EQ(form.btnConnectLocal->Caption(), "Disconnect Local")
        << "the click's connect event ran a pass";
    EXPECT_EQ(form.Builds, 0) << "no routes without the master switch";

    form.btnConnectLocal->Click(); // disconnect mode: hang up, log nothing
    EXPECT_EQ(Ras.HangUps.size(), 1u);
    Clock.Advance(5000);
    EXPECT_EQ(Log().size(), 1u) << "the drop goes unnoticed";
    EXPECT_EQ(form.btnConnectLocal->Caption(), "Disconnect Local");
}

TEST_F(FormTest, AListWithoutSelectionIsLeftOutOfThePass) {
    Ras.AddEntry("Home");
    Ras.AddEntry("Office");
    Setting("INTCONNECTION", "Office");
    TTestForm& form = Start();
    form.btnConnectInt->Click();
    EXPECT_THAT(Log(), ElementsAre("Connected to Office"));
    EXPECT_EQ(form.btnConnectInt->Caption(), "Disconnect International");
    EXPECT_EQ(form.btnConnectLocal->Caption(), "Connect Local");
    EXPECT_EQ(form.Builds, 0);
}

TEST_F(FormTest, APassDialsTheEntriesSelectedWhenItBegan) {
    TwoEntriesChosen();
    Ras.AddEntry("Spare");
    // The user picks another international entry while the local dial blocks.
    Ras.DuringDial = [this](const std::string& entry) {
        if (entry == "Home") {
            Form->comboInt->Select(2);
        }
    };
    Start();
    ASSERT_GE(Ras.Dialled.size(), 2u);
    EXPECT_EQ(Ras.Dialled[0], "Home");
    EXPECT_EQ(Ras.Dialled[1], "Office");
}

TEST_F(FormTest, AConnectClickWithoutAnEntryEndsInTheErrorBox) {
    TwoEntriesChosen();
    // "Cancel Changes" reloads the selection but leaves the connect button enabled as it was.
    const auto clickAfterCancel = [this](const char* reloaded) {
        Setting("LOCALCONNECTION", "Home");
        TTestForm& form = Start({"Ethernet"});
        form.cbMinimize->Click();
        Setting("LOCALCONNECTION", reloaded);
        form.btnCancel->Click();
        const int dials = Ras.CallCount("RasDial");
        form.btnConnectLocal->Click();
        EXPECT_EQ(Ras.CallCount("RasDial"), dials);
    };
    clickAfterCancel("Ethernet");
    clickAfterCancel("Deleted entry");
    ASSERT_EQ(App.MessageBoxes.size(), 2u);
    EXPECT_EQ(App.MessageBoxes[0].Text, "List index out of bounds (2147483647)");
    EXPECT_EQ(App.MessageBoxes[1].Text, "List index out of bounds (-1)");
}

TEST_F(FormTest, ATickDuringATickIsDropped) {
    TwoEntriesChosen();
    Ras.Phonebook[0].DialResult = 678;
    Ras.Phonebook[1].DialResult = 678;
    TTestForm& form = Start();
    const int dials = Ras.CallCount("RasDial");
    int nested = 0;
    // The message loop runs inside each dial: let it deliver a whole second of ticks.
    App.OnMessages = [&] {
        if (nested++ == 0) {
            Clock.Advance(1000);
        }
        --nested;
    };
    Clock.Advance(5000);
    EXPECT_EQ(Ras.CallCount("RasDial"), dials + 2) << "one pass: each role dialled once";
    EXPECT_FALSE(form.Supervising());
}

} // namespace
} // namespace brindlecove::testing
