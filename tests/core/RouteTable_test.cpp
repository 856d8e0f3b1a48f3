// The adapter lookup and the route table builder through the in-memory routing table.
#include "FormTestBase.h"
#include "routing/IPv4Text.h"

#include <algorithm>
#include <gmock/gmock.h>

namespace brindlecove::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* AdministratorMessage =
    "Brindlecove should be run as Administrator to function correctly on Vista.\r"
    "Please configure Brindlecove to run as an Administrator.\r\rTo do this:\r"
    "1. Right click on the Brindlecove shortcut/icon\r2. Click \"Properties\"\r"
    "3. Click \"Compatibility\"\r4. Enable the \"Run this program as an administrator\" option\r"
    "5. Click \"OK\".";

class RouteTable : public FormTest {
protected:
    std::unique_ptr<TfrmBrindlecove> Real;

    RouteTable() {
        IpHelper.Adapters = {{"Telkom ADSL", 7, "196.4.160.7", "196.4.160.1"},
                             {"WAN Miniport", 9, "0.0.0.0", ""},
                             {"Intl Link", 12, "41.0.0.9", "41.0.0.1"}};
        // Defaults on several interfaces, and a route that must stay.
        IpHelper.AddRoute("0.0.0.0", "0.0.0.0", "192.168.1.1", 3, 1);
        IpHelper.AddRoute("0.0.0.0", "0.0.0.0", "10.0.0.1", 4, 20);
        IpHelper.AddRoute("192.168.1.0", "255.255.255.0", "0.0.0.0", 3, 1);
        Registry.Values = {"0.0.0.0,0.0.0.0,192.168.1.1,1", "10.20.0.0,255.255.0.0,10.0.0.1,1"};
    }

    // The window with its real adapter lookup and builder.
    TfrmBrindlecove& StartReal() {
        Real = std::make_unique<TfrmBrindlecove>(Services());
        Real->FormCreate();
        return *Real;
    }
    TfrmBrindlecove& Chosen(const std::string& local, const std::string& international) {
        Setting("LOCALCONNECTION", local);
        Setting("INTCONNECTION", international);
        Setting("ENABLED", "0");
        return StartReal();
    }
    std::vector<std::string> RealLog() const {
        std::vector<std::string> messages;
        for (const std::string& line : LogOf(*Real).Lines()) {
            messages.push_back(line.substr(20));
        }
        return messages;
    }
    std::vector<std::string> CreateCalls() const {
        std::vector<std::string> creates;
        for (const std::string& call : IpHelper.Calls) {
            if (call.rfind("create ", 0) == 0) {
                creates.push_back(call.substr(7));
            }
        }
        return creates;
    }
};

TEST_F(RouteTable, AdaptersFollowTheEntriesOnceEach) {
    Ras.AddEntry("Home");
    IpHelper.Adapters.push_back({"HOME", 15, "10.5.5.5", ""});        // an entry's name
    IpHelper.Adapters.push_back({"telkom adsl", 16, "10.6.6.6", ""}); // an earlier adapter
    TfrmBrindlecove& form = StartReal();
    ASSERT_EQ(form.comboLocal->Count(), 4);
    EXPECT_EQ(form.comboLocal->ItemText(0), "Home");
    EXPECT_EQ(form.comboLocal->ItemText(1), "Telkom ADSL");
    EXPECT_EQ(form.comboInt->ItemText(3), "Intl Link");
    EXPECT_EQ(form.comboInt->ItemValue(2), AdapterItemIndex);

    IpHelper.Adapters.clear();
    EXPECT_EQ(StartReal().comboLocal->Count(), 1) << "no adapters: only the entries";
}

