// SPDX-License-Identifier: MIT
// The faults of the wire that the simulated recorder can play, decided from a seed so that a run
// can be repeated exactly. Pacing, chunking and hang-up live with the terminal I/O.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_random.h"

namespace korvel::sim {

struct FaultConfig {
    uint64_t seed = 1;
    double drop_replies = 0.0;  // share of commands that get no reply at all
    bool stall = false;         // answer nothing
    long stall_after = -1;      // answer this many commands, then nothing (-1: no limit)
    double messages = 0.0;      // chance of a "#" device message before each reply line
    double overlong = 0.0;      // chance of a garbage device message (overlong or not UTF-8) per reply
    bool crlf = false;          // lines end in CR LF instead of LF
    bool endless = false;       // a reply never ends: its first body line is repeated for ever
    long endless_gap_ms = 0;    // pause between two repeated lines (0: as fast as the line takes them)
    long endless_after = 0;     // answer this many commands properly before the endless replies
};

class FaultPlan {
  public:
    explicit FaultPlan(const FaultConfig& config);

    // Called once for every command received; false when the device stays silent on it.
    bool Answers();
    // The bytes of a reply on the wire: line ends, device messages and garbage as configured.
    std::string Encode(const std::vector<std::string>& lines);

    // With the endless fault: the reply's first line, and the line then repeated for ever (the first body
    // line, or a stand-in when the reply has none). Otherwise empty.
    std::string EndlessStart(const std::vector<std::string>& lines) const;
    std::string EndlessLine(const std::vector<std::string>& lines) const;
    long endless_gap_ms() const { return config_.endless_gap_ms; }

    void SetStalled(bool stalled) { stalled_ = stalled; }
    bool stalled() const { return stalled_; }
    long commands() const { return commands_; }

  private:
    void AppendLine(std::string& out, const std::string& line) const;
    std::string Message();
    std::string Garbage();

    FaultConfig config_;
    SplitMix drop_rng_, message_rng_, garbage_rng_;
    bool stalled_ = false;
    long commands_ = 0;
};

}  // namespace korvel::sim
