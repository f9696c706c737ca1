#include "engine/render/pass_setup.h"

#include <algorithm>

#include "engine/core/backbuffer.h"
#include "engine/core/globals.h"
#include "engine/core/light.h"
#include "engine/core/view.h"
#include "engine/render/environment.h"
#include "engine/render/render_view.h"
#include "engine/scene/model.h"
#include "engine/scene/object.h"

namespace LMK
{
DWORD EnabledLightCount = 0;
BackgroundHooksStruct_TYP BackgroundHooks{};

namespace
{
constexpr DWORD kSamplerStages = 5;
constexpr float kLightPointRange = 10000.0f;
constexpr DWORD kFirstExtraClipPlane = 2;
constexpr DWORD kClipMaskBits = 32;

bool UsesNoLights(DWORD mode)
{
    return mode == DisplayModeWireframe || mode == DisplayModeHiddenLines ||
           mode == DisplayModeMirrorMarking || mode == DisplayModeIdColoursAll ||
           mode == DisplayModeIdColoursOpaque;
}

// -1 (all ones) means the device set has no limit.
DWORD MaxActiveLights()
{
    return CurrentGlobals ? static_cast<DWORD>(CurrentGlobals->devices.activeLightLimit) : 0xFFFFFFFFu;
}

void ReportLightNotEnabled(RenderViewStruct_TYP* view)
{
    if (view->allLightsFlag) *view->allLightsFlag = 0;
}

// Enables a device light when the device set allows that many.
void EnableWithinLimit(const PassSetupStruct_TYP& setup, DWORD index)
{
    const DWORD limit = MaxActiveLights();
    if (limit == 0xFFFFFFFFu || index < limit)
        setup.device->LightEnable(index, TRUE);
    else
    {
        // Left enabled from an earlier pass it would still count against the device's limit.
        setup.device->LightEnable(index, FALSE);
        ReportLightNotEnabled(setup.view);
    }
}

void DisableFrom(IDirect3DDevice9* device, DWORD first, DWORD end)
{
    for (DWORD i = first; i < end; ++i)
        device->LightEnable(i, FALSE);
}

DWORD SetCameraLight(const PassSetupStruct_TYP& setup)
{
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = light.Specular = light.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    D3DXVECTOR3 eye(0, 0, 0), lookAt(0, 0, 1);
    if (setup.view->camera) setup.view->camera->GetLookAt(&eye, &lookAt, nullptr);
    D3DXVECTOR3 direction = lookAt - eye;
    if (setup.mirror)
    {
        D3DXVECTOR3 mirrored, origin;
        const D3DXVECTOR3 zero(0, 0, 0);
        D3DXVec3TransformCoord(&mirrored, &direction, setup.mirror);
        D3DXVec3TransformCoord(&origin, &zero, setup.mirror);
        direction = mirrored - origin;
    }
    D3DXVec3Normalize(&direction, &direction);
    light.Direction = direction;
    setup.device->SetLight(0, &light);
    setup.device->LightEnable(0, TRUE);
    if (MaxActiveLights() == 0) ReportLightNotEnabled(setup.view);
    return 1;
}

DWORD SetLightPoints(const PassSetupStruct_TYP& setup, DWORD next, float intensity)
{
    const float* intensityPointer = setup.view->lightIntensity;
    for (DWORD i = 0; i < setup.objectCount; ++i)
    {
        Object_* object = setup.objects ? setup.objects[i] : nullptr;
        if (!object || !object->lightPointsOn || !object->model) continue;
        const Model_* model = object->model;
        if (model->lightPointCount == 0 || !model->lightPoints) continue;
        D3DXMATRIX world = *object->world;
        if (setup.mirror) D3DXMatrixMultiply(&world, &world, setup.mirror);
        for (DWORD k = 0; k < model->lightPointCount; ++k)
        {
            const LightPointStruct_TYP& point = model->lightPoints[k];
            const D3DXVECTOR3 local(point.position);
            D3DXVECTOR3 position;
            D3DXVec3TransformCoord(&position, &local, &world);
            const DWORD index = next + k;
            Light_* light = object->lightPointLights ? object->lightPointLights[k] : nullptr;
            D3DLIGHT9 d3dLight{};
            if (light)
            {
                light->SetPositionDirection(position);
                TransformLight(&light->params, &d3dLight, intensity, setup.mirror);
                light->deviceLightIndex = index;
            }
            else
            {
                const float f = intensityPointer ? *intensityPointer : 1.0f;
                d3dLight.Type = D3DLIGHT_POINT;
                d3dLight.Diffuse = {point.color[0] * f, point.color[1] * f, point.color[2] * f,
                                    point.color[3] * f};
                d3dLight.Position = position;
                d3dLight.Range = kLightPointRange;
                d3dLight.Falloff = 1.0f;
                d3dLight.Attenuation0 = 1.0f;
            }
            setup.device->SetLight(index, &d3dLight);
            EnableWithinLimit(setup, index);
        }
        next += model->lightPointCount;
    }
    return next;
}

void Clear(IDirect3DDevice9* device, DWORD flags, D3DCOLOR color, float z)
{
    device->Clear(0, nullptr, flags, color, z, 0);
}

void DrawSecondModel(const PassSetupStruct_TYP& setup)
{
    RenderViewStruct_TYP* view = setup.view;
    if (view->environment && view->camera && BackgroundHooks.drawSecondModel)
        BackgroundHooks.drawSecondModel(view->environment, view, setup.part, setup.pass);
}

// The default background is a plain colour: drawn as such without building an environment for it.
void DrawDefaultEnvironment(const PassSetupStruct_TYP& setup)
{
    if (BackgroundHooks.drawDefaultEnvironment)
    {
        BackgroundHooks.drawDefaultEnvironment(setup.view->camera, setup.part, setup.view, setup.pass);
        return;
    }
    ClearToPlainBackground(setup.device, setup.pass, kDefaultBackgroundColor);
}

void DrawBackground(const PassSetupStruct_TYP& setup)
{
    IDirect3DDevice9* device = setup.device;
    RenderViewStruct_TYP* view = setup.view;
    FogStruct_TYP* fog = view->fog;
    if (fog && fog->clearsBackground && fog->on)
    {
        if (BackgroundHooks.beginFog)
            BackgroundHooks.beginFog(fog, device, setup.pass && setup.pass->testStencil,
                                     setup.pass && setup.pass->finalPass);
        device->SetRenderState(D3DRS_ZFUNC, PassDepthFunction(setup.mode));
    }
    else
    {
        device->SetRenderState(D3DRS_FOGENABLE, FALSE);
        if (view->environment && view->camera)
        {
            if (BackgroundHooks.drawEnvironment)
                BackgroundHooks.drawEnvironment(view->environment, view->camera, setup.part, view,
                                                setup.pass);
        }
        else if (setup.mode == DisplayModeLightMapBaking)
            Clear(device, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFFFFFF, 0.0f);
        else
            DrawDefaultEnvironment(setup);
        if (fog && fog->on)
        {
            device->SetRenderState(D3DRS_FOGENABLE, TRUE);
            fog->SetStates(device);
        }
    }
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    const DWORD mode = setup.mode;
    const bool edgeOrIdMode = (mode >= DisplayModeWireframe && mode <= DisplayModeShadedWithEdges) ||
                              mode == DisplayModeIdColoursAll || mode == DisplayModeIdColoursOpaque;
    if (!edgeOrIdMode) DrawSecondModel(setup);
}
} // namespace

DWORD SetUpPassLights(const PassSetupStruct_TYP& setup)
{
    RenderViewStruct_TYP* view = setup.view;
    IDirect3DDevice9* device = setup.device;
    const DWORD mode = setup.mode;
    const float intensity = view->lightIntensity ? *view->lightIntensity : 1.0f;
    DWORD used = 0;
    if (!UsesNoLights(mode))
    {
        const bool noSceneLights = !setup.lights || setup.lightCount == 0;
        if ((noSceneLights && view->cameraLight) || mode == DisplayModeLightMapBaking)
        {
            used = SetCameraLight(setup);
        }
        else if (!noSceneLights)
        {
            for (DWORD i = 0; i < setup.lightCount; ++i)
            {
                Light_* light = setup.lights[i];
                if (!light) continue;
                D3DLIGHT9 d3dLight{};
                TransformLight(&light->params, &d3dLight, intensity, setup.mirror);
                device->SetLight(i, &d3dLight);
                if (setup.portalVisibility)
                    device->LightEnable(i, FALSE);
                else
                    EnableWithinLimit(setup, i);
                light->deviceLightIndex = i;
            }
            used = setup.lightCount;
            DisableFrom(device, used, EnabledLightCount);
        }
        if (mode <= DisplayModeColouredFlat) used = SetLightPoints(setup, used, intensity);
    }
    DisableFrom(device, used, EnabledLightCount);
    view->lightsUsed = used;
    EnabledLightCount = used;
    return used;
}

void SetPassStates(const PassSetupStruct_TYP& setup)
{
    IDirect3DDevice9* device = setup.device;
    const DWORD magFilter = CurrentGlobals ? CurrentGlobals->magFilter : D3DTEXF_LINEAR;
    const DWORD minFilter = CurrentGlobals ? CurrentGlobals->minFilter : D3DTEXF_LINEAR;
    for (DWORD stage = 0; stage < kSamplerStages; ++stage)
    {
        device->SetSamplerState(stage, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(stage, D3DSAMP_MAGFILTER, magFilter);
        device->SetSamplerState(stage, D3DSAMP_MINFILTER, minFilter);
        device->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        device->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
    }
    device->SetTextureStageState(0, D3DTSS_BUMPENVMAT01, 0);
    device->SetTextureStageState(0, D3DTSS_BUMPENVMAT11, 0);

    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    device->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
    device->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
    device->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_MATERIAL);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    // With alpha testing on, texels that texture loading marked with alpha 254 are discarded.
    device->SetRenderState(D3DRS_ALPHAREF, 0xFE);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_NOTEQUAL);
    device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
    device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ZFUNC, PassDepthFunction(setup.mode));
    device->SetRenderState(D3DRS_MULTISAMPLEANTIALIAS, TRUE);
}

