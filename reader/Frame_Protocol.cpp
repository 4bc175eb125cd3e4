#include "reader/Frame_Protocol.h"

namespace {

constexpr uint8_t StartByte = 0xAA, EndByte = 0xBB;
constexpr uint32_t HeaderSize = 3, FrameOverhead = 5, MaxDataLength = 122;
constexpr size_t TraceLineLimit = 75;  // a line longer than this is written out

char TracePrefix(int code) { return code == 0 ? '<' : '>'; }

// The line's garbage: the header as it came, then whatever else the reader sent, which a
// flush read takes off the line so the next poll starts clean.
void HandleGarbage(IByteLink& link, TAnswerBuffer& buffer, const TLineSink& log) {
    TraceBytes(1, buffer.data(), HeaderSize, log);
    log(0, "...it is garbage");
    uint32_t flushed = link.ReadPort(buffer.data(), AnswerBufferSize);
    if (flushed > AnswerBufferSize) flushed = AnswerBufferSize;
    TraceBytes(1, buffer.data(), flushed, log);
    log(0, "...it is garbage");
}

}  // namespace

uint8_t CalcLRC(const uint8_t* bytes, uint16_t count) {
    uint8_t lrc = 0;
    for (uint16_t i = 0; i < count; ++i) lrc ^= bytes[i];
    return lrc;
}

std::array<uint8_t, 8> PollFrame() {
    std::array<uint8_t, 8> frame{StartByte, 0x00, 0x03, 0x25, 0x26, 0x01, 0x00, EndByte};
    frame[6] = CalcLRC(frame.data() + 1, 5);
    return frame;
}

bool SendPoll(IByteLink& link) {
    const auto frame = PollFrame();
    return link.WritePort(frame.data(), static_cast<uint32_t>(frame.size()));
}

TAnswerVerdict JudgeAnswer(IByteLink& link, TAnswerBuffer& AnswerBuffer, uint32_t& length, const TLineSink& log) {
    // Silence and frames cut short are not logged: the reader watch tells a lasting silence.
    const uint32_t header = link.ReadPort(AnswerBuffer.data(), HeaderSize);
    if (header == 0) return TAnswerVerdict::Silence;
    if (header < HeaderSize) return TAnswerVerdict::CutShort;
    const uint32_t dataLength = AnswerBuffer[2];
    length = dataLength + FrameOverhead;
    if (AnswerBuffer[0] != StartByte || dataLength == 0 || dataLength > MaxDataLength) {
        HandleGarbage(link, AnswerBuffer, log);
        return TAnswerVerdict::Garbage;
    }
    const uint32_t rest = length - HeaderSize;
    if (link.ReadPort(AnswerBuffer.data() + HeaderSize, rest) < rest) return TAnswerVerdict::CutShort;
    if (length > 7) TraceBytes(1, AnswerBuffer.data(), length, log);
    if (CalcLRC(AnswerBuffer.data() + 1, static_cast<uint16_t>(length - 2)) == 0) return TAnswerVerdict::Accepted;
    log(0, "...bad LRC");
    return TAnswerVerdict::BadLRC;
}

bool ReadAnswer(IByteLink& link, TAnswerBuffer& AnswerBuffer, uint32_t& length, const TLineSink& log) {
    return JudgeAnswer(link, AnswerBuffer, length, log) == TAnswerVerdict::Accepted;
}

void TraceBytes(int code, const uint8_t* bytes, uint32_t count, const TLineSink& log) {
    if (count == 0) return;
    static const char digits[] = "0123456789ABCDEF";
    std::string line(1, TracePrefix(code));
    for (uint32_t i = 0; i < count; ++i) {
        line += ' ';
        line += digits[bytes[i] >> 4];
        line += digits[bytes[i] & 0x0F];
        if (line.size() > TraceLineLimit && i + 1 < count) {
            log(0, line);
            line.clear();
            line.push_back(' ');
        }
    }
    log(0, line);
}

uint32_t CardNumberField(const TAnswerBuffer& AnswerBuffer) {
    return uint32_t(AnswerBuffer[5]) | uint32_t(AnswerBuffer[6]) << 8 | uint32_t(AnswerBuffer[7]) << 16 |
           uint32_t(AnswerBuffer[8]) << 24;
}

std::string CardNumberText(uint32_t number, uint32_t Bits) {
    const uint32_t mask = 0xFFFFFFFFu >> ((32 - Bits) % 32);
    return std::to_string(number & mask);
}
