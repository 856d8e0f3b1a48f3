#include "app/win32/Win32Window.h"

#include "app/brindlecove1.h"

#include <algorithm>
#include <commctrl.h>
#include <cstdio>
#include <exception>
#include <shellapi.h>
#include <stdexcept>
#include <utility>

namespace brindlecove {

namespace {

constexpr const char* MainClassName = "TfrmBrindlecove";
constexpr const char* PageClassName = "TBrindlecovePage";
constexpr const char* TrayHint = "Brindle Cove";
constexpr int ComboListHeight = 200; // the drop-down part of a list, at 96 dpi

bool IsLink(const TWin32MainWindow& window, HWND control) {
    return control != nullptr && std::ranges::any_of(LinkControls, [&](TControlId id) {
               return control == window.Control(id);
           });
}

std::string WindowText(HWND window) {
    std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

HINSTANCE Instance() {
    return ::GetModuleHandleA(nullptr);
}

} // namespace

TDateTime TWin32Clock::Now() const {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return EncodeDateTime({now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                           std::min<int>(now.wSecond, 59), now.wMilliseconds});
}

TWin32WindowHooks DefaultWindowHooks() {
    TWin32WindowHooks hooks;
    hooks.ShowMessageBox = [](HWND owner, const std::string& text, const std::string& caption,
                              UINT type) {
        return ::MessageBoxA(owner, text.c_str(), caption.c_str(), type);
    };
    hooks.OpenLink = [](const std::string& target) {
        ::ShellExecuteA(nullptr, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    };
    hooks.Halt = [] { ::ExitProcess(0); };
    return hooks;
}

TWin32MainWindow::TWin32MainWindow(TWin32WindowHooks hooks) : FHooks(std::move(hooks)) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_TAB_CLASSES};
    ::InitCommonControlsEx(&controls);
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (::GetClassInfoExA(Instance(), MainClassName, &existing) == FALSE) {
        WNDCLASSEXA main{};
        main.cbSize = sizeof main;
        main.lpfnWndProc = &TWin32MainWindow::WindowProc;
        main.hInstance = Instance();
        main.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
        main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        main.lpszClassName = MainClassName;
        ::RegisterClassExA(&main);
        WNDCLASSEXA page = main;
        page.lpfnWndProc = &TWin32MainWindow::PageProc;
        page.lpszClassName = PageClassName;
        ::RegisterClassExA(&page);
    }

    FDpi = ::GetDeviceCaps(TScreenDC().Get(), LOGPIXELSY);
    if (FDpi <= 0) {
        FDpi = DesignDpi;
    }
    const auto font = [&](int weight, bool underline) {
        return TFontHandle(::CreateFontA(-::MulDiv(8, FDpi, 72), 0, 0, 0, weight, FALSE,
                                         underline ? TRUE : FALSE, FALSE, ANSI_CHARSET,
                                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                         DEFAULT_PITCH | FF_DONTCARE, "Tahoma"));
    };
    FFont = font(FW_NORMAL, false);
    FBoldFont = font(FW_BOLD, false);
    FLinkFont = font(FW_BOLD, true);
    // Shared icons are not destroyed by their user: the window owns a copy.
    HICON shared = static_cast<HICON>(::LoadImageA(Instance(), MAKEINTRESOURCEA(1), IMAGE_ICON, 0,
                                                   0, LR_DEFAULTSIZE | LR_SHARED));
    FIcon.Reset(::CopyIcon(shared != nullptr ? shared : ::LoadIconA(nullptr, IDI_APPLICATION)));
    FTaskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");

    // Centred on the screen at the design client size.
    const ::DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const ::DWORD exStyle = WS_EX_CONTROLPARENT;
    RECT outer{0, 0, ScaleToDpi(DesignClientWidth, FDpi), ScaleToDpi(DesignClientHeight, FDpi)};
    ::AdjustWindowRectEx(&outer, style, FALSE, exStyle);
    const int width = outer.right - outer.left;
    const int height = outer.bottom - outer.top;
    const int left = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    // The window procedure takes the handle over at WM_NCCREATE.
    HWND created = ::CreateWindowExA(exStyle, MainClassName, DesignCaption, style, left, top, width,
                                     height, nullptr, nullptr, Instance(), this);
    if (created == nullptr || FWindow.Get() != created) {
        throw std::runtime_error("Unable to create the main window (error " +
                                 std::to_string(::GetLastError()) + ")");
    }
    if (FIcon) {
        ::SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(FIcon.Get()));
        ::SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(FIcon.Get()));
    }
    CreateFixedControls();
    Arrange();
}

