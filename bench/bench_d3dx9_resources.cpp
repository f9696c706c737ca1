// D3DX meshes and textures on the device double: the steps the engine runs for every model part
// (adjacency, cleaning, attribute sort with cache order), picking, and texture loading with mips.
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/d3dx9/d3dx9.h"
#include "platform/image/image.h"
#include "tests/platform/d3dx9_resources/fake_device.h"

namespace
{
// An n x n grid of quads in the 0x212 format, attribute ids in interleaved stripes of four.
ID3DXMesh* Grid(IDirect3DDevice9* device, int n)
{
    const DWORD vertices = DWORD((n + 1) * (n + 1)), faces = DWORD(n * n * 2);
    ID3DXMesh* mesh = nullptr;
    if (FAILED(D3DXCreateMeshFVF(faces, vertices, D3DXMESH_MANAGED, 0x212, device, &mesh))) return nullptr;
    float* v = nullptr;
    mesh->LockVertexBuffer(0, reinterpret_cast<void**>(&v));
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x, v += 10)
        {
            v[0] = float(x);
            v[1] = float(y);
            v[2] = 0.01f * float((x * 7 + y * 3) % 11);
        }
    mesh->UnlockVertexBuffer();
    WORD* ix = nullptr;
    DWORD* attr = nullptr;
    mesh->LockIndexBuffer(0, reinterpret_cast<void**>(&ix));
    mesh->LockAttributeBuffer(0, &attr);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
        {
            const WORD a = WORD(y * (n + 1) + x), b = WORD(a + 1), c = WORD(a + n + 1), d = WORD(c + 1);
            const WORD tri[6] = {a, c, d, a, d, b};
            for (WORD i : tri)
                *ix++ = i;
            *attr++ = DWORD((x / 4) % 3);
            *attr++ = DWORD((x / 4) % 3);
        }
    mesh->UnlockAttributeBuffer();
    mesh->UnlockIndexBuffer();
    return mesh;
}

void BM_GenerateAdjacency(benchmark::State& state)
{
    ferolt::test::FakeDevice device;
    ID3DXMesh* mesh = Grid(&device, int(state.range(0)));
    std::vector<DWORD> adj(mesh->GetNumFaces() * 3);
    for (auto _ : state)
        benchmark::DoNotOptimize(mesh->GenerateAdjacency(0.0f, adj.data()));
    state.SetItemsProcessed(state.iterations() * mesh->GetNumFaces());
    mesh->Release();
}
BENCHMARK(BM_GenerateAdjacency)->Arg(64)->Arg(160);

void BM_PartPipeline(benchmark::State& state)
{
    // Clean, then sort for the vertex cache, as a model part is prepared.
    ferolt::test::FakeDevice device;
    for (auto _ : state)
    {
        state.PauseTiming();
        ID3DXMesh* mesh = Grid(&device, int(state.range(0)));
        std::vector<DWORD> adj(mesh->GetNumFaces() * 3), adj2(adj.size());
        state.ResumeTiming();
        mesh->GenerateAdjacency(0.0f, adj.data());
        ID3DXMesh* cleaned = nullptr;
        D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, mesh, adj.data(), &cleaned, adj2.data(), nullptr);
        cleaned->OptimizeInplace(0x07000000, adj2.data(), adj.data(), nullptr, nullptr);
        state.PauseTiming();
        cleaned->Release();
        mesh->Release();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(0) * 2);
}
BENCHMARK(BM_PartPipeline)->Arg(64)->Arg(160);

void BM_IntersectSubset(benchmark::State& state)
{
    ferolt::test::FakeDevice device;
    ID3DXMesh* mesh = Grid(&device, int(state.range(0)));
    const D3DXVECTOR3 pos(10.3f, 20.7f, -5.0f), dir(0.01f, 0.02f, 1.0f);
    for (auto _ : state)
    {
        BOOL hit;
        DWORD face;
        float u, v, dist;
        benchmark::DoNotOptimize(
            D3DXIntersectSubset(mesh, 1, &pos, &dir, &hit, &face, &u, &v, &dist, nullptr, nullptr));
    }
    state.SetItemsProcessed(state.iterations() * mesh->GetNumFaces());
    mesh->Release();
}
BENCHMARK(BM_IntersectSubset)->Arg(160);

void BM_TextureFromBmp(benchmark::State& state)
{
    const uint32_t side = uint32_t(state.range(0));
    std::vector<uint32_t> pixels(size_t(side) * side);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = 0xFF000000u | uint32_t(i * 2654435761u >> 8);
    std::vector<uint8_t> file;
    ferolt::image::EncodeBmp24(pixels.data(), side, side, side, &file);
    ferolt::test::FakeDevice device;
    for (auto _ : state)
    {
        IDirect3DTexture9* tex = nullptr;
        D3DXCreateTextureFromFileInMemoryEx(&device, file.data(), UINT(file.size()), 0, 0, 0, 0,
                                            D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_FILTER_BOX,
                                            D3DX_FILTER_BOX, 0xFF000000, nullptr, nullptr, &tex);
        tex->Release();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(pixels.size()) * 4);
}
BENCHMARK(BM_TextureFromBmp)->Arg(256)->Arg(1024);
} // namespace
BENCHMARK_MAIN();
