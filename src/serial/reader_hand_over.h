// SPDX-License-Identifier: MIT
// The threading contract between a port's reader thread and the user-interface thread, shared by the
// ports of every OS: one chunk at a time, in arrival order, and a close that never waits for a reader
// that waits for the user-interface thread.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/ui_post.h"
#include "serial/port.h"

namespace korvel {

class ReaderHandOver {
  public:
    static constexpr int kMaxChunk = 255;

    ReaderHandOver();

    // Before the reader starts.
    void SetHandlers(Port::DataHandler on_data, Port::LostHandler on_lost);

    // Reader thread: where the next chunk is read into (kMaxChunk bytes); stable until HandOver returns.
    uint8_t* Buffer();
    // Reader thread: hands the first count bytes of Buffer() to on_data on the user-interface thread and
    // waits until they were handled. False when the port is closing; a chunk pending then is dropped.
    bool HandOver(const UiPost& post, int count);
    // Reader thread: on_lost runs once on the user-interface thread, unless the port is closing by then.
    void ReportLost(const UiPost& post);

    // User-interface thread, at the start of a close: releases a reader waiting in HandOver, and makes
    // every hand-over still queued do nothing.
    void BeginClose();
    bool Closing() const;

  private:
    struct State;
    // The posted closures keep the state alive, so a hand-over that runs after the port has gone finds
    // it closing and does nothing.
    std::shared_ptr<State> state_;
};

}  // namespace korvel
