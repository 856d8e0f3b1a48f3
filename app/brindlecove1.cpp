#include "app/brindlecove1.h"

#include "app/LocalRouteFile.h"
#include "common/AnsiText.h"

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <utility>

namespace brindlecove {

namespace {

constexpr const char* ConfigSection = "CONFIG";
constexpr DWORD SettingsBufferSize = 2048;
constexpr std::int32_t Rapid = 1000; // supervision pace while all is well, ms
constexpr std::int32_t Slow = 5000;  // after a dial error

// Clears a flag when it goes out of scope, however the scope is left.
class TFlagGuard {
public:
    explicit TFlagGuard(bool& flag) : FFlag(flag) { FFlag = true; }
    TFlagGuard(const TFlagGuard&) = delete;
    TFlagGuard& operator=(const TFlagGuard&) = delete;
    ~TFlagGuard() { FFlag = false; }

private:
    bool& FFlag;
};

std::string TwoDigits(int value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

} // namespace

TfrmBrindlecove::TfrmBrindlecove(const TFormServices& services)
    : Timer1(services.Timers, Rapid), FServices(services) {
    IControlFactory& f = services.Controls;
    cbEnabled = f.CreateCheckBox(TControlId::cbEnabled, "Brindle Cove Enabled");
    btnSave = f.CreateButton(TControlId::btnSave, "Save Changes");
    btnCancel = f.CreateButton(TControlId::btnCancel, "Cancel Changes");
    Button1 = f.CreateButton(TControlId::Button1, "Close");
    comboLocal = f.CreateComboBox(TControlId::comboLocal);
    cbAutoReconnectLocal =
        f.CreateCheckBox(TControlId::cbAutoReconnectLocal,
                         "Automatically reconnect local connection when disconnected");
    btnConnectLocal = f.CreateButton(TControlId::btnConnectLocal, "Connect Local");
    comboInt = f.CreateComboBox(TControlId::comboInt);
    btnConnectInt = f.CreateButton(TControlId::btnConnectInt, "Connect International");
    cbAutoReconnectInt =
        f.CreateCheckBox(TControlId::cbAutoReconnectInt,
                         "Automatically reconnect international connection when disconnected");
    cbAutoRoute = f.CreateCheckBox(TControlId::cbAutoRoute,
                                   "Automatically set up routes when both connections connected.");
    cbMinimize = f.CreateCheckBox(TControlId::cbMinimize, "Minimize on Startup");
    btnRoutes = f.CreateButton(TControlId::btnRoutes, "Set up Routes Now");
    Memo1 = f.CreateLogView(TControlId::Memo1);
    lblName = f.CreateLabel(TControlId::lblName, DesignCaption);

    // The bindings of the window's description.
    const auto settingsChanged = [this] { Guarded([this] { cbEnabledClick(); }); };
    cbEnabled->OnClick = settingsChanged;
    comboLocal->OnChange = settingsChanged;
    comboInt->OnChange = settingsChanged;
    cbAutoReconnectLocal->OnClick = settingsChanged;
    cbAutoReconnectInt->OnClick = settingsChanged;
    cbAutoRoute->OnClick = settingsChanged;
    cbMinimize->OnClick = settingsChanged;
    btnSave->OnClick = [this] { Guarded([this] { btnSaveClick(); }); };
    btnCancel->OnClick = [this] { Guarded([this] { btnCancelClick(); }); };
    Button1->OnClick = [this] { Guarded([this] { Close1Click(); }); };
    btnConnectLocal->OnClick = [this] { Guarded([this] { btnConnectLocalClick(); }); };
    btnConnectInt->OnClick = [this] { Guarded([this] { btnConnectIntClick(); }); };
    btnRoutes->OnClick = [this] { Guarded([this] { btnRoutesClick(); }); };

    RasManager1 = std::make_unique<TRasManager>(
        services.Ras, services.Timers, services.Clock,
        [this](const std::string& message) { ShowException(message); });
    RasManager1->OnConnect = [this](TRasManager& sender, TRasEntry& connection) {
        Guarded([&] { RasManager1Connect(sender, connection); });
    };
    RasManager1->OnDisconnect = [this](TRasManager& sender, TRasEntry& connection) {
        Guarded([&] { RasManager1Disconnect(sender, connection); });
    };
    RasManager1->OnConnecting = [this](TRasManager& sender, std::int32_t index, std::int32_t msg,
                                       std::int32_t state, std::int32_t error) {
        Guarded([&] { RasManager1Connecting(sender, index, msg, state, error); });
    };

    Timer1.OnTimer = [this] { Guarded([this] { Timer1Timer(); }); };
    Timer1.SetEnabled(true);
}

TfrmBrindlecove::~TfrmBrindlecove() = default;

void TfrmBrindlecove::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(error.what());
    }
}

