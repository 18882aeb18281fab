// SPDX-License-Identifier: MIT
#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>

#include "serial/port_name.h"
#include "serial/registry_ports.h"
#include "system.h"
#include "text/wide_win.h"

namespace korvel::cli {
namespace {

// Ctrl-C, Ctrl-Break and the console's close reach the event loop through this one handler.
std::function<void()>* g_on_interrupt = nullptr;
EventLoop* g_loop = nullptr;
std::atomic<bool> g_immediate{false};

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    if (g_immediate) {
        static constexpr char kText[] = "korvel-cli: interrupted\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), kText, sizeof kText - 1, &written, nullptr);
        ExitProcess(130);
    }
    if (!g_loop || !g_on_interrupt) return FALSE;
    g_loop->Post(*g_on_interrupt);
    return TRUE;
}

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    // The console shows what we write as UTF-8, so the device's and the dialog's Chinese texts
    // print as they are in cmd.exe and PowerShell.
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return {argv, argv + argc};
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(ToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// A missing SERIALCOMM key only means that no port is there.
std::vector<std::string> SystemPorts(bool* readable) {
    if (readable) *readable = true;
    std::vector<std::string> names;
    for (const std::u16string& name : RegistryPortEnumerator().List()) names.push_back(WideToUtf8(name));
    return names;
}

std::string AbsoluteFolder(const std::string& folder) {
    const std::wstring wide = ToWide(folder);
    std::wstring full(32768, L'\0');
    const DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size()) return folder;
    full.resize(n);
    // "C:\" keeps its separator; every other folder loses a trailing one.
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
    return ToUtf8(full);
}

std::string PortOptionHelp() { return "the serial port, e.g. COM5 or \\\\.\\COM10"; }

std::string UploadFolderHint() { return "%USERPROFILE%\\hollin.data\\upload"; }

std::string FolderProblem(const std::string& folder) {
    const std::wstring wide = ToWide(folder);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return SystemMessage(GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return "not a folder";
    // A probe that is gone when its handle closes, and whose name never looks like a record file's.
    wchar_t probe[MAX_PATH + 1];
    if (GetTempFileNameW(wide.c_str(), L"kvl", 0, probe) == 0) return SystemMessage(GetLastError());
    DeleteFileW(probe);
    return {};
}

std::optional<uint64_t> FreeSpace(const std::string& folder) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(ToWide(folder).c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}

InterruptWatch::InterruptWatch(EventLoop& loop, std::function<void()> on_interrupt) : loop_(loop) {
    g_on_interrupt = new std::function<void()>(std::move(on_interrupt));
    g_loop = &loop_;
    if (SetConsoleCtrlHandler(OnConsoleControl, TRUE)) fd_ = 0;
}

InterruptWatch::Immediate::Immediate(InterruptWatch& watch) {
    if (watch.fd_ != 0) return;  // no handler: Ctrl-C ends the process as usual
    armed_ = true;
    g_immediate = true;
}

InterruptWatch::Immediate::~Immediate() {
    if (armed_) g_immediate = false;
}

InterruptWatch::~InterruptWatch() {
    if (fd_ == 0) SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    g_loop = nullptr;
    delete g_on_interrupt;
    g_on_interrupt = nullptr;
}

}  // namespace korvel::cli
