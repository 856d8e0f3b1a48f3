#pragma once
// The main window for tests and benchmarks that drive it without a window: headless controls and
// application, a virtual clock, an in-memory file system and settings file of its own, and the
// RAS and routing ports the caller gives it (doubles or the system's own adapters).

#include "app/brindlecove1.h"
#include "testing/FakeSystem.h"
#include "testing/Headless.h"
#include "testing/VirtualClock.h"

#include <string>

namespace brindlecove::testing {

struct THeadlessWindow {
    // Creates the window (which reads the phonebook); the caller then calls Form.FormCreate.
    THeadlessWindow(IRasPort& ras, IIpHelperPort& ipHelper, IRegistryPort& registry)
        : Form({App, Controls, ras, Clock, Clock, System, Profile, ipHelper, registry}) {}
    THeadlessWindow(const THeadlessWindow&) = delete;
    THeadlessWindow& operator=(const THeadlessWindow&) = delete;

    // Chooses the two connections in the settings file, for FormCreate to load.
    void ChooseInSettings(const std::string& local, const std::string& international) {
        Profile.Files[System.Folder + SettingsFileName]["CONFIG"] = {
            {"LOCALCONNECTION", local}, {"INTCONNECTION", international}};
    }
    THeadlessLogView& Log() const { return static_cast<THeadlessLogView&>(*Form.Memo1); }

    TVirtualClock Clock;
    TFakeSystem System;
    TFakeProfile Profile;
    THeadlessApplication App;
    THeadlessControls Controls;
    TfrmBrindlecove Form; // last: it uses everything above
};

} // namespace brindlecove::testing
