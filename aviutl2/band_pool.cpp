#include "aviutl2/band_pool.h"

#include <atomic>

namespace lowpass::auf2 {

struct BandPool::Job {
    UnitBody body;
    void* context;
    int units;
    int runners;
    std::atomic<int> nextUnit{0};
    int nextRunner = 1;  // 0 is the calling thread; under the pool's mutex
    int helpers = 0;     // pool threads working on it; under the pool's mutex
    Job* next = nullptr;
    bool queued = false;
};

BandPool::~BandPool() { Stop(); }

int BandPool::Runners() const {
    if (runners_ > 0) return runners_ < kMaxRunners ? runners_ : kMaxRunners;
    const unsigned hardware = std::thread::hardware_concurrency();
    if (hardware <= 1) return 1;
    return hardware > static_cast<unsigned>(kMaxRunners) ? kMaxRunners : static_cast<int>(hardware);
}

void BandPool::Work(Job& job, int runner) {
    for (int unit = job.nextUnit.fetch_add(1); unit < job.units; unit = job.nextUnit.fetch_add(1))
        job.body(job.context, unit, runner);
}

void BandPool::StartLocked() {
    if (started_) return;
    started_ = true;
    stopping_ = false;
    const int wanted = Runners() - 1;
    try {
        threads_.reserve(static_cast<std::size_t>(wanted));
        for (int i = 0; i < wanted; ++i) threads_.emplace_back([this] { WorkerLoop(); });
    } catch (...) {
        // Out of threads or memory: the threads that did start serve, and
        // the calling threads do the rest.
    }
}

void BandPool::Run(int units, int runners, UnitBody body, void* context) {
    if (units <= 0) return;
    Job job;
    job.body = body;
    job.context = context;
    job.units = units;
    job.runners = runners < kMaxRunners ? runners : kMaxRunners;
    bool posted = false;
    if (job.runners > 1 && units > 1) {
        std::lock_guard<std::mutex> lock(mutex_);
        StartLocked();
        if (!threads_.empty()) {
            Job** tail = &queue_;
            while (*tail != nullptr) tail = &(*tail)->next;
            *tail = &job;
            job.queued = true;
            posted = true;
        }
    }
    if (posted) work_.notify_all();
    Work(job, 0);
    if (!posted) return;
    std::unique_lock<std::mutex> lock(mutex_);
    // No thread may join once every unit is taken; those working finish.
    if (job.queued) {
        for (Job** at = &queue_; *at != nullptr; at = &(*at)->next)
            if (*at == &job) {
                *at = job.next;
                break;
            }
        job.queued = false;
    }
    done_.wait(lock, [&job] { return job.helpers == 0; });
}

void BandPool::WorkerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        Job* job = queue_;
        if (job == nullptr) {
            work_.wait(lock);
            continue;
        }
        const int runner = job->nextRunner++;
        if (runner >= job->runners - 1 || job->nextUnit.load() >= job->units) {
            // The last runner this job takes, or nothing left to take: out of
            // the queue (its caller waits for the threads already on it).
            queue_ = job->next;
            job->queued = false;
            if (runner >= job->runners || job->nextUnit.load() >= job->units) continue;
        }
        ++job->helpers;
        lock.unlock();
        Work(*job, runner);
        lock.lock();
        if (--job->helpers == 0) done_.notify_all();
    }
}

void BandPool::Stop() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        threads.swap(threads_);
        started_ = false;
    }
    work_.notify_all();
    for (std::thread& t : threads) t.join();
}

BandPool& ThePool() {
    // Never destroyed: threads still running when the process ends are the
    // system's to end (joining them while the module unloads could hang).
    static BandPool* pool = new BandPool;
    return *pool;
}

}  // namespace lowpass::auf2
