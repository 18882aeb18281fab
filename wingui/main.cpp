// SPDX-License-Identifier: MIT
// korvel.exe: the window that reads a winch running-speed recorder, as a native Windows program.
#include "app/registry_profile.h"
#include "win32_window.h"

#include <windows.h>

#include <commctrl.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
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
