#pragma once
// The one walk over the positions of a locked model vertex buffer, shared by the model's and the
// object's bounds.
#include <algorithm>
#include <cstddef>

#include "engine/scene/model.h"

namespace LMK
{
// Calls visit(const float* position) for count 40-byte vertices of a buffer from vertex first. The range
// is clipped to the buffer; a buffer that cannot be described or locked is not visited.
template <class Visit>
void ForEachBufferPosition(IDirect3DVertexBuffer9* buffer, DWORD first, DWORD count, Visit&& visit)
{
    if (!buffer || count == 0) return;
    D3DVERTEXBUFFER_DESC desc{};
    if (FAILED(buffer->GetDesc(&desc))) return;
    const DWORD available = desc.Size / kModelVertexStride;
    if (first >= available) return;
    count = std::min(count, available - first);
    void* data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, D3DLOCK_READONLY)) || !data) return;
    const BYTE* bytes = static_cast<const BYTE*>(data) + size_t(first) * kModelVertexStride;
    for (DWORD i = 0; i < count; ++i)
        visit(reinterpret_cast<const float*>(bytes + size_t(i) * kModelVertexStride));
    buffer->Unlock();
}
} // namespace LMK
