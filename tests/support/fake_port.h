// SPDX-License-Identifier: MIT
// A serial port that lives in memory: the test decides whether it opens, sees every block written and
// DTR change, delivers received bytes and makes the device vanish. Single-threaded: everything runs on
// the test's thread, which plays the user-interface thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port.h"
#include "serial/port_enumerator.h"

namespace korvel::testing {

// What the fake ports of one test share; the opener hands out ports bound to it.
struct FakeDevice {
    // The next open attempts fail with this kind while it is not None (Absent: the device is gone).
    FailureKind refuse = FailureKind::None;
    std::string refuse_message = "the fake device refuses to open";
    bool reader_fails = false;  // StartReader reports that no thread could be started

    // What happened, in order: "open PATH BAUD" for every attempt, then for the n-th port opened
    // "reader n", "dtr+ n" / "dtr- n" (the dialog's own DTR calls) and "close n".
    std::vector<std::string> events;
    std::vector<std::string> writes;  // one entry per Write block
    std::vector<unsigned> write_timeouts;
    int open_attempts = 0;
    int opens = 0;
    int closes = 0;
    std::string path;  // of the last attempt
    uint32_t baud = 0;
    bool dtr = false;
    int dtr_drops = 0;

    // The port that is open now, if any.
    bool IsOpen() const { return open_; }
    std::string Written() const;  // every block, joined
    void ClearWrites() {
        writes.clear();
        write_timeouts.clear();
    }

    // Hands bytes to the reader's data handler in chunks of at most 255, as the reader would.
    // Does nothing while no reader runs.
    void Deliver(std::string_view bytes);
    // The device vanishes: the reader reports the loss once, and opens fail until refuse is reset.
    void Lose();

  private:
    friend class FakePort;
    friend PortOpener FakeOpener(std::shared_ptr<FakeDevice> device);
    bool open_ = false;
    UiPost post_;
    Port::DataHandler on_data_;
    Port::LostHandler on_lost_;
};

class FakePort : public Port {
  public:
    FakePort(std::shared_ptr<FakeDevice> device, int number)
        : device_(std::move(device)), number_(std::to_string(number)) {}
    ~FakePort() override { Close(); }
    bool StartReader(UiPost post, DataHandler on_data, LostHandler on_lost) override;
    void SetDtr(bool raised) override;
    void Write(const uint8_t* bytes, size_t length, unsigned timeout_ms) override;
    void Close() override;

  private:
    void SetLine(bool raised);

    std::shared_ptr<FakeDevice> device_;
    std::string number_;
    bool closed_ = false;
};

PortOpener FakeOpener(std::shared_ptr<FakeDevice> device);

// A fixed list of port names that the test may change between calls.
class FakePortList : public PortEnumerator {
  public:
    std::vector<std::u16string> names;
    bool unreadable = false;  // the system's list cannot be read
    int calls = 0;
    std::vector<std::u16string> List() override {
        ++calls;
        return names;
    }
    std::optional<std::vector<std::u16string>> Read() override {
        ++calls;
        if (unreadable) return std::nullopt;
        return names;
    }
};

// Runs a posted function at once: the test's thread is the user-interface thread.
UiPost ImmediatePost();

}  // namespace korvel::testing
