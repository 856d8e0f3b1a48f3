// The RAS connection manager through the in-memory RAS.
#include "ras/RasManager.h"
#include "testing/FakeRas.h"
#include "testing/VirtualClock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace brindlecove {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::TFakeRas;
using testing::TVirtualClock;

class RasManager : public ::testing::Test {
protected:
    TFakeRas Ras;
    TVirtualClock Clock;
    std::vector<std::string> Reports;
    std::vector<std::string> Events; // "connect NAME ip/server" or "disconnect NAME"
    std::unique_ptr<TRasManager> Manager;

    // Creates the manager and, as its owner does, assigns the handlers afterwards.
    TRasManager& Create() {
        Manager = std::make_unique<TRasManager>(
            Ras, Clock, Clock, [this](const std::string& msg) { Reports.push_back(msg); });
        Manager->OnConnect = [this](TRasManager& sender, TRasEntry& entry) {
            EXPECT_EQ(&sender, Manager.get());
            Events.push_back("connect " + entry.Name + " " + entry.IPAddress + "/" +
                             entry.ServerIPAddress);
            if (OnConnect) {
                OnConnect(entry);
            }
        };
        Manager->OnDisconnect = [this](TRasManager&, TRasEntry& entry) {
            Events.push_back("disconnect " + entry.Name);
            if (OnDisconnect) {
                OnDisconnect(entry);
            }
        };
        return *Manager;
    }
    std::function<void(TRasEntry&)> OnConnect;
    std::function<void(TRasEntry&)> OnDisconnect;

    int Index(const std::string& name) {
        for (int i = 0; i < Manager->EntryCount(); ++i) {
            if (Manager->EntryName(i) == name) {
                return i;
            }
        }
        throw std::logic_error("no entry " + name);
    }
};

TEST_F(RasManager, MirrorsThePhonebookOnceWithoutDuplicates) {
    Ras.AddEntry("Local");
    Ras.AddEntry("International");
    Ras.AddEntry("Local");
    Ras.AddEntry("LOCAL");
    TRasManager& manager = Create();
    ASSERT_EQ(manager.EntryCount(), 3);
    EXPECT_EQ(manager.EntryName(0), "Local");
    EXPECT_EQ(manager.EntryName(1), "International");
    EXPECT_EQ(manager.EntryName(2), "LOCAL");

    Ras.AddEntry("Later");
    manager.Poll();
    EXPECT_EQ(manager.EntryCount(), 3) << "entries are read once, at construction";
    EXPECT_EQ(Ras.CallCount("RasEnumEntries"), 1);
}

TEST_F(RasManager, ReadsEachEntrysPropertiesOnce) {
    auto& local = Ras.AddEntry("Local");
    local.PhoneNumber = "0860123456";
    local.AreaCode = "011";
    local.CountryCode = 27;
    local.DeviceType = "modem";
    local.DeviceName = std::string(200, 'D');  // longer than the field: cut at its size
    Ras.AddEntry("Tiny").PropertiesSize = 100; // RAS asks for less than the structure
    Ras.AddEntry("Broken").PropertiesResult = 87;
    TRasManager& manager = Create();

    const TRasEntry& entry = manager.Entries().Items(0);
    EXPECT_EQ(entry.PhoneNumber, "0860123456");
    EXPECT_EQ(entry.AreaCode, "011");
    EXPECT_EQ(entry.CountryCode, 27);
    EXPECT_EQ(entry.DeviceType, "modem");
    EXPECT_EQ(entry.DeviceName, std::string(128, 'D'));
    EXPECT_EQ(manager.Entries().Items(1).DeviceType, "PPPoE");
    const TRasEntry& broken = manager.Entries().Items(2);
    EXPECT_EQ(broken.DeviceName, "");
    EXPECT_EQ(broken.CountryCode, 0);
    EXPECT_THAT(Reports, IsEmpty()) << "a failing second call only leaves the fields empty";
}