TEST_F(RouteTable, TheButtonChecksItsThreePreconditions) {
    Ras.AddEntry("Home");
    TfrmBrindlecove& form = StartReal();
    form.btnRoutes->Click();
    form.comboLocal->SetItemIndex(1);
    form.comboInt->SetItemIndex(1);
    form.btnRoutes->Click();
    form.comboLocal->SetItemIndex(0); // Home, not connected
    form.btnRoutes->Click();
    ASSERT_EQ(App.MessageBoxes.size(), 3u);
    EXPECT_EQ(App.MessageBoxes[0].Text, "No connections to route.");
    EXPECT_EQ(App.MessageBoxes[1].Text, "Please select 2 different connections.");
    EXPECT_EQ(App.MessageBoxes[2].Text, "Both connections must be connected.");
    for (const TMessageBox& box : App.MessageBoxes) {
        EXPECT_EQ(box.Caption, "Warning");
        EXPECT_EQ(box.Type, MbOk | MbIconWarning);
    }
    EXPECT_THAT(CreateCalls(), IsEmpty());
    EXPECT_EQ(std::count(IpHelper.Calls.begin(), IpHelper.Calls.end(), "table"), 0);
}

TEST_F(RouteTable, ABuildReplacesTheDefaultRoutesAndRoutesTheListLocally) {
    TfrmBrindlecove& form = Chosen("Telkom ADSL", "Intl Link");
    form.btnRoutes->Click();
    EXPECT_THAT(RealLog(),
                ElementsAre("Creating routing table", "Finished creating routing table"));
    EXPECT_TRUE(form.RoutesBuilt);
    EXPECT_EQ(form.LocalIfIndex, "7");
    EXPECT_EQ(form.IntIfIndex, "12");
    EXPECT_THAT(IpHelper.RoutesTo("0.0.0.0"),
                ElementsAre("0.0.0.0/0.0.0.0 via 196.4.160.1 if 7 metric 2",
                            "0.0.0.0/0.0.0.0 via 41.0.0.1 if 12 metric 1"));
    EXPECT_EQ(IpHelper.RoutesTo("192.168.1.0").size(), 1u) << "other routes stay";
    EXPECT_THAT(Registry.Deleted,
                ElementsAre("0.0.0.0,0.0.0.0,192.168.1.1,1", "0.0.0.0,0.0.0.0,10.0.0.1,20"));
    EXPECT_EQ(Registry.Values.count("10.20.0.0,255.255.0.0,10.0.0.1,1"), 1u);

    const std::vector<std::string> creates = CreateCalls();
    ASSERT_EQ(creates.size(), 2u + 878u);
    EXPECT_EQ(creates[2], "106.152.0.0/255.255.255.0 via 196.4.160.1 if 7 metric 2")
        << "the three-part network reaches the system as inet_addr reads it";
    EXPECT_EQ(creates.back(), "216.162.42.0/255.255.255.0 via 196.4.160.1 if 7 metric 2");
    EXPECT_THAT(App.MessageBoxes, IsEmpty());

    // Twice in a row: the same table, no line per route.
    const auto before = IpHelper.Routes.size();
    form.BuildRoutingTable();
    EXPECT_EQ(IpHelper.Routes.size(), before);
    EXPECT_EQ(RealLog().size(), 4u);
}

TEST_F(RouteTable, OnVistaAndLaterMetricsBelowFiftyAreRaised) {
    IpHelper.MajorVersion = 6;
    TfrmBrindlecove& form = Chosen("Telkom ADSL", "Intl Link");
    form.jvshRoutes.SetText("");
    form.BuildRoutingTable();
    EXPECT_THAT(IpHelper.RoutesTo("0.0.0.0"),
                ElementsAre("0.0.0.0/0.0.0.0 via 196.4.160.1 if 7 metric 52",
                            "0.0.0.0/0.0.0.0 via 41.0.0.1 if 12 metric 51"));
    form.AddRoute("10.0.0.0", "255.0.0.0", "10.1.1.1", "60", "7");
    form.AddRoute("10.1.0.0", "255.255.0.0", "10.1.1.1", "x", "7");
    form.AddRoute("10.2.0.0", "255.255.0.0", "10.1.1.1", "", "7");
    EXPECT_THAT(IpHelper.RoutesTo("10.0.0.0"), ElementsAre(::testing::EndsWith("metric 60")));
    EXPECT_THAT(IpHelper.RoutesTo("10.1.0.0"), ElementsAre(::testing::EndsWith("metric 51")));
    EXPECT_THAT(IpHelper.RoutesTo("10.2.0.0"), ElementsAre(::testing::EndsWith("metric 51")));
}

