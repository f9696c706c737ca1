// Fuzzes model files loaded by name: the input is served by an in-memory loader and goes through
// format recognition and the builder it picks ("LK3D", "K3DD", X files, the recognised-only formats).
// A model that loads must have subsets that stay within its parts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/core/globals.h"
#include "engine/scene/lr_model_loading_api.h"
#include "engine/scene/mesh.h"
#include "engine/scene/model.h"
#include "engine/scene/model_draw_data.h"
#include "platform/d3d9/d3d9_hooks.h"
#include "platform/win32/user_host.h"

namespace
{
std::vector<uint8_t> input;

int __stdcall Load(const LMK::LoaderRequestStruct_TYP*, void** data, DWORD* size, void**, DWORD*)
{
    // An exact-size copy, so a read past the length is a read past the allocation; an empty input is
    // delivered as no data, as a file loader delivers it.
    void* copy = input.empty() ? nullptr : std::malloc(input.size());
    if (copy) std::memcpy(copy, input.data(), input.size());
    *data = copy;
    *size = static_cast<DWORD>(input.size());
    return 0;
}

void __stdcall Release(void*, void* data, void*, DWORD, LMK::LoadedPart_*)
{
    std::free(data);
}

// One engine for the whole run, stopped at exit so that nothing it holds counts as a leak.
struct Engine
{
    Engine()
    {
        ferolt::hooks::SetD3D9WorkerThreads(1);
        std::vector<ferolt::hooks::D3D9Adapter> adapters(1);
        adapters[0].monitorRect = RECT{0, 0, 64, 48};
        ferolt::hooks::SetD3D9Adapters(adapters);
        ferolt::win32::host::SetVirtualScreen({{adapters[0].monitorRect, {}}});
        started = LRStart(nullptr) == S_OK;
        LMK::LoaderCallbacksStruct_TYP callbacks{Load, Release, nullptr, nullptr, nullptr, nullptr};
        if (started) LRRegisterLoader(LoadedPartModel, &callbacks, true, &loader);
    }
    ~Engine()
    {
        while (LMK::CurrentGlobals)
            LRStop();
    }
    bool started = false;
    LMK::Loader_* loader = nullptr;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Engine engine;
    if (!engine.started || size > 0xFFFFFFFFu) return 0;
    input.assign(data, data + size);
    LMK::Model_* model = nullptr;
    if (SUCCEEDED(LRLoadModelEx("fuzz", 0, 1, 0, &model, 1, 1)) && model)
    {
        auto* copy = static_cast<LMK::DeviceSpecificModelData_*>(model->primaryData.get());
        for (DWORD s = 0; s < model->subsetCount; ++s)
        {
            const LMK::SubsetStruct_TYP& subset = model->subsets[s];
            if (subset.faceCount == 0) continue;
            if (!copy || subset.part >= model->partCount || !copy->parts[subset.part] ||
                !copy->parts[subset.part]->mesh ||
                subset.firstFace + subset.faceCount > copy->parts[subset.part]->mesh->GetNumFaces())
                __builtin_trap();
        }
        model->Release();
    }
    return 0;
}