TEST_F(RasManager, EntriesWhosePropertiesCannotBeQueriedAreKeptAndReportedOnce) {
    Ras.AddEntry("Local").SizeQueryResult = 0;
    Ras.AddEntry("International");
    Ras.AddEntry("Spare").SizeQueryResult = 623;
    TRasManager& manager = Create();
    ASSERT_EQ(manager.EntryCount(), 3);
    EXPECT_EQ(manager.Entries().Items(0).DeviceName, "");
    EXPECT_EQ(manager.Entries().Items(1).DeviceName, "WAN Miniport (PPPOE)");
    EXPECT_THAT(Reports, ElementsAre("Call of RasGetEntryProperties failed for \"Local\"\r\n"
                                     "Call of RasGetEntryProperties failed for \"Spare\""));
}

TEST_F(RasManager, AConnectionUpAtStartIsReportedWhenMonitoringStarts) {
    Ras.AddEntry("Local");
    Ras.AddEntry("International");
    Ras.Connect("International", "196.4.160.7", "196.4.160.1");
    TRasManager& manager = Create();

    EXPECT_TRUE(manager.IsConnected(1));
    EXPECT_EQ(manager.LocalAddress(1), "196.4.160.7");
    EXPECT_EQ(manager.ServerAddress(1), "196.4.160.1");
    EXPECT_FALSE(manager.IsConnected(0));
    EXPECT_EQ(manager.LocalAddress(0), "0.0.0.0");
    EXPECT_THAT(Events, IsEmpty());
    EXPECT_FALSE(manager.PollTimer().Enabled());

    manager.StartMonitoring();
    manager.StartMonitoring();
    EXPECT_THAT(Events, ElementsAre("connect International 196.4.160.7/196.4.160.1",
                                    "connect International 196.4.160.7/196.4.160.1"));
    EXPECT_TRUE(manager.PollTimer().Enabled());
}

TEST_F(RasManager, PollsEverySecondAndRaisesOneEventPerChange) {
    Ras.AddEntry("Local").PhoneNumber = "123";
    Ras.AddEntry("International");
    TRasManager& manager = Create();
    manager.StartMonitoring();
    const int polls = Ras.CallCount("RasEnumConnections");

    Clock.Advance(999);
    EXPECT_EQ(Ras.CallCount("RasEnumConnections"), polls);
    Ras.Connect("Local", "41.0.0.5", "41.0.0.1");
    Clock.Advance(1);
    EXPECT_THAT(Events, ElementsAre("connect Local 41.0.0.5/41.0.0.1"));
    const TDateTime connectedAt = manager.Entries().Items(0).TimeStamp;
    EXPECT_EQ(connectedAt, Clock.Now());

    Clock.Advance(3000);
    EXPECT_EQ(Events.size(), 1u);
    EXPECT_EQ(Ras.CallCount("RasEnumConnections"), polls + 4);

    Ras.Disconnect("Local");
    Clock.Advance(1000);
    EXPECT_THAT(Events, ElementsAre("connect Local 41.0.0.5/41.0.0.1", "disconnect Local"));
    const TRasEntry& entry = manager.Entries().Items(0);
    EXPECT_EQ(entry.Handle, 0u);
    EXPECT_EQ(entry.IPAddress, "0.0.0.0");
    EXPECT_EQ(entry.ServerIPAddress, "0.0.0.0");
    EXPECT_EQ(entry.DeviceName, "");
    EXPECT_EQ(entry.DeviceType, "");
    EXPECT_EQ(entry.PhoneNumber, "123");
    EXPECT_EQ(entry.CountryCode, 27);
    EXPECT_GT(entry.TimeStamp, connectedAt);

    manager.StopMonitoring();
    Ras.Connect("Local");
    Clock.Advance(5000);
    EXPECT_EQ(Events.size(), 2u);
    EXPECT_EQ(Ras.CallCount("RasEnumConnections"), polls + 5);
}

