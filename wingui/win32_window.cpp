// SPDX-License-Identifier: MIT
#include "win32_window.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>

#include "app/korvel_app.h"
#include "platform/clock.h"
#include "serial/registry_ports.h"
#include "ui/controls.h"
#include "ui/korvel_dlg.h"
#include "ui/texts.h"

// After the dialog's own names; the two macros that would rename the window layer's methods go.
#include <windows.h>

#include <commctrl.h>
#undef MessageBox
#undef GetProfileInt

#include "text/wide_win.h"

namespace korvel::win {
namespace {

// A function posted to the user-interface thread; lParam owns it.
constexpr UINT kTaskMessage = 0x8000 + 1;  // WM_APP + 1

class TemplateWriter {
  public:
    void Word(unsigned value) { words_.push_back(static_cast<uint16_t>(value)); }
    void Dword(DWORD value) {
        Word(value & 0xFFFF);
        Word(value >> 16);
    }
    void Text(std::u16string_view text) {
        for (char16_t c : text) Word(c);
        Word(0);
    }
    void Align() {
        if (words_.size() % 2) Word(0);
    }
    std::vector<uint16_t> Take() { return std::move(words_); }

  private:
    std::vector<uint16_t> words_;
};

DWORD ControlStyle(const ControlTemplate& c) {
    DWORD style = WS_CHILD;
    if (c.visible) style |= WS_VISIBLE;
    if (!c.enabled) style |= WS_DISABLED;
    if (c.style & kBorder) style |= WS_BORDER;
    if (c.style & kVScroll) style |= WS_VSCROLL;
    switch (c.kind) {
        case ControlKind::ComboBox:
            return style | CBS_DROPDOWNLIST | WS_TABSTOP;
        case ControlKind::PushButton:
            return style | BS_PUSHBUTTON | WS_TABSTOP;
        case ControlKind::DefaultPushButton:
            return style | BS_DEFPUSHBUTTON | WS_TABSTOP;
        case ControlKind::ProgressBar:
            return style | ((c.style & kSmooth) ? PBS_SMOOTH : 0);
        case ControlKind::Static:
            if (c.style & kNoWrapEllipsis) return style | SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS;
            if (c.style & kAlignRight) return style | SS_RIGHT;
            if (c.style & kAlignCenter) return style | SS_CENTER;
            return style | SS_LEFT;
    }
    return style;
}

// Everything one run of the dialog needs, reachable from the dialog procedure.
struct Context {
    explicit Context(const RunOptions& run) : options(run), window(run.settings_name) {}
    RunOptions options;
    Win32Window window;
    SystemClock clock;
    RegistryPortEnumerator ports;
    std::atomic<HWND> hwnd{nullptr};
    std::unique_ptr<CKorvelApp> app;
    HICON icon = nullptr;
    HICON small_icon = nullptr;
    HWND tooltip = nullptr;
    std::string tooltip_text;
    HWND check = nullptr;  // the check's text window while it is open
};

// The dialog of this thread, for the keyboard hook: one modal dialog runs at a time.
Context* g_context = nullptr;
HHOOK g_keyboard_hook = nullptr;

// The check's text window: a read-only edit and a copy button, built in memory like the main dialog.
std::vector<uint16_t> CheckTemplate() {
    TemplateWriter t;
    t.Word(1);
    t.Word(0xFFFF);
    t.Dword(0);
    t.Dword(0);
    t.Dword(DS_SHELLFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE);
    t.Word(2);
    t.Word(20);
    t.Word(20);
    t.Word(320);
    t.Word(200);
    t.Word(0);
    t.Word(0);
    t.Text(text::kCheckTitle);
    t.Word(static_cast<unsigned>(MainDialogTemplate().font_points));
    t.Word(FW_NORMAL);
    t.Word(DEFAULT_CHARSET << 8);
    t.Text(u"MS Shell Dlg");
    const struct {
        int id;
        DWORD style;
        unsigned cls, x, y, w, h;
        std::u16string_view text;
    } items[] = {
        {kCheckTextId,
         // No sideways scroll: long lines wrap.
         WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY |
             ES_AUTOVSCROLL,
         0x0081, 7, 7, 306, 166, u""},
        {kCheckCopyId, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0x0080, 256, 179, 57, 14,
         text::kCheckCopy},
    };
    for (const auto& item : items) {
        t.Align();
        t.Dword(0);
        t.Dword(0);
        t.Dword(item.style);
        t.Word(item.x);
        t.Word(item.y);
        t.Word(item.w);
        t.Word(item.h);
        t.Dword(static_cast<DWORD>(item.id));
        t.Word(0xFFFF);
        t.Word(item.cls);
        t.Text(item.text);
        t.Word(0);
    }
    return t.Take();
}

void CopyToClipboard(HWND owner, const std::wstring& text) {
    if (!OpenClipboard(owner)) return;
    EmptyClipboard();
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        if (void* target = GlobalLock(memory)) {
            std::memcpy(target, text.c_str(), bytes);
            GlobalUnlock(memory);
            if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
        } else {
            GlobalFree(memory);
        }
    }
    CloseClipboard();
}

INT_PTR CALLBACK CheckProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* c = reinterpret_cast<Context*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == kCheckCopyId && HIWORD(wParam) == BN_CLICKED) {
                const HWND edit = GetDlgItem(hwnd, kCheckTextId);
                std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
                text.resize(
                    static_cast<size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
                CopyToClipboard(hwnd, text);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                DestroyWindow(hwnd);
                return TRUE;
            }
            return FALSE;
        case WM_DESTROY:
            if (c) c->check = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

// The check's text, the edit control's line ends.
void ShowCheck(Context& c, std::u16string_view text) {
    if (!c.check) {
        const std::vector<uint16_t> dialog = CheckTemplate();
        c.check = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                             reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()), c.hwnd,
                                             CheckProc, reinterpret_cast<LPARAM>(&c));
        if (!c.check) return;
    }
    std::wstring shown;
    for (char16_t ch : text) {
        if (ch == u'\n') shown += L'\r';
        shown += static_cast<wchar_t>(ch);
    }
    SetDlgItemTextW(c.check, kCheckTextId, shown.c_str());
    ShowWindow(c.check, SW_SHOW);
    SetForegroundWindow(c.check);
}

