// The device's worker pool: every index runs once and has ended when Run returns, whatever the thread count,
// the mode, the nesting or the callers; a thread stuck on one index does not stop the others. And the tile
// pass that the pool runs writes the same bytes on any number of threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/d3d9/workers.h"
#include "tests/platform/d3d9/d3d9_test_util.h"

namespace
{
using ferolt::d3d9::WorkerPool;

enum class Mode
{
    Shared,
    Local,
};

void RunIn(WorkerPool& pool, Mode mode, size_t count, const std::function<void(size_t)>& fn)
{
    if (mode == Mode::Local)
        pool.RunLocal(count, fn);
    else
        pool.Run(count, fn);
}

// Runs count indices and checks that each ran once and had ended by the time Run returned.
void ExpectEachOnce(WorkerPool& pool, Mode mode, size_t count, const char* what)
{
    std::unique_ptr<std::atomic<int>[]> calls(new std::atomic<int>[count]());
    std::unique_ptr<std::atomic<bool>[]> ended(new std::atomic<bool>[count]());
    RunIn(pool, mode, count,
          [&](size_t i)
          {
              calls[i].fetch_add(1);
              if (i % 7 == 3) std::this_thread::sleep_for(std::chrono::microseconds(200));
              ended[i].store(true);
          });
    size_t wrong = 0;
    for (size_t i = 0; i < count; ++i)
        if (calls[i].load() != 1 || !ended[i].load()) ++wrong;
    EXPECT_EQ(wrong, 0u) << what << ", " << count << " indices";
}

TEST(WorkerPoolTest, EveryIndexRunsOnceAndHasEndedOnReturn)
{
    struct Case
    {
        unsigned threads;
        Mode mode;
        size_t count;
    };
    const Case cases[] = {
        {1, Mode::Shared, 5},   {1, Mode::Local, 5},    {2, Mode::Shared, 1},  {2, Mode::Local, 1},
        {3, Mode::Shared, 2},   {3, Mode::Local, 2},    {4, Mode::Local, 3},   {4, Mode::Local, 4},
        {4, Mode::Local, 1000}, {8, Mode::Shared, 997}, {8, Mode::Local, 997}, {8, Mode::Local, 9},
        {16, Mode::Local, 64},  {16, Mode::Shared, 64}, {3, Mode::Shared, 0},  {3, Mode::Local, 0},
    };
    for (const Case& c : cases)
    {
        WorkerPool pool(c.threads);
        const std::string what = std::to_string(c.threads) + (c.mode == Mode::Local ? " local" : " shared");
        ExpectEachOnce(pool, c.mode, c.count, what.c_str());
        // Again, once the workers have given up waiting and sleep.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ExpectEachOnce(pool, c.mode, c.count, what.c_str());
    }
}

TEST(WorkerPoolTest, PoolOfOneRunsInOrderOnTheCaller)
{
    WorkerPool pool(1);
    EXPECT_EQ(pool.ThreadCount(), 1u);
    for (Mode mode : {Mode::Shared, Mode::Local})
    {
        std::vector<size_t> order;
        bool elsewhere = false;
        const auto caller = std::this_thread::get_id();
        RunIn(pool, mode, 6,
              [&](size_t i)
              {
                  order.push_back(i);
                  elsewhere = elsewhere || std::this_thread::get_id() != caller;
              });
        EXPECT_EQ(order, (std::vector<size_t>{0, 1, 2, 3, 4, 5}));
        EXPECT_FALSE(elsewhere);
    }
}

// Many short jobs back to back, as draws of a few pixels give: no job is lost or run twice while workers
// come and go between spinning and sleeping.
TEST(WorkerPoolTest, ShortJobsBackToBack)
{
    WorkerPool pool(4);
    std::atomic<size_t> total{0};
    size_t expected = 0;
    for (int job = 0; job < 3000; ++job)
    {
        const size_t count = 2 + job % 9;
        expected += count * (count + 1) / 2;
        RunIn(pool, job % 3 ? Mode::Local : Mode::Shared, count, [&](size_t i) { total.fetch_add(i + 1); });
        if (job % 500 == 499) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(total.load(), expected);
}

TEST(WorkerPoolTest, RunFromInsideAJobRunsInline)
{
    WorkerPool pool(4);
    for (Mode outer : {Mode::Shared, Mode::Local})
        for (Mode inner : {Mode::Shared, Mode::Local})
        {
            std::atomic<int> calls{0};
            RunIn(pool, outer, 8,
                  [&](size_t)
                  {
                      const auto self = std::this_thread::get_id();
                      bool elsewhere = false;
                      RunIn(pool, inner, 5,
                            [&](size_t)
                            {
                                calls.fetch_add(1);
                                elsewhere = elsewhere || std::this_thread::get_id() != self;
                            });
                      EXPECT_FALSE(elsewhere);
                  });
            EXPECT_EQ(calls.load(), 40);
        }
}

TEST(WorkerPoolTest, CallersOnSeveralThreadsShareOnePool)
{
    WorkerPool pool(4);
    std::atomic<size_t> total{0};
    std::vector<std::thread> callers;
    for (int c = 0; c < 3; ++c)
        callers.emplace_back(
            [&, c]
            {
                for (int job = 0; job < 200; ++job)
                    RunIn(pool, (job + c) % 2 ? Mode::Local : Mode::Shared, 16,
                          [&](size_t i) { total.fetch_add(i); });
            });
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(total.load(), 3u * 200u * (15u * 16u / 2u));
}

// A job that throws on the calling thread passes the exception on once every call inside has ended, and
// the pool takes the next job as usual.
TEST(WorkerPoolTest, ThrowOnTheCallerEndsTheJobCleanly)
{
    WorkerPool pool(4);
    for (Mode mode : {Mode::Shared, Mode::Local})
    {
        const auto caller = std::this_thread::get_id();
        std::atomic<int> inside{0};
        std::atomic<bool> callerRan{false};
        bool leftEarly = false;
        EXPECT_THROW(RunIn(pool, mode, 400,
                           [&](size_t)
                           {
                               inside.fetch_add(1);
                               if (std::this_thread::get_id() == caller)
                               {
                                   callerRan = true;
                                   inside.fetch_sub(1);
                                   throw std::runtime_error("stop");
                               }
                               // The workers hold their first index until the caller has taken one, so a
                               // loaded machine cannot let them finish the job before the caller starts.
                               for (int wait = 0; !callerRan && wait < 20000; ++wait)
                                   std::this_thread::sleep_for(std::chrono::microseconds(50));
                               std::this_thread::sleep_for(std::chrono::microseconds(50));
                               inside.fetch_sub(1);
                           }),
                     std::runtime_error);
        leftEarly = inside.load() != 0;
        EXPECT_FALSE(leftEarly);
        ExpectEachOnce(pool, mode, 100, "after a throw");
    }
}

// One index waits until every other one has run: the other threads must take the rest of its thread's
// range, or the job never ends.
TEST(WorkerPoolTest, ThreadStuckOnOneIndexDoesNotHoldTheRest)
{
    for (Mode mode : {Mode::Shared, Mode::Local})
        for (unsigned threads : {2u, 8u})
        {
            WorkerPool pool(threads);
            const size_t count = 8 * threads;
            std::atomic<size_t> done{0};
            bool timedOut = false;
            RunIn(pool, mode, count,
                  [&](size_t i)
                  {
                      if (i == 0)
                      {
                          const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                          while (done.load() < count - 1)
                          {
                              if (std::chrono::steady_clock::now() > end)
                              {
                                  timedOut = true;
                                  break;
                              }
                              std::this_thread::yield();
                          }
                      }
                      done.fetch_add(1);
                  });
            EXPECT_FALSE(timedOut) << threads << " threads, " << (mode == Mode::Local ? "local" : "shared");
            EXPECT_EQ(done.load(), count);
        }
}

// Tiles of a few large primitives are split in strips of rows between threads, tiles of many are not; a
// scissor rectangle off the tile grid and a target of partial tiles move every unit's bounds.
TEST(TilePassTest, AnyThreadCountWritesTheSameBytes)
{
    auto render = [](unsigned threads)
    {
        d3d9test::Target t(200, 150, D3DFMT_D24S8, threads);
        IDirect3DTexture9* tex = d3d9test::MakeTexture(
            t.Get(), 32, 32,
            [](UINT x, UINT y, UINT) { return 0x90000000u | (x * 8) << 16 | (y * 8) << 8 | 0x40; });
        t->SetTexture(0, tex);
        t->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        t->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        t->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        t->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        t->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        t->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        t.Clear(0xff203040);
        const RECT scissor = {13, 7, 190, 141};
        t->SetScissorRect(&scissor);
        t->SetRenderState(D3DRS_SCISSORTESTENABLE, TRUE);
        t.Rect(-0.5f, -0.5f, 199.5f, 149.5f, 0xc0ffffff, 0.5f, 0, 0, 3.1f, 2.3f);
        t.Rect(20.3f, 9.7f, 170.6f, 120.2f, 0x80ff8040, 0.4f, 0.2f, 0.1f, 1.7f, 1.3f);
        // Many small triangles: tiles too full to split.
        std::vector<d3d9test::TVertex> small;
        for (int i = 0; i < 600; ++i)
        {
            const float x = static_cast<float>((i * 37) % 190), y = static_cast<float>((i * 53) % 140);
            small.push_back({x, y, 0.3f, 1, 0xa0ffffffu - static_cast<DWORD>(i), 0, 0});
            small.push_back({x + 9.5f, y + 1.25f, 0.3f, 1, 0xa080ff80u, 1, 0});
            small.push_back({x + 2.75f, y + 8.5f, 0.3f, 1, 0xa08080ffu, 0, 1});
        }
        t->SetFVF(d3d9test::kTVertexFvf);
        EXPECT_EQ(t->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 600, small.data(), sizeof(d3d9test::TVertex)),
                  D3D_OK);
        t.Rect(100.5f, 60.5f, 230.0f, 200.0f, 0x60ffffff, 0.2f);
        t->SetTexture(0, nullptr);
        tex->Release();
        return t.Pixels();
    };
    const auto one = render(1);
    EXPECT_EQ(one[3 * 200 + 100], 0xff203040u) << "outside the scissor rectangle";
    EXPECT_NE(one[70 * 200 + 100], 0xff203040u) << "inside";
    for (unsigned threads : {2u, 3u, 8u})
        EXPECT_TRUE(render(threads) == one) << threads << " threads";
}
} // namespace
