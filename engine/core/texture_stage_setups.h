#pragma once
// The catalogue of texture-stage set-ups: for each combination code, which texture goes to which stage,
// how its coordinates are made and how the stages combine. Every recipe is a fixed sequence of device
// calls; which one to write and whether the device takes it is material application's business.
#include "engine/core/material_apply.h"

namespace LMK
{
// Everything a recipe reads.
struct StageSetupInputsStruct_TYP
{
    IDirect3DDevice9* device = nullptr;
    DWORD s = 0;        // first material stage: 1 behind a texture layer
    bool layer = false; // the layer's alpha waits in the temporary register
    DWORD mode = 0;     // display mode
    IDirect3DBaseTexture9* base = nullptr;
    IDirect3DBaseTexture9* reflection = nullptr;
    IDirect3DBaseTexture9* bump = nullptr; // in the flag-0x20000 set-ups: the bump map's source image
    IDirect3DBaseTexture9* lightMap = nullptr;
    DWORD baseCoordSource = 0;
    DWORD baseColorOp = D3DTOP_MODULATE;
    DWORD flags = 0; // the material's
    float reflectionWeight = 1.0f;
    float bumpHeight = 1.0f;
    D3DCOLOR surfaceColor = 0xFFFFFFFF;
    bool objectTint = false;
    const TextureTransformStruct_TYP* baseRecord = nullptr;
    const TextureTransformStruct_TYP* bumpRecord = nullptr;
    const TextureTransformStruct_TYP* reflectionRecord = nullptr;
    const D3DXMATRIX* inverseWorld = nullptr;
    DWORD startTime = 0;
    BYTE* keepsAnimating = nullptr;
};

// Called right after a recipe's weight stage is written, before the stages after it; answers whether
// the device takes the blend. factor is the texture factor the stage blends by.
class WeightStageTest_
{
public:
    virtual bool TestWeightStage(DWORD factor) = 0;

protected:
    ~WeightStageTest_() = default;
};

// The recipe's texture factors.
DWORD FactorGrey(float w);       // the weight in every byte
DWORD FactorAlpha(float w);      // the weight in the alpha byte, colour black
DWORD FactorWhiteAlpha(float h); // the height in the alpha byte over white

// True for the codes (without the layer bit) that have a recipe.
bool HasStageSetup(DWORD code);
// Writes the recipe of code (without the layer bit) and its terminating DISABLE stage. Returns the
// highest stage index it uses, -1 for none.
int WriteStageSetup(DWORD code, const StageSetupInputsStruct_TYP& in, WeightStageTest_* weightTest);
} // namespace LMK