void TfrmBrindlecove::ShowException(const std::string& message) {
    std::string text = message;
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        text += '.';
    }
    FServices.Application.MessageBoxA(text, ApplicationTitle, MbOk | MbIconError);
}

// ---- Start-up and lifecycle ------------------------------------------------------------------

void TfrmBrindlecove::FormCreate() {
    AccessDenied = false;
    FServices.Application.SetTitle(ApplicationTitle);
    lblName->SetCaption(ApplicationTitle);
    FServices.Application.SetCaption(ApplicationTitle);

    comboLocal->Clear();
    for (int i = 0; i < RasManager1->EntryCount(); ++i) {
        comboLocal->AddItem(RasManager1->EntryName(i), i);
        comboInt->AddItem(RasManager1->EntryName(i), i);
    }
    GetAdapters();

    // Each step reports its own failure and start-up goes on, so that the window or its icon
    // always comes up.
    const TRouteFileResult routes = LoadLocalRouteFile(FServices.System, jvshRoutes);
    if (routes.Error != 0) {
        ShowException(routes.Message);
    }
    Guarded([this] { LoadSettings(); });
    Guarded([this] { cbEnabledClick(); });
    SetModified(false);

    if (cbMinimize->Checked()) {
        FServices.Application.SetTrayIconVisible(true);
    } else {
        FServices.Application.ShowMainWindow();
    }
}

void TfrmBrindlecove::FormShow() {
    // Nothing of its own: the window restores its placement on its first showing.
}

void TfrmBrindlecove::FormClose() {
    FServices.Application.SetTrayIconVisible(true);
    FServices.Application.HideMainWindow();
}

void TfrmBrindlecove::Restore1Click() {
    FServices.Application.ShowMainWindow();
}

void TfrmBrindlecove::Close1Click() {
    if (btnSave->Enabled() &&
        FServices.Application.MessageBoxA("Configuration has changed - save it before closing?",
                                          "Confirm", MbYesNo | MbIconQuestion) == IdYes) {
        SaveSettings(); // an error here ends the handler: nothing is closed, nothing lost
    }
    RasManager1->StopMonitoring();
    FServices.Application.Terminate();
}

std::string TfrmBrindlecove::WMEndSession(bool endSession) {
    if (!endSession) {
        return {};
    }
    std::string failure;
    if (btnSave->Enabled()) {
        // The session is ending: no box may hold it up, whatever the save answers.
        try {
            btnSaveClick();
        } catch (const std::exception& error) {
            failure = error.what();
        }
    }
    FServices.Application.Halt();
    return failure;
}

bool TfrmBrindlecove::MasterCondition() const {
    return cbEnabled->Checked() && cbEnabled->Enabled();
}

void TfrmBrindlecove::cbEnabledClick() {
    if (Loading) {
        return;
    }
    const int l = comboLocal->ItemIndex();
    const int i = comboInt->ItemIndex();
    cbEnabled->SetEnabled(l >= 0 && i >= 0 && i != l);
    const bool localDialUp = l >= 0 && comboLocal->ItemValue(l) < AdapterItemIndex;
    cbAutoReconnectLocal->SetEnabled(localDialUp);
    btnConnectLocal->SetEnabled(localDialUp);
    const bool intDialUp = i >= 0 && comboInt->ItemValue(i) < AdapterItemIndex;
    cbAutoReconnectInt->SetEnabled(intDialUp);
    btnConnectInt->SetEnabled(intDialUp);
    SetModified(true);
    if (MasterCondition()) {
        RasManager1->Tag = 1;
        RasManager1->StartMonitoring();
        Supervise();
    } else {
        RasManager1->Tag = 0;
        RasManager1->StopMonitoring();
        StatusChanged();
    }
}

