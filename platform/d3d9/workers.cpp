#include "platform/d3d9/workers.h"

namespace ferolt::d3d9
{
WorkerPool::WorkerPool(unsigned threads)
{
    if (threads == 0) threads = 1;
    for (unsigned i = 1; i < threads; ++i)
        workers_.emplace_back([this] { WorkerLoop(); });
}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (auto& t : workers_)
        t.join();
}

void WorkerPool::Drain()
{
    for (;;)
    {
        size_t i = next_.fetch_add(1, std::memory_order_relaxed);
        if (i >= count_) return;
        (*job_)(i);
    }
}

void WorkerPool::WorkerLoop()
{
    uint64_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;)
    {
        wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
        if (quit_) return;
        seen = generation_;
        ++busy_;
        lock.unlock();
        Drain();
        lock.lock();
        if (--busy_ == 0) done_.notify_all();
    }
}

void WorkerPool::Run(size_t count, const std::function<void(size_t)>& fn)
{
    if (count == 0) return;
    if (workers_.empty() || count == 1)
    {
        for (size_t i = 0; i < count; ++i)
            fn(i);
        return;
    }
    std::lock_guard<std::mutex> runLock(runMutex_);
    {
        // A worker that woke late for the previous job may still be leaving it.
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return busy_ == 0; });
        job_ = &fn;
        count_ = count;
        next_.store(0, std::memory_order_relaxed);
        ++generation_;
    }
    wake_.notify_all();
    Drain();
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return busy_ == 0; });
    job_ = nullptr;
}
} // namespace ferolt::d3d9
