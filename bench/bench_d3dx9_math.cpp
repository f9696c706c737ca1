// Hot maths of the software pipeline and picking: point transforms, products, inversion, ray tests.
#include "platform/d3dx9/d3dx9.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace
{

D3DXMATRIX ViewProjection()
{
    D3DXMATRIX view, proj, vp;
    const D3DXVECTOR3 eye(3, -4, 5), at(0, 0, 0), up(0, 0, 1);
    D3DXMatrixLookAtRH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovRH(&proj, D3DX_PI / 4, 4.0f / 3.0f, 0.1f, 100.0f);
    return *D3DXMatrixMultiply(&vp, &view, &proj);
}

void BM_Vec3TransformCoord(benchmark::State& state)
{
    const D3DXMATRIX m = ViewProjection();
    std::vector<D3DXVECTOR3> points(1024);
    for (size_t i = 0; i < points.size(); ++i)
        points[i] =
            D3DXVECTOR3(static_cast<float>(i % 17), static_cast<float>(i % 13), static_cast<float>(i % 7));
    std::vector<D3DXVECTOR3> out(points.size());
    for (auto _ : state)
    {
        for (size_t i = 0; i < points.size(); ++i)
            D3DXVec3TransformCoord(&out[i], &points[i], &m);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(points.size()));
}
BENCHMARK(BM_Vec3TransformCoord);

void BM_MatrixMultiply(benchmark::State& state)
{
    const D3DXMATRIX a = ViewProjection();
    D3DXMATRIX b, out;
    D3DXMatrixRotationYawPitchRoll(&b, 0.3f, 0.2f, 0.1f);
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(b);
        D3DXMatrixMultiply(&out, &b, &a);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_MatrixMultiply);

void BM_MatrixInverse(benchmark::State& state)
{
    const D3DXMATRIX a = ViewProjection();
    D3DXMATRIX inv;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(D3DXMatrixInverse(&inv, nullptr, &a));
        benchmark::DoNotOptimize(inv);
    }
}
BENCHMARK(BM_MatrixInverse);

void BM_IntersectTri(benchmark::State& state)
{
    const D3DXVECTOR3 p0(0, 0, 0), p1(1, 0, 0), p2(0, 1, 0), pos(0.25f, 0.25f, 5), dir(0, 0, -1);
    float u, v, d;
    for (auto _ : state)
        benchmark::DoNotOptimize(D3DXIntersectTri(&p0, &p1, &p2, &pos, &dir, &u, &v, &d));
}
BENCHMARK(BM_IntersectTri);

} // namespace

BENCHMARK_MAIN();
