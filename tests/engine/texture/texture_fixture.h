#pragma once
// A started engine with a texture loader that answers from a table of named image files, and helpers
// that read a device texture's texels.
#include "../core/engine_fixture.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/core/globals.h"
#include "engine/core/material_loader_lists.h"
#include "engine/core/texture.h"
#include "platform/mfc/afx_string.h"

namespace texturetest
{
using Bytes = std::vector<uint8_t>;

// Files by upper-cased name; the loader hands out its own buffers (never freed by the engine), so a
// test can see what the engine did to them.
struct FileTable
{
    std::map<std::string, Bytes> files;
    std::map<std::string, std::vector<std::pair<std::string, DWORD>>> alternatives;
    int loads = 0;

    static int __stdcall Load(const LMK::LoaderRequestStruct_TYP* request, void** data, DWORD* size,
                              void** resolvedName, DWORD*)
    {
        auto* table = static_cast<FileTable*>(request->context);
        ++table->loads;
        CString upper(request->name);
        upper.MakeUpper();
        auto it = table->files.find(static_cast<const char*>(upper));
        if (it == table->files.end()) return LMK::kLoaderNotMine;
        *data = it->second.data();
        *size = DWORD(it->second.size());
        *resolvedName = nullptr;
        return LMK::kLoaderDelivered;
    }
    static void __stdcall Release(void*, void*, void*, DWORD, LMK::LoadedPart_*) {}
    static int __stdcall Alternatives(void* context, const char* name,
                                      IlumoVector<LMK::LoaderAlternativeStruct_TYP>* list)
    {
        auto* table = static_cast<FileTable*>(context);
        auto it = table->alternatives.find(name);
        if (it == table->alternatives.end()) return LMK::kLoaderNotMine;
        for (const auto& [alternative, value] : it->second)
            list->PushBack({CString(alternative.c_str()), value});
        return 0;
    }

    void Register()
    {
        const LMK::LoaderCallbacksStruct_TYP callbacks{Load, Release, nullptr, this, nullptr, Alternatives};
        LMK::Loader_* loader = nullptr;
        ASSERT_EQ(LRRegisterLoader(LoadedPartTexture, &callbacks, true, &loader), S_OK);
    }
};

class TextureTest : public enginetest::EngineTest
{
protected:
    void StartEngine() { ASSERT_EQ(LRStart(nullptr), S_OK); }
    IDirect3DDevice9* PrimaryDevice() const { return LMK::CurrentGlobals->devices.primaryDevice->device; }
};

// Options that keep texels exact: A8R8G8B8, one level, no filtering, no colour key.
constexpr LMK::TextureLoadOptionsStruct_TYP kExact = {0, 0, 1, D3DFMT_A8R8G8B8, 1, 1, 0};

inline LMK::TextureLoadOptionsStruct_TYP WithFormat(D3DFORMAT format, DWORD mipLevels = 1)
{
    LMK::TextureLoadOptionsStruct_TYP o = kExact;
    o.format = format;
    o.mipLevels = mipLevels;
    return o;
}

// Raw bytes of one level, row after row without the pitch's padding.
inline Bytes LevelBytes(IDirect3DTexture9* texture, UINT level = 0)
{
    D3DSURFACE_DESC desc{};
    D3DLOCKED_RECT locked{};
    if (!texture || FAILED(texture->GetLevelDesc(level, &desc)) ||
        FAILED(texture->LockRect(level, &locked, nullptr, D3DLOCK_READONLY)))
        return {};
    UINT texel = 4;
    switch (desc.Format)
    {
    case D3DFMT_V8U8:
    case D3DFMT_L6V5U5:
    case D3DFMT_R5G6B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_X1R5G5B5:
        texel = 2;
        break;
    case D3DFMT_P8:
    case D3DFMT_L8:
        texel = 1;
        break;
    default:
        break;
    }
    Bytes out;
    for (UINT y = 0; y < desc.Height; ++y)
    {
        const auto* p = static_cast<const uint8_t*>(locked.pBits) + size_t(y) * locked.Pitch;
        out.insert(out.end(), p, p + size_t(desc.Width) * texel);
    }
    texture->UnlockRect(level);
    return out;
}

// Level texels of a 32-bit texture as 0xAARRGGBB values.
inline std::vector<uint32_t> Texels(IDirect3DTexture9* texture, UINT level = 0)
{
    const Bytes bytes = LevelBytes(texture, level);
    std::vector<uint32_t> out(bytes.size() / 4);
    std::memcpy(out.data(), bytes.data(), out.size() * 4);
    return out;
}
} // namespace texturetest