TWin32MainWindow::~TWin32MainWindow() {
    if (!FPlacementWritten && FWindow) {
        SavePlacement(); // a run that ended without detaching its form: nothing to report to
    }
    if (FTrayIconAdded) {
        UpdateTrayIcon(NIM_DELETE);
    }
    for (const auto& [id, timer] : FTimers) {
        ::KillTimer(Handle(), id);
    }
    FForm = nullptr;
    for (auto& control : FFixed) {
        control.Reset();
    }
    for (auto& page : FPages) {
        page.Reset();
    }
    FWindow.Reset();
}

void TWin32MainWindow::Attach(TfrmBrindlecove* form) {
    // The form leaves at the end of the run: the placement is written then, unless it has been
    // since the window was last shown, while a failure can still reach the form's error box.
    if (form == nullptr && FForm != nullptr && !FPlacementWritten && !SavePlacement()) {
        ReportPlacementError("write");
    }
    FForm = form;
}

HWND TWin32MainWindow::Control(TControlId id) const {
    return FControls[static_cast<std::size_t>(id)];
}

HWND TWin32MainWindow::Page(TPage page) const {
    return page == TPage::None ? Handle() : FPages[static_cast<std::size_t>(page) - 1].Get();
}

void TWin32MainWindow::CreateFixedControls() {
    const auto fixed = [&](TControlId id, const char* className, const std::string& text,
                           ::DWORD style, ::DWORD exStyle = 0) {
        FFixed[static_cast<std::size_t>(id)].Reset(
            CreateChild(id, className, text, style, exStyle));
    };
    fixed(TControlId::JvLabel1, "STATIC", BannerText, SS_RIGHT | SS_NOTIFY);
    fixed(TControlId::PageControl1, WC_TABCONTROLA, "", WS_CLIPSIBLINGS | WS_TABSTOP);
    HWND tabs = Tabs();
    const char* tabNames[] = {"Configuration", "Log", "About"};
    for (int i = 0; i < 3; ++i) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(tabNames[i]);
        ::SendMessageA(tabs, TCM_INSERTITEMA, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(&item));
    }
    for (std::size_t i = 0; i < FPages.size(); ++i) {
        FPages[i].Reset(::CreateWindowExA(WS_EX_CONTROLPARENT, PageClassName, tabNames[i],
                                          WS_CHILD | WS_CLIPSIBLINGS | (i == 0 ? WS_VISIBLE : 0), 0,
                                          0, 0, 0, Handle(), nullptr, Instance(), this));
        ::SetWindowPos(FPages[i].Get(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }
    fixed(TControlId::GroupBox1, "BUTTON", "Local Connection:", BS_GROUPBOX);
    fixed(TControlId::lblLocal, "STATIC", "Connection to use:", SS_LEFT);
    fixed(TControlId::GroupBox2, "BUTTON", "International Connection:", BS_GROUPBOX);
    fixed(TControlId::lblInt, "STATIC", "Connection to use:", SS_LEFT);
    fixed(TControlId::lblMaker, "STATIC", MakerText, SS_LEFT);
    fixed(TControlId::lblWebsiteCaption, "STATIC", "Web Site:", SS_LEFT);
    fixed(TControlId::jvlWebsite, "STATIC", WebsiteAddress, SS_LEFT | SS_NOTIFY);
    fixed(TControlId::lblEmailCaption, "STATIC", "Email:", SS_LEFT);
    fixed(TControlId::jvlEmail, "STATIC", MailAddress, SS_LEFT | SS_NOTIFY);
    fixed(TControlId::lblDescription, "STATIC", DescriptionText, SS_LEFT);
    for (TControlId id : LinkControls) {
        ::SetWindowSubclass(Control(id), &TWin32MainWindow::LinkProc, 0,
                            reinterpret_cast<DWORD_PTR>(this));
    }
}

void TWin32MainWindow::Arrange() {
    if (!FWindow || !FPages[0]) {
        return;
    }
    RECT client{};
    ::GetClientRect(Handle(), &client);
    const auto place = [&](HDWP batch, TControlId id, int parentWidth, int parentHeight) {
        HWND window = Control(id);
        if (window == nullptr || batch == nullptr) {
            return batch;
        }
        TLayoutRect r = ArrangeControl(LayoutOf(id), parentWidth, parentHeight, FDpi);
        if (id == TControlId::comboLocal || id == TControlId::comboInt) {
            r.Height += ScaleToDpi(ComboListHeight, FDpi);
        }
        return ::DeferWindowPos(batch, window, nullptr, r.Left, r.Top, r.Width, r.Height,
                                SWP_NOZORDER | SWP_NOACTIVATE);
    };
    HDWP batch = ::BeginDeferWindowPos(8);
    for (const TLayoutEntry& entry : WindowLayout) {
        if (entry.Page == TPage::None) {
            batch = place(batch, entry.Id, client.right, client.bottom);
        }
    }
    if (batch != nullptr) {
        ::EndDeferWindowPos(batch);
    }
    // The pages cover the tab control's display area.
    RECT display{};
    ::GetWindowRect(Tabs(), &display);
    ::MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&display), 2);
    ::SendMessageA(Tabs(), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    const int pageWidth = display.right - display.left;
    const int pageHeight = display.bottom - display.top;
    for (std::size_t i = 0; i < FPages.size(); ++i) {
        ::SetWindowPos(FPages[i].Get(), HWND_TOP, display.left, display.top, pageWidth, pageHeight,
                       SWP_NOACTIVATE);
        batch = ::BeginDeferWindowPos(16);
        for (const TLayoutEntry& entry : WindowLayout) {
            if (static_cast<std::size_t>(entry.Page) == i + 1) {
                batch = place(batch, entry.Id, pageWidth, pageHeight);
            }
        }
        if (batch != nullptr) {
            ::EndDeferWindowPos(batch);
        }
    }
}