TEST_F(RouteTable, DialUpEntriesAreFoundByTheirAddressAndRoutedToTheirServer) {
    Ras.AddEntry("Local");
    Ras.AddEntry("International");
    Ras.Connect("Local", "196.4.160.7", "196.4.160.254");
    TfrmBrindlecove& form = Chosen("Local", "Intl Link");
    form.jvshRoutes.SetText("196.4.0.0,255.255.0.0");
    form.BuildRoutingTable();
    EXPECT_EQ(form.LocalIfIndex, "7");
    EXPECT_THAT(IpHelper.RoutesTo("196.4.0.0"),
                ElementsAre("196.4.0.0/255.255.0.0 via 196.4.160.254 if 7 metric 2"));
}

TEST_F(RouteTable, AnEntryWithoutAnAddressYetMatchesNoAdapter) {
    // Right after a dial the entry still shows 0.0.0.0, as does every adapter without an
    // address: that must not pick the unrelated "WAN Miniport".
    Ras.AddEntry("Local");
    Ras.Phonebook[0].DialIpAddress = "0.0.0.0";
    TfrmBrindlecove& form = Chosen("Local", "Intl Link");
    ASSERT_EQ(form.RasManager1->Dial(0), 0);
    form.btnRoutes->Click();
    EXPECT_EQ(form.LocalIfIndex, "");
    EXPECT_FALSE(form.RoutesBuilt);
    EXPECT_THAT(RealLog(), IsEmpty());
    EXPECT_THAT(CreateCalls(), IsEmpty());
    EXPECT_EQ(std::count(IpHelper.Calls.begin(), IpHelper.Calls.end(), "table"), 0)
        << "nothing deleted";
}

TEST_F(RouteTable, TheLastAdapterOfADescriptionWins) {
    IpHelper.Adapters.push_back({"Intl Link", 21, "41.0.0.10", "41.0.0.2"});
    TfrmBrindlecove& form = Chosen("Telkom ADSL", "Intl Link");
    form.jvshRoutes.SetText("");
    form.BuildRoutingTable();
    EXPECT_EQ(form.IntIfIndex, "21");
    EXPECT_THAT(IpHelper.RoutesTo("0.0.0.0"),
                ::testing::Contains("0.0.0.0/0.0.0.0 via 41.0.0.2 if 21 metric 1"));
}

TEST_F(RouteTable, EveryRefusalHasItsLogLine) {
    TfrmBrindlecove& form = Chosen("Telkom ADSL", "Intl Link");
    form.jvshRoutes.SetText("10.0.0.0,255.0.0.0\n10.1.0.0,255.255.0.0\n10.2.0.0,255.255.0.0\n"
                            "10.3.0.0,255.255.0.0\n10.0.0.1,255.0.0.0\n10.4.0.0,255.255.0.0");
    IpHelper.CreateResults = {{"10.0.0.0", 5010},
                              {"10.1.0.0", 50},
                              {"10.2.0.0", 87},
                              {"10.3.0.0", 1234},
                              {"10.4.0.0", 5}};
    IpHelper.LastError = 1234;
    IpHelper.ErrorTexts[1234] = "The route is odd.\r\n";
    form.BuildRoutingTable();
    EXPECT_THAT(RealLog(),
                ElementsAre("Creating routing table",
                            "ERROR: The IP transport is not configured on the local computer, "
                            "(10.1.0.0,255.255.0.0,196.4.160.1,2,7)",
                            "ERROR: Invalid parameter, (10.2.0.0,255.255.0.0,196.4.160.1,2,7)",
                            " ERROR: The route is odd, (10.3.0.0,255.255.0.0,196.4.160.1,2,7) 1234",
                            "Bad IP/Mask: 10.0.0.1,255.0.0.0, IP and MASK = 10.0.0.0",
                            "ERROR: Access denied. Run application as Administrator, "
                            "(10.4.0.0,255.255.0.0,196.4.160.1,2,7)",
                            "Finished creating routing table"));
    EXPECT_TRUE(form.AccessDenied);
    ASSERT_EQ(App.MessageBoxes.size(), 1u);
    EXPECT_EQ(App.MessageBoxes[0].Text, AdministratorMessage);
    EXPECT_EQ(App.MessageBoxes[0].Caption, "Warning");
}