void TfrmBrindlecove::SetModified(bool value) {
    btnSave->SetEnabled(value);
    btnCancel->SetEnabled(value);
}

// ---- Settings --------------------------------------------------------------------------------

std::string TfrmBrindlecove::SettingsPath() const {
    return FServices.System.ProgramFolder() + SettingsFileName;
}

std::string TfrmBrindlecove::ReadString(const char* key, const std::string& defaultValue) {
    char buffer[SettingsBufferSize] = {};
    const std::string path = SettingsPath();
    const DWORD length = FServices.Profile.GetPrivateProfileStringA(
        ConfigSection, key, defaultValue.c_str(), buffer, SettingsBufferSize, path.c_str());
    return std::string(buffer, std::min<DWORD>(length, SettingsBufferSize - 1));
}

bool TfrmBrindlecove::ReadBool(const char* key, bool defaultValue) {
    const std::string text = ReadString(key, "");
    // A boolean is hexadecimal only behind "0x", "0X" or "$": the bare "x" that the integer
    // conversion also takes makes it text that is not a number.
    const std::size_t first = text.find_first_not_of(" +-");
    if (first != std::string::npos && (text[first] == 'x' || text[first] == 'X')) {
        return defaultValue;
    }
    std::int32_t value = defaultValue ? 1 : 0;
    TryStrToInt(text, value);
    return value != 0;
}

void TfrmBrindlecove::WriteString(const char* key, const std::string& value) {
    const std::string path = SettingsPath();
    if (!FServices.Profile.WritePrivateProfileStringA(ConfigSection, key, value.c_str(),
                                                      path.c_str())) {
        throw std::runtime_error("Unable to write to " + path);
    }
}

void TfrmBrindlecove::LoadSettings() {
    Loading = true;
    try {
        cbEnabled->SetChecked(ReadBool("ENABLED", true));
        comboLocal->SetItemIndex(comboLocal->IndexOfText(ReadString("LOCALCONNECTION", "")));
        cbAutoReconnectLocal->SetChecked(ReadBool("AUTORECONNECTLOCAL", true));
        comboInt->SetItemIndex(comboInt->IndexOfText(ReadString("INTCONNECTION", "")));
        cbAutoReconnectInt->SetChecked(ReadBool("AUTORECONNECTINT", true));
        cbAutoRoute->SetChecked(ReadBool("AUTOROUTE", true));
        cbMinimize->SetChecked(ReadBool("MINIMIZE", false));
    } catch (...) {
        Loading = false;
        SetModified(false);
        throw;
    }
    Loading = false;
    SetModified(false);
}

void TfrmBrindlecove::SaveSettings() {
    WriteString("ENABLED", cbEnabled->Checked() ? "1" : "0");
    WriteString("LOCALCONNECTION", comboLocal->Text());
    WriteString("AUTORECONNECTLOCAL", cbAutoReconnectLocal->Checked() ? "1" : "0");
    WriteString("INTCONNECTION", comboInt->Text());
    WriteString("AUTORECONNECTINT", cbAutoReconnectInt->Checked() ? "1" : "0");
    WriteString("AUTOROUTE", cbAutoRoute->Checked() ? "1" : "0");
    WriteString("MINIMIZE", cbMinimize->Checked() ? "1" : "0");
    SetModified(false);
}

void TfrmBrindlecove::btnSaveClick() {
    SaveSettings();
}

void TfrmBrindlecove::btnCancelClick() {
    LoadSettings();
}

// ---- Event log -------------------------------------------------------------------------------

