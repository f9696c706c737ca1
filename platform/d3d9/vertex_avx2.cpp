// Eight vertices a step on processors with AVX2: vertex_lanes.h's lane path compiled for the AVX2 target.
// Only the functions defined between the target pragmas below use AVX2, and all but ProcessEightVertices
// have internal linkage; vertex.cpp calls it only after checking the processor. The headers come first so
// that nothing they define (and the linker might share with other files) is compiled for AVX2.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/d3d9/avx2_target.h"
#include "platform/d3d9/raster.h"

#if FEROLT_D3D9_AVX2
FEROLT_AVX2_BEGIN
#include "platform/d3d9/vertex_lanes.h"
#include "platform/d3d9/avx2_lanes.h"

namespace ferolt::d3d9
{
namespace
{
struct Avx8 : AvxLanes
{
    // Vertices 0-3 in the low half, 4-7 in the high half.
    static void Gather3(const uint8_t* p, int64_t stride, V* out)
    {
        __m128 lo[3], hi[3];
        GatherXyz4(p, stride, lo);
        GatherXyz4(p + 4 * stride, stride, hi);
        for (int c = 0; c < 3; ++c)
            out[c] = _mm256_insertf128_ps(_mm256_castps128_ps256(lo[c]), hi[c], 1);
    }
    static void Gather2(const uint8_t* p, int64_t stride, V* out)
    {
        __m128 lo[2], hi[2];
        GatherUv4(p, stride, lo);
        GatherUv4(p + 4 * stride, stride, hi);
        for (int c = 0; c < 2; ++c)
            out[c] = _mm256_insertf128_ps(_mm256_castps128_ps256(lo[c]), hi[c], 1);
    }
};
} // namespace

void ProcessEightVertices(const DrawConfig& cfg, const VertexLayoutOut& layout, int64_t index, float* o,
                          ScreenVertex* screen, float guardX, float guardY)
{
    ProcessLanes<Avx8>(cfg, layout, index, o, screen, guardX, guardY);
}
} // namespace ferolt::d3d9
FEROLT_AVX2_END
#endif
