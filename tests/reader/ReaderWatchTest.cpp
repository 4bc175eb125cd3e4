// The link's lasting states: each told once when it begins and once when it ends, whatever
// the cycles in between came to.
#include "reader/Reader_Watch.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/Files.h"

namespace {

const std::string kPort = "\\\\.\\COM3";
const std::string kNoAnswer = "      No answer from the reader on " + kPort;
const std::string kAgain = "      The reader answers again on " + kPort;
const std::string kWriteError = "      Write error on " + kPort + ": " + platform::SystemErrorReason(EIO);
const std::string kWriteAgain = "      Writing to " + kPort + " works again";

// A run of cycles, one letter each: A an accepted answer, N no accepted answer, F a failed poll
// write (then no answer), W a written poll (the answer follows as the next letter).
std::vector<std::string> LinesOf(const std::string& cycles) {
    std::vector<std::string> lines;
    TReaderWatch watch(kPort, [&](int32_t level, std::string_view text) {
        EXPECT_EQ(level, 1);
        lines.emplace_back(text);
    });
    for (char c : cycles) {
        switch (c) {
            case 'A': watch.AnswerAccepted(); break;
            case 'N': watch.NoAnswer(); break;
            case 'F': watch.PollWritten(false, EIO); watch.NoAnswer(); break;
            case 'W': watch.PollWritten(true, 0); break;
        }
    }
    return lines;
}

TEST(ReaderWatch, EachLastingStateIsToldWhenItBeginsAndWhenItEnds) {
    const std::string thirtySilent(30, 'N');
    struct Case {
        const char* name;
        std::string cycles;
        std::vector<std::string> lines;
    } cases[] = {
        {"answering from the start", "AAAA", {}},
        {"silent from the first cycle", "NNN", {kNoAnswer}},
        {"silent for 30 polls between answers", "A" + thirtySilent + "A", {kNoAnswer, kAgain}},
        {"silent from the start, then answering", "NA", {kNoAnswer, kAgain}},
        {"each silence of its own", "ANANA", {kNoAnswer, kAgain, kNoAnswer, kAgain}},
        {"writes failing, then the reader back", "AFFFWNWA", {kWriteError, kNoAnswer, kWriteAgain, kAgain}},
        {"a failed write in a run of silence", "NNFWN", {kNoAnswer, kWriteError, kWriteAgain}},
        {"writes fail twice", "WAFWAFWA", {kWriteError, kNoAnswer, kWriteAgain, kAgain, kWriteError, kNoAnswer, kWriteAgain, kAgain}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LinesOf(c.cycles), c.lines);
    }
}

// Each finished poll reaches the poll sink once: answered or not, with its failed write's code.
TEST(ReaderWatch, EachPollTellsWhatItCameTo) {
    std::vector<std::pair<bool, uint32_t>> seen;
    TReaderWatch watch(kPort, [](int32_t, std::string_view) {},
                       [&](const TPollOutcome& o) { seen.emplace_back(o.Answered, o.WriteError); });
    watch.PollWritten(true, 0);
    watch.AnswerAccepted();
    watch.PollWritten(true, 0);
    watch.NoAnswer();
    watch.PollWritten(false, EIO);
    watch.NoAnswer();
    watch.PollWritten(true, 0);
    watch.AnswerAccepted();
    const std::vector<std::pair<bool, uint32_t>> expected = {{true, 0}, {false, 0}, {false, EIO}, {true, 0}};
    EXPECT_EQ(seen, expected);
}

}  // namespace
