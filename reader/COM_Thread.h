// The polling thread: owns the serial port, polls the reader once a second and hands
// every card number it reads to the host through DeliverCard.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/Sync.h"

class TCOMThread {
public:
    // Opens the port and starts polling; throws std::runtime_error("Open error \\.\COM<n>")
    // when the port cannot be opened, leaving nothing behind.
    TCOMThread(int32_t PortNumber, int32_t BaudRate, int32_t Bits);
    ~TCOMThread();
    TCOMThread(const TCOMThread&) = delete;
    TCOMThread& operator=(const TCOMThread&) = delete;

    void Stop();            // cuts a read or write wait short and requests the end
    void WaitFor();         // until the thread has ended
    uint32_t ThreadID() const;

private:
    int32_t PortNumber;
    int32_t BaudRate;
    int32_t Bits;
};
