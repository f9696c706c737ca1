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
        data = primaryData;
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
            data = CreateDataForDevice(device);
            if (!data) return nullptr;
            secondaryData.push_back(data);
        }
    }
    lastUsed = data;
    data->Apply(a, b);
    return data;
}

void DeviceSpecificDataHandler_::ReleaseSecondaryData()
{
    for (DeviceSpecificDataContainer_* other : secondaryData)
        delete other;
    secondaryData.clear();
    lastUsed = nullptr;
}

void DeviceSpecificDataHandler_::ReleaseAllData()
{
    ReleaseSecondaryData();
    delete primaryData;
    primaryData = nullptr;
}

DeviceSpecificDataHandler_::~DeviceSpecificDataHandler_()
{
    for (DeviceSpecificDataContainer_* other : secondaryData)
        delete other;
    delete primaryData;
}
} // namespace LMK
