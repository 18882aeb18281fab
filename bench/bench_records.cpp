// SPDX-License-Identifier: MIT
// The record side: the scan of saved files, and whole downloads from korvel-sim over a pseudo-terminal
// through the serial layer and the dialog engine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "brief.h"
#include "records/record_file.h"
#include "records/scan.h"
#include "support/live_dialog.h"
#include "text/utf8.h"

extern char** environ;

namespace korvel {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr int kProduct = 815;

std::string MakeTempFolder(const char* what) {
    std::string templ =
        (std::filesystem::temp_directory_path() / (std::string("korvel-bench-") + what + "-XXXXXX")).string();
    return ::mkdtemp(templ.data()) ? templ : std::string();
}

// --- scan ---------------------------------------------------------------------------------------------

// 10,000 record files of `lines` lines in 100 folders. Files longer than the text file class's
// encoding check (62,000 bytes) are written with a hole in the middle: the scan never reads there, and
// four gigabytes of real lines would only measure the disk while setting up.
class ScanTree {
  public:
    ScanTree(int lines) : folder_(MakeTempFolder("scan")) {
        std::string head, tail;
        for (int i = 0; i < lines; ++i) {
            char text[64];
            std::snprintf(text, sizeof text, "2022-%02d-%02d %02d:%02d:%02d+08:00 %d.%02d %d",
                          1 + i / 100000 % 12, 1 + i / 3600 % 28, i / 60 % 24, i % 60, i % 60, i % 5, i % 100,
                          kProduct);
            std::string line = MakeRecordLine(Utf8ToWide(text));
            if (head.size() < 64 * 1024)
                head += line;
            else
                tail += line;
            bytes_ += line.size();
        }
        if (tail.size() > 4096) tail.erase(0, tail.find('\n', tail.size() - 4096) + 1);
        for (int d = 0; d < 100; ++d) {
            std::string sub = folder_ + "/" + std::to_string(2000 + d);
            std::filesystem::create_directory(sub);
            for (int f = 0; f < 100; ++f) {
                char name[64];
                std::snprintf(name, sizeof name, "/22%02d%02d-1200%02d-%d-%x.txt", 1 + d % 12, 1 + f % 28,
                              f % 60, kProduct, kProduct);
                int fd = ::open((sub + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0) continue;
                bool ok = ::write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size());
                if (!tail.empty()) {
                    ok = ok &&
                         ::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(bytes_ - tail.size())) ==
                             static_cast<ssize_t>(tail.size());
                }
                ::close(fd);
                if (!ok) error_ = "could not write the record files";
            }
        }
    }
    ~ScanTree() { std::filesystem::remove_all(folder_); }

    const std::string& folder() const { return folder_; }
    const std::string& error() const { return error_; }

  private:
    std::string folder_;
    std::string error_;
    size_t bytes_ = 0;
};

void BM_ScanSavedFiles(benchmark::State& state) {
    ScanTree tree(static_cast<int>(state.range(0)));
    if (!tree.error().empty()) {
        state.SkipWithError(tree.error().c_str());
        return;
    }
    const std::u16string folder = Utf8ToWide(tree.folder());
    std::u16string last;
    ScanFolder(folder, kProduct, last, [](const std::u16string&) {});  // warms the cache
    for (auto _ : state) {
        last.clear();
        ScanFolder(folder, kProduct, last, [](const std::u16string&) {});
        benchmark::DoNotOptimize(last.data());
    }
    state.counters["files"] = 10000;
    state.SetLabel("<= 1000 ms");
}
BENCHMARK(BM_ScanSavedFiles)
    ->ArgName("lines")
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(BriefRun() ? 0.01 : 2);

// --- record file ------------------------------------------------------------------------------------

// A full ring's lines written as one file, flushed to disk and renamed into place. The wall time is
// mostly the disk's flush; the CPU time is the cost of the file itself.
void BM_WriteFullRingFile(benchmark::State& state) {
    std::string folder = MakeTempFolder("write");
    std::vector<std::string> lines;
    for (int i = 32766; i >= 0; --i) {
        char text[64];
        std::snprintf(text, sizeof text, "2022-07-30 %02d:%02d:%02d+08:00 %d.%02d %d", i / 3600 % 24,
                      i / 60 % 60, i % 60, i % 5, i % 100, kProduct);
        lines.push_back(MakeRecordLine(Utf8ToWide(text)));
    }
    const std::u16string path = JoinPath(Utf8ToWide(folder), u"r-815-32f.txt");
    for (auto _ : state) {
        if (const Failure failure = WriteRecordFile(path, lines)) {
            state.SkipWithError(failure.message.c_str());
            break;
        }
        // A record file is never replaced: the next round needs the name free again.
        state.PauseTiming();
        std::filesystem::remove(std::filesystem::path(WideToUtf8(path)));
        state.ResumeTiming();
    }
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_WriteFullRingFile)->Unit(benchmark::kMillisecond);

// --- downloads ----------------------------------------------------------------------------------------

