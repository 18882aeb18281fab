// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <filesystem>

#include "serial/sysfs_ports.h"
#include "system.h"

namespace korvel::cli {

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return {argv, argv + argc}; }

void BinaryStandardOutput() {}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

std::string EraseProgressLine(size_t) { return "\r\x1b[K"; }

SystemPortList SystemPorts() {
    bool readable = true;
    SystemPortList list{SysfsPortEnumerator().Paths(&readable), {}};
    if (!readable)
        list.failure = {FailureKind::Other,
                        "the system's list of serial ports (/sys/class/tty) cannot be read: check that sysfs "
                        "is mounted and readable"};
    return list;
}

std::string AbsoluteFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(folder, error).lexically_normal();
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

std::string PortOptionHelp() { return "the serial port's device path, e.g. /dev/ttyUSB0"; }

std::optional<std::string> HomeFolderVariable() {
    const char* home = getenv("HOME");
    if (!home) return std::nullopt;
    return std::string(home);
}

std::string UploadFolderHint() { return "~/hollin.data/upload"; }

// Blocked before the reader threads start, so they inherit the mask and the signals come only through
// the descriptor.
InterruptWatch::InterruptWatch(EventLoop& loop, std::function<void()> on_interrupt) : loop_(loop) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
    fd_ = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) {
        pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
        return;
    }
    loop_.WatchFd(fd_, [this, on_interrupt = std::move(on_interrupt)] {
        signalfd_siginfo info;
        while (read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) on_interrupt();
    });
}

namespace {

sigset_t InterruptSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    return signals;
}

void EndAtOnce(int) {
    static constexpr char kText[] = "korvel-cli: interrupted\n";
    [[maybe_unused]] ssize_t n = write(STDERR_FILENO, kText, sizeof kText - 1);
    _exit(130);
}

}  // namespace

InterruptWatch::Immediate::Immediate(InterruptWatch& watch) {
    if (watch.fd_ < 0) return;  // the signals were never blocked: they end the process as usual
    struct sigaction action {};
    action.sa_handler = EndAtOnce;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    // The other threads keep the signals blocked, so a pending or new one is taken here.
    const sigset_t signals = InterruptSignals();
    armed_ = pthread_sigmask(SIG_UNBLOCK, &signals, nullptr) == 0;
}

InterruptWatch::Immediate::~Immediate() {
    if (!armed_) return;
    const sigset_t signals = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

InterruptWatch::~InterruptWatch() {
    if (fd_ < 0) return;
    loop_.UnwatchFd(fd_);
    close(fd_);
}

}  // namespace korvel::cli
