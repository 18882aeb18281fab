// SPDX-License-Identifier: MIT
// The daily task on Windows: registered and removed through the Task Scheduler's own interface (the
// definition is the XML that schtasks /Create /XML takes too), and the hidden launcher that runs
// korvel-cli.exe without a console, its output into the log beside the records.
#include <windows.h>
// These need windows.h before them.
#include <taskschd.h>
#include <wtsapi32.h>

#include <string>

#include "app/daily_task.h"
#include "records/record_file.h"
#include "text/format.h"
#include "text/shown.h"
#include "text/wide_win.h"
#include "ui/texts.h"

namespace korvel {
namespace {

// The folder of this program: korvel.exe and korvel-cli.exe sit side by side.
std::wstring ProgramFolder() {
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return {};
    path.resize(n);
    path.resize(path.find_last_of(L'\\') == std::wstring::npos ? 0 : path.find_last_of(L'\\'));
    return path;
}

Failure TaskFailure(HRESULT hr, const std::string& what) {
    std::string reason = SystemMessage(static_cast<DWORD>(hr));
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(hr));
    return {hr == E_ACCESSDENIED ? FailureKind::PermissionDenied : FailureKind::Other,
            what + ": " + reason + " (" + code + ")", 0, reason};
}

template <typename T>
struct Released {
    T* p = nullptr;
    ~Released() {
        if (p) p->Release();
    }
};

struct Bstr {
    BSTR b;
    explicit Bstr(const std::wstring& text)
        : b(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(b); }
};

struct ComInit {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ~ComInit() {
        if (SUCCEEDED(hr)) CoUninitialize();
    }
};

// The Task Scheduler's root folder, or why not. The interfaces are released before COM ends.
class Scheduler {
  public:
    ITaskFolder* Root(Failure* failure) {
        const std::string what = "the Task Scheduler cannot be reached";
        HRESULT hr = init_.hr;
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                  reinterpret_cast<void**>(&service_.p));
        VARIANT none;
        VariantInit(&none);
        if (SUCCEEDED(hr)) hr = service_.p->Connect(none, none, none, none);
        if (SUCCEEDED(hr)) {
            Bstr root(L"\\");
            hr = service_.p->GetFolder(root.b, &root_.p);
        }
        if (FAILED(hr)) {
            *failure = TaskFailure(hr, what + " (is the service \"Task Scheduler\" running?)");
            return nullptr;
        }
        return root_.p;
    }

  private:
    ComInit init_;
    Released<ITaskService> service_;
    Released<ITaskFolder> root_;
};

// The user logged on to this process's session (DOMAIN\name): the operator at this desktop, also when
// this process runs elevated with an administrator's password. Empty in a session nobody is logged on to.
std::wstring SessionUser() {
    auto query = [](WTS_INFO_CLASS what) {
        LPWSTR value = nullptr;
        DWORD bytes = 0;
        std::wstring text;
        if (WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, what, &value,
                                        &bytes)) {
            if (value) text = value;
            WTSFreeMemory(value);
        }
        return text;
    };
    const std::wstring name = query(WTSUserName);
    if (name.empty()) return {};
    const std::wstring domain = query(WTSDomainName);
    return domain.empty() ? name : domain + L"\\" + name;
}

std::u16string Now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return Format(u"%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

// The log beside the records, opened for appending and inheritable, so korvel-cli writes into it; a log
// grown beyond its limit becomes the old one first. A new log starts with a byte-order mark, so that
// every editor reads it as UTF-8.
HANDLE OpenLog(const std::wstring& folder) {
    const std::wstring path = folder + L"\\" + ToWide(std::string(kDailyLogName));
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) &&
        ((static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) > kDailyLogLimit)
        MoveFileExW(path.c_str(), (folder + L"\\" + ToWide(std::string(kDailyOldLogName))).c_str(),
                    MOVEFILE_REPLACE_EXISTING);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE log = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inherit, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE && GetLastError() != ERROR_ALREADY_EXISTS) {
        DWORD written = 0;
        WriteFile(log, "\xEF\xBB\xBF", 3, &written, nullptr);
    }
    return log;
}

