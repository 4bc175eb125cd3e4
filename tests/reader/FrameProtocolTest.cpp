// The frame functions against a scripted byte source: what is read, what is judged, what is logged.
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "reader/Frame_Protocol.h"
#include "tests/support/ScriptedLink.h"

namespace {

using test_support::Bytes;
using test_support::ScriptedLink;

struct Lines {
    std::vector<std::string> text;
    TLineSink Sink() {
        return [this](int32_t level, std::string_view t) {
            EXPECT_EQ(level, 0);
            text.emplace_back(t);
        };
    }
};

const Bytes CardAnswer{0xAA, 0x00, 0x06, 0x00, 0x00, 0x2A, 0x01, 0x00, 0x00, 0x2D, 0xBB};

// A frame around the data bytes with a correct check byte.
Bytes Frame(const Bytes& data, uint8_t second = 0x00, uint8_t end = 0xBB) {
    Bytes f{0xAA, second, static_cast<uint8_t>(data.size())};
    f.insert(f.end(), data.begin(), data.end());
    f.push_back(CalcLRC(f.data() + 1, static_cast<uint16_t>(f.size() - 1)));
    f.push_back(end);
    return f;
}

struct Result {
    bool accepted;
    uint32_t length;
    TAnswerBuffer buffer;
    std::vector<std::string> lines;
    std::vector<uint32_t> reads;
};

Result Read(std::deque<Bytes> bursts) {
    ScriptedLink link;
    link.bursts = std::move(bursts);
    Lines log;
    Result r{};
    r.buffer.fill(0xEE);
    r.accepted = ReadAnswer(link, r.buffer, r.length, log.Sink());
    r.lines = log.text;
    r.reads = link.readSizes;
    return r;
}

std::string Hex(const Bytes& b) {
    std::string s = ">";
    char x[4];
    for (uint8_t v : b) {
        snprintf(x, sizeof x, " %02X", v);
        s += x;
    }
    return s;
}

TEST(Frames, CheckByteIsTheXorOfTheBytes) {
    EXPECT_EQ(CalcLRC(nullptr, 0), 0);
    const uint8_t poll[] = {0x00, 0x03, 0x25, 0x26, 0x01};
    EXPECT_EQ(CalcLRC(poll, 5), 0x01);
    EXPECT_EQ(CalcLRC(CardAnswer.data() + 1, 9), 0);
}

TEST(Frames, PollLeavesInOneWriteOfEightBytes) {
    ScriptedLink link;
    EXPECT_TRUE(SendPoll(link));
    ASSERT_EQ(link.writes.size(), 1u);
    EXPECT_EQ(link.writes[0], (Bytes{0xAA, 0x00, 0x03, 0x25, 0x26, 0x01, 0x01, 0xBB}));
    link.writeOk = false;
    EXPECT_FALSE(SendPoll(link));
}

TEST(Frames, CardAnswerIsAcceptedTracedAndCarries298) {
    for (auto bursts : {std::deque<Bytes>{CardAnswer}, std::deque<Bytes>{{0xAA, 0x00, 0x06}, {0x00, 0x00, 0x2A, 0x01, 0x00, 0x00, 0x2D, 0xBB}}}) {
        Result r = Read(bursts);
        EXPECT_TRUE(r.accepted);
        EXPECT_EQ(r.length, 11u);
        EXPECT_EQ(CardNumberField(r.buffer), 298u);
        EXPECT_EQ(r.reads, (std::vector<uint32_t>{3, 8}));
        EXPECT_EQ(r.lines, (std::vector<std::string>{"> AA 00 06 00 00 2A 01 00 00 2D BB"}));
    }
}

TEST(Frames, WrongCheckByteIsTracedThenRejected) {
    for (int lrc = 0; lrc < 256; ++lrc) {
        if (lrc == 0x2D) continue;
        Bytes a = CardAnswer;
        a[9] = static_cast<uint8_t>(lrc);
        Result r = Read({a});
        ASSERT_FALSE(r.accepted) << lrc;
        ASSERT_EQ(r.lines, (std::vector<std::string>{Hex(a), "...bad LRC"})) << lrc;
    }
}

TEST(Frames, SecondHeaderAndEndByteAreNotExamined) {
    for (Bytes a : {Frame({0, 0, 1, 2, 3, 4}, 0x55), Frame({0, 0, 1, 2, 3, 4}, 0x00, 0x00)}) {
        Result r = Read({a});
        EXPECT_TRUE(r.accepted);
        EXPECT_EQ(CardNumberField(r.buffer), 0x04030201u);
    }
}

TEST(Frames, LongAnswersUpToTheLimit) {
    Bytes data(122, 0x5A);
    Result r = Read({Frame(data)});
    EXPECT_TRUE(r.accepted);
    EXPECT_EQ(r.length, 127u);
    EXPECT_EQ(r.reads, (std::vector<uint32_t>{3, 124}));
    EXPECT_EQ(r.lines.size(), 6u);  // 127 bytes: five full lines and one of two
}

TEST(Frames, TraceOnlyFromEightBytes) {
    Result six = Read({Frame({0x01})}), seven = Read({Frame({0x01, 0x02})}), eight = Read({Frame({1, 2, 3})});
    EXPECT_TRUE(six.accepted);
    EXPECT_TRUE(seven.accepted);
    EXPECT_TRUE(eight.accepted);
    EXPECT_TRUE(six.lines.empty());
    EXPECT_TRUE(seven.lines.empty());
    EXPECT_EQ(eight.lines, (std::vector<std::string>{Hex(Frame({1, 2, 3}))}));
}

TEST(Frames, SilenceAndShortFramesAreDroppedQuietly) {
    struct Case { const char* name; std::deque<Bytes> bursts; };
    const Case cases[] = {
        {"silence", {}},
        {"one byte", {{0xAA}}},
        {"two bytes", {{0xAA, 0x00}}},
        {"header only", {{0xAA, 0x00, 0x06}}},
        {"half a frame", {{0xAA, 0x00, 0x06, 0x00, 0x00, 0x2A}}},
        {"all but the end byte", {{0xAA, 0x00, 0x06, 0x00, 0x00, 0x2A, 0x01, 0x00, 0x00, 0x2D}}},
    };
    for (const Case& c : cases) {
        Result r = Read(c.bursts);
        EXPECT_FALSE(r.accepted) << c.name;
        EXPECT_TRUE(r.lines.empty()) << c.name;
    }
}

TEST(Frames, GarbageHeadersAreTracedAndTheLineFlushed) {
    struct Case { const char* name; Bytes header; };
    const Case cases[] = {
        {"wrong start byte", {0x55, 0x00, 0x06}},
        {"data length 0", {0xAA, 0x00, 0x00}},
        {"data length 123", {0xAA, 0x00, 0x7B}},
        {"data length 255", {0xAA, 0x00, 0xFF}},
    };
    for (const Case& c : cases) {
        const Bytes rest{0x01, 0x02, 0x03, 0x04};
        Bytes all = c.header;
        all.insert(all.end(), rest.begin(), rest.end());
        Result r = Read({all});
        EXPECT_FALSE(r.accepted) << c.name;
        EXPECT_EQ(r.reads, (std::vector<uint32_t>{3, 256})) << c.name;
        EXPECT_EQ(r.lines, (std::vector<std::string>{Hex(c.header), "...it is garbage", Hex(rest), "...it is garbage"}))
            << c.name;

        Result quiet = Read({c.header});  // nothing more came: no trace of the flush
        EXPECT_EQ(quiet.lines, (std::vector<std::string>{Hex(c.header), "...it is garbage", "...it is garbage"}))
            << c.name;
    }
}

TEST(Frames, FlushTakesAtMostTheBufferAndLeavesTheRestQueued) {
    ScriptedLink link;
    Bytes junk(300);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i + 1);
    junk[0] = 0x00;
    link.bursts = {junk, CardAnswer};
    Lines log;
    TAnswerBuffer buf{};
    uint32_t length = 0;
    EXPECT_FALSE(ReadAnswer(link, buf, length, log.Sink()));
    ASSERT_EQ(log.text.size(), 2u + 11u + 1u);  // header, garbage, 256 bytes in 11 lines, garbage
    // The 41 bytes left of the junk are the next answer's start: garbage again, not a card.
    log.text.clear();
    EXPECT_FALSE(ReadAnswer(link, buf, length, log.Sink()));
    EXPECT_EQ(log.text[1], "...it is garbage");
    EXPECT_TRUE(ReadAnswer(link, buf, length, log.Sink()));
    EXPECT_EQ(CardNumberField(buf), 298u);
}

