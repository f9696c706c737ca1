// Opening a sphere of 1,000,000 faces as the viewer does when a file is opened with it: the whole
// program starts headless with the file on its command line, its first timer tick loads the file
// through the codec into the engine, and the first frame is drawn. Each run is timed from the program's
// start to that frame (the time of the load alone beside it), on one thread and on every thread.
#include <benchmark/benchmark.h>

#include "platform/backends/headless/headless_backend.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/kernel_hooks.h"
#include "platform/win32/user_host.h"
#include "tests/support/sample_object_file.h"
#include "tests/support/sphere_object_file.h"
#include "tests/support/viewer_program_folder.h"
#include "viewer/tolvex_control.h"
#include "viewer/viewer_app.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace
{
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The program's files (registry, desktop entries, the sphere) in a folder of their own.
class ProgramFolder
{
public:
    ProgramFolder() : folder_("ferolt_bench_open_" + std::to_string(::getpid()))
    {
        ferolt::test::SphereDesc sphere;
        sphere.contentType = ferolt::test::kViewerContentType;
        const ferolt::test::Bytes file = ferolt::test::SphereObjectFile(sphere);
        sphere_ = (folder_.Root() / "sphere.tolvex").string();
        std::ofstream(sphere_, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        fileBytes_ = file.size();
    }

    const std::string& Sphere() const { return sphere_; }
    size_t FileBytes() const { return fileBytes_; }

private:
    ferolt::test::ViewerProgramFolder folder_;
    std::string sphere_;
    size_t fileBytes_ = 0;
};

// Fires the viewer's first timer tick as soon as its window waits, notes when the first frame with the
// loaded scene reaches the window, and then closes it.
class FirstFrameBackend : public ferolt::backend::HeadlessBackend
{
public:
    Clock::time_point tick, frame;
    bool drawn = false;

    void WaitForEvents(int timeoutMs) override
    {
        HWND window = ::FindWindowA(nullptr, "Ferolt");
        if (window && !ticked_)
        {
            ticked_ = true;
            viewer_ = dynamic_cast<CTolvexControl3D*>(CWnd::FromHandlePermanent(window));
            tick = Clock::now();
            AdvanceAndRun(CTolvexControl3D::kTimerMilliseconds, CTolvexControl3D::kTimerMilliseconds);
            if (::IsWindow(window)) ferolt::win32::host::CloseRequested(window);
            return;
        }
        HeadlessBackend::WaitForEvents(timeoutMs);
    }
    void SurfaceChanged(HWND hwnd, const RECT& area) override
    {
        HeadlessBackend::SurfaceChanged(hwnd, area);
        if (!drawn && viewer_ && viewer_->m_hWnd == hwnd && viewer_->HasObjects())
        {
            drawn = true;
            frame = Clock::now();
        }
    }

private:
    bool ticked_ = false;
    CTolvexControl3D* viewer_ = nullptr;
};

void BM_OpenMillionFaceSphere(benchmark::State& state)
{
    static const ProgramFolder folder;
    const unsigned threads =
        state.range(0) ? static_cast<unsigned>(state.range(0)) : std::thread::hardware_concurrency();
    ferolt::hooks::SetD3D9WorkerThreads(threads);
    ferolt::hooks::InstallManualClock(1000);
    double loadSeconds = 0;
    for (auto _ : state)
    {
        FirstFrameBackend backend;
        ferolt::viewer::ResetProcessStateForTests();
        std::string exe = "ferolt", file = folder.Sphere();
        char* argv[] = {exe.data(), file.data(), nullptr};
        const Clock::time_point start = Clock::now();
        const int exitCode = AfxWinMain(2, argv);
        if (exitCode != 0 || !backend.drawn)
        {
            state.SkipWithError("the sphere was not drawn");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(backend.frame - start).count());
        loadSeconds += std::chrono::duration<double>(backend.frame - backend.tick).count();
    }
    ferolt::hooks::RemoveManualClock();
    ferolt::hooks::SetD3D9WorkerThreads(0);
    state.counters["threads"] = threads;
    state.counters["load_ms"] = benchmark::Counter(
        loadSeconds * 1000.0 / static_cast<double>(std::max<int64_t>(1, state.iterations())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * folder.FileBytes()));
}
BENCHMARK(BM_OpenMillionFaceSphere)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace

BENCHMARK_MAIN();
