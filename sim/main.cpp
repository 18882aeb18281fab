// SPDX-License-Identifier: MIT
// korvel-sim: a simulated winch speed recorder on a pseudo-terminal, for tests and demonstrations.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/faults.h"
#include "sim/pty_device.h"
#include "sim/recorder.h"

namespace {

constexpr char kUsage[] = R"(usage: korvel-sim [options]
Plays a winch speed recorder on a new pseudo-terminal and prints its path as the first line.

Connection:
  --tty PATH             run on this terminal instead of creating a pseudo-terminal
  --link PATH            keep a symbolic link to the pseudo-terminal at PATH (removed at exit)
  --log PATH             write one line per command received: "<seconds since start> <command>"
  --control PATH|-       read control commands from a FIFO at PATH (created if missing) or from
                         stdin ("-"); answers go to stdout: add N, status, clock T, stall, resume,
                         hangup, replug
  --exit-on-stdin-eof    exit when stdin reaches its end (so a dying parent takes the device along)
Device:
  --records N            records stored at start, 0..32767 (default 3000)
  --head N               ring index of the newest record (default: N, so the oldest is at index 1)
  --wrap                 put the head at N/2, so the stored records wrap round index 0
  --protocol 0|1|2       protocol level (default 2): 1 adds checksums, 2 also answers get2
  --product TEXT         product number (default 1234)
  --firmware "W1 W3"     first and third word of the firmware text (default "KVR V3.1")
  --clock "YYYY-MM-DD hh:mm:ss"  device clock at start (default: the local time); it runs on
  --seed N               seed of the record values and of every fault (default 1)
  --crlf                 end lines with CR LF instead of LF
  --info-crc             put a checksum on the information line too (protocol 1 and above)
  --max-batch N          answer get2 with at most N records, however many were asked for
Faults:
  --corrupt-crc RATE     share (0..1) of record lines sent with a wrong checksum
  --drop-replies RATE    share of commands left without any reply
  --stall                answer nothing;  --stall-after N: answer N commands, then nothing
  --chunk N              write at most N bytes at a time, --chunk-gap-us US apart (default 2000)
  --baud RATE            pace the output at RATE/10 bytes per second
  --messages RATE        chance of a "#" device message before each reply line
  --overlong RATE        chance per reply of a garbage "#" line: overlong or not valid UTF-8
  --endless-reply        a reply never ends: after its first line, its first body line is
                         repeated for ever (--endless-gap-ms MS apart; default as fast as it goes;
                         --endless-after N: answer N commands properly first)
  --hangup-after N       close the device side after N bytes were sent (an unplugged adapter)
  --reply-delay-ms MS    a slow device: each reply goes out MS milliseconds after its command
  --replug-after MS      after a hang-up, offer a new pseudo-terminal after MS milliseconds
                         (announced on stdout as "pty PATH"; --link follows it)
)";

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "korvel-sim: %s\n(korvel-sim --help lists the options)\n", message.c_str());
    std::exit(2);
}

long ToLong(const std::string& option, const std::string& text, long low, long high) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        Fail(option + " needs a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
             ", not \"" + text + "\"");
    return value;
}

double ToRate(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0.0 && value <= 1.0))
        Fail(option + " needs a share from 0 to 1, not \"" + text + "\"");
    return value;
}

