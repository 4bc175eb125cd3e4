// The lasting states of the link, told in the log once when they begin and once when they end:
// a reader that stays silent for an hour adds two lines, not 3,600. The poll cycle reports what
// each cycle came to; the watch decides whether that begins or ends a state.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "reader/Frame_Protocol.h"

// What one finished poll came to: the driver keeps it for the host's status call.
struct TPollOutcome {
    bool Answered = false;    // a well-formed answer frame arrived
    uint32_t WriteError = 0;  // the system's code when the poll frame could not be written
};
using TPollSink = std::function<void(const TPollOutcome& outcome)>;

class TReaderWatch {
public:
    // devicePath names the port in every line ("\\.\COM3"); the lines go to log at level 1,
    // each finished poll to polls (when given).
    TReaderWatch(std::string devicePath, TLineSink log, TPollSink polls = nullptr);

    // The cycle's poll write: done, or failed with the system's error code.
    void PollWritten(bool ok, uint32_t error);
    // An answer was accepted, with or without a card; told before its card is delivered.
    void AnswerAccepted();
    // The cycle ended without an accepted answer: silence, a frame cut short, garbage, a bad
    // check byte, or no poll written. The first such cycle of a start counts too.
    void NoAnswer();

private:
    void Report(bool answered);

    const std::string DevicePath;
    const TLineSink Log;
    const TPollSink Polls;
    uint32_t WriteError = 0;    // of this cycle's poll write
    bool Silent = false;        // since a cycle without an accepted answer
    bool WriteFailing = false;  // since a poll write failed
};
