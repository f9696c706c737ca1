#pragma once
// The root's calls into the engine's resources (effects, texture effects, materials, textures). Each
// is the one place where the root reaches that resource, so the resource code fills it in.
#include "engine/core/lr_core_api.h"

namespace LMK
{
class Effect_;
class Material_;
class Texture_;

void CreateTextureEffects();
// A sprite texture from the bytes of a "TexFile" resource; null when it cannot be made.
Texture_* CreateSpriteTexture(const void* data, DWORD size);
// Release by the texture release rule (a bump map also lets go of its source).
void ReleaseSpriteTexture(Texture_** texture);
void ReleaseEffect(Effect_** effect);
void ReleaseMaterial(Material_** material);
} // namespace LMK

// Started. The effect from compiled effect bytes, made on the primary device.
HRESULT LRCreateEffect(const void* data, DWORD size, LMK::Effect_** effect);
// Started. A colour material.
HRESULT LRCreateMaterialFromColor(float r, float g, float b, float a, LMK::Material_** material);