void ClearAndDrawBackground(const PassSetupStruct_TYP& setup)
{
    IDirect3DDevice9* device = setup.device;
    const DWORD mode = setup.mode;
    if (mode == DisplayModeHiddenLines || mode == DisplayModeShadedWithEdges)
        Clear(device, D3DCLEAR_STENCIL, 0, 1.0f);
    switch (mode)
    {
    case DisplayModeMirrorMarking:
        Clear(device, D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 0.0f);
        device->SetRenderState(D3DRS_COLORWRITEENABLE, 0);
        DrawBackground(setup);
        break;
    case DisplayModeIdColoursAll:
    case DisplayModeIdColoursOpaque:
        device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        Clear(device, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f);
        break;
    case DisplayModeLightMapOnly:
        device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        Clear(device, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFFFFFF, 1.0f);
        DrawSecondModel(setup);
        break;
    default:
        device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        DrawBackground(setup);
        break;
    }
}

DWORD SetPassClipPlanes(const PassSetupStruct_TYP& setup)
{
    IDirect3DDevice9* device = setup.device;
    const RenderViewStruct_TYP* view = setup.view;
    const DWORD givenCount = view->extraClipPlaneCount; // a packed field: copied before std::max binds it
    const DWORD extraCount = view->extraClipPlanes ? std::max<DWORD>(givenCount, 1) : 0;
    if (!view->sectionPlane && extraCount == 0 && !setup.mirrorPlane)
    {
        device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
        return 0;
    }
    // Planes beyond what the device has (or beyond the mask's bits) are left out rather than shifted
    // into bits that mean nothing or wrap round.
    D3DCAPS9 caps{};
    const DWORD available =
        SUCCEEDED(device->GetDeviceCaps(&caps)) ? std::min<DWORD>(caps.MaxUserClipPlanes, kClipMaskBits) : 0;
    DWORD mask = 0;
    auto set = [&](DWORD index, const D3DXPLANE& plane)
    {
        if (index >= available) return;
        const float values[4] = {plane.a, plane.b, plane.c, plane.d};
        device->SetClipPlane(index, values);
        mask |= 1u << index;
    };
    if (view->sectionPlane) set(0, *view->sectionPlane);
    if (setup.mirrorPlane)
    {
        const D3DXPLANE& m = *setup.mirrorPlane;
        set(1, D3DXPLANE(-m.a, -m.b, -m.c, -m.d));
    }
    for (DWORD k = 0; k < extraCount && kFirstExtraClipPlane + k < available; ++k)
        set(kFirstExtraClipPlane + k, view->extraClipPlanes[k]);
    device->SetRenderState(D3DRS_CLIPPLANEENABLE, mask);
    return mask;
}
} // namespace LMK
