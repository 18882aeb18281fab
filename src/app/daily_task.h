// SPDX-License-Identifier: MIT
// The daily collection on Windows: a scheduled task that runs as the operator (the user logged on to the
// session that asks for it, also when that request comes from an installer elevated with another
// account's password), starts the hidden launcher `korvel.exe --daily COMn` once a day and as soon as it
// can after a day the PC was off, and leaves its result in korvel-daily.log beside the records, which the
// window's 检查记录… names. Each edition (x64, x86) has a task of its own, so removing one leaves the
// other's.
#pragma once

#include <string>
#include <string_view>

#include "text/failure.h"

namespace korvel {

// The daily run's log in the upload folder; it is moved to kDailyOldLogName once it outgrows
// kDailyLogLimit bytes, so two generations are kept.
inline constexpr char kDailyLogName[] = "korvel-daily.log";
inline constexpr char kDailyOldLogName[] = "korvel-daily.old.log";
inline constexpr long long kDailyLogLimit = 1 << 20;

struct DailyTask {
    std::u16string user;     // DOMAIN\name: the task runs with this user's token, in that user's session
    std::u16string program;  // the hidden launcher (korvel.exe), a full path
    std::u16string port;     // COM3, \\.\COM10
    std::u16string edition;  // x64 or x86
    int hour = 12;           // the local time of day it runs at
    int minute = 0;
};

// The task's name in the Task Scheduler's root folder, per edition: "korvel daily download (x64)".
std::u16string DailyTaskName(std::u16string_view edition);
// This program's edition: x64 or x86.
std::u16string_view ThisEdition();
// Whether port names a COM port as the task may carry it: COM1 to COM256, or \\.\COMn (any case).
bool IsComPortName(std::u16string_view port);
// The task's definition as the Task Scheduler takes it (schtasks /Create /XML; task schema 1.2, which
// Windows 7 reads): a daily trigger, the user's interactive token with the least privilege (never
// elevated: an elevated run would write into the program's folder under Program Files), started when
// available after a missed time, not stopped on battery, one run at a time, at most an hour.
std::u16string DailyTaskXml(const DailyTask& task);
// The last line of the daily log in folder (shown plain, at most 1,000 characters); empty when there is no
// log or it holds no line.
std::string LastDailyRun(const std::string& folder);

// Registers the task for the user of this session (replacing this edition's earlier one). One file per OS:
// elsewhere than on Windows it refuses and names the systemd timer that does the same.
Failure RegisterDailyTask(std::u16string_view port);
// Removes this edition's task; a task that is not there is no failure.
Failure RemoveDailyTask();
// The hidden launcher's work: downloads port into the upload folder with korvel-cli (no console window),
// its output and a line before and after appended to the daily log. Returns korvel-cli's exit code (4
// when it could not be started).
int RunDailyDownload(std::u16string_view port);

}  // namespace korvel
