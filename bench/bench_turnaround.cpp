// SPDX-License-Identifier: MIT
// Request/reply turnaround through the whole receive path: the write, a device answering on a pty, the
// reader thread, and the hand-over to the user-interface loop.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/event_loop.h"
#include "serial/port.h"

namespace {

using namespace std::chrono_literals;
constexpr size_t kRequest = 16;
constexpr size_t kReply = 64;
constexpr int kTurnarounds = 3000;

// Answers every 16-byte request with 64 bytes, until stop is signalled.
void Device(int master, int stop) {
    std::vector<uint8_t> reply(kReply, 'r');
    size_t have = 0;
    for (;;) {
        pollfd fds[2] = {{master, POLLIN, 0}, {stop, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || fds[1].revents) return;
        uint8_t buf[256];
        ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) continue;
        have += static_cast<size_t>(n);
        while (have >= kRequest) {
            have -= kRequest;
            [[maybe_unused]] ssize_t w = ::write(master, reply.data(), reply.size());
        }
    }
}

void BM_RequestReplyTurnaround(benchmark::State& state) {
    int master = -1, slave = -1;
    char name[256] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    korvel::Failure failure;
    auto port = korvel::OpenSerialPort(name, 115200, failure);
    if (!port) {
        state.SkipWithError(failure.message.c_str());
        return;
    }
    const int stop = ::eventfd(0, EFD_CLOEXEC);
    std::thread device(Device, master, stop);

    state.SetLabel("<= 100 us");  // the goal, shown in the table of scripts/bench
    korvel::EventLoop loop;
    size_t received = 0;
    port->StartReader(
        loop.Poster(), [&](const uint8_t*, int count) { received += static_cast<size_t>(count); }, [] {});
    const std::vector<uint8_t> request(kRequest, 'q');
    std::vector<double> micros;
    // One iteration of many turnarounds whose figure is their median, so the table checks the goal on it.
    for (auto _ : state) {
        micros.clear();
        for (int i = 0; i < kTurnarounds; ++i) {
            received = 0;
            const auto start = std::chrono::steady_clock::now();
            port->Write(request.data(), request.size(), 4);
            if (!loop.RunUntil([&] { return received >= kReply; }, 5s)) break;
            micros.push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        }
        if (micros.size() != static_cast<size_t>(kTurnarounds)) {
            state.SkipWithError("the device did not answer");
            break;
        }
        std::sort(micros.begin(), micros.end());
        state.SetIterationTime(micros[micros.size() / 2] / 1e6);
    }
    port->Close();
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t w = ::write(stop, &one, sizeof one);
    device.join();
    ::close(stop);
    ::close(master);
    ::close(slave);

    if (micros.size() != static_cast<size_t>(kTurnarounds)) return;
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[std::min(micros.size() - 1, micros.size() * 99 / 100)];
}
BENCHMARK(BM_RequestReplyTurnaround)->Iterations(1)->Unit(benchmark::kMicrosecond)->UseManualTime();

}  // namespace
