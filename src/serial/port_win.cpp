// SPDX-License-Identifier: MIT
#include <windows.h>

#include <algorithm>
#include <system_error>
#include <thread>

#include "serial/port.h"
#include "serial/reader_hand_over.h"
#include "serial/serial_link.h"
#include "text/failure_texts.h"
#include "text/wide_win.h"

namespace korvel {
namespace {

constexpr DWORD kMaxChunk = ReaderHandOver::kMaxChunk;
constexpr DWORD kQueueSize = 4096;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;  // 0x0F

// What ReadFile, WaitCommEvent or ClearCommError answer once the device behind the handle is gone.
bool IsGoneError(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_BAD_COMMAND || error == ERROR_INVALID_HANDLE ||
           error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_DEVICE_REMOVED ||
           error == ERROR_GEN_FAILURE || error == ERROR_FILE_NOT_FOUND || error == ERROR_NOT_READY;
}

class WinPort final : public Port {
  public:
    WinPort(HANDLE port, HANDLE read_event, HANDLE write_event, HANDLE stop_event)
        : port_(port), read_event_(read_event), write_event_(write_event), stop_event_(stop_event) {}
    ~WinPort() override { Close(); }

    bool StartReader(UiPost post, DataHandler on_data, LostHandler on_lost) override {
        if (closed_ || reader_.joinable() || !post) return false;
        hand_over_.SetHandlers(std::move(on_data), std::move(on_lost));
        try {
            reader_ = std::thread([this, post = std::move(post)] {
                SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
                ReaderLoop(post);
            });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    void SetDtr(bool raised) override {
        if (closed_) return;
        // The result is not examined: Wine's serial driver on a pseudo-terminal fails SETDTR (there are
        // no modem lines), and the port works all the same. Wine also ends a pending WaitCommEvent at
        // once with ERROR_OPERATION_ABORTED and an empty mask while data keeps coming, and lets a
        // second exclusive open succeed; the reader below copes with the early waits.
        EscapeCommFunction(port_, raised ? SETDTR : CLRDTR);
    }

    void Write(const uint8_t* bytes, size_t length, unsigned timeout_ms) override {
        if (closed_ || length == 0) return;
        OVERLAPPED ov{};
        ov.hEvent = write_event_;
        ResetEvent(write_event_);
        DWORD written = 0;
        const DWORD n = static_cast<DWORD>(std::min<size_t>(length, MAXDWORD));
        if (WriteFile(port_, bytes, n, &written, &ov)) return;
        if (GetLastError() != ERROR_IO_PENDING) {
            DWORD errors = 0;
            ClearCommError(port_, &errors, nullptr);
            return;
        }
        // The write timeouts of the port bound the write; the extra second only guards against a driver
        // that ignores them.
        if (WaitForSingleObject(write_event_, timeout_ms + 1000) != WAIT_OBJECT_0) CancelIo(port_);
        if (!GetOverlappedResult(port_, &ov, &written, TRUE)) {
            DWORD errors = 0;
            ClearCommError(port_, &errors, nullptr);
        }
    }

    void Close() override {
        if (closed_) return;
        closed_ = true;
        hand_over_.BeginClose();
        SetEvent(stop_event_);
        SetCommMask(port_, 0);  // ends a pending wait of the reader
        EscapeCommFunction(port_, CLRDTR);
        PurgeComm(port_, kPurgeAll);
        // The reader never waits for this thread once `closing` is set, so the join cannot deadlock;
        // the handle is closed only after the reader is gone, so it never uses a closed or reused one.
        if (reader_.joinable()) reader_.join();
        CloseHandle(port_);
        CloseHandle(read_event_);
        CloseHandle(write_event_);
        CloseHandle(stop_event_);
    }

  private:
    // Waits for an overlapped operation on read_event_; false when the port is closing (the operation
    // is then cancelled and finished, so `ov` may go).
    bool Await(OVERLAPPED& ov, DWORD& count, DWORD& error) {
        const HANDLE events[2] = {read_event_, stop_event_};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
            CancelIo(port_);
            GetOverlappedResult(port_, &ov, &count, TRUE);
            return false;
        }
        error = GetOverlappedResult(port_, &ov, &count, FALSE) ? ERROR_SUCCESS : GetLastError();
        return true;
    }

    enum class Drained { Nothing, Data, Gone, Closing };

    // Hands over everything the driver holds, in chunks of at most 255 bytes.
    Drained Drain(const UiPost& post) {
        Drained result = Drained::Nothing;
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(port_, &errors, &status)) {
                return IsGoneError(GetLastError()) ? Drained::Gone : result;
            }
            const DWORD queued = std::min(status.cbInQue, kMaxChunk);
            if (queued == 0) return result;
            OVERLAPPED ov{};
            ov.hEvent = read_event_;
            ResetEvent(read_event_);
            DWORD count = 0;
            DWORD error = ERROR_SUCCESS;
            if (!ReadFile(port_, hand_over_.Buffer(), queued, &count, &ov)) {
                error = GetLastError();
                if (error == ERROR_IO_PENDING && !Await(ov, count, error)) return Drained::Closing;
            }
            if (error != ERROR_SUCCESS) {
                if (IsGoneError(error)) return Drained::Gone;
                ClearCommError(port_, &errors, nullptr);
                if (count == 0) return result;
            }
            if (count == 0) return result;
            if (!hand_over_.HandOver(post, static_cast<int>(count))) return Drained::Closing;
            result = Drained::Data;
        }
    }

