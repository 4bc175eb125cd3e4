// A global operator new that fails on request: while a FailFrom is alive, the allocation with
// the given number (0 is the first one after it was made) and every one after it throw
// std::bad_alloc. Releasing memory always works.
#pragma once
#include <cstdint>

namespace alloctest {

class FailFrom {
public:
    explicit FailFrom(int64_t allocation);
    ~FailFrom();
    FailFrom(const FailFrom&) = delete;
    FailFrom& operator=(const FailFrom&) = delete;

    // Lets every allocation through again.
    void Stop();
    // Whether an allocation has been refused so far.
    bool Refused() const;
};

}  // namespace alloctest
