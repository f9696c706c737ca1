// Engine start and stop, the started check, the root's loader slots and sprite sets.
#include "engine_fixture.h"

#include <string>

#include "engine/core/resource_links.h"

using enginetest::EngineTest;

namespace
{
int __stdcall LoadNothing(const LMK::LoaderRequestStruct_TYP*, void**, DWORD*, void**, DWORD*)
{
    return -1;
}
void __stdcall ReleaseNothing(void*, void*, void*, DWORD, LMK::LoadedPart_*) {}
} // namespace

TEST_F(EngineTest, StartsCountAndTheLastStopDeletesTheRoot)
{
    ASSERT_EQ(LRStart(nullptr), S_OK);
    LMK::AllGlobals_* root = LMK::CurrentGlobals;
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(LMK::OwnedGlobals, root);
    EXPECT_EQ(LRStart(nullptr), S_OK);
    EXPECT_EQ(LMK::CurrentGlobals, root);
    EXPECT_EQ(root->startCount, 2u);

    EXPECT_EQ(LRStop(), S_OK);
    EXPECT_EQ(LMK::CurrentGlobals, root);
    EXPECT_EQ(LRStop(), S_OK);
    EXPECT_EQ(LMK::CurrentGlobals, nullptr);
    EXPECT_EQ(LMK::OwnedGlobals, nullptr);
    EXPECT_EQ(LRStop(), E_FAIL);
}

TEST_F(EngineTest, StartedRootHasItsFixedState)
{
    ASSERT_EQ(LRStart(nullptr), S_OK);
    const LMK::AllGlobals_& root = *LMK::CurrentGlobals;
    EXPECT_TRUE(root.IsValid());
    EXPECT_EQ(root.started, 1);
    EXPECT_EQ(root.magFilter, static_cast<DWORD>(D3DTEXF_LINEAR));
    EXPECT_EQ(root.minFilter, static_cast<DWORD>(D3DTEXF_LINEAR));
    EXPECT_EQ(root.releaseCache.limit, 0x400000u);
    EXPECT_EQ(root.releaseCache.enabled, 1);

    // The four file loaders, asked in the order texture, material, model, effect.
    ASSERT_EQ(root.loaders.loaders.size(), 4u);
    const LMK::Loader_* expected[] = {root.textureLoader.loader, root.materialLoader.loader,
                                      root.modelLoader.loader, root.effectLoader.loader};
    for (DWORD i = 0; i < 4; ++i)
    {
        EXPECT_EQ(root.loaders.loaders[i]->type, i);
        EXPECT_EQ(root.loaders.loaders[i].get(), expected[i]);
    }
}

TEST_F(EngineTest, FailedStartLeavesARootThatRefusesEveryStartedCall)
{
    struct Case
    {
        const char* title;
        const char* missingModule;
        const char* missingExport;
        bool usableAdapter;
        HRESULT result;
    };
    const Case cases[] = {
        {"no runtime", "d3d9.dll", nullptr, true, -1},
        {"no entry point", "d3d9.dll", "Direct3DCreate9", true, -1},
        {"no usable adapter", nullptr, nullptr, false, -2},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.title);
        ferolt::hooks::ResetMissingModules();
        if (c.missingExport)
            ferolt::hooks::SetExportMissing(c.missingModule, c.missingExport, true);
        else if (c.missingModule)
            ferolt::hooks::SetModuleMissing(c.missingModule, true);
        auto adapter = enginetest::SmallAdapter();
        if (!c.usableAdapter) adapter.depthFormats.clear();
        enginetest::UseAdapters({adapter});

        ASSERT_EQ(LRStart(nullptr), c.result);
        ASSERT_NE(LMK::CurrentGlobals, nullptr);
        EXPECT_EQ(LMK::CurrentGlobals->started, 0);
        EXPECT_EQ(LMK::CurrentGlobals->devices.state, c.result);
        EXPECT_TRUE(LMK::CurrentGlobals->loaders.loaders.empty());

        LMK::LoaderCallbacksStruct_TYP callbacks{LoadNothing, ReleaseNothing, nullptr,
                                                 nullptr,     nullptr,        nullptr};
        LMK::Loader_* loader = nullptr;
        LMK::LoadedPart_* part = nullptr;
        LMK::Effect_* effect = nullptr;
        const BYTE bytes[4] = {};
        EXPECT_EQ(LRRegisterLoader(0, &callbacks, false, &loader), E_FAIL);
        EXPECT_EQ(LRUnregisterLoader(&loader), E_FAIL);
        EXPECT_EQ(LRAddRefLoadedPart(part), E_FAIL);
        EXPECT_EQ(LRReleaseLoadedPart(&part), E_FAIL);
        EXPECT_EQ(LRCreateEffect(bytes, sizeof(bytes), &effect), E_FAIL);

        EXPECT_EQ(LRStart(nullptr), c.result);
        EXPECT_EQ(LRStop(), S_OK);
        EXPECT_NE(LMK::CurrentGlobals, nullptr);
        EXPECT_EQ(LRStop(), S_OK);
        EXPECT_EQ(LMK::CurrentGlobals, nullptr);
    }
}

