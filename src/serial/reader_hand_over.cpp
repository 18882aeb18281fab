// SPDX-License-Identifier: MIT
#include "serial/reader_hand_over.h"

#include <condition_variable>
#include <mutex>

namespace korvel {

struct ReaderHandOver::State {
    mutable std::mutex mutex;
    std::condition_variable handled_cv;
    bool closing = false;
    uint64_t posted = 0;   // sequence number of the chunk last handed over
    uint64_t handled = 0;  // sequence number of the chunk last handled
    int count = 0;
    uint8_t buffer[kMaxChunk + 1];
    Port::DataHandler on_data;
    Port::LostHandler on_lost;
};

ReaderHandOver::ReaderHandOver() : state_(std::make_shared<State>()) {}

void ReaderHandOver::SetHandlers(Port::DataHandler on_data, Port::LostHandler on_lost) {
    state_->on_data = std::move(on_data);
    state_->on_lost = std::move(on_lost);
}

uint8_t* ReaderHandOver::Buffer() { return state_->buffer; }

bool ReaderHandOver::HandOver(const UiPost& post, int count) {
    uint64_t seq;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->closing) return false;
        state_->count = count;
        seq = ++state_->posted;
    }
    post([state = state_, seq] {
        std::unique_lock lock(state->mutex);
        if (state->closing || state->posted != seq) return;
        lock.unlock();
        // The reader waits meanwhile, so the buffer is stable; the handler may close the port.
        state->on_data(state->buffer, state->count);
        lock.lock();
        state->handled = seq;
        state->handled_cv.notify_all();
    });
    std::unique_lock lock(state_->mutex);
    state_->handled_cv.wait(lock, [&] { return state_->closing || state_->handled == seq; });
    return !state_->closing;
}

void ReaderHandOver::ReportLost(const UiPost& post) {
    post([state = state_] {
        {
            std::lock_guard lock(state->mutex);
            if (state->closing) return;
        }
        if (state->on_lost) state->on_lost();
    });
}

void ReaderHandOver::BeginClose() {
    {
        std::lock_guard lock(state_->mutex);
        state_->closing = true;
    }
    state_->handled_cv.notify_all();
}

bool ReaderHandOver::Closing() const {
    std::lock_guard lock(state_->mutex);
    return state_->closing;
}

}  // namespace korvel
