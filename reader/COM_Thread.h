// The reader link. Owns: the polling thread, the serial port it holds, the frame protocol.
// Uses: platform/ for the port, the thread and the events; nothing above. What it reads goes
// out through the sinks it is given at creation: card numbers (the driver's DeliverCard), trace
// and fault lines (the driver's log), and, when given, the port's state.
//
// A port that goes away (a USB adapter unplugged, a reader power-cycled with its adapter) is
// closed and opened again once each poll period with the same settings until it opens; polling
// then goes on as after a start. A reader that merely stays silent is not reopened.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/Serial.h"
#include "platform/Sync.h"
#include "reader/Frame_Protocol.h"
#include "reader/Reader_Watch.h"

// Where the decimal text of each card number read goes; called on the polling thread.
using TCardSink = std::function<void(const std::string& text)>;

// A port that does not open: the host's bare message, and the system's code behind it.
class EPortOpenError : public std::runtime_error {
public:
    EPortOpenError(const std::string& message, uint32_t systemError)
        : std::runtime_error(message), SystemError(systemError) {}
    uint32_t SystemError;
};

// The port as the polling thread last found it, for an owner that shows a status.
struct TPortState {
    bool Open = true;          // false from a loss of the port until it has been opened again
    uint32_t SystemError = 0;  // the system's code of the last failed write, read or reopen;
                               // 0 again once a poll is written and read without one
    bool operator==(const TPortState&) const = default;
};
// Told on the polling thread: once as polling begins ({true, 0}), then on every change.
// It must return quickly and must not call back into the thread object.
using TPortSink = std::function<void(const TPortState& state)>;

class TCOMThread : private IByteLink {
public:
    // Opens the port and starts polling; throws EPortOpenError("Open error \\.\COM<n>") when the
    // port cannot be opened, leaving no thread, port or event behind. What each finished poll
    // came to goes to PollSink (when given), before the poll's card goes to CardSink; the port's
    // state (lost, open again) to PortSink.
    TCOMThread(int32_t PortNumber, int32_t BaudRate, int32_t Bits, TCardSink CardSink, TLineSink LineSink,
               TPollSink PollSink = nullptr, TPortSink PortSink = {});
    // Ends the thread first (as Stop and WaitFor would) if it still runs.
    ~TCOMThread();
    TCOMThread(const TCOMThread&) = delete;
    TCOMThread& operator=(const TCOMThread&) = delete;

    // From any thread: cuts a read, write, pause or wait to reopen short and requests the end.
    void Stop();
    // Until the thread has ended.
    void WaitFor();
    uint32_t ThreadID() const;
    int32_t EffectiveBits() const { return static_cast<int32_t>(Bits); }

private:
    void OpenPort();
    uint32_t ReadPort(void* buffer, uint32_t count) override;
    bool WritePort(const void* bytes, uint32_t count) override;
    void Execute();
    void Cycle(TAnswerBuffer& AnswerBuffer, TReaderWatch& watch);
    void PortLost(uint32_t error);
    bool Reopen();
    void TellPort(bool open, uint32_t error);
    bool Terminated() const { return TerminateRequest.load(std::memory_order_acquire); }

    const TCardSink CardSink;
    const TLineSink LineSink;
    const TPollSink PollSink;
    const TPortSink PortSink;
    platform::Thread Thread;      // created suspended, resumed once the port is open
    platform::SerialPort Port;    // the port handle with the read and write events
    platform::Event PauseEnd;     // lets Stop end the pause between two polls
    int32_t PortNumber;
    int32_t BaudRate;
    uint32_t Bits;
    uint32_t LastWriteError = 0;  // the system's code of the last failed write
    uint32_t LastReadError = 0;   // the first failed read of the cycle, time-outs aside
    bool PortGone = false;        // closed after a loss, not yet open again
    TPortState Told{false, 0};    // what PortSink was last told
    std::atomic<bool> TerminateRequest{false};
    bool Started = false;
};
