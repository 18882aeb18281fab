// SPDX-License-Identifier: MIT
// Plain-termios helpers for tests that talk to a terminal: open it raw, write and read with deadlines.
// Nothing here sleeps: every wait is a poll() with a timeout.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::testing {

// Generous: long enough for loaded sanitizer builds, short enough that a hang fails the test.
inline constexpr std::chrono::milliseconds kIoTimeout{10000};

// Owns a file descriptor and closes it.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// Opens a terminal (never a machine serial port: tests use pseudo-terminals) for reading and writing,
// non-blocking, raw 8N1 at 115200 bit/s, without becoming its controlling terminal. On failure the
// result is invalid and `error` (when given) says why.
UniqueFd OpenRawTty(const std::string& path, std::string* error = nullptr);

// Milliseconds until deadline for poll(): 0 once it has passed.
int MillisLeft(std::chrono::steady_clock::time_point deadline);

// Writes every byte, waiting while the terminal is full. False on error, hang-up or timeout.
bool WriteAll(int fd, std::string_view bytes, std::chrono::milliseconds timeout = kIoTimeout);

// A pseudo-terminal pair standing in for a serial device: the code under test opens slave_path, the
// test plays the device on master (raw, non-blocking). The slave stays open here, so the master sees no
// hang-up until the pair goes, and the slave's settings can still be read after the port's close.
class PtyPair {
  public:
    PtyPair();  // fails the test (ADD_FAILURE) and leaves master -1 when no pty can be had
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Closing the master is a hang-up for whoever has the slave open.
    void CloseMaster();

    // Writes everything (waiting for room as needed); false on error.
    bool WriteAll(const void* bytes, size_t length);
    bool WriteAll(std::string_view text) { return WriteAll(text.data(), text.size()); }
    // Reads exactly n bytes from the master, or what came before timeout.
    std::vector<uint8_t> Read(size_t n, std::chrono::milliseconds timeout);
    // Bytes waiting on the slave side, unread by the code under test.
    int SlaveQueued() const;

    int master = -1;
    int slave = -1;
    std::string slave_path;
};

// Open descriptors of this process.
int CountOpenFds();
// Threads of this process.
int CountThreads();

enum class ReadStatus { kOk, kTimeout, kHangup, kError };

// Buffered reading from one descriptor (not owned), with a deadline on every call.
class TtyReader {
  public:
    explicit TtyReader(int fd) : fd_(fd) {}

    // The next line without its LF; a CR before the LF is removed unless `keep_cr`.
    // nullopt on timeout, hang-up or error (see status()); the partial line stays in pending().
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = kIoTimeout, bool keep_cr = false);

    // A whole device reply: the first line and the body lines, without the closing empty line.
    // Device messages ("#" lines) are set aside in messages(). nullopt when the reply did not end in time.
    std::optional<std::vector<std::string>> ReadReply(std::chrono::milliseconds timeout = kIoTimeout);

    // Up to `count` bytes, as many as arrive before the deadline.
    std::string ReadBytes(size_t count, std::chrono::milliseconds timeout = kIoTimeout);

    // Reads whatever arrives until the deadline and returns it (for "nothing more comes" checks).
    std::string Drain(std::chrono::milliseconds quiet);

    // Discards input until the far side hangs up (POLLHUP, EIO or end of file). False at the deadline.
    bool WaitForHangup(std::chrono::milliseconds timeout = kIoTimeout);

    ReadStatus status() const { return status_; }
    const std::string& pending() const { return buffer_; }
    const std::vector<std::string>& messages() const { return messages_; }
    size_t bytes_read() const { return bytes_read_; }
    size_t reads() const { return reads_; }  // read() calls that returned data

  private:
    // One poll() and read(); appends to the buffer.
    ReadStatus Fill(std::chrono::steady_clock::time_point deadline);

    int fd_;
    std::string buffer_;
    std::vector<std::string> messages_;
    ReadStatus status_ = ReadStatus::kOk;
    size_t bytes_read_ = 0;
    size_t reads_ = 0;
};

// Sends `command` followed by LF and reads the reply (see TtyReader::ReadReply).
std::optional<std::vector<std::string>> Exchange(int fd, TtyReader& reader, std::string_view command,
                                                 std::chrono::milliseconds timeout = kIoTimeout);

}  // namespace korvel::testing
