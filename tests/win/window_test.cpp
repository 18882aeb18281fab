// SPDX-License-Identifier: MIT
// The native window under Wine and a display: the real dialog on COM5 (the simulator), driven through
// its controls from a second thread the way an operator's clicks arrive.
//
//   window_test.exe PRODUCT RECORDS SCREENSHOT.bmp MENU.bmp SIMULATOR-LOG
//
// Checks the exact title and client size, that every Chinese text of the template has its glyphs in
// the dialog's font, and that "读信息" fills the product number; that the record items of the system menu
// do their work on planted record files (the opener is this program again, noting what it was handed);
// that ports coming and going (SERIALCOMM and WM_DEVICECHANGE, as Windows does it) keep the chosen port
// by its name; that "读数据" tells of a record file it cannot open, then saves the device's records in the
// profile's upload folder and records it in the ledger there; that a folder that cannot take the file is told
// before the device is asked anything (SIMULATOR-LOG: the simulator's request log). Saves screenshots of the
// window and of its open system menu; prints "startup-ms N" (process start to the window shown). Exit 0 when
// every check held.
#include <algorithm>
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
#include "ledger/ledger.h"
#include "records/record_file.h"
#include "serial/registry_ports.h"
#include "support/record_lines.h"
#include "ui/controls.h"
#include "ui/dialog_template.h"
#include "ui/texts.h"
#include "win32_window.h"

#include <windows.h>

#include <commctrl.h>
#include <dbt.h>

#include "text/wide_win.h"

namespace korvel {
namespace {

int g_failures = 0;

constexpr wchar_t kSerialComm[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// What the command line names.
struct Run {
    std::wstring product;
    int records = 0;
    std::string screenshot, menu_shot;
    std::wstring sim_log;
    std::wstring upload;
};

void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);  // seen even when the run is cut off
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

// The screen's rectangle r.
bool SaveScreenshot(RECT r, const std::string& path) {
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

bool SaveScreenshot(HWND window, const std::string& path) {
    RECT r;
    GetWindowRect(window, &r);
    return SaveScreenshot(r, path);
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
    Check(count >= 6 && (GetMenuState(menu, static_cast<UINT>(count - 6), MF_BYPOSITION) & MF_SEPARATOR) &&
              (GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR),
          "a separator above the record items, and one above the guide");
    const wchar_t* expected[] = {L"打开记录文件夹\tCtrl+O", L"检查记录…\tCtrl+K", L"运行速度报告…\tCtrl+P",
                                 L"操作指南\tF1"};
    for (int i = 0; i < 4; ++i) {
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
                   WindowText(GetDlgItem(check, win::kCheckTextId)).find(L"产品编号") != std::wstring::npos;
        },
        std::chrono::seconds(20));
    const std::wstring text = check ? WindowText(GetDlgItem(check, win::kCheckTextId)) : L"";
    Check(shown && text.find(L"缺少 10 条") != std::wstring::npos &&
              text.find(L"产品编号 4711：不完整（1 个缺口）") != std::wstring::npos,
          "检查记录… shows the planted gap:\n" + ToUtf8(text));
    Check(check && (GetWindowLongW(GetDlgItem(check, win::kCheckTextId), GWL_STYLE) & ES_READONLY),
          "the check's text is read-only");
    Check(check && !(GetWindowLongW(GetDlgItem(check, win::kCheckTextId), GWL_STYLE) &
                     (WS_HSCROLL | ES_AUTOHSCROLL)),
          "the check's lines wrap: no sideways scroll");
    if (check) PostMessageW(check, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);

    PostMessageW(dialog, WM_SYSCOMMAND, win::kRecordCommands[0], 0);
    Check(WaitUntil([] { return Opened().size() == 1; }, std::chrono::seconds(20)) && Opened()[0] == upload,
          "打开记录文件夹 hands the upload folder to the file manager");
    PostMessageW(dialog, WM_SYSCOMMAND, win::kRecordCommands[2], 0);
    const bool page = WaitUntil([] { return Opened().size() == 2; }, std::chrono::seconds(30));
    const std::wstring path = page ? Opened()[1] : L"";
    Check(page && path.find(L"\\korvel-pages\\korvel-report-4711-") != std::wstring::npos &&
              path.substr(path.size() - 5) == L".html" &&
              std::filesystem::exists(std::filesystem::path(path)),
          "运行速度报告… opens the device's page: " + ToUtf8(path));
    // The tip taken inside the wait: the arguments of Check are evaluated in no fixed order.
    std::wstring tip;
    const bool tipped = WaitUntil(
        [&] {
            tip = ToolTipOf(dialog, IDC_RECORD_COUNT);
            return tip.find(L"条记录尚未下载") != std::wstring::npos;
        },
        std::chrono::seconds(20));
    Check(tipped, "the record count's tooltip: " + ToUtf8(tip));

    // The guide from its menu item, and from the help key's WM_HELP.
    PostMessageW(dialog, WM_SYSCOMMAND, win::kRecordCommands[3], 0);
    const bool guide = WaitUntil([] { return Opened().size() == 3; }, std::chrono::seconds(20));
    Check(guide && Opened()[2].size() > 18 &&
              Opened()[2].substr(Opened()[2].size() - 18) == L"\\korvel-guide.html",
          "操作指南 opens the guide");
    HELPINFO help{};
    help.cbSize = sizeof help;
    SendMessageW(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
    Check(WaitUntil([] { return Opened().size() == 4; }, std::chrono::seconds(20)), "F1 opens the guide");
}

// The port names SERIALCOMM lists, in the registry's order, and the value name of each.
std::vector<std::pair<std::wstring, std::wstring>> SerialComm() {
    std::vector<std::pair<std::wstring, std::wstring>> values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256], data[256] = {};
        DWORD name_size = 256, data_size = 255 * sizeof(wchar_t);
        const LONG r = RegEnumValueW(key, i, name, &name_size, nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(data), &data_size);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r == ERROR_SUCCESS) values.emplace_back(data, name);
    }
    RegCloseKey(key);
    return values;
}