TEST(Frames, TraceLinesHoldTwentyFiveBytes) {
    struct Case { uint32_t count; std::vector<size_t> lineSizes; };
    const Case cases[] = {
        {1, {4}},
        {25, {76}},
        {26, {76, 4}},
        {50, {76, 76}},
        {51, {76, 76, 4}},
        {256, {76, 76, 76, 76, 76, 76, 76, 76, 76, 76, 19}},
    };
    Bytes bytes(256);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    for (const Case& c : cases) {
        Lines log;
        TraceBytes(1, bytes.data(), c.count, log.Sink());
        std::vector<size_t> sizes;
        for (auto& l : log.text) sizes.push_back(l.size());
        EXPECT_EQ(sizes, c.lineSizes) << c.count;
        EXPECT_EQ(log.text[0].substr(0, 4), "> 00");
        for (size_t i = 1; i < log.text.size(); ++i) EXPECT_EQ(log.text[i].substr(0, 2), "  ") << c.count;
    }
    Lines log;
    TraceBytes(1, bytes.data() + 25, 26, log.Sink());
    EXPECT_EQ(log.text.back(), "  32");
    Lines none;
    TraceBytes(1, bytes.data(), 0, none.Sink());
    EXPECT_TRUE(none.text.empty());
    Lines outgoing;
    TraceBytes(0, bytes.data() + 0xAA, 1, outgoing.Sink());
    EXPECT_EQ(outgoing.text, (std::vector<std::string>{"< AA"}));
}