void TWin32MainWindow::SelectPage(int index) {
    ::SendMessageA(Tabs(), TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    ShowPage(index);
}

void TWin32MainWindow::ShowPage(int index) {
    for (std::size_t i = 0; i < FPages.size(); ++i) {
        ::ShowWindow(FPages[i].Get(), static_cast<int>(i) == index ? SW_SHOW : SW_HIDE);
    }
}

// ---- IApplication ------------------------------------------------------------------------------

int TWin32MainWindow::MessageBoxA(const std::string& text, const std::string& caption, UINT type) {
    return FHooks.ShowMessageBox(Handle(), text, caption, type);
}

void TWin32MainWindow::ProcessMessages() {
    MSG message{};
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
        if (message.message == WM_QUIT) {
            // The loop that called us ends on it.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

void TWin32MainWindow::Terminate() {
    FTerminated = true;
    ::PostQuitMessage(0);
}

void TWin32MainWindow::Halt() {
    std::fflush(nullptr);
    if (FTrayIconAdded) {
        UpdateTrayIcon(NIM_DELETE);
    }
    FHooks.Halt();
}

void TWin32MainWindow::SetCaption(const std::string& caption) {
    ::SetWindowTextA(Handle(), caption.c_str());
}

void TWin32MainWindow::ShowMainWindow() {
    if (!FShownOnce) {
        FShownOnce = true;
        if (!RestorePlacement()) {
            ReportPlacementError("read");
        }
        if (FForm != nullptr) {
            FForm->FormShow();
        }
    }
    FPlacementWritten = false; // a move from now on is written at the end of the run
    ::ShowWindow(Handle(), SW_SHOW);
    if (::IsIconic(Handle()) != FALSE) {
        ::ShowWindow(Handle(), SW_RESTORE);
    }
    ::SetForegroundWindow(Handle());
}

void TWin32MainWindow::HideMainWindow() {
    ::ShowWindow(Handle(), SW_HIDE);
}

void TWin32MainWindow::SetTrayIconVisible(bool visible) {
    FTrayIconVisible = visible;
    if (visible && !FTrayIconAdded) {
        UpdateTrayIcon(NIM_ADD);
    } else if (!visible && FTrayIconAdded) {
        UpdateTrayIcon(NIM_DELETE);
    }
}

void TWin32MainWindow::UpdateTrayIcon(::DWORD action) {
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = Handle();
    data.uID = 1;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = TrayMessage;
    data.hIcon = FIcon.Get();
    lstrcpynA(data.szTip, TrayHint, sizeof data.szTip);
    const BOOL done = ::Shell_NotifyIconA(action, &data);
    if (action == NIM_ADD) {
        FTrayIconAdded = done != FALSE;
    } else if (action == NIM_DELETE) {
        FTrayIconAdded = false;
    }
}

// ---- ITimerHost --------------------------------------------------------------------------------

void TWin32MainWindow::StartTimer(TTimer& timer, std::uint32_t interval) {
    UINT_PTR id = 0;
    for (const auto& [key, value] : FTimers) {
        if (value == &timer) {
            id = key;
        }
    }
    if (id == 0) {
        id = FNextTimerId++;
        FTimers[id] = &timer;
    }
    // Setting an existing timer again restarts its countdown.
    ::SetTimer(Handle(), id, interval, nullptr);
}

void TWin32MainWindow::StopTimer(TTimer& timer) {
    for (auto it = FTimers.begin(); it != FTimers.end(); ++it) {
        if (it->second == &timer) {
            ::KillTimer(Handle(), it->first);
            FTimers.erase(it);
            return;
        }
    }
}

// ---- Window placement --------------------------------------------------------------------------

bool TWin32MainWindow::SavePlacement() {
    const bool written = SaveWindowPlacement(Handle(), FDpi);
    FPlacementWritten = FPlacementWritten || written;
    return written;
}

bool TWin32MainWindow::RestorePlacement() {
    return RestoreWindowPlacement(Handle(), FDpi);
}

void TWin32MainWindow::ReportPlacementError(const char* action) {
    if (FForm != nullptr) {
        FForm->ShowException(std::string("Unable to ") + action +
                             " the window placement in HKEY_CURRENT_USER\\" + PlacementKey);
    }
}

// ---- Messages ----------------------------------------------------------------------------------

namespace {

// Runs a handler of the form; an error that escapes it goes to the form's error box and never
// through the system's code that called the window procedure.
template <class TCall>
void Guard(TfrmBrindlecove* form, TCall&& call) {
    if (form == nullptr) {
        return;
    }
    try {
        call(*form);
    } catch (const std::exception& error) {
        try {
            form->ShowException(error.what());
        } catch (...) {
        }
    } catch (...) {
    }
}

} // namespace

LRESULT CALLBACK TWin32MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        auto* self = static_cast<TWin32MainWindow*>(create->lpCreateParams);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->FWindow.Reset(window);
    }
    auto* self = reinterpret_cast<TWin32MainWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr || self->Handle() != window) {
        return ::DefWindowProcA(window, message, wParam, lParam);
    }
    return self->Handle(message, wParam, lParam);
}