TEST_F(RouteTable, WithoutAnInterfaceIndexTheBestInterfaceIsAsked) {
    TfrmBrindlecove& form = Chosen("Telkom ADSL", "Intl Link");
    IpHelper.BestInterfaceResult = 50;
    form.AddRoute("10.0.0.0", "255.0.0.0", "10.1.1.1", "", "");
    IpHelper.BestInterfaceResult = 1003;
    form.AddRoute("10.0.0.0", "255.0.0.0", "10.1.1.1", "3", "");
    IpHelper.BestInterfaceResult = 1168;
    IpHelper.LastError = 1168;
    IpHelper.ErrorTexts[1168] = "Element not found. ";
    form.AddRoute("10.0.0.0", "255.0.0.0", "10.1.1.1", "", "");
    form.AddRoute("10.0.0.0", "255.0.0.0", "10.1.1.1", "", "seven");
    EXPECT_THAT(
        RealLog(),
        ElementsAre("ERROR: GetBestInterface not supported, (10.0.0.0,255.0.0.0,10.1.1.1,,)",
                    "Interface is not found, (10.0.0.0,255.0.0.0,10.1.1.1,,)",
                    "ERROR: GetBestInterface can not complete, "
                    "(10.0.0.0,255.0.0.0,10.1.1.1,3,)",
                    "Interface is not found, (10.0.0.0,255.0.0.0,10.1.1.1,3,)",
                    "ERROR: Element not found, (10.0.0.0,255.0.0.0,10.1.1.1,,)",
                    "Interface is not found, (10.0.0.0,255.0.0.0,10.1.1.1,,)",
                    "Interface is not found, (10.0.0.0,255.0.0.0,10.1.1.1,,seven)"));
    EXPECT_THAT(CreateCalls(), IsEmpty());

    IpHelper.BestInterfaceResult = 0;
    IpHelper.BestInterfaceIndex = 12;
    form.AddRoute("10.0.0.0", "255.0.0.0", "10.1.1.1", "", "");
    EXPECT_THAT(CreateCalls(), ElementsAre("10.0.0.0/255.0.0.0 via 10.1.1.1 if 12 metric 1"));
    EXPECT_THAT(IpHelper.Calls, ::testing::Contains("best 10.1.1.1"));
}

TEST_F(RouteTable, RefusedRightsStillFinishTheBuildAndWarnOncePerBuild) {
    TfrmBrindlecove& form = Chosen("Telkom ADSL", "Intl Link");
    static_cast<THeadlessLogView&>(*form.Memo1).SetWidth(400); // a wide window: no wrapping
    IpHelper.CreateResults = {{"*", 5}};
    form.BuildRoutingTable();
    const std::vector<std::string> log = RealLog();
    EXPECT_EQ(log.size(), 2u + 880u);
    EXPECT_EQ(log.back(), "Finished creating routing table");
    EXPECT_EQ(log[0], "ERROR: Access denied. Run application as Administrator, "
                      "(0.0.0.0,0.0.0.0,196.4.160.1,2,7)");
    EXPECT_TRUE(form.RoutesBuilt);
    EXPECT_EQ(App.MessageBoxes.size(), 1u);
    form.BuildRoutingTable();
    EXPECT_EQ(App.MessageBoxes.size(), 2u);
}

TEST_F(RouteTable, AnUnreadableTableLeavesTheOldDefaultsAndAGrowingOneIsReadAgain) {
    TfrmBrindlecove& form = Chosen("Telkom ADSL", "Intl Link");
    form.jvshRoutes.SetText("");
    IpHelper.ForwardTableResult = 1;
    form.BuildRoutingTable();
    EXPECT_EQ(IpHelper.RoutesTo("0.0.0.0").size(), 4u) << "old defaults stay, new ones added";
    EXPECT_TRUE(form.RoutesBuilt);

    IpHelper.ForwardTableResult = 0;
    IpHelper.GrowTableBeforeRead = 40; // a burst of new routes between size and read
    EXPECT_TRUE(form.DeleteRoutes("0.0.0.0", "0.0.0.0"));
    EXPECT_THAT(IpHelper.RoutesTo("0.0.0.0"), IsEmpty());
}

