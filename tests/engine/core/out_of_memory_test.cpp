// Memory running out at one allocation after another of an engine start and of the creation calls: each
// call answers with a result code and never throws, and leaves nothing half-made (the leak check at exit
// sees whatever is left behind). Every allocation of the first few hundred of a call fails in turn, then
// one in every few of the rest, so that the whole walk takes seconds under the sanitizers.
#include "engine_fixture.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "engine/core/backbuffer.h"
#include "engine/core/effect.h"
#include "engine/core/lr_material_api.h"
#include "engine/core/lr_view_api.h"
#include "engine/core/material.h"
#include "engine/core/resource_links.h"
#include "engine/core/view.h"
#include "engine/scene/lr_geometry_block_api.h"
#include "engine/scene/model.h"
#include "platform/d3dx9/d3dx9effect.h"
#include "platform/win32/windows.h"
#include "tests/support/failing_allocation.h"
#include "tests/support/geometry_block_encoder.h"

namespace
{
// Counts the test thread's allocations; the one numbered t_failAt (from 1) fails, once.
thread_local size_t t_allocations = 0;
thread_local size_t t_failAt = 0;

bool FailTheNth(size_t)
{
    return ++t_allocations == t_failAt;
}

// Runs call with the allocation numbered failAt failing (0: none fails); the allocations it made.
size_t WithFailingAllocation(size_t failAt, const std::function<HRESULT()>& call, HRESULT* result)
{
    t_allocations = 0;
    t_failAt = failAt;
    ferolt::test::SetAllocationVeto(FailTheNth);
    *result = E_UNEXPECTED;
    try
    {
        *result = call();
    }
    catch (...)
    {
        ferolt::test::SetAllocationVeto(nullptr);
        ADD_FAILURE() << "allocation " << failAt << ": an exception escaped";
    }
    ferolt::test::SetAllocationVeto(nullptr);
    return t_allocations;
}

// Allocation numbers to fail: all of the first few hundred, then a sample of the rest.
std::vector<size_t> AllocationsToFail(size_t total)
{
    constexpr size_t kEvery = 300;
    const size_t stride = total > kEvery ? (total - kEvery) / 100 + 1 : 1;
    std::vector<size_t> chosen;
    for (size_t n = 1; n <= total; n += n < kEvery ? 1 : stride)
        chosen.push_back(n);
    return chosen;
}

constexpr HRESULT kDevicesNotAllMade = -2;

const char kEffectText[] = "ferolt-effect 1\nparam int iLightNum\ntechnique DX9FixedFuncReplacementEffect 1\n"
                           "technique DX9FixedFuncReplacementEffectNoLs 1\n";

struct Case
{
    const char* name;
    bool startFirst;               // the call runs on a started engine
    std::vector<HRESULT> refusals; // what the call may answer besides S_OK
    std::function<HRESULT()> call;
};

class OutOfMemoryTest : public enginetest::EngineTest
{
protected:
    void TearDown() override
    {
        if (window_) DestroyWindow(window_);
        EngineTest::TearDown();
    }

    // Gives back what a call made.
    void GiveBack()
    {
        if (backBuffer_) LRReleaseBackBuffer(&backBuffer_);
        if (view_) LRReleaseView(&view_);
        LMK::ReleaseEffect(&effect_);
        if (fx_) fx_->Release();
        if (clone_) clone_->Release();
        fx_ = clone_ = nullptr;
        LMK::ReleaseMaterial(&material_);
        if (model_) model_->Release();
        model_ = nullptr;
    }

    static void Stop()
    {
        while (LMK::CurrentGlobals)
            LRStop();
    }

    // The calls on a started engine share one start; a start is made and stopped for each call.
    void Walk(const Case& c)
    {
        SCOPED_TRACE(c.name);
        if (c.startFirst)
        {
            ASSERT_EQ(LRStart(nullptr), S_OK);
        }
        HRESULT result = E_UNEXPECTED;
        const size_t total = WithFailingAllocation(0, c.call, &result);
        GiveBack();
        if (!c.startFirst) Stop();
        ASSERT_EQ(result, S_OK);
        ASSERT_GT(total, 0u);
        for (size_t n : AllocationsToFail(total))
        {
            const size_t effects = LMK::CurrentGlobals ? LMK::CurrentGlobals->effects.size() : 0;
            WithFailingAllocation(n, c.call, &result);
            const bool known =
                result == S_OK || std::find(c.refusals.begin(), c.refusals.end(), result) != c.refusals.end();
            EXPECT_TRUE(known) << "allocation " << n << " of " << total << ": 0x" << std::hex << result;
            if (FAILED(result))
            {
                EXPECT_TRUE(!backBuffer_ && !view_ && !effect_ && !fx_ && !clone_ && !material_)
                    << "allocation " << n << ": a failed call handed something out";
                if (c.startFirst)
                {
                    EXPECT_EQ(LMK::CurrentGlobals->effects.size(), effects) << "allocation " << n;
                }
                else if (result == E_OUTOFMEMORY)
                {
                    EXPECT_EQ(LMK::CurrentGlobals, nullptr) << "allocation " << n << ": a root is left";
                }
            }
            GiveBack();
            if (!c.startFirst) Stop();
        }
        Stop();
    }

