#pragma once
// A main window on headless controls, the in-memory RAS and routing table, a virtual clock and an
// in-memory settings file, for the tests of the form logic.

#include "app/brindlecove1.h"
#include "testing/FakeIpHelper.h"
#include "testing/FakeRas.h"
#include "testing/HeadlessWindow.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace brindlecove::testing {

// The window with the routing layer's two calls observable.
class TTestForm final : public TfrmBrindlecove {
public:
    using TfrmBrindlecove::TfrmBrindlecove;

    std::vector<std::string> Adapters; // descriptions GetAdapters adds to both lists
    int Builds = 0;
    bool BuildFindsAdapters = true; // a build that finds both adapters sets RoutesBuilt

    void GetAdapters() override {
        for (const std::string& adapter : Adapters) {
            comboLocal->AddItem(adapter, AdapterItemIndex);
            comboInt->AddItem(adapter, AdapterItemIndex);
        }
    }
    void BuildRoutingTable() override {
        ++Builds;
        if (BuildFindsAdapters) {
            LogLine("Creating routing table");
            LogLine("Finished creating routing table");
            RoutesBuilt = true;
        }
    }
};

// The tests of the form logic: what a headless window runs on, the RAS and routing doubles, and
// the form each test starts.
class FormTest : public ::testing::Test, public THeadlessEnvironment {
protected:
    TFakeRas Ras;
    TFakeIpHelper IpHelper;
    TFakeRegistry Registry;
    std::unique_ptr<TTestForm> Form; // after everything it uses

    TFormServices Services() { return THeadlessEnvironment::Services(Ras, IpHelper, Registry); }

    // Creates the window and runs FormCreate, as the program's start does.
    TTestForm& Start(const std::vector<std::string>& adapters = {}) {
        Form = std::make_unique<TTestForm>(Services());
        Form->Adapters = adapters;
        Form->FormCreate();
        return *Form;
    }

    THeadlessLogView& Memo() const { return LogOf(*Form); }

    // The log's messages without their time stamps ("dd/mm/yyyy hh:nn:ss ").
    std::vector<std::string> Log() const {
        std::vector<std::string> messages;
        for (const std::string& line : Memo().Lines()) {
            messages.push_back(line.substr(20));
        }
        return messages;
    }

    // Two phonebook entries, chosen as local and international in the settings.
    void TwoEntriesChosen() {
        Ras.AddEntry("Home");
        Ras.AddEntry("Office");
        Setting("LOCALCONNECTION", "Home");
        Setting("INTCONNECTION", "Office");
    }
};

} // namespace brindlecove::testing
