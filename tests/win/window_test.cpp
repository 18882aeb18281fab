// SPDX-License-Identifier: MIT
// The native window under Wine and a display: the real dialog on COM5 (the simulator), driven through
// its controls from a second thread the way an operator's clicks arrive.
//
//   window_test.exe PRODUCT SCREENSHOT.bmp
//
// Checks the exact title and client size, that every Chinese text of the template has its glyphs in
// the dialog's font, and that "读信息" fills the product number; that the record items of the system menu
// do their work on planted record files (the opener is this program again, noting what it was handed);
// saves a screenshot; prints "startup-ms N" (process start to the window shown). Exit 0 when every check
// held.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/korvel_app.h"
#include "app/registry_profile.h"
#include "records/record_file.h"
#include "serial/registry_ports.h"
#include "support/record_lines.h"
#include "ui/controls.h"
#include "ui/dialog_template.h"
#include "ui/texts.h"
#include "win32_window.h"

#include <windows.h>

#include <commctrl.h>

#include "text/wide_win.h"

namespace korvel {
namespace {

int g_failures = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    if (!ok) ++g_failures;
}

std::wstring ItemText(HWND dialog, int id) {
    wchar_t text[512] = {};
    GetDlgItemTextW(dialog, id, text, 512);
    return text;
}

// Waits up to timeout for the control to show the text (read through the dialog's own thread).
bool WaitFor(HWND dialog, int id, const std::wstring& text, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (ItemText(dialog, id) == text) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool GlyphsPresent(HWND dialog) {
    HDC dc = GetDC(dialog);
    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    const HGDIOBJ old = SelectObject(dc, font);
    bool all = true;
    for (const ControlTemplate& c : MainDialogTemplate().controls) {
        const std::wstring text = ToWide(c.text);
        if (text.empty()) continue;
        std::vector<WORD> glyphs(text.size());
        GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                         GGI_MARK_NONEXISTING_GLYPHS);
        for (WORD g : glyphs) all = all && g != 0xFFFF;
    }
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    return all;
}

bool SaveScreenshot(HWND window, const std::string& path) {
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    const bool copied = BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    BITMAPFILEHEADER file{
        0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + stride * h), 0, 0,
        sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    std::ofstream out(std::filesystem::path(ToWide(path)), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), static_cast<std::streamsize>(stride) * h);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return copied && out.good();
}

double MillisecondsSinceProcessStart() {
    FILETIME created, exited, kernel, user, now;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](FILETIME t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(now) - ticks(created)) / 10000.0;
}

// The opener's log: one path a line, as the stand-in was handed them.
std::wstring g_log;

std::vector<std::wstring> Opened() {
    std::ifstream in(std::filesystem::path(g_log), std::ios::binary);
    std::vector<std::wstring> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(ToWide(line));
    return lines;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

struct ToolTipSearch {
    HWND dialog;
    int id;
    std::wstring text;
};

// A window procedure's calling convention (stdcall on x86), which a lambda cannot take.
BOOL CALLBACK TakeToolTip(HWND window, LPARAM data) {
    auto& s = *reinterpret_cast<ToolTipSearch*>(data);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (std::wstring(name) != TOOLTIPS_CLASSW) return TRUE;
    wchar_t text[1024] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = s.dialog;
    tool.uId = static_cast<UINT_PTR>(s.id);
    tool.lpszText = text;
    SendMessageW(window, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&tool));
    if (text[0]) s.text = text;
    return TRUE;
}

// The tooltip text of control id, whichever tooltip window of the dialog holds it.
std::wstring ToolTipOf(HWND dialog, int id) {
    ToolTipSearch search{dialog, id, {}};
    EnumThreadWindows(GetWindowThreadProcessId(dialog, nullptr), TakeToolTip,
                      reinterpret_cast<LPARAM>(&search));
    return search.text;
}