void RunRecordItem(Context& c, RecordItem item) {
    if (item == RecordItem::CheckRecords) ShowCheck(c, text::kCheckRunning);
    c.app->RunRecordItem(item, [&c](std::u16string text) { ShowCheck(c, text); });
}

// The record items' system menu entries, below a separator, each naming its shortcut.
void AddRecordItems(HWND hwnd) {
    const HMENU menu = GetSystemMenu(hwnd, FALSE);
    if (!menu) return;
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    for (size_t i = 0; i < std::size(kRecordMenu); ++i) {
        const char key = kRecordMenu[i].key;
        // The guide, under a separator of its own, has the help key.
        if (!key) AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        const std::wstring entry =
            ToWide(kRecordMenu[i].text) + (key ? L"\tCtrl+" + std::wstring(1, wchar_t(key)) : L"\tF1");
        AppendMenuW(menu, MF_STRING, kRecordCommands[i], entry.c_str());
    }
}

// Ctrl+key of a record item, in either window of the tool, as its system command. The modal loop of
// the dialog hands each message to this hook before it dispatches it.
LRESULT CALLBACK KeyboardFilter(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    if (code >= 0 && g_context && msg->message == WM_KEYDOWN && GetKeyState(VK_CONTROL) < 0 &&
        GetKeyState(VK_MENU) >= 0) {
        const HWND dialog = g_context->hwnd;
        const HWND check = g_context->check;
        const bool ours = dialog && (msg->hwnd == dialog || IsChild(dialog, msg->hwnd) ||
                                     (check && (msg->hwnd == check || IsChild(check, msg->hwnd))));
        for (size_t i = 0; ours && i < std::size(kRecordMenu); ++i) {
            if (kRecordMenu[i].key && msg->wParam == static_cast<WPARAM>(kRecordMenu[i].key)) {
                PostMessageW(dialog, WM_SYSCOMMAND, kRecordCommands[i], 0);
                return 1;
            }
        }
    }
    return CallNextHookEx(g_keyboard_hook, code, wParam, lParam);
}

