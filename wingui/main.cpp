// SPDX-License-Identifier: MIT
// korvel.exe: the window that reads a winch running-speed recorder, as a native Windows program. Without a
// window: `korvel.exe --overview` writes and opens the overview of the upload folder (the Start-menu
// shortcut "korvel 运行记录报告"), `korvel.exe --daily COMn` is the daily task's hidden launcher.
#include "app/daily_task.h"
#include "app/korvel_app.h"
#include "app/registry_profile.h"
#include "records/record_file.h"
#include "text/format.h"
#include "text/utf8.h"
#include "ui/texts.h"
#include "win32_window.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

void Tell(const std::u16string& text) {
    MessageBoxW(nullptr, std::wstring(text.begin(), text.end()).c_str(), L"korvel",
                MB_OK | MB_ICONEXCLAMATION);
}

std::u16string Narrow(const wchar_t* text) {
    const std::wstring wide(text);
    return std::u16string(wide.begin(), wide.end());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::u16string> arguments;
    for (int i = 1; argv && i < argc; ++i) arguments.push_back(Narrow(argv[i]));
    if (argv) LocalFree(argv);

    if (arguments.size() == 1 && arguments[0] == u"--overview") {
        const std::u16string message =
            korvel::WriteAndOpenReport(korvel::WideToUtf8(korvel::ResolveUploadFolder()), std::string());
        if (message.empty()) return 0;
        Tell(message);
        return 1;
    }
    // The scheduled task's run: no window, no message box (nobody may be there to close it); the result
    // goes to the log beside the records and into the task's last result.
    // Whatever follows --daily is taken as the port's name, so that a faulty one is refused in the log.
    if (!arguments.empty() && arguments[0] == u"--daily") {
        std::u16string port;
        for (size_t i = 1; i < arguments.size(); ++i) port += (i > 1 ? u" " : u"") + arguments[i];
        return korvel::RunDailyDownload(port);
    }
    if (!arguments.empty()) {
        Tell(korvel::Format(korvel::text::kWinUsageFormat, arguments[0]));
        return 2;
    }

    // List-view, tree-view, bar, tab, up-down, progress, hot-key and animate classes.
    INITCOMMONCONTROLSEX controls{8, 0xFF};
    InitCommonControlsEx(&controls);
    // Held while the window is open: the installer asks to close korvel first (packaging/korvel.nsi).
    // The handle goes with the process.
    CreateMutexW(nullptr, FALSE, L"korvel-running");
    // The settings are kept under the program's own name, where an installation of that name keeps them.
    korvel::win::RunMainDialog(instance, {korvel::ProgramName(), {}});
    return 0;
}
