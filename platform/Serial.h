// A serial port as the reader link needs it: open with the line settings and time-outs,
// one read, one write, and a way for another thread to cut a wait short for good.
// Thin on purpose: the frame protocol and the poll cycle live in reader/.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// The line's time-outs in milliseconds, as Win32 COMMTIMEOUTS has them: a read ends after
// ReadInterval of silence between two bytes or after ReadConstant + ReadPerByte per byte asked
// for in all; a write after WriteConstant + WritePerByte per byte.
struct SerialTimeouts {
    uint32_t ReadInterval, ReadPerByte, ReadConstant, WritePerByte, WriteConstant;
};
inline constexpr SerialTimeouts LineTimeouts{15, 15, 300, 30, 100};

class SerialPort {
public:
    // Creates the read event, then the write event; the port itself is opened by Open.
    SerialPort();
    // Closes the port (if it was opened) and both events. Only once no read or write runs.
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // The name the system opens for port n: "\\.\COM<n>" on Windows. On POSIX the environment
    // variable KRA_COM<n> names the device (a pty in the tests), else /dev/ttyS<n-1>.
    static std::string DevicePath(int32_t portNumber);

    // Opens the device exclusively, 8N1, DTR on, no flow control, at baudRate, with the
    // LineTimeouts. False when the device cannot be opened, *error (when given) then holding the
    // system's error code; a port another driver holds gives the sharing violation (32 on
    // Windows, EBUSY on POSIX). A refused setting is ignored. A port already open is closed first.
    bool Open(const std::string& devicePath, int32_t baudRate, uint32_t* error = nullptr);
    // Closes the device (the events stay, and so does a Cancel); Open may follow. Only from the
    // thread that reads and writes, never while a read or write runs.
    void Close();
    // After a successful Open: 0 when the line took baudRate, else the system's error code of the
    // refused setting (the line then runs at the speed it had).
    uint32_t SpeedError() const;

    // Reads up to count bytes: returns what arrived before the time-outs ran out, 0 on any
    // failure or after Cancel. Bytes that arrive later stay queued for the next read. *error,
    // when given, is 0 for a read that ended normally or on the time-outs, else the system's code.
    uint32_t Read(void* buffer, uint32_t count, uint32_t* error = nullptr);
    // Writes count bytes in one call; true when the write succeeded (a short one included).
    // On failure *error, when given, holds the system's error code.
    bool Write(const void* bytes, uint32_t count, uint32_t* error = nullptr);
    // Whether a failed write's code means only that the line took nothing in time (flow stopped):
    // the port itself is still there.
    static bool IsTimeOut(uint32_t error);

    // From any thread: ends a read or write wait in progress at once, and makes every later
    // read and write return at once without touching the line. A cancelled operation has
    // finished (nothing is left pending on the caller's buffer) when Read or Write returns.
    void Cancel();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
