// The span loop (span_loop.h) at eight lanes, for processors with AVX2: the loop, the pixel rules and the
// lane type are compiled here for the AVX2 target, and draws come here only when the processor has it.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "platform/d3d9/avx2_target.h"
#include "platform/d3d9/raster.h"

#if FEROLT_D3D9_AVX2
FEROLT_AVX2_BEGIN
#define FEROLT_SPAN_TARGET FEROLT_AVX2
#include "platform/d3d9/avx2_lanes.h"
#include "platform/d3d9/pixel_lanes.h"
#include "platform/d3d9/span_loop.h"
FEROLT_AVX2_END
#endif

namespace ferolt::d3d9
{
namespace
{
std::atomic<bool> g_avx2Allowed{true};
} // namespace

bool PixelAvx2Enabled()
{
#if FEROLT_D3D9_AVX2
    static const bool has = __builtin_cpu_supports("avx2");
    return has && g_avx2Allowed.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

void SetPixelAvx2Allowed(bool allowed)
{
    g_avx2Allowed.store(allowed, std::memory_order_relaxed);
}

#if FEROLT_D3D9_AVX2
void PixelPipeline::SelectEightLaneLoop(int blendKind)
{
    spanLoop_ = SpanLoop<AvxLanes>::Select(depthActive_, blendKind);
    flushLanes_ = &SpanLoop<AvxLanes>::Flush;
}
#else
void PixelPipeline::SelectEightLaneLoop(int) {}
#endif
} // namespace ferolt::d3d9