TEST_F(RasManager, MembershipIgnoresCaseButHandlesNeedTheExactName) {
    Ras.AddEntry("Local");
    Ras.AddEntry("Other");
    TRasManager& manager = Create();
    Ras.Connect("LOCAL", "10.1.1.1", "10.1.1.2");
    Ras.Connect("Stranger", "10.9.9.9", "10.9.9.1");
    manager.Poll();
    EXPECT_TRUE(manager.IsConnected(0));
    EXPECT_EQ(manager.Entries().Items(0).Handle, 0u);
    EXPECT_EQ(manager.LocalAddress(0), "0.0.0.0");
    EXPECT_FALSE(manager.IsConnected(1));
    EXPECT_THAT(Events, ElementsAre("connect Local 0.0.0.0/0.0.0.0"));
}

TEST_F(RasManager, ASuccessfulDialConnectsWithItsAddressesBeforeItReturns) {
    Ras.AddEntry("Local").DialIpAddress = "41.1.2.3";
    TRasManager& manager = Create();
    const TDateTime created = manager.Entries().Items(0).TimeStamp;
    Clock.Advance(60000);
    // The connect event's handlers can already route through the new link.
    OnConnect = [&](TRasEntry& entry) { EXPECT_EQ(entry.IPAddress, "41.1.2.3"); };

    EXPECT_EQ(manager.Dial(0), 0);
    EXPECT_THAT(Events, ElementsAre("connect Local 41.1.2.3/10.0.0.1"));
    EXPECT_TRUE(manager.IsConnected(0));
    EXPECT_NE(manager.Entries().Items(0).Handle, 0u);
    EXPECT_EQ(manager.Entries().Items(0).TimeStamp, created) << "a dial sets no time stamp";
    EXPECT_THAT(Ras.Dialled, ElementsAre("Local"));

    manager.Poll();
    EXPECT_EQ(manager.LocalAddress(0), "41.1.2.3");
    EXPECT_EQ(manager.ServerAddress(0), "10.0.0.1");
    EXPECT_EQ(Events.size(), 1u) << "no second OnConnect";
}

TEST_F(RasManager, DialIsNotAttemptedForAConnectedEntryOrWithoutDialParameters) {
    Ras.AddEntry("Local");
    Ras.AddEntry("NoParams").HasDialParams = false;
    Ras.Connect("Local");
    TRasManager& manager = Create();
    const std::size_t calls = Ras.Calls.size();
    EXPECT_EQ(manager.Dial(0), -1);
    EXPECT_EQ(Ras.Calls.size(), calls) << "no RAS call at all for a connected entry";

    EXPECT_EQ(manager.Dial(1), -1);
    EXPECT_EQ(Ras.CallCount("RasDial"), 0);
    EXPECT_FALSE(manager.IsConnected(1));
}

TEST_F(RasManager, AFailedDialKeepsItsHandleForTheNextHangUp) {
    auto& local = Ras.AddEntry("Local");
    local.DialResult = 678;
    local.DialHandle = 0x77;
    TRasManager& manager = Create();

    manager.HangUp(0);
    EXPECT_EQ(Ras.CallCount("RasHangUp"), 0) << "nothing to hang up yet";

    EXPECT_EQ(manager.Dial(0), 678);
    EXPECT_FALSE(manager.IsConnected(0));
    EXPECT_THAT(Events, IsEmpty());
    manager.HangUp(0);
    EXPECT_THAT(Ras.HangUps, ElementsAre(0x77u));
}

TEST_F(RasManager, HangUpLeavesTheStateToTheNextPoll) {
    Ras.AddEntry("Local");
    TRasManager& manager = Create();
    ASSERT_EQ(manager.Dial(0), 0);
    manager.HangUp(0);
    EXPECT_TRUE(manager.IsConnected(0));
    EXPECT_NE(manager.Entries().Items(0).Handle, 0u);
    manager.Poll();
    EXPECT_FALSE(manager.IsConnected(0));
    EXPECT_THAT(Events, ElementsAre("connect Local 10.0.0.2/10.0.0.1", "disconnect Local"));
}