TEST_F(EngineTest, AttachNeedsAValidRoot)
{
    ASSERT_EQ(LRStart(nullptr), S_OK);
    LMK::AllGlobals_* root = LMK::CurrentGlobals;
    root->magic = 0;
    EXPECT_EQ(LRStartOrAttach(nullptr, root), E_FAIL);
    root->magic = LMK::AllGlobals_::kMagic;
    EXPECT_EQ(LRStartOrAttach(nullptr, root), S_OK);
    EXPECT_EQ(root->shareCount, 1u);
    EXPECT_EQ(root->startCount, 1u);
}

TEST(EngineOptions, SwapTransparentMirrorsOption)
{
    BYTE value = 1;
    EXPECT_EQ(LRSwapTransparentMirrorsOption(&value), S_OK);
    EXPECT_EQ(value, 0);
    value = 1;
    EXPECT_EQ(LRSwapTransparentMirrorsOption(&value), S_OK);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(LRSwapTransparentMirrorsOption(nullptr), E_INVALIDARG);
    value = 0;
    LRSwapTransparentMirrorsOption(&value);
}

TEST_F(EngineTest, SpriteSetsHoldOneEntryPerResourceAndFillOnce)
{
    ASSERT_EQ(LRStart(nullptr), S_OK);
    LMK::AllGlobals_* root = LMK::CurrentGlobals;
    for (int round = 0; round < 2; ++round)
    {
        root->LoadFlareTextures();
        root->LoadGlowTextures();
        EXPECT_EQ(root->flareTextures.size(), 3u);
        EXPECT_EQ(root->glowTextures.size(), 4u);
    }
}

TEST(EngineLocks, CriticalSectionSpinCountFollowsTheKernelExport)
{
    struct Case
    {
        bool exportMissing;
        DWORD spinCount;
    };
    for (const Case& c : {Case{false, 4000}, Case{true, 0}})
    {
        SCOPED_TRACE(c.exportMissing ? "export missing" : "export present");
        ferolt::hooks::ResetMissingModules();
        ferolt::hooks::SetExportMissing("Kernel32.dll", "InitializeCriticalSectionAndSpinCount",
                                        c.exportMissing);
        LMK::detail::ResetCriticalSectionLookup();
        CRITICAL_SECTION section{};
        LMK::InitializeCriticalSectionWithSpinCount(&section);
        EXPECT_EQ(section.SpinCount, c.spinCount);
        EnterCriticalSection(&section);
        EnterCriticalSection(&section); // a nested pass enters again
        LeaveCriticalSection(&section);
        LeaveCriticalSection(&section);
        DeleteCriticalSection(&section);
    }
    ferolt::hooks::ResetMissingModules();
    LMK::detail::ResetCriticalSectionLookup();
}
