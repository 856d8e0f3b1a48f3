#pragma once
// Headless controls and application for tests: the form logic runs on them as on a real window,
// and tests drive them (click, select, read the log, answer message boxes).

#include "app/ApplicationPort.h"
#include "app/Controls.h"
#include "app/ProfilePort.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace brindlecove::testing {

// A log view that wraps its lines at a fixed number of characters.
class THeadlessLogView final : public TLogView {
public:
    explicit THeadlessLogView(TControlId id, int width = 100) : TLogView(id), FWidth(width) {}

    void Append(const std::string& line) override;
    int LineCount() const override { return FDisplayed; }
    void Clear() override;
    bool GetScrollRange(int& minPos, int& maxPos) const override;
    void ScrollThumbTo(std::uint16_t position) override { FPosition = position; }

    const std::vector<std::string>& Lines() const { return FLines; }
    int ScrollPosition() const { return FPosition; }
    void SetWidth(int width) { FWidth = width; }

private:
    int FWidth;
    std::vector<std::string> FLines;
    int FDisplayed = 0;
    int FPosition = 0;
};

class THeadlessControls final : public TPlainControls {
public:
    std::unique_ptr<TLogView> CreateLogView(TControlId id) override {
        return std::make_unique<THeadlessLogView>(id);
    }
};

struct TMessageBox {
    std::string Text;
    std::string Caption;
    UINT Type;
};

class THeadlessApplication final : public IApplication {
public:
    std::string Title;
    std::string Caption;
    bool WindowVisible = false;
    int WindowShown = 0; // how often the window was shown and brought to the front
    bool TrayIconVisible = false;
    bool Terminated = false;
    bool Halted = false;
    std::vector<TMessageBox> MessageBoxes;
    std::deque<int> Answers; // answers for the next boxes; IdOk / IdNo when none is left
    // Runs inside each message box and each ProcessMessages, as the message loop would run
    // timers and events there.
    std::function<void()> OnMessages;
    int ProcessMessagesCalls = 0;

    void SetTitle(const std::string& title) override { Title = title; }
    int MessageBoxA(const std::string& text, const std::string& caption, UINT type) override;
    void ProcessMessages() override;
    void Terminate() override { Terminated = true; }
    void Halt() override { Halted = true; }
    void SetCaption(const std::string& caption) override { Caption = caption; }
    void ShowMainWindow() override {
        WindowVisible = true;
        ++WindowShown;
    }
    void HideMainWindow() override { WindowVisible = false; }
    void SetTrayIconVisible(bool visible) override { TrayIconVisible = visible; }
};

// An in-memory settings file per path, looked up without regard to letter case, with writes that
// can be made to fail.
class TFakeProfile final : public IProfilePort {
public:
    // path -> section -> key -> value (section and key stored in upper case)
    std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> Files;
    int FailWriteAfter = -1; // writes that succeed before every further write fails; -1: none
    std::vector<std::string> Written; // "KEY=value" in order

    std::string Value(const std::string& path, const std::string& key) const;

    DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                                   DWORD size, LPCSTR fileName) override;
    BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                    LPCSTR fileName) override;
    DWORD LastError() const override { return FLastError; }

private:
    DWORD FLastError = 0;
};

} // namespace brindlecove::testing
