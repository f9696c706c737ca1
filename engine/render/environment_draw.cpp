// Drawing a background: the clearing, then the background model through a temporary object centred
// on the eye with depth testing off, seen through the camera with near and far planes of its own (and,
// for pictures, looking straight at the picture quad); and the overlay picture over a finished frame.
#include <algorithm>
#include <cmath>

#include "engine/core/backbuffer.h"
#include "engine/core/material.h"
#include "engine/core/material_textures.h"
#include "engine/core/quad_draw.h"
#include "engine/core/texture.h"
#include "engine/core/view.h"
#include "engine/render/environment.h"
#include "engine/render/pass_setup.h"
#include "engine/scene/model.h"
#include "engine/scene/object.h"

namespace LMK
{
namespace
{
constexpr float kBackgroundNear = 0.001f;
constexpr float kBackgroundFar = 100.0f;

bool IsScreenPicture(DWORD type)
{
    return type == EnvironmentScreenPictureMirrored || type == EnvironmentScreenPictureWrapped ||
           type == EnvironmentScreenPictureOffset;
}

// The window mapped into the range of its copy: the picture quad, one unit ahead, then fills it.
void NormalizeWindow(ViewParamsStruct_TYP* p)
{
    const float* c = p->secondWindow;
    float* w = p->window;
    const float width = c[1] - c[0], height = c[2] - c[3];
    for (int k = 0; k < 2; ++k)
        w[k] = width != 0.0f ? 2.0f * (w[k] - c[0]) / width - 1.0f : w[k];
    for (int k = 2; k < 4; ++k)
        w[k] = height != 0.0f ? 2.0f * (w[k] - c[3]) / height - 1.0f : w[k];
}

float OneWhenZero(float value)
{
    return value == 0.0f ? 1.0f : value;
}

// Scaling(su, sv, 1) x Translation(tu, tv, 0) as the picture material's base transform.
void SetPictureTransform(Material_* material, float su, float sv, float tu, float tv, DWORD address)
{
    if (!material) return;
    if (!material->baseTransform)
    {
        material->baseTransform = new TextureTransformStruct_TYP{};
        material->flags |= kMaterialBaseTransform;
    }
    TextureTransformStruct_TYP* t = material->baseTransform;
    D3DXMATRIX scaling, translation, m;
    D3DXMatrixScaling(&scaling, su, sv, 1.0f);
    D3DXMatrixTranslation(&translation, tu, tv, 0.0f);
    D3DXMatrixMultiply(&m, &scaling, &translation);
    t->matrix = m;
    t->addressU = address;
    t->addressV = address;
}
} // namespace

void Environment_::Draw(View_* camera, BackBufferPart_* part, RenderViewStruct_TYP* view,
                        PassContextStruct_TYP* pass, D3DXMATRIX* out)
{
    const DWORD type = description.type;
    const bool picture = IsPictureType(type);
    IDirect3DDevice9* device = part ? part->GetD3DDevice() : nullptr;
    if (device)
    {
        const bool depthOnlyObjects = view && view->depthOnlyObjects && view->depthOnlyObjects->Size() != 0;
        // A model that could not be built would leave the last frame showing: the default colour instead.
        if (!model && type != EnvironmentPlainColor && !picture)
            ClearToPlainBackground(device, pass, kDefaultBackgroundColor);
        else if (depthOnlyObjects || type == EnvironmentPlainColor || picture)
            ClearToPlainBackground(device, pass, color0);
        else
            device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    }
    if (!model || !device) return;

    // The background is seen without mirroring; a mirror pass only moves the eye.
    const D3DXPLANE* mirrorPlane = pass ? pass->mirrorPlane : nullptr;
    if (pass) pass->mirrorPlane = nullptr;
    D3DXMATRIX world;
    D3DXMatrixIdentity(&world);
    ViewParamsStruct_TYP saved{};
    D3DXVECTOR3 eye(0, 0, 0);
    if (camera)
    {
        saved = camera->params;
        ViewParamsStruct_TYP p = saved;
        p.zNear = kBackgroundNear;
        p.zFar = kBackgroundFar;
        float sx = 1.0f, sy = 1.0f, sz = 1.0f;
        eye = D3DXVECTOR3(p.eye);
        if (picture)
        {
            Texture_* first = TextureAt(0);
            UINT W = 0, H = 0;
            const bool havePicture = first && SUCCEEDED(GetMaterialTextureImageSize(first, &W, &H)) && W != 0;
            const float* c = p.secondWindow;
            const float Wc = OneWhenZero(std::fabs(c[1] - c[0])), Hc = OneWhenZero(std::fabs(c[2] - c[3]));
            const float rp = havePicture ? static_cast<float>(W) / OneWhenZero(static_cast<float>(H)) : 1.0f;
            const float rw = Wc / Hc;
            const D3DXVECTOR3 target(p.lookAt);
            const D3DXVECTOR3 toTarget = target - eye;
            const float distance = D3DXVec3Length(&toTarget);
            const D3DXVECTOR3 ahead = eye + D3DXVECTOR3(1, 0, 0);
            std::copy(&ahead.x, &ahead.x + 3, p.lookAt);
            p.up[0] = 0;
            p.up[1] = 0;
            p.up[2] = 1;
            const bool crop = type == EnvironmentPicture && description.cropPicture;
            if (type == EnvironmentPicture && !crop && description.pictureAngle != 0.0f)
            {
                const D3DXVECTOR3 atTarget = eye + D3DXVECTOR3(distance, 0, 0);
                std::copy(&atTarget.x, &atTarget.x + 3, p.lookAt);
                sy = std::tan(description.pictureAngle / 2.0f);
                if (description.viewAngle != 0.0f)
                    sz = std::tan(description.viewAngle / 2.0f);
                else
                    sz = havePicture ? sy * static_cast<float>(H) / static_cast<float>(W) : sy;
            }
            else
            {
                NormalizeWindow(&p);
                if (IsScreenPicture(type) && !description.screenPictureTextureMatrix && havePicture)
                {
                    // The picture fills the window with its proportions kept; what does not fit is cut off.
                    if (rp >= rw)
                    {
                        p.window[0] *= rw / rp;
                        p.window[1] *= rw / rp;
                    }
                    else
                    {
                        p.window[2] *= rp / rw;
                        p.window[3] *= rp / rw;
                    }
                }
                if (type == EnvironmentPicture && !crop && !description.stretchPicture && havePicture)
                {
                    p.window[2] *= rp / rw;
                    p.window[3] *= rp / rw;
                }
            }
            if (IsScreenPicture(type) && description.screenPictureTextureMatrix)
            {
                float su = 1, sv = 1, hu = 0, hv = 0, uo = 0, vo = 0;
                const float A = description.pictureAngle;
                if (A != 0.0f)
                {
                    const D3DXVECTOR3& d = toTarget;
                    su = sv = std::atan2(distance, Wc / 2.0f) / (A / 2.0f);
                    hu = -std::atan2(d.y, d.x) / A;
                    if (type == EnvironmentScreenPictureOffset)
                    {
                        uo = static_cast<float>(description.uOffset);
                        vo = static_cast<float>(description.vOffset);
                    }
                    if (first)
                    {
                        const float w = OneWhenZero(static_cast<float>(W)),
                                    h = OneWhenZero(static_cast<float>(H));
                        sv *= (Hc / h) / (Wc / w);
                        hv = -std::atan2(d.z, std::sqrt(d.x * d.x + d.y * d.y)) / A;
                    }
                }
                const float tu = uo + 0.5f - su / 2.0f + hu;
                const float tv = vo + 1.0f - sv / 2.0f + hv - description.heightOffset;
                const DWORD address =
                    type == EnvironmentScreenPictureWrapped ? D3DTADDRESS_WRAP : D3DTADDRESS_MIRROR;
                SetPictureTransform(model->subsetCount ? model->subsets[0].material : nullptr, su, sv, tu, tv,
                                    address);
            }
            if (p.orthographic)
            {
                const float k = std::sqrt(2.0f) / 2.0f * std::max(Wc, Hc);
                sx *= k;
                sy *= k;
                sz *= k;
            }
        }
        camera->SetParams(p);
        camera->ApplyToDevice(part);
        if (mirrorPlane)
        {
            D3DXMATRIX reflect;
            D3DXMatrixReflect(&reflect, mirrorPlane);
            D3DXVec3TransformCoord(&eye, &eye, &reflect);
        }
        D3DXMATRIX scaling, translation;
        D3DXMatrixScaling(&scaling, sx, sy, sz);
        D3DXMatrixTranslation(&translation, eye.x, eye.y, eye.z);
        D3DXMatrixMultiply(&world, &scaling, &translation);
        D3DXMatrixMultiply(&world, placement, &world);
    }

    Object_* object = new Object_(model, &world, nullptr, true);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    object->Draw(part, &eye, DisplayModeTextured, view, nullptr, pass);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    object->Release();

    if (camera)
    {
        if (out)
        {
            D3DXMATRIX viewProjection;
            camera->GetViewProjectionMatrix(&viewProjection);
            D3DXMatrixMultiply(out, &world, &viewProjection);
        }
        camera->SetParams(saved);
    }
    else if (out)
        *out = world;
    if (pass) pass->mirrorPlane = mirrorPlane;
}

void Environment_::DrawOverlay(IDirect3DDevice9* device, UINT partHeight)
{
    Texture_* overlay = description.overlay;
    UINT W = 0, H = 0;
    if (!device || !overlay || FAILED(overlay->GetImageSize(&W, &H)) || W == 0 || H == 0) return;
    const LONG x0 = description.overlayX;
    const LONG y0 = static_cast<LONG>(partHeight) - description.overlayY - static_cast<LONG>(H);
    // Clipped to the part; a rectangle that misses it altogether is not drawn.
    D3DVIEWPORT9 part{};
    device->GetViewport(&part);
    const LONG left = std::max<LONG>(x0, 0), top = std::max<LONG>(y0, 0);
    const LONG right = std::min<LONG>(x0 + static_cast<LONG>(W), static_cast<LONG>(part.Width));
    const LONG bottom = std::min<LONG>(y0 + static_cast<LONG>(H), static_cast<LONG>(part.Height));
    if (right <= left || bottom <= top) return;
    IDirect3DTexture9* texture = overlay->TextureForDevice(device);
    if (!texture) return;

    struct Vertex
    {
        float x, y, z, rhw, u, v;
    };
    // Half a pixel up and left, so that each pixel samples its own texel.
    const float l = static_cast<float>(x0) - 0.5f, t = static_cast<float>(y0) - 0.5f;
    const float r = l + static_cast<float>(W), b = t + static_cast<float>(H);
    const Vertex quad[4] = {{l, t, 0, 1, 0, 0}, {r, t, 0, 1, 1, 0}, {r, b, 0, 1, 1, 1}, {l, b, 0, 1, 0, 1}};
    D3DVIEWPORT9 clipped = part;
    clipped.X = part.X + static_cast<DWORD>(left);
    clipped.Y = part.Y + static_cast<DWORD>(top);
    clipped.Width = static_cast<DWORD>(right - left);
    clipped.Height = static_cast<DWORD>(bottom - top);
    device->SetViewport(&clipped);
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    device->SetTexture(0, texture);
    device->SetTransform(D3DTS_TEXTURE0, &identity);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    DrawQuadFan(device, D3DFVF_XYZRHW | D3DFVF_TEX1, quad, sizeof(Vertex));
    device->SetViewport(&part);
}

void Environment_::DrawSecondModel(RenderViewStruct_TYP*, BackBufferPart_*, PassContextStruct_TYP*)
{
    // Nothing creates a second model.
}
} // namespace LMK
