// SPDX-License-Identifier: MIT
// The daily task's definition, read back field by field as the Task Scheduler reads it; the COM port
// names it may carry; the last line of its log, which 检查记录… shows.
#include "app/daily_task.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/files.h"
#include "support/temp_folder.h"
#include "support/xml_fields.h"
#include "text/utf8.h"

namespace korvel {
namespace {

using testing::XmlFields;

std::multimap<std::string, std::string> Fields(const DailyTask& task) {
    const auto list = XmlFields(WideToUtf8(DailyTaskXml(task)));
    return {list.begin(), list.end()};
}

DailyTask Operator() {
    DailyTask task;
    task.user = u"WINCH-PC\\张三";
    task.program = u"C:\\Program Files\\korvel\\korvel.exe";
    task.port = u"COM3";
    task.edition = u"x64";
    return task;
}

TEST(DailyTaskXml, EveryFieldTheSchedulerReadsOnceWithItsValue) {
    const auto fields = Fields(Operator());
    ASSERT_FALSE(fields.empty()) << "not well formed: " << WideToUtf8(DailyTaskXml(Operator()));
    const std::pair<const char*, const char*> expected[] = {
        {"Task/@version", "1.2"},  // Windows 7 reads it
        {"Task/@xmlns", "http://schemas.microsoft.com/windows/2004/02/mit/task"},
        {"Task/Triggers/CalendarTrigger/StartBoundary", "2020-01-01T12:00:00"},  // local time, every day
        {"Task/Triggers/CalendarTrigger/Enabled", "true"},
        {"Task/Triggers/CalendarTrigger/ScheduleByDay/DaysInterval", "1"},
        {"Task/Principals/Principal/@id", "Author"},
        {"Task/Principals/Principal/UserId", "WINCH-PC\\张三"},
        {"Task/Principals/Principal/LogonType", "InteractiveToken"},  // the operator's own session
        {"Task/Principals/Principal/RunLevel", "LeastPrivilege"},     // never elevated
        {"Task/Settings/StartWhenAvailable", "true"},                 // a day the PC was off
        {"Task/Settings/DisallowStartIfOnBatteries", "false"},
        {"Task/Settings/StopIfGoingOnBatteries", "false"},
        {"Task/Settings/MultipleInstancesPolicy", "IgnoreNew"},
        {"Task/Settings/ExecutionTimeLimit", "PT1H"},
        {"Task/Settings/Enabled", "true"},
        {"Task/Settings/RunOnlyIfIdle", "false"},
        {"Task/Settings/RunOnlyIfNetworkAvailable", "false"},
        {"Task/Actions/@Context", "Author"},
        {"Task/Actions/Exec/Command", "C:\\Program Files\\korvel\\korvel.exe"},
        {"Task/Actions/Exec/Arguments", "--daily COM3"},
        {"Task/Actions/Exec/WorkingDirectory", "C:\\Program Files\\korvel"},
    };
    for (const auto& [path, value] : expected) {
        EXPECT_EQ(fields.count(path), 1u) << path;
        const auto found = fields.find(path);
        if (found != fields.end()) {
            EXPECT_EQ(found->second, value) << path;
        }
    }
    // No second trigger, action or principal that the table does not know of.
    EXPECT_EQ(fields.count("Task/Triggers/CalendarTrigger"), 1u);
    EXPECT_EQ(fields.count("Task/Actions/Exec"), 1u);
    EXPECT_EQ(fields.count("Task/Principals/Principal"), 1u);
    const std::string description = fields.find("Task/RegistrationInfo/Description")->second;
    for (const char* part : {"12:00", "COM3", "korvel-daily.log"})
        EXPECT_NE(description.find(part), std::string::npos) << part << " in " << description;
}

TEST(DailyTaskXml, NamesWithMarkupCharactersComeBackAsGiven) {
    DailyTask task = Operator();
    task.user = u"CORP\\A&B <\"o'k\">";
    task.program = u"D:\\测试 & <工具>\\korvel.exe";
    task.port = u"\\\\.\\COM10";
    task.hour = 7;
    task.minute = 5;
    const auto fields = Fields(task);
    ASSERT_FALSE(fields.empty()) << WideToUtf8(DailyTaskXml(task));
    EXPECT_EQ(fields.find("Task/Principals/Principal/UserId")->second, "CORP\\A&B <\"o'k\">");
    EXPECT_EQ(fields.find("Task/Actions/Exec/Command")->second, "D:\\测试 & <工具>\\korvel.exe");
    EXPECT_EQ(fields.find("Task/Actions/Exec/WorkingDirectory")->second, "D:\\测试 & <工具>");
    EXPECT_EQ(fields.find("Task/Actions/Exec/Arguments")->second, "--daily \\\\.\\COM10");
    EXPECT_EQ(fields.find("Task/Triggers/CalendarTrigger/StartBoundary")->second, "2020-01-01T07:05:00");
}

TEST(DailyTask, EachEditionHasATaskOfItsOwn) {
    EXPECT_EQ(DailyTaskName(u"x64"), u"korvel daily download (x64)");
    EXPECT_EQ(DailyTaskName(u"x86"), u"korvel daily download (x86)");
    EXPECT_EQ(ThisEdition(), sizeof(void*) == 8 ? u"x64" : u"x86");
}

TEST(DailyTask, OnlyComPortNamesMayBeCarried) {
    const std::pair<const char16_t*, bool> cases[] = {
        {u"COM1", true},          {u"com3", true},
        {u"COM256", true},        {u"\\\\.\\COM10", true},
        {u"COM0", false},         {u"COM257", false},
        {u"COM03", false},        {u"COM", false},
        {u"COM3 ", false},        {u"COM3\" --dir C:\\", false},
        {u"LPT1", false},         {u"", false},
        {u"/dev/ttyUSB0", false}, {u"COM1000", false},
        {u"\\\\.\\", false},      {u"CON", false},
    };
    for (const auto& [name, valid] : cases) EXPECT_EQ(IsComPortName(name), valid) << WideToUtf8(name);
}

TEST(DailyTask, TheLastRunIsTheLogsLastLineShownPlain) {
    const testing::TempFolder temp;
    const std::string& folder = temp.path();
    const std::string log = temp / kDailyLogName;
    EXPECT_EQ(LastDailyRun(folder), "") << "no log";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"\xEF\xBB\xBF", ""},
        {"\xEF\xBB\xBFonly\r\n", "only"},
        {"\xEF\xBB\xBF"
         "2026-12-08 12:00:01 start\r\nport lost\r\n2026-12-08 12:00:09 end 3\r\n\r\n",
         "2026-12-08 12:00:09 end 3"},
        {"a\nno line end", "no line end"},
        {"a\n\x1b[31mred\n", "\\x1b[31mred"},
        // Outgrown (its writer moves it aside first): the end is read.
        {std::string(static_cast<size_t>(kDailyLogLimit) + 10, 'x') + "\nlast\n", "last"},
    };
    for (const auto& [bytes, last] : cases) {
        testing::WriteFile(log, bytes);
        EXPECT_EQ(LastDailyRun(folder), last) << bytes.substr(0, 60);
    }
}

}  // namespace
}  // namespace korvel
