#pragma once
// The set-up of one back-buffer part's device before a render pass draws into it, right after
// BeginScene: the device lights, the fixed sampler, stage and render states, the clears and background by
// display mode, and the user clip planes.
#include "engine/render/render_records.h"
#include "platform/d3dx9/d3dx9.h"
#include "platform/win32/windef.h"

namespace LMK
{
class Object_;
class Light_;
class View_;
class Environment_;
class BackBufferPart_;

// Device lights that the previous pass set up; the next pass disables those it does not use.
extern DWORD EnabledLightCount;

// The fog block a render-view record may point to.
struct FogStruct_TYP
{
    float start;
    float end;
    D3DCOLOR color;
    BYTE clearsBackground; // clear to the fog colour instead of drawing the environment
    BYTE on;

    // Fog on, the target cleared to the fog colour (only where the stencil leaves it to this pass when
    // stencilled), then the fog states (fog.cpp).
    void Begin(IDirect3DDevice9* device, bool stencilled, bool finalPass);
    // Fog colour, start and end.
    void SetStates(IDirect3DDevice9* device) const;
};

// Backgrounds and fog have their own machinery, which installs itself here; until it does, an
// environment, its second model and fog begin draw nothing, and the default background is drawn as its
// clearing alone.
struct BackgroundHooksStruct_TYP
{
    void (*drawEnvironment)(Environment_* environment, View_* camera, BackBufferPart_* part,
                            RenderViewStruct_TYP* view, PassContextStruct_TYP* pass);
    void (*drawSecondModel)(Environment_* environment, RenderViewStruct_TYP* view, BackBufferPart_* part,
                            PassContextStruct_TYP* pass);
    void (*drawDefaultEnvironment)(View_* camera, BackBufferPart_* part, RenderViewStruct_TYP* view,
                                   PassContextStruct_TYP* pass);
    void (*beginFog)(FogStruct_TYP* fog, IDirect3DDevice9* device, bool stencilled, bool finalPass);
};
extern BackgroundHooksStruct_TYP BackgroundHooks;

// The colour of the background when a view names none: (58, 110, 165).
constexpr D3DCOLOR kDefaultBackgroundColor = 0xFF3A6EA5;

struct PassSetupStruct_TYP
{
    IDirect3DDevice9* device;
    BackBufferPart_* part;
    RenderViewStruct_TYP* view;
    DWORD mode;       // after the edge-mode masking, without the final-pass bit
    DWORD lightCount; // none in light-map baking
    Light_** lights;
    DWORD objectCount;
    Object_** objects;
    const D3DXMATRIX* mirror;     // R in a mirror pass, else null
    const D3DXPLANE* mirrorPlane; // the plane of a mirror pass, else null
    PassContextStruct_TYP* pass;
    bool portalVisibility; // objects then enable their own light groups
};

// Sets the pass's device lights; returns how many it used (also stored in the view's lights-used field
// and in EnabledLightCount).
DWORD SetUpPassLights(const PassSetupStruct_TYP& setup);
// The fixed sampler, texture-stage and render states of every part.
void SetPassStates(const PassSetupStruct_TYP& setup);
// Clears the target and draws the background as the display mode asks.
void ClearAndDrawBackground(const PassSetupStruct_TYP& setup);
// The section plane, the mirror plane turned away and the extra planes as user clip planes, as far as
// the device has planes for them; returns the pass's clip mask.
DWORD SetPassClipPlanes(const PassSetupStruct_TYP& setup);

// The depth function of a display mode: light-map baking keeps the farthest surface.
constexpr DWORD PassDepthFunction(DWORD mode)
{
    return mode == DisplayModeLightMapBaking ? D3DCMP_GREATER : D3DCMP_LESSEQUAL;
}
} // namespace LMK
