// X files into meshes and models: a text file of about 1.5 MB and a binary one of about 2.5 MB, each a
// grid with normals, texture coordinates and two materials, as exporters write them.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/core/globals.h"
#include "engine/scene/model.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/user_host.h"
#include "tests/support/xfile_writer.h"

namespace
{
using ferolt::test::XEncoding;

// The smallest square grid whose file reaches `bytes`.
const std::vector<uint8_t>& GridFile(XEncoding encoding, size_t bytes)
{
    static std::vector<uint8_t> files[4];
    std::vector<uint8_t>& file = files[static_cast<int>(encoding)];
    for (uint32_t side = 16; file.size() < bytes; side += 8)
    {
        ferolt::test::XFileDesc desc;
        desc.meshes = {ferolt::test::XGridMesh(side, side)};
        file = ferolt::test::WriteXFile(desc, encoding);
    }
    return file;
}

bool StartEngine()
{
    if (LMK::CurrentGlobals) return true;
    ferolt::hooks::SetD3D9WorkerThreads(1);
    std::vector<ferolt::hooks::D3D9Adapter> adapters(1);
    adapters[0].monitorRect = RECT{0, 0, 64, 48};
    ferolt::hooks::SetD3D9Adapters(adapters);
    ferolt::win32::host::SetVirtualScreen({{adapters[0].monitorRect, {}}});
    return LRStart(nullptr) == S_OK;
}

IDirect3DDevice9* Device()
{
    return LMK::CurrentGlobals->devices.primaryDevice->device;
}

void Report(benchmark::State& state, const std::vector<uint8_t>& file)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
    state.counters["file_bytes"] = static_cast<double>(file.size());
}

// The X file reader alone: the file into a D3DX mesh with its materials.
void BM_XFileToMesh(benchmark::State& state, XEncoding encoding, size_t bytes)
{
    const std::vector<uint8_t>& file = GridFile(encoding, bytes);
    if (!StartEngine()) return state.SkipWithError("no engine");
    for (auto _ : state)
    {
        ID3DXMesh* mesh = nullptr;
        ID3DXBuffer* materials = nullptr;
        DWORD count = 0;
        if (FAILED(D3DXLoadMeshFromXInMemory(file.data(), DWORD(file.size()), D3DXMESH_MANAGED, Device(),
                                             nullptr, &materials, nullptr, &count, &mesh)))
            return state.SkipWithError("load failed");
        mesh->Release();
        materials->Release();
    }
    Report(state, file);
}

// The whole model: reader, format conversion, adjacency, cleaning, vertex-cache order, subsets.
void BM_XFileToModel(benchmark::State& state, XEncoding encoding, size_t bytes)
{
    const std::vector<uint8_t>& file = GridFile(encoding, bytes);
    if (!StartEngine()) return state.SkipWithError("no engine");
    for (auto _ : state)
    {
        HRESULT hr = E_FAIL;
        LMK::Model_* model = LMK::Model_::CreateFromXFile(file.data(), DWORD(file.size()), nullptr, &hr);
        if (!model || FAILED(hr)) return state.SkipWithError("load failed");
        model->Release();
    }
    Report(state, file);
}

constexpr size_t kTextBytes = 1536 * 1024;
constexpr size_t kBinaryBytes = 2560 * 1024;
BENCHMARK_CAPTURE(BM_XFileToMesh, text_1_5MB, XEncoding::Text, kTextBytes)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_XFileToMesh, binary_2_5MB, XEncoding::Binary, kBinaryBytes)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_XFileToModel, text_1_5MB, XEncoding::Text, kTextBytes)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_XFileToModel, binary_2_5MB, XEncoding::Binary, kBinaryBytes)
    ->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