void TfrmBrindlecove::LogLine(const std::string& msg) {
    const TDateTimeParts now = DecodeDateTime(FServices.Clock.Now());
    const TFormatSettings format = FServices.System.FormatSettings();
    const std::string date = TwoDigits(now.Day) + format.DateSeparator + TwoDigits(now.Month) +
                             format.DateSeparator + std::to_string(now.Year);
    const std::string time = TwoDigits(now.Hour) + format.TimeSeparator + TwoDigits(now.Minute) +
                             format.TimeSeparator + TwoDigits(now.Second);
    Memo1->Append(date + " " + time + " " + msg);
    if (Memo1->LineCount() > 1000) {
        Memo1->Clear();
    }
    int minPos = 0;
    int maxPos = 0;
    if (Memo1->GetScrollRange(minPos, maxPos)) {
        Memo1->ScrollThumbTo(static_cast<std::uint16_t>(maxPos & 0xFFFF));
    }
}

// ---- Connection supervisor -------------------------------------------------------------------

TfrmBrindlecove::TRole TfrmBrindlecove::LocalRole() {
    return {*comboLocal,     *btnConnectLocal,   *cbAutoReconnectLocal,
            "Connect Local", "Disconnect Local", "Attempting to connect to local connection "};
}

TfrmBrindlecove::TRole TfrmBrindlecove::IntRole() {
    return {*comboInt,
            *btnConnectInt,
            *cbAutoReconnectInt,
            "Connect International",
            "Disconnect International",
            "Attempting to connect to International connection "};
}

std::optional<std::int32_t> TfrmBrindlecove::SelectedEntry(const TRole& role) {
    const int selected = role.List.ItemIndex();
    if (selected < 0) {
        return std::nullopt;
    }
    return role.List.ItemValue(selected);
}

bool TfrmBrindlecove::SuperviseRole(const TRole& role, std::optional<std::int32_t> entry,
                                    bool master) {
    if (!entry) {
        return false;
    }
    const std::int32_t index = *entry;
    if (index == AdapterItemIndex) {
        return true;
    }
    if (RasManager1->IsConnected(index)) {
        role.Button.SetCaption(role.DisconnectCaption);
        role.Button.SetTag(1);
    } else {
        role.Button.SetCaption(role.ConnectCaption);
        role.Button.SetTag(0);
        if (role.AutoReconnect.Checked() && master && !FServices.Application.Terminated()) {
            StatusChanged(); // a dial may take minutes
            LogLine(role.RedialText + role.List.Text());
            const std::int32_t result = DialEntry(index);
            if (result != 0) {
                RasManager1Connecting(*RasManager1, index, 0, 0, result);
            } else {
                LogLine("Connected to " + role.List.Text());
            }
        }
    }
    return RasManager1->IsConnected(index);
}

void TfrmBrindlecove::Supervise() {
    if (FSupervising) {
        return; // dropped, not queued
    }
    const TFlagGuard pass(FSupervising);
    // Both selections are taken before the local dial lets the user change either list.
    const TRole local = LocalRole();
    const TRole international = IntRole();
    const std::optional<std::int32_t> localEntry = SelectedEntry(local);
    const std::optional<std::int32_t> intEntry = SelectedEntry(international);
    const bool master = MasterCondition();
    const bool localUp = SuperviseRole(local, localEntry, master);
    const bool intUp = SuperviseRole(international, intEntry, master);
    // A program that is ending (a dial may have read the signal to stop) changes nothing more.
    const bool routing = master && cbAutoRoute->Checked() && !FServices.Application.Terminated();
    if (localUp && intUp && routing) {
        if (RoutesBuilt) {
            WatchRoutes();
        }
        if (!RoutesBuilt && RebuildDue()) {
            BuildRoutingTable();
        }
    } else if (localUp != intUp && routing) {
        KeepADefaultRoute(localUp);
    }
    StatusChanged();
}

std::int32_t TfrmBrindlecove::DialEntry(int index) {
    RasManager1->HangUp(index);
    FServices.Application.ProcessMessages();
    const std::int32_t result = RasManager1->Dial(index);
    FServices.Application.ProcessMessages();
    return result;
}

void TfrmBrindlecove::RasManager1Connect(TRasManager&, TRasEntry&) {
    Timer1.SetInterval(Rapid);
    ResetRouteWatch();
    Supervise();
}

void TfrmBrindlecove::RasManager1Disconnect(TRasManager&, TRasEntry& connection) {
    LogLine("Disconnected from " + connection.Name);
    if (connection.Name == comboLocal->Text() || connection.Name == comboInt->Text()) {
        RoutesBuilt = false;
        ResetRouteWatch();
    }
    Supervise();
}