void LogLine(HANDLE log, std::u16string_view line) {
    if (log == INVALID_HANDLE_VALUE) return;
    const std::string bytes = WideToUtf8(line) + "\r\n";
    DWORD written = 0;
    WriteFile(log, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

Failure RegisterDailyTask(std::u16string_view port) {
    if (!IsComPortName(port))
        return {FailureKind::Other,
                "\"" + Shown(port) +
                    "\" is not a COM port name: give it as COM3 (COM1 to COM256) or \\\\.\\COM10"};
    const std::wstring folder = ProgramFolder();
    const std::wstring launcher = folder + L"\\korvel.exe";
    if (folder.empty() || GetFileAttributesW(launcher.c_str()) == INVALID_FILE_ATTRIBUTES)
        return {FailureKind::Absent,
                "korvel.exe is not beside korvel-cli.exe in " + Shown(FromWide(folder)) +
                    ": the daily task starts it; install korvel, or unpack the whole zip"};
    const std::wstring user = SessionUser();
    if (user.empty())
        return {FailureKind::Other,
                "nobody is logged on to this session, so there is no operator to run the daily task for: "
                "log on as the operator and run korvel-cli daily --port " +
                    Shown(port) + " there"};
    DailyTask task;
    task.user = FromWide(user);
    task.program = FromWide(launcher);
    task.port = std::u16string(port);
    task.edition = std::u16string(ThisEdition());
    Failure failure;
    Scheduler scheduler;
    ITaskFolder* root = scheduler.Root(&failure);
    if (!root) return failure;
    const std::u16string name = DailyTaskName(task.edition);
    Bstr path(ToWide(name));
    Bstr xml(ToWide(DailyTaskXml(task)));
    VARIANT none;
    VariantInit(&none);
    Released<IRegisteredTask> registered;
    // The principal (user, interactive token, least privilege) comes from the definition.
    const HRESULT hr = root->RegisterTask(path.b, xml.b, TASK_CREATE_OR_UPDATE, none, none,
                                          TASK_LOGON_INTERACTIVE_TOKEN, none, &registered.p);
    if (FAILED(hr))
        return TaskFailure(hr, "the task \"" + WideToUtf8(name) + "\" for " + ToUtf8(user) +
                                   " could not be registered" +
                                   (hr == E_ACCESSDENIED ? " (a task of another user is replaced only by an "
                                                           "administrator: run this from an elevated prompt)"
                                                         : ""));
    return {};
}

Failure RemoveDailyTask() {
    Failure failure;
    Scheduler scheduler;
    ITaskFolder* root = scheduler.Root(&failure);
    if (!root) return failure;
    const std::u16string name = DailyTaskName(ThisEdition());
    Bstr path(ToWide(name));
    const HRESULT hr = root->DeleteTask(path.b, 0);
    if (SUCCEEDED(hr) || hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
        hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
        return {};
    return TaskFailure(hr, "the task \"" + WideToUtf8(name) + "\" could not be removed");
}

int RunDailyDownload(std::u16string_view port) {
    const std::u16string upload = ResolveUploadFolder();
    const std::wstring folder = ToWide(upload);
    const HANDLE log = folder.empty() ? INVALID_HANDLE_VALUE : OpenLog(folder);
    if (!IsComPortName(port)) {
        LogLine(log, Format(text::kDailyLogBadPortFormat, Now(), port));
        if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
        return 2;
    }
    LogLine(log, Format(text::kDailyLogStartFormat, Now(), port, upload));
    const std::wstring cli = ProgramFolder() + L"\\korvel-cli.exe";
    // A port name cannot hold a quote (the task carries a checked one) and a folder name cannot either.
    std::wstring command = L"\"" + cli + L"\" download --port \"" + ToWide(port) + L"\"";
    if (!folder.empty()) command += L" --dir \"" + folder + L"\"";
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = nullptr;
    start.hStdOutput = log;
    start.hStdError = log;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(cli.c_str(), command.data(), nullptr, nullptr, log != INVALID_HANDLE_VALUE,
                        CREATE_NO_WINDOW, nullptr, folder.empty() ? nullptr : folder.c_str(), &start,
                        &process)) {
        const Failure why = LastSystemFailure("CreateProcess");
        LogLine(log, Format(text::kDailyLogNotStartedFormat, Now(), FromWide(cli), Utf8ToWide(why.reason)));
        if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
        return 4;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 4;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    LogLine(log, code == 0 ? Format(text::kDailyLogDoneFormat, Now())
                           : Format(text::kDailyLogFailedFormat, Now(), static_cast<int>(code)));
    if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
    return static_cast<int>(code);
}

}  // namespace korvel
