// SPDX-License-Identifier: MIT
#include "protocol/line_assembler.h"

#include <cstring>
#include <string_view>

#include "protocol/checked_line.h"
#include "protocol/crc16.h"
#include "text/utf8.h"

namespace korvel {
namespace {

bool IsChecksummedCommand(const std::u16string& command) { return command == u"get" || command == u"info"; }

// Strips a valid suffix from `text`; false when the line fails its checksum.
bool CheckAndStrip(std::string_view& text) {
    const auto split = SplitChecksum(text);
    if (!split || Crc16(split->text) != split->Expected()) return false;
    text = split->text;
    return true;
}

}  // namespace

void LineAssembler::AssembleLines(const uint8_t* bytes, int count, LineSink& sink) {
    if (bytes == nullptr || count <= 0) return;
    for (const uint8_t* p = bytes; p != bytes + count; ++p) {
        const uint8_t b = *p;
        if (b == '\r') continue;
        if (b == '\n') {
            HandleLine(sink);
            continue;
        }
        buffer_[fill_++] = static_cast<char>(b);
        if (fill_ == kBufferSize) fill_ = 0;  // overlong: only the tail of the line survives
    }
}

void LineAssembler::HandleLine(LineSink& sink) {
    const int32_t fill = fill_;
    buffer_[fill] = '\0';
    std::string_view text(buffer_, ::strnlen(buffer_, static_cast<size_t>(fill)));
    // The assembler is ready for the next line before the sink runs, so the sink may feed it again.
    fill_ = 0;

    if (fill > 0 && buffer_[0] == '#') {
        sink.OnDeviceMessage(Utf8ToWide(text));
        return;
    }
    const bool tested =
        sink.Protocol() != 0 && fill > 0 && sink.ReplyLines() > 0 && IsChecksummedCommand(sink.Command());
    if (tested && !CheckAndStrip(text)) {
        sink.OnChecksumError();
        return;
    }
    sink.OnReplyLine(Utf8ToWide(text));
}

}  // namespace korvel
