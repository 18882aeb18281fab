// SPDX-License-Identifier: MIT
// The ledger's cost per download beyond hashing the file: the entry appended to a ledger that already
// holds 10,000 (opened, locked, its last entry read, the line written and flushed to the disk), with the
// file's records read for their first and last key and count, minus the file's SHA-256 alone.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "ledger/ledger.h"
#include "platform/sha256.h"
#include "protocol/crc16.h"

namespace korvel {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A record file of 1,000 lines, as a download of product 815 saves it.
std::string RecordFileBytes() {
    std::string bytes;
    for (int i = 0; i < 1000; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "2022-07-%02d %02d:%02d:%02d+08:00 %d 0815", 1 + i / 1440,
                      i / 60 % 24, i % 60, i % 60, i % 600);
        char line[80];
        std::snprintf(line, sizeof line, "%s %04x\n", text, Crc16(std::string(text)));
        bytes += line;
    }
    return bytes;
}

void BM_LedgerEntryBeyondHashing(benchmark::State& state) {
    std::string folder = (std::filesystem::temp_directory_path() / "korvel-bench-ledger-XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string name = "220701-000000-815-32f.txt";
    std::ofstream(folder + "/" + name, std::ios::binary) << RecordFileBytes();
    // A ledger of 10,000 entries already: one appended, then its line copied, as only the last entry is
    // read by an append.
    if (const Failure failure = AppendLedgerEntry(folder, name, 815)) {
        state.SkipWithError(failure.message.c_str());
        return;
    }
    {
        std::ifstream in(LedgerPath(folder), std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        const std::string entry = text.substr(text.find('\n') + 1);
        std::ofstream out(LedgerPath(folder), std::ios::binary | std::ios::app);
        for (int i = 1; i < 10000; ++i) out << entry;
    }
    const std::string path = folder + "/" + name;
    for (auto _ : state) {
        const auto start = SteadyClock::now();
        std::string hex;
        benchmark::DoNotOptimize(Sha256File(path, hex));
        const auto hashed = SteadyClock::now();
        const Failure failure = AppendLedgerEntry(folder, name, 815);
        const auto appended = SteadyClock::now();
        if (failure) {
            state.SkipWithError(failure.message.c_str());
            break;
        }
        // The append hashes the file itself: what it costs beyond that hash.
        state.SetIterationTime(std::chrono::duration<double>((appended - hashed) - (hashed - start)).count());
    }
    state.SetLabel("<= 5 ms");
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_LedgerEntryBeyondHashing)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace
}  // namespace korvel
