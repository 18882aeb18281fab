// SPDX-License-Identifier: MIT
// One run of the dialog engine for one command: the same dialog, port and texts as the window, with an
// operator that clicks the buttons and waits for the answers.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "app/korvel_app.h"
#include "cli_window.h"
#include "device_commands.h"
#include "exit_codes.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "serial/port_enumerator.h"
#include "serial/serial_link.h"
#include "system.h"
#include "text/failure.h"
#include "ui/korvel_dlg.h"

namespace korvel::cli {

// The port list holds the --port path alone, so the dialog's first port is the one asked for.
class SinglePortEnumerator : public PortEnumerator {
  public:
    explicit SinglePortEnumerator(std::u16string name) : name_(std::move(name)) {}
    std::vector<std::u16string> List() override { return {name_}; }

  private:
    std::u16string name_;
};

// The dialog, with device messages passed on to the session as they come.
class CliDialog : public CKorvelDlg {
  public:
    using CKorvelDlg::CKorvelDlg;
    void OnDeviceMessage(std::u16string text) override;
    std::function<void(const std::u16string&)> on_device_message;
};

// How a step of the session ends: exit code 0 without a failure, or the exit code scripts rely on with
// the failure whose sentence the command prints as it is, as the step below reported it, after what the
// command was at ("cannot open the port (busy): ").
struct StepResult {
    ExitCode exit = kExitOk;
    Failure failure{};
    std::string during{};
    bool ok() const { return exit == kExitOk; }
};

// Prints the step's sentence, when it has one, as "korvel-cli: DURING SENTENCE" on stderr; returns its
// exit code.
int Report(const StepResult& result);

class Session {
  public:
    explicit Session(const DeviceOptions& options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    StepResult Open();
    StepResult ReadInfo();
    StepResult SyncTime();
    StepResult Download(const std::string& folder);

    const CliDialog& dialog() const { return dlg_; }
    const CliWindow& window() const { return window_; }

  private:
    enum class Outcome { Done, Lost, GaveUp, Stalled, Interrupted };
    struct Progress {
        int read_index;
        size_t records;
        bool operator==(const Progress&) const = default;
    };

    void OnTick();
    void OnText(int id, std::u16string_view text);
    Outcome Pump(const std::function<bool()>& done);
    // what: what was under way ("the download"); download: a record file was about to be written.
    StepResult Fail(Outcome outcome, const std::string& what, bool download = false);
    // Clicks button until judge(), after the reply, says nothing is wrong: at most retries + 1 times.
    StepResult AskUntilAnswered(int button, const std::string& what,
                                const std::function<std::optional<std::string>()>& judge);
    void EndProgressLine();
    void Click(int id);
    Progress Snapshot() const;
    std::chrono::steady_clock::duration StallLimit() const;

    DeviceOptions options_;
    EventLoop loop_;
    bool interrupted_ = false;
    InterruptWatch interrupts_{loop_, [this] { interrupted_ = true; }};
    CliWindow window_;
    SystemClock clock_;
    SinglePortEnumerator ports_;
    CKorvelApp app_;
    CliDialog& dlg_;    // the app's dialog
    std::string sent_;  // the command the last click sent

    bool opened_ = false;
    bool lost_ = false;

    // The walk's repetitions by the timeout: how many in a row without progress.
    bool watch_repeats_ = false;
    bool gave_up_ = false;
    int repeats_ = 0;
    Progress last_progress_{};

    // A command that makes no progress for StallLimit() is given up, whatever the device keeps sending.
    bool stalled_ = false;
    Progress stall_progress_{};
    std::chrono::steady_clock::time_point progress_at_{};

    bool show_progress_ = false;
    bool progress_shown_ = false;
    size_t progress_columns_ = 0;  // the cells the progress line takes
};

}  // namespace korvel::cli