// Ctrl+key as the operator types it, to the window in the foreground.
void PressCtrl(WORD key) {
    INPUT keys[4] = {};
    const WORD order[4] = {VK_CONTROL, key, key, VK_CONTROL};
    for (int i = 0; i < 4; ++i) {
        keys[i].type = INPUT_KEYBOARD;
        keys[i].ki.wVk = order[i];
        keys[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
    }
    SendInput(4, keys, sizeof(INPUT));
}

void RecordItems(HWND dialog, const std::wstring& upload) {
    // Below a separator, each with its shortcut.
    const HMENU menu = GetSystemMenu(dialog, FALSE);
    const int count = GetMenuItemCount(menu);
    Check(count >= 4 && (GetMenuState(menu, static_cast<UINT>(count - 4), MF_BYPOSITION) & MF_SEPARATOR),
          "a separator above the record items");
    const wchar_t* expected[] = {L"打开记录文件夹\tCtrl+O", L"检查记录…\tCtrl+K", L"运行速度报告…\tCtrl+P"};
    for (int i = 0; i < 3; ++i) {
        wchar_t text[128] = {};
        GetMenuStringW(menu, win::kRecordCommands[i], text, 128, MF_BYCOMMAND);
        Check(std::wstring(text) == expected[i], "system menu item " + ToUtf8(text));
    }

    // The check by its shortcut, typed into the dialog.
    SetForegroundWindow(dialog);
    PressCtrl('K');
    HWND check = nullptr;
    const bool shown = WaitUntil(
        [&] {
            check = FindWindowW(L"#32770", L"检查记录");
            return check &&
                   WindowText(GetDlgItem(check, win::kCheckTextId)).find(L"verdict") != std::wstring::npos;
        },
        std::chrono::seconds(20));
    const std::wstring text = check ? WindowText(GetDlgItem(check, win::kCheckTextId)) : L"";
    Check(shown && text.find(L"10 records missing") != std::wstring::npos &&
              text.find(L"verdict: incomplete: 1 gap") != std::wstring::npos,
          "检查记录… shows the planted gap:\n" + ToUtf8(text));
    Check(check && (GetWindowLongW(GetDlgItem(check, win::kCheckTextId), GWL_STYLE) & ES_READONLY),
          "the check's text is read-only");
    if (check) PostMessageW(check, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);

    PostMessageW(dialog, WM_SYSCOMMAND, win::kRecordCommands[0], 0);
    Check(WaitUntil([] { return Opened().size() == 1; }, std::chrono::seconds(20)) && Opened()[0] == upload,
          "打开记录文件夹 hands the upload folder to the file manager");
    PostMessageW(dialog, WM_SYSCOMMAND, win::kRecordCommands[2], 0);
    const bool page = WaitUntil([] { return Opened().size() == 2; }, std::chrono::seconds(30));
    const std::wstring path = page ? Opened()[1] : L"";
    Check(page && path.size() > 24 && path.substr(path.size() - 24) == L"\\korvel-report-4711.html" &&
              std::filesystem::exists(std::filesystem::path(path)),
          "运行速度报告… opens the device's page: " + ToUtf8(path));
    Check(
        WaitUntil(
            [&] { return ToolTipOf(dialog, IDC_RECORD_COUNT).find(L"条记录尚未下载") != std::wstring::npos; },
            std::chrono::seconds(20)),
        "the record count's tooltip: " + ToUtf8(ToolTipOf(dialog, IDC_RECORD_COUNT)));
}

void Operate(HWND dialog, std::wstring product, std::string screenshot, std::wstring upload) {
    Check(WaitFor(dialog, IDC_PORT_STATUS, ToWide(text::kPortOpen), std::chrono::seconds(20)), "COM5 opens");
    SendMessageW(GetDlgItem(dialog, IDC_READ_INFO), BM_CLICK, 0, 0);
    const bool filled = WaitFor(dialog, IDC_PRODUCT_NO, product, std::chrono::seconds(20));
    Check(filled, "读信息 fills the product number: " + ToUtf8(ItemText(dialog, IDC_PRODUCT_NO)));
    Check(IsWindowVisible(GetDlgItem(dialog, IDC_READ_DATA)) != FALSE, "读数据 is shown");
    RecordItems(dialog, upload);
    // Two ticks, so the counters show the bytes of the exchange too.
    WaitFor(dialog, IDC_RX_BYTES, L"", std::chrono::seconds(2));
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Check(SaveScreenshot(dialog, screenshot), "screenshot " + screenshot);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

}  // namespace
}  // namespace korvel