// Status field 1007 says in its tooltip why the last open attempt failed. A static control lets the
// mouse through, so the tool is its rectangle on the dialog.
void AddStatusTooltip(Context& c, HWND hwnd) {
    c.tooltip =
        CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, hwnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!c.tooltip) return;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = hwnd;
    tool.uId = IDC_PORT_STATUS;
    tool.lpszText = const_cast<wchar_t*>(L"");
    GetWindowRect(GetDlgItem(hwnd, IDC_PORT_STATUS), &tool.rect);
    MapWindowPoints(nullptr, hwnd, reinterpret_cast<POINT*>(&tool.rect), 2);
    SendMessageW(c.tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void UpdateStatusTooltip(Context& c, HWND hwnd) {
    const std::string& text = c.app->Dialog().LastOpenFailure().message;
    if (!c.tooltip || text == c.tooltip_text) return;
    c.tooltip_text = text;
    const std::wstring wide = ToWide(text);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = hwnd;
    tool.uId = IDC_PORT_STATUS;
    tool.lpszText = const_cast<wchar_t*>(wide.c_str());
    SendMessageW(c.tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

intptr_t Dispatch(Context& c, Msg msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    return c.app->Dialog().Dispatch(Message{msg, 0, Notify::None, wParam, lParam});
}

INT_PTR Result(HWND hwnd, LONG_PTR result) {
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

void PaintIconic(HWND hwnd, HICON icon) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT rect;
    GetClientRect(hwnd, &rect);
    const int x = (rect.right - rect.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (rect.bottom - rect.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon);
    EndPaint(hwnd, &ps);
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* c = reinterpret_cast<Context*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (message == WM_INITDIALOG) {
        c = reinterpret_cast<Context*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        c->hwnd = hwnd;
        c->window.Attach(hwnd);
        // The list contents stored with the template, as the framework adds them at creation.
        for (std::u16string_view rate : kBaudRates) c->window.ComboAdd(IDC_BAUD, rate);
        for (std::u16string_view mode : kTemplateModes) c->window.ComboAdd(IDC_MODE, mode);
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        c->icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconGroupId), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
        c->small_icon =
            static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconGroupId), IMAGE_ICON,
                                          GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
        SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(c->icon));
        SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(c->small_icon));
        AddStatusTooltip(*c, hwnd);
        AddRecordItems(hwnd);
        c->app->InitInstance();
        if (c->options.on_shown) {
            // Runs once the modal loop has shown the window.
            auto* task = new std::function<void()>([c] { c->options.on_shown(c->hwnd); });
            PostMessageW(hwnd, kTaskMessage, 0, reinterpret_cast<LPARAM>(task));
        }
        return TRUE;
    }
    if (!c || !c->app) return FALSE;

    switch (message) {
        case kTaskMessage: {
            std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lParam));
            (*task)();
            return TRUE;
        }
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const UINT code = HIWORD(wParam);
            if ((id == IDOK || id == IDCANCEL) && code == BN_CLICKED) {
                EndDialog(hwnd, id);  // "关闭", Enter, Escape and the system menu's close
                return TRUE;
            }
            const Notify notify = code == BN_CLICKED      ? Notify::Clicked
                                  : code == CBN_SELCHANGE ? Notify::SelChange
                                                          : Notify::None;
            bool handled = false;
            c->app->Dialog().Dispatch(Message{Msg::Command, id, notify}, &handled);
            return handled ? TRUE : FALSE;
        }
        case WM_TIMER:
            Dispatch(*c, Msg::Timer, wParam);
            UpdateStatusTooltip(*c, hwnd);
            c->app->UpdateRecordCountTip();
            return TRUE;
        case WM_SYSCOMMAND:
            for (size_t i = 0; i < std::size(kRecordMenu); ++i) {
                if ((wParam & 0xFFF0) == kRecordCommands[i]) {
                    RunRecordItem(*c, kRecordMenu[i].item);
                    return TRUE;
                }
            }
            return FALSE;
        case WM_HELP:
            // F1 anywhere in the dialog: the operator's guide.
            RunRecordItem(*c, RecordItem::Guide);
            return TRUE;
        case WM_DEVICECHANGE:
            return Result(hwnd, Dispatch(*c, Msg::DeviceChange, wParam, lParam));
        case WM_QUERYENDSESSION:
            return Result(hwnd, Dispatch(*c, Msg::QueryEndSession));
        case WM_ENDSESSION:
            Dispatch(*c, Msg::EndSession, wParam, lParam);
            return Result(hwnd, 0);
        case WM_DESTROY:
            if (c->check) DestroyWindow(c->check);
            c->app->ExitInstance();
            return FALSE;
        case WM_NCDESTROY:
            c->hwnd = nullptr;
            return FALSE;
        case WM_PAINT:
            if (!IsIconic(hwnd)) return FALSE;
            PaintIconic(hwnd, c->icon);
            return TRUE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(c->icon);
        default:
            return FALSE;
    }
}

}  // namespace

