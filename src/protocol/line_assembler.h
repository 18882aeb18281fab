// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>

namespace korvel {

// What the line framing reads from, and hands its results to; the dialog implements it.
class LineSink {
  public:
    virtual ~LineSink() = default;
    virtual int Protocol() const = 0;                       // m_nProtocol: 0 switches the checksum test off
    virtual int ReplyLines() const = 0;                     // m_nReplyLines
    virtual const std::u16string& Command() const = 0;      // m_strCommand
    virtual void OnDeviceMessage(std::u16string text) = 0;  // a "#" line, shown in control 1011
    virtual void OnChecksumError() = 0;                     // a line failed its checksum: count it
    virtual void OnReplyLine(std::u16string line) = 0;      // every other line, empty ones included
};

// Cuts the received byte stream into lines. Keeps its partial line across chunks and commands; the
// dialog drops it when its port closes (Reset), so the next connection starts on a line of its own.
class LineAssembler {
  public:
    static constexpr int kBufferSize = 560;

    void AssembleLines(const uint8_t* bytes, int count, LineSink& sink);
    int FillCount() const { return fill_; }
    void Reset() { fill_ = 0; }

  private:
    void HandleLine(LineSink& sink);

    char buffer_[kBufferSize + 1] = {};
    int32_t fill_ = 0;
};

}  // namespace korvel