// As the serial driver does when a port comes (data given) or goes (none).
bool SetSerialComm(const std::wstring& name, const std::wstring* port) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
    const LONG r =
        port ? RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(port->c_str()),
                              static_cast<DWORD>((port->size() + 1) * sizeof(wchar_t)))
             : RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

// The broadcast Windows sends every top-level window when a port came or went.
void BroadcastPort(HWND dialog, WPARAM event, const std::wstring& port) {
    std::vector<unsigned char> buffer(sizeof(DEV_BROADCAST_PORT_W) + port.size() * sizeof(wchar_t));
    auto* b = reinterpret_cast<DEV_BROADCAST_PORT_W*>(buffer.data());
    b->dbcp_size = static_cast<DWORD>(buffer.size());
    b->dbcp_devicetype = DBT_DEVTYP_PORT;
    std::copy(port.begin(), port.end(), b->dbcp_name);
    b->dbcp_name[port.size()] = L'\0';
    SendMessageW(dialog, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(b));
}

std::vector<std::wstring> ComboItems(HWND dialog, int id) {
    std::vector<std::wstring> items;
    const LRESULT n = SendDlgItemMessageW(dialog, id, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        wchar_t text[256] = {};
        SendDlgItemMessageW(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

std::string Joined(const std::vector<std::wstring>& names) {
    std::string all;
    for (const auto& n : names) all += (all.empty() ? "" : " ") + ToUtf8(n);
    return all;
}

// A COM3 arrives listed before the chosen COM5, COM5 goes and comes back, COM3 goes: the list follows the
// registry each time and the choice follows the name, not the place.
void PortChanges(HWND dialog, const std::wstring& product) {
    const auto initial = SerialComm();
    std::wstring com5_value;
    for (const auto& [port, name] : initial)
        if (port == L"COM5") com5_value = name;
    // Wine lists the values by name: one that sorts first.
    const std::wstring com3_value = L"\\Device\\0Serial2";
    const std::wstring com3 = L"COM3", com5 = L"COM5";
    const struct {
        const char* what;
        const std::wstring& value;
        const std::wstring& port;
        bool arrives;
        const wchar_t* selected;
        std::u16string_view status;
    } steps[] = {
        {"COM3 arrives before COM5", com3_value, com3, true, L"COM5", text::kPortOpen},
        {"COM5 goes", com5_value, com5, false, L"", text::kPortClosed},
        {"COM5 comes back", com5_value, com5, true, L"COM5", text::kPortOpen},
        {"COM3 goes", com3_value, com3, false, L"COM5", text::kPortOpen},
    };
    Check(!com5_value.empty(), "SERIALCOMM lists COM5");
    for (const auto& s : steps) {
        const bool set = SetSerialComm(s.value, s.arrives ? &s.port : nullptr);
        BroadcastPort(dialog, s.arrives ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, s.port);
        std::vector<std::wstring> listed;
        for (const auto& v : SerialComm()) listed.push_back(v.first);
        const auto shown = ComboItems(dialog, IDC_PORT);
        Check(set && shown == listed,
              std::string(s.what) + ": the list is " + Joined(listed) + ": " + Joined(shown));
        if (&s == &steps[0]) {
            const auto at = [&](const std::wstring& port) {
                return std::find(shown.begin(), shown.end(), port);
            };
            Check(at(com3) < at(com5) && at(com5) != shown.end(), "COM3 is listed before COM5");
        }
        Check(ItemText(dialog, IDC_PORT) == s.selected, std::string(s.what) + ": chosen " +
                                                            ToUtf8(s.selected) + ": " +
                                                            ToUtf8(ItemText(dialog, IDC_PORT)));
        Check(WaitFor(dialog, IDC_PORT_STATUS, ToWide(s.status), std::chrono::seconds(10)),
              std::string(s.what) + ": the port is " + ToUtf8(ToWide(s.status)));
    }
    // The port was closed and opened again: its device information is read anew.
    SendMessageW(GetDlgItem(dialog, IDC_READ_INFO), BM_CLICK, 0, 0);
    Check(WaitFor(dialog, IDC_PRODUCT_NO, product, std::chrono::seconds(20)), "读信息 again on COM5");
}

std::vector<std::string> LogCommands(const std::wstring& log) {
    std::ifstream in(std::filesystem::path(log), std::ios::binary);
    std::vector<std::string> commands;
    for (std::string line; std::getline(in, line);)
        if (const size_t space = line.find(' '); space != std::string::npos)
            commands.push_back(line.substr(space + 1));
    return commands;
}

// The names of the device's record files in the folder.
std::vector<std::wstring> RecordFiles(const std::wstring& folder, unsigned product) {
    wchar_t suffix[64];
    std::swprintf(suffix, 64, L"-%u-%x.txt", product, product);
    std::vector<std::wstring> names;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(folder), error)) {
        const std::wstring name = e.path().filename().wstring();
        if (name.size() > wcslen(suffix) && name.ends_with(suffix)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

BOOL CALLBACK AddStaticText(HWND window, LPARAM texts) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (std::wstring(name) == L"Static" && GetWindowTextLengthW(window) > 0)
        reinterpret_cast<std::vector<std::wstring>*>(texts)->push_back(WindowText(window));
    return TRUE;
}

struct BoxSearch {
    HWND owner;
    HWND box = nullptr;
};

BOOL CALLBACK TakeMessageBox(HWND window, LPARAM data) {
    auto& s = *reinterpret_cast<BoxSearch*>(data);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (std::wstring(name) == L"#32770" && GetWindow(window, GW_OWNER) == s.owner && IsWindowVisible(window))
        s.box = window;
    return s.box == nullptr;
}

// The texts of the message box the dialog shows, once it shows one; the box is closed with its OK.
std::vector<std::wstring> TakeMessageBoxTexts(HWND dialog, std::chrono::seconds timeout) {
    BoxSearch search{dialog};
    WaitUntil(
        [&] {
            EnumThreadWindows(GetWindowThreadProcessId(dialog, nullptr), TakeMessageBox,
                              reinterpret_cast<LPARAM>(&search));
            return search.box != nullptr;
        },
        timeout);
    std::vector<std::wstring> texts;
    if (!search.box) return texts;
    EnumChildWindows(search.box, AddStaticText, reinterpret_cast<LPARAM>(&texts));
    PostMessageW(search.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return texts;
}

// "读数据" with a record file of the device held open without sharing by another program: the scan
// says it cannot open it, then the walk goes on and saves every record of the device in the upload
// folder, each line with its checksum.
void ReadData(HWND dialog, const std::wstring& upload, unsigned product, int records) {
    const std::wstring locked = upload + L"\\" + ToWide(testing::RecordFileName(120, product));
    const HANDLE held = CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const auto before = RecordFiles(upload, product);
    // Posted: the message box's loop runs inside the click.
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_READ_DATA, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_READ_DATA)));
    const auto said = TakeMessageBoxTexts(dialog, std::chrono::seconds(20));
    const std::wstring expected = ToWide(text::kOpenFileError) + locked;
    Check(held != INVALID_HANDLE_VALUE && std::find(said.begin(), said.end(), expected) != said.end(),
          "a record file held by another program: " + ToUtf8(expected) + ": " + Joined(said));
    const std::wstring done =
        ToWide(text::kDownloadDoneFormat.substr(0, text::kDownloadDoneFormat.find(u'%')));
    const bool finished =
        WaitUntil([&] { return ItemText(dialog, IDC_RESULT).starts_with(done); }, std::chrono::seconds(120));
    Check(finished, "读数据 finishes: " + ToUtf8(ItemText(dialog, IDC_RESULT)));
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    DeleteFileW(locked.c_str());

    std::vector<std::wstring> added;
    for (const auto& name : RecordFiles(upload, product))
        if (std::find(before.begin(), before.end(), name) == before.end()) added.push_back(name);
    Check(added.size() == 1, "one new record file in the upload folder: " + Joined(added));
    if (added.size() != 1) return;
    std::ifstream in(std::filesystem::path(upload) / added[0], std::ios::binary);
    int lines = 0, good = 0;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ++lines;
        // "... PRODUCT xxxx": the text before the checksum ends with the product number.
        const std::string text = line.size() > 5 ? line.substr(0, line.size() - 5) : "";
        if (testing::RecordLine(text) == line + "\n" && text.ends_with(" " + std::to_string(product))) ++good;
    }
    Check(lines == records && good == records, "the saved file holds " + std::to_string(records) +
                                                   " records whose checksums hold: " + std::to_string(lines) +
                                                   " lines, " + std::to_string(good) + " good");
    // And the window recorded it in the folder's ledger before it said it was done.
    Ledger ledger;
    const Failure read = ReadLedger(ToUtf8(upload), ledger);
    const LedgerEntry* entry = ledger.entries.empty() ? nullptr : &ledger.entries.back();
    Check(!read && entry && entry->kind == LedgerEntryKind::Downloaded && entry->file == ToUtf8(added[0]) &&
              entry->size == std::filesystem::file_size(std::filesystem::path(upload) / added[0]) &&
              entry->records == static_cast<uint64_t>(records) && entry->product == product,
          "the download's entry in the ledger: " + read.message +
              (entry ? LedgerEntryText(*entry) : std::string("no entry")));
}

