#pragma once
// A fixed set of worker threads that run index ranges in parallel. The calling thread takes part, so a
// pool of one thread runs everything inline. Which thread runs an index never changes a result.
#include <atomic>
#include <condition_variable>
#include <functional>
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

    // Calls fn(i) for every i in [0, count) and returns when all calls have ended.
    void Run(size_t count, const std::function<void(size_t)>& fn);

private:
    void WorkerLoop();
    void Drain();

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(size_t)>* job_ = nullptr;
    size_t count_ = 0;
    std::atomic<size_t> next_{0};
    unsigned busy_ = 0;
    uint64_t generation_ = 0;
    bool quit_ = false;
    std::mutex runMutex_; // one Run at a time
};
} // namespace ferolt::d3d9
