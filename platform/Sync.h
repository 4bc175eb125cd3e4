// Locks, events, threads and thread messages: the few things the driver needs from the
// operating system to run its polling thread beside the host's threads.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// A re-entrant lock (a Win32 critical section on Windows).
class CriticalSection {
public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter();
    void Leave();
private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Holds a CriticalSection for one scope; leaves it also when an exception passes.
class Hold {
public:
    explicit Hold(CriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~Hold() { cs_.Leave(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
private:
    CriticalSection& cs_;
};

// An automatic-reset event, initially not signalled.
class Event {
public:
    Event();
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    void Set();
    // True when the event was signalled within the time-out (milliseconds).
    bool Wait(uint32_t timeoutMs);
private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A thread created suspended. Resume() starts the body once; destroying a thread that was
// never resumed ends it without running the body. Join() waits for the end. A failure that
// escapes the body ends the thread quietly: nobody is there to be told.
class Thread {
public:
    explicit Thread(std::function<void()> body);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    void Resume();
    void Join();
    uint32_t Id() const;  // the operating-system thread identifier
private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The calling thread's operating-system identifier.
uint32_t CurrentThreadId();

void SleepMs(uint32_t ms);

// A message without data posted to a thread's queue (PostThreadMessageA on Windows).
// False when the thread has no message queue.
bool PostToThread(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam);

struct ThreadMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// Gives the calling thread a message queue (Windows makes one on first use; the POSIX
// stand-in needs this call before anything can be posted to the thread).
void EnsureMessageQueue();

// Takes the next message of the calling thread's queue, waiting up to timeoutMs.
bool WaitThreadMessage(ThreadMessage& out, uint32_t timeoutMs);

}  // namespace platform