// Random lines, often near a frame: whatever comes, an accepted answer is a whole frame with a
// right check byte, and nothing is read past the buffer (the sanitizers watch that).
TEST(Frames, RandomLinesNeverYieldAFrameWithAWrongCheckByte) {
    std::mt19937 rng(20261210);
    int accepted = 0;
    for (int round = 0; round < 20000; ++round) {
        std::deque<Bytes> bursts;
        int count = 1 + int(rng() % 4);
        for (int b = 0; b < count; ++b) {
            Bytes burst;
            if (rng() % 2) {  // a frame, maybe damaged
                Bytes data(1 + rng() % 10);
                for (auto& v : data) v = uint8_t(rng());
                burst = Frame(data);
                if (rng() % 3 == 0) burst[rng() % burst.size()] ^= uint8_t(1 + rng() % 255);
                if (rng() % 4 == 0) burst.resize(rng() % burst.size());
            } else {
                burst.resize(rng() % 300);
                for (auto& v : burst) v = uint8_t(rng());
            }
            bursts.push_back(burst);
        }
        ScriptedLink link;
        link.bursts = bursts;
        Lines log;
        TAnswerBuffer buf{};
        for (int k = 0; k < 3; ++k) {
            uint32_t length = 0;
            if (!ReadAnswer(link, buf, length, log.Sink())) continue;
            ++accepted;
            ASSERT_GE(length, 6u);
            ASSERT_LE(length, 127u);
            ASSERT_EQ(buf[0], 0xAA);
            ASSERT_EQ(buf[2] + 5u, length);
            ASSERT_EQ(CalcLRC(buf.data() + 1, uint16_t(length - 2)), 0);
        }
    }
    EXPECT_GT(accepted, 1000);  // the rounds did reach the check byte
}

TEST(CardNumbers, MaskedToTheLowBitsAsUnsignedDecimal) {
    struct Case { uint32_t number; uint32_t bits; const char* text; };
    const Case cases[] = {
        {298, 0, "298"},          {298, 8, "42"},           {298, 9, "298"},   {298, 32, "298"},
        {0xFFFFFFFF, 0, "4294967295"}, {0xFFFFFFFF, 32, "4294967295"}, {0xFFFFFFFF, 31, "2147483647"},
        {0xFFFFFFFF, 1, "1"},     {256, 8, "0"},            {0, 0, "0"},       {0x12345678, 24, "3430008"},
    };
    for (const Case& c : cases) EXPECT_EQ(CardNumberText(c.number, c.bits), c.text) << c.number << "/" << c.bits;
}

}  // namespace
