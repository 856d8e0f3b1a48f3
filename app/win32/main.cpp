// brindlecove.exe: the Windows program. The RAS binding comes first and goes last; between them
// the main window and the form live, and the message loop runs until the form terminates the
// application (WM_ENDSESSION ends the process from inside the loop).
#include "app/brindlecove1.h"
#include "app/win32/Win32Profile.h"
#include "app/win32/Win32System.h"
#include "app/win32/Win32Window.h"
#include "ras/RasBinding.h"
#include "ras/win32/Win32ModuleLoader.h"
#include "routing/win32/Win32IpHelper.h"

#include <exception>
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    using namespace brindlecove;
    TWin32ModuleLoader loader;
    TRasBinding ras(loader);
    try {
        TWin32System system;
        TWin32Profile profile;
        TWin32Clock clock;
        TWin32IpHelper ipHelper;
        TWin32Registry registry;
        TWin32MainWindow window;
        window.SetTitle(DesignCaption);
        int exitCode = 0;
        {
            TfrmBrindlecove form(
                {window, window, ras, window, clock, system, profile, ipHelper, registry});
            window.Attach(&form);
            form.FormCreate();
            MSG message{};
            BOOL got = FALSE;
            while (!window.Terminated() && (got = ::GetMessageA(&message, nullptr, 0, 0)) > 0) {
                if (::IsDialogMessageA(window.Handle(), &message) == FALSE) {
                    ::TranslateMessage(&message);
                    ::DispatchMessageA(&message);
                }
            }
            exitCode = got > 0 ? 0 : static_cast<int>(message.wParam);
            window.Attach(nullptr);
        }
        return exitCode;
    } catch (const std::exception& error) {
        ::MessageBoxA(nullptr, error.what(), DesignCaption, MB_OK | MB_ICONERROR);
        return 1;
    }
}
