#include "tools/threads/thread_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>

namespace lowpass::threads {

namespace {

// The pool whose body this thread is running, if any.
thread_local const ThreadPool* runningPool = nullptr;

std::atomic<ThreadPool*> hostPool{nullptr};

// Marks the thread as running a body of `pool` for as long as it lives.
class RunningScope {
public:
    explicit RunningScope(const ThreadPool* pool) : previous_(runningPool) { runningPool = pool; }
    ~RunningScope() { runningPool = previous_; }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    const ThreadPool* previous_;
};

// How long a thread polls before it sleeps: a pass of a small frame takes
// well under a millisecond, and waking a sleeping thread takes tens of
// microseconds, as long as the two passes of a frame are apart.
constexpr auto kSpin = std::chrono::microseconds(30);

inline void CpuRelax() {
#if defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#endif
}

// Polls `ready` for up to kSpin; true as soon as it holds.
template <class Ready>
bool SpinUntil(Ready ready) {
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (unsigned i = 1;; ++i) {
        if (ready()) return true;
        CpuRelax();
        if (i % 64 == 0 && std::chrono::steady_clock::now() >= until) return false;
    }
}

}  // namespace

int ProcessorCount() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(std::min<unsigned>(n, kMaxThreads));
}

ThreadPool::ThreadPool(int threads) : threads_(std::clamp(threads, 1, kMaxThreads)) {
    workers_.reserve(static_cast<std::size_t>(threads_ - 1));
    for (int id = 1; id < threads_; ++id) workers_.emplace_back([this, id] { WorkerLoop(id); });
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    start_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    ThreadPool* self = this;
    hostPool.compare_exchange_strong(self, nullptr);
}

void ThreadPool::WorkerLoop(int threadId) {
    unsigned long long seen = 0;
    for (;;) {
        ThreadBody body;
        void* p1;
        void* p2;
        SpinUntil([&] { return stopping_.load() || generation_.load() != seen; });
        {
            std::unique_lock<std::mutex> lock(mutex_);
            start_.wait(lock, [&] { return stopping_.load() || generation_.load() != seen; });
            if (stopping_) return;
            seen = generation_;
            body = body_;
            p1 = p1_;
            p2 = p2_;
        }
        {
            RunningScope scope(this);
            body(threadId, threads_, p1, p2);
        }
        if (pending_.fetch_sub(1) == 1) {
            // Under the mutex, so that a caller about to sleep cannot miss it.
            std::lock_guard<std::mutex> lock(mutex_);
            done_.notify_one();
        }
    }
}

bool ThreadPool::Run(ThreadBody body, void* p1, void* p2) {
    if (runningPool == this) return false;
    std::lock_guard<std::mutex> turn(runMutex_);
    if (threads_ > 1) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            body_ = body;
            p1_ = p1;
            p2_ = p2;
            pending_ = threads_ - 1;
            ++generation_;
        }
        start_.notify_all();
    }
    {
        RunningScope scope(this);
        body(0, threads_, p1, p2);
    }
    if (threads_ > 1 && !SpinUntil([&] { return pending_.load() == 0; })) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return pending_.load() == 0; });
    }
    return true;
}

namespace {

struct BandCall {
    BandBody body;
    void* argument;
};

void LP_CDECL RunBandCall(int threadId, int threadNum, void* p1, void*) {
    const BandCall& call = *static_cast<const BandCall*>(p1);
    call.body(threadId, threadNum, call.argument);
}

bool RunBandsOnPool(void* context, BandBody body, void* argument) {
    BandCall call{body, argument};
    return static_cast<ThreadPool*>(context)->Run(RunBandCall, &call, nullptr);
}

}  // namespace

BandRunner BandRunnerOn(ThreadPool& pool) { return BandRunner{RunBandsOnPool, &pool}; }

BOOL LP_CDECL ExecOnHostPool(ThreadBody body, void* p1, void* p2) {
    ThreadPool* pool = hostPool.load(std::memory_order_acquire);
    if (pool == nullptr || body == nullptr) return FALSE;
    return pool->Run(body, p1, p2) ? TRUE : FALSE;
}

void SetHostPool(ThreadPool* pool) { hostPool.store(pool, std::memory_order_release); }

ThreadPool* HostPool() { return hostPool.load(std::memory_order_acquire); }

}  // namespace lowpass::threads
