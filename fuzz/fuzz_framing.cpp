// SPDX-License-Identifier: MIT
// Framing with the checksum test on. The first input bytes choose the protocol level, the command and
// the chunk sizes; the rest is the received stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/line_assembler.h"
#include "text/utf8.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

class CheckingSink : public korvel::LineSink {
  public:
    CheckingSink(int protocol, std::u16string command) : protocol_(protocol), command_(std::move(command)) {}

    int Protocol() const override { return protocol_; }
    int ReplyLines() const override { return reply_lines_; }
    const std::u16string& Command() const override { return command_; }
    void OnDeviceMessage(std::u16string text) override {
        CheckLine(text);
        Check(!text.empty() && text[0] == u'#');
        events.push_back(u"message:" + text);
    }
    void OnChecksumError() override {
        Check(protocol_ != 0 && reply_lines_ > 0 && (command_ == u"get" || command_ == u"info"));
        events.push_back(u"checksum error");
    }
    void OnReplyLine(std::u16string line) override {
        CheckLine(line);
        ++reply_lines_;
        events.push_back(u"reply:" + line);
    }

    std::vector<std::u16string> events;

  private:
    static void CheckLine(const std::u16string& line) {
        // One UTF-16 unit per byte at most, and never more bytes than the buffer holds.
        Check(line.size() < korvel::LineAssembler::kBufferSize);
        for (char16_t c : line) Check(c != u'\n' && c != u'\r' && c != u'\0');
        // The delivered text is well-formed: encoding it again gives UTF-8 that decodes to itself.
        Check(korvel::Utf8ToWide(korvel::WideToUtf8(line)) == line);
    }

    int protocol_;
    std::u16string command_;
    int reply_lines_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const std::u16string kCommands[] = {u"get", u"info", u"time", u""};
    const int protocol = data[0] & 3;  // 0 switches the test off
    const std::u16string& command = kCommands[(data[0] >> 2) & 3];
    const size_t chunk = 1 + data[1] % 64;
    data += 2;
    size -= 2;

    CheckingSink sink(protocol, command);
    korvel::LineAssembler assembler;
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        assembler.AssembleLines(data + at, static_cast<int>(n), sink);
        Check(assembler.FillCount() >= 0 && assembler.FillCount() < korvel::LineAssembler::kBufferSize);
    }

    // However the stream was cut, it gives the same lines as in one piece.
    CheckingSink whole(protocol, command);
    korvel::LineAssembler one_piece;
    one_piece.AssembleLines(data, static_cast<int>(size), whole);
    Check(whole.events == sink.events);
    Check(one_piece.FillCount() == assembler.FillCount());
    return 0;
}
