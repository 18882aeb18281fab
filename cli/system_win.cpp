// SPDX-License-Identifier: MIT
#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <streambuf>

#include "console_text.h"
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

// Standard output or standard error as the program's UTF-8 text reaches it. A console gets UTF-16
// through WriteConsoleW, which shows Chinese under any code page (Windows 7's console included) and
// leaves the console's code page as it was; a pipe or a file gets the UTF-8 bytes, with CR LF line ends
// unless binary. The C runtime's text mode is not involved, so no line end is doubled.
class StandardStream : public std::streambuf {
  public:
    explicit StandardStream(DWORD which) : handle_(GetStdHandle(which)) {
        DWORD mode = 0;
        console_ = handle_ && handle_ != INVALID_HANDLE_VALUE && GetConsoleMode(handle_, &mode);
        setp(buffer_, buffer_ + sizeof buffer_);
    }
    void SetBinary() {
        sync();
        binary_ = true;
    }

  protected:
    int_type overflow(int_type c) override {
        if (!Flush(false)) return traits_type::eof();
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
        return c;
    }
    int sync() override { return Flush(true) ? 0 : -1; }

  private:
    // Writes what the buffer holds; a UTF-8 sequence cut by the buffer's end waits for its rest unless
    // all is to go out.
    bool Flush(bool all) {
        const std::string_view held(pbase(), static_cast<size_t>(pptr() - pbase()));
        const size_t ready = console_ && !all ? CompleteUtf8Length(held) : held.size();
        const bool ok = console_ ? ToConsole(held.substr(0, ready)) : ToFile(held.substr(0, ready));
        const std::string rest(held.substr(ready));
        setp(buffer_, buffer_ + sizeof buffer_);
        for (const char c : rest) sputc(c);
        return ok;
    }
    bool ToConsole(std::string_view text) {
        const std::wstring wide = ToWide(text);
        for (size_t done = 0; done < wide.size();) {
            DWORD written = 0;
            const DWORD count = static_cast<DWORD>(std::min<size_t>(wide.size() - done, 8192));
            if (!WriteConsoleW(handle_, wide.data() + done, count, &written, nullptr) || written == 0)
                return false;
            done += written;
        }
        return true;
    }
    bool ToFile(std::string_view text) {
        const std::string shaped = binary_ ? std::string(text) : WithCarriageReturns(text, after_cr_);
        for (size_t done = 0; done < shaped.size();) {
            DWORD written = 0;
            const DWORD count = static_cast<DWORD>(std::min<size_t>(shaped.size() - done, 1 << 20));
            if (!WriteFile(handle_, shaped.data() + done, count, &written, nullptr) || written == 0)
                return false;
            done += written;
        }
        return true;
    }

    HANDLE handle_;
    bool console_ = false;
    bool binary_ = false;
    bool after_cr_ = false;
    char buffer_[4096];
};

// Made once and never destroyed: the streams flush into them while the program ends.
StandardStream* g_stdout = nullptr;

}  // namespace

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    g_stdout = new StandardStream(STD_OUTPUT_HANDLE);
    std::cout.rdbuf(g_stdout);
    std::cerr.rdbuf(new StandardStream(STD_ERROR_HANDLE));
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return {argv, argv + argc};
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(ToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

void BinaryStandardOutput() {
    std::cout.flush();
    if (g_stdout) g_stdout->SetBinary();
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::string EraseProgressLine(size_t columns) { return BlankedLine(columns); }

// A missing SERIALCOMM key only means that no port is there; a key that cannot be read is a failure.
SystemPortList SystemPorts() {
    bool absent = false;
    const std::optional<std::vector<std::u16string>> list = RegistryPortEnumerator().Read(&absent);
    SystemPortList result;
    for (const std::u16string& name : list.value_or(std::vector<std::u16string>()))
        result.ports.push_back(WideToUtf8(name));
    if (!list && !absent)
        result.failure = {
            FailureKind::Other,
            "the system's list of serial ports (HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM) "
            "cannot be read: check that this user may read the registry"};
    return result;
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

std::optional<std::string> HomeFolderVariable() { return std::nullopt; }

std::string UploadFolderHint() { return "%USERPROFILE%\\hollin.data\\upload"; }

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
