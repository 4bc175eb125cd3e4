// One poll told for a technician: what came back, in the words kra_check prints.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "reader/Reader_Poll.h"
#include "tests/support/ScriptedLink.h"

namespace {

using test_support::Bytes;

using AnswerLink = test_support::ScriptedLink;

TEST(PollReader, EachAnswerToldAsTheDriverWouldJudgeIt) {
    struct Case { const char* name; std::deque<Bytes> bursts; int32_t bits; const char* text; bool answered; };
    const Case cases[] = {
        {"a card", {{0xAA, 0x00, 0x06, 0x00, 0x00, 0x2A, 0x01, 0x00, 0x00, 0x2D, 0xBB}}, 0, "card 298", true},
        {"a card, 8 bits kept", {{0xAA, 0x00, 0x06, 0x00, 0x00, 0x2A, 0x01, 0x00, 0x00, 0x2D, 0xBB}}, 8, "card 42", true},
        {"bits outside 0..32 work as 24", {{0xAA, 0x00, 0x06, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 0x0E, 0xBB}}, -1,
         "card 3430008", true},
        {"no card", {{0xAA, 0x00, 0x02, 0x00, 0x00, 0x02, 0xBB}}, 0, "no card", true},
        {"silence", {}, 0, "no answer", false},
        {"bad check byte", {{0xAA, 0x00, 0x06, 0x00, 0x00, 0x2A, 0x01, 0x00, 0x00, 0x6D, 0xBB}}, 0,
         "bad answer (bad check byte): AA 00 06 00 00 2A 01 00 00 6D BB", false},
        {"half a frame", {{0xAA, 0x00, 0x06, 0x00, 0x00}}, 0, "bad answer (frame cut short): AA 00 06 00 00", false},
        {"two bytes of a header", {{0xAA, 0x00}}, 0, "bad answer (frame cut short): AA 00", false},
        {"garbage, the flushed rest shown too", {{0x55, 0x00, 0x06}, {0x01, 0x02}}, 0,
         "bad answer (garbage: no frame header): 55 00 06 01 02", false},
    };
    for (const Case& c : cases) {
        AnswerLink link;
        link.bursts = c.bursts;
        TPollOutcome outcome = PollReader(link, c.bits);
        EXPECT_EQ(PollOutcomeText(outcome), c.text) << c.name;
        EXPECT_EQ(outcome.Answered(), c.answered) << c.name;
        const auto frame = PollFrame();
        EXPECT_EQ(link.Written(), Bytes(frame.begin(), frame.end())) << c.name;
    }
}

TEST(PollReader, AFailedWriteReadsNothing) {
    AnswerLink link;
    link.writeOk = false;
    link.bursts = {{0xAA, 0x00, 0x02, 0x00, 0x00, 0x02, 0xBB}};
    TPollOutcome outcome = PollReader(link, 0);
    EXPECT_EQ(PollOutcomeText(outcome), "not sent");
    EXPECT_EQ(link.bursts.size(), 1u);
}

}  // namespace
