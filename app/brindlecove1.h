#pragma once
// The main window, TfrmBrindlecove: start-up and the window's lifecycle, the settings store, the
// event log and the connection supervisor, on the controls of app/Controls.h. Both editions run
// this same logic; only the controls and the ports behind it differ.

#include "app/ApplicationPort.h"
#include "app/Controls.h"
#include "app/ProfilePort.h"
#include "app/SystemPort.h"
#include "common/DateTime.h"
#include "common/Timer.h"
#include "ras/RasManager.h"
#include "routing/IpHelperPort.h"
#include "routing/LocalRouteList.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brindlecove {

inline constexpr const char* ApplicationTitle = "Brindlecove v1.01";
inline constexpr const char* DesignCaption = "Brindle Cove";
inline constexpr const char* SettingsFileName = "brindlecove.ini";

// The value of a connection list item that is a network adapter, never dialled.
inline constexpr std::int32_t AdapterItemIndex = 2147483647;

// Everything the window reaches outside itself.
struct TFormServices {
    IApplication& Application;
    IControlFactory& Controls;
    IRasPort& Ras;
    ITimerHost& Timers;
    const IClock& Clock;
    const ISystemPort& System;
    IProfilePort& Profile;
    IIpHelperPort& IpHelper;
    IRegistryPort& Registry;
};

// Where Windows keeps the persistent routes, under HKEY_LOCAL_MACHINE.
inline constexpr const char* PersistentRoutesKey =
    "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\PersistentRoutes";

class TfrmBrindlecove {
public:
    // Creates the controls, RasManager1 (which reads the phonebook) and Timer1, and binds the
    // handlers. The owner then calls FormCreate.
    explicit TfrmBrindlecove(const TFormServices& services);
    TfrmBrindlecove(const TfrmBrindlecove&) = delete;
    TfrmBrindlecove& operator=(const TfrmBrindlecove&) = delete;
    virtual ~TfrmBrindlecove();

    // Start-up and lifecycle
    void FormCreate();
    void FormShow();
    void FormClose();
    void Restore1Click();
    void Close1Click();
    // Saves unsaved settings without asking and ends the program. Answers why the save failed
    // (empty when it did not), for a host that can still tell someone.
    std::string WMEndSession(bool endSession);
    void cbEnabledClick();
    void SetModified(bool value);

    // Settings
    void LoadSettings();
    void SaveSettings();
    void btnSaveClick();
    void btnCancelClick();
    std::string SettingsPath() const;

    // Event log
    void LogLine(const std::string& msg);

    // Connection supervisor
    void Supervise();
    std::int32_t DialEntry(int index);
    void RasManager1Connect(TRasManager& sender, TRasEntry& connection);
    void RasManager1Disconnect(TRasManager& sender, TRasEntry& connection);
    void RasManager1Connecting(TRasManager& sender, std::int32_t index, std::int32_t msg,
                               std::int32_t state, std::int32_t error);
    void btnConnectLocalClick();
    void btnConnectIntClick();
    void Timer1Timer();
    // The system reported a change of routes, addresses or links: a pass, while supervising.
    void RoutingTableNotified();

    // The state of supervision in one short line, for a service manager to show: "local saix
    // up, international intl up, routes built 14:02:11", "local saix down (redialling),
    // international intl up", "supervision off".
    std::string StatusLine();
    // Receives StatusLine whenever it differs from the one received last: before a dial, at the
    // end of a pass, when supervision is switched off.
    std::function<void(const std::string& status)> OnStatusChange;

    // Adapter lookup: the adapter items of the connection lists, and the adapters (interface
    // index and gateway) behind the two chosen connections.
    virtual void GetAdapters();
    // The adapter behind each chosen connection. A connection without an address ("0.0.0.0": a
    // dial-up entry before its addresses are known, an adapter that is down) has none.
    struct TConnectionAdapter {
        std::string IfIndex; // decimal; empty when no adapter was found
        std::string Address;
        std::string NextHop; // an adapter's gateway, a dial-up entry's server address
        bool operator==(const TConnectionAdapter&) const = default;
    };
    struct TConnectionAdapters {
        TConnectionAdapter Local;
        TConnectionAdapter Int;
    };
    TConnectionAdapters LookUpConnectionAdapters();

    // Route table builder
    void btnRoutesClick();
    virtual void BuildRoutingTable();
    // Adds one route, logging a failure; true when the route is in place (added, or there
    // already), and then it is part of BuiltRoutes.
    bool AddRoute(const std::string& dest, const std::string& mask, const std::string& nextHop,
                  const std::string& metric, const std::string& ifIndex);
    bool DeleteRoutes(const std::string& pattern1, const std::string& pattern2);
    bool DeletePersistentRoute(const std::string& valueName);
    bool IsVistaOrLater();
    // The system's IPv4 routes (size-then-fetch, asked again while the table grows); false when
    // the table cannot be read.
    bool ReadForwardTable(std::vector<MIB_IPFORWARDROW>& rows);

