#pragma once
// A fixed set of worker threads that run index ranges in parallel. The calling thread takes part, so a
// pool of one thread runs everything inline. Which thread runs an index never changes a result.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ferolt::d3d9
{
class WorkerPool
{
public:
    explicit WorkerPool(unsigned threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    unsigned ThreadCount() const { return static_cast<unsigned>(workers_.size()) + 1; }

    // Calls fn(i) for every i in [0, count) and returns when all calls have ended. Threads take the
    // indices in ascending order, one at a time. A Run from inside fn runs its indices inline.
    void Run(size_t count, const std::function<void(size_t)>& fn);

    // The same, but the indices are dealt out as ThreadCount() consecutive ranges, and a thread gets the
    // same range in every call with the same count: work on the same data lands in the same thread's
    // caches call after call. A thread done with its own range takes the last indices of the fullest other
    // range, so a slow or pre-empted thread does not hold up the end.
    void RunLocal(size_t count, const std::function<void(size_t)>& fn);

    // While a Burst lives, idle workers wait for the next job spinning rather than asleep: a caller that runs
    // jobs back to back (a flush) does not pay for waking them between jobs. Without one a worker spins a
    // few microseconds at most once it runs out of work, and then sleeps.
    class Burst
    {
    public:
        explicit Burst(WorkerPool& pool) : pool_(pool)
        {
            pool_.bursts_.fetch_add(1, std::memory_order_relaxed);
        }
        ~Burst() { pool_.bursts_.fetch_sub(1, std::memory_order_relaxed); }
        Burst(const Burst&) = delete;
        Burst& operator=(const Burst&) = delete;

    private:
        WorkerPool& pool_;
    };

private:
    // state_: bits 0-15 threads inside the current job, bit 16 the job still takes threads, the rest its
    // generation. One word, so that a worker cannot join a job that the caller has closed.
    static constexpr uint64_t kBusyMask = 0xffff, kOpen = 1u << 16, kGeneration = 1u << 17;

    struct alignas(64) Range
    {
        std::atomic<uint64_t> span{0}; // first index in the low half, end in the high half
    };

    void Execute(size_t count, const std::function<void(size_t)>& fn, bool local);
    void WorkerLoop(unsigned slot);
    void Start(size_t count, const std::function<void(size_t)>& fn, bool local);
    void Work(unsigned slot);
    bool TakeOwn(unsigned slot, size_t* index);
    bool Steal(unsigned slot, size_t* index);
    void Finish();

    std::vector<std::thread> workers_;
    std::unique_ptr<Range[]> ranges_; // one per thread, for RunLocal
    // The current job; written only while no worker is inside one.
    const std::function<void(size_t)>* job_ = nullptr;
    size_t count_ = 0;
    bool local_ = false;
    alignas(64) std::atomic<size_t> next_{0};
    alignas(64) std::atomic<uint64_t> state_{0};
    std::atomic<unsigned> sleepers_{0};
    std::atomic<int> bursts_{0};
    std::atomic<bool> quit_{false};
    std::mutex mutex_; // only for sleeping and waking
    std::condition_variable wake_;
    std::condition_variable done_;
    std::mutex runMutex_; // one Run at a time
};
} // namespace ferolt::d3d9