// korvel-sim as a child; it goes when its stdin closes.
class Simulator {
  public:
    explicit Simulator(std::vector<std::string> args) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        args.insert(args.begin(), KORVEL_SIM_PATH);
        args.push_back("--exit-on-stdin-eof");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        for (char c; ::read(out[0], &c, 1) == 1 && c != '\n';) pty_ += c;
        ::close(out[0]);
    }
    ~Simulator() {
        if (stdin_ >= 0) ::close(stdin_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    const std::string& pty() const { return pty_; }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    std::string pty_;
};

// The same batch exchanges as a walk, made by the plainest client on a raw terminal: what the paced
// simulator itself allows, as the ratio of wall time to wire time. Returns 0 when it could not be made.
double PacedDeviceFloor(const std::string& pty, int batches, int newest) {
    int fd = ::open(pty.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return 0;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    auto exchange = [fd](const std::string& command) -> size_t {
        if (::write(fd, command.data(), command.size()) != static_cast<ssize_t>(command.size())) return 0;
        std::string reply;
        char buffer[4096];
        while (reply.size() < 2 || reply.compare(reply.size() - 2, 2, "\n\n") != 0) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) return 0;
            reply.append(buffer, static_cast<size_t>(n));
        }
        return reply.size();
    };
    size_t bytes = 0;
    const auto start = SteadyClock::now();
    for (int b = 0, index = newest; b < batches; ++b, index -= 100) {
        std::string command = "get2 " + std::to_string(index) + " -100\n";
        size_t got = exchange(command);
        if (got == 0) {
            ::close(fd);
            return 0;
        }
        bytes += got + command.size();
    }
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    ::close(fd);
    return seconds / (static_cast<double>(bytes) / 11520.0);
}

using testing::LiveDialog;

// A full ring of 32,767 records into an empty folder: wall time from the click to the written file.
// A brief run takes 500 records at 115200 bit/s (a full ring there is two minutes of wire time).
void DownloadFullRing(benchmark::State& state, int protocol, const char* baud, const char* goal) {
    const int records = baud && BriefRun() ? 500 : 32767;
    std::vector<std::string> args = {"--records",  std::to_string(records),
                                     "--protocol", std::to_string(protocol),
                                     "--product",  std::to_string(kProduct)};
    if (baud) args.insert(args.end(), {"--baud", baud});
    Simulator sim(args);
    // The simulator's pacing has an error of its own; it is measured first, with the port still free.
    const double floor = baud ? PacedDeviceFloor(sim.pty(), BriefRun() ? 2 : 40, records) : 0;
    std::string folder = MakeTempFolder("download");
    // The dialog's own one-second heartbeat, as in the window.
    LiveDialog downloader(sim.pty(), folder, LiveDialog::Heartbeat::EverySecond);
    if (sim.pty().empty() || !downloader.Connect() || !downloader.ReadInfo(1) ||
        downloader.dlg.m_nHeadIndex == downloader.dlg.m_nTailIndex) {
        state.SkipWithError("the simulator did not answer");
        std::filesystem::remove_all(folder);
        return;
    }
    double wire_seconds = 0, wall_seconds = 0;
    for (auto _ : state) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directory(folder);
        const uint32_t rx = downloader.dlg.m_nRxBytes, tx = downloader.dlg.m_nTxBytes;
        const auto start = SteadyClock::now();
        const bool ok = downloader.Download(std::chrono::seconds(600));
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
        if (!ok) {
            state.SkipWithError("the download did not finish");
            break;
        }
        state.SetIterationTime(seconds);
        wall_seconds += seconds;
        // Every byte both ways at 11,520 bytes per second (115200 baud, ten bits per byte).
        wire_seconds += (downloader.dlg.m_nRxBytes - rx + downloader.dlg.m_nTxBytes - tx) / 11520.0;
    }
    if (baud && wire_seconds > 0) {
        state.counters["wall/wire"] = wall_seconds / wire_seconds;
        state.counters["plain client wall/wire"] = floor;
    }
    state.counters["records"] = static_cast<double>(downloader.dlg.m_recordBuffer.size());
    state.SetLabel(goal);
    std::filesystem::remove_all(folder);
}

void BM_DownloadFullRingLevel2(benchmark::State& state) { DownloadFullRing(state, 2, nullptr, "<= 500 ms"); }
void BM_DownloadFullRingLevel1(benchmark::State& state) { DownloadFullRing(state, 1, nullptr, "<= 5000 ms"); }
void BM_DownloadFullRingLevel2At115200(benchmark::State& state) {
    DownloadFullRing(state, 2, "115200", "wall/wire <= 1.03");
}
BENCHMARK(BM_DownloadFullRingLevel2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(BriefRun() ? 1 : 5);
BENCHMARK(BM_DownloadFullRingLevel1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(BriefRun() ? 1 : 2);
BENCHMARK(BM_DownloadFullRingLevel2At115200)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
}  // namespace korvel
