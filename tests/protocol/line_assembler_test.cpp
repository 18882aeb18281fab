// SPDX-License-Identifier: MIT
// Line framing: every case cut into chunks every way, checksum stripping, device messages, overlong lines.
// What the exchange does with the lines is in engine/exchange_test.cpp.
#include "protocol/line_assembler.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "protocol/checked_line.h"
#include "text/utf8.h"

namespace korvel {
namespace {

// Plays the exchange: counts the reply lines it is given and logs everything it hears.
class FakeSink : public LineSink {
  public:
    FakeSink(int protocol, std::u16string command, int reply_lines)
        : protocol_(protocol), command_(std::move(command)), reply_lines_(reply_lines) {}

    int Protocol() const override { return protocol_; }
    int ReplyLines() const override { return reply_lines_; }
    const std::u16string& Command() const override { return command_; }
    void OnDeviceMessage(std::u16string text) override { events.push_back("message:" + WideToUtf8(text)); }
    void OnChecksumError() override { events.push_back("checksum error"); }
    void OnReplyLine(std::u16string line) override {
        ++reply_lines_;
        events.push_back("reply:" + WideToUtf8(line));
    }

    std::vector<std::string> events;

  private:
    int protocol_;
    std::u16string command_;
    int reply_lines_;
};

std::string Suffixed(const std::string& payload, char separator = ' ') {
    std::string line = WithChecksum(payload);
    line[payload.size()] = separator;
    return line;
}

struct Case {
    const char* name;
    int protocol;
    std::u16string command;
    int reply_lines;  // lines of the reply already delivered when the bytes arrive
    std::string bytes;
    std::vector<std::string> events;
    int fill_after = 0;  // bytes of an unfinished last line
};

const std::string k560(560, 'a');

const Case kCases[] = {
    // Framing.
    {"CR LF ends a line", 1, u"get", 0, "OK\r\n", {"reply:OK"}},
    {"bare LF and CR LF give empty lines", 1, u"get", 1, "\n\r\n", {"reply:", "reply:"}},
    {"CR is skipped anywhere", 0, u"", 0, "\rO\rK\r\r\n", {"reply:OK"}},
    {"unfinished line waits", 0, u"", 0, "OK\nabc", {"reply:OK"}, 3},
    {"NUL ends the line text", 0, u"", 0, std::string("ab\0cd\n", 6), {"reply:ab"}},
    {"NUL first gives an empty line", 0, u"", 0, std::string("\0cd\n", 4), {"reply:"}},
    {"560 bytes arrive as an empty line", 0, u"", 0, k560 + "\n", {"reply:"}},
    {"561 bytes arrive as the last byte", 0, u"", 0, k560 + "z\n", {"reply:z"}},
    {"1121 bytes arrive as the last byte", 0, u"", 0, k560 + k560 + "z\n", {"reply:z"}},
    {"CR does not count towards 560",
     0,
     u"",
     0,
     std::string(559, 'a') + "\r\r\n",
     {"reply:" + std::string(559, 'a')}},
    {"wrap leaves a partial line", 0, u"", 0, k560 + "xy", {}, 2},
    {"invalid UTF-8 becomes U+FFFD",
     0,
     u"",
     0,
     "A\xFF"
     "B\n",
     {"reply:A\xEF\xBF\xBD"
      "B"}},
    {"chinese text", 0, u"", 0, "读数据\n", {"reply:读数据"}},

    // Device messages.
    {"# line is a device message", 1, u"get", 1, "#hello\n", {"message:#hello"}},
    {"# mid-reply is neither tested nor counted",
     1,
     u"get",
     1,
     "#bad 0000\n" + Suffixed("r1") + "\n",
     {"message:#bad 0000", "reply:r1"}},
    {"# line with CR LF", 0, u"", 0, "#m\r\n", {"message:#m"}},
    {"# after NUL is still a message", 0, u"", 0, std::string("#\0x\n", 4), {"message:#"}},
    {"# not first is a reply line", 0, u"", 0, " #x\n", {"reply: #x"}},

    // The checksum test.
    {"good suffix, lower case", 1, u"get", 1, "123456789 4b37\n", {"reply:123456789"}},
    {"good suffix, upper case", 1, u"get", 1, "123456789 4B37\n", {"reply:123456789"}},
    {"separator is not examined", 1, u"get", 1, "123456789x4b37\n", {"reply:123456789"}},
    {"wrong suffix is dropped", 1, u"get", 1, "123456789 4b38\n", {"checksum error"}},
    {"non-hex digit counts as 0", 1, u"get", 1, "123456789 4g37\n", {"checksum error"}},
    {"non-hex digit stands for 0", 1, u"get", 1, "rec40 zde4\n", {"reply:rec40"}},  // 0x0de4
    {"five characters fail", 1, u"get", 1, "12345\n", {"checksum error"}},
    {"six characters are tested", 1, u"get", 1, Suffixed("A") + "\n", {"reply:A"}},
    {"empty line is not tested", 1, u"get", 1, "\n", {"reply:"}},
    {"line cut at NUL is tested on its text",
     1,
     u"get",
     1,
     std::string("123456789 4b37\0zz\n", 18),
     {"reply:123456789"}},
    {"line starting with NUL fails",
     1,
     u"get",
     1,
     std::string(1, '\0') + "123456789 4b37\n",
     {"checksum error"}},
    {"info is tested", 2, u"info", 1, "123456789 4b38\n", {"checksum error"}},
    {"UTF-8 payload", 1, u"get", 1, Suffixed("读数据") + "\n", {"reply:读数据"}},
    {"CR inside the suffix is skipped", 1, u"get", 1, "123456789 4b\r37\r\n", {"reply:123456789"}},
    {"first line of a reply is untested",
     1,
     u"get",
     0,
     "OK 0000\n123456789 4b38\n",
     {"reply:OK 0000", "checksum error"}},
    {"protocol 0 delivers whole", 0, u"get", 1, "123456789 4b38\n", {"reply:123456789 4b38"}},
    {"empty command delivers whole", 1, u"", 1, "123456789 4b38\n", {"reply:123456789 4b38"}},
    {"time command delivers whole", 1, u"time", 1, "123456789 4b38\n", {"reply:123456789 4b38"}},
    {"command compared whole", 1, u"get2", 1, "x 0000\n", {"reply:x 0000"}},
    {"command compared case-sensitively", 1, u"GET", 1, "x 0000\n", {"reply:x 0000"}},
    {"a whole reply",
     1,
     u"get",
     0,
     "OK\r\n" + Suffixed("2022-07-30 10:15:42 125 0123 5") + "\r\n#note\r\n" + Suffixed("r2") + "x\r\n\r\n",
     {"reply:OK", "reply:2022-07-30 10:15:42 125 0123 5", "message:#note", "checksum error", "reply:"}},
};

std::vector<std::string> Feed(const Case& c, const std::vector<size_t>& cuts, int* fill) {
    FakeSink sink(c.protocol, c.command, c.reply_lines);
    LineAssembler assembler;
    size_t start = 0;
    for (size_t cut : cuts) {
        assembler.AssembleLines(reinterpret_cast<const uint8_t*>(c.bytes.data()) + start,
                                static_cast<int>(cut - start), sink);
        EXPECT_GE(assembler.FillCount(), 0);
        EXPECT_LT(assembler.FillCount(), LineAssembler::kBufferSize);
        start = cut;
    }
    *fill = assembler.FillCount();
    return sink.events;
}

TEST(LineAssembler, EveryCaseGivesTheSameLinesHoweverTheBytesAreCut) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const size_t n = c.bytes.size();
        std::vector<std::vector<size_t>> splits;
        splits.push_back({n});  // whole
        std::vector<size_t> one_by_one;
        for (size_t i = 1; i <= n; ++i) one_by_one.push_back(i);
        splits.push_back(one_by_one);
        std::mt19937 rng(static_cast<unsigned>(n));
        for (int seed = 0; seed < 20; ++seed) {
            std::vector<size_t> cuts;
            for (size_t at = 0; at < n;) {
                at = std::min(n, at + 1 + rng() % 7);
                cuts.push_back(at);
            }
            splits.push_back(cuts);
        }
        for (const auto& cuts : splits) {
            int fill = -1;
            ASSERT_EQ(Feed(c, cuts, &fill), c.events) << cuts.size() << " chunks";
            ASSERT_EQ(fill, c.fill_after) << cuts.size() << " chunks";
        }
    }
}