std::vector<uint16_t> BuildDialogTemplate(const DialogTemplate& dialog) {
    TemplateWriter t;
    t.Word(1);       // dlgVer
    t.Word(0xFFFF);  // signature: DLGTEMPLATEEX
    t.Dword(0);      // helpID
    t.Dword(WS_EX_APPWINDOW);
    t.Dword(DS_SHELLFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    t.Word(static_cast<unsigned>(dialog.controls.size()));
    t.Word(0);
    t.Word(0);
    t.Word(static_cast<unsigned>(dialog.width));
    t.Word(static_cast<unsigned>(dialog.height));
    t.Word(0);    // no menu
    t.Word(0);    // the standard dialog class
    t.Text(u"");  // the caption is set at initialisation
    t.Word(static_cast<unsigned>(dialog.font_points));
    t.Word(FW_NORMAL);
    t.Word(DEFAULT_CHARSET << 8);  // italic 0, then the character set
    t.Text(u"MS Shell Dlg");
    for (const ControlTemplate& c : dialog.controls) {
        t.Align();
        t.Dword(0);  // helpID
        t.Dword(0);  // exStyle
        t.Dword(ControlStyle(c));
        t.Word(static_cast<unsigned>(c.x));
        t.Word(static_cast<unsigned>(c.y));
        t.Word(static_cast<unsigned>(c.width));
        t.Word(static_cast<unsigned>(c.height));
        t.Dword(static_cast<DWORD>(c.id));
        switch (c.kind) {
            case ControlKind::ComboBox:
                t.Word(0xFFFF);
                t.Word(0x0085);
                break;
            case ControlKind::PushButton:
            case ControlKind::DefaultPushButton:
                t.Word(0xFFFF);
                t.Word(0x0080);
                break;
            case ControlKind::Static:
                t.Word(0xFFFF);
                t.Word(0x0082);
                break;
            case ControlKind::ProgressBar:
                t.Text(u"msctls_progress32");
                break;
        }
        t.Text(c.text);
        t.Word(0);  // no creation data
    }
    return t.Take();
}

Win32Window::Win32Window(std::u16string settings_name) : profile_(std::move(settings_name)) {}

HWND Win32Window::Item(int id) const { return GetDlgItem(hwnd_, id); }

void Win32Window::SetText(int id, std::u16string_view text) {
    const std::wstring wide = ToWide(text);
    if (id == kWindowTitle) {
        SetWindowTextW(hwnd_, wide.c_str());
    } else {
        SetDlgItemTextW(hwnd_, id, wide.c_str());
    }
}

void Win32Window::Show(int id, bool shown) { ShowWindow(Item(id), shown ? SW_SHOW : SW_HIDE); }

void Win32Window::Enable(int id, bool enabled) { EnableWindow(Item(id), enabled ? TRUE : FALSE); }

void Win32Window::ComboReset(int id) { SendDlgItemMessageW(hwnd_, id, CB_RESETCONTENT, 0, 0); }

void Win32Window::ComboAdd(int id, std::u16string_view text) {
    const std::wstring wide = ToWide(text);
    SendDlgItemMessageW(hwnd_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

int Win32Window::ComboCount(int id) const {
    return static_cast<int>(SendDlgItemMessageW(hwnd_, id, CB_GETCOUNT, 0, 0));
}

void Win32Window::ComboSelect(int id, int index) {
    SendDlgItemMessageW(hwnd_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32Window::ComboSelection(int id) const {
    return static_cast<int>(SendDlgItemMessageW(hwnd_, id, CB_GETCURSEL, 0, 0));
}

std::u16string Win32Window::ComboItemText(int id, int index) const {
    const LRESULT length = SendDlgItemMessageW(hwnd_, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR || length <= 0) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT got = SendDlgItemMessageW(hwnd_, id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                                            reinterpret_cast<LPARAM>(text.data()));
    if (got == CB_ERR) return {};
    text.resize(static_cast<size_t>(got));
    return FromWide(text);
}

void Win32Window::SetProgressRange(int id, int low, int high) {
    SendDlgItemMessageW(hwnd_, id, PBM_SETRANGE32, static_cast<WPARAM>(low), high);
}

void Win32Window::SetProgressPos(int id, int pos) {
    SendDlgItemMessageW(hwnd_, id, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void Win32Window::StartTimer(int timer_id, int period_ms) {
    SetTimer(hwnd_, static_cast<UINT_PTR>(timer_id), static_cast<UINT>(period_ms), nullptr);
}

void Win32Window::StopTimer(int timer_id) { KillTimer(hwnd_, static_cast<UINT_PTR>(timer_id)); }

void Win32Window::MessageBox(std::u16string_view text) {
    const std::wstring caption = ToWide(ProgramName());
    ::MessageBoxW(hwnd_, ToWide(text).c_str(), caption.c_str(), MB_OK);
}

int Win32Window::GetProfileInt(std::string_view section, std::string_view key, int default_value) {
    return profile_.GetInt(section, key, default_value);
}

void Win32Window::WriteProfileInt(std::string_view section, std::string_view key, int value) {
    profile_.WriteInt(section, key, value);
}

void Win32Window::SetToolTip(int id, std::u16string_view text) {
    if (!tooltip_) {
        tooltip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        if (!tooltip_) return;
        SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 400);
    }
    std::wstring wide = ToWide(text);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = hwnd_;
    tool.uId = static_cast<UINT_PTR>(id);
    tool.lpszText = wide.data();
    if (std::find(tools_.begin(), tools_.end(), id) == tools_.end()) {
        // A static control lets the mouse through, so the tool is its rectangle on the dialog.
        tool.uFlags = TTF_SUBCLASS;
        GetWindowRect(Item(id), &tool.rect);
        MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&tool.rect), 2);
        SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        tools_.push_back(id);
    } else {
        SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

intptr_t RunMainDialog(HINSTANCE__* instance, const RunOptions& options) {
    Context context(options);
    // Received chunks come back to this thread as posted tasks; the reader waits until each was handled.
    UiPost post = [c = &context](std::function<void()> task) {
        const HWND hwnd = c->hwnd;
        auto* owned = new std::function<void()>(std::move(task));
        if (!hwnd || !PostMessageW(hwnd, kTaskMessage, 0, reinterpret_cast<LPARAM>(owned))) delete owned;
    };
    context.app = std::make_unique<CKorvelApp>(context.window, context.clock, context.ports, post);
    context.app->Link().m_bOpenInBackground = true;  // an open blocked in the driver never freezes the window
    const std::vector<uint16_t> dialog = BuildDialogTemplate(MainDialogTemplate());
    g_context = &context;
    g_keyboard_hook = SetWindowsHookExW(WH_MSGFILTER, KeyboardFilter, nullptr, GetCurrentThreadId());
    const INT_PTR result = DialogBoxIndirectParamW(instance, reinterpret_cast<LPCDLGTEMPLATEW>(dialog.data()),
                                                   nullptr, DialogProc, reinterpret_cast<LPARAM>(&context));
    if (g_keyboard_hook) UnhookWindowsHookEx(g_keyboard_hook);
    g_keyboard_hook = nullptr;
    g_context = nullptr;
    context.app.reset();
    if (context.icon) DestroyIcon(context.icon);
    if (context.small_icon) DestroyIcon(context.small_icon);
    return result;
}

}  // namespace korvel::win
