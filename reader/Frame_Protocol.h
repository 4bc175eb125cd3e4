// The reader's frame protocol: AA, a second header byte, the data length n, n data bytes,
// the check byte (XOR of everything from the second byte on) and BB. Written against any
// byte source with the port's read and write contracts, so it runs on buffers as well.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// What the frame functions need of the line.
class IByteLink {
public:
    // The bytes that arrived within the time-outs, at most count; 0 on any failure.
    virtual uint32_t ReadPort(void* buffer, uint32_t count) = 0;
    // Whether the write succeeded.
    virtual bool WritePort(const void* bytes, uint32_t count) = 0;
protected:
    ~IByteLink() = default;
};

// Where trace and fault lines go: (level, text). The driver's writes them to its log with a
// time stamp.
using TLineSink = std::function<void(int32_t level, std::string_view text)>;

constexpr uint32_t AnswerBufferSize = 256;
using TAnswerBuffer = std::array<uint8_t, AnswerBufferSize>;

uint8_t CalcLRC(const uint8_t* bytes, uint16_t count);

// The one request frame: AA 00 03 25 26 01 01 BB, its check byte computed.
std::array<uint8_t, 8> PollFrame();

bool SendPoll(IByteLink& link);

// What reading one answer came to: nothing at all, fewer bytes than the frame needs, a header
// that begins no frame (the line then flushed), a wrong check byte, or a frame to accept.
enum class TAnswerVerdict { Accepted, Silence, CutShort, Garbage, BadLRC };

// Reads one answer into AnswerBuffer and judges it; on Accepted, length is the frame's size.
TAnswerVerdict JudgeAnswer(IByteLink& link, TAnswerBuffer& AnswerBuffer, uint32_t& length, const TLineSink& log);
// JudgeAnswer, true for an accepted answer only: the poll cycle's read.
bool ReadAnswer(IByteLink& link, TAnswerBuffer& AnswerBuffer, uint32_t& length, const TLineSink& log);

// Hex trace of bytes: a direction mark ("<" for code 0, ">" for 1), then " XX" per byte,
// 25 bytes to a line, continuation lines starting with a blank.
void TraceBytes(int code, const uint8_t* bytes, uint32_t count, const TLineSink& log);

// Whether an accepted answer of this many bytes holds a card number: 11 bytes or more (an
// answer without a card is shorter).
constexpr bool CarriesCardNumber(uint32_t length) { return length > 10; }

// The card number of an accepted answer that carries one: offsets 5..8, lowest byte first.
uint32_t CardNumberField(const TAnswerBuffer& AnswerBuffer);

// The Bits setting as the poll cycle applies it: 0 to 32 as they are, any other value as 24.
constexpr uint32_t AppliedBits(int32_t Bits) { return Bits < 0 || Bits > 32 ? 24u : static_cast<uint32_t>(Bits); }

// Keeps the low Bits bits (0 and 32: all of them), as unsigned decimal text.
std::string CardNumberText(uint32_t number, uint32_t Bits);