    // Route watch: what the last build created (or found in place already), and the adapters it
    // routed through. Routes that failed are not in it.
    struct TBuiltRoutes {
        std::vector<MIB_IPFORWARDROW> Routes;
        TConnectionAdapters Adapters;
    };
    TBuiltRoutes BuiltRoutes;
    // What differs between the system and the last build, as the log says it ("878 routes
    // missing, local adapter changed"); empty when nothing does or the port saw no change.
    std::string RoutingTableChange();

    // The application's error report: the error box, titled with the application title, with a
    // full stop added to the text.
    void ShowException(const std::string& message);

    // Flags
    bool Loading = false;
    bool AccessDenied = false;
    bool RoutesBuilt = false;
    std::string LocalIfIndex; // interface index (decimal) of the local connection's adapter
    std::string IntIfIndex;   // and of the international one's; empty when none was found
    std::int32_t SupervisionOn() const { return RasManager1->Tag; }
    bool Supervising() const { return FSupervising; }

    // Controls, components and the local route list
    std::unique_ptr<TCheckBox> cbEnabled;
    std::unique_ptr<TButton> btnSave;
    std::unique_ptr<TButton> btnCancel;
    std::unique_ptr<TButton> Button1;
    std::unique_ptr<TComboBox> comboLocal;
    std::unique_ptr<TCheckBox> cbAutoReconnectLocal;
    std::unique_ptr<TButton> btnConnectLocal;
    std::unique_ptr<TComboBox> comboInt;
    std::unique_ptr<TButton> btnConnectInt;
    std::unique_ptr<TCheckBox> cbAutoReconnectInt;
    std::unique_ptr<TCheckBox> cbAutoRoute;
    std::unique_ptr<TCheckBox> cbMinimize;
    std::unique_ptr<TButton> btnRoutes;
    std::unique_ptr<TLogView> Memo1;
    std::unique_ptr<TLabel> lblName;
    std::unique_ptr<TRasManager> RasManager1;
    TTimer Timer1;
    TLocalRouteList jvshRoutes;

protected:
    TFormServices FServices;

private:
    // The controls and texts of one role of the supervisor.
    struct TRole {
        TComboBox& List;
        TButton& Button;
        TCheckBox& AutoReconnect;
        const char* ConnectCaption;
        const char* DisconnectCaption;
        const char* RedialText;
    };
    TRole LocalRole();
    TRole IntRole();
    // The entry index of the role's selected item (AdapterItemIndex for an adapter); none
    // without a selection.
    static std::optional<std::int32_t> SelectedEntry(const TRole& role);
    // One role's part of a pass, for the entry selected when the pass began; true when the role
    // is up.
    bool SuperviseRole(const TRole& role, std::optional<std::int32_t> entry, bool master);
    // While routes are built: checks them and clears RoutesBuilt when the table changed.
    void WatchRoutes();
    // Whether an automatic rebuild may run now (not during a pause after repeated changes).
    bool RebuildDue() const;
    // With only one connection up and no default route at all: a default route through it.
    void KeepADefaultRoute(bool localUp);
    void ResetRouteWatch();
    // A build ended: the watch's record of when, and whether the watch asked for it.
    void RouteWatchBuilt();
    void ConnectButtonClick(const TRole& role);
    // Tells OnStatusChange the status line when it changed.
    void StatusChanged();
    bool MasterCondition() const;
    std::string ReadString(const char* key, const std::string& defaultValue);
    bool ReadBool(const char* key, bool defaultValue);
    void WriteString(const char* key, const std::string& value);
    // Runs an event handler; an error that escapes it goes to the error box.
    void Guarded(const std::function<void()>& handler);

    bool FSupervising = false; // a pass is running
    bool FTicking = false;     // a Timer1 tick is being handled

    struct TWatchState {
        TDateTime LastBuild = 0;     // when the last build ended
        bool WatchRebuild = false;   // the last build was the watch's own rebuild
        bool RebuildPending = false; // the next build is the watch's
        int ChangedBuilds = 0;       // the watch's rebuilds in a row that were undone at once
        TDateTime NextBuild = 0;     // no automatic rebuild before this time
    };
    TWatchState FWatch;
    bool FLoneDefaultTried = false; // a lone connection's default route was tried already
    std::string FStatusTold;        // the status line OnStatusChange received last
};

} // namespace brindlecove