// ---- The route watch -------------------------------------------------------------------------

class RouteWatch : public RouteTable {
protected:
    // Supervising the two connections with automatic routing: the first pass builds.
    TfrmBrindlecove& Supervised(const std::string& local, const std::string& international) {
        Setting("LOCALCONNECTION", local);
        Setting("INTCONNECTION", international);
        TfrmBrindlecove& form = StartReal();
        static_cast<THeadlessLogView&>(*form.Memo1).SetWidth(400);
        return form;
    }
    void Remove(const std::string& dest, DWORD ifIndex) {
        std::erase_if(IpHelper.Routes, [&](const MIB_IPFORWARDROW& row) {
            return IntToIP(row.dwForwardDest) == dest && row.dwForwardIfIndex == ifIndex;
        });
    }
    int Builds() const {
        const auto log = RealLog();
        return static_cast<int>(std::count(log.begin(), log.end(), "Creating routing table"));
    }
};

TEST_F(RouteWatch, WhatABuildMadeIsBroughtBackWhenItGoesOrChangesButRefusedRoutesAreNotAsked) {
    IpHelper.CreateResults["106.152.0.0"] = winerror::InvalidParameter;
    TfrmBrindlecove& form = Supervised("Telkom ADSL", "Intl Link");
    ASSERT_TRUE(form.RoutesBuilt);
    Clock.Advance(3000);
    ASSERT_EQ(Builds(), 1) << "a refused route is not expected in the table";

    const auto rebuiltFor = [&](const std::string& change) {
        form.Memo1->Clear();
        Clock.Advance(1000);
        const auto log = RealLog();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log.front(), "Routing table changed (" + change + "), rebuilding");
        EXPECT_EQ(log.back(), "Finished creating routing table");
        Clock.Advance(3000);
        EXPECT_EQ(Builds(), 1) << change << ": one rebuild, then the table stands";
    };
    Remove("216.162.42.0", 7);
    Remove("0.0.0.0", 12);
    rebuiltFor("2 routes missing");
    EXPECT_EQ(IpHelper.RoutesTo("216.162.42.0").size(), 1u);
    EXPECT_THAT(IpHelper.RoutesTo("0.0.0.0"),
                ElementsAre("0.0.0.0/0.0.0.0 via 196.4.160.1 if 7 metric 2",
                            "0.0.0.0/0.0.0.0 via 41.0.0.1 if 12 metric 1"));

    for (MIB_IPFORWARDROW& row : IpHelper.Routes) {
        if (row.dwForwardDest == 0 && row.dwForwardIfIndex == 12) {
            row.dwForwardMetric1 = 30;
        }
    }
    rebuiltFor("1 route changed");
    IpHelper.AddRoute("0.0.0.0", "0.0.0.0", "192.168.1.1", 3, 0); // a DHCP client's, say
    rebuiltFor("1 other default route added");
    EXPECT_EQ(IpHelper.RoutesTo("0.0.0.0").size(), 2u);

    IpHelper.Adapters[0].Gateway = "196.4.160.254";
    rebuiltFor("local adapter changed");
    EXPECT_THAT(IpHelper.RoutesTo("216.162.42.0"),
                Contains("216.162.42.0/255.255.255.0 via 196.4.160.254 if 7 metric 2"));
}

