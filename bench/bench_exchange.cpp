// SPDX-License-Identifier: MIT
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "platform/clock.h"
#include "protocol/checked_line.h"
#include "serial/serial_link.h"
#include "ui/korvel_dlg.h"
#include "ui/memory_window.h"

namespace {

class NoPorts : public korvel::PortEnumerator {
  public:
    std::vector<std::u16string> List() override { return {}; }
};

// A batch reply as the device sends it: "OK", 100 checksummed record lines newest first, the empty line.
std::string BatchReply(int newest) {
    std::string reply = "OK\n";
    for (int i = 0; i < 100; ++i) {
        const int index = newest - i;
        char payload[64];
        std::snprintf(payload, sizeof payload, "2022-07-30 %02d:%02d:%02d %d 0123 %d", (index / 3600) % 24,
                      (index / 60) % 60, index % 60, 100 + index % 400, index);
        reply += korvel::WithChecksum(payload) + "\n";
    }
    return reply + "\n";
}

// One reply of a download, from the received bytes to the stored records and the next request: framing,
// checksum, the exchange's token split, the records and the walk's step.
void BM_BatchReplyThroughTheDialog(benchmark::State& state) {
    korvel::MemoryWindow window;
    korvel::FixedClock clock;
    NoPorts ports;
    korvel::SerialLink link([](const std::string&, uint32_t, korvel::Failure&) { return nullptr; });
    korvel::CKorvelDlg dlg(window, link, clock, ports);
    dlg.m_strUtcOffset = u"+08:00";
    dlg.m_strProductNo = u"123";
    dlg.m_nProtocol = 2;
    dlg.m_nHeadIndex = 30000;
    dlg.m_nTailIndex = 0;
    const std::string reply = BatchReply(dlg.m_nHeadIndex);
    const auto* bytes = reinterpret_cast<const uint8_t*>(reply.data());
    const uint32_t errors_before = dlg.m_nCrcErrors;
    for (auto _ : state) {
        dlg.m_recordBuffer.clear();
        dlg.m_nReadIndex = dlg.m_nHeadIndex;
        // A fresh batch whose top is the newest record, as the walk starts one.
        dlg.m_batch = korvel::RecordBatch{};
        dlg.m_batch.top = dlg.m_nHeadIndex;
        dlg.m_strCommand = u"get";
        dlg.SendCommand();
        for (size_t at = 0; at < reply.size(); at += 255) {
            const size_t n = std::min<size_t>(255, reply.size() - at);
            dlg.OnSerialData(bytes + at, static_cast<int>(n));
        }
    }
    if (dlg.m_nCrcErrors != errors_before || dlg.m_recordBuffer.size() != 100)
        state.SkipWithError("the reply was not taken whole");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
    state.SetLabel(">= 2000 replies/s");  // 100 records each; the line itself carries under 3 per second
    state.counters["replies/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_BatchReplyThroughTheDialog);

}  // namespace