int64_t LocalNow() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return korvel::sim::ParseDeviceTime(buf).value_or(0);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace korvel::sim;
    RecorderConfig device;
    FaultConfig faults;
    DeviceOptions io;
    bool wrap = false;
    bool clock_given = false;

    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string value;
        bool has_value = false;
        if (const size_t eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = option.substr(eq + 1);
            option = option.substr(0, eq);
            has_value = true;
        }
        auto next = [&]() -> std::string {
            if (has_value) return value;
            if (i + 1 >= args.size()) Fail(option + " needs a value");
            return args[++i];
        };
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (option == "--tty") {
            io.tty_path = next();
        } else if (option == "--link") {
            io.link_path = next();
        } else if (option == "--log") {
            io.log_path = next();
        } else if (option == "--control") {
            io.control_path = next();
        } else if (option == "--exit-on-stdin-eof") {
            io.exit_on_stdin_eof = true;
        } else if (option == "--records") {
            device.records = static_cast<int>(ToLong(option, next(), 0, kMaxRecords));
        } else if (option == "--head") {
            device.head = static_cast<int>(ToLong(option, next(), 0, korvel::kIndexMask));
        } else if (option == "--wrap") {
            wrap = true;
        } else if (option == "--protocol") {
            device.protocol = static_cast<int>(ToLong(option, next(), 0, 9));
        } else if (option == "--product") {
            device.product = next();
            if (device.product.empty() || device.product.find_first_of(" \t\r\n") != std::string::npos)
                Fail("--product needs one word without spaces");
        } else if (option == "--firmware") {
            const std::string words = next();
            const size_t space = words.find(' ');
            device.firmware1 = words.substr(0, space);
            device.firmware3 = space == std::string::npos ? "" : words.substr(space + 1);
            if (device.firmware1.empty() || device.firmware3.empty() ||
                device.firmware3.find(' ') != std::string::npos)
                Fail("--firmware needs two words, e.g. \"KVR V3.1\"");
        } else if (option == "--clock") {
            const std::string text = next();
            const std::optional<int64_t> t = ParseDeviceTime(text);
            if (!t) Fail("--clock needs \"YYYY-MM-DD hh:mm:ss\", not \"" + text + "\"");
            device.clock = *t;
            clock_given = true;
        } else if (option == "--seed") {
            device.seed = static_cast<uint64_t>(ToLong(option, next(), 0, 0x7FFFFFFFL));
        } else if (option == "--max-batch") {
            device.max_batch = static_cast<int>(ToLong(option, next(), 1, kMaxRecords));
        } else if (option == "--reply-delay-ms") {
            io.reply_delay_ms = ToLong(option, next(), 0, 600'000);
        } else if (option == "--crlf") {
            faults.crlf = true;
        } else if (option == "--info-crc") {
            device.info_crc = true;
        } else if (option == "--corrupt-crc") {
            device.corrupt_crc = ToRate(option, next());
        } else if (option == "--drop-replies") {
            faults.drop_replies = ToRate(option, next());
        } else if (option == "--stall") {
            faults.stall = true;
        } else if (option == "--stall-after") {
            faults.stall_after = ToLong(option, next(), 0, 1L << 30);
        } else if (option == "--chunk") {
            io.chunk = ToLong(option, next(), 1, 1L << 20);
        } else if (option == "--chunk-gap-us") {
            io.chunk_gap_us = ToLong(option, next(), 0, 10'000'000);
        } else if (option == "--baud") {
            io.baud = ToLong(option, next(), 10, 100'000'000);
        } else if (option == "--messages") {
            faults.messages = ToRate(option, next());
        } else if (option == "--overlong") {
            faults.overlong = ToRate(option, next());
        } else if (option == "--endless-reply") {
            faults.endless = true;
        } else if (option == "--endless-after") {
            faults.endless_after = ToLong(option, next(), 0, 1L << 30);
        } else if (option == "--endless-gap-ms") {
            faults.endless_gap_ms = ToLong(option, next(), 0, 3'600'000);
        } else if (option == "--hangup-after") {
            io.hangup_after = ToLong(option, next(), 0, 1L << 40);
        } else if (option == "--replug-after") {
            io.replug_after_ms = ToLong(option, next(), 0, 3'600'000);
        } else {
            Fail("unknown option \"" + args[i] + "\"");
        }
    }
    if (!clock_given) device.clock = LocalNow();
    if (wrap && device.head < 0) device.head = device.records / 2;
    faults.seed = device.seed;

    Recorder recorder(device);
    FaultPlan plan(faults);
    return RunDevice(recorder, plan, io);
}
