// SPDX-License-Identifier: MIT
#include "session.h"

#include <chrono>
#include <iostream>

#include "exit_codes.h"
#include "protocol/record_index.h"
#include "records/record_file.h"
#include "serial/port_name.h"
#include "system.h"
#include "text/utf8.h"
#include "ui/controls.h"
#include "ui/texts.h"

namespace korvel::cli {
namespace {

constexpr int kInterruptedExit = 130;

const char* FailureWord(OpenFailureKind kind) {
    switch (kind) {
        case OpenFailureKind::Absent:
            return "absent";
        case OpenFailureKind::Busy:
            return "busy";
        case OpenFailureKind::PermissionDenied:
            return "permission denied";
        case OpenFailureKind::NotSerial:
            return "not a serial port";
        case OpenFailureKind::Settings:
            return "settings refused";
        default:
            return "failed";
    }
}

// Why the device's last reply was not taken, for "the device refused <command>: ...".
std::string RefusalReason(ReplyRefusal why, const char* line) {
    switch (why) {
        case ReplyRefusal::NoOk:
            return "its reply did not begin with OK";
        case ReplyRefusal::TooManyWords:
            return std::string("its ") + line +
                   " has more than the 32 words a line may hold (or a space after the 32nd)";
        case ReplyRefusal::Rejected:
            return std::string("its ") + line +
                   (std::string(line) == "information line" ? " has fewer than 8 words"
                                                            : " has fewer than 3 words");
        case ReplyRefusal::None:
            break;
    }
    return "its reply could not be read";
}

}  // namespace

void CliDialog::OnDeviceMessage(std::u16string text) {
    if (on_device_message) on_device_message(text);
    CKorvelDlg::OnDeviceMessage(std::move(text));
}

Session::Session(const DeviceOptions& options)
    : options_(options),
      window_(loop_),
      ports_(PortName(options.port)),
      dlg_(window_, link_, clock_, ports_) {
    // Only the settings of this run: the operator's remembered choices are neither read nor changed.
    window_.WriteProfileInt(text::kSettingsSection, text::kKeyBaud, options.baud_index);
    window_.WriteProfileInt(text::kSettingsSection, text::kKeyPortIndex, 0);
    window_.WriteProfileInt(text::kSettingsSection, text::kKeyMode, 0);
    window_.on_tick = [this] { OnTick(); };
    window_.on_text = [this](int id, std::u16string_view text) { OnText(id, text); };
    dlg_.on_device_message = [this](const std::u16string& text) {
        if (progress_shown_) std::cerr << "\r\x1b[K";
        progress_shown_ = false;
        std::cerr << "korvel-cli: device: " << PlainText(text) << '\n';
    };
}

Session::~Session() { dlg_.Dispatch(Message{Msg::Destroy}); }

void Session::Click(int id) { dlg_.Dispatch(Message{Msg::Command, id, Notify::Clicked}); }

Session::Progress Session::Snapshot() const { return {dlg_.m_nReadIndex, dlg_.m_recordBuffer.size()}; }

void Session::OnTick() {
    // A lost port is reported, not reopened: the dialog would try again every second.
    if (opened_ && !link_.m_bOpen) {
        lost_ = true;
        return;
    }
    // This tick is the one on which the reply times out and the walk repeats its request.
    if (watch_repeats_ && dlg_.m_nReplyTimeout == 1 && dlg_.m_strCommand == u"get" &&
        dlg_.m_nReadIndex != dlg_.m_nTailIndex) {
        const Progress now = Snapshot();
        repeats_ = now == last_progress_ ? repeats_ + 1 : 1;
        last_progress_ = now;
        if (repeats_ > options_.retries) {
            gave_up_ = true;
            return;
        }
    }
    dlg_.Dispatch(Message{Msg::Timer});
}

void Session::OnText(int id, std::u16string_view text) {
    if (id != IDC_RESULT || !show_progress_ || text.empty()) return;
    std::string line = PlainText(text);
    if (text.back() == u'%') {
        const int total = RingDistance(dlg_.m_nTailIndex, dlg_.m_nHeadIndex);
        const int done = RingDistance(dlg_.m_nReadIndex, dlg_.m_nHeadIndex);
        line += " (" + std::to_string(done) + " of " + std::to_string(total) + " records)";
    } else if (text == text::kNoReply) {
        line += ", repeating " + PlainText(window_.Text(IDC_LAST_COMMAND));
    } else {
        return;
    }
    std::cerr << "\r\x1b[K" << line << std::flush;
    progress_shown_ = true;
}

Session::Outcome Session::Pump(const std::function<bool()>& done) {
    for (;;) {
        if (opened_ && !link_.m_bOpen) lost_ = true;
        if (lost_) return Outcome::Lost;
        if (interrupted_) return Outcome::Interrupted;
        if (gave_up_) return Outcome::GaveUp;
        if (done()) return Outcome::Done;
        loop_.RunOnce(std::chrono::milliseconds(250));
    }
}

int Session::Fail(Outcome outcome, const std::string& what) {
    if (progress_shown_) std::cerr << "\r\x1b[K";
    progress_shown_ = false;
    const bool download = what == "the download";
    const std::string no_file = download ? "; no record file was written" : "";
    switch (outcome) {
        case Outcome::Lost:
            std::cerr << "korvel-cli: port lost: " << options_.port << " was unplugged or hung up during "
                      << what << no_file << '\n';
            return kExitPort;
        case Outcome::GaveUp:
            // A device that answers, but not with records, has not stopped answering.
            if (dlg_.m_lastRefusal != ReplyRefusal::None) {
                std::cerr << "korvel-cli: the device refused \"" << PlainText(window_.Text(IDC_LAST_COMMAND))
                          << "\": " << RefusalReason(dlg_.m_lastRefusal, "record line")
                          << ", also when repeated " << options_.retries
                          << (options_.retries == 1 ? " time" : " times") << no_file << '\n';
                return kExitNoAnswer;
            }
            std::cerr << "korvel-cli: the device stopped answering: \""
                      << PlainText(window_.Text(IDC_LAST_COMMAND)) << "\" was repeated " << options_.retries
                      << (options_.retries == 1 ? " time" : " times") << " without a reply" << no_file
                      << '\n';
            return kExitNoAnswer;
        case Outcome::Interrupted:
            std::cerr << "korvel-cli: interrupted" << no_file << '\n';
            return kInterruptedExit;
        case Outcome::Done:
            break;
    }
    return kExitOk;
}

int Session::Open() {
    link_.m_hNotifyWnd = loop_.Poster();
    dlg_.OnInitDialog();
    // The dialog opens its port on the first tick; the command need not wait a second for it. The
    // heartbeat then goes on at its own pace, a full period after this tick.
    OnTick();
    window_.StartTimer(kTimerId, kTimerPeriodMs);
    if (!link_.m_bOpen) {
        const OpenFailure& failure = link_.m_lastFailure;
        std::cerr << "korvel-cli: cannot open the port (" << FailureWord(failure.kind)
                  << "): " << (failure.message.empty() ? options_.port : failure.message) << '\n';
        return kExitPort;
    }
    opened_ = true;
    return kExitOk;
}

int Session::ReadInfo() {
    std::string problem;
    for (int attempt = 0; attempt <= options_.retries; ++attempt) {
        Click(IDC_READ_INFO);
        const Outcome outcome =
            Pump([this] { return dlg_.m_strCommand.empty() || dlg_.m_nReplyTimeout == 0; });
        if (outcome != Outcome::Done) return Fail(outcome, "the information request");
        if (dlg_.m_strCommand.empty() && !dlg_.m_strPcTime.empty()) return kExitOk;
        if (!dlg_.m_strCommand.empty()) {
            problem = "the device did not answer \"info\"";
        } else {
            problem = "the device refused \"info\": " + RefusalReason(dlg_.m_lastRefusal, "information line");
        }
    }
    std::cerr << "korvel-cli: " << problem << " (asked " << options_.retries + 1
              << (options_.retries == 0 ? " time" : " times")
              << "); check the port, the rate and the cable\n";
    return kExitNoAnswer;
}

int Session::SyncTime() {
    std::string problem;
    for (int attempt = 0; attempt <= options_.retries; ++attempt) {
        Click(IDC_SYNC_TIME);
        const std::string command = WideToUtf8(dlg_.m_strCommand);
        const Outcome outcome =
            Pump([this] { return dlg_.m_strCommand.empty() || dlg_.m_nReplyTimeout == 0; });
        if (outcome != Outcome::Done) return Fail(outcome, "the clock setting");
        if (dlg_.m_strCommand.empty() && dlg_.m_bReplyOk) {
            std::cout << "sent: " << command << '\n';
            return kExitOk;
        }
        problem = dlg_.m_strCommand.empty()
                      ? "the device refused \"" + command + "\": its reply did not begin with OK"
                      : "the device did not answer \"" + command + "\"";
    }
    std::cerr << "korvel-cli: " << problem << " (asked " << options_.retries + 1
              << (options_.retries == 0 ? " time" : " times")
              << "); check the port, the rate and the cable\n";
    return kExitNoAnswer;
}

int Session::Download(const std::string& folder) {
    if (const int code = ReadInfo(); code != kExitOk) return code;
    if (RingDistance(dlg_.m_nTailIndex, dlg_.m_nHeadIndex) == 0) {
        std::cout << "the device holds no records: no record file was written\n";
        return kExitOk;
    }
    // The file is written whole at the end: a full file system is found out now, not after the walk. A
    // stored line takes about 50 bytes; the final write still checks its own result.
    constexpr uint64_t kBytesPerRecord = 64;
    const uint64_t records = static_cast<uint64_t>(RingDistance(dlg_.m_nTailIndex, dlg_.m_nHeadIndex));
    if (const std::optional<uint64_t> free = FreeSpace(folder); free && *free < records * kBytesPerRecord) {
        std::cerr << "korvel-cli: not enough free space in " << folder << ": the " << records
                  << " records need about " << (records * kBytesPerRecord + 1023) / 1024 << " KiB, "
                  << *free / 1024 << " KiB are free; free some space or choose another folder with --dir\n";
        return kExitWrite;
    }
    dlg_.m_strUploadDir = Utf8ToWide(folder);
    show_progress_ = StderrIsTerminal();
    Click(IDC_READ_DATA);
    watch_repeats_ = true;
    repeats_ = 0;
    last_progress_ = Snapshot();
    const Outcome outcome = Pump([this] { return dlg_.m_strCommand != u"get"; });
    watch_repeats_ = false;
    if (progress_shown_) std::cerr << "\r\x1b[K" << std::flush;
    progress_shown_ = false;
    // Stopped like the operator stops it: the walk ends without a file.
    if (dlg_.m_strCommand == u"get" && link_.m_bOpen) Click(IDC_READ_DATA);
    if (outcome != Outcome::Done) return Fail(outcome, "the download");

    if (dlg_.m_nSkippedRecords != 0) {
        std::cerr << "korvel-cli: " << PlainText(window_.Text(IDC_MESSAGE)) << ": " << dlg_.m_nSkippedRecords
                  << " records kept failing their checksum and were skipped\n";
    }
    const std::string path = WideToUtf8(JoinPath(dlg_.m_strUploadDir, dlg_.m_strFileName));
    if (dlg_.m_bSaveFailed) {
        std::cerr << "korvel-cli: " << PlainText(window_.Text(IDC_RESULT)) << ": "
                  << PlainText(Utf8ToWide(dlg_.m_strSaveError))
                  << "; the records stay on the device: mend that and download again\n";
        return kExitWrite;
    }
    std::cout << PlainText(window_.Text(IDC_RESULT)) << '\n' << path << '\n';
    return kExitOk;
}

}  // namespace korvel::cli
