#include "reader/Reader_Watch.h"

#include <utility>

#include "platform/Files.h"

TReaderWatch::TReaderWatch(std::string devicePath, TLineSink log)
    : DevicePath(std::move(devicePath)), Log(std::move(log)) {}

void TReaderWatch::PollWritten(bool ok, uint32_t error) {
    if (ok == !WriteFailing) return;
    WriteFailing = !ok;
    Log(1, ok ? "      Writing to " + DevicePath + " works again"
              : "      Write error on " + DevicePath + ": " + platform::SystemErrorReason(error));
}

void TReaderWatch::AnswerAccepted() {
    if (!Silent) return;
    Silent = false;
    Log(1, "      The reader answers again on " + DevicePath);
}

void TReaderWatch::NoAnswer() {
    if (Silent) return;
    Silent = true;
    Log(1, "      No answer from the reader on " + DevicePath);
}
