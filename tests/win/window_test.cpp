// SPDX-License-Identifier: MIT
// The native window under Wine and a display: the real dialog on COM5 (the simulator), driven through
// its controls from a second thread the way an operator's clicks arrive.
//
//   window_test.exe PRODUCT SCREENSHOT.bmp
//
// Checks the exact title and client size, that every Chinese text of the template has its glyphs in
// the dialog's font, and that "读信息" fills the product number; saves a screenshot; prints
// "startup-ms N" (process start to the window shown). Exit 0 when every check held.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/registry_profile.h"
#include "serial/registry_ports.h"
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

void Operate(HWND dialog, std::wstring product, std::string screenshot) {
    Check(WaitFor(dialog, IDC_PORT_STATUS, ToWide(text::kPortOpen), std::chrono::seconds(20)), "COM5 opens");
    SendMessageW(GetDlgItem(dialog, IDC_READ_INFO), BM_CLICK, 0, 0);
    const bool filled = WaitFor(dialog, IDC_PRODUCT_NO, product, std::chrono::seconds(20));
    Check(filled, "读信息 fills the product number: " + ToUtf8(ItemText(dialog, IDC_PRODUCT_NO)));
    Check(IsWindowVisible(GetDlgItem(dialog, IDC_READ_DATA)) != FALSE, "读数据 is shown");
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
    if (argc != 3) {
        std::fprintf(stderr, "usage: window_test.exe PRODUCT SCREENSHOT.bmp\n");
        return 2;
    }
    const std::wstring product = argv[1];
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
                                operator_thread = std::thread(Operate, dialog, product, screenshot);
                            }};
    win::RunMainDialog(GetModuleHandleW(nullptr), options);
    if (operator_thread.joinable()) operator_thread.join();
    std::printf("%d failures\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
