// SPDX-License-Identifier: MIT
// The simulated recorder over a pseudo-terminal, driven by a plain client: what a download can reach
// on this machine at best, the baseline for the serial layer's and the engine's own figures.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "support/pty.h"
#include "support/sim_process.h"

namespace {

using korvel::testing::Exchange;
using korvel::testing::SimProcess;
using korvel::testing::TtyReader;
using korvel::testing::UniqueFd;

struct Client {
    SimProcess sim;
    UniqueFd fd;
    std::string error;

    bool Start(const std::vector<std::string>& args) {
        if (!sim.Start(args)) {
            error = sim.error();
            return false;
        }
        fd = sim.Connect(&error);
        return fd.valid();
    }
};

void BM_SimInfoRoundTrip(benchmark::State& state) {
    Client c;
    if (!c.Start({"--records", "3000"})) return state.SkipWithError(c.error.c_str());
    TtyReader reader(c.fd.get());
    for (auto _ : state) {
        if (!Exchange(c.fd.get(), reader, "info")) return state.SkipWithError("no reply to info");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SimInfoRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Rates are per wall-clock second: the time goes in waiting for the other process.
// Fetches every record once per iteration: "get2 N -100" at protocol 2, "get N" at protocol 1.
void BM_SimDownload(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    const int protocol = static_cast<int>(state.range(1));
    Client c;
    if (!c.Start({"--records", std::to_string(records), "--protocol", std::to_string(protocol)}))
        return state.SkipWithError(c.error.c_str());
    TtyReader reader(c.fd.get());
    for (auto _ : state) {
        for (int index = records; index > 0;) {
            const int k = protocol >= 2 ? std::min(100, index) : 1;
            const std::string request = protocol >= 2
                                            ? "get2 " + std::to_string(index) + " -" + std::to_string(k)
                                            : "get " + std::to_string(index);
            const auto reply = Exchange(c.fd.get(), reader, request);
            if (!reply || reply->size() != static_cast<size_t>(k) + 1)
                return state.SkipWithError(("bad reply to " + request).c_str());
            index -= k;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(reader.bytes_read()));
    state.counters["records/s"] = benchmark::Counter(
        static_cast<double>(records) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SimDownload)->Args({32767, 2})->Args({1000, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
