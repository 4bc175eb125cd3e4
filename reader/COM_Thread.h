// The polling thread: owns the serial port, polls the reader once a second and hands
// every card number it reads to the host through DeliverCard.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/Serial.h"
#include "platform/Sync.h"
#include "reader/Frame_Protocol.h"
#include "reader/Reader_Watch.h"

class TCOMThread : private IByteLink {
public:
    // Opens the port and starts polling; throws std::runtime_error("Open error \\.\COM<n>")
    // when the port cannot be opened, leaving no thread, port or event behind.
    TCOMThread(int32_t PortNumber, int32_t BaudRate, int32_t Bits);
    // Ends the thread first (as Stop and WaitFor would) if it still runs.
    ~TCOMThread();
    TCOMThread(const TCOMThread&) = delete;
    TCOMThread& operator=(const TCOMThread&) = delete;

    // From any thread: cuts a read, write or pause in progress short and requests the end.
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
    bool Terminated() const { return TerminateRequest.load(std::memory_order_acquire); }

    platform::Thread Thread;      // created suspended, resumed once the port is open
    platform::SerialPort Port;    // the port handle with the read and write events
    platform::Event PauseEnd;     // lets Stop end the pause between two polls
    int32_t PortNumber;
    int32_t BaudRate;
    uint32_t Bits;
    uint32_t LastWriteError = 0;  // the system's code of the last failed write
    std::atomic<bool> TerminateRequest{false};
    bool Started = false;
};
