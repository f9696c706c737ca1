#include "engine/render/single_frame.h"

#include "engine/core/backbuffer.h"
#include "engine/core/devices.h"
#include "engine/core/globals.h"
#include "engine/core/render_lock.h"
#include "engine/core/view.h"
#include "engine/render/frame_devices.h"
#include "engine/render/pass_setup.h"
#include "engine/render/render_records.h"
#include "engine/scene/object.h"

namespace LMK
{
namespace
{
constexpr DWORD kHighestFrameMode = DisplayModeColouredFlat;

// Light 0 shines from the eye towards the world origin.
void SetEyeLight(IDirect3DDevice9* device, const D3DXVECTOR3& eye)
{
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = light.Specular = light.Ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    D3DXVECTOR3 direction = -eye;
    D3DXVec3Normalize(&direction, &direction);
    light.Direction = direction;
    device->SetLight(0, &light);
    device->LightEnable(0, TRUE);
    // Lights a render pass left on would light the object as if it stood in that scene.
    for (DWORD i = 1; i < EnabledLightCount; ++i)
        device->LightEnable(i, FALSE);
}

void DrawPart(BackBufferPart_* part, Device_* d, View_* camera, const D3DXVECTOR3& heldEye,
              const D3DXVECTOR3& eye, DWORD mode, D3DCOLOR clearColor, Object_* object)
{
    IDirect3DDevice9* device = d->device;
    device->SetViewport(&part->viewport);
    device->BeginScene();
    SetEyeLight(device, heldEye);

    PassSetupStruct_TYP setup{};
    setup.device = device;
    setup.part = part;
    setup.mode = mode;
    SetPassStates(setup);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    // Light-map baking keeps the farthest surface (depth test GREATER), so its depth starts at the near
    // end; cleared to 1.0 nothing would pass.
    const float depth = mode == DisplayModeLightMapBaking ? 0.0f : 1.0f;
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColor, depth, 0);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    camera->ApplyToDevice(part);

    PassContextStruct_TYP context{};
    object->Draw(part, &eye, mode, nullptr, nullptr, &context);

    device->LightEnable(0, FALSE);
    device->EndScene();
    HWND window = part->owner->window;
    if (d->presentParams.Windowed)
        device->Present(&part->sourceRect, &part->destinationRect, window, nullptr);
    else
        device->Present(nullptr, nullptr, window, nullptr);
}
} // namespace

HRESULT RenderBackBufferFrame(BackBuffer_* bb, View_* camera, DWORD mode, D3DCOLOR clearColor,
                              Object_* object)
{
    // Flagged modes (wire fill, reflections, final pass) and the special modes are not frame modes.
    if (mode > kHighestFrameMode) return E_FAIL;
    if (!IsEngineStarted()) return E_FAIL;
    if (!bb) return E_INVALIDARG;
    RenderLock_ lock(CurrentGlobals);

    D3DXVECTOR3 heldEye, lookAt;
    camera->GetLookAt(&heldEye, &lookAt, nullptr);
    D3DXVECTOR3 eye = heldEye;
    if (camera->params.orthographic) eye = lookAt + 1e8f * (heldEye - lookAt);

    if (ResetResizedDevices(bb, false)) return E_FAIL;

    bool resetFailed = false;
    const std::vector<BackBufferPart_*> parts = bb->parts;
    for (BackBufferPart_* part : parts)
    {
        if (!part || !part->device || !part->device->device || part->busy) continue;
        part->busy = 1;
        if (CheckFrameDevice(part->device, false, &resetFailed) == S_OK)
            DrawPart(part, part->device, camera, heldEye, eye, mode, clearColor, object);
        part->busy = 0;
    }
    return resetFailed ? E_FAIL : S_OK;
}
} // namespace LMK
