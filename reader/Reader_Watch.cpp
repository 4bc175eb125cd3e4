#include "reader/Reader_Watch.h"

#include <utility>

#include "platform/Files.h"

TReaderWatch::TReaderWatch(std::string devicePath, TLineSink log, TPollSink polls)
    : DevicePath(std::move(devicePath)), Log(std::move(log)), Polls(std::move(polls)) {}

void TReaderWatch::Report(bool answered) {
    const TPollOutcome outcome{answered, WriteError};
    WriteError = 0;
    if (Polls) Polls(outcome);
}

void TReaderWatch::PollWritten(bool ok, uint32_t error) {
    WriteError = ok ? 0 : error;
    if (ok == !WriteFailing) return;
    WriteFailing = !ok;
    Log(1, ok ? "      Writing to " + DevicePath + " works again"
              : "      Write error on " + DevicePath + ": " + platform::SystemErrorReason(error));
}

void TReaderWatch::AnswerAccepted() {
    Report(true);
    if (!Silent) return;
    Silent = false;
    Log(1, "      The reader answers again on " + DevicePath);
}

void TReaderWatch::NoAnswer() {
    Report(false);
    if (Silent) return;
    Silent = true;
    Log(1, "      No answer from the reader on " + DevicePath);
}