// A file where the upload folder should be: "读数据" says why it cannot save, and the device is asked
// nothing. The next request the simulator logs is 读信息's.
void CannotSave(HWND dialog, const std::wstring& upload, const std::wstring& sim_log) {
    const std::wstring away = upload + L".away";
    const bool planted = MoveFileW(upload.c_str(), away.c_str()) &&
                         std::ofstream(std::filesystem::path(upload), std::ios::binary).good();
    const size_t asked = LogCommands(sim_log).size();
    SendMessageW(GetDlgItem(dialog, IDC_READ_DATA), BM_CLICK, 0, 0);
    const std::wstring expected = ToWide(text::kSaveFailedPrefix) + upload + L"：not a folder";
    Check(planted && ItemText(dialog, IDC_RESULT) == expected,
          "a file in the upload folder's place: " + ToUtf8(ItemText(dialog, IDC_RESULT)));
    Check(ItemText(dialog, IDC_READ_DATA) == ToWide(text::kReadData), "and no walk is under way");
    SendMessageW(GetDlgItem(dialog, IDC_READ_INFO), BM_CLICK, 0, 0);
    std::vector<std::string> commands;
    WaitUntil(
        [&] {
            commands = LogCommands(sim_log);
            return commands.size() > asked;
        },
        std::chrono::seconds(20));
    commands.erase(commands.begin(),
                   commands.begin() + static_cast<std::ptrdiff_t>(std::min(asked, commands.size())));
    Check(commands == std::vector<std::string>{"info"},
          "the device was asked nothing before 读信息: " + std::to_string(commands.size()) + " requests");
    DeleteFileW(upload.c_str());
    MoveFileW(away.c_str(), upload.c_str());
}

