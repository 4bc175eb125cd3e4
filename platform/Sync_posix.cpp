// POSIX side: std threads and a small per-thread message queue standing in for
// PostThreadMessageA, so that native tests can play the host's thread.
#include "platform/Sync.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace platform {

struct CriticalSection::Impl { std::recursive_mutex m; };
CriticalSection::CriticalSection() : impl_(std::make_unique<Impl>()) {}
CriticalSection::~CriticalSection() = default;
void CriticalSection::Enter() { impl_->m.lock(); }
void CriticalSection::Leave() { impl_->m.unlock(); }

struct Event::Impl {
    std::mutex m;
    std::condition_variable cv;
    bool signalled = false;
};
Event::Event() : impl_(std::make_unique<Impl>()) {}
Event::~Event() = default;
void Event::Set() {
    { std::lock_guard<std::mutex> g(impl_->m); impl_->signalled = true; }
    impl_->cv.notify_one();
}
bool Event::Wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> g(impl_->m);
    bool got = impl_->cv.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return impl_->signalled; });
    if (got) impl_->signalled = false;  // automatic reset
    return got;
}

namespace {
std::atomic<uint32_t> nextThreadId{1000};
thread_local uint32_t thisThreadId = 0;
}  // namespace

uint32_t CurrentThreadId() {
    if (thisThreadId == 0) thisThreadId = nextThreadId.fetch_add(4);
    return thisThreadId;
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct Thread::Impl {
    std::function<void()> body;
    std::mutex m;
    std::condition_variable cv;
    bool resumed = false;
    bool run = false;
    std::atomic<uint32_t> id{0};
    std::thread thread;
};

Thread::Thread(std::function<void()> body) : impl_(std::make_unique<Impl>()) {
    impl_->body = std::move(body);
    Impl* p = impl_.get();
    std::mutex started;
    std::condition_variable startedCv;
    bool haveId = false;
    p->thread = std::thread([p, &started, &startedCv, &haveId] {
        {
            std::lock_guard<std::mutex> g(started);
            p->id = CurrentThreadId();
            haveId = true;
            startedCv.notify_one();  // under the lock: the waiter's stack holds the condition
        }
        std::unique_lock<std::mutex> g(p->m);
        p->cv.wait(g, [p] { return p->resumed; });
        bool run = p->run;
        g.unlock();
        if (run) {
            try { p->body(); } catch (...) {}
        }
    });
    std::unique_lock<std::mutex> g(started);
    startedCv.wait(g, [&] { return haveId; });
}

Thread::~Thread() {
    {
        std::lock_guard<std::mutex> g(impl_->m);
        impl_->resumed = true;  // a thread never resumed ends without running its body
    }
    impl_->cv.notify_one();
    if (impl_->thread.joinable()) impl_->thread.join();
}

void Thread::Resume() {
    {
        std::lock_guard<std::mutex> g(impl_->m);
        if (impl_->resumed) return;
        impl_->resumed = true;
        impl_->run = true;
    }
    impl_->cv.notify_one();
}

void Thread::Join() {
    if (impl_->thread.joinable()) impl_->thread.join();
}
uint32_t Thread::Id() const { return impl_->id; }

namespace {
struct Queue {
    std::mutex m;
    std::condition_variable cv;
    std::deque<ThreadMessage> messages;
};
std::mutex queuesMutex;
std::map<uint32_t, std::shared_ptr<Queue>>& Queues() {
    static std::map<uint32_t, std::shared_ptr<Queue>> queues;
    return queues;
}
std::shared_ptr<Queue> FindQueue(uint32_t id) {
    std::lock_guard<std::mutex> g(queuesMutex);
    auto it = Queues().find(id);
    return it == Queues().end() ? nullptr : it->second;
}
}  // namespace

void EnsureMessageQueue() {
    std::lock_guard<std::mutex> g(queuesMutex);
    auto& q = Queues()[CurrentThreadId()];
    if (!q) q = std::make_shared<Queue>();
}

bool PostToThread(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    auto q = FindQueue(threadId);
    if (!q) return false;
    {
        std::lock_guard<std::mutex> g(q->m);
        q->messages.push_back({message, wParam, lParam});
    }
    q->cv.notify_one();
    return true;
}

bool WaitThreadMessage(ThreadMessage& out, uint32_t timeoutMs) {
    EnsureMessageQueue();
    auto q = FindQueue(CurrentThreadId());
    std::unique_lock<std::mutex> g(q->m);
    if (!q->cv.wait_for(g, std::chrono::milliseconds(timeoutMs), [&] { return !q->messages.empty(); }))
        return false;
    out = q->messages.front();
    q->messages.pop_front();
    return true;
}

}  // namespace platform
