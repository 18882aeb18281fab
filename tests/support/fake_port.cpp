// SPDX-License-Identifier: MIT
#include "support/fake_port.h"

#include <algorithm>

namespace korvel::testing {

std::string FakeDevice::Written() const {
    std::string all;
    for (const std::string& w : writes) all += w;
    return all;
}

void FakeDevice::Deliver(std::string_view bytes) {
    while (!bytes.empty() && open_ && on_data_) {
        const size_t n = std::min<size_t>(bytes.size(), 255);
        const std::string chunk(bytes.substr(0, n));
        bytes.remove_prefix(n);
        auto handler = on_data_;
        post_([handler, chunk] {
            handler(reinterpret_cast<const uint8_t*>(chunk.data()), static_cast<int>(chunk.size()));
        });
    }
}

void FakeDevice::Lose() {
    refuse = FailureKind::Absent;
    if (!open_ || !on_lost_) return;
    auto handler = std::move(on_lost_);
    on_lost_ = nullptr;
    on_data_ = nullptr;
    post_(handler);
}

bool FakePort::StartReader(UiPost post, DataHandler on_data, LostHandler on_lost) {
    if (device_->reader_fails) return false;
    device_->events.push_back("reader " + number_);
    device_->post_ = std::move(post);
    device_->on_data_ = std::move(on_data);
    device_->on_lost_ = std::move(on_lost);
    return true;
}

void FakePort::SetDtr(bool raised) {
    if (closed_) return;
    device_->events.push_back((raised ? "dtr+ " : "dtr- ") + number_);
    SetLine(raised);
}

void FakePort::SetLine(bool raised) {
    if (device_->dtr && !raised) ++device_->dtr_drops;
    device_->dtr = raised;
}

void FakePort::Write(const uint8_t* bytes, size_t length, unsigned timeout_ms) {
    if (closed_) return;
    device_->writes.emplace_back(reinterpret_cast<const char*>(bytes), length);
    device_->write_timeouts.push_back(timeout_ms);
}

void FakePort::Close() {
    if (closed_) return;
    SetLine(false);
    closed_ = true;
    device_->events.push_back("close " + number_);
    device_->open_ = false;
    device_->on_data_ = nullptr;
    device_->on_lost_ = nullptr;
    ++device_->closes;
}

PortOpener FakeOpener(std::shared_ptr<FakeDevice> device) {
    return [device](const std::string& path, uint32_t baud, Failure& failure) -> std::unique_ptr<Port> {
        ++device->open_attempts;
        device->path = path;
        device->baud = baud;
        device->events.push_back("open " + path + " " + std::to_string(baud));
        if (device->refuse != FailureKind::None) {
            failure.kind = device->refuse;
            failure.message = device->refuse_message;
            return nullptr;
        }
        failure = Failure{};
        ++device->opens;
        device->open_ = true;
        return std::make_unique<FakePort>(device, device->opens);
    };
}

UiPost ImmediatePost() {
    return [](std::function<void()> f) { f(); };
}

}  // namespace korvel::testing
