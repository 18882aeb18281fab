// SPDX-License-Identifier: MIT
// The download walk against a device that the input steers: it answers, damages a line, answers late,
// refuses, stays silent or talks in between. The device's records are a fixed function of their index,
// so the file the walk writes can be checked line by line: every line holds its checksum, comes from
// the device unchanged, and the keys rise strictly (no record twice, none out of order). A record left
// out is allowed only when the walk says it skipped some.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "protocol/record_index.h"
#include "text/utf8.h"

using korvel::fuzz::Check;

namespace {

constexpr int64_t kFirstRecord = 1700000000;  // the oldest record's time
constexpr int kSecondsApart = 121;

// The device's records, made once per run: keys, lines as sent and lines as stored, by age (1 oldest).
struct Device {
    Device(int newest, int records)
        : head(newest), tail((newest - records) & korvel::kIndexMask), count(records) {
        for (int age = 0; age <= count; ++age) {
            const std::time_t t = static_cast<std::time_t>(kFirstRecord + int64_t{age} * kSecondsApart);
            std::tm tm{};
            gmtime_r(&t, &tm);
            char date[16], time[16];
            std::snprintf(date, sizeof date, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
            std::snprintf(time, sizeof time, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
            const std::string value = std::to_string(age % 97) + ".5 1234";
            const int index = (tail + age) & korvel::kIndexMask;
            const std::string sent =
                std::string(date) + " " + time + " " + value + " " + std::to_string(index);
            const std::string stored = std::string(date) + " " + time + "+08:00 " + value;
            char crc[8];
            std::snprintf(crc, sizeof crc, " %04X", korvel::fuzz::ModbusCrc(sent));
            lines.push_back(sent + crc);
            std::snprintf(crc, sizeof crc, " %04x", korvel::fuzz::ModbusCrc(stored));
            stored_lines.push_back(stored + crc);
            keys.push_back(std::string(date) + " " + time);
            ages_by_key[keys.back()] = age;
        }
    }
    int Age(int i) const { return korvel::RingDistance(tail, i); }
    const std::string& Key(int i) const { return keys[static_cast<size_t>(Age(i))]; }
    const std::string& Line(int i) const { return lines[static_cast<size_t>(Age(i))]; }

    int head, tail, count;
    std::vector<std::string> keys, lines, stored_lines;
    std::map<std::string, int> ages_by_key;
};

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    unsigned Byte() { return at_ < size_ ? data_[at_++] : 0; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    Input in(data, size);
    korvel::fuzz::Bench bench;
    korvel::CKorvelDlg& d = bench.dlg;
    const unsigned setup = in.Byte();
    const int head = static_cast<int>((in.Byte() << 8 | in.Byte()) & korvel::kIndexMask);
    const int count = 1 + static_cast<int>(in.Byte() % 48);
    const Device device(head, count);

    d.m_strUploadDir = korvel::Utf8ToWide(korvel::fuzz::ScratchFolder());
    d.m_strProductNo = u"1234";
    d.m_nProtocol = 1 + (setup & 1);
    d.m_nHeadIndex = device.head;
    d.m_nTailIndex = device.tail;
    d.OnReadData();
    Check(d.m_strCommand == u"get");

    // The saved files' newest key: none, a record's key, or one between two records.
    const unsigned saved = in.Byte();
    int saved_index = -1;
    if (setup & 6) {
        saved_index =
            (device.head - static_cast<int>(saved % static_cast<unsigned>(count))) & korvel::kIndexMask;
        std::string key = device.Key(saved_index);
        if (setup & 8) key[18] = static_cast<char>(key[18] == '9' ? '8' : key[18] + 1);  // a second later
        d.m_strLastSaved = korvel::Utf8ToWide(key);
    }

    int asked_before = -1;
    for (int step = 0; step < 400 && d.m_strCommand == u"get"; ++step) {
        const int asked = d.m_nReadIndex & korvel::kIndexMask;
        const int batch = d.m_nProtocol < 2 ? 1 : std::min(100, korvel::RingDistance(device.tail, asked));
        const unsigned action = in.Empty() ? 0 : in.Byte();
        std::string reply = "OK\n";
        switch (action % 8) {
            case 3: {  // one line damaged
                const int bad = static_cast<int>(in.Byte() % static_cast<unsigned>(std::max(batch, 1)));
                for (int k = 0; k < batch; ++k) {
                    std::string line = device.Line((asked - k) & korvel::kIndexMask);
                    if (k == bad) line[0] = '3';
                    reply += line + "\n";
                }
                break;
            }
            case 4:  // silence until the timeout repeats the request
                for (int t = 0; t < 3; ++t) d.TickReplyTimeout();
                continue;
            case 5:  // the answer to the request before, come late
                if (asked_before >= 0) {
                    reply += device.Line(asked_before) + "\n";
                    break;
                }
                [[fallthrough]];
            case 6:  // refused
                reply = "ERR busy\n";
                break;
            case 7:  // a device message before the answer
                reply = "#note " + std::to_string(action) + "\nOK\n";
                [[fallthrough]];
            default:
                for (int k = 0; k < batch; ++k) reply += device.Line((asked - k) & korvel::kIndexMask) + "\n";
        }
        asked_before = asked;
        bench.Receive(reply + "\n");
    }
    if (d.m_strCommand == u"get") return 0;  // the walk did not end within the steps given: nothing written

    std::ifstream file(korvel::fuzz::ScratchFolder() + "/" + korvel::WideToUtf8(d.m_strFileName),
                       std::ios::binary);
    Check(static_cast<bool>(file));
    const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    Check(content.empty() || content.back() == '\n');

    // Each line is one of the device's records, stored as it came; keys rise strictly.
    std::set<int> ages;
    std::string previous;
    for (std::string_view line : korvel::fuzz::Lines(content)) {
        Check(korvel::fuzz::HasValidChecksum(line));
        const std::string key = std::string(line.substr(0, 19));
        Check(previous.empty() || key > previous);
        previous = key;
        const auto age = device.ages_by_key.find(key);
        Check(age != device.ages_by_key.end() && age->second >= 1);
        Check(device.stored_lines[static_cast<size_t>(age->second)] == line);
        ages.insert(age->second);
    }
    // The walk stops at the saved record (kept again as the file's first line); a saved key that no
    // record has stops nothing. Nothing older is stored, and nothing newer silently lost: every record is
    // there unless the walk reported skipped ones.
    // (When the saved record itself was given up, the walk cannot see where to stop and goes on to the
    // stop index: older records are stored again, which the skip report accounts for.)
    const int oldest = saved_index >= 0 && !(setup & 8) ? device.Age(saved_index) : 1;
    if (d.m_skippedIndices.empty()) {
        if (!ages.empty()) Check(*ages.begin() >= oldest);
        for (int age = oldest; age <= count; ++age) Check(ages.count(age) == 1);
    }
    korvel::fuzz::ClearScratchFolder();
    return 0;
}
