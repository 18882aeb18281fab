// SPDX-License-Identifier: MIT
#include "sim/faults.h"

namespace korvel::sim {
namespace {

// Messages a recorder might volunteer; some in Chinese, as the operators read them.
constexpr const char* kMessages[] = {
    "#BOOT OK", "#超速报警 6.20", "#闸门打开", "#BATTERY 3.61V", "#card full soon", "#时钟已校准",
};

}  // namespace

FaultPlan::FaultPlan(const FaultConfig& config)
    : config_(config),
      drop_rng_(config.seed ^ 0xD509ull),
      message_rng_(config.seed ^ 0x3E55A6Eull),
      garbage_rng_(config.seed ^ 0x6A5BA6Eull),
      stalled_(config.stall) {}

bool FaultPlan::Answers() {
    ++commands_;
    if (stalled_) return false;
    if (config_.stall_after >= 0 && commands_ > config_.stall_after) return false;
    return !drop_rng_.Chance(config_.drop_replies);
}

void FaultPlan::AppendLine(std::string& out, const std::string& line) const {
    out += line;
    out += config_.crlf ? "\r\n" : "\n";
}

std::string FaultPlan::Message() {
    return kMessages[message_rng_.Below(sizeof kMessages / sizeof kMessages[0])];
}

std::string FaultPlan::Garbage() {
    std::string line = "#";
    if (garbage_rng_.Below(2) == 0) {
        // Longer than any line buffer of the host: 600 to 1399 bytes.
        const size_t length = 600 + garbage_rng_.Below(800);
        while (line.size() < length) line.push_back(static_cast<char>('A' + garbage_rng_.Below(26)));
    } else {
        // Stray continuation bytes, a truncated sequence, an overlong encoding, bytes never valid.
        line += "NOISE \x80\xBF \xE4\xB8 \xC0\xAF \xFE\xFF \xED\xA0\x80 end";
    }
    return line;
}

std::string FaultPlan::EndlessStart(const std::vector<std::string>& lines) const {
    std::string out;
    if (config_.endless && commands_ > config_.endless_after && !lines.empty())
        AppendLine(out, lines.front());
    return out;
}

std::string FaultPlan::EndlessLine(const std::vector<std::string>& lines) const {
    std::string out;
    if (config_.endless) AppendLine(out, lines.size() > 2 ? lines[1] : "0");
    return out;
}

std::string FaultPlan::Encode(const std::vector<std::string>& lines) {
    std::string out;
    if (garbage_rng_.Chance(config_.overlong)) AppendLine(out, Garbage());
    for (const std::string& line : lines) {
        if (message_rng_.Chance(config_.messages)) AppendLine(out, Message());
        AppendLine(out, line);
    }
    return out;
}

}  // namespace korvel::sim