TEST_F(RasManager, AHandlerThatDialsDuringAPassSeesThePassGoOnWithItsOwnSet) {
    Ras.AddEntry("Local");
    Ras.AddEntry("International");
    Ras.Connect("Local");
    TRasManager& manager = Create();
    manager.StartMonitoring();
    Events.clear();

    // The local link drops; its handler redials the international one, which comes later in
    // the list: the pass still works from the connections it enumerated before.
    OnDisconnect = [&](TRasEntry& entry) {
        if (entry.Name == "Local") {
            EXPECT_EQ(manager.Dial(1), 0);
        }
    };
    Ras.Disconnect("Local");
    Clock.Advance(1000);
    EXPECT_THAT(Events, ElementsAre("disconnect Local", "connect International 10.0.0.2/10.0.0.1",
                                    "disconnect International"));
    Clock.Advance(1000);
    EXPECT_EQ(Events.back(), "connect International 10.0.0.2/10.0.0.1");
    EXPECT_TRUE(manager.IsConnected(1));
}

TEST_F(RasManager, AnExceptionFromAHandlerEndsThePassButKeepsWhatWasDone) {
    Ras.AddEntry("A");
    Ras.AddEntry("B");
    TRasManager& manager = Create();
    Ras.Connect("A");
    Ras.Connect("B");
    OnConnect = [](TRasEntry& entry) {
        if (entry.Name == "A") {
            throw std::runtime_error("handler failed");
        }
    };
    EXPECT_THROW(manager.Poll(), std::runtime_error);
    EXPECT_TRUE(manager.IsConnected(0));
    EXPECT_FALSE(manager.IsConnected(1));
    OnConnect = nullptr;
    manager.Poll();
    EXPECT_TRUE(manager.IsConnected(1));
}

TEST_F(RasManager, ABadIndexRaisesTheListIndexErrorAndChangesNothing) {
    Ras.AddEntry("Local");
    Ras.AddEntry("International");
    TRasManager& manager = Create();
    try {
        manager.EntryName(2);
        FAIL() << "no index error";
    } catch (const EListError& error) {
        EXPECT_STREQ(error.what(), "List index out of bounds (2)");
    }
    const std::size_t calls = Ras.Calls.size();
    EXPECT_THROW(manager.Dial(-1), EListError);
    EXPECT_THROW(manager.HangUp(7), EListError);
    EXPECT_THROW(manager.IsConnected(2), EListError);
    EXPECT_THROW(manager.LocalAddress(-5), EListError);
    EXPECT_THROW(manager.ServerAddress(99), EListError);
    EXPECT_EQ(Ras.Calls.size(), calls);
}

TEST_F(RasManager, AnEmptyPhonebookOnlyRunsTheTimer) {
    Ras.Connect("Somebody else's");
    TRasManager& manager = Create();
    EXPECT_EQ(manager.EntryCount(), 0);
    manager.StartMonitoring();
    Clock.Advance(3000);
    EXPECT_THAT(Events, IsEmpty());
    EXPECT_TRUE(manager.PollTimer().Enabled());
}

TEST_F(RasManager, WithoutRasThereAreNoEntriesAndNothingHappens) {
    Ras.AddEntry("Local");
    Ras.Connect("Local");
    Ras.Missing = true;
    TRasManager& manager = Create();
    EXPECT_EQ(manager.EntryCount(), 0);
    manager.StartMonitoring();
    Clock.Advance(5000);
    EXPECT_THAT(Events, IsEmpty());
    EXPECT_THAT(Reports, IsEmpty());
}