LRESULT CALLBACK TWin32MainWindow::PageProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TWin32MainWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr) {
        switch (message) {
        case WM_COMMAND:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return self->Handle(message, wParam, lParam);
        case WM_SETCURSOR:
            if (self->OnSetCursor(reinterpret_cast<HWND>(wParam))) {
                return TRUE;
            }
            break;
        default:
            break;
        }
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

LRESULT TWin32MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = Handle();
    if (message == FTaskbarCreated && FTaskbarCreated != 0) {
        // The shell's taskbar came back: a shown icon is added again.
        if (FTrayIconVisible) {
            FTrayIconAdded = false;
            UpdateTrayIcon(NIM_ADD);
        }
        return 0;
    }
    switch (message) {
    case WM_CLOSE:
        // Close box, Alt+F4 and the system menu's Close: the window goes to the notification area.
        if (!SavePlacement()) {
            ReportPlacementError("write");
        }
        Guard(FForm, [](TfrmBrindlecove& form) { form.FormClose(); });
        return 0;
    case WM_QUERYENDSESSION:
        SavePlacement();
        return TRUE;
    case WM_ENDSESSION:
        Guard(FForm, [wParam](TfrmBrindlecove& form) { form.WMEndSession(wParam != 0); });
        return 0;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        const TLayoutSize minimum = MinimumOuterSize(FDpi);
        info->ptMinTrackSize = {minimum.Width, minimum.Height};
        return 0;
    }
    case WM_SIZE:
        Arrange();
        return 0;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom == Tabs() && header->code == TCN_SELCHANGE) {
            ShowPage(static_cast<int>(::SendMessageA(Tabs(), TCM_GETCURSEL, 0, 0)));
        }
        return 0;
    }
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_TIMER: {
        const auto found = FTimers.find(static_cast<UINT_PTR>(wParam));
        if (found != FTimers.end()) {
            TTimer* timer = found->second;
            Guard(FForm, [timer](TfrmBrindlecove&) { timer->Tick(); });
        }
        return 0;
    }
    case TrayMessage:
        OnTrayMessage(lParam);
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        HWND control = reinterpret_cast<HWND>(lParam);
        ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
        if (IsLink(*this, control)) {
            ::SetTextColor(dc, RGB(0, 0, 160));
        }
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_SETCURSOR:
        if (OnSetCursor(reinterpret_cast<HWND>(wParam))) {
            return TRUE;
        }
        break;
    default:
        break;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}