int wmain(int argc, wchar_t** argv) {
    using namespace korvel;
    // The stand-in opener: this program again, with the path alone.
    wchar_t log[1024] = {};
    if (argc == 2 && GetEnvironmentVariableW(L"KORVEL_STAND_IN_LOG", log, 1024) > 0) {
        std::ofstream(std::filesystem::path(log), std::ios::binary | std::ios::app)
            << ToUtf8(argv[1]) << '\n';
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_test.exe PRODUCT SCREENSHOT.bmp\n");
        return 2;
    }
    const std::wstring product = argv[1];
    // Device PRODUCT's records 0..99 and 110..199 in two downloads: one gap of ten records.
    // In the profile (of the test's own Wine prefix), where the window looks first.
    wchar_t profile[1024] = {};
    GetEnvironmentVariableW(L"USERPROFILE", profile, 1024);
    std::filesystem::create_directories(std::filesystem::path(profile) / L"hollin.data" / L"upload");
    const std::wstring upload = ToWide(ResolveUploadFolder());
    const std::string number = ToUtf8(product);
    for (const auto& [k, first, last] : {std::tuple{0, 0, 99}, std::tuple{60, 110, 199}}) {
        std::ofstream(std::filesystem::path(upload) / testing::RecordFileName(k, std::stoul(number)),
                      std::ios::binary)
            << testing::RecordLines(first, last, number);
    }
    wchar_t self[1024] = {}, temp[1024] = {};
    GetModuleFileNameW(nullptr, self, 1024);
    GetTempPathW(1024, temp);
    g_log = std::wstring(temp) + L"korvel-opened.log";
    std::filesystem::remove(std::filesystem::path(g_log));
    SetEnvironmentVariableW(L"KORVEL_OPEN_WITH", self);
    SetEnvironmentVariableW(L"KORVEL_STAND_IN_LOG", g_log.c_str());
    const std::string screenshot = ToUtf8(argv[2]);
    // The simulator's COM5 is the remembered port.
    const auto ports = RegistryPortEnumerator().List();
    int index = 0;
    for (size_t i = 0; i < ports.size(); ++i)
        if (ports[i] == u"COM5") index = static_cast<int>(i);
    RegistryProfile(u"korvel").WriteInt("Settings", "PortIndex", index);

    INITCOMMONCONTROLSEX controls{8, 0xFF};
    InitCommonControlsEx(&controls);
    std::thread operator_thread;
    win::RunOptions options{u"korvel", [&](HWND dialog) {
                                std::printf("startup-ms %.0f\n", MillisecondsSinceProcessStart());
                                wchar_t title[256] = {};
                                GetWindowTextW(dialog, title, 256);
                                Check(title == ToWide(text::kTitle), "title " + ToUtf8(title));
                                RECT client, units{0, 0, 359, 142};
                                GetClientRect(dialog, &client);
                                MapDialogRect(dialog, &units);
                                Check(client.right == units.right && client.bottom == units.bottom,
                                      "client size " + std::to_string(client.right) + "x" +
                                          std::to_string(client.bottom) + " = 359x142 dialog units");
                                Check(GlyphsPresent(dialog),
                                      "the Chinese texts have glyphs in the dialog font");
                                operator_thread = std::thread(Operate, dialog, product, screenshot, upload);
                            }};
    win::RunMainDialog(GetModuleHandleW(nullptr), options);
    if (operator_thread.joinable()) operator_thread.join();
    std::printf("%d failures\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
