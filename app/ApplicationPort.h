#pragma once
// The application object and the main window's frame as the form logic uses them: the title,
// modal message boxes, the message loop, the window's visibility and the notification-area icon.

#include "common/Win32Types.h"

#include <string>

namespace brindlecove {

// MessageBoxA styles and answers the program uses.
inline constexpr UINT MbOk = 0x00000000;
inline constexpr UINT MbYesNo = 0x00000004;
inline constexpr UINT MbIconError = 0x00000010;
inline constexpr UINT MbIconQuestion = 0x00000020;
inline constexpr UINT MbIconWarning = 0x00000030;
inline constexpr int IdOk = 1;
inline constexpr int IdYes = 6;
inline constexpr int IdNo = 7;

class IApplication {
public:
    virtual ~IApplication() = default;

    virtual void SetTitle(const std::string& title) = 0;
    // A modal message box; answers the button chosen (IdOk, IdYes, IdNo). Its own message loop
    // runs while it is open.
    virtual int MessageBoxA(const std::string& text, const std::string& caption, UINT type) = 0;
    // Handles the window messages waiting in the queue, then returns.
    virtual void ProcessMessages() = 0;
    // Ends the message loop; the process exits when it returns.
    virtual void Terminate() = 0;
    // Ends the process at once.
    virtual void Halt() = 0;
    // Whether the program is ending (Terminate or Halt was called) while a handler still runs:
    // nothing new is started then. A host whose Halt ends the process never answers true.
    virtual bool Terminated() const { return false; }

    // The main window.
    virtual void SetCaption(const std::string& caption) = 0;
    // Shows the window, restores it if minimised and brings it to the foreground.
    virtual void ShowMainWindow() = 0;
    virtual void HideMainWindow() = 0;
    virtual void SetTrayIconVisible(bool visible) = 0;
};

} // namespace brindlecove