// The system menu opened from the keyboard (Alt+Space), with the record items, as a second screenshot.
void MenuScreenshot(HWND dialog, const std::string& path) {
    SetForegroundWindow(dialog);
    PostMessageW(dialog, WM_SYSCOMMAND, SC_KEYMENU, L' ');
    HWND menu = nullptr;
    const bool open = WaitUntil(
        [&] {
            menu = FindWindowW(L"#32768", nullptr);
            return menu && IsWindowVisible(menu);
        },
        std::chrono::seconds(20));
    RECT d{}, m{}, both{};
    GetWindowRect(dialog, &d);
    if (open) GetWindowRect(menu, &m);
    UnionRect(&both, &d, &m);
    if (open) RedrawWindow(menu, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Check(open && SaveScreenshot(both, path), "screenshot of the system menu " + path);
    // What EndMenu does: the menu's loop ends on WM_CANCELMODE to its owner.
    PostMessageW(dialog, WM_CANCELMODE, 0, 0);
    Check(WaitUntil([&] { return !IsWindowVisible(menu); }, std::chrono::seconds(20)), "the menu closes");
}

void Operate(HWND dialog, const Run& run) {
    const std::wstring& product = run.product;
    Check(WaitFor(dialog, IDC_PORT_STATUS, ToWide(text::kPortOpen), std::chrono::seconds(20)), "COM5 opens");
    SendMessageW(GetDlgItem(dialog, IDC_READ_INFO), BM_CLICK, 0, 0);
    const bool filled = WaitFor(dialog, IDC_PRODUCT_NO, product, std::chrono::seconds(20));
    Check(filled, "读信息 fills the product number: " + ToUtf8(ItemText(dialog, IDC_PRODUCT_NO)));
    Check(IsWindowVisible(GetDlgItem(dialog, IDC_READ_DATA)) != FALSE, "读数据 is shown");
    RecordItems(dialog, run.upload);
    // Two ticks, so the counters show the bytes of the exchange too.
    WaitFor(dialog, IDC_RX_BYTES, L"", std::chrono::seconds(2));
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Check(SaveScreenshot(dialog, run.screenshot), "screenshot " + run.screenshot);
    PortChanges(dialog, product);
    const unsigned number = static_cast<unsigned>(std::stoul(ToUtf8(product)));
    ReadData(dialog, run.upload, number, run.records);
    CannotSave(dialog, run.upload, run.sim_log);
    MenuScreenshot(dialog, run.menu_shot);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    // A window left in a nested loop (a message box, a menu) would keep the dialog's from ending.
    if (!WaitUntil([&] { return !IsWindow(dialog); }, std::chrono::seconds(30))) {
        Check(false, "关闭 closes the window");
        std::printf("%d failures\n", g_failures);
        std::fflush(stdout);
        ExitProcess(1);
    }
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
    if (argc != 6) {
        std::fprintf(stderr,
                     "usage: window_test.exe PRODUCT RECORDS SCREENSHOT.bmp MENU.bmp SIMULATOR-LOG\n");
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
    const Run run{product, std::stoi(ToUtf8(argv[2])), ToUtf8(argv[3]), ToUtf8(argv[4]), argv[5], upload};
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
                                operator_thread = std::thread(Operate, dialog, run);
                            }};
    win::RunMainDialog(GetModuleHandleW(nullptr), options);
    if (operator_thread.joinable()) operator_thread.join();
    std::printf("%d failures\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