    HRESULT EffectOnDevice(ID3DXEffect** out)
    {
        return D3DXCreateEffect(LMK::PrimaryDevice(), kEffectText, sizeof kEffectText - 1, nullptr, nullptr,
                                0, nullptr, out, nullptr);
    }

    HWND window_ = nullptr;
    LMK::BackBuffer_* backBuffer_ = nullptr;
    LMK::View_* view_ = nullptr;
    LMK::Effect_* effect_ = nullptr;
    ID3DXEffect* fx_ = nullptr;
    ID3DXEffect* clone_ = nullptr;
    LMK::Material_* material_ = nullptr;
    LMK::Model_* model_ = nullptr; // comes back whatever the result, as the model loaders take it
};

TEST_F(OutOfMemoryTest, EveryCallAnswersWithACode)
{
    window_ = CreateWindowExA(0, "Static", "oom", WS_POPUP, 0, 0, 32, 24, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    const D3DXVECTOR3 eye(0, 0, -5), at(0, 0, 0), up(0, 1, 0);
    LMK::MaterialDescriptionStruct_TYP description{};
    description.material.Diffuse = {1, 0, 0, 1};
    description.changeModesPresent = description.baseTransformPresent =
        description.reflectionTransformPresent = 1;
    ferolt::test::BlockDesc block;
    block.meshes.push_back(ferolt::test::EncodeMesh(ferolt::test::UnitQuadMesh()).bytes);
    block.lights.push_back({});
    const std::vector<uint8_t> blockBytes = ferolt::test::EncodeBlock(block);
    const Case cases[] = {
        // A device set that could not be made all is a failed start that keeps its root.
        {"LRStart", false, {E_OUTOFMEMORY, kDevicesNotAllMade}, [] { return LRStart(nullptr); }},
        {"LRCreateBackBuffer",
         true,
         {E_OUTOFMEMORY},
         [&] { return LRCreateBackBuffer(window_, &backBuffer_, nullptr); }},
        {"LRCreateView",
         true,
         {E_OUTOFMEMORY},
         [&] { return LRCreateView(&eye, &at, &up, 0, 1.0f, 1.0f, 0.1f, 100.0f, &view_); }},
        {"LRCreateEffect",
         true,
         {E_OUTOFMEMORY},
         [&] { return LRCreateEffect(kEffectText, sizeof kEffectText - 1, &effect_); }},
        {"D3DXCreateEffect", true, {E_OUTOFMEMORY}, [&] { return EffectOnDevice(&fx_); }},
        {"CloneEffect",
         true,
         {E_OUTOFMEMORY},
         [&]
         {
             // The effect to clone is made before the failures start.
             ferolt::test::SetAllocationVeto(nullptr);
             ID3DXEffect* source = nullptr;
             const HRESULT made = EffectOnDevice(&source);
             ferolt::test::SetAllocationVeto(FailTheNth);
             if (FAILED(made)) return made;
             const HRESULT hr = source->CloneEffect(LMK::PrimaryDevice(), &clone_);
             source->Release();
             return hr;
         }},
        // A material that cannot be made is E_FAIL, as it always was.
        {"LRCreateMaterialFromDescription",
         true,
         {E_FAIL},
         [&] { return LRCreateMaterialFromDescription(&description, &material_); }},
        // The model, its parts and its primary device copy, each held by an owner while it is built.
        // A mesh the device cannot make passes the device's own answer on.
        {"LRCreateModelFromMemory",
         true,
         {E_OUTOFMEMORY, D3DERR_OUTOFVIDEOMEMORY},
         [&]
         {
             return LRCreateModelFromMemory(blockBytes.data(), static_cast<DWORD>(blockBytes.size()), 0,
                                            nullptr, &model_);
         }},
    };
    for (const Case& c : cases)
        Walk(c);
}
} // namespace
