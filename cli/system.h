// SPDX-License-Identifier: MIT
// What the command line needs from the operating system besides the port: one file per OS.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/event_loop.h"
#include "text/file_system.h"  // FolderProblem, FreeSpace

namespace korvel::cli {

// The arguments as UTF-8, whatever the system hands a program. Also sets up std::cout and std::cerr: on
// Windows a console gets the text as UTF-16 (its code page stays as it was), a pipe or a file UTF-8.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// From here on standard output carries the bytes as written, line ends included (CSV, JSON, HTML): on
// Windows no CR is added before LF.
void BinaryStandardOutput();

bool StderrIsTerminal();

// What erases the progress line on standard error, `columns` cells wide, and returns to its start: an
// escape sequence for a terminal; spaces on a Windows console, which shows escape sequences as text.
std::string EraseProgressLine(size_t columns);

// The serial ports of this machine as --port takes them, in the dialog's order; when the system's list
// itself cannot be read, the failure says where the system keeps it and what to check.
struct SystemPortList {
    std::vector<std::string> ports;
    Failure failure;
};
SystemPortList SystemPorts();

// What --port takes on this system, for the help text.
std::string PortOptionHelp();

// folder as an absolute path without a trailing separator.
std::string AbsoluteFolder(const std::string& folder);

// The home folder as the environment names it, where it decides the upload folder (POSIX systems: HOME);
// nothing on Windows, where the profile folder comes from the system as UTF-16.
std::optional<std::string> HomeFolderVariable();

// Where the operator creates the default upload folder, for the message that asks for it.
std::string UploadFolderHint();

// Delivers Ctrl-C, SIGTERM and SIGHUP through the event loop instead of ending the process, so a running
// walk is stopped like the operator stops it. Created before any other thread starts.
class InterruptWatch {
  public:
    InterruptWatch(EventLoop& loop, std::function<void()> on_interrupt);
    ~InterruptWatch();

    // While one lives, an interrupt ends the process at once with exit status 130: for work that does
    // not return to the event loop. Only for the thread that made the watch.
    class Immediate {
      public:
        explicit Immediate(InterruptWatch& watch);
        ~Immediate();
        Immediate(const Immediate&) = delete;
        Immediate& operator=(const Immediate&) = delete;

      private:
        bool armed_ = false;
    };
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

  private:
    EventLoop& loop_;
    int fd_ = -1;
};

}  // namespace korvel::cli
