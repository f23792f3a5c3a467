// The plug-in's standing pool of threads (the editor lends none). Started
// on the first call that asks for threads, stopped by UninitializePlugin.
// Each call hands the pool units of work; the calling thread works on its
// own units too, and waits only for units other threads are running.
// Several calls may run at once (two objects, or the editor's own
// threads): each gets the units done, none waits for another's.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace lowpass::auf2 {

// At most this many threads work on one call, the calling one included.
constexpr int kMaxRunners = 16;

using UnitBody = void (*)(void* context, int unit, int runner);

class BandPool {
public:
    // `runners` 0: as many as the processor has hardware threads (at most
    // kMaxRunners); otherwise that many (1 .. kMaxRunners).
    explicit BandPool(int runners = 0) : runners_(runners) {}
    BandPool(const BandPool&) = delete;
    BandPool& operator=(const BandPool&) = delete;
    ~BandPool();

    // The threads a call may use, the calling one included, 1 .. kMaxRunners.
    int Runners() const;

    // Calls body(context, unit, runner) once for every unit 0 .. units - 1,
    // on this thread and on up to runners - 1 of the pool's threads, and
    // returns when every unit is done. `runner` (0 .. runners - 1) tells
    // apart the threads working on this call at once: this thread is 0.
    // With runners 1, or when no thread can be started, every unit runs on
    // this thread.
    void Run(int units, int runners, UnitBody body, void* context);

    // Stops and joins the threads; a later Run starts them again.
    void Stop();

private:
    struct Job;
    void StartLocked();
    void WorkerLoop();
    static void Work(Job& job, int runner);

    std::mutex mutex_;
    std::condition_variable work_;  // a job was queued, or the pool stops
    std::condition_variable done_;  // a thread left a job
    Job* queue_ = nullptr;          // jobs with units nobody has taken yet
    std::vector<std::thread> threads_;
    int runners_;
    bool started_ = false;
    bool stopping_ = false;
};

// The module's pool.
BandPool& ThePool();

}  // namespace lowpass::auf2
