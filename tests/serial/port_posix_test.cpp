// SPDX-License-Identifier: MIT
// The real serial port on pseudo-terminals: chunks, hang-up, busy and refused opens, write timeouts.
// The dialog's use of it is in dialog_port_test.cpp; open/close cycles under load in threads/.
// POSIX only: every case runs on a pseudo-terminal, which Windows (and Wine) has not; the Windows port
// is tested in tests/win.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "platform/event_loop.h"
#include "serial/port.h"
#include "serial/port_name.h"
#include "serial/termios2.h"
#include "support/pty.h"
#include "support/temp_folder.h"
#include "ui/dialog_template.h"

namespace korvel {
namespace {

using namespace std::chrono_literals;
using testing::PtyPair;

struct Received {
    std::vector<std::vector<uint8_t>> chunks;
    size_t total = 0;
    bool lost = false;
};

bool StartCollecting(Port& port, EventLoop& loop, Received& into) {
    return port.StartReader(
        loop.Poster(),
        [&into](const uint8_t* bytes, int count) {
            into.chunks.emplace_back(bytes, bytes + count);
            into.total += static_cast<size_t>(count);
        },
        [&into] { into.lost = true; });
}

std::unique_ptr<Port> MustOpen(const std::string& path, uint32_t baud = 115200) {
    Failure failure;
    auto port = OpenSerialPort(path, baud, failure);
    EXPECT_TRUE(port) << failure.message;
    return port;
}

using TempDir = testing::TempFolder;

TEST(Port, ChunksArriveInOrderCompleteAndAtMost255Bytes) {
    PtyPair pty;
    auto port = MustOpen(pty.slave_path);
    ASSERT_TRUE(port);
    EventLoop loop;
    Received got;
    ASSERT_TRUE(StartCollecting(*port, loop, got));

    std::vector<uint8_t> sent(20000);
    std::mt19937 rng(7);
    for (auto& b : sent) b = static_cast<uint8_t>(rng());
    std::thread device([&] {
        std::uniform_int_distribution<size_t> piece(1, 700);
        for (size_t at = 0; at < sent.size();) {
            const size_t n = std::min(piece(rng), sent.size() - at);
            ASSERT_TRUE(pty.WriteAll(sent.data() + at, n));
            at += n;
        }
    });
    EXPECT_TRUE(loop.RunUntil([&] { return got.total >= sent.size(); }, 20s));
    device.join();
    port->Close();

    std::vector<uint8_t> joined;
    for (const auto& chunk : got.chunks) {
        EXPECT_GE(chunk.size(), 1u);
        EXPECT_LE(chunk.size(), 255u);
        joined.insert(joined.end(), chunk.begin(), chunk.end());
    }
    EXPECT_EQ(joined, sent);
    EXPECT_FALSE(got.lost);
}

TEST(Port, BurstOf300QueuedBytesArrivesAs255Then45AndTheRestWaitsForTheHandler) {
    PtyPair pty;
    auto port = MustOpen(pty.slave_path);
    ASSERT_TRUE(port);
    std::string burst(300, 'x');
    ASSERT_TRUE(pty.WriteAll(burst));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (pty.SlaveQueued() < 300 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_EQ(pty.SlaveQueued(), 300);

    EventLoop loop;
    std::vector<int> sizes;
    int queued_during_first = -1;
    ASSERT_TRUE(port->StartReader(
        loop.Poster(),
        [&](const uint8_t*, int count) {
            if (sizes.empty()) queued_during_first = pty.SlaveQueued();
            sizes.push_back(count);
        },
        [] {}));
    EXPECT_TRUE(loop.RunUntil([&] { return sizes.size() >= 2; }, 10s));
    EXPECT_EQ(sizes, (std::vector<int>{255, 45}));
    EXPECT_EQ(queued_during_first, 45);  // not read while the first chunk was being handled
}

// Bytes that came before the port was opened belong to no exchange of ours: opening discards them.
TEST(Port, OpeningDiscardsStaleInput) {
    PtyPair pty;
    ASSERT_TRUE(pty.WriteAll("stale"));
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (pty.SlaveQueued() < 5 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_EQ(pty.SlaveQueued(), 5);
    auto port = MustOpen(pty.slave_path);
    ASSERT_TRUE(port);
    EventLoop loop;
    Received got;
    ASSERT_TRUE(StartCollecting(*port, loop, got));
    ASSERT_TRUE(pty.WriteAll("fresh"));
    EXPECT_TRUE(loop.RunUntil([&] { return got.total >= 5; }, 10s));
    std::string joined;
    for (const auto& chunk : got.chunks) joined.append(chunk.begin(), chunk.end());
    EXPECT_EQ(joined, "fresh");
}

TEST(Port, HangUpEndsTheReaderReportsTheLossAndTheReturningDeviceOpensAgain) {
    TempDir dir;
    const std::string link = dir.path() + "/port";
    auto first = std::make_unique<PtyPair>();
    ASSERT_EQ(::symlink(first->slave_path.c_str(), link.c_str()), 0);

    const int threads_before = testing::CountThreads();
    auto port = MustOpen(link);
    ASSERT_TRUE(port);
    EventLoop loop;
    Received got;
    ASSERT_TRUE(StartCollecting(*port, loop, got));
    ASSERT_TRUE(first->WriteAll("before the hang-up"));
    EXPECT_TRUE(loop.RunUntil([&] { return got.total >= 18; }, 10s));

    first->CloseMaster();
    EXPECT_TRUE(loop.RunUntil([&] { return got.lost; }, 10s));
    // The reader has ended by itself: no thread is left polling a dead descriptor.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (testing::CountThreads() > threads_before && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(testing::CountThreads(), threads_before);
    port->Close();

    // The device comes back under the same name.
    PtyPair second;
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::symlink(second.slave_path.c_str(), link.c_str()), 0);
    port = MustOpen(link);
    ASSERT_TRUE(port);
    Received again;
    ASSERT_TRUE(StartCollecting(*port, loop, again));
    ASSERT_TRUE(second.WriteAll("back"));
    EXPECT_TRUE(loop.RunUntil([&] { return again.total >= 4; }, 10s));
}

TEST(Port, SecondOpenOfAHeldPortFailsAsBusyAndNamesTheHolder) {
    PtyPair pty;
    auto held = MustOpen(pty.slave_path);
    ASSERT_TRUE(held);
    Failure failure;
    EXPECT_FALSE(OpenSerialPort(pty.slave_path, 115200, failure));
    EXPECT_EQ(failure.kind, FailureKind::Busy);
    EXPECT_NE(failure.message.find("process " + std::to_string(::getpid())), std::string::npos)
        << failure.message;
    held->Close();
    EXPECT_TRUE(MustOpen(pty.slave_path));
}

TEST(Port, OpenFailuresSayWhatWentWrong) {
    TempDir dir;
    const std::string file = dir.path() + "/plain-file";
    ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0600));
    struct Case {
        std::string path;
        uint32_t baud;
        FailureKind kind;
    } cases[] = {
        {dir.path() + "/ttyUSB9", 115200, FailureKind::Absent},
        {file, 115200, FailureKind::NotSerial},
        {file, 0, FailureKind::Settings},
    };
    for (const auto& c : cases) {
        Failure failure;
        EXPECT_FALSE(OpenSerialPort(c.path, c.baud, failure)) << c.path;
        EXPECT_EQ(failure.kind, c.kind) << c.path;
        EXPECT_FALSE(failure.message.empty());
    }
}

TEST(Port, PermissionDeniedNamesTheGroupAndTheFix) {
    TempDir dir;
    const std::string file = dir.path() + "/ttyUSB0";
    ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0600));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    for (int error : {EACCES, EPERM}) {
        const Failure failure = DescribeOpenError(error, file);
        EXPECT_EQ(failure.kind, FailureKind::PermissionDenied);
        EXPECT_NE(failure.message.find(file), std::string::npos);
        EXPECT_NE(failure.message.find(", then log out and in"), std::string::npos) << failure.message;
        EXPECT_NE(failure.message.find("add yourself to group "), std::string::npos) << failure.message;
    }
    EXPECT_EQ(DescribeOpenError(ENODEV, file).kind, FailureKind::Absent);
    EXPECT_EQ(DescribeOpenError(EBUSY, file).kind, FailureKind::Busy);
}

