#include "reader/COM_Thread.h"

// Not yet polling: the serial channel and the poll cycle come with the reader subsystem.
TCOMThread::TCOMThread(int32_t PortNumber, int32_t BaudRate, int32_t Bits)
    : PortNumber(PortNumber), BaudRate(BaudRate), Bits(Bits) {}
TCOMThread::~TCOMThread() = default;
void TCOMThread::Stop() {}
void TCOMThread::WaitFor() {}
uint32_t TCOMThread::ThreadID() const { return 0; }
