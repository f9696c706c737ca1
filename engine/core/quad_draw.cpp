#include "engine/core/quad_draw.h"

#include <cstring>

namespace LMK
{
bool DrawQuadFan(IDirect3DDevice9* device, DWORD fvf, const void* vertices, UINT stride)
{
    if (!device || !vertices) return false;
    const UINT bytes = 4 * stride;
    IDirect3DVertexBuffer9* buffer = nullptr;
    if (FAILED(device->CreateVertexBuffer(bytes, 0, fvf, D3DPOOL_MANAGED, &buffer, nullptr)) || !buffer)
        return false;
    void* data = nullptr;
    const bool filled = SUCCEEDED(buffer->Lock(0, bytes, &data, 0)) && data;
    if (filled)
    {
        std::memcpy(data, vertices, bytes);
        buffer->Unlock();
        device->SetVertexShader(nullptr);
        device->SetFVF(fvf);
        device->SetStreamSource(0, buffer, 0, stride);
        device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
        device->SetStreamSource(0, nullptr, 0, 0);
    }
    buffer->Release();
    return filled;
}
} // namespace LMK