TEST(LineAssembler, KeepsItsPartialLineAcrossCallsAndIgnoresEmptyChunks) {
    FakeSink sink(1, u"get", 1);
    LineAssembler assembler;
    const std::string a = "123456";
    const std::string b = "789 4b37\n";
    assembler.AssembleLines(reinterpret_cast<const uint8_t*>(a.data()), static_cast<int>(a.size()), sink);
    assembler.AssembleLines(nullptr, 0, sink);
    assembler.AssembleLines(reinterpret_cast<const uint8_t*>(b.data()), -1, sink);
    EXPECT_EQ(assembler.FillCount(), 6);
    assembler.AssembleLines(reinterpret_cast<const uint8_t*>(b.data()), static_cast<int>(b.size()), sink);
    EXPECT_EQ(sink.events, std::vector<std::string>{"reply:123456789"});
    EXPECT_EQ(assembler.FillCount(), 0);
}

// A sink that answers a line by feeding the assembler again (as a dialog might through nested messages)
// must find it ready for a new line.
TEST(LineAssembler, SinkMayFeedTheAssemblerAgain) {
    struct ReentrantSink : FakeSink {
        ReentrantSink() : FakeSink(0, u"", 0) {}
        void OnReplyLine(std::u16string line) override {
            FakeSink::OnReplyLine(line);
            if (line == u"first")
                assembler.AssembleLines(reinterpret_cast<const uint8_t*>("inner\n"), 6, *this);
        }
        LineAssembler assembler;
    } sink;
    sink.assembler.AssembleLines(reinterpret_cast<const uint8_t*>("first\nlast\n"), 11, sink);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"reply:first", "reply:inner", "reply:last"}));
}

}  // namespace
}  // namespace korvel
