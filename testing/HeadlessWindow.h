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

// What a headless window runs on besides the RAS and routing ports.
struct THeadlessEnvironment {
    TVirtualClock Clock;
    TFakeSystem System;
    TFakeProfile Profile;
    THeadlessApplication App;
    THeadlessControls Controls;

    // The services of a window on these and the given ports.
    TFormServices Services(IRasPort& ras, IIpHelperPort& ipHelper, IRegistryPort& registry) {
        return {App, Controls, ras, Clock, Clock, System, Profile, ipHelper, registry};
    }

    // The settings file beside the program, and one value of its CONFIG section.
    std::string SettingsPath() const { return System.Folder + SettingsFileName; }
    void Setting(const std::string& key, const std::string& value) {
        Profile.Files[SettingsPath()]["CONFIG"][key] = value;
    }
    // A CONFIG section that chooses the two connections and nothing else, for FormCreate to load.
    void ChooseInSettings(const std::string& local, const std::string& international) {
        Profile.Files[SettingsPath()]["CONFIG"] = {{"LOCALCONNECTION", local},
                                                   {"INTCONNECTION", international}};
    }
};

// The log of a window on headless controls.
inline THeadlessLogView& LogOf(const TfrmBrindlecove& form) {
    return static_cast<THeadlessLogView&>(*form.Memo1);
}

struct THeadlessWindow : THeadlessEnvironment {
    // Creates the window (which reads the phonebook); the caller then calls Form.FormCreate.
    THeadlessWindow(IRasPort& ras, IIpHelperPort& ipHelper, IRegistryPort& registry)
        : Form(Services(ras, ipHelper, registry)) {}
    THeadlessWindow(const THeadlessWindow&) = delete;
    THeadlessWindow& operator=(const THeadlessWindow&) = delete;

    THeadlessLogView& Log() const { return LogOf(Form); }

    TfrmBrindlecove Form; // after everything it uses
};

} // namespace brindlecove::testing
