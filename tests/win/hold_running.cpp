// SPDX-License-Identifier: MIT
// An open korvel window, as the installer sees it: holds the mutex korvel.exe holds (wingui/main.cpp)
// while it runs a program, and ends with that program's exit status.
//   hold_running.exe PROGRAM [ARGS...]
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: hold_running.exe PROGRAM [ARGS...]\n", stderr);
        return 125;
    }
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"korvel-running");
    if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        std::fprintf(stderr, "hold_running: cannot create the mutex (error %lu)\n", GetLastError());
        return 125;
    }
    // The arguments of this test have no quotes of their own; /D= must stay unquoted for the installer.
    std::wstring line;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        bool quote = arg.find(L' ') != std::wstring::npos && arg.rfind(L"/D=", 0) != 0;
        line += (i > 1 ? L" " : L"") + (quote ? L"\"" + arg + L"\"" : arg);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "hold_running: cannot start the program (error %lu)\n", GetLastError());
        return 125;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 125;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(mutex);
    return static_cast<int>(status);
}
