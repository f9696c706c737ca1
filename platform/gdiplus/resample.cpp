// Separable resampling for scaled drawing: area averaging when shrinking (every source pixel
// counts by the area it covers), bicubic (a = -0.5) when growing, in premultiplied float.
#include "platform/gdiplus/gdiplus.h"

#include <algorithm>
#include <cmath>

namespace ferolt::gdiplus
{
namespace
{
struct Tap
{
    uint32_t index;
    float weight;
};

struct Taps
{
    std::vector<uint32_t> start; // dstLen + 1 offsets into taps
    std::vector<Tap> taps;
};

float Cubic(double x)
{
    constexpr double a = -0.5;
    x = std::fabs(x);
    if (x < 1) return float(((a + 2) * x - (a + 3)) * x * x + 1);
    if (x < 2) return float(((a * x - 5 * a) * x + 8 * a) * x - 4 * a);
    return 0;
}

Taps BuildTaps(uint32_t srcLen, uint32_t dstLen, Filter filter)
{
    Taps t;
    t.start.reserve(dstLen + 1);
    const double scale = double(srcLen) / double(dstLen);
    for (uint32_t i = 0; i < dstLen; ++i)
    {
        t.start.push_back(uint32_t(t.taps.size()));
        if (filter == Filter::Nearest || srcLen == dstLen)
        {
            const uint32_t s = std::min(srcLen - 1, uint32_t((i + 0.5) * scale));
            t.taps.push_back({s, 1.f});
        }
        else if (dstLen < srcLen)
        {
            const double lo = i * scale, hi = (i + 1) * scale;
            const uint32_t first = uint32_t(lo), last = std::min(srcLen, uint32_t(std::ceil(hi)));
            for (uint32_t s = first; s < last; ++s)
            {
                const double w = std::min(hi, double(s + 1)) - std::max(lo, double(s));
                if (w > 0) t.taps.push_back({s, float(w / scale)});
            }
        }
        else
        {
            const double centre = (i + 0.5) * scale - 0.5;
            const double base = std::floor(centre);
            float sum = 0;
            const size_t from = t.taps.size();
            for (int k = -1; k <= 2; ++k)
            {
                const double s = base + k;
                const float w = Cubic(s - centre);
                const uint32_t index = uint32_t(std::clamp(s, 0.0, double(srcLen - 1)));
                t.taps.push_back({index, w});
                sum += w;
            }
            for (size_t k = from; k < t.taps.size(); ++k)
                t.taps[k].weight /= sum;
        }
    }
    t.start.push_back(uint32_t(t.taps.size()));
    return t;
}

struct Px
{
    float b, g, r, a; // premultiplied
};

Px Premultiplied(uint32_t argb)
{
    const float a = float(argb >> 24) / 255.f;
    return {float(argb & 0xFF) * a, float((argb >> 8) & 0xFF) * a, float((argb >> 16) & 0xFF) * a,
            float(argb >> 24)};
}

uint32_t Straight(Px p)
{
    const float a = std::clamp(p.a, 0.f, 255.f);
    if (a < 0.5f) return 0;
    auto channel = [&](float c)
    {
        const float v = std::clamp(c, 0.f, a) * 255.f / a;
        return uint32_t(std::min(255.f, v + 0.5f));
    };
    return (uint32_t(a + 0.5f) << 24) | (channel(p.r) << 16) | (channel(p.g) << 8) | channel(p.b);
}
} // namespace

std::vector<uint32_t> Resample(const uint32_t* src, uint32_t srcW, uint32_t srcH, uint32_t dstW,
                               uint32_t dstH, Filter filter)
{
    std::vector<uint32_t> out;
    if (!src || !srcW || !srcH || !dstW || !dstH) return out;
    out.resize(size_t(dstW) * dstH);
    const Taps hx = BuildTaps(srcW, dstW, filter), vy = BuildTaps(srcH, dstH, filter);
    // Source rows filtered horizontally, made when first needed and dropped once no later output
    // row reads them (the vertical taps only move forward).
    std::vector<std::vector<Px>> rows(srcH);
    uint32_t dropped = 0;
    auto row = [&](uint32_t y) -> const std::vector<Px>&
    {
        std::vector<Px>& r = rows[y];
        if (r.empty())
        {
            r.resize(dstW);
            const uint32_t* s = src + size_t(y) * srcW;
            for (uint32_t x = 0; x < dstW; ++x)
            {
                Px acc{0, 0, 0, 0};
                for (uint32_t k = hx.start[x]; k < hx.start[x + 1]; ++k)
                {
                    const Px p = Premultiplied(s[hx.taps[k].index]);
                    const float w = hx.taps[k].weight;
                    acc.b += p.b * w, acc.g += p.g * w, acc.r += p.r * w, acc.a += p.a * w;
                }
                r[x] = acc;
            }
        }
        return r;
    };
    for (uint32_t y = 0; y < dstH; ++y)
    {
        uint32_t lowest = srcH;
        for (uint32_t k = vy.start[y]; k < vy.start[y + 1]; ++k)
            lowest = std::min(lowest, vy.taps[k].index);
        for (; dropped < lowest; ++dropped)
            std::vector<Px>().swap(rows[dropped]);
        uint32_t* o = out.data() + size_t(y) * dstW;
        for (uint32_t x = 0; x < dstW; ++x)
        {
            Px acc{0, 0, 0, 0};
            for (uint32_t k = vy.start[y]; k < vy.start[y + 1]; ++k)
            {
                const Px& p = row(vy.taps[k].index)[x];
                const float w = vy.taps[k].weight;
                acc.b += p.b * w, acc.g += p.g * w, acc.r += p.r * w, acc.a += p.a * w;
            }
            o[x] = Straight(acc);
        }
    }
    return out;
}

uint32_t BlendOver(uint32_t src, uint32_t dst)
{
    const uint32_t sa = src >> 24;
    if (sa == 255) return src;
    if (sa == 0) return dst;
    const uint32_t da = dst >> 24;
    // Alpha and colours in units of 255 * 255 to stay in integers.
    const uint32_t outA = sa * 255 + da * (255 - sa);
    uint32_t result = ((outA + 127) / 255) << 24;
    for (int shift = 0; shift < 24; shift += 8)
    {
        const uint32_t sc = (src >> shift) & 0xFF, dc = (dst >> shift) & 0xFF;
        const uint64_t num = uint64_t(sc) * sa * 255 + uint64_t(dc) * da * (255 - sa);
        result |= uint32_t((num + outA / 2) / outA) << shift;
    }
    return result;
}
} // namespace ferolt::gdiplus
