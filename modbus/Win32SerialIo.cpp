#include <windows.h>

#include <algorithm>

#include "MonotonicClock.h"
#include "SerialIo.h"
#include "StopSignal.h"
#include "TransmitDrain.h"
#include "Win32Text.h"

namespace {

// Driver queues of this size are asked for in both directions.
constexpr DWORD kQueueBytes = 4096;
// How long a cancelled transfer may take to end before the port is given up.
constexpr DWORD kCancelLimitMs = 1000;

// The cause the operator can act on, for the error of the call that failed.
TOpenFailure SystemFailure(const char* call, DWORD error) {
    TOpenCause cause = TOpenCause::Other;
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_UNIT:
            cause = TOpenCause::NoDevice;
            break;
        // Windows answers a COM port that another program holds with "access denied".
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            cause = TOpenCause::Busy;
            break;
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED:
            cause = TOpenCause::NotSerial;
            break;
        default:
            break;
    }
    return {cause, std::string(call) + ": " + Win32ErrorText(error)};
}

// Waits for the transfer's event or the stop request, whichever comes first, for at most
// milliseconds; true when the transfer's event came.
bool WaitForTransfer(HANDLE transferEvent, const TStopSignal& stop, int milliseconds) {
    HANDLE handles[2] = {transferEvent, stop.Event()};
    const DWORD count = stop.Event() != nullptr ? 2 : 1;
    const DWORD result = WaitForMultipleObjects(count, handles, FALSE,
                                                static_cast<DWORD>(std::max(milliseconds, 0)));
    return result == WAIT_OBJECT_0 && !stop.Requested();
}

class TWin32SerialIo final : public TSerialIo {
public:
    ~TWin32SerialIo() override { Close(); }

    bool Open(const std::string& path, int32_t baud, TOpenFailure& failure) override {
        Close();
        if (baud <= 0) {
            failure = {TOpenCause::Speed, std::to_string(baud) + " baud"};
            return false;
        }
        // Exclusive use (no sharing), overlapped, so that every wait can also wait for a stop.
        port_ = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (port_ == INVALID_HANDLE_VALUE) {
            port_ = nullptr;
            failure = SystemFailure("CreateFile", GetLastError());
            return false;
        }
        readEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        writeEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (readEvent_ == nullptr || writeEvent_ == nullptr) {
            failure = SystemFailure("CreateEvent", GetLastError());
        } else {
            failure = Configure(baud);
        }
        if (failure.Cause != TOpenCause::None) {
            Close();
            return false;
        }
        baud_ = baud;
        return true;
    }

    bool Close() override {
        if (port_ == nullptr) {
            return false;
        }
        PurgeComm(port_, PURGE_TXABORT | PURGE_RXABORT);
        // Closing the handle also ends any transfer still pending, so the events go after it.
        const bool closed = CloseHandle(port_) != 0;
        port_ = nullptr;
        for (HANDLE* event : {&readEvent_, &writeEvent_}) {
            if (*event != nullptr) {
                CloseHandle(*event);
                *event = nullptr;
            }
        }
        return closed;
    }

    bool IsOpen() const override { return port_ != nullptr; }

    bool Discard(bool input, bool output) override {
        if (port_ == nullptr) {
            return false;
        }
        const DWORD flags = (input ? PURGE_RXABORT | PURGE_RXCLEAR : 0) |
                            (output ? PURGE_TXABORT | PURGE_TXCLEAR : 0);
        return flags == 0 || PurgeComm(port_, flags) != 0;
    }

    bool SetModemLine(TModemLine line, bool raised) override {
        if (port_ == nullptr) {
            return false;
        }
        const DWORD function =
            line == TModemLine::Dtr ? (raised ? SETDTR : CLRDTR) : (raised ? SETRTS : CLRRTS);
        return EscapeCommFunction(port_, function) != 0;
    }

    bool Write(const uint8_t* data, size_t count, size_t& written, uint32_t limitMs,
               const TStopSignal& stop) override {
        written = 0;
        if (port_ == nullptr || count > MAXDWORD || stop.Requested()) {
            return false;
        }
        const TDeadline deadline(limitMs);
        Begin(write_, writeEvent_);
        DWORD done = 0;
        if (!WriteFile(port_, data, static_cast<DWORD>(count), &done, &write_)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                return false;
            }
            // A driver that never takes the bytes (flow control left on by an earlier user of
            // the port) must not hold the link: the wait has the same bound as on Linux.
            if (!WaitForTransfer(writeEvent_, stop, deadline.RemainingMs())) {
                Cancel(write_);
                return false;
            }
            if (!GetOverlappedResult(port_, &write_, &done, FALSE)) {
                return false;
            }
        }
        written = done;
        // The write ends when the driver has taken the bytes; they may still be in its queue or
        // in the UART, and the direction line must not turn before they are on the line.
        return done == count &&
               WaitUntilSent([this] { return OutputState(); }, count, baud_, stop, deadline);
    }

    bool Read(uint8_t* buffer, size_t capacity, uint32_t waitMs, size_t& got,
              const TStopSignal& stop) override {
        got = 0;
        if (port_ == nullptr || stop.Requested()) {
            return false;
        }
        if (!SetCommMask(port_, EV_RXCHAR)) {
            return false;
        }
        const DWORD held = WaitForInput(stop, TDeadline(waitMs));
        // Clearing the mask also ends a wait for a port event that is still pending.
        const bool read = held > 0 && held <= capacity && ReadHeld(buffer, held, got);
        SetCommMask(port_, 0);
        return read;
    }

