#include "engine/render/environment.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "engine/core/backbuffer.h"
#include "engine/core/globals.h"
#include "engine/core/lr_texture_api.h"
#include "engine/core/material_apply.h"
#include "engine/core/material_textures.h"
#include "engine/render/pass_setup.h"
#include "engine/scene/model.h"
#include "platform/bytes/byte_reader.h"
#include "platform/win32/out_of_memory.h"

namespace LMK
{
static_assert(std::endian::native == std::endian::little, "records are read in place as little-endian");

namespace
{
void DrawEnvironment(Environment_* environment, View_* camera, BackBufferPart_* part,
                     RenderViewStruct_TYP* view, PassContextStruct_TYP* pass)
{
    environment->Draw(camera, part, view, pass, nullptr);
}

void DrawEnvironmentSecondModel(Environment_* environment, RenderViewStruct_TYP* view, BackBufferPart_* part,
                                PassContextStruct_TYP* pass)
{
    environment->DrawSecondModel(view, part, pass);
}

void BeginFog(FogStruct_TYP* fog, IDirect3DDevice9* device, bool stencilled, bool finalPass)
{
    fog->Begin(device, stencilled, finalPass);
}

// The frame pass reaches environments through its background hooks. This file is always linked with the
// pass (which clears through ClearToPlainBackground), so the hooks are in place before any frame.
struct InstallBackgroundHooks
{
    InstallBackgroundHooks()
    {
        BackgroundHooks.drawEnvironment = &DrawEnvironment;
        BackgroundHooks.drawSecondModel = &DrawEnvironmentSecondModel;
        BackgroundHooks.beginFog = &BeginFog;
    }
} installBackgroundHooks;

// 1 x 512 pixels: colour 0 at the top to colour 1 in the middle, colour 2 there to colour 3 at the bottom.
Texture_* CreateGradientTexture(const EnvironmentStruct_TYP& d)
{
    constexpr int kHalf = 256;
    DWORD pixels[2 * kHalf];
    for (int i = 0; i < kHalf; ++i)
    {
        const float f = static_cast<float>(kHalf - 1 - i) / (kHalf - 1);
        for (int half = 0; half < 2; ++half)
        {
            const D3DCOLORVALUE& a = d.colors[2 * half];
            const D3DCOLORVALUE& b = d.colors[2 * half + 1];
            const D3DCOLORVALUE mixed = {f * a.r + (1 - f) * b.r, f * a.g + (1 - f) * b.g,
                                         f * a.b + (1 - f) * b.b, 1.0f};
            pixels[half * kHalf + i] = ColorValueToD3DColor(&mixed);
        }
    }
    Texture_* texture = nullptr;
    LRCreateTextureFromPixels(pixels, nullptr, 1, 2 * kHalf, nullptr, &texture);
    return texture;
}
} // namespace

bool IsPictureType(DWORD type)
{
    return type == EnvironmentPicture || type == EnvironmentScreenPictureMirrored ||
           type == EnvironmentScreenPictureWrapped || type == EnvironmentScreenPictureOffset;
}

bool ReadEnvironmentRecord(const void* data, size_t size, EnvironmentStruct_TYP* out, std::string_view* names)
{
    if (!data || !out || size < kEnvironmentRecordSize) return false;
    const auto* bytes = static_cast<const BYTE*>(data);
    EnvironmentRecordStruct_TYP r;
    if (!ferolt::ByteReader(data, size).Read(0, &r)) return false;
    // The count sizes the texture array that the reader of the record allocates.
    if (r.textureCount > kMaxEnvironmentRecordTextures) return false;

    EnvironmentStruct_TYP d{};
    d.type = r.type;
    for (int i = 0; i < 4; ++i)
        d.colors[i] = {r.colors[i][0], r.colors[i][1], r.colors[i][2], r.colors[i][3]};
    d.textureCount = r.textureCount;
    d.heightOffset = r.heightOffset;
    d.turn = r.turn;
    d.viewAngle = r.viewAngle;
    d.pictureAngle = r.pictureAngle;
    d.stretchPicture = r.stretchPicture;
    d.cropPicture = r.cropPicture;
    std::memcpy(d.crop, r.crop, sizeof d.crop);
    d.overlayX = r.overlayX;
    d.overlayY = r.overlayY;
    d.screenPictureTextureMatrix = r.screenPictureTextureMatrix;
    d.uOffset = r.uOffset;
    d.vOffset = r.vOffset;
    *out = d;

    if (names)
    {
        const char* text = reinterpret_cast<const char*>(bytes + kEnvironmentRecordSize);
        const size_t available = size - kEnvironmentRecordSize;
        const void* end = std::memchr(text, 0, available);
        *names = std::string_view(text, end ? static_cast<size_t>(static_cast<const char*>(end) - text)
                                            : available);
    }
    return true;
}

D3DCOLOR ColorValueToD3DColor(const D3DCOLORVALUE* color)
{
    return D3DCOLOR_ARGB(FactorByte(color->a), FactorByte(color->r), FactorByte(color->g),
                         FactorByte(color->b));
}

void ClearToPlainBackground(IDirect3DDevice9* device, const PassContextStruct_TYP* pass, D3DCOLOR color)
{
    if (!device) return;
    if (pass && (pass->testStencil || pass->finalPass))
        FillScreenWhereStencilGreater(device, color, pass->finalPass != 0);
    else
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, color, 1.0f, 0);
}

