// SPDX-License-Identifier: MIT
// What the command line needs from the operating system besides the port: one file per OS.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/event_loop.h"

namespace korvel::cli {

// The arguments as UTF-8, whatever the system hands a program; also makes the console show UTF-8.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

bool StderrIsTerminal();

// The serial ports of this machine as --port takes them, in the dialog's order. *readable turns false
// when the system's list itself cannot be read.
std::vector<std::string> SystemPorts(bool* readable);

// What --port takes on this system, for the help text.
std::string PortOptionHelp();

// folder as an absolute path without a trailing separator.
std::string AbsoluteFolder(const std::string& folder);

// Where the operator creates the default upload folder, for the message that asks for it.
std::string UploadFolderHint();

// Why record files cannot be created in folder, or empty when they can. Tried with a real file, so
// read-only mounts and quotas count too, and root is not waved through by the permission bits.
std::string FolderProblem(const std::string& folder);

// The bytes an unprivileged writer may still put in folder's file system, or nothing when unknown.
std::optional<uint64_t> FreeSpace(const std::string& folder);

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