void TfrmBrindlecove::RasManager1Connecting(TRasManager&, std::int32_t index, std::int32_t,
                                            std::int32_t, std::int32_t error) {
    if (error == 0) {
        return;
    }
    char buffer[256] = {};
    FServices.Ras.RasGetErrorString(static_cast<UINT>(error), buffer, sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    const std::string name = RasManager1->EntryName(index);
    LogLine("error: " + name + " -> " + std::to_string(error) + " " + buffer);
    Timer1.SetInterval(Slow);
    if (error != static_cast<std::int32_t>(raserror::Authentication)) {
        return;
    }
    std::string notice;
    if (name == comboLocal->Text()) {
        notice = "Auto connect to LOCAL connection disabled due to connection error";
        LogLine(notice);
        cbAutoReconnectLocal->SetChecked(false);
    }
    if (name == comboInt->Text()) {
        notice = "Auto connect to INTERNATIONAL connection disabled due to connection error";
        LogLine(notice);
        cbAutoReconnectInt->SetChecked(false);
    }
    if (!notice.empty()) {
        notice = "\r\r(" + notice + ")";
    }
    FServices.Application.MessageBoxA(
        "Could not connect to " + name + " (invalid username/password). \r\r" +
            "Make sure you connect manually and select the 'save password' option - this will "
            "enable Brindlecove to auto connect next time." +
            notice,
        "Warning", MbOk | MbIconWarning);
}

void TfrmBrindlecove::ConnectButtonClick(const TRole& role) {
    // Without a selection, or with an adapter selected (a button left enabled by "Cancel
    // Changes"), the index is out of the entry list's bounds and the click ends in the error box.
    const std::int32_t index = role.List.ItemValue(role.List.ItemIndex());
    if (role.Button.Tag() == 1) {
        RasManager1->HangUp(index);
        return;
    }
    const std::int32_t result = DialEntry(index);
    if (result != 0) {
        RasManager1Connecting(*RasManager1, index, 0, 0, result);
    } else {
        LogLine("Connected to " + role.List.Text());
    }
}

void TfrmBrindlecove::btnConnectLocalClick() {
    ConnectButtonClick(LocalRole());
}

void TfrmBrindlecove::btnConnectIntClick() {
    ConnectButtonClick(IntRole());
}

void TfrmBrindlecove::RoutingTableNotified() {
    Guarded([this] {
        if (SupervisionOn() == 1) {
            Supervise();
        }
    });
}

std::string TfrmBrindlecove::StatusLine() {
    if (SupervisionOn() != 1) {
        return "supervision off";
    }
    // Supervision runs only with two different connections chosen.
    const auto role = [this](const char* word, const TRole& r) {
        const std::optional<std::int32_t> entry = SelectedEntry(r);
        const bool up = entry && (*entry == AdapterItemIndex || RasManager1->IsConnected(*entry));
        std::string text = std::string(word) + " " + r.List.Text() + (up ? " up" : " down");
        if (!up && r.AutoReconnect.Checked() && r.AutoReconnect.Enabled()) {
            text += " (redialling)";
        }
        return text;
    };
    std::string line = role("local", LocalRole()) + ", " + role("international", IntRole());
    if (RoutesBuilt) {
        const TDateTimeParts built = DecodeDateTime(FWatch.LastBuild);
        line += ", routes built " + TwoDigits(built.Hour) + ":" + TwoDigits(built.Minute) + ":" +
                TwoDigits(built.Second);
    }
    return line;
}

void TfrmBrindlecove::StatusChanged() {
    if (!OnStatusChange) {
        return;
    }
    std::string line = StatusLine();
    if (line != FStatusTold) {
        FStatusTold = std::move(line);
        OnStatusChange(FStatusTold);
    }
}

void TfrmBrindlecove::Timer1Timer() {
    if (FTicking) {
        return;
    }
    const TFlagGuard tick(FTicking);
    if (SupervisionOn() == 1) {
        Supervise();
    }
}

} // namespace brindlecove
