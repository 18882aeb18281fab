// SPDX-License-Identifier: MIT
// korvel-sim: a simulated winch speed recorder on a pseudo-terminal, for tests and demonstrations.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/faults.h"
#include "sim/pty_device.h"
#include "sim/recorder.h"
#include "text/version.h"

namespace {

constexpr char kUsage[] = R"(usage: korvel-sim [options]
Plays a winch speed recorder on a new pseudo-terminal and prints its path as the first line.
  --version              print the version and exit

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

// A mistake on the command line: the sentence says what is wrong with which option.
struct UsageError {
    std::string message;
};

long ToLong(const std::string& option, const std::string& text, long low, long high) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high)
        throw UsageError{option + " needs a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not \"" + text + "\""};
    return value;
}

double ToRate(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(value >= 0.0 && value <= 1.0))
        throw UsageError{option + " needs a share from 0 to 1, not \"" + text + "\""};
    return value;
}

// Options that take a value: each one converts and checks it when it is read, in the order given.
class Options {
  public:
    explicit Options(CLI::App& app) : app_(app) {
        app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }

    void Text(const std::string& name, std::string& target) { app_.add_option(name, target); }
    void Flag(const std::string& name, bool& target) { app_.add_flag(name, target); }
    void Call(const std::string& name, std::function<void(const std::string&)> read) {
        app_.add_option_function<std::string>(name, std::move(read))->trigger_on_parse();
    }
    template <typename T>
    void Number(const std::string& name, T& target, long low, long high) {
        Call(name, [&target, name, low, high](const std::string& text) {
            target = static_cast<T>(ToLong(name, text, low, high));
        });
    }
    void Rate(const std::string& name, double& target) {
        Call(name, [&target, name](const std::string& text) { target = ToRate(name, text); });
    }

  private:
    CLI::App& app_;
};

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

    CLI::App app("korvel-sim");
    app.allow_extras();
    app.set_version_flag("--version", korvel::VersionLine("korvel-sim"));
    Options o(app);
    o.Text("--tty", io.tty_path);
    o.Text("--link", io.link_path);
    o.Text("--log", io.log_path);
    o.Text("--control", io.control_path);
    o.Flag("--exit-on-stdin-eof", io.exit_on_stdin_eof);
    o.Number("--records", device.records, 0, kMaxRecords);
    o.Number("--head", device.head, 0, korvel::kIndexMask);
    o.Flag("--wrap", wrap);
    o.Number("--protocol", device.protocol, 0, 9);
    o.Call("--product", [&](const std::string& text) {
        if (text.empty() || text.find_first_of(" \t\r\n") != std::string::npos)
            throw UsageError{"--product needs one word without spaces"};
        device.product = text;
    });
    o.Call("--firmware", [&](const std::string& words) {
        const size_t space = words.find(' ');
        device.firmware1 = words.substr(0, space);
        device.firmware3 = space == std::string::npos ? "" : words.substr(space + 1);
        if (device.firmware1.empty() || device.firmware3.empty() ||
            device.firmware3.find(' ') != std::string::npos)
            throw UsageError{"--firmware needs two words, e.g. \"KVR V3.1\""};
    });
    o.Call("--clock", [&](const std::string& text) {
        const std::optional<int64_t> t = ParseDeviceTime(text);
        if (!t) throw UsageError{"--clock needs \"YYYY-MM-DD hh:mm:ss\", not \"" + text + "\""};
        device.clock = *t;
        clock_given = true;
    });
    o.Number("--seed", device.seed, 0, 0x7FFFFFFFL);
    o.Number("--max-batch", device.max_batch, 1, kMaxRecords);
    o.Number("--reply-delay-ms", io.reply_delay_ms, 0, 600'000);
    o.Flag("--crlf", faults.crlf);
    o.Flag("--info-crc", device.info_crc);
    o.Rate("--corrupt-crc", device.corrupt_crc);
    o.Rate("--drop-replies", faults.drop_replies);
    o.Flag("--stall", faults.stall);
    o.Number("--stall-after", faults.stall_after, 0, 1L << 30);
    o.Number("--chunk", io.chunk, 1, 1L << 20);
    o.Number("--chunk-gap-us", io.chunk_gap_us, 0, 10'000'000);
    o.Number("--baud", io.baud, 10, 100'000'000);
    o.Rate("--messages", faults.messages);
    o.Rate("--overlong", faults.overlong);
    o.Flag("--endless-reply", faults.endless);
    o.Number("--endless-after", faults.endless_after, 0, 1L << 30);
    o.Number("--endless-gap-ms", faults.endless_gap_ms, 0, 3'600'000);
    o.Number("--hangup-after", io.hangup_after, 0, 1L << 40);
    o.Number("--replug-after", io.replug_after_ms, 0, 3'600'000);

    std::string mistake;
    try {
        app.parse(argc, argv);
        if (!app.remaining().empty()) mistake = "unknown option \"" + app.remaining().front() + "\"";
    } catch (const CLI::CallForHelp&) {
        std::fputs(kUsage, stdout);
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::puts(version.what());
        return 0;
    } catch (const CLI::ArgumentMismatch& error) {
        // The option that ends the command line lacks its value; CLI11 names it before the colon.
        const std::string what = error.what();
        mistake = what.substr(0, what.find(':')) + " needs a value";
    } catch (const CLI::ParseError& error) {
        mistake = error.what();
    } catch (const UsageError& error) {
        mistake = error.message;
    }
    if (!mistake.empty()) {
        std::fprintf(stderr, "korvel-sim: %s\n(korvel-sim --help lists the options)\n", mistake.c_str());
        return 2;
    }
    if (!clock_given) device.clock = LocalNow();
    if (wrap && device.head < 0) device.head = device.records / 2;
    faults.seed = device.seed;

    Recorder recorder(device);
    FaultPlan plan(faults);
    return RunDevice(recorder, plan, io);
}