// Each RAS function missing alone, and what the manager then does.
TEST_F(RasManager, EachMissingFunctionFailsOnlyWhereItIsUsed) {
    const auto setUp = [this](const std::string& missing) {
        Ras = TFakeRas{};
        Reports.clear();
        Events.clear();
        Ras.AddEntry("Local");
        Ras.AddEntry("International");
        Ras.Connect("Local", "41.0.0.9", "41.0.0.1");
        Ras.MissingFunctions = {missing};
        return &Create();
    };

    TRasManager* manager = setUp("RasEnumEntries");
    EXPECT_EQ(manager->EntryCount(), 0);

    manager = setUp("RasEnumConnections");
    EXPECT_EQ(manager->EntryCount(), 2);
    EXPECT_FALSE(manager->IsConnected(0));
    EXPECT_EQ(manager->Dial(1), 0);
    manager->Poll();
    EXPECT_FALSE(manager->IsConnected(1)) << "a failed enumeration drops every connection";
    EXPECT_EQ(Events.back(), "disconnect International");

    manager = setUp("RasGetProjectionInfo");
    EXPECT_TRUE(manager->IsConnected(0));
    EXPECT_EQ(manager->LocalAddress(0), "0.0.0.0");
    EXPECT_NE(manager->Entries().Items(0).Handle, 0u);

    manager = setUp("RasGetEntryProperties");
    EXPECT_EQ(manager->EntryCount(), 2);
    EXPECT_EQ(manager->Entries().Items(0).DeviceName, "");
    EXPECT_THAT(Reports, ElementsAre("Call of RasGetEntryProperties failed for \"Local\"\r\n"
                                     "Call of RasGetEntryProperties failed for \"International\""));

    manager = setUp("RasGetEntryDialParams");
    EXPECT_EQ(manager->Dial(1), -1);
    EXPECT_EQ(Ras.CallCount("RasDial"), 0);

    manager = setUp("RasDial");
    EXPECT_EQ(manager->Dial(1), -1);
    EXPECT_FALSE(manager->IsConnected(1));

    manager = setUp("RasHangUp");
    manager->HangUp(0);
    EXPECT_TRUE(manager->IsConnected(0));
    manager->Poll();
    EXPECT_TRUE(manager->IsConnected(0)) << "the link stays up";
}

TEST_F(RasManager, ManyEntriesAndConnectionsAreReadWithALargerBuffer) {
    for (int i = 0; i < 150; ++i) {
        Ras.AddEntry("Entry " + std::to_string(i));
    }
    for (int i = 0; i < 120; ++i) {
        Ras.Connect("Entry " + std::to_string(i));
    }
    Ras.GrowAfterBufferTooSmall = 5; // more links come up while the manager asks
    TRasManager& manager = Create();
    ASSERT_EQ(manager.EntryCount(), 150);
    EXPECT_EQ(manager.EntryName(149), "Entry 149");
    for (int i = 0; i < 150; ++i) {
        EXPECT_EQ(manager.IsConnected(i), i < 120) << i;
    }
    EXPECT_EQ(Ras.CallCount("RasEnumEntries"), 2);
    EXPECT_EQ(Ras.CallCount("RasEnumConnections"), 3);

    manager.StartMonitoring();
    Events.clear();
    Clock.Advance(1000);
    EXPECT_THAT(Events, IsEmpty()) << "no connection is taken for dropped";
}

TEST_F(RasManager, AnEnumerationThatKeepsFailingDropsTheConnectionsForThatPass) {
    Ras.AddEntry("Local");
    Ras.Connect("Local");
    TRasManager& manager = Create();
    manager.StartMonitoring();
    Events.clear();
    Ras.EnumConnectionsResult = 603; // a buffer error without a usable size
    Clock.Advance(1000);
    Ras.EnumConnectionsResult = 0;
    Clock.Advance(1000);
    EXPECT_THAT(Events, ElementsAre("disconnect Local", "connect Local 10.0.0.2/10.0.0.1"));
}

} // namespace
} // namespace brindlecove