TEST_F(RouteWatch, WithoutRightsTheDefaultsLeftStandingAreNoChangeToRebuildFor) {
    IpHelper.CreateResults["*"] = winerror::AccessDenied;
    IpHelper.DeleteResult = winerror::AccessDenied;
    Supervised("Telkom ADSL", "Intl Link");
    // Each build tries both default routes first (its log is too long to count on).
    const auto builds = [this] {
        return std::count_if(IpHelper.Calls.begin(), IpHelper.Calls.end(),
                             [](const std::string& call) {
                                 return call.starts_with("create 0.0.0.0/0.0.0.0 via 41.");
                             });
    };
    ASSERT_EQ(builds(), 1);
    ASSERT_EQ(App.MessageBoxes.size(), 1u);
    Clock.Advance(10 * 60 * 1000);
    EXPECT_EQ(builds(), 1);
    EXPECT_EQ(App.MessageBoxes.size(), 1u) << "one administrator box, not one after each pause";

    Remove("0.0.0.0", 4); // an old default that did go is a change
    Clock.Advance(1000);
    EXPECT_EQ(builds(), 2);
}

TEST_F(RouteWatch, ARebuildUndoneAtOnceWaitsLongerEachTimeUntilTheTableStands) {
    IpHelper.CreateResults["*"] = winerror::Success; // a system that keeps no route it is given
    TfrmBrindlecove& form = Supervised("Telkom ADSL", "Intl Link");
    form.jvshRoutes.SetText("196.4.160.0,255.255.255.0");
    Clock.Advance(600000);
    // Built at 0 s and rebuilt at once at 1 s; then after pauses of 5 s, 30 s and 2 min: at 7,
    // 38, 159, 280, 401 and 522 s.
    EXPECT_EQ(Builds(), 8);
    const auto log = RealLog();
    EXPECT_EQ(std::count(log.begin(), log.end(),
                         "Routing table changed right after a rebuild: rebuilding after pauses "
                         "of 5 s, 30 s, then 2 min"),
              1);

    // The system keeps routes again: once the table stands, a change is mended at once.
    IpHelper.CreateResults.clear();
    Clock.Advance(121000);
    form.Memo1->Clear();
    Clock.Advance(2000);
    Remove("196.4.160.0", 7);
    Clock.Advance(1000);
    EXPECT_THAT(RealLog(),
                ElementsAre("Routing table changed (1 route missing), rebuilding",
                            "Creating routing table", "Finished creating routing table"));
}

TEST_F(RouteWatch, NothingIsWatchedOrAddedWhileAutomaticRoutingIsOff) {
    Setting("AUTOROUTE", "0");
    TfrmBrindlecove& form = Supervised("Telkom ADSL", "Intl Link");
    form.btnRoutes->Click();
    ASSERT_TRUE(form.RoutesBuilt);
    Remove("0.0.0.0", 12);
    Remove("0.0.0.0", 7);
    Clock.Advance(5000);
    EXPECT_THAT(RealLog(),
                ElementsAre("Creating routing table", "Finished creating routing table"));
    EXPECT_THAT(IpHelper.RoutesTo("0.0.0.0"), IsEmpty());
}

TEST_F(RouteWatch, ALoneConnectionGetsADefaultRouteOnlyWhereThereIsNone) {
    Ras.AddEntry("Home").DialResult = 678; // the local link cannot come up
    IpHelper.Adapters.push_back({"PPP Home", 20, "10.0.0.2", ""});
    TfrmBrindlecove& form = Supervised("Home", "Intl Link");
    Clock.Advance(5000);
    EXPECT_EQ(IpHelper.RoutesTo("0.0.0.0").size(), 2u) << "the defaults already there stay alone";

    Remove("0.0.0.0", 3);
    Remove("0.0.0.0", 4);
    form.Memo1->Clear();
    Clock.Advance(5000);
    EXPECT_THAT(RealLog(), Contains("Only the international connection is up: default route "
                                    "through it"));
    EXPECT_THAT(IpHelper.RoutesTo("0.0.0.0"),
                ElementsAre("0.0.0.0/0.0.0.0 via 41.0.0.1 if 12 metric 1"));

    // Both up: the full build takes over.
    Ras.Phonebook[0].DialResult = 0;
    Clock.Advance(5000);
    EXPECT_THAT(IpHelper.RoutesTo("0.0.0.0"),
                ElementsAre("0.0.0.0/0.0.0.0 via 10.0.0.1 if 20 metric 2",
                            "0.0.0.0/0.0.0.0 via 41.0.0.1 if 12 metric 1"));
}

} // namespace
} // namespace brindlecove::testing
