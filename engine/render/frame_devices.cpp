#include "engine/render/frame_devices.h"

#include <vector>

#include "engine/core/backbuffer.h"
#include "engine/core/devices.h"
#include "engine/core/effect.h"
#include "engine/core/globals.h"

namespace LMK
{
bool ResetResizedDevices(BackBuffer_* bb, bool includePrimary)
{
    AllGlobals_* root = CurrentGlobals;
    std::vector<Device_*>& all = root->devices.requests.devices;
    std::vector<bool> noted(all.size(), false);
    bool anyNoted = false;
    auto note = [&](Device_* d)
    {
        if (!d || !d->resizePending) return;
        d->resizePending = 0;
        for (size_t k = 0; k < all.size(); ++k)
            if (all[k] == d)
            {
                noted[k] = true;
                anyNoted = true;
            }
    };
    if (includePrimary) note(root->devices.primaryDevice);
    for (BackBufferPart_* part : bb->parts)
        note(part ? part->device : nullptr);
    if (!anyNoted) return false;
    BroadcastSuspendMessage();
    // Every device whose flag was cleared is reset; stopping at the first success would leave the
    // others at their old size for good.
    bool anyReset = false;
    for (size_t k = 0; k < all.size(); ++k)
        if (noted[k] && SUCCEEDED(root->devices.requests.RequestResetToWindow(all[k], bb->window)))
            anyReset = true;
    if (anyReset) return true;
    bb->RebuildParts();
    return false;
}

HRESULT CheckFrameDevice(Device_* d, bool readBack, bool* resetFailed)
{
    IDirect3DDevice9* device = d->device;
    const bool needSingle = readBack && d->presentParams.MultiSampleType != D3DMULTISAMPLE_NONE;
    const bool differs =
        d->presentParams.MultiSampleType != static_cast<D3DMULTISAMPLE_TYPE>(d->multiSampleType) &&
        !(readBack && d->presentParams.MultiSampleType == D3DMULTISAMPLE_NONE);
    const HRESULT level = device->TestCooperativeLevel();
    // Only effects hold device memory that a reset drops (every other engine resource is managed).
    if (level == D3DERR_DEVICELOST)
    {
        NotifyEffectsOfDevice(device, true);
        return S_FALSE;
    }
    if (level == D3DERR_DEVICENOTRESET || needSingle || differs)
    {
        NotifyEffectsOfDevice(device, true);
        d->presentParams.MultiSampleType =
            needSingle ? D3DMULTISAMPLE_NONE : static_cast<D3DMULTISAMPLE_TYPE>(d->multiSampleType);
        if (FAILED(CurrentGlobals->devices.requests.RequestReset(d)))
        {
            *resetFailed = true;
            return S_FALSE;
        }
        NotifyEffectsOfDevice(device, false);
    }
    return S_OK;
}
} // namespace LMK
