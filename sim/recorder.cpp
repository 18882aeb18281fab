// SPDX-License-Identifier: MIT
#include "sim/recorder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "protocol/checked_line.h"
#include "text/civil_time.h"

namespace korvel::sim {
namespace {

// Reads exactly `width` decimal digits at `pos`.
bool Digits(std::string_view text, size_t pos, size_t width, unsigned& out) {
    if (pos + width > text.size()) return false;
    out = 0;
    for (size_t i = pos; i < pos + width; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        out = out * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

// A record index or count as the host writes it: decimal digits only, at most five of them.
std::optional<int> ParseNumber(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

constexpr char kUnknown[] = "ERR unknown command";

}  // namespace

std::optional<int64_t> ParseDeviceTime(std::string_view text) {
    // YYYY-MM-DD hh:mm:ss
    unsigned y, mo, d, h, mi, s;
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
        text[16] != ':')
        return std::nullopt;
    if (!Digits(text, 0, 4, y) || !Digits(text, 5, 2, mo) || !Digits(text, 8, 2, d) ||
        !Digits(text, 11, 2, h) || !Digits(text, 14, 2, mi) || !Digits(text, 17, 2, s))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 || mi > 59 || s > 59)
        return std::nullopt;
    return DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

std::string FormatDeviceTime(int64_t seconds) {
    const CivilTime c = CivilFromSeconds(seconds);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02u:%02u:%02u", static_cast<long long>(c.year), c.month,
                  c.day, c.hour, c.minute, c.second);
    return buf;
}

Recorder::Recorder(const RecorderConfig& config)
    : config_(config), slots_(kRingSize, -1), corrupt_rng_(config.seed ^ 0xC0AA0C7ull) {
    const int records = std::clamp(config.records, 0, kMaxRecords);
    const int head = config.head < 0 ? records : config.head & kIndexMask;
    head_ = tail_ = (head - records) & kIndexMask;
    clock_base_ = config.clock;
    // The newest record was taken a little before the device clock.
    const int64_t newest = config.clock - 1 - static_cast<int64_t>(Mix(config.seed, 7) % 120);
    first_time_ = newest - (records - 1) * kRecordInterval;
    AddRecords(records);
}

void Recorder::AddRecords(int count) {
    for (int i = 0; i < count; ++i) {
        head_ = (head_ + 1) & kIndexMask;
        if (head_ == tail_) {
            tail_ = (tail_ + 1) & kIndexMask;
            slots_[tail_] = -1;
        }
        slots_[head_] = next_seq_++;
    }
}

void Recorder::SetClock(int64_t device_time, double elapsed) {
    clock_base_ = device_time;
    clock_elapsed_ = elapsed;
    // A clock set back behind the newest record: the records made from now on carry the earlier times.
    if (next_seq_ > 0 && device_time < RecordTime(next_seq_ - 1))
        set_backs_.emplace_back(next_seq_, first_time_ + next_seq_ * kRecordInterval - device_time);
}

int64_t Recorder::RecordTime(int64_t seq) const {
    int64_t shift = 0;
    for (const auto& [from, back] : set_backs_)
        if (seq >= from) shift = back;
    return first_time_ + seq * kRecordInterval - shift;
}

int64_t Recorder::DeviceNow(double elapsed) const {
    return clock_base_ + static_cast<int64_t>(std::floor(elapsed - clock_elapsed_));
}

bool Recorder::HasRecord(int index) const {
    return index >= 0 && index < kRingSize && index != tail_ && slots_[index] >= 0;
}

std::string Recorder::ValueText(int64_t seq) const {
    // One winch run every 30 records: standstill, acceleration, cruise at a run-specific speed with a
    // little ripple, deceleration. Sent as a whole number of cm/s (125 is 1.25 m/s).
    const int64_t run = seq / 30;
    const int phase = static_cast<int>(seq % 30);
    const double cruise =
        1.5 + static_cast<double>(Mix(config_.seed, static_cast<uint64_t>(run)) % 451) / 100.0;
    double value = 0.0;
    if (phase < 4) {
        value = 0.0;
    } else if (phase < 9) {
        value = cruise * (phase - 3) / 6.0;
    } else if (phase < 25) {
        const int ripple = static_cast<int>(Mix(config_.seed ^ 0x5EED, static_cast<uint64_t>(seq)) % 21) - 10;
        value = cruise + ripple / 100.0;
    } else {
        value = cruise * (30 - phase) / 6.0;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld", std::lround(value * 100.0));
    return buf;
}

std::string Recorder::RecordText(int index) const {
    if (!HasRecord(index)) return {};
    const int64_t seq = slots_[index];
    return FormatDeviceTime(RecordTime(seq)) + " " + ValueText(seq) + " " + config_.product + " " +
           std::to_string(index);
}

std::string Recorder::RecordLine(int index) {
    std::string text = RecordText(index);
    if (config_.protocol < 1) return text;
    std::string line = WithChecksum(text);
    if (corrupt_rng_.Chance(config_.corrupt_crc)) {
        // Flip one hex digit of the suffix to another hex digit.
        char& digit = line[line.size() - 1 - corrupt_rng_.Below(4)];
        static constexpr char kHex[] = "0123456789abcdef";
        const char* at = std::find(kHex, kHex + 16, digit);
        digit = kHex[(at - kHex + 1 + static_cast<int>(corrupt_rng_.Below(15))) % 16];
    }
    return line;
}

std::string Recorder::InfoText(double elapsed) const {
    const std::string now = FormatDeviceTime(DeviceNow(elapsed));
    return config_.firmware1 + " " + std::to_string(config_.protocol) + " " + config_.firmware3 + " " +
           config_.product + " " + std::to_string(head_ + 1) + " " + std::to_string(tail_ + 1) + " " + now;
}

void Recorder::AnswerGet(std::string_view arg, std::vector<std::string>& out) {
    const std::optional<int> index = ParseNumber(arg);
    if (!index || *index >= kRingSize) {
        out = {"ERR bad index"};
        return;
    }
    out.push_back("OK");
    if (HasRecord(*index)) out.push_back(RecordLine(*index));
}

void Recorder::AnswerGet2(std::string_view first, std::string_view count, std::vector<std::string>& out) {
    const std::optional<int> index = ParseNumber(first);
    if (!count.empty() && count.front() == '-') count.remove_prefix(1);
    const std::optional<int> k = ParseNumber(count);
    if (!index || *index >= kRingSize || !k) {
        out = {"ERR bad index"};
        return;
    }
    out.push_back("OK");
    const size_t most = config_.max_batch > 0 ? static_cast<size_t>(config_.max_batch) + 1 : out.max_size();
    int i = *index;
    for (int steps = 0; steps < *k && i != tail_ && out.size() < most; ++steps, i = (i - 1) & kIndexMask)
        if (HasRecord(i)) out.push_back(RecordLine(i));
}

std::vector<std::string> Recorder::Handle(std::string_view line, double elapsed) {
    std::string clean;
    for (char c : line)
        if (c != '\r') clean.push_back(c);
    const std::vector<std::string_view> words = SplitWords(clean);
    if (words.empty()) return {};

    std::vector<std::string> out;
    const std::string_view cmd = words[0];
    if (cmd == "info" && words.size() == 1) {
        out.push_back("OK");
        const std::string info = InfoText(elapsed);
        out.push_back(config_.info_crc && config_.protocol >= 1 ? WithChecksum(info) : info);
    } else if (cmd == "get" && words.size() == 2) {
        AnswerGet(words[1], out);
    } else if (cmd == "get2" && words.size() == 3) {
        AnswerGet2(words[1], words[2], out);
    } else if (cmd == "time") {
        // The rest of the line, as the host writes it: "time YYYY-MM-DD hh:mm:ss".
        const size_t at = clean.find("time") + 4;
        std::string_view rest = std::string_view(clean).substr(at);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        while (!rest.empty() && rest.back() == ' ') rest.remove_suffix(1);
        if (const std::optional<int64_t> t = ParseDeviceTime(rest)) {
            SetClock(*t, elapsed);
            out.push_back("OK");
        } else {
            out.push_back("ERR bad time");
        }
    } else {
        out.push_back(kUnknown);
    }
    out.emplace_back();
    return out;
}

}  // namespace korvel::sim