void TWin32MainWindow::OnCommand(WORD id, WORD code, HWND control) {
    if (control == nullptr) {
        return;
    }
    const auto found = FCommands.find(id);
    if (found != FCommands.end()) {
        IWin32Command* command = found->second;
        Guard(FForm, [command, code](TfrmBrindlecove&) { command->Command(code); });
        return;
    }
    if (code != STN_CLICKED) {
        return;
    }
    // The links of the banner and the About page.
    if (control == Control(TControlId::JvLabel1) || control == Control(TControlId::jvlWebsite)) {
        FHooks.OpenLink(WindowText(control));
    } else if (control == Control(TControlId::jvlEmail)) {
        FHooks.OpenLink(MailToLink(WindowText(control)));
    }
}

bool TWin32MainWindow::OnSetCursor(HWND over) {
    const bool link = IsLink(*this, over);
    SetHoveredLink(link ? over : nullptr);
    if (link) {
        ::SetCursor(::LoadCursorA(nullptr, IDC_HAND));
    }
    return link;
}

void TWin32MainWindow::SetHoveredLink(HWND link) {
    if (link == FHoveredLink) {
        return;
    }
    if (FHoveredLink != nullptr) {
        ::SendMessageA(FHoveredLink, WM_SETFONT, reinterpret_cast<WPARAM>(FBoldFont.Get()), TRUE);
    }
    FHoveredLink = link;
    if (link != nullptr) {
        ::SendMessageA(link, WM_SETFONT, reinterpret_cast<WPARAM>(FLinkFont.Get()), TRUE);
        // The mouse may leave the window straight from the link, where no other control asks
        // for a cursor: the link then hears of it by WM_MOUSELEAVE.
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, link, 0};
        ::TrackMouseEvent(&track);
    }
}

LRESULT CALLBACK TWin32MainWindow::LinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR id, DWORD_PTR self) {
    if (message == WM_MOUSELEAVE) {
        auto* owner = reinterpret_cast<TWin32MainWindow*>(self);
        if (owner->FHoveredLink == window) {
            owner->SetHoveredLink(nullptr);
        }
    } else if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(window, &TWin32MainWindow::LinkProc, id);
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

void TWin32MainWindow::OnTrayMessage(LPARAM lParam) {
    switch (static_cast<UINT>(lParam)) {
    case WM_LBUTTONDBLCLK:
        Guard(FForm, [](TfrmBrindlecove& form) { form.Restore1Click(); });
        break;
    case WM_RBUTTONUP:
        ShowTrayMenu();
        break;
    default:
        break;
    }
}

void TWin32MainWindow::ShowTrayMenu() {
    const TMenuHandle menu(::CreatePopupMenu());
    if (!menu) {
        return;
    }
    ::AppendMenuA(menu.Get(), MF_STRING, CmdRestore, "Restore");
    ::AppendMenuA(menu.Get(), MF_STRING, CmdClose, "Close");
    ::SetMenuDefaultItem(menu.Get(), CmdRestore, FALSE);
    POINT at{};
    ::GetCursorPos(&at);
    // The menu closes when the user clicks elsewhere only if the window is in the foreground.
    ::SetForegroundWindow(Handle());
    const auto chosen = static_cast<UINT>(
        ::TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0,
                         Handle(), nullptr));
    ::PostMessageA(Handle(), WM_NULL, 0, 0);
    if (chosen == CmdRestore) {
        Guard(FForm, [](TfrmBrindlecove& form) { form.Restore1Click(); });
    } else if (chosen == CmdClose) {
        Guard(FForm, [](TfrmBrindlecove& form) { form.Close1Click(); });
    }
}

} // namespace brindlecove
