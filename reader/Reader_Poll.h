// One poll as the polling thread makes it, told in full for a technician's tool (kra_check):
// the poll frame out, one answer read with the line's time-outs and judged by the frame rules,
// and every byte that arrived. The driver's own cycle stays in COM_Thread; both use the same
// frame functions, so a tool and the driver cannot disagree about an answer.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "reader/Frame_Protocol.h"

struct TPollOutcome {
    enum class TKind { NotSent, NoAnswer, Card, NoCard, BadAnswer };
    TKind Kind = TKind::NoAnswer;
    TAnswerVerdict Verdict = TAnswerVerdict::Silence;
    std::string CardText;           // Card: the number as the driver hands it to the host
    std::vector<uint8_t> Received;  // every byte read in this poll, flushed garbage included

    // Whether the reader answered with a frame the driver accepts (a card or none).
    bool Answered() const { return Kind == TKind::Card || Kind == TKind::NoCard; }
};

// Sends the poll frame and reads one answer; Bits as the settings hold it.
TPollOutcome PollReader(IByteLink& link, int32_t Bits);

// "card 298", "no card", "no answer", "not sent", or "bad answer (<what was wrong>): <hex>".
std::string PollOutcomeText(const TPollOutcome& outcome);
