// SPDX-License-Identifier: MIT
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "protocol/checked_line.h"
#include "protocol/line_assembler.h"

namespace {

// Takes the lines as the exchange would, in the middle of a record reply, with the checksum test on.
class CountingSink : public korvel::LineSink {
  public:
    int Protocol() const override { return 2; }
    int ReplyLines() const override { return 1; }
    const std::u16string& Command() const override { return command_; }
    void OnDeviceMessage(std::u16string text) override { benchmark::DoNotOptimize(text.data()); }
    void OnChecksumError() override { ++errors; }
    void OnReplyLine(std::u16string line) override {
        benchmark::DoNotOptimize(line.data());
        ++lines;
    }
    long lines = 0;
    long errors = 0;

  private:
    std::u16string command_ = u"get";
};

// Record lines as the device sends them: "2022-07-30 10:15:42 125 0123 5 cba8".
std::string RecordStream(int count) {
    std::string stream;
    for (int i = 0; i < count; ++i) {
        char payload[64];
        std::snprintf(payload, sizeof payload, "2022-07-30 %02d:%02d:%02d %d 0123 %d", (i / 3600) % 24,
                      (i / 60) % 60, i % 60, 100 + i % 400, i % 32768);
        stream += korvel::WithChecksum(payload) + "\n";
    }
    return stream;
}

void BM_FramingRecordLines(benchmark::State& state) {
    const std::string stream = RecordStream(10000);
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data());
    const size_t chunk = 255;  // the reader hands over at most 255 bytes at a time
    CountingSink sink;
    korvel::LineAssembler assembler;
    for (auto _ : state) {
        for (size_t at = 0; at < stream.size(); at += chunk) {
            const size_t n = std::min(chunk, stream.size() - at);
            assembler.AssembleLines(bytes + at, static_cast<int>(n), sink);
        }
    }
    if (sink.errors != 0) state.SkipWithError("record lines failed their checksum");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
    state.SetLabel(">= 100 MB/s");  // the goal, shown in the table of scripts/bench
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(sink.lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FramingRecordLines);

}  // namespace
