// SPDX-License-Identifier: MIT
#include "sim/pty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>

namespace korvel::sim {
namespace {

using SteadyClock = std::chrono::steady_clock;

int g_signal_pipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] ssize_t n = write(g_signal_pipe[1], &c, 1);
    errno = saved;
}

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

bool MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

constexpr size_t kMaxCommandLine = 4096;  // longer command lines are cut; the rest is dropped

class Device {
  public:
    Device(Recorder& recorder, FaultPlan& faults, const DeviceOptions& options)
        : recorder_(recorder), faults_(faults), options_(options), start_(SteadyClock::now()) {}

    int Run();

  private:
    bool OpenPty();
    bool OpenGivenTty();
    void HangUp();
    void HangUpWhenDrained();
    void OnClientClosed();
    void CheckDrained(SteadyClock::time_point now);
    void UpdateLink();
    void RemoveLink();
    bool OpenControl();
    double Elapsed() const { return std::chrono::duration<double>(SteadyClock::now() - start_).count(); }
    void OnTerminalReadable();
    void OnCommand(const std::string& line);
    void Queue(const std::string& bytes);
    void WriteSome();
    void OnControlReadable();
    void OnControlLine(const std::string& line);
    void Say(const std::string& line);
    void Log(const std::string& line);
    std::string Status() const;
    size_t PendingBytes() const {
        size_t n = out_.size();
        for (const auto& [when, bytes] : delayed_) n += bytes.size();
        return n;
    }

    Recorder& recorder_;
    FaultPlan& faults_;
    DeviceOptions options_;
    SteadyClock::time_point start_;

    int terminal_ = -1;     // pty master, or the given tty
    int keepalive_ = -1;    // our own slave fd, so the master never sees a hang-up between clients
    int close_watch_ = -1;  // inotify: a client closed the slave
    std::string slave_path_;
    bool hung_up_ = false;
    bool hangup_fired_ = false;  // --hangup-after unplugs once; a replugged device keeps going
    std::optional<SteadyClock::time_point> replug_at_;
    // A hang-up from --hangup-after waits until the client has read what was sent before it.
    std::optional<SteadyClock::time_point> drain_started_;
    bool drain_seen_data_ = false;

    int log_fd_ = -1;
    int control_fd_ = -1;
    int control_writer_ = -1;  // keeps a FIFO from reporting end of file between writers
    bool created_fifo_ = false;
    bool watch_stdin_ = false;
    bool stdout_is_pipe_ = false;

    std::string command_;
    std::string control_line_;
    std::string out_;
    std::deque<std::pair<SteadyClock::time_point, std::string>> delayed_;  // --reply-delay-ms
    std::string endless_line_;  // --endless-reply: the line repeated after the last command's first line
    SteadyClock::time_point next_endless_{};
    long sent_ = 0;
    SteadyClock::time_point next_write_{};
    bool quit_ = false;
    int status_ = 0;
};

