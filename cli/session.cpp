// SPDX-License-Identifier: MIT
#include "session.h"

#include <algorithm>
#include <chrono>
#include <iostream>

#include "console_text.h"
#include "exit_codes.h"
#include "protocol/record_index.h"
#include "records/record_file.h"
#include "serial/port_name.h"
#include "system.h"
#include "text/failure_texts.h"
#include "text/shown.h"
#include "text/utf8.h"
#include "ui/controls.h"
#include "ui/dialog_template.h"
#include "ui/texts.h"

namespace korvel::cli {
namespace {

// The longest legitimate reply: a hundred record lines and the first line, about 64 bytes each.
constexpr double kLongestReplyBits = 101 * 64 * 10;

// "3, 7-9, 12": the indices in ascending order, runs shortened; at most 40 items named.
std::string IndexList(std::vector<int> indices) {
    std::sort(indices.begin(), indices.end());
    std::string text;
    size_t named = 0;
    for (size_t i = 0; i < indices.size(); ++named) {
        size_t j = i;
        while (j + 1 < indices.size() && indices[j + 1] == indices[j] + 1) ++j;
        if (named == 40) {
            text += ", and " + std::to_string(indices.size() - i) + " more";
            break;
        }
        if (!text.empty()) text += ", ";
        text += std::to_string(indices[i]);
        if (j > i) text += "-" + std::to_string(indices[j]);
        i = j + 1;
    }
    return text;
}

const char* FailureWord(FailureKind kind) {
    switch (kind) {
        case FailureKind::Absent:
            return "absent";
        case FailureKind::Busy:
            return "busy";
        case FailureKind::PermissionDenied:
            return "permission denied";
        case FailureKind::NotSerial:
            return "not a serial port";
        case FailureKind::Settings:
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
        case ReplyRefusal::Overlong:
            return "its reply went on beyond any the device can legitimately send";
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
      app_(window_, clock_, ports_, loop_.Poster(), OpenSerialPort,
           [](Window& window, SerialLink& link, const Clock& clock, PortEnumerator& ports) {
               return std::make_unique<CliDialog>(window, link, clock, ports);
           }),
      dlg_(static_cast<CliDialog&>(app_.Dialog())) {
    // Only the settings of this run: the operator's remembered choices are neither read nor changed.
    window_.WriteProfileInt(text::kSettingsSection, text::kKeyBaud, options.baud_index);
    window_.WriteProfileInt(text::kSettingsSection, text::kKeyPortIndex, 0);
    window_.WriteProfileInt(text::kSettingsSection, text::kKeyMode, 0);
    window_.on_tick = [this] { OnTick(); };
    window_.on_text = [this](int id, std::u16string_view text) { OnText(id, text); };
    dlg_.on_device_message = [this](const std::u16string& text) {
        EndProgressLine();
        std::cerr << "korvel-cli: device: " << Shown(text) << '\n';
    };
}

Session::~Session() { app_.ExitInstance(); }

void Session::Click(int id) {
    // The click runs to its end before the event loop sees a signal again (the scan of saved files may
    // take long): meanwhile an interrupt ends the process at once.
    InterruptWatch::Immediate immediate(interrupts_);
    dlg_.Dispatch(Message{Msg::Command, id, Notify::Clicked});
    sent_ = WideToUtf8(dlg_.Command());
    stall_progress_ = Snapshot();
    progress_at_ = std::chrono::steady_clock::now();
}

std::chrono::steady_clock::duration Session::StallLimit() const {
    const std::u16string_view rate = kBaudRates[static_cast<size_t>(options_.baud_index)];
    const double baud = std::stod(std::string(rate.begin(), rate.end()));
    // Every repetition may take a timeout and the longest reply, twice over for a slow device.
    const double seconds = (options_.retries + 2) * (4.0 + 2.0 * kLongestReplyBits / baud);
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
}

Session::Progress Session::Snapshot() const { return {dlg_.ReadIndex(), dlg_.RecordsHeld()}; }

void Session::OnTick() {
    // A lost port is reported, not reopened: the dialog would try again every second.
    if (opened_ && !dlg_.PortOpen()) {
        lost_ = true;
        return;
    }
    // Whatever the device keeps sending, a command that gets nowhere is given up.
    const auto tick_time = std::chrono::steady_clock::now();
    if (!dlg_.ExchangePending() || Snapshot() != stall_progress_) {
        stall_progress_ = Snapshot();
        progress_at_ = tick_time;
    } else if (tick_time - progress_at_ > StallLimit()) {
        stalled_ = true;
        return;
    }
    // This tick is the one on which the reply times out and the walk repeats its request.
    if (watch_repeats_ && dlg_.RequestAboutToRepeat()) {
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
    std::string line = Shown(text);
    if (text.back() == u'%') {
        const int total = dlg_.RecordCount();
        const int done = dlg_.RecordsFetched();
        line += " (" + std::to_string(done) + " of " + std::to_string(total) + " records)";
    } else if (text == text::kNoReply) {
        line += ", repeating " + Shown(window_.Text(IDC_LAST_COMMAND));
    } else {
        return;
    }
    std::cerr << EraseProgressLine(progress_shown_ ? progress_columns_ : 0) << line << std::flush;
    progress_shown_ = true;
    progress_columns_ = ConsoleColumns(line);
}

Session::Outcome Session::Pump(const std::function<bool()>& done) {
    for (;;) {
        if (opened_ && !dlg_.PortOpen()) lost_ = true;
        if (lost_) return Outcome::Lost;
        if (interrupted_) return Outcome::Interrupted;
        if (gave_up_) return Outcome::GaveUp;
        if (stalled_) return Outcome::Stalled;
        if (done()) return Outcome::Done;
        loop_.RunOnce(std::chrono::milliseconds(250));
    }
}

void Session::EndProgressLine() {
    if (progress_shown_) std::cerr << EraseProgressLine(progress_columns_) << std::flush;
    progress_shown_ = false;
}

StepResult Session::Fail(Outcome outcome, const std::string& what, bool download) {
    namespace say = failure_text;
    EndProgressLine();
    const std::string no_file = download ? "; no record file was written" : "";
    const std::string command = Shown(window_.Text(IDC_LAST_COMMAND));
    switch (outcome) {
        case Outcome::Lost:
            return {kExitPort, {FailureKind::Absent, say::PortLostDuring(options_.port, what, no_file)}};
        case Outcome::GaveUp:
            // A device that answers, but not with records, has not stopped answering.
            if (dlg_.LastRefusal() != ReplyRefusal::None) {
                return {kExitNoAnswer,
                        {FailureKind::Other,
                         say::DeviceRefusedRepeated(command, RefusalReason(dlg_.LastRefusal(), "record line"),
                                                    options_.retries, no_file)}};
            }
            return {kExitNoAnswer,
                    {FailureKind::Other, say::DeviceStoppedAnswering(command, options_.retries, no_file)}};
        case Outcome::Stalled:
            return {kExitNoAnswer,
                    {FailureKind::Other,
                     say::DeviceMadeNoProgress(
                         command, std::chrono::duration_cast<std::chrono::seconds>(StallLimit()).count(),
                         no_file)}};
        case Outcome::Interrupted:
            return {kExitInterrupted, {FailureKind::Other, say::Interrupted(no_file)}};
        case Outcome::Done:
            break;
    }
    return {};
}

StepResult Session::Open() {
    app_.InitInstance();
    // The dialog opens its port on the first tick; the command need not wait a second for it. The
    // heartbeat then goes on at its own pace, a full period after this tick.
    OnTick();
    window_.StartTimer(kTimerId, kTimerPeriodMs);
    if (!dlg_.PortOpen()) {
        Failure failure = dlg_.LastOpenFailure();
        const std::string during = failure_text::PortNotOpened(FailureWord(failure.kind));
        // A port that did not open without saying why is named.
        if (failure.message.empty()) failure.message = options_.port;
        if (!failure) failure.kind = FailureKind::Other;
        return {kExitPort, failure, during};
    }
    opened_ = true;
    return {};
}

StepResult Session::AskUntilAnswered(int button, const std::string& what,
                                     const std::function<std::optional<std::string>()>& judge) {
    std::string problem;
    for (int attempt = 0; attempt <= options_.retries; ++attempt) {
        Click(button);
        const Outcome outcome = Pump([this] { return dlg_.LastOutcome() != CKorvelDlg::Outcome::Pending; });
        if (outcome != Outcome::Done) return Fail(outcome, what);
        const std::optional<std::string> why = judge();
        if (!why) return {};
        problem = *why;
    }
    return {kExitNoAnswer,
            {FailureKind::Other, failure_text::NoAnswerAfterAsking(problem, options_.retries + 1)}};
}

StepResult Session::ReadInfo() {
    return AskUntilAnswered(IDC_READ_INFO, "the information request", [this]() -> std::optional<std::string> {
        const CKorvelDlg::Outcome reply = dlg_.LastOutcome();
        if (reply != CKorvelDlg::Outcome::NoReply && dlg_.InfoRead()) return std::nullopt;
        if (dlg_.ReplyOverlong())
            return "the device's reply to \"info\" did not end (far longer than any reply)";
        if (reply == CKorvelDlg::Outcome::NoReply) return "the device did not answer \"info\"";
        return "the device refused \"info\": " + RefusalReason(dlg_.LastRefusal(), "information line");
    });
}

StepResult Session::SyncTime() {
    return AskUntilAnswered(IDC_SYNC_TIME, "the clock setting", [this]() -> std::optional<std::string> {
        const CKorvelDlg::Outcome reply = dlg_.LastOutcome();
        if (reply == CKorvelDlg::Outcome::Answered) {
            std::cout << "sent: " << sent_ << '\n';
            return std::nullopt;
        }
        if (dlg_.ReplyOverlong())
            return "the device's reply to \"" + sent_ + "\" did not end (far longer than any reply)";
        if (reply == CKorvelDlg::Outcome::Refused)
            return "the device refused \"" + sent_ + "\": its reply did not begin with OK";
        return "the device did not answer \"" + sent_ + "\"";
    });
}

StepResult Session::Download(const std::string& folder) {
    namespace say = failure_text;
    if (StepResult info = ReadInfo(); !info.ok()) return info;
    if (dlg_.RecordCount() == 0) {
        std::cout << "the device holds no records: no record file was written\n";
        return {};
    }
    // The file is written whole at the end: a full file system is found out now, not after the walk.
    const uint64_t records = static_cast<uint64_t>(dlg_.RecordCount());
    if (const std::optional<SpaceShortage> short_of = SpaceShortageFor(folder, records)) {
        return {kExitWrite,
                {FailureKind::Other,
                 say::NotEnoughSpace(folder, records, short_of->need_kib, short_of->free_kib)}};
    }
    dlg_.SetUploadFolder(Utf8ToWide(folder));
    show_progress_ = StderrIsTerminal();
    Click(IDC_READ_DATA);
    watch_repeats_ = true;
    repeats_ = 0;
    last_progress_ = Snapshot();
    const Outcome outcome = Pump([this] { return !dlg_.Downloading(); });
    watch_repeats_ = false;
    EndProgressLine();
    // Stopped like the operator stops it: the walk ends without a file.
    if (dlg_.Downloading() && dlg_.PortOpen()) Click(IDC_READ_DATA);
    if (outcome != Outcome::Done) return Fail(outcome, "the download", true);

    const std::string path = WideToUtf8(dlg_.SavedFilePath());
    if (dlg_.SaveFailed()) {
        Failure failure = dlg_.SaveFailure();
        if (!failure) failure.kind = FailureKind::Other;
        return {kExitWrite, failure, Shown(window_.Text(IDC_RESULT)) + ": "};
    }
    const std::vector<int>& skipped = dlg_.SkippedIndices();
    std::string skipped_text;
    if (!skipped.empty()) {
        skipped_text = std::to_string(skipped.size()) + (skipped.size() == 1 ? " record" : " records") +
                       " kept failing their checksum and were skipped (" +
                       (skipped.size() == 1 ? "index " : "indices ") + IndexList(skipped) + ")";
    }
    if (dlg_.RecordsHeld() == 0) {
        return {kExitNoAnswer,
                {FailureKind::Other, say::NoRecordsArrived(dlg_.RecordCount(), skipped_text, path)}};
    }
    std::cout << Shown(window_.Text(IDC_RESULT)) << '\n' << path << '\n';
    if (!skipped.empty()) {
        return {
            kExitSkipped,
            {FailureKind::Other, say::RecordsMissing(Shown(window_.Text(IDC_MESSAGE)), skipped_text, path)}};
    }
    return {};
}

int Report(const StepResult& result) {
    if (!result.during.empty() || !result.failure.message.empty())
        std::cerr << "korvel-cli: " << result.during << result.failure.message << '\n';
    return result.exit;
}

}  // namespace korvel::cli
