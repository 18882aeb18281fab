// SPDX-License-Identifier: MIT
// KORVEL_BENCH_BRIEF=1 (scripts/bench --brief, as CI runs it): every benchmark once and short, to show
// that it still runs. The benchmarks that fix their own rounds, time or size take the brief ones here.
#pragma once

#include <cstdlib>
#include <string_view>

namespace korvel {

inline bool BriefRun() {
    const char* brief = std::getenv("KORVEL_BENCH_BRIEF");
    return brief && *brief && std::string_view(brief) != "0";
}

}  // namespace korvel
