// Presenting a 1920 x 1080 client surface in the Qt backend, against one plain copy of its pixels.
#include "platform/backends/qt/qt_backend.h"
#include "platform/win32/user_host.h"
#include "platform/win32/window_surface.h"
#include "platform/win32/winuser.h"

#include <QtCore/QCoreApplication>
#include <QtWidgets/QWidget>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace
{
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

class PaintCounter : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
    int paints = 0;
};

struct Scene
{
    Scene()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        // Qt holds a window's repaint back a few milliseconds to coalesce updates; measure the work.
        setenv("QT_QPA_UPDATE_IDLE_TIME", "0", 0);
        backend = ferolt::backend::CreateQtBackend();
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "FeroltBenchPresent";
        RegisterClassA(&wc);
        hwnd = CreateWindowExA(0, "FeroltBenchPresent", "present", WS_POPUP | WS_VISIBLE, 0, 0, kWidth,
                               kHeight, nullptr, nullptr, nullptr, nullptr);
        widget = ferolt::backend::QtWindowOf(backend.get(), hwnd);
        widget->installEventFilter(&counter);
        QCoreApplication::processEvents();
    }
    ~Scene()
    {
        DestroyWindow(hwnd);
        backend.reset();
    }
    // A frame's pixels change as a Present would leave them.
    void Draw(uint32_t value)
    {
        ferolt::win32::SurfaceView v;
        ferolt::win32::LockClientSurface(hwnd, &v);
        v.pixels[(value % kHeight) * v.pitch + value % kWidth] = value;
        ferolt::win32::UnlockClientSurface(hwnd, nullptr);
    }

    std::unique_ptr<ferolt::backend::Backend> backend;
    HWND hwnd = nullptr;
    QWidget* widget = nullptr;
    PaintCounter counter;
};

Scene& TheScene()
{
    static Scene* scene = new Scene();
    return *scene;
}

// Surface change, then the event loop paints the widget from the surface.
void BM_PresentThroughEventLoop(benchmark::State& state)
{
    Scene& s = TheScene();
    uint32_t frame = 0;
    for (auto _ : state)
    {
        int before = s.counter.paints;
        s.Draw(++frame);
        while (s.counter.paints == before)
            s.backend->WaitForEvents(1000);
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}
BENCHMARK(BM_PresentThroughEventLoop)->Unit(benchmark::kMicrosecond);

// Surface change, then an immediate repaint: the paint alone, without the event loop around it.
void BM_PresentRepaint(benchmark::State& state)
{
    Scene& s = TheScene();
    uint32_t frame = 0;
    for (auto _ : state)
    {
        s.Draw(++frame);
        s.widget->repaint();
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}
BENCHMARK(BM_PresentRepaint)->Unit(benchmark::kMicrosecond);

// The yardstick: one copy of the frame's pixels.
void BM_CopyFramePixels(benchmark::State& state)
{
    std::vector<uint32_t> from(size_t{kWidth} * kHeight, 0x00336699u), to(from.size());
    for (auto _ : state)
    {
        std::memcpy(to.data(), from.data(), from.size() * 4);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kWidth} * kHeight * 4);
}
BENCHMARK(BM_CopyFramePixels)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
