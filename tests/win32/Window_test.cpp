// The Windows main window driven through window messages, as a user's clicks arrive: created in
// this process with the form logic on top, the project's stand-in rasapi32.dll as phonebook, the
// real settings file functions and the real registry of the test prefix. Needs a display (Xvfb
// under Wine).
#include "app/brindlecove1.h"
#include "app/win32/Win32Profile.h"
#include "app/win32/Win32System.h"
#include "app/win32/Win32Window.h"
#include "common/win32/Handles.h"
#include "ras/RasBinding.h"
#include "ras/win32/Win32ModuleLoader.h"
#include "testing/FakeIpHelper.h"

#include <algorithm>
#include <commctrl.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <shellapi.h>
#include <string>
#include <vector>
#include <windows.h>

namespace brindlecove {
namespace {

namespace fs = std::filesystem;

// The real system port, with the program's folder moved to a folder of the test's own so the
// settings file lands there.
class TTestSystem final : public ISystemPort {
public:
    explicit TTestSystem(std::string folder) : FFolder(std::move(folder)) {}
    std::string ProgramFolder() const override { return FFolder; }
    bool PathExists(const std::string& path) const override { return FReal.PathExists(path); }
    std::uint32_t ReadWholeFile(const std::string& path, std::uint64_t maxSize,
                                std::string& contents) const override {
        return FReal.ReadWholeFile(path, maxSize, contents);
    }
    std::string ErrorText(std::uint32_t code) const override { return FReal.ErrorText(code); }
    TFormatSettings FormatSettings() const override { return FReal.FormatSettings(); }

private:
    std::string FFolder;
    TWin32System FReal;
};

struct TBoxCall {
    std::string Text;
    std::string Caption;
    UINT Type;
};

std::string Text(HWND window) {
    std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

struct TChildSearch {
    const std::string& ClassName;
    const std::string& Caption;
    HWND Found;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM data) {
    auto& search = *reinterpret_cast<TChildSearch*>(data);
    char name[64] = {};
    ::GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, search.ClassName.c_str()) == 0 && Text(child) == search.Caption) {
        search.Found = child;
        return FALSE;
    }
    return TRUE;
}

HWND FindChild(HWND parent, const std::string& className, const std::string& caption) {
    TChildSearch search{className, caption, nullptr};
    ::EnumChildWindows(parent, &MatchChild, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

RECT WindowRect(HWND window) {
    RECT r{};
    ::GetWindowRect(window, &r);
    return r;
}

RECT ChildRect(HWND child) {
    RECT r = WindowRect(child);
    ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void DeletePlacementKey() {
    ::RegDeleteKeyA(HKEY_CURRENT_USER, PlacementKey);
}

// A text value of the stored placement; empty when there is none.
std::string StoredText(const char* name) {
    char text[64] = {};
    ::DWORD size = sizeof text;
    ::RegGetValueA(HKEY_CURRENT_USER, PlacementKey, name, RRF_RT_REG_SZ, nullptr, text, &size);
    return text;
}

// Stores the placement's NormPos (and PixelsPerInch, unless 0) as an earlier run would have.
void StorePlacement(const std::string& norm, ::DWORD pixelsPerInch = 0) {
    ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, PlacementKey, "NormPos", REG_SZ, norm.c_str(),
                                static_cast<::DWORD>(norm.size() + 1)),
              ERROR_SUCCESS);
    if (pixelsPerInch != 0) {
        ::RegSetKeyValueA(HKEY_CURRENT_USER, PlacementKey, "PixelsPerInch", REG_DWORD,
                          &pixelsPerInch, sizeof pixelsPerInch);
    }
}

// Writes the window's pixels as they are on the screen to a 24-bit BMP file.
bool SaveScreenshot(HWND window, const std::string& path) {
    const RECT r = WindowRect(window);
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    const TScreenDC screen;
    const TMemoryDC memory(::CreateCompatibleDC(screen.Get()));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as BMP files store rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const TBitmapHandle bitmap(
        ::CreateDIBSection(screen.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    bool saved = false;
    if (bitmap) {
        HGDIOBJ old = ::SelectObject(memory.Get(), bitmap.Get());
        ::BitBlt(memory.Get(), 0, 0, width, height, screen.Get(), r.left, r.top, SRCCOPY);
        ::GdiFlush();
        const auto stride = static_cast<::DWORD>(((width * 3) + 3) & ~3);
        const ::DWORD imageSize = stride * static_cast<::DWORD>(height);
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42; // "BM"
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(&file), sizeof file);
        out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
        out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(imageSize));
        saved = out.good();
        ::SelectObject(memory.Get(), old); // the bitmap goes after it is no longer selected
    }
    return saved;
}

class Win32Window : public ::testing::Test {
protected:
    std::string Folder;
    std::string ScenarioPath;
    std::vector<TBoxCall> Boxes;
    int BoxAnswer = IdNo;
    int Halts = 0;
    std::vector<std::string> Links;

    Win32Window() {
        const std::string id = std::to_string(std::random_device()());
        Folder = (fs::temp_directory_path() / ("brindlecove-window-" + id)).string() + "\\";
        fs::create_directories(Folder);
        ScenarioPath = Folder + "phonebook.txt";
        ::SetEnvironmentVariableA("BRINDLECOVE_RAS_STANDIN", ScenarioPath.c_str());
        std::ofstream(ScenarioPath) << "entry Home|PPPoE|WAN Miniport (PPPOE)|0860|011|27|alice\n"
                                       "entry Office|modem|Standard Modem|555|021|27|bob\n"
                                       "dial Home|0|0x101\n";
        const std::string standIn = TWin32System().ProgramFolder() + "rasstandin\\full";
        ::SetDllDirectoryA(standIn.c_str());
        DeletePlacementKey();
        Ras = std::make_unique<TRasBinding>(Loader);
    }

    ~Win32Window() override {
        Close();
        Ras.reset();
        ::SetDllDirectoryA(nullptr);
        DeletePlacementKey();
        std::error_code ignored;
        fs::remove_all(Folder, ignored);
    }

    // Creates the window and the form and runs FormCreate, as the program's start does.
    void Open() {
        TWin32WindowHooks hooks;
        hooks.ShowMessageBox = [this](HWND, const std::string& text, const std::string& caption,
                                      UINT type) {
            Boxes.push_back({text, caption, type});
            return (type & MB_YESNO) != 0 ? BoxAnswer : IdOk;
        };
        hooks.OpenLink = [this](const std::string& target) { Links.push_back(target); };
        hooks.Halt = [this] { ++Halts; };
        Window = std::make_unique<TWin32MainWindow>(std::move(hooks));
        Window->SetTitle(DesignCaption);
        System = std::make_unique<TTestSystem>(Folder);
        Form = std::make_unique<TfrmBrindlecove>(TFormServices{
            *Window, *Window, *Ras, *Window, Clock, *System, Profile, IpHelper, Registry});
        Window->Attach(Form.get());
        Form->FormCreate();
        Pump();
    }

    void Close() {
        if (Window) {
            Window->Attach(nullptr);
        }
        Form.reset();
        Window.reset();
        DrainQuit();
    }

    void Pump() {
        MSG message{};
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
            if (message.message == WM_QUIT) {
                QuitSeen = true;
                continue;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    }

    void DrainQuit() {
        MSG message{};
        while (::PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE) {
            QuitSeen = true;
        }
    }

    HWND Main() const { return Window->Handle(); }
    HWND Button(const std::string& caption) const { return FindChild(Main(), "Button", caption); }
    HWND Control(TControlId id) const { return Window->Control(id); }
    bool Checked(TControlId id) const {
        return ::SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void Click(HWND button) {
        ASSERT_NE(button, nullptr);
        ::SendMessageA(button, BM_CLICK, 0, 0);
        Pump();
    }
    // A user's choice in a drop-down list: the selection, then its notification to the parent.
    void Choose(TControlId id, int index) {
        HWND list = Control(id);
        ::SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        ::SendMessageA(::GetParent(list), WM_COMMAND,
                       MAKEWPARAM(::GetDlgCtrlID(list), CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(list));
        Pump();
    }
    std::string Log() const { return Text(Control(TControlId::Memo1)); }
    std::string SettingsFile() const {
        std::ifstream in(Folder + SettingsFileName);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    TWin32ModuleLoader Loader;
    std::unique_ptr<TRasBinding> Ras;
    TWin32Clock Clock;
    std::unique_ptr<TTestSystem> System;
    TWin32Profile Profile;
    testing::TFakeIpHelper IpHelper;
    testing::TFakeRegistry Registry;
    std::unique_ptr<TWin32MainWindow> Window;
    std::unique_ptr<TfrmBrindlecove> Form;
    bool QuitSeen = false;
};

TEST_F(Win32Window, StartsWithoutSettingsShownWithDefaultsAndNothingToSave) {
    Open();
    ASSERT_TRUE(Ras->Available()) << "the stand-in rasapi32.dll was not loaded";
    EXPECT_TRUE(::IsWindowVisible(Main()));
    EXPECT_EQ(Text(Main()), "Brindlecove v1.01");
    EXPECT_EQ(Window->Title(), "Brindlecove v1.01");
    char className[64] = {};
    ::GetClassNameA(Main(), className, sizeof className);
    EXPECT_STREQ(className, "TfrmBrindlecove");

    EXPECT_TRUE(Checked(TControlId::cbEnabled));
    EXPECT_TRUE(Checked(TControlId::cbAutoReconnectLocal));
    EXPECT_TRUE(Checked(TControlId::cbAutoReconnectInt));
    EXPECT_TRUE(Checked(TControlId::cbAutoRoute));
    EXPECT_FALSE(Checked(TControlId::cbMinimize));
    EXPECT_FALSE(::IsWindowEnabled(Control(TControlId::cbEnabled))) << "no connection chosen";
    EXPECT_FALSE(::IsWindowEnabled(Button("Save Changes")));
    EXPECT_FALSE(::IsWindowEnabled(Button("Cancel Changes")));
    EXPECT_TRUE(::IsWindowEnabled(Button("Close")));
    EXPECT_EQ(Form->SupervisionOn(), 0);

    for (TControlId list : {TControlId::comboLocal, TControlId::comboInt}) {
        HWND combo = Control(list);
        ASSERT_EQ(::SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
        EXPECT_EQ(::SendMessageA(combo, CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_EQ(::SendMessageA(combo, CB_GETITEMDATA, 1, 0), 1);
        char item[64] = {};
        ::SendMessageA(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(item));
        EXPECT_STREQ(item, "Office");
        EXPECT_EQ(::GetWindowLongA(combo, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
    }

    // Tabs, first active; the About page's texts.
    ASSERT_EQ(::SendMessageA(Window->Tabs(), TCM_GETITEMCOUNT, 0, 0), 3);
    EXPECT_EQ(::SendMessageA(Window->Tabs(), TCM_GETCURSEL, 0, 0), 0);
    EXPECT_TRUE(::IsWindowVisible(Window->Page(TPage::Configuration)));
    EXPECT_FALSE(::IsWindowVisible(Window->Page(TPage::Log)));
    EXPECT_EQ(Text(Control(TControlId::lblName)), "Brindlecove v1.01");
    EXPECT_EQ(Text(Control(TControlId::jvlWebsite)), "https://brindlecove.example");
    EXPECT_EQ(Text(Control(TControlId::lblDescription)).rfind("This program will monitor 2 ISP", 0),
              0u);

    // Tahoma 8 pt (height -11 at 96 dpi) on the controls.
    LOGFONTA font{};
    const auto used =
        reinterpret_cast<HFONT>(::SendMessageA(Control(TControlId::btnRoutes), WM_GETFONT, 0, 0));
    ASSERT_NE(used, nullptr);
    ASSERT_GT(::GetObjectA(used, sizeof font, &font), 0);
    EXPECT_STREQ(font.lfFaceName, "Tahoma");
    EXPECT_EQ(font.lfHeight, -::MulDiv(8, Window->Dpi(), 72));
}

TEST_F(Win32Window, ConnectingAndChoosingTwoConnectionsLogTimeStampedLines) {
    std::ofstream(ScenarioPath, std::ios::app) << "dial Office|0|0x102\n";
    Open();
    Choose(TControlId::comboLocal, 0);
    EXPECT_TRUE(::IsWindowEnabled(Button("Save Changes")));
    EXPECT_FALSE(::IsWindowEnabled(Control(TControlId::cbEnabled))) << "one list chosen only";
    EXPECT_EQ(Form->SupervisionOn(), 0);
    Click(Control(TControlId::btnConnectLocal));
    const std::string log = Log();
    const std::regex line(R"(^\d\d.\d\d.\d{4} \d\d.\d\d.\d\d Connected to Home\r\n$)");
    EXPECT_TRUE(std::regex_match(log, line)) << log;
    const TFormatSettings format = TWin32System().FormatSettings();
    ASSERT_GT(log.size(), 14u);
    EXPECT_EQ(log[2], format.DateSeparator);
    EXPECT_EQ(log[13], format.TimeSeparator);

    Choose(TControlId::comboInt, 0);
    EXPECT_FALSE(::IsWindowEnabled(Control(TControlId::cbEnabled))) << "the same item twice";
    Choose(TControlId::comboInt, 1);
    EXPECT_TRUE(::IsWindowEnabled(Control(TControlId::cbEnabled)));
    EXPECT_TRUE(Checked(TControlId::cbEnabled));
    EXPECT_EQ(Form->SupervisionOn(), 1);
    EXPECT_EQ(Form->comboInt->Text(), "Office");
    // Supervision dialled the international connection at once.
    const std::string after = Log();
    EXPECT_NE(after.find(" Connected to Office\r\n"), std::string::npos) << after;
    const std::regex stamped(R"(^(\d\d.\d\d.\d{4} \d\d.\d\d.\d\d [^\r\n]*\r\n)+$)");
    EXPECT_TRUE(std::regex_match(after, stamped)) << after;
}

TEST_F(Win32Window, LogIsEmptiedByTheLineThatPassesOneThousandOnTheRealEdit) {
    Open();
    HWND memo = Control(TControlId::Memo1);
    // Windows answers 0x7FFFFFFE for a multi-line edit without a limit, Wine 0xFFFFFFFF.
    EXPECT_GE(static_cast<unsigned long long>(::SendMessageA(memo, EM_GETLIMITTEXT, 0, 0)),
              0x7FFFFFFEull)
        << "no 30000-character limit of the edit's own";
    const std::string message(40, 'x'); // 1000 lines of 60 characters: past 30000
    for (int i = 0; i < 1000; ++i) {
        Form->LogLine(message);
    }
    EXPECT_EQ(Form->Memo1->LineCount(), 1000);
    EXPECT_EQ(::SendMessageA(memo, EM_GETLINECOUNT, 0, 0), 1001) << "with the empty last position";
    EXPECT_GT(::GetWindowTextLengthA(memo), 30000);
    EXPECT_GT(::SendMessageA(memo, EM_GETFIRSTVISIBLELINE, 0, 0), 900) << "scrolled to the end";
    Form->LogLine(message);
    EXPECT_EQ(::GetWindowTextLengthA(memo), 0);
    Form->LogLine("after");
    EXPECT_EQ(Form->Memo1->LineCount(), 1);
    EXPECT_NE(Log().find(" after\r\n"), std::string::npos);
}

TEST_F(Win32Window, ALogLineAfterTypedTextStartsALineOfItsOwnAndLongLinesCountAsTheirPieces) {
    Open();
    HWND memo = Control(TControlId::Memo1);
    Form->LogLine("first");
    const auto end = static_cast<WPARAM>(::GetWindowTextLengthA(memo));
    ::SendMessageA(memo, EM_SETSEL, end, static_cast<LPARAM>(end));
    ::SendMessageA(memo, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>("typed"));
    Form->LogLine("second");
    const std::string log = Log();
    EXPECT_NE(log.find("\r\ntyped\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.size() - 8), "second\r\n");
    EXPECT_EQ(Form->Memo1->LineCount(), 3);

    // A line wider than the log wraps: each piece counts.
    Form->LogLine(std::string(600, 'w') + " " + std::string(600, 'v'));
    EXPECT_GT(Form->Memo1->LineCount(), 5);
    EXPECT_EQ(Form->Memo1->LineCount(), ::SendMessageA(memo, EM_GETLINECOUNT, 0, 0) - 1);
}

TEST_F(Win32Window, AMoveAfterTheIconShowedTheWindowAgainIsWrittenAtTheEnd) {
    Open();
    ::SendMessageA(Main(), WM_CLOSE, 0, 0); // written, and hidden in the notification area
    ::SendMessageA(Main(), TrayMessage, 1, WM_LBUTTONDBLCLK);
    Pump();
    ::SetWindowPos(Main(), nullptr, 60, 70, 700, 400, SWP_NOZORDER);
    Pump();
    Close(); // the end of the run
    EXPECT_EQ(StoredText("NormPos"), "60,70,760,470");
}

TEST_F(Win32Window, CloseBoxHidesToTheTrayAndTheIconRestores) {
    Open();
    EXPECT_FALSE(Window->TrayIconVisible());
    ::SendMessageA(Main(), WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump();
    EXPECT_TRUE(::IsWindow(Main()));
    EXPECT_FALSE(::IsWindowVisible(Main()));
    EXPECT_TRUE(Window->TrayIconVisible());
    EXPECT_FALSE(Window->Terminated());

    ::SendMessageA(Main(), TrayMessage, 1, WM_LBUTTONDBLCLK);
    Pump();
    EXPECT_TRUE(::IsWindowVisible(Main()));
    EXPECT_TRUE(Window->TrayIconVisible()) << "the icon stays";

    ::SendMessageA(Main(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindowVisible(Main()));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(Win32Window, MinimisedStartShowsOnlyTheIconAndTheIconShowsTheWindowAtItsPlace) {
    std::ofstream(Folder + SettingsFileName) << "[CONFIG]\r\nMINIMIZE=1\r\n";
    ASSERT_NO_FATAL_FAILURE(StorePlacement("30,40,730,440"));
    Open();
    EXPECT_FALSE(::IsWindowVisible(Main()));
    EXPECT_TRUE(Window->TrayIconVisible());
    EXPECT_TRUE(Checked(TControlId::cbMinimize));
    ::SendMessageA(Main(), TrayMessage, 1, WM_LBUTTONDBLCLK);
    Pump();
    EXPECT_TRUE(::IsWindowVisible(Main()));
    const RECT r = WindowRect(Main());
    EXPECT_EQ(r.left, 30) << "placement restored at the first showing";
    EXPECT_EQ(r.top, 40);
    EXPECT_EQ(r.right, 730);
}

TEST_F(Win32Window, CloseWithoutChangesEndsWithoutAQuestion) {
    Open();
    Click(Button("Close"));
    EXPECT_TRUE(Window->Terminated());
    EXPECT_TRUE(QuitSeen) << "the message loop is told to end";
    EXPECT_TRUE(Boxes.empty());
    EXPECT_FALSE(fs::exists(Folder + SettingsFileName));
}

TEST_F(Win32Window, CloseWithChangesAsksAndYesSaves) {
    Open();
    Click(Control(TControlId::cbAutoRoute));
    EXPECT_FALSE(Checked(TControlId::cbAutoRoute));
    ASSERT_TRUE(::IsWindowEnabled(Button("Save Changes")));
    BoxAnswer = IdYes;
    Click(Button("Close"));
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Configuration has changed - save it before closing?");
    EXPECT_EQ(Boxes[0].Caption, "Confirm");
    EXPECT_EQ(Boxes[0].Type, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_TRUE(Window->Terminated());
    EXPECT_NE(SettingsFile().find("AUTOROUTE=0"), std::string::npos) << SettingsFile();
}

TEST_F(Win32Window, CloseWithChangesAsksAndNoEndsWithoutSaving) {
    Open();
    Click(Control(TControlId::cbMinimize));
    BoxAnswer = IdNo;
    Click(Button("Close"));
    EXPECT_EQ(Boxes.size(), 1u);
    EXPECT_TRUE(Window->Terminated());
    EXPECT_FALSE(fs::exists(Folder + SettingsFileName));
}

TEST_F(Win32Window, EndOfSessionSavesChangesSilentlyAndEndsTheProcess) {
    Open();
    Click(Control(TControlId::cbMinimize));
    EXPECT_EQ(::SendMessageA(Main(), WM_QUERYENDSESSION, 0, 0), TRUE);
    ::SendMessageA(Main(), WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(Halts, 0) << "the session goes on";
    EXPECT_FALSE(fs::exists(Folder + SettingsFileName));
    ::SendMessageA(Main(), WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(Halts, 1);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_NE(SettingsFile().find("MINIMIZE=1"), std::string::npos) << SettingsFile();
}

TEST_F(Win32Window, PlacementIsWrittenOnCloseInItsOrderAndRestoredAtTheNextStart) {
    Open();
    ::SetWindowPos(Main(), nullptr, 40, 50, 700, 400, SWP_NOZORDER);
    Pump();
    ::SendMessageA(Main(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(Window->PlacementWritten());

    const std::string size = "(" + std::to_string(::GetSystemMetrics(SM_CXSCREEN)) + "x" +
                             std::to_string(::GetSystemMetrics(SM_CYSCREEN)) + ")";
    const std::vector<std::pair<std::string, ::DWORD>> written = {
        {"FormVersion", REG_DWORD},   {"Flags", REG_DWORD},  {"PixelsPerInch", REG_DWORD},
        {"MinMaxPos" + size, REG_SZ}, {"MinMaxPos", REG_SZ}, {"NormPos" + size, REG_SZ},
        {"NormPos", REG_SZ}};
    TRegistryKey key;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, PlacementKey, 0, KEY_READ, key.Receive()),
              ERROR_SUCCESS);
    std::vector<std::pair<std::string, ::DWORD>> enumerated;
    for (::DWORD i = 0;; ++i) {
        char name[128] = {};
        ::DWORD nameLength = sizeof name;
        ::DWORD type = 0;
        if (::RegEnumValueA(key.Get(), i, name, &nameLength, nullptr, &type, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        enumerated.emplace_back(name, type);
    }
    // Windows lists values in the order they were written; Wine sorted by name.
    auto sorted = written;
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        return lstrcmpiA(a.first.c_str(), b.first.c_str()) < 0;
    });
    EXPECT_TRUE(enumerated == written || enumerated == sorted)
        << ::testing::PrintToString(enumerated);
    EXPECT_EQ(StoredText("NormPos"), "40,50,740,450");
    ::DWORD ppi = 0;
    ::DWORD ppiSize = sizeof ppi;
    ::RegGetValueA(HKEY_CURRENT_USER, PlacementKey, "PixelsPerInch", RRF_RT_REG_DWORD, nullptr,
                   &ppi, &ppiSize);
    EXPECT_EQ(static_cast<int>(ppi), Window->Dpi());

    // The next start opens the window where it was.
    Close();
    Open();
    const RECT r = WindowRect(Main());
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right - r.left, 700);
    EXPECT_EQ(r.bottom - r.top, 400);
}

TEST_F(Win32Window, PlacementOfAnotherDpiOrAnEmptyRectangleIsIgnored) {
    for (const char* change : {"dpi", "rect"}) {
        const bool dpi = std::string(change) == "dpi";
        ASSERT_NO_FATAL_FAILURE(
            StorePlacement(dpi ? "10,20,710,420" : "700,20,10,420", dpi ? 300 : 96));
        Open();
        const RECT r = WindowRect(Main());
        EXPECT_EQ(r.left, (::GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2) << change;
        Close();
        DeletePlacementKey();
    }
}

// Every control of the layout is a child window of its page (or of the window itself), with the
// form's font, where the layout puts it for the parent's size, at the design size and after the
// user made the window larger.
TEST_F(Win32Window, EveryControlOfTheLayoutStandsWhereTheLayoutPutsItAtAnySize) {
    Open();
    RECT client{};
    ::GetClientRect(Main(), &client);
    EXPECT_EQ(client.right, ScaleToDpi(DesignClientWidth, Window->Dpi()));
    EXPECT_EQ(client.bottom, ScaleToDpi(DesignClientHeight, Window->Dpi()));
    const auto check = [&] {
        for (const TLayoutEntry& entry : WindowLayout) {
            SCOPED_TRACE(entry.Name);
            HWND control = Control(entry.Id);
            ASSERT_TRUE(::IsWindow(control));
            HWND parent = ::GetParent(control);
            EXPECT_EQ(parent, Window->Page(entry.Page));
            EXPECT_NE(::SendMessageA(control, WM_GETFONT, 0, 0), 0);
            RECT area{};
            ::GetClientRect(parent, &area);
            const TLayoutRect expected =
                ArrangeControl(entry, area.right, area.bottom, Window->Dpi());
            const RECT r = ChildRect(control);
            EXPECT_EQ(r.left, expected.Left);
            EXPECT_EQ(r.top, expected.Top);
            EXPECT_EQ(r.right, expected.Right());
            if (entry.Id != TControlId::comboLocal && entry.Id != TControlId::comboInt) {
                EXPECT_EQ(r.bottom, expected.Bottom()); // a list's height includes its drop-down
            }
            EXPECT_LE(r.right, area.right);
        }
    };
    check();
    RECT page{};
    ::GetClientRect(Window->Page(TPage::Configuration), &page);
    const RECT outer = WindowRect(Main());
    ::SetWindowPos(Main(), nullptr, 0, 0, outer.right - outer.left + 120,
                   outer.bottom - outer.top + 60, SWP_NOMOVE | SWP_NOZORDER);
    Pump();
    RECT larger{};
    ::GetClientRect(Main(), &larger);
    ASSERT_EQ(larger.right, client.right + 120);
    RECT largerPage{};
    ::GetClientRect(Window->Page(TPage::Configuration), &largerPage);
    EXPECT_EQ(largerPage.right, page.right + 120) << "the pages follow the tabs";
    EXPECT_EQ(largerPage.bottom, page.bottom + 60);
    check();

    MINMAXINFO info{};
    ::SendMessageA(Main(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, MinimumOuterSize(Window->Dpi()).Width);
    EXPECT_EQ(info.ptMinTrackSize.y, MinimumOuterSize(Window->Dpi()).Height);
}

TEST_F(Win32Window, LinksGoToTheShellWithTheMailSubject) {
    Open();
    for (TControlId link : {TControlId::jvlWebsite, TControlId::jvlEmail, TControlId::JvLabel1}) {
        HWND label = Control(link);
        ::SendMessageA(::GetParent(label), WM_COMMAND,
                       MAKEWPARAM(::GetDlgCtrlID(label), STN_CLICKED),
                       reinterpret_cast<LPARAM>(label));
    }
    ASSERT_EQ(Links.size(), 3u);
    EXPECT_EQ(Links[0], "https://brindlecove.example");
    EXPECT_EQ(Links[1], "mailto:support@brindlecove.example?Subject=Brindlecove v1.01");
    EXPECT_EQ(Links[2], Text(Control(TControlId::JvLabel1)));
}

TEST_F(Win32Window, TrayMenuRestoresTheWindow) {
    Open();
    ::SendMessageA(Main(), WM_CLOSE, 0, 0);
    ASSERT_FALSE(::IsWindowVisible(Main()));
    // Keys waiting in the queue drive the menu once it is open: the first item, Restore.
    ::PostMessageA(Main(), WM_KEYDOWN, VK_DOWN, 0);
    ::PostMessageA(Main(), WM_KEYDOWN, VK_RETURN, 0);
    ::SendMessageA(Main(), TrayMessage, 1, WM_RBUTTONUP);
    Pump();
    if (!::IsWindowVisible(Main())) {
        GTEST_SKIP() << "the menu did not take the posted keys here";
    }
    EXPECT_TRUE(::IsWindowVisible(Main()));
}

// Whether the shell holds the window's notification-area icon: only an icon it holds can be
// changed.
bool ShellHoldsIcon(HWND window) {
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = NIF_TIP;
    lstrcpynA(data.szTip, "Brindle Cove", sizeof data.szTip);
    return ::Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

TEST_F(Win32Window, IconIsAddedAgainWhenTheTaskbarIsCreatedAndRemovedAtTheEnd) {
    Open();
    EXPECT_FALSE(ShellHoldsIcon(Main())) << "no icon before the first close";
    ::SendMessageA(Main(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(ShellHoldsIcon(Main()));
    // The shell restarts: its icons are gone, and it tells every window.
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = Main();
    data.uID = 1;
    ASSERT_TRUE(::Shell_NotifyIconA(NIM_DELETE, &data));
    ASSERT_FALSE(ShellHoldsIcon(Main()));
    ::SendMessageA(Main(), ::RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(ShellHoldsIcon(Main()));
    // The session ends: the icon goes with the process.
    ::SendMessageA(Main(), WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(Halts, 1);
    EXPECT_FALSE(ShellHoldsIcon(Main()));
}

TEST_F(Win32Window, LinksShowTheHandCursorAndAreUnderlinedWhileTheMouseIsOverThem) {
    Open();
    HWND link = Control(TControlId::jvlWebsite);
    HWND page = ::GetParent(link);
    const auto underlined = [](HWND window) {
        LOGFONTA font{};
        const auto used = reinterpret_cast<HFONT>(::SendMessageA(window, WM_GETFONT, 0, 0));
        return used != nullptr && ::GetObjectA(used, sizeof font, &font) > 0 &&
               font.lfUnderline != 0 && font.lfWeight >= FW_BOLD;
    };
    EXPECT_FALSE(underlined(link));
    EXPECT_EQ(::SendMessageA(page, WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                             MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(::GetCursor(), ::LoadCursorA(nullptr, IDC_HAND));
    EXPECT_TRUE(underlined(link));
    ::SendMessageA(page, WM_SETCURSOR, reinterpret_cast<WPARAM>(page),
                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_FALSE(underlined(link));

    // Out of the window straight from the link: only the link hears of it.
    ::SendMessageA(page, WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    ASSERT_TRUE(underlined(link));
    ::SendMessageA(link, WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(underlined(link));
}

TEST_F(Win32Window, ScreenshotOfEachTab) {
    Open();
    const char* names[] = {"configuration", "log", "about"};
    for (int i = 0; i < 3; ++i) {
        Window->SelectPage(i);
        EXPECT_EQ(::SendMessageA(Window->Tabs(), TCM_GETCURSEL, 0, 0), i);
        if (i == 1) {
            Form->LogLine("Connected to Home");
        }
        ::RedrawWindow(Main(), nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        Pump();
        ::Sleep(200);
        Pump();
        const std::string path = TWin32System().ProgramFolder() + "window-" + names[i] + ".bmp";
        EXPECT_TRUE(SaveScreenshot(Main(), path)) << path;
        EXPECT_GT(fs::file_size(path), 100000u);
    }
}

} // namespace
} // namespace brindlecove
