#include "reader/Reader_Poll.h"

namespace {

// Keeps a copy of every byte the frame functions read through it.
class RecordingLink : public IByteLink {
public:
    RecordingLink(IByteLink& line, std::vector<uint8_t>& record) : Line(line), Record(record) {}
    uint32_t ReadPort(void* buffer, uint32_t count) override {
        uint32_t n = Line.ReadPort(buffer, count);
        if (n > count) n = count;
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        Record.insert(Record.end(), bytes, bytes + n);
        return n;
    }
    bool WritePort(const void* bytes, uint32_t count) override { return Line.WritePort(bytes, count); }

private:
    IByteLink& Line;
    std::vector<uint8_t>& Record;
};

const char* Fault(TAnswerVerdict verdict) {
    switch (verdict) {
        case TAnswerVerdict::CutShort: return "frame cut short";
        case TAnswerVerdict::Garbage: return "garbage: no frame header";
        case TAnswerVerdict::BadLRC: return "bad check byte";
        default: return "not accepted";
    }
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty()) text += ' ';
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

}  // namespace

TPollOutcome PollReader(IByteLink& link, int32_t Bits) {
    TPollOutcome outcome;
    RecordingLink line(link, outcome.Received);
    if (!SendPoll(line)) {
        outcome.Kind = TPollOutcome::TKind::NotSent;
        return outcome;
    }
    TAnswerBuffer AnswerBuffer{};
    uint32_t length = 0;
    outcome.Verdict = JudgeAnswer(line, AnswerBuffer, length, [](int32_t, std::string_view) {});
    if (outcome.Verdict == TAnswerVerdict::Accepted) {
        if (CarriesCardNumber(length)) {
            outcome.Kind = TPollOutcome::TKind::Card;
            outcome.CardText = CardNumberText(CardNumberField(AnswerBuffer), AppliedBits(Bits));
        } else {
            outcome.Kind = TPollOutcome::TKind::NoCard;
        }
    } else {
        // A byte or two of a header is a reader talking, not silence.
        outcome.Kind = outcome.Received.empty() ? TPollOutcome::TKind::NoAnswer : TPollOutcome::TKind::BadAnswer;
    }
    return outcome;
}

std::string PollOutcomeText(const TPollOutcome& outcome) {
    switch (outcome.Kind) {
        case TPollOutcome::TKind::NotSent: return "not sent";
        case TPollOutcome::TKind::NoAnswer: return "no answer";
        case TPollOutcome::TKind::Card: return "card " + outcome.CardText;
        case TPollOutcome::TKind::NoCard: return "no card";
        case TPollOutcome::TKind::BadAnswer: break;
    }
    return std::string("bad answer (") + Fault(outcome.Verdict) + "): " + Hex(outcome.Received);
}
