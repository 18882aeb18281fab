// SPDX-License-Identifier: MIT
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "protocol/crc16.h"

namespace {

void BM_Crc16(benchmark::State& state) {
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
    std::mt19937 rng(1);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    for (auto _ : state) {
        benchmark::DoNotOptimize(korvel::Crc16(data.data(), static_cast<int32_t>(data.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
    state.SetLabel(">= 400 MB/s");  // the goal, shown in the table of scripts/bench
}
// 34 bytes: the payload of one record line; 64 KiB: a whole record file.
BENCHMARK(BM_Crc16)->Arg(34)->Arg(65536);

}  // namespace
