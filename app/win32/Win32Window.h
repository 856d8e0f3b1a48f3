#pragma once
// The Windows edition's main window: a native Win32 window "TfrmBrindlecove" with the controls of
// the form as real child windows, the three tab pages, the notification-area icon and its menu,
// window timers, modal message boxes and the window placement kept in the registry.
//
// One TWin32MainWindow serves one TfrmBrindlecove: it is the form's application object, timer
// host and control factory. Create the window, then the form with this window in its services,
// then Attach the form and call FormCreate. Destroy the form before the window.

#include "app/ApplicationPort.h"
#include "app/Controls.h"
#include "app/WindowLayout.h"
#include "app/win32/Win32Placement.h"
#include "common/DateTime.h"
#include "common/Timer.h"
#include "common/win32/Handles.h"

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <windows.h>

namespace brindlecove {

class TfrmBrindlecove;

// The local date and time of the system (GetLocalTime).
class TWin32Clock final : public IClock {
public:
    TDateTime Now() const override;
};

// What the window hands to the system and that a test may answer itself.
struct TWin32WindowHooks {
    // MessageBoxA with the window as owner.
    std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT type)>
        ShowMessageBox;
    // ShellExecuteA with the verb "open", no parameters, no folder, shown normally.
    std::function<void(const std::string& target)> OpenLink;
    // Ends the process at once (ExitProcess).
    std::function<void()> Halt;
};
TWin32WindowHooks DefaultWindowHooks();

// The message the notification-area icon sends to the window.
inline constexpr UINT TrayMessage = WM_APP + 1;
// The commands of the icon's menu.
inline constexpr UINT CmdRestore = 1001;
inline constexpr UINT CmdClose = 1002;

// The links of the banner and the About page: dark blue, underlined under the mouse, and handed to
// the shell when clicked.
inline constexpr std::array<TControlId, 3> LinkControls = {
    TControlId::JvLabel1, TControlId::jvlWebsite, TControlId::jvlEmail};

// A control that answers WM_COMMAND notifications sent for it.
class IWin32Command {
public:
    virtual ~IWin32Command() = default;
    virtual void Command(WORD notifyCode) = 0;
};

class TWin32MainWindow final : public IApplication, public ITimerHost, public IControlFactory {
public:
    // Registers the window classes (once) and creates the window, hidden, centred on the screen at
    // its design size. The icon is the program's resource 1 when there is one.
    explicit TWin32MainWindow(TWin32WindowHooks hooks = DefaultWindowHooks());
    TWin32MainWindow(const TWin32MainWindow&) = delete;
    TWin32MainWindow& operator=(const TWin32MainWindow&) = delete;
    ~TWin32MainWindow() override;

    // The form whose handlers the window calls; nullptr before the form is destroyed.
    void Attach(TfrmBrindlecove* form);

    HWND Handle() const { return FWindow.Get(); }
    HWND Control(TControlId id) const;
    HWND Tabs() const { return Control(TControlId::PageControl1); }
    HWND Page(TPage page) const;
    const std::string& Title() const { return FTitle; }
    bool Terminated() const { return FTerminated; }
    bool TrayIconVisible() const { return FTrayIconVisible; }
    bool PlacementWritten() const { return FPlacementWritten; }
    int Dpi() const { return FDpi; }
    // Selects a tab page as a click on its tab would.
    void SelectPage(int index);

    // IApplication
    void SetTitle(const std::string& title) override { FTitle = title; }
    int MessageBoxA(const std::string& text, const std::string& caption, UINT type) override;
    void ProcessMessages() override;
    void Terminate() override;
    void Halt() override;
    void SetCaption(const std::string& caption) override;
    void ShowMainWindow() override;
    void HideMainWindow() override;
    void SetTrayIconVisible(bool visible) override;

    // ITimerHost
    void StartTimer(TTimer& timer, std::uint32_t interval) override;
    void StopTimer(TTimer& timer) override;

    // IControlFactory (Win32Controls.cpp): each control a child window where the layout puts it.
    std::unique_ptr<TCheckBox> CreateCheckBox(TControlId id, const std::string& caption) override;
    std::unique_ptr<TComboBox> CreateComboBox(TControlId id) override;
    std::unique_ptr<TButton> CreateButton(TControlId id, const std::string& caption) override;
    std::unique_ptr<TLabel> CreateLabel(TControlId id, const std::string& caption) override;
    std::unique_ptr<TLogView> CreateLogView(TControlId id) override;

    // Window placement in HKEY_CURRENT_USER\frmBrindlecove; false when the registry refused.
    bool SavePlacement();
    bool RestorePlacement();

    // Controls created through the factory call these (Win32Controls.cpp).
    HWND CreateChild(TControlId id, const char* className, const std::string& text, ::DWORD style,
                     ::DWORD exStyle = 0);
    void Register(TControlId id, IWin32Command* command);
    void Unregister(TControlId id);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK LinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateFixedControls();
    void Arrange();
    void ShowPage(int index);
    void OnCommand(WORD id, WORD code, HWND control);
    void OnTrayMessage(LPARAM lParam);
    void ShowTrayMenu();
    void UpdateTrayIcon(::DWORD action);
    bool OnSetCursor(HWND over);
    void SetHoveredLink(HWND link);
    void ReportPlacementError(const char* action);

    TWin32WindowHooks FHooks;
    TfrmBrindlecove* FForm = nullptr;
    std::string FTitle;
    int FDpi = DesignDpi;
    TFontHandle FFont;
    TFontHandle FBoldFont;
    TFontHandle FLinkFont;
    TIconHandle FIcon;
    TWindowHandle FWindow;
    std::array<TWindowHandle, 3> FPages;
    std::array<TWindowHandle, ControlCount> FFixed; // the controls the window owns itself
    std::array<HWND, ControlCount> FControls{};     // every control's window, by id
    std::map<WORD, IWin32Command*> FCommands;
    std::map<UINT_PTR, TTimer*> FTimers;
    UINT_PTR FNextTimerId = 1;
    UINT FTaskbarCreated = 0;
    HWND FHoveredLink = nullptr;
    bool FTrayIconVisible = false;
    bool FTrayIconAdded = false;
    bool FShownOnce = false;
    bool FPlacementWritten = false;
    bool FTerminated = false;
};

} // namespace brindlecove