TEST(Port, WriteAgainstASideThatStopsReadingReturnsWithinItsTimeout) {
    PtyPair pty;
    auto port = MustOpen(pty.slave_path);
    ASSERT_TRUE(port);
    std::vector<uint8_t> block(4 << 20, 'w');  // far more than the pty buffers
    const auto start = std::chrono::steady_clock::now();
    port->Write(block.data(), block.size(), 50);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 3s);  // bound 50 ms; generous for a loaded machine
    EXPECT_GE(took, 40ms);
    EXPECT_FALSE(pty.Read(1, 1s).empty());

    // With room, a write completes whole.
    PtyPair fresh;
    auto other = MustOpen(fresh.slave_path);
    ASSERT_TRUE(other);
    const std::string line = "info\n";
    other->Write(reinterpret_cast<const uint8_t*>(line.data()), line.size(), 4);
    const auto echoed = fresh.Read(line.size(), 5s);
    EXPECT_EQ(std::string(echoed.begin(), echoed.end()), line);
}

TEST(Port, EveryRateOfTheListAndANonStandardOneIsSetWithRaw8N1) {
    PtyPair pty;
    std::vector<uint32_t> rates;
    for (auto text : kBaudRates) rates.push_back(static_cast<uint32_t>(std::stoul(PortPath(text))));
    rates.push_back(250000);  // no B-constant: set through termios2
    rates.push_back(31250);
    for (uint32_t rate : rates) {
        auto port = MustOpen(pty.slave_path, rate);
        ASSERT_TRUE(port) << rate;
        uint32_t set = 0;
        ASSERT_TRUE(ReadLineRate(pty.slave, set));
        EXPECT_EQ(set, rate);
        termios tio{};
        ASSERT_EQ(::tcgetattr(pty.slave, &tio), 0);
        EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << rate;
        EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u) << rate;
        EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD)) << rate;
        EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u) << rate;
        EXPECT_EQ(tio.c_cc[VMIN], 1) << rate;
    }
}

TEST(Port, CloseIsIdempotentAndAClosedPortIgnoresWrites) {
    PtyPair pty;
    auto port = MustOpen(pty.slave_path);
    ASSERT_TRUE(port);
    port->Close();
    port->Close();
    const uint8_t byte = 'x';
    port->Write(&byte, 1, 4);
    EXPECT_TRUE(pty.Read(1, 50ms).empty());
    EventLoop loop;
    EXPECT_FALSE(port->StartReader(
        loop.Poster(), [](const uint8_t*, int) {}, [] {}));
}

}  // namespace
}  // namespace korvel
