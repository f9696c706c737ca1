// Drawing a background: the clearing, then the background model through a temporary object centred
// on the eye with depth testing off, seen through the camera with near and far planes of its own (and,
// for pictures, looking straight at the picture quad); and the overlay picture over a finished frame.
#include <algorithm>
#include <cmath>

#include "engine/core/backbuffer.h"
#include "engine/core/material.h"
#include "engine/core/material_textures.h"
#include "engine/core/owned_array.h"
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

// Scaling(su, sv, 1) x Translation(tu, tv, 0) as the picture material's base transform; the rest of a
// transform the material already has stays.
void SetPictureTransform(Material_* material, float su, float sv, float tu, float tv, DWORD address)
{
    if (!material) return;
    TextureTransformStruct_TYP t =
        material->baseTransform ? *material->baseTransform : TextureTransformStruct_TYP{};
    D3DXMATRIX scaling, translation, m;
    D3DXMatrixScaling(&scaling, su, sv, 1.0f);
    D3DXMatrixTranslation(&translation, tu, tv, 0.0f);
    D3DXMatrixMultiply(&m, &scaling, &translation);
    t.matrix = m;
    t.addressU = address;
    t.addressV = address;
    SetMaterialTextureTransform(&material->baseTransform, &t, kMaterialBaseTransform, &material->flags);
}

// What framing a picture needs, measured before the camera is turned towards it.
struct PictureMeasure_
{
    Texture_* first;
    UINT width, height;
    bool havePicture;
    float windowWidth, windowHeight;   // of the window's copy, never 0
    float pictureAspect, windowAspect; // width over height
    D3DXVECTOR3 toTarget;
    float distance;
};

PictureMeasure_ MeasurePicture(Texture_* first, const ViewParamsStruct_TYP& p)
{
    PictureMeasure_ m{};
    m.first = first;
    m.havePicture =
        first && SUCCEEDED(GetMaterialTextureImageSize(first, &m.width, &m.height)) && m.width != 0;
    const float* c = p.secondWindow;
    m.windowWidth = OneWhenZero(std::fabs(c[1] - c[0]));
    m.windowHeight = OneWhenZero(std::fabs(c[2] - c[3]));
    m.pictureAspect =
        m.havePicture ? static_cast<float>(m.width) / OneWhenZero(static_cast<float>(m.height)) : 1.0f;
    m.windowAspect = m.windowWidth / m.windowHeight;
    m.toTarget = D3DXVECTOR3(p.lookAt) - D3DXVECTOR3(p.eye);
    m.distance = D3DXVec3Length(&m.toTarget);
    return m;
}

// A picture seen at an angle of its own: the camera looks at it from the target's distance, the scale
// giving the picture's and the view's angles.
void AimAtAngledPicture(const EnvironmentStruct_TYP& d, const PictureMeasure_& m, ViewParamsStruct_TYP* p,
                        D3DXVECTOR3* scale)
{
    const D3DXVECTOR3 atTarget = D3DXVECTOR3(p->eye) + D3DXVECTOR3(m.distance, 0, 0);
    std::copy(&atTarget.x, &atTarget.x + 3, p->lookAt);
    scale->y = std::tan(d.pictureAngle / 2.0f);
    if (d.viewAngle != 0.0f)
        scale->z = std::tan(d.viewAngle / 2.0f);
    else
        scale->z =
            m.havePicture ? scale->y * static_cast<float>(m.height) / static_cast<float>(m.width) : scale->y;
}

// The window mapped onto the picture quad, narrowed so that the picture keeps its proportions.
void FitPictureWindow(const EnvironmentStruct_TYP& d, const PictureMeasure_& m, bool crop,
                      ViewParamsStruct_TYP* p)
{
    NormalizeWindow(p);
    const float rp = m.pictureAspect, rw = m.windowAspect;
    if (IsScreenPicture(d.type) && !d.screenPictureTextureMatrix && m.havePicture)
    {
        // The picture fills the window with its proportions kept; what does not fit is cut off.
        if (rp >= rw)
        {
            p->window[0] *= rw / rp;
            p->window[1] *= rw / rp;
        }
        else
        {
            p->window[2] *= rp / rw;
            p->window[3] *= rp / rw;
        }
    }
    if (d.type == EnvironmentPicture && !crop && !d.stretchPicture && m.havePicture)
    {
        p->window[2] *= rp / rw;
        p->window[3] *= rp / rw;
    }
}

// A screen picture that moves with the camera's direction: a texture transform scrolls and scales it.
void ScrollScreenPicture(const EnvironmentStruct_TYP& d, const PictureMeasure_& m, Material_* material)
{
    float su = 1, sv = 1, hu = 0, hv = 0, uo = 0, vo = 0;
    const float A = d.pictureAngle;
    if (A != 0.0f)
    {
        const D3DXVECTOR3& t = m.toTarget;
        su = sv = std::atan2(m.distance, m.windowWidth / 2.0f) / (A / 2.0f);
        hu = -std::atan2(t.y, t.x) / A;
        if (d.type == EnvironmentScreenPictureOffset)
        {
            uo = static_cast<float>(d.uOffset);
            vo = static_cast<float>(d.vOffset);
        }
        if (m.first)
        {
            const float w = OneWhenZero(static_cast<float>(m.width)),
                        h = OneWhenZero(static_cast<float>(m.height));
            sv *= (m.windowHeight / h) / (m.windowWidth / w);
            hv = -std::atan2(t.z, std::sqrt(t.x * t.x + t.y * t.y)) / A;
        }
    }
    const float tu = uo + 0.5f - su / 2.0f + hu;
    const float tv = vo + 1.0f - sv / 2.0f + hv - d.heightOffset;
    const DWORD address = d.type == EnvironmentScreenPictureWrapped ? D3DTADDRESS_WRAP : D3DTADDRESS_MIRROR;
    SetPictureTransform(material, su, sv, tu, tv, address);
}
} // namespace