    void ReaderLoop(const UiPost& post) {
        if (!SetCommMask(port_, EV_RXCHAR)) return;
        int idle = 0;  // waits in a row that ended without data
        while (!hand_over_.Closing()) {
            DWORD mask = 0;
            DWORD count = 0;
            DWORD error = ERROR_SUCCESS;
            OVERLAPPED ov{};
            ov.hEvent = read_event_;
            ResetEvent(read_event_);
            if (!WaitCommEvent(port_, &mask, &ov)) {
                error = GetLastError();
                if (error == ERROR_IO_PENDING && !Await(ov, count, error)) return;
            }
            if (error != ERROR_SUCCESS && IsGoneError(error)) {
                hand_over_.ReportLost(post);
                return;
            }
            // Drained after every wake, whatever the mask says: a wait may end early and empty while
            // bytes are queued, and bytes must not lie there until the next character comes.
            switch (Drain(post)) {
                case Drained::Closing:
                    return;
                case Drained::Gone:
                    hand_over_.ReportLost(post);
                    return;
                case Drained::Data:
                    idle = 0;
                    break;
                case Drained::Nothing:
                    // A wait that keeps ending without data must not make the reader spin: a short
                    // pause, growing to 2 ms, that the close ends at once.
                    if (++idle > 1) WaitForSingleObject(stop_event_, idle > 3 ? 2 : 1);
                    break;
            }
        }
    }

    HANDLE port_;
    HANDLE read_event_;
    HANDLE write_event_;
    HANDLE stop_event_;
    bool closed_ = false;
    ReaderHandOver hand_over_;
    std::thread reader_;
};

Failure Fail(FailureKind kind, std::string message) { return {kind, std::move(message)}; }

}  // namespace

std::vector<std::string> FindPortHolders(const std::string&) { return {}; }

Failure DescribeOpenError(int error, const std::string& path) {
    Failure failure = SystemFailure(error, "cannot open " + path);
    switch (failure.kind) {
        case FailureKind::Absent:
            failure.message = failure_text::PortAbsent(path);
            break;
        case FailureKind::PermissionDenied:
        case FailureKind::Busy:
            // A COM port that another program holds answers "access denied" (or a sharing violation).
            failure.kind = FailureKind::Busy;
            failure.message = failure_text::PortBusyAccessDenied(path);
            break;
        default:
            break;  // "cannot open <path>: <the system's words>"
    }
    return failure;
}

std::unique_ptr<Port> OpenSystemPort(const std::string& path, uint32_t baud, Failure& failure) {
    if (path.empty()) {
        failure = Fail(FailureKind::Absent, failure_text::PortWithoutNumber());
        return nullptr;
    }
    const HANDLE port = CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        failure = DescribeOpenError(static_cast<int>(GetLastError()), path);
        return nullptr;
    }
    SetCommMask(port, EV_RXCHAR);
    SetupComm(port, kQueueSize, kQueueSize);
    PurgeComm(port, kPurgeAll);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1000;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = 10;
    timeouts.WriteTotalTimeoutMultiplier = 19200u / baud;
    timeouts.WriteTotalTimeoutConstant = 4;
    SetCommTimeouts(port, &timeouts);

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = TRUE;
    if (!SetCommState(port, &dcb)) {
        CloseHandle(port);
        failure = Fail(FailureKind::Settings, failure_text::PortRefusedRate(path, baud));
        return nullptr;
    }

    // Each port has its own events, so no reader can ever wait on or be woken by a later port's.
    const HANDLE read_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE write_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!read_event || !write_event || !stop_event) {
        const DWORD error = GetLastError();
        for (HANDLE h : {read_event, write_event, stop_event})
            if (h) CloseHandle(h);
        CloseHandle(port);
        failure = SystemFailure(static_cast<int>(error), "cannot open " + path);
        return nullptr;
    }
    return std::make_unique<WinPort>(port, read_event, write_event, stop_event);
}

}  // namespace korvel
