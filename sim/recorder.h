// SPDX-License-Identifier: MIT
// The simulated recorder's device model: the record ring, the device clock and the answers to the
// commands of the wire protocol. No I/O here, so it can be tested without a terminal.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "protocol/record_index.h"
#include "sim/sim_random.h"

namespace korvel::sim {

constexpr int kMaxRecords = kRingSize - 1;              // the slot at the tail never holds a record
constexpr int64_t kRecordInterval = kSecondsPerRecord;  // seconds of device time between two records

// Device times are civil date-times without a zone, counted in seconds from 1970-01-01 00:00:00.
std::optional<int64_t> ParseDeviceTime(std::string_view text);  // "YYYY-MM-DD hh:mm:ss", strict
std::string FormatDeviceTime(int64_t seconds);

struct RecorderConfig {
    int records = 3000;  // 0 .. kMaxRecords
    int head = -1;       // ring index of the newest record; -1 puts it at `records` (oldest at index 1)
    int protocol = 2;
    std::string product = "1234";
    std::string firmware1 = "KVR";
    std::string firmware3 = "V3.1";
    int64_t clock = 0;  // device clock at start (see ParseDeviceTime)
    uint64_t seed = 1;
    double corrupt_crc = 0.0;  // share of record lines sent with a wrong checksum
    bool info_crc = false;     // checksum suffix on the information line as well (protocol >= 1)
    int max_batch = 0;         // most records in one get2 reply (0: as many as asked for)
};

class Recorder {
  public:
    explicit Recorder(const RecorderConfig& config);

    // Answers one command line (its LF already removed; CRs are ignored). `elapsed` is the time in
    // seconds since the device started, which drives its clock. Returns the reply lines without line
    // ends, the closing empty line included; an empty result means no reply (a blank command line).
    std::vector<std::string> Handle(std::string_view line, double elapsed);

    // Stores `count` new records behind the newest one; when the ring is full the oldest go.
    void AddRecords(int count);
    void SetClock(int64_t device_time, double elapsed);
    int64_t DeviceNow(double elapsed) const;

    int head() const { return head_; }
    int tail() const { return tail_; }
    int count() const { return (head_ - tail_) & kIndexMask; }
    int protocol() const { return config_.protocol; }
    bool HasRecord(int index) const;

    // The record at `index` as the device sends it, without checksum suffix; empty when there is none.
    std::string RecordText(int index) const;
    std::string InfoText(double elapsed) const;  // the information line, without checksum suffix

  private:
    std::string RecordLine(int index);  // with the suffix (maybe corrupted) at protocol >= 1
    std::string ValueText(int64_t seq) const;
    void AnswerGet(std::string_view arg, std::vector<std::string>& out);
    void AnswerGet2(std::string_view first, std::string_view count, std::vector<std::string>& out);

    RecorderConfig config_;
    std::vector<int64_t> slots_;  // sequence number of the record in each slot, -1 when empty
    int head_ = 0;
    int tail_ = 0;
    int64_t next_seq_ = 0;
    int64_t first_time_ = 0;  // device time of the record with sequence number 0
    // Clock set-backs: from this sequence number on, records are stamped this many seconds earlier.
    std::vector<std::pair<int64_t, int64_t>> set_backs_;
    int64_t RecordTime(int64_t seq) const;
    int64_t clock_base_ = 0;  // device time at `clock_elapsed_`
    double clock_elapsed_ = 0;
    SplitMix corrupt_rng_;
};

}  // namespace korvel::sim