void Environment_::ClearBackground(IDirect3DDevice9* device, RenderViewStruct_TYP* view,
                                   PassContextStruct_TYP* pass)
{
    const DWORD type = description.type;
    const bool picture = IsPictureType(type);
    const bool depthOnlyObjects = view && view->depthOnlyObjects && view->depthOnlyObjects->Size() != 0;
    // A model that could not be built would leave the last frame showing: the default colour instead.
    if (!model && type != EnvironmentPlainColor && !picture)
        ClearToPlainBackground(device, pass, kDefaultBackgroundColor);
    else if (depthOnlyObjects || type == EnvironmentPlainColor || picture)
        ClearToPlainBackground(device, pass, color0);
    else
        device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
}

// The camera looks straight along +x at the picture quad one unit ahead, z up.
void Environment_::FramePicture(ViewParamsStruct_TYP* p, D3DXVECTOR3* scale)
{
    const DWORD type = description.type;
    const PictureMeasure_ m = MeasurePicture(TextureAt(0), *p);
    const D3DXVECTOR3 ahead = D3DXVECTOR3(p->eye) + D3DXVECTOR3(1, 0, 0);
    std::copy(&ahead.x, &ahead.x + 3, p->lookAt);
    p->up[0] = 0;
    p->up[1] = 0;
    p->up[2] = 1;
    const bool crop = type == EnvironmentPicture && description.cropPicture;
    if (type == EnvironmentPicture && !crop && description.pictureAngle != 0.0f)
        AimAtAngledPicture(description, m, p, scale);
    else
        FitPictureWindow(description, m, crop, p);
    if (IsScreenPicture(type) && description.screenPictureTextureMatrix)
        ScrollScreenPicture(description, m, model->subsetCount ? model->subsets[0].material : nullptr);
    if (p->orthographic) *scale *= std::sqrt(2.0f) / 2.0f * std::max(m.windowWidth, m.windowHeight);
}

// Sets the camera's background view on the part and gives the model's world matrix: centred on the
// eye (mirrored when a mirror pass asks), scaled for a picture, then turned and lifted by the placement.
D3DXMATRIX Environment_::AimBackgroundCamera(View_* camera, BackBufferPart_* part,
                                             const D3DXPLANE* mirrorPlane, D3DXVECTOR3* eye)
{
    ViewParamsStruct_TYP p = camera->params;
    p.zNear = kBackgroundNear;
    p.zFar = kBackgroundFar;
    D3DXVECTOR3 scale(1.0f, 1.0f, 1.0f);
    *eye = D3DXVECTOR3(p.eye);
    if (IsPictureType(description.type)) FramePicture(&p, &scale);
    camera->SetParams(p);
    camera->ApplyToDevice(part);
    if (mirrorPlane)
    {
        D3DXMATRIX reflect;
        D3DXMatrixReflect(&reflect, mirrorPlane);
        D3DXVec3TransformCoord(eye, eye, &reflect);
    }
    D3DXMATRIX scaling, translation, world;
    D3DXMatrixScaling(&scaling, scale.x, scale.y, scale.z);
    D3DXMatrixTranslation(&translation, eye->x, eye->y, eye->z);
    D3DXMatrixMultiply(&world, &scaling, &translation);
    D3DXMatrixMultiply(&world, placement, &world);
    return world;
}

// The model through a temporary object, with depth testing off so that everything drawn later covers it.
void Environment_::DrawBackgroundModel(BackBufferPart_* part, const D3DXMATRIX& world, const D3DXVECTOR3& eye,
                                       RenderViewStruct_TYP* view, PassContextStruct_TYP* pass)
{
    IDirect3DDevice9* device = part->GetD3DDevice();
    CountedPtr<Object_> object(new Object_(model, &world, nullptr, true));
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    object->Draw(part, &eye, DisplayModeTextured, view, nullptr, pass);
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
}

void Environment_::Draw(View_* camera, BackBufferPart_* part, RenderViewStruct_TYP* view,
                        PassContextStruct_TYP* pass, D3DXMATRIX* out)
{
    IDirect3DDevice9* device = part ? part->GetD3DDevice() : nullptr;
    if (device) ClearBackground(device, view, pass);
    if (!model || !device) return;

    // The background is seen without mirroring; a mirror pass only moves the eye.
    const D3DXPLANE* mirrorPlane = pass ? pass->mirrorPlane : nullptr;
    if (pass) pass->mirrorPlane = nullptr;
    D3DXMATRIX world;
    D3DXMatrixIdentity(&world);
    D3DXVECTOR3 eye(0, 0, 0);
    const ViewParamsStruct_TYP saved = camera ? camera->params : ViewParamsStruct_TYP{};
    if (camera) world = AimBackgroundCamera(camera, part, mirrorPlane, &eye);

    DrawBackgroundModel(part, world, eye, view, pass);

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