DWORD EnvironmentTexturesUsed(DWORD type, DWORD count)
{
    switch (type)
    {
    case EnvironmentPicture:
    case EnvironmentTexturedSphere:
    case EnvironmentScreenPictureMirrored:
    case EnvironmentScreenPictureWrapped:
    case EnvironmentScreenPictureOffset:
        return count < 1 ? count : 1;
    case EnvironmentCube:
        return count < 6 ? count : 6;
    case EnvironmentPanorama:
        return count;
    default: // plain colours and gradients use none; unknown types draw nothing with them
        return 0;
    }
}

Environment_::Environment_(const EnvironmentStruct_TYP* source)
    : model(nullptr), secondModel(nullptr), refCount(1), description{}, color0(0), placement(&placement_)
{
    if (source) description = *source;
    if (description.type == EnvironmentPlainColorOld) description.type = EnvironmentPlainColor;
    if (description.type == EnvironmentGradientSphereOld) description.type = EnvironmentGradientSphere;
    color0 = ColorValueToD3DColor(&description.colors[0]);
    if (description.overlay) AddRefMaterialTexture(description.overlay);

    // A count without an array names textures that are not there: they stay absent, and nothing is
    // allocated for them.
    const DWORD used = EnvironmentTexturesUsed(description.type, description.textureCount);
    description.textureCount = used;
    if (source && source->textures && used > 0)
    {
        textures_.assign(source->textures, source->textures + used);
        for (Texture_* texture : textures_)
            if (texture) AddRefMaterialTexture(texture);
    }
    const DWORD type = description.type;
    if (type == EnvironmentGradientSphere)
    {
        Texture_* gradient = CreateGradientTexture(description);
        if (gradient)
        {
            textures_.assign(1, gradient);
            description.textureCount = 1;
        }
    }
    description.textures = textures_.empty() ? nullptr : textures_.data();

    float h = 1.0f;
    if (type != EnvironmentPlainColor) model = BuildModel(&h);
    if (type != EnvironmentPlainColor && !IsPictureType(type))
    {
        D3DXMATRIX lift, turn;
        D3DXMatrixTranslation(&lift, 0.0f, 0.0f, description.heightOffset * h);
        D3DXMatrixRotationZ(&turn, description.turn);
        D3DXMatrixMultiply(placement, &lift, &turn);
    }
    else
        D3DXMatrixIdentity(placement);
}

Environment_::~Environment_()
{
    for (Texture_*& texture : textures_)
        ReleaseMaterialTexture(&texture);
    ReleaseMaterialTexture(&description.overlay);
    if (model) model->Release();
    if (secondModel) secondModel->Release();
}

void Environment_::Release()
{
    if (--refCount == 0) delete this;
}

Texture_* Environment_::TextureAt(DWORD i) const
{
    return i < textures_.size() ? textures_[i] : nullptr;
}

} // namespace LMK

HRESULT LRInitEnvironmentStruct(LMK::EnvironmentStruct_TYP* description)
{
    if (!description) return E_INVALIDARG;
    *description = {};
    description->type = LMK::EnvironmentGradientSphere;
    description->colors[0] = {26.0f / 255.0f, 0.4f, 1.0f, 1.0f};
    description->colors[1] = {202.0f / 255.0f, 218.0f / 255.0f, 251.0f / 255.0f, 1.0f};
    description->colors[2] = {21.0f / 255.0f, 74.0f / 255.0f, 0.0f, 1.0f};
    description->colors[3] = {60.0f / 255.0f, 214.0f / 255.0f, 0.0f, 1.0f};
    description->viewAngle = 1.0471976f;
    description->stretchPicture = 1;
    description->crop[1] = 1.0f;
    description->crop[3] = 1.0f;
    return S_OK;
}

HRESULT LRCopyEnvironmentStruct(LMK::EnvironmentStruct_TYP* destination,
                                const LMK::EnvironmentStruct_TYP* source)
{
    if (!destination || !source) return E_INVALIDARG;
    *destination = *source;
    destination->textures = nullptr;
    destination->overlay = nullptr;
    return S_OK;
}

HRESULT LRCreateEnvironment(const LMK::EnvironmentStruct_TYP* description, LMK::Environment_** environment)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!environment) return E_INVALIDARG;
    *environment = nullptr;
    if (!ferolt::Allocated([&] { *environment = new LMK::Environment_(description); })) return E_OUTOFMEMORY;
    return S_OK;
}

HRESULT LRReleaseEnvironment(LMK::Environment_** environment)
{
    if (!LMK::IsEngineStarted()) return E_FAIL;
    if (!environment) return E_INVALIDARG;
    if (*environment) (*environment)->Release();
    *environment = nullptr;
    return S_OK;
}
