// brindlecove, the Linux edition: the main window's logic without a window. Dial-up entries are
// pppd peers, routes go through rtnetlink, the settings file and the route list sit beside the
// executable or in the folder --config-dir names. Log lines on standard output; warnings and
// questions on standard error.
//
// SIGTERM and SIGINT end the program as the end of a Windows session does (unsaved settings are
// saved first); SIGHUP reloads the settings and applies them. Started by systemd as a notify
// service, it tells systemd when it is ready, how the links stand, and when it stops.

#include "app/brindlecove1.h"
#include "app/linux/CommandLine.h"
#include "app/linux/HeadlessHost.h"
#include "app/linux/LinuxProfile.h"
#include "app/linux/LinuxSystem.h"
#include "app/linux/ServiceManager.h"
#include "ras/linux/PppdPeers.h"
#include "ras/linux/PppdRas.h"
#include "routing/linux/NetlinkIpHelper.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

using namespace brindlecove;

namespace {

// A name as a terminal may show it: control characters and backslashes as C escapes, so that
// nothing in a file name can break a line or reach the terminal as a command.
std::string Printable(const std::string& name) {
    std::string text;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        } else {
            text += c;
        }
    }
    return text;
}

void PrintConnections(const TfrmBrindlecove& form) {
    std::printf("Connections:\n");
    if (form.comboLocal->Count() == 0) {
        std::printf("  (none: no pppd peers and no network interfaces)\n");
    }
    for (int i = 0; i < form.comboLocal->Count(); ++i) {
        const bool adapter = form.comboLocal->ItemValue(i) == AdapterItemIndex;
        std::printf("  %s (%s)\n", form.comboLocal->ItemText(i).c_str(),
                    adapter ? "network interface" : "pppd peer");
    }
    std::printf("Local: %s\nInternational: %s\n",
                form.comboLocal->ItemIndex() < 0 ? "(not chosen)" : form.comboLocal->Text().c_str(),
                form.comboInt->ItemIndex() < 0 ? "(not chosen)" : form.comboInt->Text().c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const TCommandLine command = ReadCommandLine(argc, argv);
    switch (command.Action) {
    case TCommandLine::TAction::Help:
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    case TCommandLine::TAction::Version:
        std::printf("brindlecove %s\n", BRINDLECOVE_VERSION);
        return 0;
    case TCommandLine::TAction::Refuse:
        std::fprintf(stderr, "%s%s\n", WarningPrefix(stderr), command.Message.c_str());
        return command.Status;
    case TCommandLine::TAction::Run:
        break;
    }
    // A log reader that went away must not end supervision: a write to it fails instead.
    std::signal(SIGPIPE, SIG_IGN);
    int status = 0;
    try {
        TEventLoop loop;
        TLinuxClock clock;
        TLinuxSystem system(command.ConfigDir);
        TLinuxProfile profile;
        TNetlinkIpHelper ipHelper;
        TLinuxRegistry registry;
        TPppdRas ras(PppdConfigFromEnvironment());
        TConsoleControls controls(stdout);
        TConsoleApplication app(loop, stderr);
        app.SetTitle(DesignCaption);

        TfrmBrindlecove form(
            {app, controls, ras, loop, clock, system, profile, ipHelper, registry});
        const TServiceManager manager;
        form.OnStatusChange = [&](const std::string& line) { manager.Status(line); };
        TTimer watchdog(loop, manager.WatchdogInterval());
        watchdog.OnTimer = [&] { manager.WatchdogAlive(); };
        watchdog.SetEnabled(watchdog.Interval() != 0);
        TLinuxProfile::RemoveUnfinishedSaves(form.SettingsPath());
        for (const std::string& name : ras.SkippedNames()) {
            const bool unusable = pppd::ClassifyPeerName(name) == pppd::TNameVerdict::Unusable;
            std::fprintf(stderr, "%sSkipped the peers file \"%s\": %s.\n", WarningPrefix(stderr),
                         Printable(name).c_str(),
                         unusable ? "not a name pppd can dial"
                                  : "its name differs from another's only in letter case");
        }
        // Ends as a Windows session does: unsaved settings saved without a question. A signal
        // that came during a dial is read when the dial returns; what the pass then still
        // changed (a refused password switches redial off) is saved once the loop has ended.
        bool ending = false;
        const auto endSession = [&] {
            if (const std::string failure = form.WMEndSession(true); !failure.empty()) {
                std::fprintf(stderr,
                             "%sbrindlecove: %s: the settings changed since the last save are "
                             "lost.\n",
                             WarningPrefix(stderr), failure.c_str());
                status = 1;
            }
        };
        loop.OnSignal = [&](int signal) {
            if (signal == SIGHUP) {
                try {
                    form.LoadSettings();
                    form.cbEnabledClick();
                    form.SetModified(false);
                } catch (const std::exception& error) {
                    form.ShowException(error.what());
                }
            } else {
                if (!ending) {
                    manager.Stopping();
                }
                ending = true;
                endSession();
            }
        };
        // News of the routing table from the kernel: a pass looks at it at once.
        loop.Watch(ipHelper.NotificationFd(), [&] {
            if (ipHelper.ReadNotifications()) {
                form.RoutingTableNotified();
            }
        });
        form.FormCreate();
        PrintConnections(form);
        if (!ending) { // a signal read during the first pass's dials ends the program at once
            manager.Ready();
        }
        loop.Run();
        if (ending && status == 0) {
            endSession();
        }
        return status;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%sbrindlecove: %s\n", WarningPrefix(stderr), error.what());
        return 1;
    }
}
