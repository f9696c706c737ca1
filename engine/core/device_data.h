#pragma once
// One copy of a GPU resource per Direct3D device. The primary device's copy is made with the
// resource; copies for other devices are made on first use. Every use goes through
// GetDataForDevice, which finds or makes the copy and lets it act at once.
#include <memory>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace LMK
{
// The root's primary device, where every resource makes its first copy; null without a started root.
IDirect3DDevice9* PrimaryDevice();

class DeviceSpecificDataContainer_
{
public:
    explicit DeviceSpecificDataContainer_(IDirect3DDevice9* owner) : device(owner) {}
    DeviceSpecificDataContainer_(const DeviceSpecificDataContainer_&) = delete;
    DeviceSpecificDataContainer_& operator=(const DeviceSpecificDataContainer_&) = delete;

    // The two words of the caller: for a model draw the view and the pass context.
    virtual void Apply(void* a, void* b) = 0;
    virtual ~DeviceSpecificDataContainer_() = default;

    IDirect3DDevice9* device;
};

class DeviceSpecificDataHandler_
{
public:
    DeviceSpecificDataHandler_() = default;
    DeviceSpecificDataHandler_(const DeviceSpecificDataHandler_&) = delete;
    DeviceSpecificDataHandler_& operator=(const DeviceSpecificDataHandler_&) = delete;

    virtual void ReleaseAllData();
    // Drops the copies of every device but the primary one (a parked resource keeps only that).
    virtual void ReleaseSecondaryData();
    virtual ~DeviceSpecificDataHandler_();
    // The owner's copy of itself for another device. A model prepares itself for its current object
    // here, so that the new copy starts from the geometry that object selects.
    virtual std::unique_ptr<DeviceSpecificDataContainer_> CreateDataForDevice(IDirect3DDevice9* device) = 0;

    // The copy for the device, after its Apply(a, b). Null only when no copy could be made.
    DeviceSpecificDataContainer_* GetDataForDevice(IDirect3DDevice9* device, void* a, void* b);

    std::unique_ptr<DeviceSpecificDataContainer_> primaryData; // the model builders set it directly
    std::vector<DeviceSpecificDataContainer_*> secondaryData;  // creation order
    DeviceSpecificDataContainer_* lastUsed = nullptr;

private:
    std::vector<std::unique_ptr<DeviceSpecificDataContainer_>>
        secondaryStore_; // what secondaryData points at
};
} // namespace LMK
