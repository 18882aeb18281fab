// SPDX-License-Identifier: MIT
// The record items of the windows' menus: the upload folder in the file manager, the archive check, the
// running-speed report; and the record count's tooltip after 读信息.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/daily_task.h"
#include "app/korvel_app.h"
#include "archive/archive.h"
#include "platform/open_in_desktop.h"
#include "records/record_line.h"
#include "text/civil_time.h"
#include "text/file_system.h"
#include "text/format.h"
#include "text/utf8.h"
#include "ui/controls.h"
#include "ui/texts.h"
#include "views/archive_text.h"
#include "views/page_file.h"
#include "views/report_page.h"

namespace korvel {

const RecordMenuItem kRecordMenu[4] = {
    {RecordItem::OpenFolder, text::kMenuOpenFolder, 'O'},
    {RecordItem::CheckRecords, text::kMenuCheckRecords, 'K'},
    {RecordItem::SpeedReport, text::kMenuSpeedReport, 'P'},
    {RecordItem::Guide, text::kMenuGuide, 0},
};

namespace {

// The window's sentence (and the path it names), then the system's own words on a paragraph of their
// own: no sentence mixes the two languages.
std::u16string Sentence(std::u16string_view what, const std::string& why, std::u16string_view path = {}) {
    std::u16string text(what);
    text += path;
    text += u"\n\n";
    text += text::kSystemReason;
    text += Utf8ToWide(why);
    return text;
}

}  // namespace

void CKorvelApp::RunRecordItem(RecordItem item, std::function<void(std::u16string)> show) {
    switch (item) {
        case RecordItem::OpenFolder:
            return OpenRecordFolder();
        case RecordItem::CheckRecords:
            return CheckRecords(std::move(show));
        case RecordItem::SpeedReport:
            return WriteSpeedReport();
        case RecordItem::Guide:
            return OpenGuide();
    }
}

void CKorvelApp::OpenRecordFolder() {
    const std::u16string folder = m_dlg->UploadFolder();
    Window& window = m_dlg->window();
    if (!IsDirectory(WideToUtf8(folder))) {
        window.MessageBox(std::u16string(text::kNoRecordFolder) + folder +
                          std::u16string(text::kNoRecordFolderHint));
        return;
    }
    OffUiThread([this, folder]() -> std::function<void()> {
        const Failure failure = OpenInDesktop(WideToUtf8(folder));
        if (!failure) return [] {};
        return [this, folder, failure] {
            m_dlg->window().MessageBox(Sentence(text::kOpenFolderFailed, failure.message, folder));
        };
    });
}

void CKorvelApp::CheckRecords(std::function<void(std::u16string)> show) {
    const std::string folder = WideToUtf8(m_dlg->UploadFolder());
    OffUiThread([folder, show = std::move(show)]() -> std::function<void()> {
        std::u16string text;
        if (!IsDirectory(folder)) {
            text = std::u16string(text::kNoRecordFolder) + Utf8ToWide(folder) +
                   std::u16string(text::kNoRecordFolderHint);
        } else {
            const Archive archive = ReadArchive(folder);
            if (archive.files.empty()) {
                text = std::u16string(text::kNoRecordFiles) + Utf8ToWide(folder) +
                       std::u16string(text::kNoRecordFilesHint);
                for (const std::string& problem : archive.problems) text += u"\n" + Utf8ToWide(problem);
            } else {
                text = Utf8ToWide(ArchiveCheckTextZh(archive, static_cast<int64_t>(std::time(nullptr))));
            }
            // What the daily task did last (Windows), when it ever ran for this folder.
            if (const std::string last = LastDailyRun(folder); !last.empty())
                text +=
                    u"\n\n" + Format(text::kCheckDailyFormat, Utf8ToWide(kDailyLogName), Utf8ToWide(last));
        }
        return [show, text = std::move(text)] { show(text); };
    });
}

std::u16string WriteAndOpenReport(const std::string& folder, const std::string& product) {
    if (!IsDirectory(folder))
        return std::u16string(text::kNoRecordFolder) + Utf8ToWide(folder) +
               std::u16string(text::kNoRecordFolderHint);
    const Archive archive = ReadArchive(folder);
    if (archive.files.empty())
        return std::u16string(text::kNoRecordFiles) + Utf8ToWide(folder) +
               std::u16string(text::kNoRecordFilesHint);
    const DeviceArchive* device = FindByProductField(archive, product);
    if (device && device->records.empty()) device = nullptr;
    ReportOptions options;
    options.now = static_cast<int64_t>(std::time(nullptr));
    const std::string page =
        device ? MakeReportPage(archive, *device, options) : MakeOverviewPage(archive, options);
    Failure error;
    const std::optional<PageFile> file = PagesFolderPage(
        "korvel-report" + (device ? "-" + std::to_string(device->product) : std::string()), true, &error);
    if (!file) return Sentence(text::kReportWriteFailed, error.message);
    const PageOpened result = WriteAndOpenPage(*file, page);
    if (result.not_written) return Sentence(text::kReportWriteFailed, result.not_written.message);
    if (result.not_opened)
        return Sentence(text::kReportOpenFailed, result.not_opened.message, Utf8ToWide(result.opened));
    return {};
}

void CKorvelApp::WriteSpeedReport() {
    const std::string folder = WideToUtf8(m_dlg->UploadFolder());
    const std::string product = m_dlg->InfoRead() ? WideToUtf8(m_dlg->ProductNo()) : std::string();
    OffUiThread([this, folder, product]() -> std::function<void()> {
        std::u16string message = WriteAndOpenReport(folder, product);
        if (message.empty()) return [] {};
        return [this, message = std::move(message)] { m_dlg->window().MessageBox(message); };
    });
}

void CKorvelApp::OpenGuide() {
    OffUiThread([this]() -> std::function<void()> {
        auto tell = [this](std::u16string message) -> std::function<void()> {
            return [this, message = std::move(message)] { m_dlg->window().MessageBox(message); };
        };
        Failure error;
        const std::optional<PageFile> file = PagesFolderPage("korvel-guide.html", false, &error);
        if (!file) return tell(Sentence(text::kGuideWriteFailed, error.message));
        const PageOpened result = WriteAndOpenPage(*file, OperatorGuide());
        if (result.not_written) return tell(Sentence(text::kGuideWriteFailed, result.not_written.message));
        if (result.not_opened)
            return tell(
                Sentence(text::kGuideOpenFailed, result.not_opened.message, Utf8ToWide(result.opened)));
        return [] {};
    });
}

void CKorvelApp::UpdateRecordCountTip() {
    if (!m_dlg->InfoRead()) {
        // The fields were emptied (another port, a lost device): so is the tooltip.
        if (!m_tipFor.empty()) m_dlg->window().SetToolTip(IDC_RECORD_COUNT, u"");
        m_tipFor.clear();
        return;
    }
    // A new answer to "info" brings a new PC time, a download a new saved file.
    const std::u16string asked = m_dlg->ProductNo() + u"|" + m_dlg->DeviceTime() + u"|" + m_dlg->PcTime() +
                                 u"|" + m_dlg->SavedFilePath();
    if (asked == m_tipFor) return;
    m_tipFor = asked;
    const std::string folder = WideToUtf8(m_dlg->UploadFolder());
    const std::string product = WideToUtf8(m_dlg->ProductNo());
    const std::string device_time = WideToUtf8(m_dlg->DeviceTime());
    const int count = m_dlg->RecordCount();
    OffUiThread([this, folder, product, device_time, count, asked]() -> std::function<void()> {
        std::u16string tip;
        if (IsDirectory(folder)) {
            // Only the files that carry the device's number are read.
            const std::optional<uint32_t> number = ProductFieldNumber(product);
            const Archive archive = ReadArchive(
                folder, [&](const ArchiveFile& file) { return number && file.product == *number; });
            const DeviceArchive* device = FindByProductField(archive, product);
            if (device && !device->records.empty()) {
                const std::optional<int64_t> clock = ParseClockTime(device_time, ' ');
                const std::optional<PendingRecords> pending =
                    clock ? DevicePending(*device, *clock, count) : std::nullopt;
                if (!device->HasInterval()) {
                    tip = text::kPendingNoInterval;
                } else if (!pending) {
                    tip = text::kPendingUnknown;
                } else {
                    tip = Format(text::kPendingFormat, pending->records);
                    if (pending->records > 0 && pending->lost == 0)
                        tip += Format(text::kPendingOverwriteFormat,
                                      Utf8ToWide(DateText(*clock + pending->seconds_left)));
                    if (pending->lost > 0) tip += Format(text::kPendingLostFormat, pending->lost);
                }
            }
        }
        return [this, tip = std::move(tip), asked] {
            // A later answer to "info" asks for its own tooltip.
            if (asked == m_tipFor) m_dlg->window().SetToolTip(IDC_RECORD_COUNT, tip);
        };
    });
}

}  // namespace korvel
