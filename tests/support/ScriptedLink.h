// A byte link played from a script, for the frame and poll tests: bursts of bytes with silence
// between them. A read takes from the current burst and times out at its end; what a read did
// not take stays queued, as on the port. Writes are kept, and fail when told to.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

#include "reader/Frame_Protocol.h"

namespace test_support {

using Bytes = std::vector<uint8_t>;

class ScriptedLink : public IByteLink {
public:
    std::deque<Bytes> bursts;
    std::vector<uint32_t> readSizes;  // what each read asked for
    std::vector<Bytes> writes;        // each write as it came
    bool writeOk = true;

    uint32_t ReadPort(void* buffer, uint32_t count) override {
        readSizes.push_back(count);
        if (bursts.empty()) return 0;
        Bytes& b = bursts.front();
        uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(b.size()));
        std::copy(b.begin(), b.begin() + n, static_cast<uint8_t*>(buffer));
        b.erase(b.begin(), b.begin() + n);
        if (b.empty()) bursts.pop_front();
        return n;
    }
    bool WritePort(const void* bytes, uint32_t count) override {
        auto p = static_cast<const uint8_t*>(bytes);
        writes.emplace_back(p, p + count);
        return writeOk;
    }
    // Every byte written, in order.
    Bytes Written() const {
        Bytes all;
        for (const Bytes& w : writes) all.insert(all.end(), w.begin(), w.end());
        return all;
    }
};

}  // namespace test_support
