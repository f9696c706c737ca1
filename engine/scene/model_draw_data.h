#pragma once
// A model's copy on one device: its mesh parts there and the default effect's vertex declaration. The
// handler calls Apply for every draw of the model's current object on that device.
#include "engine/core/device_data.h"
#include "engine/core/owned_array.h"
#include "engine/scene/model.h"

namespace LMK
{
class ProgressiveMesh_;

class DeviceSpecificModelData_ : public DeviceSpecificDataContainer_
{
public:
    // Takes over both arrays (one entry per model part; progressive may be null) once it is made.
    DeviceSpecificModelData_(IDirect3DDevice9* device, Model_* model, LKXMesh_** parts,
                             ProgressiveMesh_** progressive);
    ~DeviceSpecificModelData_() override;

    // a: the view (RenderViewStruct_TYP*), b: the pass context (PassContextStruct_TYP*).
    void Apply(void* view, void* pass) override;

    LKXMesh_** parts;
    ProgressiveMesh_** progressiveParts;
    Model_* model; // the owner, not counted
    DWORD vertexFormat;
    IDirect3DVertexDeclaration9* vertexDeclaration = nullptr;
    DWORD partCount; // parts at construction: the array's length, whatever the model becomes later

private:
    // What parts and progressiveParts point at, with one reference per entry.
    CountedArray_<ProgressiveMesh_> progressiveOwner_;
    CountedArray_<LKXMesh_> partsOwner_;
};
} // namespace LMK
