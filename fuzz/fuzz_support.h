// SPDX-License-Identifier: MIT
// What the fuzz programs share: the invariant check, an independent checksum and key reader, and the
// dialog on a bench (remembering window, standing clock, no port).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "serial/port_enumerator.h"
#include "serial/serial_link.h"
#include "ui/korvel_dlg.h"
#include "ui/memory_window.h"

namespace korvel::fuzz {

// An invariant: a broken one names its line and ends the run, so libFuzzer keeps the input.
inline void Check(bool ok, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    if (ok) return;
    std::fprintf(stderr, "invariant broken at %s:%d\n", file, line);
    std::abort();
}

// CRC-16/MODBUS written out bit by bit, independent of the table the tool uses.
inline unsigned ModbusCrc(std::string_view bytes) {
    unsigned crc = 0xFFFF;
    for (unsigned char b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// A stored line (without its LF) holds its own checksum: "text xxxx", four lower-case hex digits.
inline bool HasValidChecksum(std::string_view line) {
    if (line.size() < 6 || line[line.size() - 5] != ' ') return false;
    static constexpr char kHex[] = "0123456789abcdef";
    const unsigned crc = ModbusCrc(line.substr(0, line.size() - 5));
    for (int i = 0; i < 4; ++i) {
        if (line[line.size() - 4 + static_cast<size_t>(i)] != kHex[(crc >> (12 - 4 * i)) & 0xF]) return false;
    }
    return true;
}

// Splits at LF; the last piece is kept only when it is not empty.
inline std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

class NoPorts : public PortEnumerator {
  public:
    std::vector<std::u16string> List() override { return {}; }
};

// The dialog with nothing behind it: commands go nowhere, replies are handed in by the fuzz program.
struct Bench {
    Bench() {
        clock.local = {2024, 3, 5, 7, 8, 9};
        clock.now = 1709622489;
        dlg.m_strUtcOffset = u"+08:00";
    }
    MemoryWindow window;
    FixedClock clock;
    NoPorts ports;
    SerialLink link;
    CKorvelDlg dlg{window, link, clock, ports};

    // Feeds the received stream in chunks of the given size, as the reader thread would.
    void Receive(const uint8_t* data, size_t size, size_t chunk) {
        for (size_t at = 0; at < size; at += chunk) {
            const size_t n = size - at < chunk ? size - at : chunk;
            dlg.OnSerialData(data + at, static_cast<int>(n));
        }
    }
    void Receive(std::string_view bytes) {
        Receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 255);
    }
};

// A private folder in memory-backed storage for the files the walk writes.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        const char* shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string path = std::string(shm) + "/korvel-fuzz-" + std::to_string(getpid());
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

// Empties the scratch folder: saves take the next free name, so files would pile up across runs.
inline void ClearScratchFolder() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder(), error))
        std::filesystem::remove_all(entry.path(), error);
}

// A file in memory with the given bytes, reachable by path while the object lives.
class MemoryFile {
  public:
    explicit MemoryFile(std::string_view bytes) : fd_(memfd_create("korvel-fuzz", 0)) {
        Check(fd_ >= 0);
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = write(fd_, bytes.data() + at, bytes.size() - at);
            Check(n > 0);
            at += static_cast<size_t>(n);
        }
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::string Path() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_;
};

}  // namespace korvel::fuzz
