// Win32 side: critical sections, events, threads and PostThreadMessageA as they are.
#include "platform/Sync.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <system_error>

namespace platform {

struct CriticalSection::Impl { CRITICAL_SECTION cs; };
CriticalSection::CriticalSection() : impl_(std::make_unique<Impl>()) { InitializeCriticalSection(&impl_->cs); }
CriticalSection::~CriticalSection() { DeleteCriticalSection(&impl_->cs); }
void CriticalSection::Enter() { EnterCriticalSection(&impl_->cs); }
void CriticalSection::Leave() { LeaveCriticalSection(&impl_->cs); }

struct Event::Impl { HANDLE h; };
Event::Event() : impl_(std::make_unique<Impl>()) { impl_->h = CreateEventA(nullptr, FALSE, FALSE, nullptr); }
Event::~Event() { if (impl_->h) CloseHandle(impl_->h); }
void Event::Set() { SetEvent(impl_->h); }
bool Event::Wait(uint32_t timeoutMs) { return WaitForSingleObject(impl_->h, timeoutMs) == WAIT_OBJECT_0; }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }
void SleepMs(uint32_t ms) { Sleep(ms); }

struct Thread::Impl {
    std::function<void()> body;
    HANDLE handle = nullptr;
    DWORD id = 0;
    bool resumed = false;
    volatile LONG run = 0;
    static DWORD WINAPI Trampoline(LPVOID arg) {
        auto* p = static_cast<Impl*>(arg);
        if (InterlockedCompareExchange(&p->run, 0, 0)) {
            try { p->body(); } catch (...) {}
        }
        return 0;
    }
};

Thread::Thread(std::function<void()> body) : impl_(std::make_unique<Impl>()) {
    impl_->body = std::move(body);
    impl_->handle = CreateThread(nullptr, 0, &Impl::Trampoline, impl_.get(), CREATE_SUSPENDED, &impl_->id);
    if (!impl_->handle) throw std::system_error(int(GetLastError()), std::system_category(), "CreateThread");
}

Thread::~Thread() {
    if (!impl_->resumed) {
        impl_->resumed = true;  // ends without running the body
        ResumeThread(impl_->handle);
    }
    WaitForSingleObject(impl_->handle, INFINITE);
    CloseHandle(impl_->handle);
}

void Thread::Resume() {
    if (impl_->resumed) return;
    impl_->resumed = true;
    InterlockedExchange(&impl_->run, 1);
    ResumeThread(impl_->handle);
}

void Thread::Join() { WaitForSingleObject(impl_->handle, INFINITE); }
uint32_t Thread::Id() const { return impl_->id; }

bool PostToThread(uint32_t threadId, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return PostThreadMessageA(threadId, message, wParam, lParam) != 0;
}

void EnsureMessageQueue() {
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

bool WaitThreadMessage(ThreadMessage& out, uint32_t timeoutMs) {
    EnsureMessageQueue();
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == nullptr) {
                out = {msg.message, msg.wParam, msg.lParam};
                return true;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;
        }
        DWORD waited = GetTickCount() - start;
        if (waited >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - waited, QS_ALLINPUT);
    }
}

}  // namespace platform
