#include "engine/core/device_data.h"

#include "engine/core/globals.h"

namespace LMK
{
IDirect3DDevice9* PrimaryDevice()
{
    if (!CurrentGlobals || !CurrentGlobals->devices.primaryDevice) return nullptr;
    return CurrentGlobals->devices.primaryDevice->device;
}

DeviceSpecificDataContainer_* DeviceSpecificDataHandler_::GetDataForDevice(IDirect3DDevice9* device, void* a,
                                                                           void* b)
{
    DeviceSpecificDataContainer_* data = nullptr;
    if (primaryData && device == PrimaryDevice())
        data = primaryData.get();
    else if (lastUsed && lastUsed->device == device)
        data = lastUsed;
    else
    {
        for (DeviceSpecificDataContainer_* other : secondaryData)
            if (other->device == device)
            {
                data = other;
                break;
            }
        if (!data)
        {
            std::unique_ptr<DeviceSpecificDataContainer_> made = CreateDataForDevice(device);
            if (!made) return nullptr;
            // Room first, so that running out of memory leaves both lists alike.
            secondaryData.reserve(secondaryData.size() + 1);
            secondaryStore_.push_back(std::move(made));
            data = secondaryStore_.back().get();
            secondaryData.push_back(data);
        }
    }
    lastUsed = data;
    data->Apply(a, b);
    return data;
}

void DeviceSpecificDataHandler_::ReleaseSecondaryData()
{
    secondaryData.clear();
    secondaryStore_.clear();
    lastUsed = nullptr;
}

void DeviceSpecificDataHandler_::ReleaseAllData()
{
    ReleaseSecondaryData();
    primaryData.reset();
}

DeviceSpecificDataHandler_::~DeviceSpecificDataHandler_()
{
    secondaryStore_.clear(); // before the primary copy, as on every release
    primaryData.reset();
}
} // namespace LMK
