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

TCOMThread::TCOMThread(int32_t PortNumber, int32_t BaudRate, int32_t Bits, TCardSink CardSink, TLineSink LineSink,
                       TPollSink PollSink, TPortSink PortSink)
    : CardSink(std::move(CardSink)),
      LineSink(LinesOnly(std::move(LineSink))),
      PollSink(std::move(PollSink)),
      PortSink(std::move(PortSink)),
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
        throw EPortOpenError("Open error " + path, error);
    }
}

uint32_t TCOMThread::ReadPort(void* buffer, uint32_t count) {
    uint32_t error = 0;
    const uint32_t got = Port.Read(buffer, count, &error);
    if (error && !LastReadError) LastReadError = error;
    return got;
}

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
    LastReadError = 0;
    const bool written = SendPoll(*this);
    if (Terminated()) return;
    if (!written && !platform::SerialPort::IsTimeOut(LastWriteError)) return PortLost(LastWriteError);
    watch.PollWritten(written, LastWriteError);
    uint32_t length = 0;
    const bool answered = written && ReadAnswer(*this, AnswerBuffer, length, LineSink);
    if (Terminated()) return;
    if (!answered && LastReadError) return PortLost(LastReadError);
    TellPort(true, written ? 0 : LastWriteError);
    if (!answered) {
        watch.NoAnswer();
        return;
    }
    watch.AnswerAccepted();
    if (CarriesCardNumber(length)) CardSink(CardNumberText(CardNumberField(AnswerBuffer), Bits));
}

// The port is closed at once, so that the system can give its name to the device when it comes
// back; the loss is told once, whatever the attempts to reopen it meet.
void TCOMThread::PortLost(uint32_t error) {
    Port.Close();
    PortGone = true;
    TellPort(false, error);
    LineSink(1, "      Reopening " + platform::SerialPort::DevicePath(PortNumber) +
                    " after: " + platform::SystemErrorReason(error));
}

bool TCOMThread::Reopen() {
    const std::string path = platform::SerialPort::DevicePath(PortNumber);
    uint32_t error = 0;
    if (!Port.Open(path, BaudRate > 0 ? BaudRate : ReaderBaud, &error)) {
        TellPort(false, error);
        return false;
    }
    PortGone = false;
    TellPort(true, 0);
    LineSink(1, "      " + path + " is open again");
    return true;
}

void TCOMThread::TellPort(bool open, uint32_t error) {
    const TPortState now{open, error};
    if (now == Told) return;
    Told = now;
    try {
        if (PortSink) PortSink(now);
    } catch (...) {
        // the owner's status is its own affair: the polling goes on
    }
}

void TCOMThread::Execute() {
    TAnswerBuffer AnswerBuffer{};
    TReaderWatch watch(platform::SerialPort::DevicePath(PortNumber), LineSink, PollSink);
    if (Terminated()) return;
    TellPort(true, 0);  // polling begins
    do {
        try {
            // A port that came back is polled at once, as after a start; one that did not waits
            // for the next period.
            if (!PortGone || Reopen()) Cycle(AnswerBuffer, watch);
        } catch (...) {
            // Whatever goes wrong in one cycle (memory, a log failure) costs that cycle, not the
            // reader: nobody would notice a polling thread that ended, and no card would come.
        }
        PauseEnd.Wait(PauseMs);
    } while (!Terminated());
}
