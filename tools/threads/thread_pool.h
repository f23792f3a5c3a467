// A pool of threads that runs one body on every thread at once and waits
// for all of them: the shape of the host's exec_multi_thread_func. The
// lowpass tool lends it to the plug-in as that service and converts frames
// on it; the stand-in hosts lend it to the plug-in under test; the
// benchmark runs the frame driver's bands on it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "core/bands.h"
#include "host/host_api.h"

namespace lowpass::threads {

// The body exec_multi_thread_func runs: thread_id of thread_num.
using ThreadBody = ExFuncThreadBody;

// The largest pool the tools make.
constexpr int kMaxThreads = 256;

// The processors this process may run on (at least 1).
int ProcessorCount();

class ThreadPool {
public:
    // `threads` (1 .. kMaxThreads, clamped) counts the calling thread:
    // threads - 1 workers are started now; 1 starts none.
    explicit ThreadPool(int threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    int threads() const { return threads_; }

    // Calls body(i, threads(), p1, p2) once for every i in 0 .. threads() - 1,
    // i = 0 on the calling thread and the others on the workers, and returns
    // when all have returned. Calls from several threads take turns. Returns
    // false, having run nothing, when called from inside a body of this pool
    // (its workers are busy; waiting for them would never end).
    bool Run(ThreadBody body, void* p1, void* p2);

    // Runs fn(band, bands) for every band of the pool, as Run does.
    template <class Fn>
    bool ForEachThread(Fn& fn) {
        return Run(&CallFn<Fn>, &fn, nullptr);
    }

private:
    template <class Fn>
    static void LP_CDECL CallFn(int threadId, int threadNum, void* p1, void*) {
        (*static_cast<Fn*>(p1))(threadId, threadNum);
    }

    void WorkerLoop(int threadId);

    int threads_;
    std::vector<std::thread> workers_;
    std::mutex runMutex_;  // one Run at a time

    // The job: written under mutex_; generation_ and pending_ are also read
    // without it while a thread spins briefly before it sleeps.
    std::mutex mutex_;
    std::condition_variable start_;
    std::condition_variable done_;
    std::atomic<unsigned long long> generation_{0};  // counts Runs; a worker runs each once
    std::atomic<int> pending_{0};                    // workers still running the current body
    std::atomic<bool> stopping_{false};
    ThreadBody body_ = nullptr;
    void* p1_ = nullptr;
    void* p2_ = nullptr;
};

// The rows first .. end - 1 of `lines` that band `band` of `bands` takes:
// contiguous, in order, together exactly 0 .. lines - 1.
inline int BandStart(int lines, int band, int bands) {
    return static_cast<int>(static_cast<long long>(lines) * band / bands);
}

// The frame driver's band runner on a pool: band i of threads() on thread
// i (for front ends that call the driver themselves, like the benchmark).
// The bands run under each thread's own floating-point state.
BandRunner BandRunnerOn(ThreadPool& pool);

// exec_multi_thread_func for a host whose worker threads are a pool. The
// service has no argument that could name a pool, so it uses the process's
// host pool (as the editor has one set of workers): FALSE, running
// nothing, when there is none, or when the pool refuses (called from one
// of its own bodies).
BOOL LP_CDECL ExecOnHostPool(ThreadBody body, void* p1, void* p2);
void SetHostPool(ThreadPool* pool);
ThreadPool* HostPool();

}  // namespace lowpass::threads