private:
    TOpenFailure Configure(int32_t baud) {
        // Only these fields change: flow control, the modes of DTR and RTS and the special
        // characters stay as the driver reported them.
        DCB line{};
        line.DCBlength = sizeof line;
        if (!GetCommState(port_, &line)) {
            return SystemFailure("GetCommState", GetLastError());
        }
        line.fBinary = 1;
        line.BaudRate = static_cast<DWORD>(baud);
        line.ByteSize = 8;
        line.Parity = NOPARITY;
        line.StopBits = ONESTOPBIT;
        if (!SetCommState(port_, &line)) {
            // The driver refuses the rate (or another field) with "invalid parameter".
            const DWORD error = GetLastError();
            TOpenFailure failure = SystemFailure("SetCommState", error);
            if (error == ERROR_INVALID_PARAMETER) {
                failure.Cause = TOpenCause::Speed;
            }
            return failure;
        }
        // No driver time-outs: every wait is bounded by Read and Write themselves.
        COMMTIMEOUTS timeouts{};
        if (!GetCommTimeouts(port_, &timeouts)) {
            return SystemFailure("GetCommTimeouts", GetLastError());
        }
        timeouts = COMMTIMEOUTS{};
        if (!SetCommTimeouts(port_, &timeouts)) {
            return SystemFailure("SetCommTimeouts", GetLastError());
        }
        if (!SetupComm(port_, kQueueBytes, kQueueBytes)) {
            return SystemFailure("SetupComm", GetLastError());
        }
        return {};
    }

    // Windows shows the output queue (ClearCommError) but no state of the transmitter that a wait
    // could use. A port event (EV_TXEMPTY) is not used: the mask belongs to the read's wait for
    // characters, and wine ends such waits at once on a pseudo-terminal.
    TOutputState OutputState() const {
        TOutputState state;
        DWORD errors = 0;
        COMSTAT status{};
        if (ClearCommError(port_, &errors, &status)) {
            state.Queued = status.cbOutQue;
        }
        return state;
    }

    // The number of bytes the driver holds, once there are any; 0 when the deadline passed, a
    // stop was requested or the port failed. Bytes already held end the wait at once. A port
    // event that ends without characters (a wait the driver aborted) is no time-out: the driver
    // is asked again until the deadline.
    DWORD WaitForInput(const TStopSignal& stop, const TDeadline& deadline) {
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(port_, &errors, &status)) {
                return 0;
            }
            if (status.cbInQue > 0) {
                return status.cbInQue;
            }
            const int remaining = deadline.RemainingMs();
            if (remaining == 0 || stop.Requested()) {
                return 0;
            }
            Begin(read_, readEvent_);
            eventMask_ = 0;
            bool ended = WaitCommEvent(port_, &eventMask_, &read_) != 0;
            if (!ended) {
                const DWORD error = GetLastError();
                if (error != ERROR_IO_PENDING && error != ERROR_OPERATION_ABORTED) {
                    return 0;
                }
                if (error == ERROR_IO_PENDING) {
                    if (!WaitForTransfer(readEvent_, stop, remaining)) {
                        Cancel(read_);
                        return 0;
                    }
                    DWORD ignored = 0;
                    ended = GetOverlappedResult(port_, &read_, &ignored, FALSE) != 0;
                }
            }
            // Some drivers end the wait without an event at once and again and again: a short
            // pause, cut by a stop, keeps that from spinning until the deadline.
            if ((!ended || (eventMask_ & EV_RXCHAR) == 0) && !stop.WaitFor(1)) {
                return 0;
            }
        }
    }

    // Reads exactly the bytes the driver holds. They are there already, so the driver completes
    // the read at once; one that still pends gets a short bound and is then cancelled.
    bool ReadHeld(uint8_t* buffer, DWORD held, size_t& got) {
        Begin(read_, readEvent_);
        DWORD done = 0;
        if (!ReadFile(port_, buffer, held, &done, &read_)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                return false;
            }
            if (WaitForSingleObject(readEvent_, kCancelLimitMs) != WAIT_OBJECT_0) {
                Cancel(read_);
                return false;
            }
            if (!GetOverlappedResult(port_, &read_, &done, FALSE)) {
                return false;
            }
        }
        got = done;
        return done > 0;
    }

    static void Begin(OVERLAPPED& transfer, HANDLE event) {
        transfer = OVERLAPPED{};
        transfer.hEvent = event;
        ResetEvent(event);
    }

    // Ends a pending transfer before its record is used again. A driver that does not end it
    // within the bound loses the port: closing the handle ends every transfer.
    void Cancel(OVERLAPPED& transfer) {
        CancelIoEx(port_, &transfer);
        if (WaitForSingleObject(transfer.hEvent, kCancelLimitMs) != WAIT_OBJECT_0) {
            Close();
            return;
        }
        DWORD ignored = 0;
        GetOverlappedResult(port_, &transfer, &ignored, FALSE);
    }

    HANDLE port_ = nullptr;
    HANDLE readEvent_ = nullptr;
    HANDLE writeEvent_ = nullptr;
    // The transfers' records and the event mask belong to the object, not to a call: a transfer
    // that a driver ends late still writes into them.
    OVERLAPPED read_{};
    OVERLAPPED write_{};
    DWORD eventMask_ = 0;
    int32_t baud_ = 9600;
};

}  // namespace

std::unique_ptr<TSerialIo> MakePlatformSerialIo() {
    return std::make_unique<TWin32SerialIo>();
}

std::string PlatformPortPath(uint8_t port) {
    return "\\\\.\\COM" + std::to_string(port);
}
