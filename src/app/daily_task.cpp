// SPDX-License-Identifier: MIT
// The daily task's name, definition and log line, the same on every OS (the Windows calls that use them
// are in daily_task_win.cpp).
#include "app/daily_task.h"

#include <cstdio>
#include <fstream>

#include "text/format.h"
#include "text/os_path.h"
#include "text/shown.h"
#include "text/utf8.h"
#include "ui/texts.h"

namespace korvel {
namespace {

std::u16string Escaped(std::u16string_view text) {
    std::u16string out;
    for (const char16_t c : text) {
        switch (c) {
            case u'&':
                out += u"&amp;";
                break;
            case u'<':
                out += u"&lt;";
                break;
            case u'>':
                out += u"&gt;";
                break;
            case u'"':
                out += u"&quot;";
                break;
            case u'\'':
                out += u"&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::u16string Element(std::u16string_view name, std::u16string_view value) {
    return u"<" + std::u16string(name) + u">" + Escaped(value) + u"</" + std::u16string(name) + u">";
}

std::u16string TwoDigits(int n) { return Format(u"%02d", n); }

}  // namespace

std::u16string DailyTaskName(std::u16string_view edition) {
    return u"korvel daily download (" + std::u16string(edition) + u")";
}

std::u16string_view ThisEdition() { return sizeof(void*) == 8 ? u"x64" : u"x86"; }

bool IsComPortName(std::u16string_view port) {
    if (port.starts_with(u"\\\\.\\")) port.remove_prefix(4);
    if (port.size() < 4 || port.size() > 6) return false;
    for (size_t i = 0; i < 3; ++i)
        if ((port[i] | 0x20) != u"com"[i]) return false;
    const std::u16string_view digits = port.substr(3);
    if (digits.front() == u'0') return false;
    int n = 0;
    for (const char16_t c : digits) {
        if (c < u'0' || c > u'9') return false;
        n = n * 10 + (c - u'0');
    }
    return n >= 1 && n <= 256;
}

std::u16string DailyTaskXml(const DailyTask& task) {
    const std::u16string at = TwoDigits(task.hour) + u":" + TwoDigits(task.minute);
    std::u16string folder = task.program;
    folder.resize(folder.find_last_of(u"\\/") == std::u16string::npos ? 0 : folder.find_last_of(u"\\/"));
    std::u16string x;
    x += u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n";
    x += u"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n";
    x += u"<RegistrationInfo>" + Element(u"Author", u"korvel") +
         Element(u"Description",
                 Format(text::kDailyTaskDescription, at, task.port, Utf8ToWide(kDailyLogName))) +
         u"</RegistrationInfo>\r\n";
    // A start boundary without a zone is the local time of every day after it.
    x += u"<Triggers><CalendarTrigger>" + Element(u"StartBoundary", u"2020-01-01T" + at + u":00") +
         Element(u"Enabled", u"true") + u"<ScheduleByDay>" + Element(u"DaysInterval", u"1") +
         u"</ScheduleByDay></CalendarTrigger></Triggers>\r\n";
    x += u"<Principals><Principal id=\"Author\">" + Element(u"UserId", task.user) +
         Element(u"LogonType", u"InteractiveToken") + Element(u"RunLevel", u"LeastPrivilege") +
         u"</Principal></Principals>\r\n";
    x += u"<Settings>" + Element(u"MultipleInstancesPolicy", u"IgnoreNew") +
         Element(u"DisallowStartIfOnBatteries", u"false") + Element(u"StopIfGoingOnBatteries", u"false") +
         Element(u"AllowHardTerminate", u"true") + Element(u"StartWhenAvailable", u"true") +
         Element(u"RunOnlyIfNetworkAvailable", u"false") + Element(u"AllowStartOnDemand", u"true") +
         Element(u"Enabled", u"true") + Element(u"Hidden", u"false") + Element(u"RunOnlyIfIdle", u"false") +
         Element(u"WakeToRun", u"false") + Element(u"ExecutionTimeLimit", u"PT1H") + u"</Settings>\r\n";
    x += u"<Actions Context=\"Author\"><Exec>" + Element(u"Command", task.program) +
         Element(u"Arguments", u"--daily " + task.port) + Element(u"WorkingDirectory", folder) +
         u"</Exec></Actions>\r\n";
    x += u"</Task>\r\n";
    return x;
}

std::string LastDailyRun(const std::string& folder) {
    std::ifstream log(OsPath(folder + "/" + kDailyLogName), std::ios::binary);
    if (!log) return {};
    // The log is kept below kDailyLogLimit bytes by its writer; a larger one is read at its end only.
    log.seekg(0, std::ios::end);
    const std::streamoff size = log.tellg();
    const std::streamoff from = size > kDailyLogLimit ? size - kDailyLogLimit : 0;
    log.seekg(from);
    std::string bytes(static_cast<size_t>(size - from), '\0');
    log.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(log.gcount()));
    if (from == 0 && bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r' || bytes.back() == ' '))
        bytes.pop_back();
    const size_t start = bytes.find_last_of('\n');
    std::string line = bytes.substr(start == std::string::npos ? 0 : start + 1);
    if (line.size() > 1000) line.resize(1000);
    return Shown(line);
}

}  // namespace korvel