bool Device::OpenPty() {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        std::fprintf(stderr, "korvel-sim: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    char name[256];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        std::fprintf(stderr, "korvel-sim: cannot prepare the pseudo-terminal: %s\n", std::strerror(errno));
        close(master);
        return false;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    keepalive_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (keepalive_ < 0 || !MakeRaw(keepalive_)) {
        std::fprintf(stderr, "korvel-sim: cannot open %s: %s\n", name, std::strerror(errno));
        CloseFd(keepalive_);
        close(master);
        return false;
    }
    // A client may put the terminal in exclusive mode (TIOCEXCL). A real port forgets that at its last
    // close; the pty keeps it while we hold it open, which would lock the client out of a reopen.
    CloseFd(close_watch_);
    close_watch_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (close_watch_ >= 0 && inotify_add_watch(close_watch_, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        CloseFd(close_watch_);
    terminal_ = master;
    slave_path_ = name;
    hung_up_ = false;
    command_.clear();
    UpdateLink();
    return true;
}

bool Device::OpenGivenTty() {
    terminal_ = open(options_.tty_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (terminal_ < 0 || !MakeRaw(terminal_)) {
        std::fprintf(stderr, "korvel-sim: cannot open %s as a terminal: %s\n", options_.tty_path.c_str(),
                     std::strerror(errno));
        CloseFd(terminal_);
        return false;
    }
    slave_path_ = options_.tty_path;
    return true;
}

void Device::HangUp() {
    drain_started_.reset();
    if (hung_up_) return;
    // Closing every fd of our side makes the client's end see a hang-up, as when an adapter is pulled.
    CloseFd(keepalive_);
    CloseFd(terminal_);
    CloseFd(close_watch_);
    hung_up_ = true;
    out_.clear();
    delayed_.clear();
    Say("hangup sent=" + std::to_string(sent_));
    if (options_.replug_after_ms >= 0 && options_.tty_path.empty())
        replug_at_ = SteadyClock::now() + std::chrono::milliseconds(options_.replug_after_ms);
}

void Device::HangUpWhenDrained() {
    out_.clear();
    delayed_.clear();
    if (keepalive_ < 0) {
        HangUp();
        return;
    }
    drain_started_ = SteadyClock::now();
    drain_seen_data_ = false;
}

void Device::CheckDrained(SteadyClock::time_point now) {
    // Bytes written to the master reach the slave's input queue a moment later, so an empty queue
    // only counts once data has been seen there, or after a grace period.
    int queued = 0;
    if (ioctl(keepalive_, FIONREAD, &queued) != 0) queued = 0;
    if (queued > 0) drain_seen_data_ = true;
    const auto waited = now - *drain_started_;
    if ((queued == 0 && (drain_seen_data_ || waited > std::chrono::milliseconds(200))) ||
        waited > std::chrono::seconds(5)) {
        drain_started_.reset();
        HangUp();
    }
}

void Device::OnClientClosed() {
    char events[4096];
    while (read(close_watch_, events, sizeof events) > 0) {
    }
    if (keepalive_ >= 0) ioctl(keepalive_, TIOCNXCL);
}

void Device::UpdateLink() {
    if (options_.link_path.empty()) return;
    struct stat st {};
    if (lstat(options_.link_path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "korvel-sim: %s exists and is not a symbolic link; not replacing it\n",
                         options_.link_path.c_str());
            return;
        }
        unlink(options_.link_path.c_str());
    }
    if (symlink(slave_path_.c_str(), options_.link_path.c_str()) != 0)
        std::fprintf(stderr, "korvel-sim: cannot create the link %s: %s\n", options_.link_path.c_str(),
                     std::strerror(errno));
}

void Device::RemoveLink() {
    if (options_.link_path.empty()) return;
    char target[512];
    const ssize_t n = readlink(options_.link_path.c_str(), target, sizeof target - 1);
    if (n < 0) return;
    target[n] = '\0';
    if (slave_path_ == target) unlink(options_.link_path.c_str());
}

bool Device::OpenControl() {
    if (options_.control_path.empty()) return true;
    if (options_.control_path == "-") {
        control_fd_ = STDIN_FILENO;
        return true;
    }
    const char* path = options_.control_path.c_str();
    if (mkfifo(path, 0600) == 0) {
        created_fifo_ = true;
    } else if (errno != EEXIST) {
        std::fprintf(stderr, "korvel-sim: cannot create the control FIFO %s: %s\n", path,
                     std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (stat(path, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        std::fprintf(stderr, "korvel-sim: %s is not a FIFO\n", path);
        return false;
    }
    control_fd_ = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    control_writer_ = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (control_fd_ < 0 || control_writer_ < 0) {
        std::fprintf(stderr, "korvel-sim: cannot open the control FIFO %s: %s\n", path, std::strerror(errno));
        return false;
    }
    return true;
}

void Device::Say(const std::string& line) {
    const std::string text = line + "\n";
    if (!stdout_is_pipe_) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
        return;
    }
    // A pipe nobody reads must not stop the device: the line is dropped when the pipe is full. Lines
    // are shorter than PIPE_BUF, so each goes whole or not at all.
    [[maybe_unused]] ssize_t n = write(STDOUT_FILENO, text.data(), text.size());
}

void Device::Log(const std::string& line) {
    if (log_fd_ < 0) return;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.6f ", Elapsed());
    const std::string entry = stamp + line + "\n";
    // One write per line, so a reader never sees half an entry.
    [[maybe_unused]] ssize_t n = write(log_fd_, entry.data(), entry.size());
}

std::string Device::Status() const {
    return "head=" + std::to_string(recorder_.head()) + " tail=" + std::to_string(recorder_.tail()) +
           " count=" + std::to_string(recorder_.count());
}

void Device::OnTerminalReadable() {
    char buf[4096];
    const ssize_t n = read(terminal_, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        // Only a given tty gets here: our own pty keeps a slave open. Its far side is gone for good.
        std::fprintf(stderr, "korvel-sim: %s hung up\n", slave_path_.c_str());
        CloseFd(terminal_);
        hung_up_ = true;
        quit_ = true;
        return;
    }
    for (ssize_t i = 0; i < n && terminal_ >= 0; ++i) {
        const char c = buf[i];
        if (c == '\n') {
            std::string line;
            line.swap(command_);
            OnCommand(line);
        } else if (c != '\r' && command_.size() < kMaxCommandLine) {
            command_.push_back(c);
        }
    }
}

void Device::OnCommand(const std::string& line) {
    if (line.find_first_not_of(" \t") == std::string::npos) return;  // blank lines are not commands
    Log(line);
    const double elapsed = Elapsed();
    if (!faults_.Answers()) return;
    const std::vector<std::string> reply = recorder_.Handle(line, elapsed);
    if (reply.empty()) return;
    if (std::string start = faults_.EndlessStart(reply); !start.empty()) {
        // The reply never ends; a new command starts the next one.
        out_.clear();
        Queue(start);
        endless_line_ = faults_.EndlessLine(reply);
        next_endless_ = SteadyClock::now();
        return;
    }
    std::string bytes = faults_.Encode(reply);
    if (options_.reply_delay_ms > 0) {
        delayed_.emplace_back(SteadyClock::now() + std::chrono::milliseconds(options_.reply_delay_ms),
                              std::move(bytes));
        return;
    }
    Queue(bytes);
}

void Device::Queue(const std::string& bytes) {
    if (out_.empty()) next_write_ = std::max(next_write_, SteadyClock::now());
    out_ += bytes;
}

void Device::WriteSome() {
    size_t n = out_.size();
    const double bytes_per_second = static_cast<double>(options_.baud) / 10.0;
    if (options_.chunk > 0) n = std::min(n, static_cast<size_t>(options_.chunk));
    // Paced output goes in slices of about 5 ms of wire time.
    if (options_.baud > 0) n = std::min(n, static_cast<size_t>(std::max(1.0, bytes_per_second / 200.0)));
    const bool hangup_armed = options_.hangup_after >= 0 && !hangup_fired_;
    if (hangup_armed) {
        if (sent_ >= options_.hangup_after) {
            hangup_fired_ = true;
            HangUpWhenDrained();
            return;
        }
        n = std::min(n, static_cast<size_t>(options_.hangup_after - sent_));
    }
    const ssize_t k = write(terminal_, out_.data(), n);
    if (k < 0) {
        if (errno == EAGAIN || errno == EINTR) return;
        std::fprintf(stderr, "korvel-sim: write to %s failed: %s\n", slave_path_.c_str(),
                     std::strerror(errno));
        out_.clear();
        return;
    }
    sent_ += k;
    out_.erase(0, static_cast<size_t>(k));
    // A late wake-up must not push the schedule back: like a UART, the wire catches up. Queue() starts
    // the schedule afresh when output begins after a pause.
    if (options_.baud > 0)
        next_write_ += std::chrono::duration_cast<SteadyClock::duration>(
            std::chrono::duration<double>(static_cast<double>(k) / bytes_per_second));
    if (options_.chunk > 0 && !out_.empty())
        next_write_ =
            std::max(next_write_, SteadyClock::now() + std::chrono::microseconds(options_.chunk_gap_us));
    if (hangup_armed && sent_ >= options_.hangup_after) {
        hangup_fired_ = true;
        HangUpWhenDrained();
    }
}

void Device::OnControlReadable() {
    char buf[1024];
    const ssize_t n = read(control_fd_, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        if (control_fd_ == STDIN_FILENO) {
            control_fd_ = -1;
            if (options_.exit_on_stdin_eof) quit_ = true;
        }
        return;
    }
    for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] == '\n') {
            std::string line;
            line.swap(control_line_);
            OnControlLine(line);
        } else if (buf[i] != '\r' && control_line_.size() < kMaxCommandLine) {
            control_line_.push_back(buf[i]);
        }
    }
}

void Device::OnControlLine(const std::string& line) {
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    if (word.empty()) return;
    if (word == "add") {
        char* end = nullptr;
        const long count = std::strtol(arg.c_str(), &end, 10);
        if (arg.empty() || *end != '\0' || count < 0 || count > kRingSize * 4L) {
            Say("error add: give a number of records, e.g. \"add 5\"");
            return;
        }
        recorder_.AddRecords(static_cast<int>(count));
        Say("ok add " + std::to_string(count) + " " + Status());
    } else if (word == "status") {
        Say("ok status " + Status() + " clock=" + FormatDeviceTime(recorder_.DeviceNow(Elapsed())) +
            " commands=" + std::to_string(faults_.commands()) + " sent=" + std::to_string(sent_) +
            " pending=" + std::to_string(PendingBytes()) + (hung_up_ ? " hungup" : ""));
    } else if (word == "clock") {
        if (const std::optional<int64_t> t = ParseDeviceTime(arg)) {
            recorder_.SetClock(*t, Elapsed());
            Say("ok clock " + arg);
        } else {
            Say("error clock: give the time as YYYY-MM-DD hh:mm:ss");
        }
    } else if (word == "stall") {
        faults_.SetStalled(true);
        Say("ok stall");
    } else if (word == "resume") {
        faults_.SetStalled(false);
        Say("ok resume");
    } else if (word == "hangup") {
        HangUp();
        Say("ok hangup");
    } else if (word == "replug") {
        if (!hung_up_ || !options_.tty_path.empty()) {
            Say("error replug: the device is not hung up (or runs on a given tty)");
            return;
        }
        replug_at_.reset();
        if (!OpenPty()) {
            Say("error replug: no new pseudo-terminal");
            return;
        }
        Say("pty " + slave_path_);
        Say("ok replug");
    } else {
        Say("error unknown control command \"" + word.substr(0, 64) +
            "\" (add N, status, clock T, stall, resume, hangup, replug)");
    }
}

int Device::Run() {
    if (pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (!options_.log_path.empty()) {
        log_fd_ = open(options_.log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        if (log_fd_ < 0) {
            std::fprintf(stderr, "korvel-sim: cannot open the log %s: %s\n", options_.log_path.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    if (!OpenControl()) return 1;
    struct stat out {};
    if (fstat(STDOUT_FILENO, &out) == 0 && (S_ISFIFO(out.st_mode) || S_ISSOCK(out.st_mode))) {
        stdout_is_pipe_ = true;
        std::fflush(stdout);
        fcntl(STDOUT_FILENO, F_SETFL, fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
    }
    if (!(options_.tty_path.empty() ? OpenPty() : OpenGivenTty())) return 1;
    watch_stdin_ = options_.exit_on_stdin_eof && control_fd_ != STDIN_FILENO;
    // The first line tells whoever started us where the device is; everything is ready by now.
    Say(slave_path_);

    while (!quit_) {
        const SteadyClock::time_point now = SteadyClock::now();
        if (drain_started_) CheckDrained(now);
        while (!delayed_.empty() && delayed_.front().first <= now) {
            if (terminal_ >= 0) Queue(delayed_.front().second);
            delayed_.pop_front();
        }
        // Topped up while little is queued, so the output never grows without bound.
        if (!endless_line_.empty() && terminal_ >= 0 && now >= next_endless_ && out_.size() < 4096) {
            Queue(endless_line_);
            next_endless_ = now + std::chrono::milliseconds(faults_.endless_gap_ms());
        }
        if (replug_at_ && now >= *replug_at_) {
            replug_at_.reset();
            if (OpenPty()) Say("pty " + slave_path_);
        }
        int timeout_ms = -1;
        const bool want_write = terminal_ >= 0 && !out_.empty() && !drain_started_;
        const bool write_now = want_write && now >= next_write_;
        auto until = [&](SteadyClock::time_point t) {
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(t - now).count();
            const int clamped = static_cast<int>(std::clamp<long long>(ms, 0, 60000));
            timeout_ms = timeout_ms < 0 ? clamped : std::min(timeout_ms, clamped);
        };
        if (want_write && !write_now) until(next_write_);
        if (replug_at_) until(*replug_at_);
        if (drain_started_) until(now + std::chrono::milliseconds(2));
        if (!delayed_.empty()) until(delayed_.front().first);
        if (!endless_line_.empty() && terminal_ >= 0 && out_.size() < 4096) until(next_endless_);

        pollfd fds[5];
        int nfds = 0;
        fds[nfds++] = {g_signal_pipe[0], POLLIN, 0};
        const int terminal_slot = terminal_ >= 0 ? nfds : -1;
        if (terminal_ >= 0)
            fds[nfds++] = {terminal_, static_cast<short>(POLLIN | (write_now ? POLLOUT : 0)), 0};
        const int watch_slot = close_watch_ >= 0 ? nfds : -1;
        if (close_watch_ >= 0) fds[nfds++] = {close_watch_, POLLIN, 0};
        const int control_slot = control_fd_ >= 0 ? nfds : -1;
        if (control_fd_ >= 0) fds[nfds++] = {control_fd_, POLLIN, 0};
        const int stdin_slot = watch_stdin_ ? nfds : -1;
        if (watch_stdin_) fds[nfds++] = {STDIN_FILENO, POLLIN, 0};

        if (poll(fds, static_cast<nfds_t>(nfds), timeout_ms) < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "korvel-sim: poll failed: %s\n", std::strerror(errno));
            status_ = 1;
            break;
        }
        if (fds[0].revents) break;  // SIGTERM or SIGINT
        if (terminal_slot >= 0) {
            if (fds[terminal_slot].revents & (POLLIN | POLLHUP | POLLERR)) OnTerminalReadable();
            if (terminal_ >= 0 && (fds[terminal_slot].revents & POLLOUT)) WriteSome();
        }
        // Before control commands, so a control answer proves that an earlier close was seen.
        if (watch_slot >= 0 && (fds[watch_slot].revents & POLLIN)) OnClientClosed();
        if (control_slot >= 0 && control_fd_ >= 0 && (fds[control_slot].revents & (POLLIN | POLLHUP)))
            OnControlReadable();
        if (stdin_slot >= 0 && (fds[stdin_slot].revents & (POLLIN | POLLHUP))) {
            char buf[256];
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) quit_ = true;
        }
    }

    RemoveLink();
    CloseFd(close_watch_);
    CloseFd(keepalive_);
    CloseFd(terminal_);
    CloseFd(control_writer_);
    if (control_fd_ > STDIN_FILENO) CloseFd(control_fd_);
    if (created_fifo_) unlink(options_.control_path.c_str());
    CloseFd(log_fd_);
    return status_;
}

}  // namespace

int RunDevice(Recorder& recorder, FaultPlan& faults, const DeviceOptions& options) {
    Device device(recorder, faults, options);
    return device.Run();
}

}  // namespace korvel::sim
