#include "reader/COM_Thread.h"

#include <stdexcept>
#include <utility>

#include "platform/Files.h"

namespace {

constexpr uint32_t PauseMs = 1000;
constexpr int32_t ReaderBaud = 9600;  // what the reader speaks when nothing else is configured

// A line the sink cannot take costs that line only, never the card of the cycle.
TLineSink LinesOnly(TLineSink sink) {
    return [sink = std::move(sink)](int32_t level, std::string_view text) {
        try {
            if (sink) sink(level, text);
        } catch (...) {
        }
    };
}

}  // namespace

TCOMThread::TCOMThread(int32_t PortNumber, int32_t BaudRate, int32_t Bits, TCardSink CardSink, TLineSink LineSink)
    : CardSink(std::move(CardSink)),
      LineSink(LinesOnly(std::move(LineSink))),
      Thread([this] { Execute(); }),
      PortNumber(PortNumber),
      BaudRate(BaudRate),
      Bits(AppliedBits(Bits)) {
    OpenPort();  // on failure the members unwind: the suspended thread ends unrun, the events close
    Thread.Resume();
    Started = true;
}

TCOMThread::~TCOMThread() {
    if (Started) {
        Stop();
        WaitFor();
    }
}

void TCOMThread::OpenPort() {
    const std::string path = platform::SerialPort::DevicePath(PortNumber);
    uint32_t error = 0;
    // A baud rate that is no rate at all would leave the line at whatever it had.
    if (!Port.Open(path, BaudRate > 0 ? BaudRate : ReaderBaud, &error)) {
        // The host's message stays the bare one; the log says why (missing, or held elsewhere).
        LineSink(1, "      Open error " + path + ": " + platform::SystemErrorReason(error));
        throw std::runtime_error("Open error " + path);
    }
}

uint32_t TCOMThread::ReadPort(void* buffer, uint32_t count) { return Port.Read(buffer, count); }

bool TCOMThread::WritePort(const void* bytes, uint32_t count) { return Port.Write(bytes, count, &LastWriteError); }

void TCOMThread::Stop() {
    // The request first, so that a wait ended by the events finds it already set.
    TerminateRequest.store(true, std::memory_order_release);
    Port.Cancel();
    PauseEnd.Set();
}

void TCOMThread::WaitFor() { Thread.Join(); }

uint32_t TCOMThread::ThreadID() const { return Thread.Id(); }

// One poll: the frame out, the answer in, its card (if any) handed on. What the cycle came to
// goes to the watch, unless a stop cut it short.
void TCOMThread::Cycle(TAnswerBuffer& AnswerBuffer, TReaderWatch& watch) {
    const bool written = SendPoll(*this);
    if (Terminated()) return;
    watch.PollWritten(written, LastWriteError);
    uint32_t length = 0;
    const bool answered = written && ReadAnswer(*this, AnswerBuffer, length, LineSink);
    if (Terminated()) return;
    if (!answered) {
        watch.NoAnswer();
        return;
    }
    watch.AnswerAccepted();
    if (CarriesCardNumber(length)) CardSink(CardNumberText(CardNumberField(AnswerBuffer), Bits));
}

void TCOMThread::Execute() {
    TAnswerBuffer AnswerBuffer{};
    TReaderWatch watch(platform::SerialPort::DevicePath(PortNumber), LineSink);
    if (Terminated()) return;
    do {
        try {
            Cycle(AnswerBuffer, watch);
        } catch (...) {
            // Whatever goes wrong in one cycle (memory, a log failure) costs that cycle, not the
            // reader: nobody would notice a polling thread that ended, and no card would come.
        }
        PauseEnd.Wait(PauseMs);
    } while (!Terminated());
}
