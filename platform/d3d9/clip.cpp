// Clipping of polygons in homogeneous clip space (Sutherland-Hodgman), one plane at a time. Every float
// of a vertex is interpolated, so clip distances, positions and varyings stay consistent.
#include <cstring>

#include "platform/d3d9/raster.h"

namespace ferolt::d3d9
{
int ClipPolygon(const VertexLayoutOut& layout, uint32_t planes, float* verts, int count, float* scratch,
                int capacity)
{
    const int stride = layout.stride;
    float* in = verts;
    float* out = scratch;
    for (int plane = 0; plane < layout.clipCount && count > 0; ++plane)
    {
        if (!(planes & (1u << plane))) continue;
        const int c = VertexLayoutOut::kClip + plane;
        int n = 0;
        for (int i = 0; i < count && n + 2 <= capacity; ++i)
        {
            const float* a = in + i * stride;
            const float* b = in + ((i + 1) % count) * stride;
            const float da = a[c], db = b[c];
            if (da >= 0.0f) std::memcpy(out + (n++) * stride, a, stride * sizeof(float));
            if ((da >= 0.0f) != (db >= 0.0f))
            {
                // Interpolate from the inside vertex so that both sides of a shared edge compute the
                // same point.
                const float* p = da >= 0.0f ? a : b;
                const float* q = da >= 0.0f ? b : a;
                const float dp = p[c], dq = q[c];
                const float t = dp / (dp - dq);
                float* o = out + (n++) * stride;
                for (int k = 0; k < stride; ++k)
                    o[k] = p[k] + (q[k] - p[k]) * t;
                o[c] = 0.0f;
                std::memcpy(o + VertexLayoutOut::kFlags, p + VertexLayoutOut::kFlags, 4);
            }
        }
        count = n;
        std::swap(in, out);
    }
    if (in != verts && count > 0) std::memcpy(verts, in, static_cast<size_t>(count) * stride * sizeof(float));
    return count;
}
} // namespace ferolt::d3d9
