#include "platform/d3d9/workers.h"

#include <chrono>

namespace ferolt::d3d9
{
namespace
{
// How long an idle worker spins for the next job before it sleeps, outside a Burst: long enough to catch a
// job that follows at once, short enough that a pool with no work leaves the cores to others.
constexpr auto kIdleSpin = std::chrono::microseconds(4);
// How long the caller spins for the workers to end the current job before it sleeps: they are working, and
// the end of a job is on the caller's path.
constexpr auto kFinishSpin = std::chrono::microseconds(20);

// The pool whose job the current thread is running, so that a Run from inside a job runs inline.
thread_local const WorkerPool* tInside = nullptr;

inline void Pause()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Calls until(); spins while it is false, for at most `spin`, and then for as long as more() holds giving the
// core to any other thread that wants it between looks. Returns its last answer.
template <typename Until, typename More>
bool SpinUntil(Until until, std::chrono::microseconds spin, More more)
{
    const auto end = std::chrono::steady_clock::now() + spin;
    for (;;)
    {
        for (int i = 0; i < 16; ++i)
        {
            if (until()) return true;
            Pause();
        }
        if (std::chrono::steady_clock::now() >= end) break;
    }
    while (more())
    {
        if (until()) return true;
        std::this_thread::yield();
    }
    return until();
}

inline uint64_t Pack(size_t first, size_t end)
{
    return static_cast<uint64_t>(first) | static_cast<uint64_t>(end) << 32;
}
inline size_t First(uint64_t span)
{
    return static_cast<size_t>(span & 0xffffffffu);
}
inline size_t End(uint64_t span)
{
    return static_cast<size_t>(span >> 32);
}
} // namespace

WorkerPool::WorkerPool(unsigned threads)
{
    if (threads == 0) threads = 1;
    if (threads > kBusyMask) threads = kBusyMask;
    ranges_.reset(new Range[threads]);
    for (unsigned i = 1; i < threads; ++i)
        workers_.emplace_back([this, i] { WorkerLoop(i); });
}

WorkerPool::~WorkerPool()
{
    quit_.store(true);
    {
        std::lock_guard<std::mutex> lock(mutex_);
    }
    wake_.notify_all();
    for (auto& t : workers_)
        t.join();
}

void WorkerPool::WorkerLoop(unsigned slot)
{
    tInside = this;
    uint64_t seen = 0; // generation bits of the last job this thread saw
    for (;;)
    {
        uint64_t s = state_.load(std::memory_order_acquire);
        auto ready = [&]
        {
            s = state_.load(std::memory_order_acquire);
            return quit_.load(std::memory_order_relaxed) || (s & ~(kBusyMask | kOpen)) != seen;
        };
        if (!SpinUntil(ready, kIdleSpin, [&] { return bursts_.load(std::memory_order_relaxed) > 0; }))
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // Counted before the last look at state_, so that Start either sees a sleeper or this thread
            // sees the job.
            sleepers_.fetch_add(1);
            wake_.wait(lock, ready);
            sleepers_.fetch_sub(1);
        }
        if (quit_.load()) return;
        // Join the job unless the caller has closed it already.
        bool joined = false;
        while (s & kOpen)
            if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_acquire))
            {
                joined = true;
                break;
            }
        seen = s & ~(kBusyMask | kOpen);
        if (!joined) continue;
        Work(slot);
        const uint64_t after = state_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if ((after & kBusyMask) == 0 && !(after & kOpen))
        {
            // The caller may be asleep waiting for the last thread.
            std::lock_guard<std::mutex> lock(mutex_);
            done_.notify_all();
        }
    }
}

void WorkerPool::Start(size_t count, const std::function<void(size_t)>& fn, bool local)
{
    job_ = &fn;
    count_ = count;
    local_ = local;
    next_.store(0, std::memory_order_relaxed);
    if (local)
    {
        const size_t n = ThreadCount();
        for (size_t k = 0; k < n; ++k)
            ranges_[k].span.store(Pack(count * k / n, count * (k + 1) / n), std::memory_order_relaxed);
    }
    // No thread is inside a job and none can join: the previous one was closed and left.
    const uint64_t s = state_.load(std::memory_order_relaxed);
    state_.store(((s & ~(kBusyMask | kOpen)) + kGeneration) | kOpen);
    if (sleepers_.load() != 0)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
        }
        wake_.notify_all();
    }
}

bool WorkerPool::TakeOwn(unsigned slot, size_t* index)
{
    std::atomic<uint64_t>& span = ranges_[slot].span;
    uint64_t s = span.load(std::memory_order_relaxed);
    while (First(s) < End(s))
        if (span.compare_exchange_weak(s, s + 1, std::memory_order_relaxed))
        {
            *index = First(s);
            return true;
        }
    return false;
}

bool WorkerPool::Steal(unsigned slot, size_t* index)
{
    const unsigned n = ThreadCount();
    for (;;)
    {
        unsigned victim = n;
        size_t most = 0;
        for (unsigned k = 0; k < n; ++k)
        {
            if (k == slot) continue;
            const uint64_t s = ranges_[k].span.load(std::memory_order_relaxed);
            if (End(s) > First(s) && End(s) - First(s) > most)
            {
                most = End(s) - First(s);
                victim = k;
            }
        }
        if (victim == n) return false;
        std::atomic<uint64_t>& span = ranges_[victim].span;
        uint64_t s = span.load(std::memory_order_relaxed);
        while (First(s) < End(s))
            if (span.compare_exchange_weak(s, Pack(First(s), End(s) - 1), std::memory_order_relaxed))
            {
                *index = End(s) - 1;
                return true;
            }
    }
}

void WorkerPool::Work(unsigned slot)
{
    const auto& fn = *job_;
    size_t i;
    if (!local_)
    {
        while ((i = next_.fetch_add(1, std::memory_order_relaxed)) < count_)
            fn(i);
        return;
    }
    while (TakeOwn(slot, &i))
        fn(i);
    while (Steal(slot, &i))
        fn(i);
}

void WorkerPool::Finish()
{
    // Close the job to late workers, then wait for those inside to leave.
    state_.fetch_and(~kOpen, std::memory_order_acq_rel);
    auto left = [&] { return (state_.load(std::memory_order_acquire) & kBusyMask) == 0; };
    if (!SpinUntil(left, kFinishSpin, [] { return false; }))
    {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, left);
    }
    job_ = nullptr;
}

void WorkerPool::Execute(size_t count, const std::function<void(size_t)>& fn, bool local)
{
    if (count == 0) return;
    if (workers_.empty() || count == 1 || tInside == this)
    {
        for (size_t i = 0; i < count; ++i)
            fn(i);
        return;
    }
    std::lock_guard<std::mutex> runLock(runMutex_);
    // Ends the job also when fn throws on this thread, so that no worker still calls fn once Run has left
    // and the next job starts clean.
    struct Scope
    {
        WorkerPool* pool;
        const WorkerPool* outer = tInside;
        ~Scope()
        {
            pool->Finish();
            tInside = outer;
        }
    } scope{this};
    tInside = this;
    Start(count, fn, local);
    Work(0);
}

void WorkerPool::Run(size_t count, const std::function<void(size_t)>& fn)
{
    Execute(count, fn, false);
}

void WorkerPool::RunLocal(size_t count, const std::function<void(size_t)>& fn)
{
    // Ranges are kept in halves of one word.
    Execute(count, fn, count <= 0xffffffffu);
}
} // namespace ferolt::d3d9
