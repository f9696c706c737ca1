// Linear fog of a view, and the fill that clears only where the stencil lets a pass draw: a pass behind
// a mirror, or the final pass after the mirrors, must keep what the other passes put on the screen.
#include <cstring>

#include "engine/render/environment.h"
#include "engine/render/pass_setup.h"

namespace LMK
{
namespace
{
// Final pass: pixels whose stencil value is 0 or 1; otherwise those with 0.
constexpr DWORD kFinalPassStencilAbove = 2;
constexpr DWORD kStencilAbove = 1;

DWORD FloatBits(float value)
{
    DWORD bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}
} // namespace

void FillScreenWhereStencilGreater(IDirect3DDevice9* device, D3DCOLOR color, bool finalPass)
{
    if (!device) return;
    device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_STENCILENABLE, TRUE);
    device->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_GREATER);
    device->SetRenderState(D3DRS_STENCILREF, finalPass ? kFinalPassStencilAbove : kStencilAbove);
    device->SetRenderState(D3DRS_STENCILFAIL, D3DSTENCILOP_KEEP);
    device->SetRenderState(D3DRS_STENCILPASS, D3DSTENCILOP_ZERO);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);

    D3DVIEWPORT9 viewport{};
    device->GetViewport(&viewport);
    struct Vertex
    {
        float x, y, z, rhw;
        D3DCOLOR color;
    };
    static_assert(sizeof(Vertex) == 20);
    const float w = static_cast<float>(viewport.Width), h = static_cast<float>(viewport.Height);
    const Vertex quad[4] = {
        {0, 0, 0, 1, color}, {w, 0, 0, 1, color}, {w, h, 0, 1, color}, {0, h, 0, 1, color}};
    device->SetVertexShader(nullptr);
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(Vertex));

    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
}

void FogStruct_TYP::Begin(IDirect3DDevice9* device, bool stencilled, bool finalPass)
{
    if (!device) return;
    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    if (stencilled)
        FillScreenWhereStencilGreater(device, color, finalPass);
    else
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, color, 1.0f, 0);
    SetStates(device);
}

void FogStruct_TYP::SetStates(IDirect3DDevice9* device) const
{
    device->SetRenderState(D3DRS_FOGCOLOR, color);
    device->SetRenderState(D3DRS_FOGSTART, FloatBits(start));
    device->SetRenderState(D3DRS_FOGEND, FloatBits(end));
}
} // namespace LMK
